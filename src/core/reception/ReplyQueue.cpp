#include "ReplyQueue.h"

#include <algorithm>

namespace tulmo {

ReplyQueue::ReplyQueue(QObject *parent)
    : QObject(parent) {}

bool ReplyQueue::enqueue(const QString &text, int connectionIndex, int slot, const QString &id,
                         TcpConnection *socket, const QDateTime &now) {
    if (socket) {
        auto it = m_countOf.find(socket);
        if (it == m_countOf.end()) {
            connect(socket, &QObject::destroyed, this,
                    [this, socket] { m_countOf.remove(socket); });
            it = m_countOf.insert(socket, 0);
        }
        if (*it >= kMaxPerConnection) {
            emit overflowed(socket);
            return false;
        }
        ++*it;
    }
    const int i = size();
    emit replyAboutToBeQueued(i);
    m_replies.append({text, connectionIndex, now, slot, id, socket});
    emit replyQueued(i);
    return true;
}

void ReplyQueue::forget(const Reply &r) {
    // A reply whose connection is gone counts for nobody: its count went with it.
    if (const TcpConnection *s = r.socket.data()) {
        const auto it = m_countOf.find(s);
        if (it != m_countOf.end() && *it > 0) --*it;
    }
}

void ReplyQueue::clear() {
    if (m_replies.isEmpty()) return;
    emit aboutToBeReset();
    m_replies.clear();
    for (int &n : m_countOf)
        n = 0;
    emit wasReset();
}

void ReplyQueue::removeFor(const TcpConnection *socket) {
    if (socket) removeFor(QSet<const TcpConnection *>{socket});
}

void ReplyQueue::removeFor(const QSet<const TcpConnection *> &sockets) {
    const auto mine = [&sockets](const Reply &r) {
        return r.socket && sockets.contains(r.socket.data());
    };
    if (std::none_of(m_replies.cbegin(), m_replies.cend(), mine)) return;
    emit aboutToBeReset();
    for (const Reply &r : std::as_const(m_replies))
        if (mine(r)) forget(r);
    m_replies.removeIf(mine);
    emit wasReset();
}

bool ReplyQueue::hasReplyFor(const TcpConnection *socket, int slot,
                             const QString &identifier) const {
    if (socket && countFor(socket) > 0) return true;
    if (identifier.isEmpty()) return false;
    return std::any_of(m_replies.cbegin(), m_replies.cend(), [&](const Reply &r) {
        return r.slot == slot && r.identifier == identifier;
    });
}

QList<ReplyQueue::Reply> ReplyQueue::takeDue(const std::function<bool(const Reply &)> &isDue) {
    QList<Reply> due;
    for (const Reply &r : std::as_const(m_replies))
        if (isDue(r)) due.append(r);
    if (due.isEmpty()) return due;
    for (const Reply &r : std::as_const(due))
        forget(r);
    emit aboutToBeReset();
    m_replies.removeIf(isDue);
    emit wasReset();
    return due;
}

} // namespace tulmo
