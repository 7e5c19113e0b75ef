#include "TcpConnection.h"

#include "core/reception/SocketMultiplexer.h"

#include <QSocketNotifier>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tulmo {

namespace {

#ifdef Q_OS_WIN
using Tamanho = int;
bool repeat() {
    const int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINTR;
}
void closeNative(qintptr fd) {
    closesocket(SOCKET(fd));
}
void nonBlocking(qintptr fd) {
    u_long yes = 1;
    ioctlsocket(SOCKET(fd), FIONBIO, &yes);
}
Tamanho receber(qintptr fd, char *buf, int n) {
    return ::recv(SOCKET(fd), buf, n, 0);
}
Tamanho sendNative(qintptr fd, const char *buf, int n) {
    return ::send(SOCKET(fd), buf, n, 0);
}
#else
using Tamanho = ssize_t;
bool repeat() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}
void closeNative(qintptr fd) {
    ::close(int(fd));
}
void nonBlocking(qintptr fd) {
    const int flags = ::fcntl(int(fd), F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK)) ::fcntl(int(fd), F_SETFL, flags | O_NONBLOCK);
}
Tamanho receber(qintptr fd, char *buf, int n) {
    return ::recv(int(fd), buf, size_t(n), 0);
}
Tamanho sendNative(qintptr fd, const char *buf, int n) {
    // A peer gone meanwhile is an error of this connection, not a signal to the console.
    return ::send(int(fd), buf, size_t(n), MSG_NOSIGNAL);
}
#endif

QHostAddress addressOf(qintptr fd, bool local, quint16 *port) {
    sockaddr_storage sa{};
#ifdef Q_OS_WIN
    int len = sizeof sa;
    const int rc = local ? getsockname(SOCKET(fd), reinterpret_cast<sockaddr *>(&sa), &len)
                         : getpeername(SOCKET(fd), reinterpret_cast<sockaddr *>(&sa), &len);
#else
    socklen_t len = sizeof sa;
    const int rc = local ? getsockname(int(fd), reinterpret_cast<sockaddr *>(&sa), &len)
                         : getpeername(int(fd), reinterpret_cast<sockaddr *>(&sa), &len);
#endif
    if (rc != 0) return QHostAddress();
    const QHostAddress a(reinterpret_cast<const sockaddr *>(&sa));
    if (port) {
        if (sa.ss_family == AF_INET)
            *port = ntohs(reinterpret_cast<const sockaddr_in *>(&sa)->sin_port);
        else if (sa.ss_family == AF_INET6)
            *port = ntohs(reinterpret_cast<const sockaddr_in6 *>(&sa)->sin6_port);
    }
    return a;
}

} // namespace

TcpConnection::TcpConnection(qintptr descriptor, SocketMultiplexer &mux, QObject *parent)
    : QObject(parent)
    , m_fd(descriptor)
    , m_mux(mux) {
    nonBlocking(m_fd);
    if (!m_mux.add(this)) {
        closeNative(m_fd);
        m_fd = -1;
    }
}

TcpConnection::~TcpConnection() {
    if (m_fd >= 0) {
        m_mux.removeConnection(this);
        closeNative(m_fd);
    }
}

QHostAddress TcpConnection::peerAddress() const {
    return m_fd >= 0 ? addressOf(m_fd, false, nullptr) : QHostAddress();
}

quint16 TcpConnection::peerPort() const {
    quint16 port = 0;
    if (m_fd >= 0) addressOf(m_fd, false, &port);
    return port;
}

void TcpConnection::abort() {
    if (m_fd < 0) return;
    m_mux.removeConnection(this);
    closeNative(m_fd);
    m_fd = -1;
    m_pending.clear();
    m_pending.squeeze();
    emit disconnected();
}

bool TcpConnection::write(const QByteArray &payload) {
    if (m_fd < 0) return false;
    if (payload.isEmpty()) return true;
    if (m_pending.size() + payload.size() > kMaxPending) {
        abort();
        return false;
    }
    const bool expected = !m_pending.isEmpty();
    m_pending.append(payload);
    if (expected) return true; // goes out behind what already waits
    return sendPending();
}

bool TcpConnection::sendPending() {
    while (!m_pending.isEmpty()) {
        const Tamanho n = sendNative(m_fd, m_pending.constData(), int(m_pending.size()));
        if (n < 0) {
            if (repeat()) break;
            abort();
            return false;
        }
        m_pending.remove(0, qsizetype(n));
    }
    if (m_pending.isEmpty()) m_pending.squeeze(); // an idle device holds no buffer
    m_mux.waitForWritten(this, !m_pending.isEmpty());
    return true;
}

void TcpConnection::canRead() {
    if (m_fd < 0) return;
    char buf[kMaxRead];
    const Tamanho n = receber(m_fd, buf, int(sizeof buf));
    if (n > 0) {
        emit dataReceived(QByteArray(buf, qsizetype(n)));
    } else if (n == 0 || !repeat()) {
        abort(); // the peer closed, or the connection failed
    }
}

void TcpConnection::canWrite() {
    if (m_fd >= 0) sendPending();
}

void TcpConnection::closeQuietly() {
    if (m_fd >= 0) {
        closeNative(m_fd);
        m_fd = -1;
    }
}

} // namespace tulmo
