#include "ConsoleCore.h"

#include "core/events/StationModes.h"
#include "core/operators/AuditTrail.h"

#include "core/events/RunawayRepository.h"

#include "core/common/Clock.h"
#include "core/common/DateFormats.h"
#include "core/common/DescriptorLimit.h"
#include "core/common/Prompt.h"
#include "core/common/Sound.h"
#include "core/settings/ConfigIni.h"
#include "core/store/Store.h"

#include "core/events/RecordingWorker.h"
#include "core/reception/ReceiverWatch.h"
#include "core/store/TransactionGuard.h"

#include <QDir>
#include <QPointer>
#include <QSqlQuery>
#include <QTimer>
#include <QSqlDriver>
#include <QFileInfo>

namespace tulmo {

ConsoleCore::ConsoleCore(QString programDir, const Clock &clock, Prompt *prompt, SoundOutput *sound,
                         QObject *parent)
    : QObject(parent)
    , m_dataDir(programDir + QStringLiteral("/Dados"))
    , m_clock(clock)
    , m_prompt(prompt)
    , m_sound(sound)
    , m_alertDesk(m_settings, prompt, sound)
    , m_decoder(clock, m_settings)
    , m_interventionKinds(m_dataDir + QStringLiteral("/int.txt")) {
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &ConsoleCore::Timer_AtualizarTimer);
    m_timerInactive.setInterval(1000);
    connect(&m_timerInactive, &QTimer::timeout, this, &ConsoleCore::TimerInativosTimer);
}

ConsoleCore::~ConsoleCore() {
    audit::setClock(nullptr);
}

bool ConsoleCore::start(QString *error) {
    // Devices hold a descriptor each; the usual soft limit would stop the listeners early.
    raiseDescriptorLimit();
    if (!QDir().mkpath(m_dataDir)) {
        if (error)
            *error = QStringLiteral("Não foi possível criar a pasta de dados \"%1\".")
                         .arg(QDir::toNativeSeparators(m_dataDir));
        return false;
    }
    // Config.ini says where the database is, then holds the settings of the rest.
    const ConfigIni config(ConfigIni::pathIn(m_dataDir));
    DatabaseLocation where;
    QString whereProblem;
    if (!config.readDatabase(m_dataDir, &where, &whereProblem)) {
        if (error) *error = whereProblem + QStringLiteral("\n\nO Tulmo será encerrado.");
        return false;
    }
    const bool shared = where.onServer();
    m_station = config.readStation();
    audit::setStation(m_station.name);
    audit::setClock(&m_clock);
    m_store = std::make_unique<Store>(std::move(where));
    if (!confirmNewDatabase(error)) return false;
    QString catalogueError;
    if (!m_store->open(m_clock, error, &catalogueError)) return false;
    if (!catalogueError.isEmpty() && m_prompt)
        m_prompt->message(QStringLiteral("Não foi possível gravar os códigos de eventos "
                                         "padrão no banco novo.\n\nMotivo: %1")
                              .arg(catalogueError),
                          QStringLiteral("Tulmo"), Prompt::Icon::Warning);
    Database &database = m_store->database();
    m_dm = std::make_unique<DM1>(m_dataDir, database);
    m_dm->portMonitor().setClock(&m_clock);
    // Two receivers on one port: the operator learns which, without reception waiting.
    connect(m_dm.get(), &DM1::portConflict, this, [this](const QString &text) {
        if (m_prompt) m_prompt->alert(text, QStringLiteral("Tulmo"), Prompt::Icon::Warning);
    });

    // Config.ini into the live settings, so they hold whether the settings dialog is shown
    // or not.
    const QString configProblem = config.readProblem();
    if (!configProblem.isEmpty() && m_prompt)
        m_prompt->message(configProblem +
                              QStringLiteral("\n\nO Tulmo usará as configurações padrão."),
                          QStringLiteral("Tulmo"), Prompt::Icon::Warning);
    config.readRepeater(m_settings);
    config.readSoundAndCompany(m_settings);
    config.readPendingAges(m_settings);
    m_recorder = std::make_unique<EventRecorder>(database, m_clock, m_sound, m_dm.get());
    m_recorder->runaway().setLimits(config.runawayLimits());
    // Flags kept from before the start (on a server, read again when reception comes here).
    m_recorder->runaway().syncFlagged(RunawayRepository::flagged(database.primary()));
    loadQueues();
    m_pump = std::make_unique<EventPump>(*m_eventQueue, *m_rejects, *m_recorder, m_prompt, m_clock);
    connect(m_pump.get(), &EventPump::databaseStatusChanged, this, [this](const QString &text) {
        m_pumpStatus = text;
        updateStatusText();
    });
    // Commits run on the recorder's own thread and connection from now on; the lists hear of a
    // pass when it ends, and once per tick while a long one goes on.
    m_recorder->startWorker();
    connect(m_pump.get(), &EventPump::passFinished, m_recorder.get(),
            &EventRecorder::releaseAnnouncements);
    m_serial = std::make_unique<SerialReception>(*m_dm, database, *this, m_clock);
    m_supervisor = std::make_unique<AccountSupervisor>(database);
    m_repeater = std::make_unique<EventRepeater>(*m_repeaterQueue, *m_dm, m_settings);
    connect(m_supervisor.get(), &AccountSupervisor::accountAwaitingArm, this,
            [this](const QString &text) {
                m_alertDesk.rearmAlert(text);
                if (m_sharedAlerts) m_sharedAlerts->post(SharedAlerts::Rearm, text, m_clock.now());
            });
    connect(m_supervisor.get(), &AccountSupervisor::inactiveAccount, this,
            [this](const QString &text) {
                m_alertDesk.inactivityAlert(text);
                if (m_sharedAlerts)
                    m_sharedAlerts->post(SharedAlerts::Inactivity, text, m_clock.now());
            });
    m_connectionRegistry = std::make_unique<ConnectionRegistry>(*m_dm, m_clock);
    m_receiverWatch = std::make_unique<ReceiverWatch>(*m_dm, *m_connectionRegistry);
    m_deviceLink = std::make_unique<DeviceLink>(*m_dm, database, *m_connectionRegistry, *this, m_clock);
    m_dc09 = std::make_unique<Dc09Receiver>(*m_dm, database, *m_connectionRegistry, *this,
                                            m_clock, m_settings);
    connect(m_deviceLink.get(), &DeviceLink::dc09Received, m_dc09.get(), &Dc09Receiver::takeTcp);
    // A sign of life moves the account out of "Sem comunicação" as a recorded event does.
    connect(m_dc09.get(), &Dc09Receiver::signOfLife, m_recorder.get(),
            &EventRecorder::silentChanged);
    if (shared) startShared(database);
    checkQueueWrites();
    return true;
}

