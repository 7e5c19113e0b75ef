#include "Dc09Events.h"

#include "core/reception/Dc09Message.h"

#include <QHash>
#include <QRegularExpression>

namespace tulmo::Dc09Events {

namespace {

bool isHexDigit(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}

// Text between "^" describes an element for a printer and carries no code; it may hold any
// character, "/" included.
QString withoutText(const QString &data) {
    QString out;
    bool text = false;
    for (QChar c : data) {
        if (c == QLatin1Char('^')) text = !text;
        else if (!text) out += c;
    }
    return out;
}

QString digits(qint64 n, int width) {
    return QString::number(n).rightJustified(width, QLatin1Char('0'));
}

bool isLower(QChar c) { return c >= QLatin1Char('a') && c <= QLatin1Char('z'); }
bool isUpper(QChar c) { return c >= QLatin1Char('A') && c <= QLatin1Char('Z'); }
bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// The number of the digits at pos (the last six count, so none overflows), advancing pos;
// -1 when none.
qint64 number(const QString &s, qsizetype &pos) {
    const qsizetype from = pos;
    while (pos < s.size() && isDigit(s.at(pos)))
        ++pos;
    return pos == from ? -1 : s.mid(from, pos - from).right(6).toLongLong();
}

} // namespace

QString contactIdFor(const QString &sia) {
    // Qualifier 1 for a new event or an opening, 3 for a restore or a closing.
    static const QHash<QString, QString> kTable = {
        {"BA", "1130"}, {"BR", "3130"}, {"BB", "1570"}, {"BU", "3570"}, {"BT", "1380"},
        {"BJ", "3380"}, {"FA", "1110"}, {"FR", "3110"}, {"FT", "1373"}, {"FJ", "3373"},
        {"FB", "1571"}, {"FU", "3571"}, {"PA", "1120"}, {"PR", "3120"}, {"HA", "1122"},
        {"HR", "3122"}, {"MA", "1100"}, {"MR", "3100"}, {"QA", "1101"}, {"QR", "3101"},
        {"GA", "1151"}, {"GR", "3151"}, {"WA", "1154"}, {"WR", "3154"}, {"KA", "1158"},
        {"KR", "3158"}, {"TA", "1137"}, {"TR", "3137"}, {"OP", "1401"}, {"CL", "3401"},
        {"OA", "1403"}, {"CA", "3403"}, {"OR", "1406"}, {"CI", "1454"}, {"OT", "1452"},
        {"RP", "1602"}, {"RX", "1601"}, {"AT", "1301"}, {"AR", "3301"}, {"YT", "1302"},
        {"YR", "3302"}, {"YM", "1311"}, {"LT", "1351"},
        {"LR", "3351"}, {"YC", "1354"}, {"YK", "3354"}, {"JA", "1461"}, {"XT", "1384"},
        {"XR", "3384"}, {"DF", "1423"}, {"RR", "1305"},
    };
    return kTable.value(sia);
}

Dc09Report readContactId(const QString &data) {
    // [#acct[|]] QXYZ GG CCC: qualifier, event code, partition, zone or user; blanks
    // optional. The event's fixed width tells where an account without its "|" ends.
    static const QRegularExpression kCid(QStringLiteral(
        "^(?:#([0-9A-Fa-f]{1,16}?)[| ]?|\\|)? *([0-9A-Fa-f])([0-9A-Fa-f]{3}) ?([0-9A-Fa-f]{2}) "
        "?([0-9A-Fa-f]{3}) *$"));
    const QRegularExpressionMatch match = kCid.match(data);
    if (!match.hasMatch()) return {};
    return {match.captured(1),
            {{(match.captured(2) + match.captured(3)).toUpper(), match.captured(4).toUpper(),
              match.captured(5).toUpper()}}};
}

namespace {

// SIA data after its account: "N" or "O", then elements separated by "/", each of modifiers
// (two lower-case letters and a value: "ri" area, "id" user, …) and event codes (two
// upper-case letters and an optional address), several codes to an element or one each.
QList<Dc09Event> siaEvents(QString s) {
    // "N" marks new events, "O" old ones; both are events.
    if (s.startsWith(QLatin1Char('N')) || s.startsWith(QLatin1Char('O'))) s.remove(0, 1);
    QList<Dc09Event> events;
    QString particao = QStringLiteral("00");
    QString usuario;
    for (const QString &e : s.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        qsizetype pos = 0;
        while (pos + 1 < e.size()) {
            const QString two = e.mid(pos, 2);
            pos += 2;
            if (isLower(two.at(0)) && isLower(two.at(1))) {
                // Modifiers: "ri" area, "id" user; the others (time, date, …) are skipped.
                const qsizetype from = pos;
                while (pos < e.size() && !isUpper(e.at(pos)) && !isLower(e.at(pos)))
                    ++pos;
                qsizetype p = from;
                const qint64 n = number(e, p);
                if (two == QLatin1String("ri") && n >= 0) particao = digits(n % 100, 2);
                if (two == QLatin1String("id") && n >= 0) usuario = digits(n % 1000, 3);
            } else if (isUpper(two.at(0)) && isUpper(two.at(1))) {
                const qint64 n = number(e, pos);
                const QString zona =
                    n >= 0 ? digits(n % 1000, 3) : (usuario.isEmpty() ? QStringLiteral("000") : usuario);
                const QString cid = contactIdFor(two);
                events.append({cid.isEmpty() ? two : cid, particao, zona});
            } else {
                return {}; // not SIA data
            }
        }
        if (pos < e.size()) return {};
    }
    return events;
}

} // namespace

Dc09Report readSia(const QString &data) {
    const QString s = withoutText(data).trimmed();
    if (s.startsWith(QLatin1Char('|'))) return {QString(), siaEvents(s.mid(1))};
    if (!s.startsWith(QLatin1Char('#'))) return {QString(), siaEvents(s)};
    qsizetype run = 1;
    while (run < s.size() && run <= 16 && isHexDigit(s.at(run)))
        ++run;
    // An account is hex digits; anything else before the "|" is no SIA data.
    if (run < s.size() && s.at(run) == QLatin1Char('|'))
        return run > 1 ? Dc09Report{s.mid(1, run - 1), siaEvents(s.mid(run + 1))} : Dc09Report{};
    if (s.indexOf(QLatin1Char('|')) >= 0) return {};
    // No "|": the account's hex digits run into the events, whose codes may begin with hex
    // letters ("#1234BA01"); the longest account that leaves readable events is the one.
    for (qsizetype end = run; end > 1; --end) {
        const QList<Dc09Event> events = siaEvents(s.mid(end));
        if (!events.isEmpty()) return {s.mid(1, end - 1), events};
    }
    return {};
}

Dc09Report read(const Dc09Message &m) {
    if (m.token == QLatin1String("ADM-CID")) return readContactId(m.data);
    if (m.token == QLatin1String("SIA-DCS")) return readSia(m.data);
    return {};
}

QList<Dc09Event> fromContactId(const QString &data) { return readContactId(data).events; }
QList<Dc09Event> fromSia(const QString &data) { return readSia(data).events; }
QList<Dc09Event> fromMessage(const Dc09Message &m) { return read(m).events; }

} // namespace tulmo::Dc09Events
