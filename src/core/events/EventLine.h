#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace tulmo {

// The fields of an event line after parsing; the account widened to six characters.
struct DecodedEvent {
    QString conta;
    QString particao;
    QString codigo;
    QString zonaUsuario;
    QString dataHora; // "Dt" value, one blank, "Tm" value
    QString idecall;  // empty when the line has no " Id" field
};

namespace eventline {

// Builds the event line of the receiver and caller-identification paths.
QString build(const QString &rc, const QString &ln, const QString &ct, const QString &pt,
              const QString &ce, const QString &su, const QString &dt, const QString &tm,
              const std::optional<QString> &id = std::nullopt);

// Parses an event line; nullopt when a marker is missing.
std::optional<DecodedEvent> parse(const QString &line);

// "dd/MM/yy HH:mm:ss" (two-digit years are 20yy) or "dd/MM/yyyy HH:mm:ss"; one-digit day,
// month and hour are accepted, seconds may be left out. Invalid when it cannot be read.
QDateTime parseDateTime(const QString &text);

// A Contact ID number (partition, zone, user). Its digits may be hex: "A" is what the
// telephone line sends for 0, and "B" to "F" are digits of their own. A text of decimal digits
// reads as decimal; one holding "B" to "F" reads as hex, its "A"s as 0. False when it is empty,
// holds anything else, or does not fit a SMALLINT.
bool contactIdNumber(const QString &text, int *out);

// Why the line's own data can never become a row of EVENTOS, or an empty text when it can.
// Reception asks this before it acknowledges, so that what a sender is told was received is
// what the recorder stores; the recorder turns such a line away with the same reason.
QString unstorableReason(const QString &line);

// The Brazilian short formats the console writes whatever the system locale.
QString shortDate(const QDate &d); // dd/MM/yyyy
QString shortTime(const QTime &t); // HH:mm:ss

} // namespace eventline


} // namespace tulmo