void ConsoleCore::startShared(Database &database) {
    m_dm->setShared(true);
    m_sharedQueue = std::make_unique<SharedQueue>(database, *m_eventQueue, m_station.name);
    m_repeaterShared = std::make_unique<SharedQueue>(database, *m_repeaterQueue, m_station.name,
                                                     QStringLiteral("FILA_REPETIDORA"));
    connect(m_sharedQueue.get(), &SharedQueue::offlineChanged, this, [this] {
        m_dm->portMonitor().append(m_sharedQueue->offline()
                                       ? m_sharedQueue->offlineText()
                                       : QStringLiteral("Servidor do banco de dados acessível "
                                                        "novamente."));
        updateStatusText();
    });
    m_lease = std::make_unique<ReceptionLease>(*m_recorder, m_station);
    // The supervision runs where reception is; its alerts reach every other workstation.
    m_sharedAlerts = std::make_unique<SharedAlerts>(*m_recorder, m_station.name);
    connect(m_sharedAlerts.get(), &SharedAlerts::alert, this, [this](int kind, const QString &text) {
        if (kind == SharedAlerts::Rearm)
            m_alertDesk.rearmAlert(text);
        else
            m_alertDesk.inactivityAlert(text);
    });
    connect(m_lease.get(), &ReceptionLease::acquired, this, &ConsoleCore::receptionAcquired);
    connect(m_lease.get(), &ReceptionLease::released, this, &ConsoleCore::receptionReleased);
    connect(m_lease.get(), &ReceptionLease::statusChanged, this, &ConsoleCore::updateStatusText);
    connect(m_lease.get(), &ReceptionLease::takenOver, this,
            [this](const QString &station, const QDateTime &at) {
                const QString text = QStringLiteral("A estação %1 assumiu a recepção às %2.")
                                         .arg(station, at.toString(QStringLiteral("HH:mm:ss")));
                if (m_prompt)
                    m_prompt->alert(text, QStringLiteral("Tulmo"), Prompt::Icon::Warning);
                else
                    m_dm->portMonitor().append(text);
            });
    // The lists follow what the other workstations record and treat, on the database's
    // events rather than by reading them again every second.
    m_noticeDelay.setSingleShot(true);
    m_noticeDelay.setInterval(150);
    m_gprsNoticeDelay.setSingleShot(true);
    m_gprsNoticeDelay.setInterval(300);
    connect(&m_gprsNoticeDelay, &QTimer::timeout, this, [this] {
        GprsDirectory &modules = m_deviceLink->gprsDirectory();
        if (receivesHere() && modules.isLoaded()) modules.reload();
    });
    connect(&m_noticeDelay, &QTimer::timeout, m_recorder.get(), &EventRecorder::announceAll);
    m_seenReopenings = database.reopenings();
    subscribeToNotices();
    connect(database.primary().driver(), &QSqlDriver::notification, this,
            [this](const QString &name) { databaseNotice(name); });
}

