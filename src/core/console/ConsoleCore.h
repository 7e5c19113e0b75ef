#pragma once

#include "core/console/CommonServices.h"
#include "core/console/ConsoleServices.h"
#include "core/console/ReceptionControl.h"
#include "core/console/ReceptionLease.h"
#include "core/console/SharedAlerts.h"
#include "core/console/ReceptionStatus.h"
#include "core/console/SupervisionAlerts.h"
#include "core/events/AccountSupervisor.h"
#include "core/events/EventDecoder.h"
#include "core/events/EventLine.h"
#include "core/events/EventPump.h"
#include "core/events/EventQueue.h"
#include "core/events/EventRecorder.h"
#include "core/events/EventRepeater.h"
#include "core/events/InterventionKinds.h"
#include "core/events/SharedQueue.h"
#include "core/operators/CurrentOperator.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/Dc09Receiver.h"
#include "core/reception/DeviceLink.h"
#include "core/reception/ReceptionSink.h"
#include "core/reception/SerialReception.h"
#include "core/settings/LiveSettings.h"
#include "core/store/Store.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace tulmo {

class Clock;
class ReceiverWatch;
class Prompt;
class SoundOutput;

// Builds the console's services, wires them and starts them: the store, the reception data
// module, the event queue and its rejects, the decoder, the recording, supervision, the
// connected devices, the repeater, the alerts and the one-second driver. The main window and
// the headless service are given its services(); tests drive it directly.
class ConsoleCore : public QObject, public ReceptionSink, public ReceptionControl {
    Q_OBJECT
public:
    ConsoleCore(QString programDir, const Clock &clock, Prompt *prompt, SoundOutput *sound,
                QObject *parent = nullptr);
    ~ConsoleCore() override;

    // Start-up: the data folder (created when missing), the database with both upgrade
    // steps, the event queue. False with the operator's message in error when the console
    // cannot run. A folder that holds the console's files but no database has lost it: a new
    // empty one is created only when the operator says so.
    bool start(QString *error);

    // Decodes a raw receiver message and queues its line, waiting until it is on the disk, for
    // whoever needs the line there before going on. Failed when the line could not be made
    // durable.
    QueueResult Decodifica_Eventos(const QString &message);
    // Queues an event line and waits until it is on the disk.
    bool queueLine(const QString &eventLine);
    QString decodeFrame(const QString &frame) const override;
    QueueResult stageLine(const QString &eventLine) override;
    void whenDurable(std::function<void(bool)> done) override;
    void acknowledgeRepeater(int slot) override;
    bool queueRepeater(int slot, const QString &frame) override;

    // tulmo-recepcao: on a shared database it always takes part in reception (holder or
    // standby), whatever [Estacao] Recepcao says. Before startReception().
    void setAlwaysTakesPart(bool takesPart) { m_alwaysTakesPart = takesPart; }
    // On a shared database: who holds reception (null on one workstation), and the lines
    // committed to the server before their answers.
    ReceptionLease *lease() { return m_lease.get(); }
    ReceiverWatch &receiverWatch() { return *m_receiverWatch; }
    SharedQueue *sharedQueue() { return m_sharedQueue.get(); }
    // On a shared database: takes part in reception (or only follows who receives), without
    // starting the one-second driver; startReception() calls it. Tests that drive the ticks
    // by hand call it alone.
    void startLease();
    // Whether this process receives: always on one workstation; on a server, while it holds
    // the lease.
    bool receivesHere() const;
    // Reception, once start() succeeded: the receivers open as the RECEIVER table says, and
    // the one-second driver (replies, silent devices, the repeater, recording), the rearm
    // check and the inactivity scan start. Both executables call it as they start, whether a
    // window is ever shown or not; tests that drive the ticks by hand leave it out.
    void startReception();
    // The receivers were changed (the settings dialog): every slot follows its row again.
    // The operator's texts of the ports that two active receivers claim come back.
    QStringList applyReceivers() override;
    QString receivingElsewhere() const override;

    // Closes the connections and stops the database engine of this process; the queues
    // are on disk at every moment, so nothing else is saved.
    void shutdown();

    // Starts and stops the one-second driver.
    void startTimer();
    void stopTimer();
    // One tick of the driver.
    void Timer_AtualizarTimer();
    // One tick of the inactivity scan (its own one-second timer).
    void TimerInativosTimer();
    QTimer &timerUpdate() { return m_timer; }
    QTimer &timerInactive() { return m_timerInactive; }

