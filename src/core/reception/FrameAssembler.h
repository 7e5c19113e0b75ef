#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>

class QTimer;

namespace tulmo {

class Clock;
class DM1;
class TcpConnection;

// Turns the reads of the device connections into frames.
//
// A receiver frame (beginning with "1" or "5") ends with 0x14: one split across reads waits
// for the rest, and several in one read are taken one by one, so each is queued, recorded and
// acknowledged on its own. Some devices never send the 0x14: a whole frame without it is
// taken once the connection has been quiet for kQuietMs. The beginning of a frame that is not
// whole yet waits for more, however long the pauses, up to kLimitMs after its first byte, and
// is then dropped with a line on the port monitor: nothing acknowledges it, so the device
// sends it again. Bytes that can never make a whole frame are handed on at once, for the
// device link to show and refuse.
//
// A SIA DC-09 message (<LF>, CRC, length "0LLL", the body of that length, <CR>) is gathered
// until its length is complete, under the same limit; a quiet pause never cuts it.
//
// Any other read is one frame, as it always was.
class FrameAssembler : public QObject {
    Q_OBJECT
public:
    static constexpr char kEnd = 0x14;
    static constexpr int kQuietMs = 300;
    // How long the beginning of a frame waits for its rest, from its first byte: a stalling
    // GPRS link delivers a frame in pieces seconds apart.
    static constexpr int kLimitMs = 5000;
    // The most a connection may hold of an unfinished frame: a DC-09 message of the longest
    // length, or a heartbeat that never ends.
    static constexpr qsizetype kMaxFrame = 4096 + 10;

    FrameAssembler(DM1 &dm, const Clock &clock, QObject *parent = nullptr);
    ~FrameAssembler() override;

    // One read of a connection of slot k.
    void take(TcpConnection *socket, int k, const QByteArray &bytes);
    // The connection's quiet time passed, or its limit: what it holds is taken if whole,
    // dropped once past the limit, and otherwise waits on.
    void quietTimeout(TcpConnection *socket);
    // The connection closes, or its data goes to a module exchange from now on: a whole frame
    // it holds is still a frame the device sent; the beginning of one is dropped.
    void release(TcpConnection *socket);

    // Bytes of an unfinished frame held for a connection.
    qsizetype heldBytes(const TcpConnection *socket) const;
    // The quiet time that ends a frame; tests stretch it to drive the end themselves.
    void setQuietInterval(int ms) { m_quietMs = ms; }

signals:
    void frameReady(TcpConnection *socket, int slot, const QByteArray &frame);

private:
    struct Held {
        int slot = 0;
        QByteArray bytes;
        QDateTime since;     // arrival of its first byte
        qintptr handle = -1; // the connection's handle, for the port monitor
        QTimer *timer = nullptr;
    };
    enum class End { Quiet, Limit, Release };

    // Frames out of data, from its start; an unfinished rest is held.
    void split(TcpConnection *socket, int k, const QByteArray &data, const QDateTime &since);
    // Whether what is held is a whole frame that may be taken at this end.
    bool whole(const TcpConnection *socket, const QByteArray &held, End end) const;
    void hold(TcpConnection *socket, int k, const QByteArray &bytes, const QDateTime &since);
    // Takes the held frame out of the table (stopping its timer).
    Held unhold(TcpConnection *socket);
    // A held frame ends: handed on when whole, else dropped with a line on the port monitor.
    void settle(TcpConnection *socket, const Held &h, End end);
    qint64 elapsedMs(const Held &h) const;

    DM1 &m_dm;
    const Clock &m_clock;
    QHash<TcpConnection *, Held> m_held; // only connections with an unfinished frame
    // Connections that end their receiver frames with 0x14: a frame of theirs without it is
    // not whole, however long the quiet.
    QSet<const TcpConnection *> m_endsFrames;
    int m_quietMs = kQuietMs;
};

} // namespace tulmo
