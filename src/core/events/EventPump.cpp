#include "EventPump.h"

#include "core/common/Clock.h"
#include "core/common/DateFormats.h"
#include "core/common/Prompt.h"
#include "core/events/EventQueue.h"

#include <QPointer>

namespace tulmo {

namespace {

// Lines per transaction: enough that a burst shares few commits, few enough that a failed
// commit repeats little.
constexpr int kBatchLines = 500;
// How far past the head batch a backlog is searched for alarms, emergencies and panics.
constexpr qsizetype kLookAhead = 5000;

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

int EventPump::recordBatch(int budgetMs) {
    int taken = 0;
    pass(kBatchLines, QDeadlineTimer(budgetMs), &taken);
    return taken;
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
    QList<qint64> ahead;
    if (!m_recorder.readQueueMark(m_queue.identity(), &last, why, &ahead)) return false;
    if (last >= 0) m_queue.dropThrough(last);
    // The lines it recorded ahead of the head are taken when the head reaches them.
    m_ahead = std::set<qint64>(ahead.cbegin(), ahead.cend());
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

bool EventPump::prepare(int maxLines, const QDeadlineTimer &deadline, RecordBatch *batch,
                        const std::shared_ptr<Rejected> &rejected, RecordResult *held) {
    if (m_queue.isEmpty()) return false;
    if (!dropLinesAlreadyTaken(held)) {
        setHeldBack(true, *held);
        return false;
    }
    // What is recorded must be durable first: a staged line whose device has not been answered
    // yet would otherwise be stored twice if the console died before the flush. Written in the
    // background, the lines in flight wait for a later batch.
    if (!m_queue.writesInBackground() && !m_queue.flush()) return false;
    const qsizetype durable = std::min<qsizetype>(maxLines, m_queue.durableCount());
    if (durable <= 0) return false;
    batch->lines = m_queue.lines().mid(0, durable);
    batch->queueId = m_queue.identity();
    batch->firstNumber = m_queue.numberAt(0);
    m_ahead.erase(m_ahead.begin(), m_ahead.lower_bound(batch->firstNumber));
    for (auto n = m_ahead.cbegin(); n != m_ahead.cend() && *n < batch->firstNumber + durable; ++n)
        batch->ahead.append(*n);
    // A backlog: the lines that follow, but those already recorded ahead. Without one the
    // batch is the head alone and costs nothing more.
    const qsizetype all = m_queue.durableCount();
    if (maxLines > 1 && all > durable && !batch->queueId.isEmpty()) {
        const qsizetype end = std::min(all, durable + kLookAhead);
        batch->window.reserve(end - durable);
        batch->windowNumbers.reserve(end - durable);
        for (qsizetype i = durable; i < end; ++i) {
            const qint64 n = m_queue.numberAt(i);
            if (m_ahead.count(n)) continue;
            batch->window.append(m_queue.lines().at(i));
            batch->windowNumbers.append(n);
        }
    }
    batch->deadline = deadline;
    // Runs where the batch is recorded: the rejects file is the pump's alone.
    RejectLog *rejects = &m_rejects;
    const QString when = m_clock.now().toString(DateFormats::kDateTime);
    batch->reject = [rejects, rejected, when](const QString &line, const QString &reason) {
        if (!rejects->append(line, when, reason)) return false;
        rejected->append({line, reason});
        return true;
    };
    return true;
}

RecordResult EventPump::apply(const RecordBatch &batch, const Rejected &rejected) {
    // The store holds the mark of what it took: those lines leave the list even if the file
    // cannot be rewritten now (the mark drops them from it at the next start).
    if (batch.taken > 0) m_queue.takeFirst(batch.taken);
    m_ahead.insert(batch.jumped.cbegin(), batch.jumped.cend());
    m_ahead.erase(m_ahead.begin(), m_ahead.lower_bound(m_queue.numberAt(0)));
    const bool retry = !batch.results.isEmpty() &&
                       batch.results.last().status == RecordResult::Status::Retry;
    if (retry)
        setHeldBack(true, batch.results.last());
    else if (batch.taken > 0)
        setHeldBack(false, RecordResult{});
    for (const auto &[line, reason] : rejected)
        emit lineRejected(line, reason);
    // The schedule warnings come once their events are safe, and hold nothing back.
    for (const RecordResult &r : batch.jumpedResults + batch.results) {
        if (!r.warning.isEmpty() && m_prompt)
            m_prompt->alert(r.warning, QStringLiteral("Tulmo"), Prompt::Icon::Warning);
    }
    return batch.results.value(0);
}

RecordResult EventPump::pass(int maxLines, const QDeadlineTimer &deadline, int *taken) {
    *taken = 0;
    if (m_busy) return RecordResult{};
    // A background pass ends with the batch it has in flight.
    m_chain = false;
    while (m_inFlight)
        m_recorder.finishBackground();
    m_busy = true;
    RecordBatch batch;
    auto rejected = std::make_shared<Rejected>();
    RecordResult held;
    if (!prepare(maxLines, deadline, &batch, rejected, &held)) {
        m_busy = false;
        return held;
    }
    RecordBatch out;
    bool done = false;
    m_recorder.recordBatchInBackground(std::move(batch), [&out, &done](RecordBatch &b) {
        out = std::move(b);
        done = true;
    });
    while (!done)
        m_recorder.finishBackground();
    const RecordResult first = apply(out, *rejected);
    *taken = out.taken;
    m_busy = false;
    return first;
}

void EventPump::startPass() {
    if (m_stopped || busy()) return;
    if (!m_recorder.recordsInBackground()) {
        recordPass();
        emit passFinished();
        return;
    }
    m_chain = true;
    postNext();
}

void EventPump::stop() {
    m_stopped = true;
    m_chain = false;
    while (m_inFlight)
        m_recorder.finishBackground();
}

void EventPump::postNext() {
    RecordBatch batch;
    auto rejected = std::make_shared<Rejected>();
    RecordResult held;
    if (m_stopped || !m_chain ||
        !prepare(kBatchLines, QDeadlineTimer(kPassBudgetMs), &batch, rejected, &held)) {
        m_chain = false;
        emit passFinished();
        return;
    }
    m_inFlight = true;
    const QPointer<EventPump> self(this);
    m_recorder.recordBatchInBackground(std::move(batch), [self, rejected](RecordBatch &b) {
        if (!self) return;
        self->m_inFlight = false;
        self->apply(b, *rejected);
        if (b.taken > 0 && !self->m_heldBack && self->m_chain) {
            self->postNext();
            return;
        }
        self->m_chain = false;
        emit self->passFinished();
    });
}

} // namespace tulmo
