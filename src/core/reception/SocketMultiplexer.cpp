#include "SocketMultiplexer.h"

#include "core/reception/TcpConnection.h"

#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <sys/epoll.h>
#include <unistd.h>
#define TULMO_EPOLL 1
#endif

namespace tulmo {

SocketMultiplexer::SocketMultiplexer(QObject *parent, bool porEpoll)
    : QObject(parent) {
#ifdef TULMO_EPOLL
    if (porEpoll) m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll >= 0) {
        m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &SocketMultiplexer::dispatch);
    }
#else
    Q_UNUSED(porEpoll)
#endif
}

SocketMultiplexer::~SocketMultiplexer() {
    // Connections still open close with their owner; they must not reach back here.
    for (TcpConnection *c : std::as_const(m_connections))
        c->closeQuietly();
#ifdef TULMO_EPOLL
    if (m_epoll >= 0) ::close(m_epoll);
#endif
}

bool SocketMultiplexer::add(TcpConnection *c) {
#ifdef TULMO_EPOLL
    if (m_epoll >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = quint64(c->m_fd);
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, int(c->m_fd), &ev) != 0) return false;
        m_connections.insert(c->m_fd, c);
        return true;
    }
#endif
    c->m_readNotifier = new QSocketNotifier(c->m_fd, QSocketNotifier::Read, c);
    connect(c->m_readNotifier, &QSocketNotifier::activated, c, &TcpConnection::canRead);
    m_connections.insert(c->m_fd, c);
    return true;
}

void SocketMultiplexer::waitForWritten(TcpConnection *c, bool on) {
#ifdef TULMO_EPOLL
    if (m_epoll >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN | (on ? EPOLLOUT : 0u);
        ev.data.u64 = quint64(c->m_fd);
        ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, int(c->m_fd), &ev);
        return;
    }
#endif
    if (on && !c->m_writeNotifier) {
        c->m_writeNotifier = new QSocketNotifier(c->m_fd, QSocketNotifier::Write, c);
        connect(c->m_writeNotifier, &QSocketNotifier::activated, c, &TcpConnection::canWrite);
    }
    if (c->m_writeNotifier) c->m_writeNotifier->setEnabled(on);
}

void SocketMultiplexer::removeConnection(TcpConnection *c) {
#ifdef TULMO_EPOLL
    if (m_epoll >= 0) ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, int(c->m_fd), nullptr);
#endif
    // A notifier may be the one whose signal is being handled: it goes after the handler.
    for (QSocketNotifier **n : {&c->m_readNotifier, &c->m_writeNotifier}) {
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
    m_connections.remove(c->m_fd);
}

void SocketMultiplexer::dispatch() {
#ifdef TULMO_EPOLL
    // One batch per wake-up: timers and the other sockets of the loop get their turn before
    // the next one, and what is still ready keeps the descriptor readable.
    epoll_event ready[256];
    const int n = ::epoll_wait(m_epoll, ready, 256, 0);
    for (int i = 0; i < n; ++i) {
        const qintptr fd = qintptr(ready[i].data.u64);
        // The handling of an earlier connection may have closed this one.
        TcpConnection *c = m_connections.value(fd);
        if (!c) continue;
        if (ready[i].events & EPOLLOUT) c->canWrite();
        if (ready[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
            c = m_connections.value(fd);
            if (c) c->canRead();
        }
    }
#endif
}

} // namespace tulmo
