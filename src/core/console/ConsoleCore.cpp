#include "ConsoleCore.h"

#include "common/Clock.h"
#include "common/Prompt.h"
#include "common/Sound.h"
#include "settings/ConfigIni.h"
#include "store/Schema.h"
#include "common/AlertPause.h"

#include <QDir>

namespace tulmo {

ConsoleCore::ConsoleCore(QString programDir, const Clock &clock, Prompt *prompt, SoundOutput *sound,
                         QObject *parent)
    : QObject(parent)
    , m_dataDir(programDir + QStringLiteral("/Dados"))
    , m_clock(clock)
    , m_prompt(prompt)
    , m_sound(sound)
    , m_decoder(clock, m_settings) {
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &ConsoleCore::Timer_AtualizarTimer);
    m_timerInativos.setInterval(1000);
    connect(&m_timerInativos, &QTimer::timeout, this, &ConsoleCore::TimerInativosTimer);
}

ConsoleCore::~ConsoleCore() = default;

bool ConsoleCore::iniciar(QString *error) {
    if (!QDir().mkpath(m_dataDir)) {
        if (error)
            *error = QStringLiteral("Não foi possível criar a pasta de dados \"%1\".")
                         .arg(QDir::toNativeSeparators(m_dataDir));
        return false;
    }
    m_dm = std::make_unique<DM1>(m_dataDir);
    if (!m_dm->abrirBanco(error)) return false;
    Database &banco = m_dm->banco();
    schema::upgradeMainWindowStep(banco.principal(), m_clock.now());
    schema::ensureIndexes(banco.principal());

    m_repetidora =
        std::make_unique<EventQueue>(m_dataDir + QStringLiteral("/EventosRepetidora.dat"));
    m_fila = std::make_unique<EventQueue>(m_dataDir + QStringLiteral("/Eventos_Log.dat"));
    for (EventQueue *q : {m_repetidora.get(), m_fila.get()}) {
        QString qerr;
        if (q->load(&qerr) == EventQueue::LoadStatus::Unreadable && m_prompt)
            m_prompt->message(qerr, QStringLiteral("Tulmo"), Prompt::Icon::Error);
    }
    // Config.ini into the live settings, so they hold whether the settings dialog is shown
    // or not.
    const ConfigIni config(ConfigIni::caminho(m_dataDir));
    config.lerRepetidora(m_settings);
    config.lerSomEEmpresa(m_settings);
    m_rejeitados =
        std::make_unique<RejectLog>(m_dataDir + QStringLiteral("/Eventos_Rejeitados.dat"));
    m_gravador = std::make_unique<EventRecorder>(banco, m_clock, m_sound, m_dm.get());
    m_pump = std::make_unique<EventPump>(*m_fila, *m_rejeitados, *m_gravador, m_prompt, m_clock);
    m_serial = std::make_unique<SerialReception>(*m_dm, *this, m_clock);
    m_supervisao = std::make_unique<AccountSupervisor>(banco);
    m_repetidor = std::make_unique<EventRepeater>(*m_repetidora, *m_dm, m_settings);
    // Every recorded event is a sign of life: the scan starts again from the lowest account.
    connect(m_gravador.get(), &EventRecorder::semComunicacaoChanged, m_supervisao.get(),
            &AccountSupervisor::reabrirVarredura);
    connect(m_supervisao.get(), &AccountSupervisor::contaAguardandoArmar, this,
            &ConsoleCore::alertaRearme);
    connect(m_supervisao.get(), &AccountSupervisor::contaInativa, this, &ConsoleCore::alertaInativo);
    m_connectionRegistry = std::make_unique<ConnectionRegistry>(*m_dm, m_clock);
    m_deviceLink = std::make_unique<DeviceLink>(*m_dm, *m_connectionRegistry, *this, m_clock);
    return true;
}

ReceptionSink::QueueResult ConsoleCore::Decodifica_Eventos(const QString &message) {
    const QString line = m_decoder.Decodifica_Eventos(message);
    if (line.isEmpty()) return QueueResult::NoEvent;
    return enfileirarLinha(line) ? QueueResult::Queued : QueueResult::Failed;
}

bool ConsoleCore::enfileirarLinha(const QString &eventLine) {
    return m_fila && m_fila->append(eventLine);
}

void ConsoleCore::confirmarRepetidora(int slot) {
    if (m_repetidor) m_repetidor->confirmar(slot);
}

bool ConsoleCore::enfileirarRepetidora(int slot, const QString &frame) {
    return m_repetidora && m_repetidora->append(QString::number(slot) + QLatin1Char(',') + frame);
}

void ConsoleCore::encerrar() {
    stopTimer();
    // The engine closes every attachment of the process itself, faster than a detach of
    // each connection.
    Database::encerrarMotor();
}

void ConsoleCore::startTimer() {
    m_timer.start();
    m_timerInativos.start();
}
void ConsoleCore::stopTimer() {
    m_timer.stop();
    m_timerInativos.stop();
}

// The driver stays stopped while the operator reads the message, so the same account is not
// announced again meanwhile; reception goes on.
void ConsoleCore::alertaRearme(const QString &mensagem) {
    if (m_alertas) {
        m_alertas->alertaRearme(mensagem);
        return;
    }
    const AlertPause pausa(m_timer);
    if (m_sound) m_sound->playRepeating(m_settings.somRearme());
    if (m_prompt) m_prompt->message(mensagem, QStringLiteral("Tulmo"), Prompt::Icon::Warning);
}

void ConsoleCore::alertaInativo(const QString &mensagem) {
    if (m_alertas) {
        m_alertas->alertaInativo(mensagem);
        return;
    }
    const AlertPause pausa(m_timerInativos);
    if (m_sound) m_sound->playRepeating(m_settings.somRearme());
    if (m_prompt) m_prompt->message(mensagem, QStringLiteral("Tulmo"), Prompt::Icon::Warning);
    if (m_sound) m_sound->stopPlayer();
}

void ConsoleCore::TimerInativosTimer() {
    if (m_supervisao) m_supervisao->TimerInativosTimer(m_clock.now());
}

void ConsoleCore::Timer_AtualizarTimer() {
    if (!m_pump) return;
    const QDateTime now = m_clock.now();
    // The order of the driver's duties: status bar, rearm check, the due reply, one silent
    // device, the repeater, then one recording.
    m_connectionRegistry->updateConnectionCount();
    m_supervisao->verificarRearme(now);
    m_connectionRegistry->sendDueReply(now);
    m_connectionRegistry->expireSilentConnection(now);
    m_repetidor->iniciarSeOcioso();
    m_pump->gravarProximo();
}

} // namespace tulmo
