#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

namespace tulmo {

// One message of the SIA DC-09 IP reporting protocol, as alarm panels and communicators send
// it over UDP or TCP:
//
//   <LF> crc(4 hex) 0LLL(length, 3 hex) "ID" seq(4) [Rrcvr] [Lpref] [#acct] [data][x-data]… [_HH:MM:SS,MM-DD-YYYY] <CR>
//
// The CRC (CRC-16/ARC) and the length cover the body, from the first quote to the character
// before <CR>. Panels also send the CRC as two bytes instead of four hex digits, or count the
// <CR> in the length and the CRC; both are read, and answered in the message's own form.
// Receiver and line tokens have any number of hex digits, none included; the account may be
// in the header, only in the data block, or in both; hex digits may be lower case. An
// encrypted message ("*ADM-CID", "*SIA-DCS", "*NULL") carries, after its "[", the
// hexadecimal text of an AES-CBC block (zero IV, the account's key) holding random pad
// characters, "|", the data, "]", any extended data and the timestamp.
struct Dc09Message {
    enum class CrcForm { Hex, Binary, HexCountingCr };

    QString token;       // without the "*" of encryption: "ADM-CID", "SIA-DCS", "NULL", …
    bool encrypted = false;
    CrcForm crcForm = CrcForm::Hex;
    QString sequence;    // four digits, echoed in the response
    QString receiver;    // R field without its letter, as received; null when absent
    QString linePrefix;  // L field without its letter, as received; null when absent
    QString account;     // # field without its mark, as received; null when absent
    QString data;        // the first bracketed block
    QStringList extended; // further bracketed blocks
    QDateTime timestamp;  // UTC; invalid when the message carries none
};

class Dc09Codec {
public:
    // The largest body the length field can state (0 and three hexadecimal digits).
    static constexpr int kMaxBody = 0xFFF;
    // <LF>, CRC, length, <CR>.
    static constexpr int kFrameOverhead = 10;
    // A message timestamp is accepted from 40 s behind to 20 s ahead of the station's clock.
    static constexpr int kWindowAheadSecs = 20;
    static constexpr int kWindowBehindSecs = 40;

    enum class Status {
        Ok,
        NotDc09,       // does not begin with <LF> or end with <CR>, or is too short
        BadLength,     // length field unreadable, over kMaxBody, or not the body's length
        BadCrc,        // CRC field unreadable or wrong
        Response,      // a receiver's answer ("ACK", "NAK", "DUH"): never answered
        BadHeader,     // token, sequence or tokens after it unreadable ("DUH")
        Unsupported,   // a token this console does not take ("DUH")
        BadData,       // the blocks after the account cannot be read ("DUH")
        BadTimestamp,  // a timestamp that is no date and time ("NAK")
        NoKey,         // encrypted, and no key for the account ("NAK")
        Undecryptable, // encrypted, and the key does not read it ("NAK")
        NoTimestamp,   // encrypted without the timestamp it must carry ("NAK")
    };

    // The account's AES key (16, 24 or 32 bytes), empty when it has none.
    using KeyLookup = std::function<QByteArray(const QString &account)>;

    static quint16 crc16(const QByteArray &bytes);

    // Reads a whole message (from <LF> to <CR>). The header fields are filled as far as they
    // could be read, whatever the status, so a response can still name them.
    static Status decode(const QByteArray &frame, const KeyLookup &keys, Dc09Message *out);

    // Wraps a body into a message: <LF>, CRC, length, body, <CR>; the CRC and length in the
    // form given.
    static QByteArray frame(const QByteArray &body,
                            Dc09Message::CrcForm form = Dc09Message::CrcForm::Hex);
    // "HH:MM:SS,MM-DD-YYYY" in UTC.
    static QString timestampText(const QDateTime &t);
    static QDateTime parseTimestamp(const QString &text);
    // Whether a message stamped at t may be taken at now.
    static bool withinWindow(const QDateTime &t, const QDateTime &now);

    // "ACK" with the message's sequence, receiver, line and account; encrypted ("*ACK", the
    // station's timestamp inside) when the message was.
    static QByteArray ack(const Dc09Message &m, const QByteArray &key, const QDateTime &now);
    // "NAK" with the station's timestamp, so the panel can set its clock; in the CRC form of
    // the message answered.
    static QByteArray nak(const QDateTime &now,
                          Dc09Message::CrcForm form = Dc09Message::CrcForm::Hex);
    // "DUH": the message was read but not understood.
    static QByteArray duh(const Dc09Message &m);
    // A message as panels send it; tests and the benchmark build theirs with it.
    static QByteArray build(const Dc09Message &m, const QByteArray &key = QByteArray());

    // AES-CBC with a zero IV and no padding of its own; the text must fill whole blocks.
    static QByteArray aesCbc(const QByteArray &text, const QByteArray &key, bool encrypt);
    // A key typed as hexadecimal digits (32, 48 or 64 of them), empty when it is not one.
    static QByteArray keyFromHex(const QString &hex);

    static QString statusText(Status s);
};

} // namespace tulmo
