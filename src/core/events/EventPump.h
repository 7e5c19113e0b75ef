#pragma once

#include "core/events/EventRecorder.h"

#include <QObject>

#include <memory>
#include <set>

namespace tulmo {

class Clock;
class EventQueue;
class Prompt;
class RejectLog;

// Records the lines of the event queue in file order. A line leaves the queue only once its
// event is committed, or once it has been moved to the rejects file with its reason; while
// the database cannot take it (unreachable, a conflict, a failed commit) it stays at the head
// with those behind it. Lines are taken in batches that share one commit, and the file is
// rewritten once per batch for all the lines it took. Only lines already on the disk are
// recorded. While a pass (or the operator message it raised) is in progress, further calls do
// nothing.
//
// With the recorder's thread running, startPass() records in the background: one batch at a
// time is committed there, and the next one starts as soon as the previous one's lines have
// left the queue, while durable lines remain and the database takes them. The event loop only
// prepares each batch and applies what came of it.
//
// While the durable lines are more than one batch, each batch also looks ahead over the lines
// that follow: their alarms, emergencies and panics are recorded in its transaction, each with
// the lines of its account before it, so they do not wait behind the backlog. Such lines stay
// in the file until the head reaches them, and are then taken without being recorded again;
// the store keeps their numbers with its mark, so a restart knows them too.
class EventPump : public QObject {
    Q_OBJECT
public:
    // How long one pass may hold the event loop, so the window stays usable in a burst.
    static constexpr int kPassBudgetMs = 150;

    EventPump(EventQueue &queue, RejectLog &rejects, EventRecorder &recorder, Prompt *prompt,
              const Clock &clock, QObject *parent = nullptr);

    // Records the head line alone; returns what happened to it (Ignored when nothing ran).
    RecordResult recordNext();
    // Records one batch of the durable lines at the head (with those it takes ahead), waiting
    // for it; returns the number of lines that left the head of the queue.
    int recordBatch(int budgetMs = kPassBudgetMs);
    // Records lines until the queue is empty, the budget is spent or the database holds a
    // line back, waiting for each batch (a background pass in flight ends first). Returns the
    // number of lines that left the queue.
    int recordPass(int budgetMs = kPassBudgetMs);
    // Starts a background pass when none runs (without the recorder's thread, recordPass()).
    void startPass();
    // No batch starts from now on; the one in flight is waited for (the console stops).
    void stop();
    bool busy() const { return m_busy || m_inFlight; }
    // Whether the last pass was stopped by the database rather than by the end of the queue
    // or of its budget.
    bool heldBack() const { return m_heldBack; }

signals:
    void lineRejected(const QString &line, const QString &reason);
    // The database holds the head line back: raised once when that begins, with the reason
    // for the status bar, and once with an empty text when the queue moves again, so a
    // lasting fault is shown without being announced on every tick.
    void databaseStatusChanged(const QString &text);
    // A background pass ended: no durable line is left, or the database holds the head back.
    void passFinished();

private:
    using Rejected = QList<std::pair<QString, QString>>;
    RecordResult pass(int maxLines, const QDeadlineTimer &deadline, int *taken);
    // The batch of the durable lines at the head; false (with held when the database held it
    // back) when there is none to record.
    bool prepare(int maxLines, const QDeadlineTimer &deadline, RecordBatch *batch,
                 const std::shared_ptr<Rejected> &rejected, RecordResult *held);
    // What came of a batch: its lines leave the queue, the rejected are told, the warnings shown.
    RecordResult apply(const RecordBatch &batch, const Rejected &rejected);
    void postNext();
    bool dropLinesAlreadyTaken(RecordResult *why);
    void setHeldBack(bool held, const RecordResult &why);

    EventQueue &m_queue;
    RejectLog &m_rejects;
    EventRecorder &m_recorder;
    Prompt *m_prompt;
    const Clock &m_clock;
    bool m_busy = false;
    bool m_inFlight = false; // a background batch
    bool m_chain = false;    // a background pass goes on after its batch
    bool m_stopped = false;
    bool m_heldBack = false;
    bool m_markRead = false;
    // Numbers of the lines recorded ahead of the head that are still in the queue.
    std::set<qint64> m_ahead;
    QString m_statusText;
};

} // namespace tulmo
