#include "EventPump.h"

#include "common/Clock.h"
#include "common/Prompt.h"
#include "events/EventQueue.h"
#include "common/DateFormats.h"

namespace tulmo {

EventPump::EventPump(EventQueue &queue, RejectLog &rejects, EventRecorder &recorder,
                     Prompt *prompt, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_queue(queue)
    , m_rejects(rejects)
    , m_recorder(recorder)
    , m_prompt(prompt)
    , m_clock(clock) {}

RecordResult EventPump::recordNext() {
    if (m_busy || m_queue.isEmpty()) return RecordResult{};
    m_busy = true;
    const QString line = m_queue.head();
    RecordResult r = m_recorder.Grava_Evento_Banco_Dados(line);
    if (r.status == RecordResult::Status::Ignored) {
        r.status = RecordResult::Status::Rejected;
        r.reason = QStringLiteral("linha curta demais para ser um evento");
    }
    switch (r.status) {
    case RecordResult::Status::Stored:
        m_queue.removeHead();
        break;
    case RecordResult::Status::Rejected: {
        const QString when = m_clock.now().toString(DateFormats::kDateTime);
        // Only once the line is safe in the rejects file does it leave the queue.
        if (m_rejects.append(line, when, r.reason)) {
            m_queue.removeHead();
            emit lineRejected(line, r.reason);
        }
        break;
    }
    case RecordResult::Status::Retry:
        if (!m_heldBack) {
            m_heldBack = true;
            emit databaseStatusChanged(
                QStringLiteral("Gravação de eventos aguardando o banco de dados: ") + r.reason);
        }
        break;
    case RecordResult::Status::Ignored:
        break;
    }
    if (m_heldBack && r.status != RecordResult::Status::Retry) { // the database answers again
        m_heldBack = false;
        emit databaseStatusChanged(QString());
    }
    // The schedule warning comes once the event is safe, and holds nothing back.
    if (!r.warning.isEmpty() && m_prompt)
        m_prompt->alert(r.warning, QStringLiteral("Tulmo"), Prompt::Icon::Warning);
    m_busy = false;
    return r;
}

} // namespace tulmo
