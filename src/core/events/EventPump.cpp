#include "EventPump.h"

#include "common/Clock.h"
#include "common/DateFormats.h"
#include "common/Prompt.h"
#include "events/EventQueue.h"

namespace tulmo {

namespace {

// Lines per transaction: enough that a burst shares few commits, few enough that a failed
// commit repeats little.
constexpr int kBatchLines = 500;

} // namespace

EventPump::EventPump(EventQueue &queue, RejectLog &rejects, EventRecorder &recorder,
                     Prompt *prompt, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_queue(queue)
    , m_rejects(rejects)
    , m_recorder(recorder)
    , m_prompt(prompt)
    , m_clock(clock) {}

RecordResult EventPump::recordNext() {
    int taken = 0;
    return pass(1, QDeadlineTimer(QDeadlineTimer::Forever), &taken);
}

int EventPump::recordPass(int budgetMs) {
    const QDeadlineTimer deadline(budgetMs);
    int taken = 0;
    do {
        int n = 0;
        pass(kBatchLines, deadline, &n);
        taken += n;
        if (n == 0) break;
    } while (!deadline.hasExpired() && !m_queue.isEmpty());
    return taken;
}

// Lines the store took before the console last stopped (a crash between the commit and the
// rewrite of the file) leave the queue before anything is recorded.
bool EventPump::dropLinesAlreadyTaken(RecordResult *why) {
    if (m_markRead || m_queue.identity().isEmpty()) return m_markRead = true;
    qint64 last = -1;
    if (!m_recorder.readQueueMark(m_queue.identity(), &last, why)) return false;
    if (last >= 0) m_queue.dropThrough(last);
    return m_markRead = true;
}

void EventPump::setHeldBack(bool held, const RecordResult &why) {
    const QString text =
        !held ? QString()
        : why.statusText.isEmpty()
            ? QStringLiteral("Gravação de eventos aguardando o banco de dados: ") + why.reason
            : why.statusText;
    // A fault shown as it is (the database file gone) replaces the text of an error before it.
    if (held == m_heldBack && (!held || why.statusText.isEmpty() || text == m_statusText)) return;
    m_heldBack = held;
    m_statusText = text;
    emit databaseStatusChanged(text);
}

RecordResult EventPump::pass(int maxLines, const QDeadlineTimer &deadline, int *taken) {
    *taken = 0;
    if (m_busy || m_queue.isEmpty()) return RecordResult{};
    m_busy = true;
    RecordResult first;
    if (!dropLinesAlreadyTaken(&first)) {
        setHeldBack(true, first);
        m_busy = false;
        return first;
    }
    // What is recorded must be durable first: a staged line whose device has not been answered
    // yet would otherwise be stored twice if the console died before the flush.
    if (!m_queue.flush()) {
        m_busy = false;
        return RecordResult{};
    }
    RecordBatch batch;
    batch.lines = m_queue.lines().mid(0, maxLines);
    batch.queueId = m_queue.identity();
    batch.firstNumber = m_queue.numberAt(0);
    batch.deadline = deadline;
    QList<std::pair<QString, QString>> rejected;
    batch.reject = [&](const QString &line, const QString &reason) {
        const QString when = m_clock.now().toString(DateFormats::kDateTime);
        if (!m_rejects.append(line, when, reason)) return false;
        rejected.append({line, reason});
        return true;
    };
    m_recorder.recordBatch(batch);
    // The store holds the mark of what it took: those lines leave the list even if the file
    // cannot be rewritten now (the mark drops them from it at the next start).
    if (batch.taken > 0) m_queue.takeFirst(batch.taken);
    *taken = batch.taken;
    const bool retry = !batch.results.isEmpty() &&
                       batch.results.last().status == RecordResult::Status::Retry;
    if (retry)
        setHeldBack(true, batch.results.last());
    else if (batch.taken > 0)
        setHeldBack(false, RecordResult{});
    for (const auto &[line, reason] : std::as_const(rejected))
        emit lineRejected(line, reason);
    // The schedule warnings come once their events are safe, and hold nothing back.
    for (const RecordResult &r : std::as_const(batch.results)) {
        if (!r.warning.isEmpty() && m_prompt)
            m_prompt->alert(r.warning, QStringLiteral("Tulmo"), Prompt::Icon::Warning);
    }
    m_busy = false;
    return batch.results.value(0);
}

} // namespace tulmo
