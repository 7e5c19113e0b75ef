#pragma once

#include <QString>

#include <functional>

namespace tulmo {

// What reception hands on to event processing. Acknowledgements to a receiver or device
// depend on the answer: a frame whose line could not be made durable is not acknowledged,
// so the sender repeats it.
class ReceptionSink {
public:
    // Refused: the frame makes an event line that the recorder could never store (its
    // reason is eventline::unstorableReason), so it is not queued and must not be
    // acknowledged either.
    enum class QueueResult { NoEvent, Queued, Failed, Refused };
    virtual ~ReceptionSink() = default;
    // Decodes a raw receiver frame and queues its event line, when the recorder can store it.
    virtual QueueResult Decodifica_Eventos(const QString &frame) = 0;
    // The same for a frame whose acknowledgement waits in the reply queue: its line may share
    // one flush to the disk with the other frames of this moment, which comes before any
    // reply leaves. A sink without staging makes the line durable at once.
    virtual QueueResult stageEvent(const QString &frame) { return Decodifica_Eventos(frame); }
    // Queues an event line built by reception itself (caller identification).
    virtual bool queueLine(const QString &eventLine) = 0;
    // The same, staged for the next flush like stageEvent.
    virtual QueueResult stageLine(const QString &eventLine) {
        return queueLine(eventLine) ? QueueResult::Queued : QueueResult::Failed;
    }
    // Calls done once every line staged so far is durable (true), or could not be made so
    // (false): what answers a sender waits for it.
    virtual void whenDurable(std::function<void(bool)> done) { done(true); }
    // Serial reception ended a frame on slot k: the repeater's head line for k is delivered.
    virtual void acknowledgeRepeater(int slot) = 0;
    // A device's receiver frame to forward out of the slot's serial port.
    virtual bool queueRepeater(int slot, const QString &frame) = 0;
};

} // namespace tulmo