void ConsoleCore::subscribeToNotices() {
    QSqlDriver *driver = m_store->database().primary().driver();
    for (const char *name :
         {"TULMO_EVENTOS", "TULMO_RECEPCAO", "TULMO_RECEPTORAS", "TULMO_ALERTAS", "TULMO_GPRS",
          "TULMO_DISPARO"}) {
        // A subscription of an attachment that is gone is dropped before it is made again.
        if (driver->subscribedToNotifications().contains(QLatin1String(name)))
            driver->unsubscribeFromNotification(QLatin1String(name));
        driver->subscribeToNotification(QLatin1String(name));
    }
}

// The server went away and came back: the main connection, and the subscriptions to the
// database's events that live on it, went with it. Both are set up again, and what the
// lists missed meanwhile is read.
void ConsoleCore::followReopenedServer() {
    Database &database = m_store->database();
    if (database.reopenings() == m_seenReopenings) return;
    if (m_reopenWait > 0) {
        --m_reopenWait;
        return;
    }
    if (database.ensureAlive() == Database::State::Unreachable) {
        m_reopenWait = 4; // asked again in a few seconds, not at every tick
        return;
    }
    m_seenReopenings = database.reopenings();
    subscribeToNotices();
    m_recorder->announceAll();
    m_lease->readAgain();
    m_sharedAlerts->readNew();
    if (receivesHere()) applyReceivers();
}

void ConsoleCore::databaseNotice(const QString &name) {
    if (name == QLatin1String("TULMO_EVENTOS")) {
        if (!m_noticeDelay.isActive()) m_noticeDelay.start();
    } else if (name == QLatin1String("TULMO_RECEPCAO")) {
        m_lease->readAgain();
    } else if (name == QLatin1String("TULMO_RECEPTORAS") && receivesHere()) {
        applyReceivers();
    } else if (name == QLatin1String("TULMO_ALERTAS")) {
        m_sharedAlerts->readNew();
    } else if (name == QLatin1String("TULMO_DISPARO")) {
        // A flag cleared at another workstation: the holder counts that account afresh.
        if (receivesHere()) readRunaway();
        emit m_recorder->runawayChanged();
    } else if (name == QLatin1String("TULMO_GPRS") && receivesHere()) {
        // A module blocked, unblocked or reviewed at another workstation: the modules in
        // memory are read again, once for a burst of changes.
        if (!m_gprsNoticeDelay.isActive()) m_gprsNoticeDelay.start();
    }
}

QString ConsoleCore::receivingElsewhere() const {
    if (receivesHere()) return {};
    return m_lease->holder().isEmpty() ? QStringLiteral("nenhuma estação") : m_lease->holder();
}

void ConsoleCore::startLease() {
    if (!m_lease) return;
    m_lease->start(m_alwaysTakesPart || m_station.receives);
    // Where the alerts written from now on start; the ones before were shown already.
    m_sharedAlerts->readNew();
    updateStatusText();
}

bool ConsoleCore::receivesHere() const {
    return !m_lease || m_lease->role() == ReceptionLease::Role::Holder;
}

