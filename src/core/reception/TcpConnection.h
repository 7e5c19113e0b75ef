#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

class QSocketNotifier;

namespace tulmo {

class SocketMultiplexer;

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
    static constexpr qint64 kMaxRead = 4096;
    static constexpr qint64 kMaxPending = 65536;

    // Takes ownership of the socket descriptor.
    TcpConnection(qintptr descriptor, SocketMultiplexer &mux, QObject *parent = nullptr);
    ~TcpConnection() override;

    // The descriptor while the connection is open, -1 after.
    qintptr socketDescriptor() const { return m_fd; }
    bool connected() const { return m_fd >= 0; }
    QHostAddress peerAddress() const;
    quint16 peerPort() const;

    // False when the connection is closed, or was closed because it fails or its unsent
    // bytes would pass the limit.
    bool write(const QByteArray &payload);
    // Closes at once (unsent bytes are dropped) and announces it, once.
    void abort();

    qint64 pendingBytes() const { return m_pending.size(); }

signals:
    // One read of the connection.
    void dataReceived(const QByteArray &payload);
    // The peer closed, the connection failed, or it was aborted.
    void disconnected();

private:
    friend class SocketMultiplexer;
    // Closes the descriptor without reaching back to the multiplexer or announcing it.
    void closeQuietly();
    void canRead();
    void canWrite();
    bool sendPending();

    qintptr m_fd;
    SocketMultiplexer &m_mux;
    QByteArray m_pending;
    QSocketNotifier *m_readNotifier = nullptr; // without epoll only
    QSocketNotifier *m_writeNotifier = nullptr;
};

} // namespace tulmo
