#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <array>

namespace tulmo {

class ConnectionRegistry;
class DM1;

// Watches the receivers themselves. A serial receiver speaks at least every half minute (its
// heartbeat); one silent for three of them, or whose port is closed or failed, is without
// communication. A TCP or UDP receiver is without communication once every device it had has
// gone (dropped on its keep-alive, or disconnected) for as long. Each change is told once: the
// loss, and the restore when it speaks again or a device comes back.
class ReceiverWatch {
public:
    static constexpr int kSilentSeconds = 90;

    struct Change {
        int slot;
        bool lost;
        QString text; // "Receptora N sem comunicação" / "Receptora N comunicação restabelecida"
    };

    ReceiverWatch(DM1 &dm, const ConnectionRegistry &connections);

    // One look at every active receiver; the changes since the last look.
    QList<Change> check(const QDateTime &now);
    // Reception stopped here (or its receivers were applied anew): what was seen is forgotten.
    void reset();
    bool lost(int slot) const;

private:
    struct State {
        bool watched = false;
        int modo = -1;
        QDateTime heard; // the last sign of the receiver (or of one of its devices)
        bool hadDevices = false;
        bool lost = false;
    };
    DM1 &m_dm;
    const ConnectionRegistry &m_connections;
    std::array<State, 11> m_state{};
};

} // namespace tulmo
