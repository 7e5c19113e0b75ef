#include "ReplyQueue.h"

#include <algorithm>

namespace tulmo {

ReplyQueue::ReplyQueue(QObject *parent)
    : QObject(parent) {}

void ReplyQueue::enqueue(const QString &text, int connectionIndex, int slot, const QString &id,
                         TcpConnection *socket, const QDateTime &now) {
    const int i = size();
    emit replyAboutToBeQueued(i);
    m_replies.append({text, connectionIndex, now, slot, id, socket});
    emit replyQueued(i);
}

void ReplyQueue::clear() {
    if (m_replies.isEmpty()) return;
    emit aboutToBeReset();
    m_replies.clear();
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
    m_replies.removeIf(mine);
    emit wasReset();
}

bool ReplyQueue::hasReplyFor(int slot) const {
    for (const Reply &r : m_replies)
        if (r.slot == slot) return true;
    return false;
}

QList<ReplyQueue::Reply> ReplyQueue::takeDue(const std::function<bool(const Reply &)> &isDue) {
    QList<Reply> due;
    for (const Reply &r : std::as_const(m_replies))
        if (isDue(r)) due.append(r);
    if (due.isEmpty()) return due;
    emit aboutToBeReset();
    m_replies.removeIf(isDue);
    emit wasReset();
    return due;
}

} // namespace tulmo
