#include "ImportRecorder.h"

#include "core/common/Prompt.h"
#include "core/events/EventPump.h"
#include "core/events/EventQueue.h"
#include "core/events/EventRecorder.h"

#include <QPointer>

namespace tulmo {

namespace {
constexpr int kRejectsShown = 10;
} // namespace

QString ImportRecordSummary::message() const {
    QString text;
    if (!heldBack.isEmpty())
        text = QStringLiteral("Houve um erro ao gravar os eventos importados: %1\n\n"
                              "Foram gravados %2 de %3 eventos; os demais continuam na lista.")
                   .arg(heldBack)
                   .arg(stored)
                   .arg(total);
    else if (cancelled)
        text = QStringLiteral("Gravação interrompida: foram gravados %1 de %2 eventos; os demais "
                              "continuam na lista.")
                   .arg(stored)
                   .arg(total);
    if (!rejected.isEmpty()) {
        if (!text.isEmpty()) text += QLatin1String("\n\n");
        text += QStringLiteral("%1 evento(s) não podem ser gravados e continuam na lista:")
                    .arg(rejected.size());
        for (int i = 0; i < rejected.size() && i < kRejectsShown; ++i)
            text += QLatin1String("\n") + rejected.at(i);
        if (rejected.size() > kRejectsShown)
            text += QStringLiteral("\n… e mais %1.").arg(rejected.size() - kRejectsShown);
    }
    return text;
}

ImportRecorder::ImportRecorder(EventRecorder &recorder, Prompt *prompt, QObject *parent)
    : QObject(parent)
    , m_recorder(recorder)
    , m_prompt(prompt) {
    m_timer.setInterval(0);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ImportRecorder::slice);
}

void ImportRecorder::setLiveQueue(EventQueue *queue, EventPump *pump) {
    m_liveQueue = queue;
    m_pump = pump;
}

void ImportRecorder::start(const QStringList &lines) {
    m_timer.stop();
    m_lines = lines;
    m_next = 0;
    m_summary = ImportRecordSummary{};
    m_summary.total = int(lines.size());
    m_warned.clear();
    m_sinceAnnounce.start();
    m_sinceLivePass.invalidate();
    emit progress(0, m_summary.total);
    m_running = true;
    m_timer.start();
}

void ImportRecorder::cancel() {
    if (!running()) return;
    // A batch being committed is counted: its lines are stored whatever the operator says now.
    while (m_inFlight)
        m_recorder.finishBackground();
    if (!running()) return;
    m_summary.cancelled = true;
    finish();
}

void ImportRecorder::finishNow() {
    while (running()) {
        if (!m_inFlight) slice();
        if (m_inFlight) m_recorder.finishBackground();
    }
}

// Live lines waiting in the queue are recorded before the next batch of the import, as the
// console's own pass would record them.
void ImportRecorder::recordLiveBacklog() {
    if (!m_liveQueue || !m_pump || m_liveQueue->isEmpty() || m_pump->busy() || m_pump->heldBack())
        return;
    if (m_sinceLivePass.isValid() && !m_sinceLivePass.hasExpired(kLivePassEveryMs)) return;
    m_sinceLivePass.start();
    m_recorder.holdAnnouncements();
    m_pump->startPass();
}

// Each batch is committed on the recorder's thread; the next one is asked for once this one's
// outcome is taken, so the event loop only prepares batches and counts what they stored.
void ImportRecorder::slice() {
    if (!m_running || m_inFlight) return;
    recordLiveBacklog();
    if (m_next >= m_lines.size()) return finish();
    RecordBatch batch;
    batch.lines = m_lines.mid(m_next, kBatchLines);
    batch.deadline = QDeadlineTimer(kSliceMs);
    m_recorder.holdAnnouncements();
    m_inFlight = true;
    const QPointer<ImportRecorder> self(this);
    m_recorder.recordBatchInBackground(std::move(batch), [self](RecordBatch &b) {
        if (!self) return;
        self->m_inFlight = false;
        if (self->m_running) self->take(b);
    });
}

void ImportRecorder::take(const RecordBatch &batch) {
    for (int i = 0; i < batch.taken; ++i) {
        const RecordResult &r = batch.results.at(i);
        if (r.status == RecordResult::Status::Stored) {
            ++m_summary.stored;
            m_summary.storedLines << int(m_next) + i;
            if (!r.warning.isEmpty() && !m_warned.contains(r.warning) && m_prompt) {
                m_warned.insert(r.warning);
                m_prompt->alert(r.warning, QStringLiteral("Tulmo"), Prompt::Icon::Warning);
            }
        } else if (r.status == RecordResult::Status::Rejected) {
            m_summary.rejected << batch.lines.at(i) + QStringLiteral(": ") + r.reason;
        }
    }
    m_next += batch.taken;
    if (batch.results.size() > batch.taken &&
        batch.results.last().status == RecordResult::Status::Retry) {
        m_summary.heldBack = batch.results.last().reason;
        return finish();
    }
    if (m_sinceAnnounce.hasExpired(kAnnounceEveryMs)) {
        m_recorder.releaseAnnouncements();
        m_sinceAnnounce.restart();
    }
    emit progress(int(m_next), m_summary.total);
    if (m_next >= m_lines.size())
        finish();
    else
        m_timer.start();
}

void ImportRecorder::finish() {
    m_timer.stop();
    m_running = false;
    m_recorder.releaseAnnouncements();
    emit progress(int(m_next), m_summary.total);
    emit finished(m_summary);
}

} // namespace tulmo
