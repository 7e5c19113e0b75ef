#pragma once

#include <QList>
#include <QString>

namespace tulmo {

struct Dc09Message;

// One event of a DC-09 report in the fields of a Contact ID report, as a format "5" receiver
// frame carries them.
struct Dc09Event {
    QString codigo;   // qualifier digit and three digits ("1130"); SIA letters when unmapped
    QString particao; // two digits
    QString zona;     // three digits: zone or user
};

// What the data block of a report says: the account it names ("#1234|…"), empty when it
// names none, and its events.
struct Dc09Report {
    QString account;
    QList<Dc09Event> events;
};

// The events a DC-09 report carries: an ADM-CID report is one Contact ID event; a SIA-DCS
// report gives one event per SIA code, through the usual correspondence of SIA codes to
// Contact ID codes. A SIA code without one keeps its two letters as the event code, so the
// station can give it a description and a type in the event-code catalogue; until then it is
// recorded as an unknown code and waits among the pending events.
namespace Dc09Events {

// No events when the data cannot be read or holds none. The data may begin with the account,
// "#acct|", "#acct" or "|", or go straight to the events.
Dc09Report read(const Dc09Message &m);
Dc09Report readContactId(const QString &data);
Dc09Report readSia(const QString &data);
QList<Dc09Event> fromMessage(const Dc09Message &m);
QList<Dc09Event> fromContactId(const QString &data);
QList<Dc09Event> fromSia(const QString &data);
// The Contact ID code (qualifier and three digits) of a SIA code, empty when it has none.
QString contactIdFor(const QString &siaCode);

} // namespace Dc09Events

} // namespace tulmo