void ConsoleCore::receptionAcquired(const QString &previous) {
    m_sharedTaken = false;
    readRunaway();
    // From now on this process records its own lines: they stay in its queue.
    m_sharedQueue->setReleasesShared(false);
    m_repeaterShared->setReleasesShared(false);
    const QPointer<ConsoleCore> self(this);
    m_repeaterShared->adoptLeft([self] { return self && self->receivesHere(); });
    // Kept with the events, for the operators and the station's records.
    if (!previous.isEmpty())
        m_recorder->raiseInternal(InternalEvent::stationNotice(
            QStringLiteral("Recepção assumida por %1 (antes: %2)").arg(m_station.name, previous),
            m_clock.now()));
    m_connectionRegistry->replies().clear();
    m_dm->portMonitor().append(
        QStringLiteral("Esta estação (%1) recebe a partir de agora.").arg(m_station.name));
    m_dm->Realizar_Atualizacoes();
    // What other workstations changed while this one did not receive.
    GprsDirectory &modules = m_deviceLink->gprsDirectory();
    if (modules.isLoaded()) modules.reload();
    updateStatusText();
}

void ConsoleCore::receptionReleased(const QString &why) {
    m_receiverWatch->reset();
    m_repeater->stop();
    m_repeaterShared->setRemovesLeft(false);
    m_dm->closeAll();
    m_connectionRegistry->closeAll();
    m_dm->portMonitor().append(
        QStringLiteral("Esta estação (%1) deixou de receber: %2.").arg(m_station.name, why));
    updateStatusText();
}

// The shared station's part of the tick: the lease, the lines the server lacks, and what
// other workstations left, before this one's own lines are recorded.
void ConsoleCore::sharedTick() {
    m_lease->tick();
    m_sharedAlerts->setReceiving(receivesHere());
    m_sharedAlerts->flush(m_clock.now());
    followReopenedServer();
    // Lines leave the local queue once on the server only where nothing records them: a batch
    // still in flight from the time this process received takes its lines from the head.
    m_sharedQueue->setReleasesShared(!receivesHere() && !m_pump->busy());
    m_sharedQueue->push();
    m_repeaterShared->setReleasesShared(!receivesHere());
    m_repeaterShared->push();
    if (!receivesHere()) return;
    m_dm->retryRefused();
    takeShared();
}

// What other workstations left in the shared queue is recorded before this one's own lines,
// a batch after the other without waiting for the next tick; a batch that failed waits for it.
void ConsoleCore::takeShared() {
    if (m_takingShared || !receivesHere()) return;
    m_takingShared = true;
    const QPointer<ConsoleCore> self(this);
    m_recorder->recordSharedInBackground(m_eventQueue->identity(), m_eventQueue->numberAt(0),
                                         m_rejects.get(), [self](int taken, bool more) {
                                             if (!self) return;
                                             self->m_takingShared = false;
                                             if (!more) self->m_sharedTaken = true;
                                             else if (taken > 0) self->takeShared();
                                         });
}

bool ConsoleCore::confirmNewDatabase(QString *error) {
    const Database &database = m_store->database();
    if (!database.host().isEmpty() || QFileInfo::exists(database.databaseFile())) return true;
    QStringList found;
    for (const char *name :
         {"Eventos_Log.dat", "EventosRepetidora.dat", "Eventos_Rejeitados.dat", "Config.ini"}) {
        if (QFileInfo::exists(m_dataDir + QLatin1Char('/') + QLatin1String(name)))
            found << QLatin1String(name);
    }
    if (found.isEmpty()) return true; // a new installation
    const QString shown = QDir::toNativeSeparators(QStringLiteral("Dados/TULMO.FDB"));
    const QString question =
        QStringLiteral("O banco de dados %1 não foi encontrado, mas a pasta Dados tem arquivos "
                       "de uma instalação em uso (%2): ele pode ter sido apagado ou movido.\n\n"
                       "Deseja criar um banco de dados novo e vazio? As contas, os códigos de "
                       "eventos e os eventos gravados não estarão nele.")
            .arg(shown, found.join(QStringLiteral(", ")));
    if (m_prompt &&
        m_prompt->question(question, QStringLiteral("Tulmo"), Prompt::Icon::Warning, false))
        return true;
    if (error)
        *error = QStringLiteral("O banco de dados %1 não foi encontrado, e nenhum banco novo foi "
                                "criado.\n\nColoque o banco de dados em \"%2\" e abra o Tulmo "
                                "novamente. O Tulmo será encerrado.")
                     .arg(shown, QDir::toNativeSeparators(database.databaseFile()));
    return false;
}

