#include "HeadlessOutput.h"

#include "core/common/Clock.h"
#include "core/common/DateFormats.h"
#include "core/console/ReceptionStatus.h"
#include "core/console/SupervisionAlerts.h"
#include "core/events/EventRecorder.h"
#include "core/events/EventRepository.h"
#include "core/reception/Data_Modulo2.h"
#include "core/store/Database.h"
#include "core/reception/LineLog.h"

#include <QRegularExpression>

namespace tulmo {

namespace {
QString oneLine(const QString &text) {
    static const QRegularExpression breaks(QStringLiteral("\\s*[\\r\\n]+\\s*"));
    return QString(text).replace(breaks, QStringLiteral(" ")).trimmed();
}

QString pendingText(const EventRepository::PendingEvent &e) {
    QString text = QStringLiteral("Evento pendente: %1 %2 — %3 %4")
                       .arg(e.conta, e.cliente.trimmed(), e.codigoAlarme, e.descricao.trimmed());
    text += QStringLiteral(", partição %1").arg(e.numeroParticao);
    if (!e.nomeParticao.trimmed().isEmpty()) text += QLatin1Char(' ') + e.nomeParticao.trimmed();
    if (!e.argumento.isEmpty()) text += QStringLiteral(", zona/usuário ") + e.argumento;
    if (e.data.isValid()) text += QStringLiteral(", de ") + e.data.toString(DateFormats::kDateTime);
    return text;
}
} // namespace

HeadlessOutput::HeadlessOutput(const Clock &clock, std::FILE *out, std::FILE *err,
                               QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_out(out)
    , m_err(err) {}

void HeadlessOutput::write(std::FILE *stream, const QDateTime &when, const QString &text) {
    const QByteArray bytes =
        (when.toString(DateFormats::kDateTime) + QLatin1Char(' ') + oneLine(text)).toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void HeadlessOutput::line(const QString &text) {
    write(m_out, m_clock.now(), text);
}

void HeadlessOutput::line(const QDateTime &when, const QString &text) {
    write(m_out, when, text);
}

void HeadlessOutput::error(const QString &text) {
    write(m_err, m_clock.now(), text);
}

void HeadlessOutput::watch(const ConsoleServices &services) {
    m_database = &services.common.database;
    services.alerts.setPresenter(this);
    connect(&services.dm.portMonitor(), &LineLog::entryAdded, this,
            [this](const LineLog::Entry &e) { line(e.time, LineLog::printable(e.text)); });
    connect(&services.status, &ReceptionStatus::changed, this, &HeadlessOutput::statusChanged);
    if (!services.status.text().isEmpty()) statusChanged(services.status.text());
    connect(&services.status, &ReceptionStatus::holderChanged, this,
            [this](const QString &text) { line(text); });
    if (!services.status.holderText().isEmpty()) line(services.status.holderText());
    connect(&services.recorder, &EventRecorder::pendingRecorded, this,
            &HeadlessOutput::tellNewPending);
    // What waited before the start is counted, as the console's window shows it; what is
    // recorded from now on is told one by one.
    QSqlDatabase db = m_database->primary();
    m_lastPending = std::max<qint64>(EventRepository::lastSequence(db), 0);
    tellPendingCount();
}

void HeadlessOutput::tellPendingCount() {
    const int n = EventRepository::pendingCount(m_database->primary());
    if (n > EventRepository::kListRows)
        line(QStringLiteral("Eventos pendentes: mais de %1").arg(EventRepository::kListRows));
    else if (n > 0)
        line(QStringLiteral("Eventos pendentes: %1").arg(n));
}

void HeadlessOutput::statusChanged(const QString &text) {
    if (text == m_status) return;
    m_status = text;
    line(text.isEmpty() ? QStringLiteral("Falha resolvida: a recepção e a gravação seguem.")
                        : QStringLiteral("Falha: ") + text);
}

void HeadlessOutput::tellNewPending() {
    if (!m_database) return;
    bool ok = false;
    const QList<EventRepository::PendingEvent> rows = EventRepository::pendingAfter(
        m_database->primary(), m_lastPending, kPendingPerBurst + 1, &ok);
    if (!ok) return; // told at the next announcement, once the database answers
    for (int i = 0; i < rows.size() && i < kPendingPerBurst; ++i)
        line(pendingText(rows[i]));
    if (rows.size() > kPendingPerBurst) {
        // A flood (a region coming back) is counted rather than told line by line.
        tellPendingCount();
        m_lastPending = std::max(EventRepository::lastSequence(m_database->primary()),
                                 rows[kPendingPerBurst - 1].sequencia);
    } else if (!rows.isEmpty()) {
        m_lastPending = rows.last().sequencia;
    }
}

void HeadlessOutput::message(const QString &text, const QString &, Icon) {
    line(text);
}

void HeadlessOutput::alert(const QString &text, const QString &, Icon,
                           std::function<void()> closed) {
    line(text);
    if (closed) closed();
}

bool HeadlessOutput::question(const QString &text, const QString &, Icon, bool) {
    line(text + QStringLiteral(" — Sem operador para responder: Não."));
    return false;
}

void HeadlessOutput::rearmAlert(const QString &messageText) {
    line(QStringLiteral("Alerta: ") + messageText);
}

void HeadlessOutput::inactivityAlert(const QString &messageText) {
    line(QStringLiteral("Alerta: ") + messageText);
}

} // namespace tulmo
