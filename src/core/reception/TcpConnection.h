#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

class QSocketNotifier;

namespace tulmo {

class SocketMultiplexer;

// The listener of a receiver slot. Accepted connections are handed over as native sockets:
// a station holds thousands of devices, and a full QTcpSocket for each of them (buffers,
// engine, notifiers polled on every wake-up of the event loop) costs more than the whole
// exchange with a device needs.
class TcpListener : public QTcpServer {
    Q_OBJECT
public:
    // Devices come back together after a network failure at the station: the kernel queues
    // that many completed connections for acceptance instead of dropping the rest of a burst
    // for the devices to retry seconds later.
    static constexpr int kFilaAceitacao = 1024;

    explicit TcpListener(QObject *parent = nullptr)
        : QTcpServer(parent) {
        setListenBacklogSize(kFilaAceitacao);
    }

signals:
    void conexaoRecebida(qintptr descritor);

protected:
    void incomingConnection(qintptr descritor) override { emit conexaoRecebida(descritor); }
};

// One accepted device connection on its native, non-blocking socket, served by the
// SocketMultiplexer on the GUI thread's event loop.
//
// Each readiness is served by one read of at most kMaxLeitura bytes, handed on as one
// frame: nothing is buffered on this side, and a client that floods is read at the pace of
// the others while the kernel pushes back on it. Writes go out at once; what the kernel
// does not take waits for the socket to become writable, up to kMaxPendente bytes, beyond
// which a device that does not read its replies is dropped.
class TcpConnection : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxLeitura = 4096;
    static constexpr qint64 kMaxPendente = 65536;

    // Takes ownership of the socket descriptor.
    TcpConnection(qintptr descritor, SocketMultiplexer &mux, QObject *parent = nullptr);
    ~TcpConnection() override;

    // The descriptor while the connection is open, -1 after.
    qintptr socketDescriptor() const { return m_fd; }
    bool conectada() const { return m_fd >= 0; }
    QHostAddress peerAddress() const;
    quint16 peerPort() const;

    // False when the connection is closed, or was closed because it fails or its unsent
    // bytes would pass the limit.
    bool write(const QByteArray &dados);
    // Closes at once (unsent bytes are dropped) and announces it, once.
    void abort();

    qint64 bytesPendentes() const { return m_pendente.size(); }

signals:
    // One read of the connection.
    void dadosRecebidos(const QByteArray &dados);
    // The peer closed, the connection failed, or it was aborted.
    void desconectada();

private:
    friend class SocketMultiplexer;
    void podeLer();
    void podeEscrever();
    bool enviarPendente();

    qintptr m_fd;
    SocketMultiplexer &m_mux;
    QByteArray m_pendente;
    QSocketNotifier *m_notificadorLeitura = nullptr; // without epoll only
    QSocketNotifier *m_notificadorEscrita = nullptr;
};

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