void ConsoleCore::loadQueues() {
    // On a server its frames are numbered too, for the server's copy.
    m_repeaterQueue = std::make_unique<EventQueue>(
        m_dataDir + QStringLiteral("/EventosRepetidora.dat"),
        m_store->database().location().onServer() ? EventQueue::Numbering::Numbered
                                                  : EventQueue::Numbering::None);
    m_eventQueue = std::make_unique<EventQueue>(m_dataDir + QStringLiteral("/Eventos_Log.dat"),
                                                EventQueue::Numbering::Numbered);
    m_rejects = std::make_unique<RejectLog>(m_dataDir + QStringLiteral("/Eventos_Rejeitados.dat"));
    const QDateTime now = m_clock.now();
    for (EventQueue *q : {m_repeaterQueue.get(), m_eventQueue.get()}) {
        QString qerr;
        RejectLog *torn = q == m_eventQueue.get() ? m_rejects.get() : nullptr;
        if (q->load(&qerr, torn, now.toString(DateFormats::kDateTime)) ==
                EventQueue::LoadStatus::Unreadable &&
            m_prompt)
            m_prompt->message(qerr, QStringLiteral("Tulmo"), Prompt::Icon::Error);
    }
    // The queue files are written off the event loop from now on: no device waits for the
    // disk, and each answer waits for its line's flush.
    m_eventQueue->writeInBackground();
    m_eventQueue->setWriteListener([this] { checkQueueWrites(); });
    m_repeaterQueue->writeInBackground();
    // A torn line went to the rejects file: its sender was never answered, but an operator
    // hears of it all the same.
    if (!m_eventQueue->tornLine().isEmpty())
        m_recorder->raiseInternal(InternalEvent::rejectedLine(
            m_eventQueue->tornLine(), QStringLiteral("linha incompleta na fila"), now));
}

QString ConsoleCore::queueFileName() const {
    return QDir::toNativeSeparators(QStringLiteral("Dados/Eventos_Log.dat"));
}

void ConsoleCore::checkQueueWrites() {
    if (!m_eventQueue) return;
    const QString reason = m_eventQueue->writeFault();
    if (reason == m_queueFault) return;
    auto text = [this](const QString &why) {
        return QStringLiteral("Não foi possível gravar %1: %2").arg(queueFileName(), why);
    };
    if (reason.isEmpty()) {
        // Short enough for the description's 60 characters; the event's date is when it began.
        m_recorder->raiseInternal(InternalEvent::queueWriteFault(
            QStringLiteral("Falha ao gravar Eventos_Log.dat: ") + m_queueFault, m_queueFaultSince));
        m_dm->portMonitor().append(QStringLiteral("%1 voltou a ser gravado.").arg(queueFileName()));
    } else {
        if (m_queueFault.isEmpty()) m_queueFaultSince = m_clock.now();
        m_dm->portMonitor().append(text(reason));
    }
    m_queueFault = reason;
    updateStatusText();
}

void ConsoleCore::checkDatabaseFile() {
    QString gone;
    if (m_store->database().fileStillOpen(&gone)) gone.clear();
    if (gone == m_databaseFileGone) return;
    m_databaseFileGone = gone;
    if (!gone.isEmpty()) m_dm->portMonitor().append(gone);
    updateStatusText();
}

void ConsoleCore::updateStatusText() {
    QStringList parts;
    if (!m_queueFault.isEmpty())
        parts
            << QStringLiteral("Não foi possível gravar %1: %2").arg(queueFileName(), m_queueFault);
    if (!m_databaseFileGone.isEmpty()) parts << m_databaseFileGone;
    if (!m_pumpStatus.isEmpty() && m_pumpStatus != m_databaseFileGone) parts << m_pumpStatus;
    if (m_sharedQueue && m_sharedQueue->offline()) parts << m_sharedQueue->offlineText();
    m_status.setText(parts.join(QStringLiteral(" — ")));
    if (m_lease) m_status.setHolderText(m_lease->statusText());
}

