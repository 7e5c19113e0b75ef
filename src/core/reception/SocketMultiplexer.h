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

    int abertas() const { return int(m_conexoes.size()); }

private:
    friend class TcpConnection;
    bool registrar(TcpConnection *c);
    void esperarEscrita(TcpConnection *c, bool sim);
    void remover(TcpConnection *c);
    void despachar();

    QHash<qintptr, TcpConnection *> m_conexoes;
    int m_epoll = -1;
    QSocketNotifier *m_notificador = nullptr;
};

} // namespace tulmo