    // The database, its connections and its schema: open once start has succeeded.
    Store &store() { return *m_store; }
    Database &database() { return m_store->database(); }
    // The database, the clock and the prompt, as the windows are given them.
    CommonServices common() { return {database(), m_clock, m_prompt}; }
    // Every service, once start has succeeded, for the main window and the service's output.
    ConsoleServices services();
    DM1 &dm() { return *m_dm; }
    EventQueue &eventQueue() { return *m_eventQueue; }
    EventQueue &repeaterQueue() { return *m_repeaterQueue; }
    RejectLog &rejects() { return *m_rejects; }
    EventRecorder &recorder() { return *m_recorder; }
    EventPump &pump() { return *m_pump; }
    LiveSettings &settings() { return m_settings; }
    SerialReception &serial() { return *m_serial; }
    AccountSupervisor &supervisor() { return *m_supervisor; }
    EventRepeater &repeater() { return *m_repeater; }
    ConnectionRegistry &connectionRegistry() { return *m_connectionRegistry; }
    DeviceLink &deviceLink() { return *m_deviceLink; }
    Dc09Receiver &dc09() { return *m_dc09; }
    const EventDecoder &decoder() const { return m_decoder; }
    const QString &dataDir() const { return m_dataDir; }
    const Clock &clock() const { return m_clock; }
    Prompt *prompt() const { return m_prompt; }
    SoundOutput *sound() const { return m_sound; }
    CurrentOperator &currentOperator() { return m_operator; }
    // Where the supervision alerts go.
    AlertDesk &alerts() { return m_alertDesk; }
    // The kinds of intervention of Dados/int.txt, read again only when the file changes.
    InterventionKinds &interventionKinds() { return m_interventionKinds; }

    // What holds reception or recording back, for the status bar.
    ReceptionStatus &status() { return m_status; }
    const QString &statusText() const { return m_status.text(); }
    // "Dados/Eventos_Log.dat".
    QString queueFileName() const;

private:
    bool confirmNewDatabase(QString *error);
    void loadQueues();
    // A failed write of the queue file is shown from the moment it happens until a write
    // succeeds; then it becomes an internal event, so the time acknowledgements stopped is
    // seen by an operator.
    void checkQueueWrites();
    void checkDatabaseFile();
    void updateStatusText();
    // A station of several workstations.
    void startShared(Database &database);
    void receptionAcquired(const QString &previous);
    void receptionReleased(const QString &why);
    void sharedTick();
    void databaseNotice(const QString &name);
    void subscribeToNotices();
    void takeShared();
    void watchReceivers(const QDateTime &now);
    void readRunaway();
    // Accounts whose test time has come go back to normal, with an internal event.
    void endDueTests(const QDateTime &now);
    void releaseQuietRunaway(const QDateTime &now);
    void followReopenedServer();

    QString m_dataDir;
    bool m_endingTests = false;
    const Clock &m_clock;
    Prompt *m_prompt;
    SoundOutput *m_sound;
    LiveSettings m_settings;
    AlertDesk m_alertDesk;
    ReceptionStatus m_status;
    EventDecoder m_decoder;
    std::unique_ptr<Store> m_store; // before every service that holds a connection of it
    std::unique_ptr<DM1> m_dm;
    std::unique_ptr<EventQueue> m_eventQueue;
    std::unique_ptr<EventQueue> m_repeaterQueue;
    std::unique_ptr<RejectLog> m_rejects;
    std::unique_ptr<EventRecorder> m_recorder;
    std::unique_ptr<EventPump> m_pump;
    std::unique_ptr<SerialReception> m_serial;
    std::unique_ptr<AccountSupervisor> m_supervisor;
    std::unique_ptr<EventRepeater> m_repeater;
    std::unique_ptr<ConnectionRegistry> m_connectionRegistry;
    std::unique_ptr<ReceiverWatch> m_receiverWatch;
    std::unique_ptr<DeviceLink> m_deviceLink;
    std::unique_ptr<Dc09Receiver> m_dc09;

    QTimer m_timer;
    QTimer m_timerInactive;
    CurrentOperator m_operator;
    InterventionKinds m_interventionKinds;

    QString m_queueFault; // why the queue file cannot be written; empty while it can
    QDateTime m_queueFaultSince;
    QString m_databaseFileGone;
    QString m_pumpStatus;
    StationSettings m_station;
    bool m_alwaysTakesPart = false;
    std::unique_ptr<SharedQueue> m_sharedQueue;
    std::unique_ptr<ReceptionLease> m_lease;
    std::unique_ptr<SharedAlerts> m_sharedAlerts;
    std::unique_ptr<SharedQueue> m_repeaterShared;
    // What a workstation that gave reception up left in the shared queue is recorded before
    // anything received here: a device's events stay in order across a takeover.
    bool m_sharedTaken = true;
    bool m_takingShared = false;
    QTimer m_noticeDelay; // database events of a burst refresh the lists once
    QTimer m_gprsNoticeDelay; // another workstation's changes to the modules, read once
    quint64 m_seenReopenings = 0;
    int m_reopenWait = 0;
};

} // namespace tulmo
