#pragma once

#include "events/EventRecorder.h"

#include <QObject>

namespace tulmo {

class Clock;
class EventQueue;
class Prompt;
class RejectLog;

// Records the lines of the event queue in file order. A line leaves the queue only once its
// event is committed, or once it has been moved to the rejects file with its reason; while
// the database cannot take it (unreachable, a conflict, a failed commit) it stays at the head
// with those behind it. Lines are taken in batches that share one commit, and the file is
// rewritten once per pass for all the lines the pass took. While a pass (or the operator
// message it raised) is in progress, further calls do nothing.
class EventPump : public QObject {
    Q_OBJECT
public:
    // How long one pass may hold the event loop, so the window stays usable in a burst.
    static constexpr int kPassBudgetMs = 150;

    EventPump(EventQueue &queue, RejectLog &rejects, EventRecorder &recorder, Prompt *prompt,
              const Clock &clock, QObject *parent = nullptr);

    // Records the head line alone; returns what happened to it (Ignored when nothing ran).
    RecordResult recordNext();
    // Records lines until the queue is empty, the budget is spent or the database holds a
    // line back. Returns the number of lines that left the queue.
    int recordPass(int budgetMs = kPassBudgetMs);
    bool busy() const { return m_busy; }
    // Whether the last pass was stopped by the database rather than by the end of the queue
    // or of its budget.
    bool heldBack() const { return m_heldBack; }

signals:
    void lineRejected(const QString &line, const QString &reason);
    // The database holds the head line back: raised once when that begins, with the reason
    // for the status bar, and once with an empty text when the queue moves again, so a
    // lasting fault is shown without being announced on every tick.
    void databaseStatusChanged(const QString &text);

private:
    RecordResult pass(int maxLines, const QDeadlineTimer &deadline, int *taken);
    bool dropLinesAlreadyTaken(RecordResult *why);
    void setHeldBack(bool held, const RecordResult &why);

    EventQueue &m_queue;
    RejectLog &m_rejects;
    EventRecorder &m_recorder;
    Prompt *m_prompt;
    const Clock &m_clock;
    bool m_busy = false;
    bool m_heldBack = false;
    bool m_markRead = false;
    QString m_statusText;
};

} // namespace tulmo
