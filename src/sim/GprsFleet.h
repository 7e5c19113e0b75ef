#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

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
class GprsFleet : public QObject {
    Q_OBJECT
public:
    struct Settings {
        Address primary, backup;
        int modules = 10;
        int firstImei = 100001;  // six digits
        int firstAccount = 1001; // four digits
        double eventsPerSecond = 1; // over the whole fleet
        int heartbeatSeconds = 30;
        int maxUnanswered = 8;
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
    };
    // One event sent: which, when, and when it was answered (0: never).
    struct Sent {
        QByteArray conta;
        QByteArray codigo = "E130"; // qualifier and Contact ID event code
        int zona = 0;
        qint64 sentMs = 0, answeredMs = 0;
        int times = 0; // sent again over a new connection
    };

    explicit GprsFleet(Settings s, QObject *parent = nullptr);
    ~GprsFleet() override;

    // Dials every module, a few at a time so the listener's backlog is never overrun.
    void start();
    // Stops sending new events; what was sent may still be answered.
    void stopEvents();
    void stop();

    int identified() const;
    const std::vector<Sent> &sent() const { return m_sent; }
    int unanswered() const;
    // The answer times of the answered events, in ms, shortest first.
    QList<double> latenciesMs() const;

private:
    class Module;
    void tickEvents();
    void record(int module, const QByteArray &codigo = "E130");
    void identifiedFirst(int module);

    Settings m_s;
    std::vector<std::unique_ptr<Module>> m_modules;
    std::vector<Sent> m_sent;
    std::vector<int> m_counts; // events of each module so far
    bool m_sending = false;
    double m_owed = 0;
    double m_runawayOwed = 0;
    qint64 m_lastTick = 0;
    int m_next = 0;
    int m_nextRunaway = 0;
    friend class Module;
};

} // namespace tulmo::sim
