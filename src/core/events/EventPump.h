#pragma once

#include "events/EventRecorder.h"

#include <QObject>

namespace tulmo {

class Clock;
class EventQueue;
class Prompt;
class RejectLog;

// Records the head line of the event queue, one per call (the one-second driver calls it).
// A line leaves the queue only once its event is committed, or once it has been moved to
// the rejects file with its reason; while the database cannot take it (unreachable, a
// conflict, a failed commit) it stays at the head. While a recording (or the operator message it raised) is in progress, further
// calls do nothing.
class EventPump : public QObject {
    Q_OBJECT
public:
    EventPump(EventQueue &queue, RejectLog &rejects, EventRecorder &recorder, Prompt *prompt,
              const Clock &clock, QObject *parent = nullptr);

    // One recording step; returns what happened to the head line (Ignored when nothing ran).
    RecordResult recordNext();
    bool busy() const { return m_busy; }

signals:
    void lineRejected(const QString &line, const QString &reason);
    // The database holds the head line back: raised once when that begins, with the reason
    // for the status bar, and once with an empty text when the queue moves again, so a
    // lasting fault is shown without being announced on every tick.
    void databaseStatusChanged(const QString &text);

private:
    EventQueue &m_queue;
    RejectLog &m_rejects;
    EventRecorder &m_recorder;
    Prompt *m_prompt;
    const Clock &m_clock;
    bool m_busy = false;
    bool m_heldBack = false;
};

} // namespace tulmo
