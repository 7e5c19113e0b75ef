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

// The Brazilian short formats the console writes whatever the system locale.
QString shortDate(const QDate &d); // dd/MM/yyyy
QString shortTime(const QTime &t); // HH:mm:ss

} // namespace eventline


} // namespace tulmo
