#pragma once

#include <QHash>
#include <QObject>

class QSocketNotifier;

namespace tulmo {

class TcpConnection;

// Waits for every device connection at once. On Linux the connections share one epoll
// descriptor, so the event loop watches one descriptor however many devices are connected
// and a wake-up costs what is ready, not what is open. Elsewhere each connection has its
// own notifiers.
class SocketMultiplexer : public QObject {
    Q_OBJECT
public:
    // porEpoll false: each connection with its own notifiers, as on other systems.
    explicit SocketMultiplexer(QObject *parent = nullptr, bool porEpoll = true);
    ~SocketMultiplexer() override;

    int openCount() const { return int(m_connections.size()); }

private:
    friend class TcpConnection;
    bool add(TcpConnection *c);
    void waitForWritten(TcpConnection *c, bool on);
    void removeConnection(TcpConnection *c);
    void dispatch();

    QHash<qintptr, TcpConnection *> m_connections;
    int m_epoll = -1;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace tulmo
