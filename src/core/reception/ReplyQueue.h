#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include "reception/TcpConnection.h"

namespace tulmo {

// The delayed replies to devices (Grid_Buffer), in order of queueing. Replies leave one at a
// time from the cursor; the queue empties once the cursor has passed its last reply. A device
// row that goes takes its own replies along.
class ReplyQueue : public QObject {
    Q_OBJECT
public:
    // One delayed reply.
    struct Reply {
        QString text;
        int connectionIndex = 0; // connection index at the time of queueing
        QDateTime hora; // time of queueing
        int slot = 0;
        QString identifier;
        QPointer<TcpConnection> socket; // the connection it was queued for
    };

    explicit ReplyQueue(QObject *parent = nullptr);

    void enqueue(const QString &text, int connectionIndex, int slot, const QString &id,
                 TcpConnection *socket, const QDateTime &now);
    void clear();
    // Drops the replies queued for that connection, and only those: a device that goes takes
    // its own replies along, every other device keeps its own.
    void removeFor(const TcpConnection *socket);

    const QList<Reply> &replies() const { return m_replies; }
    int size() const { return int(m_replies.size()); }
    bool isEmpty() const { return m_replies.isEmpty(); }
    const Reply &at(int i) const { return m_replies[i]; }
    // Whether a reply of slot k still waits (the remote access console would collide).
    bool hasReplyFor(int slot) const;

    // ReplyCursor, counted from 0 over the replies.
    int cursor() const { return m_cursor; }
    // The reply at the cursor (back at the first when the cursor ran past the end), or null.
    const Reply *current();
    // Past the reply at the cursor; past the last one, the queue empties.
    void advance();

signals:
    void replyAboutToBeQueued(int index);
    void replyQueued(int index);
    // The queue emptied or lost some of its replies: the grid reads it again.
    void aboutToBeReset();
    void wasReset();

private:
    QList<Reply> m_replies;
    int m_cursor = 0;
};

} // namespace tulmo
