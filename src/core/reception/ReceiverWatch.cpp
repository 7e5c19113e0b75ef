#include "ReceiverWatch.h"

#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"

#include <QSerialPort>

namespace tulmo {

ReceiverWatch::ReceiverWatch(DM1 &dm, const ConnectionRegistry &connections)
    : m_dm(dm)
    , m_connections(connections) {}

void ReceiverWatch::reset() {
    m_state = {};
}

bool ReceiverWatch::lost(int slot) const {
    return slot >= 1 && slot <= DM1::kSlots && m_state[size_t(slot)].lost;
}

QList<ReceiverWatch::Change> ReceiverWatch::check(const QDateTime &now) {
    QList<Change> changes;
    std::array<int, DM1::kSlots + 1> devices{};
    for (const ConnectionRegistry::Row &r : m_connections.rows())
        if ((r.connected() || r.datagram) && r.server >= 1 && r.server <= DM1::kSlots)
            ++devices[size_t(r.server)];
    const QList<ReceiverConfig> &rows = m_dm.appliedRows();
    for (int k = 1; k <= DM1::kSlots; ++k) {
        State &s = m_state[size_t(k)];
        const bool active = k <= rows.size() && rows[k - 1].ativo;
        const int modo = active ? rows[k - 1].modo : -1;
        if (!active || modo != s.modo) {
            // A receiver switched off, or changed kind, starts its watch again; one that was
            // lost and is switched off is no longer anybody's alarm.
            s = State{};
            s.modo = modo;
            if (!active) continue;
        }
        if (!s.watched) {
            s.watched = true;
            s.heard = now;
        }
        bool speaks;
        if (modo == DM1::Serial) {
            const QSerialPort *port = m_dm.comPort(k);
            const QDateTime last = m_dm.slot(k).lastHeard;
            if (last.isValid() && last > s.heard) s.heard = last;
            speaks = port && port->isOpen() && port->error() == QSerialPort::NoError &&
                     s.heard.secsTo(now) <= kSilentSeconds;
        } else {
            if (devices[size_t(k)] > 0) {
                s.hadDevices = true;
                s.heard = now;
            }
            // Without a device yet, nothing is missing: a new receiver is no alarm.
            speaks = !s.hadDevices || s.heard.secsTo(now) <= kSilentSeconds;
        }
        if (speaks == !s.lost) continue;
        s.lost = !speaks;
        changes.append({k, s.lost,
                        s.lost ? QStringLiteral("Receptora %1 sem comunicação").arg(k)
                               : QStringLiteral("Receptora %1 comunicação restabelecida").arg(k)});
    }
    return changes;
}

} // namespace tulmo
