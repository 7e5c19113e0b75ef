#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <array>
#include <functional>

#include "core/reception/FrameAssembler.h"
#include "core/reception/ReplyQueue.h"
#include "core/reception/TcpConnection.h"

namespace tulmo {

class Clock;
class DM1;
class SocketMultiplexer;

// The connected devices behind Grid_Conectados: one row per accepted TCP connection, in order
// of acceptance, the delayed replies to them, the keep-alive expiry and the count of open
// connections.
//
// Each row keeps its own connection: replies, removals and the remote access console reach
// the socket of that row, whatever the row's position. The "Socket" field still holds the
// connection index as operators know it (the position in the listener's connections at
// acceptance, renumbered to the row position after rows are removed).
class ConnectionRegistry : public QObject {
    Q_OBJECT
public:
    // One accepted connection; the fields are the columns of Grid_Conectados.
    struct Row {
        QDateTime keepAlive;    // last sign of life
        QString conta;          // account or device caption
        QString lastPacket;   // last packet mark, for repeat detection
        QDateTime lastEvent; // last event handed on
        int server = 0;       // slot of the listener
        QString imei;           // device identifier, empty until identified
        QString remoteIp;       // peer host name (empty when it has none)
        int socketIndex = 0;    // connection index shown in "Socket"
        qintptr connection = -1;   // socket handle at acceptance
        QDateTime connectedAt;  // time of acceptance
        QPointer<TcpConnection> socket;
        bool datagram = false; // a DC-09 sender over UDP, without a connection
        // When the peer closed or the connection failed; invalid while it is open. The row
        // stays until the keep-alive expiry, and the list shows it as gone meanwhile.
        QDateTime disconnectedAt;
        bool connected() const { return !datagram && !disconnectedAt.isValid(); }
        // The device named itself, or delivered a message the console took ("$" events and
        // DC-09 need no identification).
        bool known() const {
            return !imei.isEmpty() || !lastPacket.isEmpty() || lastEvent.isValid();
        }
    };

    // A connection that is still not known this long after its acceptance is closed: it names
    // no device, and each one holds a descriptor.
    static constexpr int kIdentifyTimeoutSecs = 60;

    // What one read of a connection takes at most.
    static constexpr qint64 kMaxFrame = TcpConnection::kMaxRead;

    ConnectionRegistry(DM1 &dm, const Clock &clock, QObject *parent = nullptr);
    ~ConnectionRegistry() override;

    const QList<Row> &rows() const { return m_rows; }
    int rowCount() const { return int(m_rows.size()); }
    const Row &row(int r) const { return m_rows[r]; }
    // The row of a connection, or -1.
    int rowOf(const TcpConnection *socket) const;
    // Changes to a row's fields by the device link.
    void setAccount(int r, const QString &conta);
    void setImei(int r, const QString &imei);
    void setLastPacket(int r, const QString &pacote);
    void setKeepAlive(int r, const QDateTime &t);
    void setLastEvent(int r, const QDateTime &t);

    // The row of a DC-09 sender over UDP on slot k, one per address and account, appended
    // at its first message. It has no connection: its messages keep it alive, and the
    // keep-alive expiry drops it like any device.
    int datagramSenderRow(int k, const QString &address, const QString &conta,
                          const QDateTime &now);

    // Closes the connection of an earlier row of the same device (first row other than r
    // whose IMEI is id) and removes that row. Returns r adjusted to the row's new position.
    int removeEarlierConnection(const QString &id, int r);
    // Closes the connection of the device's first row and removes that row (the GPRS registry
    // deleting the module). False when the device has no row.
    bool closeDevice(const QString &imei);

    // The connections of slot k still open, in order of acceptance.
    QList<TcpConnection *> connections(int k) const;
    int connectionCount() const;

    ReplyQueue &replies() { return m_replies; }
    // Reads of the connections gathered into frames.
    FrameAssembler &frames() { return m_frames; }
    const ReplyQueue &replies() const { return m_replies; }

    // Sends text at once to a connection; false when it is gone.
    bool send(TcpConnection *socket, const QByteArray &text);

    // Timed duties of the one-second driver, each given the current time. Every reply in the
    // queue acknowledges what is already durable (the device link queues it only then).
    void sendDueReplies(const QDateTime &now);
    // The replies of slots without a delay (TEMPO_RESPOSTA 0): they leave as soon as they are
    // queued, an event-loop turn later, not at the next tick.
    void sendImmediateReplies();
    // Drops the connections silent past their slot's keep-alive, and those not known within
    // kIdentifyTimeoutSecs.
    void expireSilentConnections(const QDateTime &now);
    // Reception leaves this workstation: every device connection closes (the devices go to
    // the one that receives now) and no reply is left to send.
    void closeAll();
    // The address of the peer accepted last; empty until one is.
    const QString &lastPeer() const { return m_lastPeer; }

signals:
    void rowAboutToBeAdded(int row);
    void rowAdded(int row);
    void rowAboutToBeRemoved(int row);
    void rowRemoved(int row);
    void rowChanged(int row);
    // Only the "Socket" field of the row changed.
    void socketIndexChanged(int row);
    // A connection was accepted from this address.
    void peerShown(const QString &address);
    // One frame of a connection for the device link.
    void frameReceived(TcpConnection *socket, int slot, const QByteArray &frame);
    // A connection was accepted and its row appended.
    void connectionAccepted(TcpConnection *socket, int slot);

private:
    TcpConnection *targetOf(const ReplyQueue::Reply &reply);
    int replyDelay(int slot) const;
    void sendReplies(const std::function<bool(const ReplyQueue::Reply &)> &isDue);

    void SocketServerAccept(int k, qintptr descriptor);
    void dropRowsOfSlot(int k);
    // Tells the peer's address and returns it.
    QString showPeer(TcpConnection *socket);
    void lookUpPeerName(TcpConnection *socket, const QString &dotted);
    void connectionClosed(TcpConnection *socket, int k);
    // Any read of a connection is a sign of life of its device, programming traffic included.
    void markAlive(const TcpConnection *socket);
    void removeRowAt(int r);
    // A device with more replies waiting than the queue holds for one connection: its
    // connection closes and its row goes with its replies, as a device that does not read.
    void dropOverflowing(TcpConnection *socket);
    void setSocketIndex(int r);
    void renumber();
    void reindex();
    void countImei(const QString &imei, int delta);
    static void closeConnection(TcpConnection *socket);

    DM1 &m_dm;
    const Clock &m_clock;
    SocketMultiplexer *m_mux;
    QList<Row> m_rows;
    QHash<const TcpConnection *, int> m_rowOf; // row of each open connection
    QHash<QString, int> m_imeiRows;             // how many rows carry each identifier
    ReplyQueue m_replies;
    FrameAssembler m_frames;
    QTimer m_immediateReplies;
    std::array<QList<TcpConnection *>, 11> m_connections; // per slot, index 0 unused
    QString m_lastPeer;
};

} // namespace tulmo
