#include "EventLine.h"

#include "common/Clock.h"
#include "settings/LiveSettings.h"
#include "common/DateFormats.h"

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

QString shortDate(const QDate &d) {
    return d.toString(DateFormats::kDate);
}
QString shortTime(const QTime &t) {
    return t.toString(DateFormats::kTime);
}

} // namespace eventline

namespace {
// 1-based positions, as the receiver manuals count them.
inline QString at(const QString &s, int pos, int len = 1) {
    return s.mid(pos - 1, len);
}
inline QChar ch(const QString &s, int pos) {
    return pos <= s.size() ? s.at(pos - 1) : QChar();
}
} // namespace

QString EventDecoder::Decodifica_Eventos(const QString &m) const {
    if (m.size() < 10) return QString();
    const bool noEvent = ch(m, 16) == QLatin1Char('@');
    const QChar first = m.at(0);

    QString dt, tm;
    if (m_settings.eventTimeSource() == LiveSettings::EventTimeSource::FromReceiver) {
        dt = at(m, 30, 8);
        tm = at(m, 21, 8);
    } else {
        const QDateTime now = m_clock.now();
        const QString d = eventline::shortDate(now.date());
        dt = d.size() > 8 ? d.left(6) + d.mid(8, 2) : d;
        tm = eventline::shortTime(now.time());
    }
    const QString rc = at(m, 2, 2);
    const QString ln = at(m, 4);

    if (first == QLatin1Char('1') && !noEvent) {
        const QString conta = at(m, 11, 4);
        QString codigo = ch(m, 16) == QLatin1Char(' ') ? QString() : at(m, 16);
        codigo += ch(m, 18) != QLatin1Char(' ') ? at(m, 18, 3) : at(m, 19, 2);
        const QString particao = ch(m, 17) == QLatin1Char(' ') ? QStringLiteral("0") : at(m, 17);
        const QString zona = conta == QLatin1String("0000") ? ln : QStringLiteral("0");
        return eventline::build(rc, ln, conta, particao, codigo, zona, dt, tm);
    }
    if (first == QLatin1Char('5') && !noEvent) {
        const QString conta = at(m, 8, 4);
        QString q = at(m, 12);
        if (q == QLatin1String("E") || q == QLatin1String("O"))
            q = QStringLiteral("1");
        else if (q == QLatin1String("R") || q == QLatin1String("C"))
            q = QStringLiteral("3");
        const QString codigo = q + at(m, 13, 3);
        const QString zona = at(m, 18, 3);
        const QChar flag = ch(m, 23);
        const QString id = (flag.isNull() || flag < QLatin1Char('1'))
                               ? QStringLiteral("Não Identificado")
                               : at(m, 24, 10);
        const QString particao = at(m, 16, 2);
        return eventline::build(rc, ln, conta, particao, codigo, zona, dt, tm, id);
    }
    return QString();
}

} // namespace tulmo
