#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>

#include "core/reception/TcpConnection.h"

namespace tulmo {

// The delayed replies to devices (Grid_Buffer), in order of queueing. Every reply whose delay
// has passed leaves in the same tick; a device row that goes takes its own replies along.
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

    // The most replies one connection may have waiting. A device sends a frame and waits for
    // its answer, and a backlog after a network failure queues a few dozen; a thousand is a
    // device that talks far faster than it is answered, and its replies would otherwise grow
    // without end. It is dropped, as a device that does not read what is written to it.
    static constexpr int kMaxPerConnection = 1000;

    explicit ReplyQueue(QObject *parent = nullptr);

    // Queues a reply. False, and the reply not queued, when its connection already has
    // kMaxPerConnection waiting: overflowed then announces that connection.
    bool enqueue(const QString &text, int connectionIndex, int slot, const QString &id,
                 TcpConnection *socket, const QDateTime &now);
    void clear();
    // Drops the replies queued for that connection, and only those: a device that goes takes
    // its own replies along, every other device keeps its own.
    void removeFor(const TcpConnection *socket);
    // The same for many connections at once, in one pass over the queue.
    void removeFor(const QSet<const TcpConnection *> &sockets);

    const QList<Reply> &replies() const { return m_replies; }
    int size() const { return int(m_replies.size()); }
    bool isEmpty() const { return m_replies.isEmpty(); }
    const Reply &at(int i) const { return m_replies[i]; }
    // Whether a reply for that device still waits: one queued for its connection, or for its
    // identifier on its slot (the remote access console would collide with it). The other
    // devices of the slot, hundreds on one TCP port, do not make it busy.
    bool hasReplyFor(const TcpConnection *socket, int slot, const QString &identifier) const;
    // How many replies wait for that connection.
    int countFor(const TcpConnection *socket) const { return m_countOf.value(socket); }

    // Takes out every reply isDue says may leave, in the order they were queued; the others
    // stay. Replies of one connection share its slot's delay and were queued in time order,
    // so they leave in their order.
    QList<Reply> takeDue(const std::function<bool(const Reply &)> &isDue);

signals:
    void replyAboutToBeQueued(int index);
    void replyQueued(int index);
    // The queue emptied or lost some of its replies: the grid reads it again.
    void aboutToBeReset();
    void wasReset();
    // A connection passed its bound; the registry drops it.
    void overflowed(TcpConnection *socket);

private:
    void forget(const Reply &r);

    QList<Reply> m_replies;
    // Replies waiting per open connection. A connection that is destroyed leaves the count,
    // and its replies, now without a connection, are counted for nobody.
    QHash<const TcpConnection *, int> m_countOf;
};

} // namespace tulmo
