#include "ReplyQueue.h"

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
    emit aboutToBeCleared();
    m_replies.clear();
    m_cursor = 0;
    emit cleared();
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
