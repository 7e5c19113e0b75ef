#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <array>

namespace tulmo {

class Clock;
class DM1;
class Database;
class ReceptionSink;

// Bytes arriving on the serial ports of the ten slots: framing by quiet time, the receiver
// identification reply, acknowledgements, heartbeats and caller identification.
//
// A frame is everything a slot's port received until it fell silent for kQuietMs. The
// receiver gets its acknowledgement (one 0x06) only once the frame's event line is flushed to
// the queue file, off the event loop, so a frame that could not be made durable is repeated
// by the receiver.
//
// A receiver frame (beginning with "1" or "5") is acknowledged only when it makes a whole
// event (or is a heartbeat) whose line the recorder can store. The beginning of one that is
// not whole yet waits for the rest, up to kLimitMs after its first byte, and is then dropped
// unacknowledged, with a line on the port monitor; what then comes up to the next 0x14 is its
// rest, dropped the same way, so that no 0x06 answers a piece of it. A whole frame without its
// 0x14 is taken, as receivers that never send it need, unless the receiver has shown that it
// ends its frames with one.
class SerialReception : public QObject {
    Q_OBJECT
public:
    // Quiet time that ends a frame.
    static constexpr int kQuietMs = 300;
    // The most a slot's buffer holds: a line that never falls silent has its frame ended
    // here. Receiver frames are a few dozen bytes.
    static constexpr qsizetype kMaxFrame = 4096;
    // How long the beginning of a receiver frame waits for its rest, from its first byte.
    static constexpr int kLimitMs = 5000;

    SerialReception(DM1 &dm, Database &database, ReceptionSink &sink, const Clock &clock,
                    QObject *parent = nullptr);

    // Accumulator: restarts the slot's quiet timer and appends the bytes to its buffer.
    void Decodifica_Serial(const QByteArray &data, int slot);
    // Frame end of a slot: repeater acknowledgement, identification reply, or the frame.
    void TimerComTimer(int slot);

private:
    // What reception knows of a slot's line besides its buffer.
    struct Line {
        QDateTime since;         // arrival of the first byte the buffer holds
        bool waiting = false;    // the buffer holds a receiver frame waiting for its rest
        bool endsFrames = false; // the receiver ends its frames with 0x14
        bool tail = false;       // what comes up to the next 0x14 is a dropped frame's rest
        QDateTime tailSince;
    };
    // Why a receiver frame that waited no longer does.
    enum class End { Quiet, Successor };

    void ComPortaRxChar(int slot);
    // The slot's buffer holds a receiver frame: taken when whole, refused when it can never
    // be, dropped when it waited too long or another frame begins after it; otherwise it
    // waits on.
    void receiverFrameEnd(int slot, End end);
    // Removes from the head of the buffer what ends an earlier frame: a lone 0x14, or the
    // rest of a dropped frame.
    void dropTail(int slot);
    // Shows, looks up and hands on the frame in the slot's buffer, then empties the buffer.
    // Empty when the frame may be acknowledged; otherwise why not (a line of the frame could
    // not be queued, or a receiver frame's line is not in the queue).
    QString Decodifica_Timer_Serial(int slot);
    // Queues the caller-identification line of an "E" frame. Empty, or why a line was built
    // and could not be queued.
    QString identifyCall(int slot, const QString &frame);
    // Sends the slot's 0x06 once its frame's line (and every line staged before) is durable;
    // when the write failed, none, and with tellFailure the port monitor says why.
    void acknowledgeWhenDurable(int slot, bool tellFailure);
    qint64 elapsedMs(const QDateTime &since) const;

    DM1 &m_dm;
    Database &m_database;
    ReceptionSink &m_sink;
    const Clock &m_clock;
    std::array<Line, 11> m_lines; // per slot, index 0 unused
};

} // namespace tulmo
