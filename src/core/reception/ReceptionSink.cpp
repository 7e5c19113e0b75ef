#include "ReceptionSink.h"

#include "core/events/EventLine.h"

namespace tulmo {

ReceptionSink::QueueResult ReceptionSink::eventLineOf(const QString &frame, QString *line) const {
    *line = decodeFrame(frame);
    if (line->isEmpty()) return QueueResult::NoEvent;
    // What a sender is told was received is what the recorder stores.
    if (!eventline::unstorableReason(*line).isEmpty()) return QueueResult::Refused;
    return QueueResult::Queued;
}

ReceptionSink::QueueResult ReceptionSink::stageEvent(const QString &frame) {
    QString line;
    const QueueResult r = eventLineOf(frame, &line);
    return r == QueueResult::Queued ? stageLine(line) : r;
}

} // namespace tulmo
