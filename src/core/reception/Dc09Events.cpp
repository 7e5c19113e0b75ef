#include "Dc09Events.h"

#include "reception/Dc09Message.h"

#include <QHash>
#include <QRegularExpression>

namespace tulmo::Dc09Events {

namespace {

// The account a data block may begin with ("#1234|") is the header's; what follows counts.
QString withoutAccount(const QString &data) {
    if (!data.startsWith(QLatin1Char('#'))) return data;
    const qsizetype bar = data.indexOf(QLatin1Char('|'));
    return bar < 0 ? QString() : data.mid(bar + 1);
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

QList<Dc09Event> fromContactId(const QString &data) {
    // QXYZ GG CCC: qualifier, event code, partition, zone or user; blanks optional.
    static const QRegularExpression kCid(QStringLiteral(
        "^([0-9A-Fa-f])([0-9A-Fa-f]{3}) ?([0-9A-Fa-f]{2}) ?([0-9A-Fa-f]{3})$"));
    const QRegularExpressionMatch match = kCid.match(withoutAccount(data).trimmed());
    if (!match.hasMatch()) return {};
    return {{(match.captured(1) + match.captured(2)).toUpper(), match.captured(3).toUpper(),
             match.captured(4).toUpper()}};
}

QList<Dc09Event> fromSia(const QString &data) {
    QString s = withoutAccount(data);
    // "N" marks new events, "O" old ones; both are events.
    if (s.startsWith(QLatin1Char('N')) || s.startsWith(QLatin1Char('O'))) s.remove(0, 1);
    QList<Dc09Event> events;
    QString particao = QStringLiteral("00");
    QString usuario;
    for (const QString &element : s.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        // Text after "^" describes the element for a printer; it carries no code.
        const QString e = element.section(QLatin1Char('^'), 0, 0);
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

QList<Dc09Event> fromMessage(const Dc09Message &m) {
    if (m.token == QLatin1String("ADM-CID")) return fromContactId(m.data);
    if (m.token == QLatin1String("SIA-DCS")) return fromSia(m.data);
    return {};
}

} // namespace tulmo::Dc09Events
