#pragma once

#include "sim/Sent.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

namespace tulmo::sim {

// Where a module dials: the station's address, and the backup one it tries when that fails.
struct Address {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 0;
};

// A fleet of GPRS modules as the station sees them: each dials, answers the "&" with its
// identification ("&01" + IMEI + account) and waits for "&+"; then it sends a heartbeat ("@")
// now and then and its events ("5011 18" + account + "E130" + partition + zone + "\x14"), at
// most a few unanswered at a time, each answered by "+OK". A module whose connection fails or
// closes dials again, the backup address every other time, and sends again what was not
// answered.
//
// Module i is IMEI firstImei + i and account firstAccount + i % accounts (the last six and four
// digits); the zone of an event counts the events of its module (0, 1, …, modulo 1000), so that
// what the station recorded can be compared with what was sent, in order.
class GprsFleet : public QObject {
    Q_OBJECT
public:
    struct Settings {
        Address primary, backup;
        int modules = 10;
        int firstImei = 100001;  // six digits
        int firstAccount = 1001; // four digits
        // The device code of the identification: "02" a GPRS module; "00", "01" and "05" IP
        // receivers; "06" a panel. The protocol is the same; the station names each by it.
        QByteArray deviceCode = "01";
        int accounts = 10000;       // modules that share an account are this many apart
        double eventsPerSecond = 1; // over the whole fleet
        int heartbeatSeconds = 30;  // 0: no heartbeat
        int maxUnanswered = 8;
        // How long a module whose connection failed or closed waits before it dials again.
        int redialMs = 1000;
        // Modules dial this many at a time, a batch every dialEveryMs; with 0, a module dials
        // as soon as fewer than this many are waiting for the station's "&" (a dial unanswered
        // for 5 s stops counting), as fast as the station takes them. It should not overrun the
        // station's listener backlog.
        int dialTogether = 40;
        int dialEveryMs = 50;
        // The modules answer the "&" only once identify() is called, all of them at once.
        bool identifyWhenTold = false;
        // Scenarios. A burst: each module, once first identified, has this many events at once.
        int burstPerModule = 0;
        // A power cut: each module, once first identified, reports the AC loss ("E301") and,
        // this many seconds later, its restore ("R301").
        bool powerCut = false;
        int restoreAfterSeconds = 5;
        // Runaway panels: the first modules send this many events a second each, besides the
        // fleet's rate.
        int runawayModules = 0;
        double runawayPerSecond = 0;
        // A slow link: every frame goes out in pieces of this many bytes, 20 ms apart.
        int splitBytes = 0;

        // Modules dialing port on this machine that send only what they are told (report(),
        // beat()): no heartbeat and no events of their own.
        static Settings whenTold(quint16 port, int modules, int firstImei, int firstAccount) {
            Settings s;
            s.primary.port = port;
            s.modules = modules;
            s.firstImei = firstImei;
            s.firstAccount = firstAccount;
            s.eventsPerSecond = 0;
            s.heartbeatSeconds = 0;
            return s;
        }
    };
    using Sent = SentEvent;

    explicit GprsFleet(Settings s, QObject *parent = nullptr);
    ~GprsFleet() override;

    // Dials every module, a few at a time so the listener's backlog is never overrun.
    void start();
    // Stops sending new events; what was sent may still be answered.
    void stopEvents();
    void stop();

    // With identifyWhenTold: every module that has had its "&" identifies itself now, and the
    // others as soon as theirs comes.
    void identify();
    // Queues events of one module now, sent as the most unanswered allows.
    void report(int module, int events = 1, const QByteArray &codigo = "E130");
    // The fleet's rate from now on, spread over the first `modules` modules (0: all of them).
    void setEventsPerSecond(double perSecond, int modules = 0);
    // Every module beats every `seconds` from now on (0: never), the first beat of each at a
    // moment of its own within the first interval, so that the beats come evenly spread.
    void beat(int seconds);
    // Every identified module sends one last heartbeat and then nothing: no beat, no event, and
    // no new dial when the station closes its connection.
    void fallSilent();

    int identified() const;
    // Modules whose present connection has had the station's "&".
    int greeted() const;
    const std::vector<Sent> &sent() const { return m_sent; }
    int unanswered() const;
    // The answer times of the answered events, in ms, shortest first.
    QList<double> latenciesMs() const;
    // The earliest answer later than ms (since the epoch), 0 if none.
    qint64 firstAnswerAfter(qint64 ms) const;
    long heartbeats() const { return m_heartbeats; }

    // One module: its events so far, how many of them were answered (in order) and how many
    // went out at least once, how many times its nth event went out, and how many connections
    // it was identified on.
    int events(int module) const;
    int answered(int module) const;
    int sentAtMost(int module) const;
    int timesSent(int module, int nth) const;
    int connections(int module) const;

signals:
    void moduleIdentified(int module);
    // The station answered a module's identification with "-".
    void moduleRefused(int module);
    // An event (its index in sent()) goes out for the first time (told just before the write);
    // it was answered.
    void eventSent(qsizetype event);
    void eventAnswered(qsizetype event);

private:
    class Module;
    void tickEvents();
    void record(int module, const QByteArray &codigo = "E130");
    void identifiedFirst(int module);
    int together() const; // modules dialing at a time
    void dialMore();
    void dialAnswered(int round);

    Settings m_s;
    std::vector<std::unique_ptr<Module>> m_modules;
    std::vector<Sent> m_sent;
    std::vector<int> m_counts; // events of each module so far
    bool m_sending = false;
    bool m_told = false;
    double m_owed = 0;
    double m_runawayOwed = 0;
    qint64 m_lastTick = 0;
    int m_next = 0;
    int m_nextRunaway = 0;
    int m_rateModules = 0;
    long m_heartbeats = 0;
    // Paced dialing: modules dialed so far, and how many of them wait for their "&" (those of
    // this round; a round ends when none was answered for a while).
    int m_dialed = 0, m_waitingDials = 0, m_round = 0;
    bool m_dialScheduled = false;
    QTimer m_dialStall;
    friend class Module;
};

} // namespace tulmo::sim
