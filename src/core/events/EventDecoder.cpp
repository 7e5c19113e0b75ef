#include "EventDecoder.h"

#include "core/common/Fields.h"
#include "core/common/Clock.h"
#include "core/common/DateFormats.h"
#include "core/events/EventLine.h"
#include "core/settings/LiveSettings.h"

namespace tulmo {

QString EventDecoder::Decodifica_Eventos(const QString &m) const {
    if (m.size() < 10) return QString();
    const bool noEvent = field::charAt(m, 16) == QLatin1Char('@');
    const QChar first = m.at(0);

    QString dt, tm;
    if (m_settings.eventTimeSource() == LiveSettings::EventTimeSource::FromReceiver) {
        dt = field::take(m, 30, 8);
        tm = field::take(m, 21, 8);
    }
    // A frame that carries no readable clock (the short layouts carry none) takes the
    // computer's: the event is still the receiver's, and a line without a time is never stored.
    if (!eventline::parseDateTime(dt + QLatin1Char(' ') + tm).isValid()) {
        const QDateTime now = m_clock.now();
        const QString d = eventline::shortDate(now.date());
        dt = d.size() > 8 ? d.left(6) + d.mid(8, 2) : d;
        tm = eventline::shortTime(now.time());
    }
    const QString rc = field::take(m, 2, 2);
    const QString ln = field::take(m, 4);

    if (first == QLatin1Char('1') && !noEvent) {
        const QString conta = field::take(m, 11, 4);
        QString codigo = field::charAt(m, 16) == QLatin1Char(' ') ? QString() : field::take(m, 16);
        codigo += field::charAt(m, 18) != QLatin1Char(' ') ? field::take(m, 18, 3) : field::take(m, 19, 2);
        const QString particao = field::charAt(m, 17) == QLatin1Char(' ') ? QStringLiteral("0") : field::take(m, 17);
        const QString zona = conta == QLatin1String("0000") ? ln : QStringLiteral("0");
        return eventline::build(rc, ln, conta, particao, codigo, zona, dt, tm);
    }
    if (first == QLatin1Char('5') && !noEvent) {
        const QString conta = field::take(m, 8, 4);
        QString q = field::take(m, 12);
        if (q == QLatin1String("E") || q == QLatin1String("O"))
            q = QStringLiteral("1");
        else if (q == QLatin1String("R") || q == QLatin1String("C"))
            q = QStringLiteral("3");
        const QString codigo = q + field::take(m, 13, 3);
        const QString zona = field::take(m, 18, 3);
        const QChar flag = field::charAt(m, 23);
        const QString id = (flag.isNull() || flag < QLatin1Char('1'))
                               ? QStringLiteral("Não Identificado")
                               : field::take(m, 24, 10);
        const QString particao = field::take(m, 16, 2);
        return eventline::build(rc, ln, conta, particao, codigo, zona, dt, tm, id);
    }
    return QString();
}

} // namespace tulmo
