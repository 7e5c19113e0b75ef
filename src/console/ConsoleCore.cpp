#include "ConsoleCore.h"

#include "common/Clock.h"
#include "common/Prompt.h"
#include "store/schema.h"

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
    Banco &banco = m_dm->banco();
    schema::upgradeMainWindowStep(banco.principal(), m_clock.now());
    schema::ensureIndexes(banco.principal());

    m_fila = std::make_unique<EventQueue>(m_dataDir + QStringLiteral("/Eventos_Log.dat"));
    QString qerr;
    if (m_fila->load(&qerr) == EventQueue::LoadStatus::Unreadable && m_prompt)
        m_prompt->message(qerr, QStringLiteral("Tulmo"), Prompt::Icon::Error);
    m_rejeitados =
        std::make_unique<RejectLog>(m_dataDir + QStringLiteral("/Eventos_Rejeitados.dat"));
    m_gravador = std::make_unique<GravadorEventos>(banco, m_clock, m_sound, m_dm.get());
    m_pump = std::make_unique<EventPump>(*m_fila, *m_rejeitados, *m_gravador, m_prompt, m_clock);
    return true;
}

bool ConsoleCore::Decodifica_Eventos(const QString &message) {
    const QString line = m_decoder.Decodifica_Eventos(message);
    if (line.isEmpty() || !m_fila) return false;
    return m_fila->append(line);
}

void ConsoleCore::startTimer() {
    m_timer.start();
}
void ConsoleCore::stopTimer() {
    m_timer.stop();
}

void ConsoleCore::Timer_AtualizarTimer() {
    if (m_pump) m_pump->gravarProximo();
}

} // namespace tulmo
