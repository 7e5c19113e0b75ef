#pragma once

#include "console/CommonServices.h"
#include "console/ReceptionControl.h"
#include "events/AccountSupervisor.h"
#include "events/EventDecoder.h"
#include "events/EventLine.h"
#include "events/EventPump.h"
#include "events/EventQueue.h"
#include "events/EventRecorder.h"
#include "events/EventRepeater.h"
#include "events/InterventionKinds.h"
#include "operators/CurrentOperator.h"
#include "reception/ConnectionRegistry.h"
#include "reception/Data_Modulo2.h"
#include "reception/Dc09Receiver.h"
#include "reception/DeviceLink.h"
#include "reception/ReceptionSink.h"
#include "reception/SerialReception.h"
#include "settings/LiveSettings.h"
#include "store/Store.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace tulmo {

class Clock;
class Prompt;
class SoundOutput;

// Presents the supervision alerts (sound, page, message). The main window is one; without it
// the core shows the message itself.
class SupervisionAlerts {
public:
    virtual ~SupervisionAlerts() = default;
    virtual void rearmAlert(const QString &messageText) = 0;
    virtual void inactivityAlert(const QString &messageText) = 0;
};

// What the console holds besides its windows: the reception data module with the database,
// the event queue and its rejects, the decoder, the recording and the one-second driver.
// The main window is built on top of it; tests drive it directly.
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

    // Decodes a raw receiver message and queues its line. Failed when the line could not be
    // made durable: the frame must then not be acknowledged.
    QueueResult Decodifica_Eventos(const QString &message) override;
    QueueResult stageEvent(const QString &message) override;
    bool queueLine(const QString &eventLine) override;
    QueueResult stageLine(const QString &eventLine) override;
    void whenDurable(std::function<void(bool)> done) override;
    void acknowledgeRepeater(int slot) override;
    bool queueRepeater(int slot, const QString &frame) override;

    // Reception, once start() succeeded: the receivers open as the RECEIVER table says, and
    // the one-second driver (replies, silent devices, the repeater, recording), the rearm
    // check and the inactivity scan start. Both executables call it as they start, whether a
    // window is ever shown or not; tests that drive the ticks by hand leave it out.
    void startReception();
    // The receivers were changed (the settings dialog): every slot follows its row again.
    // The operator's texts of the ports that two active receivers claim come back.
    QStringList applyReceivers() override;

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
    // Who presents the supervision alerts from now on (nullptr: the core itself).
    void setAlerts(SupervisionAlerts *alerts) { m_alerts = alerts; }
    // The kinds of intervention of Dados/int.txt, read again only when the file changes.
    InterventionKinds &interventionKinds() { return m_interventionKinds; }

    // What holds reception or recording back, for the status bar: the queue file that cannot
    // be written, the database file gone, the database's fault; empty while nothing does.
    const QString &statusText() const { return m_statusText; }
    // "Dados/Eventos_Log.dat".
    QString queueFileName() const;

signals:
    void statusTextChanged(const QString &text);

private:
    void rearmAlert(const QString &messageText);
    void inactivityAlert(const QString &messageText);
    bool confirmNewDatabase(QString *error);
    void loadQueues();
    // A failed write of the queue file is shown from the moment it happens until a write
    // succeeds; then it becomes an internal event, so the time acknowledgements stopped is
    // seen by an operator.
    void checkQueueWrites();
    void checkDatabaseFile();
    void updateStatusText();

    QString m_dataDir;
    const Clock &m_clock;
    Prompt *m_prompt;
    SoundOutput *m_sound;
    LiveSettings m_settings;
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
    std::unique_ptr<DeviceLink> m_deviceLink;
    std::unique_ptr<Dc09Receiver> m_dc09;

    QTimer m_timer;
    QTimer m_timerInactive;
    CurrentOperator m_operator;
    SupervisionAlerts *m_alerts = nullptr;
    int m_silentAlertsOpen = 0; // inactivity alerts shown or waiting in line
    InterventionKinds m_interventionKinds;

    QString m_queueFault; // why the queue file cannot be written; empty while it can
    QDateTime m_queueFaultSince;
    QString m_databaseFileGone;
    QString m_pumpStatus;
    QString m_statusText;
};

} // namespace tulmo
