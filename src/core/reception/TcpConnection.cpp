#include "TcpConnection.h"

#include "reception/SocketMultiplexer.h"

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
bool repetir() {
    const int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINTR;
}
void fecharNativo(qintptr fd) {
    closesocket(SOCKET(fd));
}
void naoBloqueante(qintptr fd) {
    u_long sim = 1;
    ioctlsocket(SOCKET(fd), FIONBIO, &sim);
}
Tamanho receber(qintptr fd, char *buf, int n) {
    return ::recv(SOCKET(fd), buf, n, 0);
}
Tamanho enviarNativo(qintptr fd, const char *buf, int n) {
    return ::send(SOCKET(fd), buf, n, 0);
}
#else
using Tamanho = ssize_t;
bool repetir() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}
void fecharNativo(qintptr fd) {
    ::close(int(fd));
}
void naoBloqueante(qintptr fd) {
    const int flags = ::fcntl(int(fd), F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK)) ::fcntl(int(fd), F_SETFL, flags | O_NONBLOCK);
}
Tamanho receber(qintptr fd, char *buf, int n) {
    return ::recv(int(fd), buf, size_t(n), 0);
}
Tamanho enviarNativo(qintptr fd, const char *buf, int n) {
    // A peer gone meanwhile is an error of this connection, not a signal to the console.
    return ::send(int(fd), buf, size_t(n), MSG_NOSIGNAL);
}
#endif

QHostAddress enderecoDe(qintptr fd, bool local, quint16 *porta) {
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
    if (porta) {
        if (sa.ss_family == AF_INET)
            *porta = ntohs(reinterpret_cast<const sockaddr_in *>(&sa)->sin_port);
        else if (sa.ss_family == AF_INET6)
            *porta = ntohs(reinterpret_cast<const sockaddr_in6 *>(&sa)->sin6_port);
    }
    return a;
}

} // namespace

TcpConnection::TcpConnection(qintptr descritor, SocketMultiplexer &mux, QObject *parent)
    : QObject(parent)
    , m_fd(descritor)
    , m_mux(mux) {
    naoBloqueante(m_fd);
    if (!m_mux.registrar(this)) {
        fecharNativo(m_fd);
        m_fd = -1;
    }
}

TcpConnection::~TcpConnection() {
    if (m_fd >= 0) {
        m_mux.remover(this);
        fecharNativo(m_fd);
    }
}

QHostAddress TcpConnection::peerAddress() const {
    return m_fd >= 0 ? enderecoDe(m_fd, false, nullptr) : QHostAddress();
}

quint16 TcpConnection::peerPort() const {
    quint16 porta = 0;
    if (m_fd >= 0) enderecoDe(m_fd, false, &porta);
    return porta;
}

void TcpConnection::abort() {
    if (m_fd < 0) return;
    m_mux.remover(this);
    fecharNativo(m_fd);
    m_fd = -1;
    m_pendente.clear();
    m_pendente.squeeze();
    emit desconectada();
}

bool TcpConnection::write(const QByteArray &dados) {
    if (m_fd < 0) return false;
    if (dados.isEmpty()) return true;
    if (m_pendente.size() + dados.size() > kMaxPendente) {
        abort();
        return false;
    }
    const bool esperava = !m_pendente.isEmpty();
    m_pendente.append(dados);
    if (esperava) return true; // goes out behind what already waits
    return enviarPendente();
}

bool TcpConnection::enviarPendente() {
    while (!m_pendente.isEmpty()) {
        const Tamanho n = enviarNativo(m_fd, m_pendente.constData(), int(m_pendente.size()));
        if (n < 0) {
            if (repetir()) break;
            abort();
            return false;
        }
        m_pendente.remove(0, qsizetype(n));
    }
    if (m_pendente.isEmpty()) m_pendente.squeeze(); // an idle device holds no buffer
    m_mux.esperarEscrita(this, !m_pendente.isEmpty());
    return true;
}

void TcpConnection::podeLer() {
    if (m_fd < 0) return;
    char buf[kMaxLeitura];
    const Tamanho n = receber(m_fd, buf, int(sizeof buf));
    if (n > 0) {
        emit dadosRecebidos(QByteArray(buf, qsizetype(n)));
    } else if (n == 0 || !repetir()) {
        abort(); // the peer closed, or the connection failed
    }
}

void TcpConnection::podeEscrever() {
    if (m_fd >= 0) enviarPendente();
}

void TcpConnection::closeQuietly() {
    if (m_fd >= 0) {
        fecharNativo(m_fd);
        m_fd = -1;
    }
}

} // namespace tulmo
