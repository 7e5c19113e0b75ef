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

    // The one way a line enters the event queue: staged for the next flush to the disk, which
    // it shares with the other lines of this moment. What answers a sender for it waits for
    // whenDurable.
    virtual QueueResult stageLine(const QString &eventLine) = 0;
    // Calls done once every line staged so far is durable (true), or could not be made so
    // (false).
    virtual void whenDurable(std::function<void(bool)> done) = 0;
    // The event line of a raw receiver frame; empty when it makes none.
    virtual QString decodeFrame(const QString &frame) const = 0;

    // A receiver frame: decoded, and its line staged (stageLine) when the recorder can store
    // it. Only sinks that stand in for event processing in tests replace it.
    virtual QueueResult stageEvent(const QString &frame);
    // The line of a frame in line: NoEvent, Refused (the recorder could not store it) or
    // Queued (it may be queued).
    QueueResult eventLineOf(const QString &frame, QString *line) const;

    // Serial reception ended a frame on slot k: the repeater's head line for k is delivered.
    virtual void acknowledgeRepeater(int slot) = 0;
    // A device's receiver frame to forward out of the slot's serial port.
    virtual bool queueRepeater(int slot, const QString &frame) = 0;
};

} // namespace tulmo
