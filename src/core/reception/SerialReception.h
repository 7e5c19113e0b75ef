#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace tulmo {

class Clock;
class DM1;
class ReceptionSink;

// Bytes arriving on the serial ports of the ten slots: framing by quiet time, the receiver
// identification reply, acknowledgements, heartbeats and caller identification.
//
// A frame is everything a slot's port received until it fell silent for kQuietMs. The
// receiver gets its acknowledgement (one 0x06) only once the frame's event line is in the
// queue file, so a frame that could not be made durable is repeated by the receiver.
class SerialReception : public QObject {
    Q_OBJECT
public:
    // Quiet time that ends a frame.
    static constexpr int kQuietMs = 300;
    // The most a slot's buffer holds: a line that never falls silent has its frame ended
    // here. Receiver frames are a few dozen bytes.
    static constexpr qsizetype kMaxFrame = 4096;

    SerialReception(DM1 &dm, ReceptionSink &sink, const Clock &clock, QObject *parent = nullptr);

    // Accumulator: restarts the slot's quiet timer and appends the bytes to its buffer.
    void Decodifica_Serial(const QByteArray &data, int slot);
    // Frame end of a slot: repeater acknowledgement, identification reply, or the frame.
    void TimerComTimer(int slot);

private:
    void ComPortaRxChar(int slot);
    // Shows, looks up and hands on the frame in the slot's buffer, then empties the buffer.
    // False when a line of the frame could not be queued: the frame is then not acknowledged.
    bool Decodifica_Timer_Serial(int slot);
    // Queues the caller-identification line of an "E" frame. False only when a line was
    // built and could not be queued.
    bool identifyCall(int slot, const QString &frame);

    DM1 &m_dm;
    ReceptionSink &m_sink;
    const Clock &m_clock;
};

} // namespace tulmo
