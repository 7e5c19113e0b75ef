#include "EventLine.h"

#include "core/common/DateFormats.h"

#include <QRegularExpression>

namespace tulmo {

namespace eventline {

QString build(const QString &rc, const QString &ln, const QString &ct, const QString &pt,
              const QString &ce, const QString &su, const QString &dt, const QString &tm,
              const std::optional<QString> &id) {
    QString l = QStringLiteral("Rc") + rc + QStringLiteral(" Ln") + ln + QStringLiteral(" Ct") +
                ct + QStringLiteral(" Pt") + pt + QStringLiteral(" Ce") + ce +
                QStringLiteral(" Su") + su + QStringLiteral(" Dt") + dt + QStringLiteral(" Tm") +
                tm;
    if (id) l += QStringLiteral(" Id") + *id;
    return l;
}

namespace {
// The text of rest up to the blank before marker, and rest moved past the marker.
bool field(QString &rest, QLatin1StringView marker, QString *value) {
    const qsizetype at = rest.indexOf(QLatin1Char(' ') + QString(marker));
    if (at < 0) return false;
    *value = rest.left(at);
    rest = rest.mid(at + 1 + marker.size());
    return true;
}
} // namespace

std::optional<DecodedEvent> parse(const QString &line) {
    const qsizetype ct = line.indexOf(QLatin1String("Ct"));
    if (ct < 0) return std::nullopt;
    QString rest = line.mid(ct + 2);
    DecodedEvent e;
    QString data;
    if (!field(rest, QLatin1StringView("Pt"), &e.conta)) return std::nullopt;
    if (e.conta.size() < 6) e.conta.prepend(QLatin1String("00"));
    if (!field(rest, QLatin1StringView("Ce"), &e.particao)) return std::nullopt;
    if (!field(rest, QLatin1StringView("Su"), &e.codigo)) return std::nullopt;
    if (!field(rest, QLatin1StringView("Dt"), &e.zonaUsuario)) return std::nullopt;
    if (!field(rest, QLatin1StringView("Tm"), &data)) return std::nullopt;
    QString hora = rest.left(8);
    if (rest.size() > 8) {
        const qsizetype id = rest.indexOf(QLatin1String(" Id"));
        if (id >= 0) {
            hora = rest.left(id);
            e.idecall = rest.mid(id + 3);
        }
    }
    e.dataHora = data + QLatin1Char(' ') + hora;
    return e;
}

QDateTime parseDateTime(const QString &text) {
    static const QRegularExpression re(QStringLiteral(
        R"(^\s*(\d{1,2})/(\d{1,2})/(\d{2}|\d{4})\s+(\d{1,2}):(\d{2})(?::(\d{2}))?\s*$)"));
    const auto m = re.match(text);
    if (!m.hasMatch()) return QDateTime();
    int year = m.captured(3).toInt();
    if (m.captured(3).size() == 2) year += 2000;
    const QDate d(year, m.captured(2).toInt(), m.captured(1).toInt());
    const QTime t(m.captured(4).toInt(), m.captured(5).toInt(),
                  m.captured(6).isEmpty() ? 0 : m.captured(6).toInt());
    if (!d.isValid() || !t.isValid()) return QDateTime();
    return QDateTime(d, t);
}

bool contactIdNumber(const QString &text, int *out) {
    QString t = text.trimmed().toUpper();
    if (t.isEmpty() || t.size() > 4) return false;
    bool hex = false;
    for (QChar &c : t) {
        if (c == QLatin1Char('A')) c = QLatin1Char('0');
        else if (c >= QLatin1Char('B') && c <= QLatin1Char('F')) hex = true;
        else if (!c.isDigit() || c.unicode() > '9') return false;
    }
    bool ok = false;
    const int v = t.toInt(&ok, hex ? 16 : 10);
    if (!ok || v > 32767) return false;
    *out = v;
    return true;
}

QString unstorableReason(const QString &line) {
    if (line.size() <= 10) return QStringLiteral("linha curta demais para ser um evento");
    const auto ev = parse(line);
    if (!ev) return QStringLiteral("linha de evento ilegível");
    if (ev->conta.size() > 6)
        return QStringLiteral("conta com mais de 6 caracteres: \"%1\"").arg(ev->conta);
    int particao = 0;
    if (!contactIdNumber(ev->particao, &particao))
        return QStringLiteral("partição inválida: \"%1\"").arg(ev->particao);
    if (!parseDateTime(ev->dataHora).isValid())
        return QStringLiteral("data e hora inválidas: \"%1\"").arg(ev->dataHora);
    return QString();
}

QString shortDate(const QDate &d) {
    return d.toString(DateFormats::kDate);
}
QString shortTime(const QTime &t) {
    return t.toString(DateFormats::kTime);
}

} // namespace eventline

} // namespace tulmo
