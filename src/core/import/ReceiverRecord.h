#pragma once

#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QString>

#include <optional>

namespace tulmo {

// One 32-byte record of a receiver's event memory file (".ORB", ".TVL"). Each byte is read as
// two upper-case hexadecimal digits, so a record is 64 digits; digit d (1-based) is the high
// nibble of byte (d + 1) / 2 when d is odd and its low nibble when d is even. The receiver
// writes the DTMF digit 0 as "A"; the fields read as digits are "mapped": "A" becomes "0".
class ReceiverRecord {
public:
    static constexpr int kSize = 32;
    static constexpr int kDigits = 64;
    static constexpr int kBlockSize = 4096; // the file is read 128 records at a time

    // What an event record turns into.
    struct Event {
        QString frame;   // the 34-character receiver frame (format "5"), without the 0x14
        QString ideCall; // "Não Identificado" or "(" + area code + ")" + number
        QDateTime when;  // the record's own date and time
    };

    // The bytes as upper-case hexadecimal digits.
    static QString digits(QByteArrayView bytes);
    // Digits first to last (1-based, inclusive) with "A" read as "0".
    static QString mapped(const QString &digits, int first, int last);
    // Record type "4": an event. Every other type (and a record too short to tell) is skipped.
    static bool isEvent(const QString &digits);
    // Day 0 is 1 January 2000; every fourth year from 2000 has 366 days.
    static QDate dateOfDay(int day);
    // The frame, the caller text and the time of an event record; nullopt with the reason in
    // problem when a field the console stores as a number holds something else, or the date
    // or time cannot be a moment (an hour byte of 24 or more, a year past 2099, which an event
    // line's two-digit year cannot carry).
    static std::optional<Event> decode(const QString &digits, QString *problem);

    ReceiverRecord() = delete;
};

} // namespace tulmo