QString ConsoleCore::decodeFrame(const QString &frame) const {
    return m_decoder.Decodifica_Eventos(frame);
}

ReceptionSink::QueueResult ConsoleCore::Decodifica_Eventos(const QString &message) {
    QString line;
    const QueueResult r = eventLineOf(message, &line);
    if (r != QueueResult::Queued) return r;
    return queueLine(line) ? QueueResult::Queued : QueueResult::Failed;
}

ReceptionSink::QueueResult ConsoleCore::stageLine(const QString &eventLine) {
    if (!m_eventQueue) return QueueResult::Failed;
    // The writer flushes it with whatever else is staged meanwhile; a write that fails takes it
    // out again before anyone is answered for it.
    const bool staged = m_eventQueue->stage(eventLine);
    checkQueueWrites();
    return staged ? QueueResult::Queued : QueueResult::Failed;
}

void ConsoleCore::whenDurable(std::function<void(bool)> done) {
    if (!m_eventQueue) {
        done(false);
        return;
    }
    if (!m_sharedQueue) {
        m_eventQueue->whenDurable(std::move(done));
        return;
    }
    // On a server, on the server too before the answer leaves.
    m_eventQueue->whenDurable([this, done = std::move(done)](bool ok) mutable {
        if (!ok || !m_sharedQueue) return done(ok);
        m_sharedQueue->whenShared(std::move(done));
    });
}

bool ConsoleCore::queueLine(const QString &eventLine) {
    if (!m_eventQueue) return false;
    const bool queued = m_eventQueue->append(eventLine);
    checkQueueWrites();
    return queued;
}

void ConsoleCore::acknowledgeRepeater(int slot) {
    if (m_repeater) m_repeater->acknowledge(slot);
}

bool ConsoleCore::queueRepeater(int slot, const QString &frame) {
    // A slot without an event output repeats nothing: its lines would only wait out their
    // attempts in front of the others.
    if (m_dm && !m_dm->hasEventOutput(slot)) return true;
    // Staged: the frame's answer waits for its event line, not for the repeater's copy.
    return m_repeaterQueue && m_repeaterQueue->stage(QString::number(slot) + QLatin1Char(',') + frame);
}

ConsoleServices ConsoleCore::services() {
    return {common(),          m_settings,           *m_dm,        *this,
            *m_connectionRegistry, *m_deviceLink,    m_dc09->keys(), *m_eventQueue,
            *m_pump,           *m_recorder,          *m_supervisor, m_interventionKinds,
            m_operator,        m_alertDesk,          m_status,     m_timer,
            m_sound,           m_dataDir};
}

void ConsoleCore::startReception() {
    if (!m_pump) return; // not started
    m_connectionRegistry->replies().clear();
    if (m_lease) {
        // The receivers open once this process holds reception.
        startLease();
    } else {
        m_dm->Realizar_Atualizacoes();
    }
    startTimer();
}

QStringList ConsoleCore::applyReceivers() {
    // Only where reception is: another workstation's receivers stay with it.
    return m_dm && receivesHere() ? m_dm->Realizar_Atualizacoes() : QStringList();
}

void ConsoleCore::shutdown() {
    stopTimer();
    if (m_lease) m_lease->stop();
    if (m_sharedQueue) m_sharedQueue->finish();
    if (m_repeaterShared) m_repeaterShared->finish();
    // The batch being committed ends, then the recorder's thread and connection.
    if (m_pump) m_pump->stop();
    if (m_recorder) m_recorder->stopWorker();
    if (m_eventQueue) m_eventQueue->flush();
    // The engine closes every attachment of the process itself, faster than a detach of
    // each connection.
    Database::shutdownEngine();
}

void ConsoleCore::startTimer() {
    m_timer.start();
    m_timerInactive.start();
}
void ConsoleCore::stopTimer() {
    m_timer.stop();
    m_timerInactive.stop();
}

