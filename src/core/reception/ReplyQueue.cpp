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
    if (m_replies.isEmpty()) {
        m_cursor = 0;
        return;
    }
    emit aboutToBeReset();
    m_replies.clear();
    m_cursor = 0;
    emit wasReset();
}

void ReplyQueue::removeFor(const TcpConnection *socket) {
    if (!socket) return;
    const auto mine = [socket](const Reply &r) { return r.socket.data() == socket; };
    if (std::none_of(m_replies.cbegin(), m_replies.cend(), mine)) return;
    emit aboutToBeReset();
    // The cursor keeps pointing at the same reply: those before it that go move it back.
    int before = 0;
    for (int i = 0; i < m_cursor && i < m_replies.size(); ++i)
        if (mine(m_replies[i])) ++before;
    m_replies.removeIf(mine);
    m_cursor = std::max(0, m_cursor - before);
    if (m_cursor >= m_replies.size()) m_cursor = 0;
    emit wasReset();
}

bool ReplyQueue::hasReplyFor(int slot) const {
    for (const Reply &r : m_replies)
        if (r.slot == slot) return true;
    return false;
}

const ReplyQueue::Reply *ReplyQueue::current() {
    if (m_replies.isEmpty()) return nullptr;
    if (m_cursor >= m_replies.size()) m_cursor = 0;
    return &m_replies[m_cursor];
}

void ReplyQueue::advance() {
    ++m_cursor;
    if (m_cursor >= m_replies.size()) clear();
}

} // namespace tulmo
