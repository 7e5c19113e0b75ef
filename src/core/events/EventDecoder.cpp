#include "EventDecoder.h"

#include "common/Clock.h"
#include "common/DateFormats.h"
#include "events/EventLine.h"
#include "settings/LiveSettings.h"

namespace tulmo {

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
    }
    // A frame that carries no readable clock (the short layouts carry none) takes the
    // computer's: the event is still the receiver's, and a line without a time is never stored.
    if (!eventline::parseDateTime(dt + QLatin1Char(' ') + tm).isValid()) {
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