// A receiver that fell silent, or spoke again, is a pending event of the station and, lost,
// sounds as an alarm does until silenced.
// The flags the station keeps, into the watch where events are recorded: at the start, at a
// takeover, after a change elsewhere.
void ConsoleCore::readRunaway() {
    bool ok = false;
    const QHash<QString, QDateTime> held =
        RunawayRepository::flagged(m_store->database().primary(), &ok);
    if (!ok) return;
    // A flag raised here a moment ago and not in the table may be a recording not committed
    // yet, or a flag an operator cleared at once elsewhere: the table says which once the
    // grace is over.
    if (m_recorder->runaway().syncFlagged(held) == 0) return;
    auto *again = findChild<QTimer *>(QStringLiteral("runawayReadAgain"), Qt::FindDirectChildrenOnly);
    if (!again) {
        again = new QTimer(this);
        again->setObjectName(QStringLiteral("runawayReadAgain"));
        again->setSingleShot(true);
        again->setInterval(int(RunawayWatch::kSyncGraceMs) + 1000);
        connect(again, &QTimer::timeout, this, [this] {
            if (receivesHere()) readRunaway();
        });
    }
    if (!again->isActive()) again->start();
}

void ConsoleCore::releaseQuietRunaway(const QDateTime &now) {
    const QStringList quiet = m_recorder->runaway().releaseQuiet(now);
    for (const QString &conta : quiet) {
        // The row may stay if the database does not answer now: the next start or takeover
        // reads it back as flagged, and the quiet account is released again.
        RunawayRepository::remove(m_store->database().primary(), conta);
        m_recorder->raiseInternal(InternalEvent::stationNotice(
            QStringLiteral("Conta %1 saiu do disparo: %2 min sem sinais")
                .arg(conta.trimmed())
                .arg(RunawayWatch::kQuietMinutes),
            now));
    }
    if (!quiet.isEmpty()) emit m_recorder->runawayChanged();
}

// On the recording thread, so that a server out of reach never holds the window.
void ConsoleCore::endDueTests(const QDateTime &now) {
    if (m_endingTests) return;
    m_endingTests = true;
    const QPointer<ConsoleCore> self(this);
    m_recorder->runInBackground([self, now](RecordingLink &link) -> std::function<void()> {
        const QStringList ended =
            link.db().isOpen() ? stationModes::expireTests(link.db(), now) : QStringList();
        return [self, ended, now] {
            if (!self) return;
            self->m_endingTests = false;
            for (const QString &conta : ended)
                self->m_recorder->raiseInternal(InternalEvent::stationNotice(
                    QStringLiteral("Conta %1 saiu do teste: tempo de teste encerrado").arg(conta),
                    now));
        };
    });
}

void ConsoleCore::watchReceivers(const QDateTime &now) {
    for (const ReceiverWatch::Change &c : m_receiverWatch->check(now)) {
        m_recorder->raiseInternal(InternalEvent::stationNotice(c.text, now));
        m_dm->portMonitor().append(c.text);
        if (c.lost && m_sound) m_sound->playRepeating(m_settings.rearmSound());
    }
}

void ConsoleCore::TimerInativosTimer() {
    if (m_supervisor && receivesHere()) m_supervisor->TimerInativosTimer(m_clock.now());
}

void ConsoleCore::Timer_AtualizarTimer() {
    if (!m_pump) return;
    const QDateTime now = m_clock.now();
    if (m_lease) {
        sharedTick();
        if (!receivesHere()) {
            checkQueueWrites();
            m_recorder->recordInternalInBackground();
            return;
        }
    }
    // The order of the driver's duties: rearm check, the due replies, the silent devices, the
    // repeater, then the recording of what is queued.
    m_supervisor->checkRearm(now);
    // Every reply waiting there acknowledges lines already on the disk: it was queued once they were.
    m_connectionRegistry->sendDueReplies(now);
    m_connectionRegistry->expireSilentConnections(now);
    m_dm->reopenFailedSerial();
    watchReceivers(now);
    releaseQuietRunaway(now);
    endDueTests(now);
    m_repeater->startIfIdle();
    // A pass still recording a burst tells the lists once per tick; one that starts now tells
    // them when it ends. Nothing here waits for a commit.
    if (m_pump->busy()) m_recorder->releaseAnnouncements();
    m_recorder->holdAnnouncements();
    if (m_sharedTaken) m_pump->startPass();
    checkQueueWrites();
    checkDatabaseFile();
    m_recorder->recordInternalInBackground();
    if (!m_pump->busy()) m_recorder->releaseAnnouncements();
}

} // namespace tulmo
