// Bursts of devices against one console running as in production: its Qt event loop, its real
// one-second timers and the main window (offscreen), on a database filled like a large station.
//
//   1. N devices identify themselves at the same moment: time until every one has its "+".
//   2. Each then sends one event at the same moment: "+OK" latency, time until every event is
//      in EVENTOS and until the newest is in Grade_Eventos, the console's peak memory.
//   3. Sustained: BURST_RATE events per second for BURST_SUSTAIN seconds from the first
//      BURST_SUSTAIN_DEVICES devices: lines of Dados/Eventos_Log.dat sampled at every tick, and
//      once the queue is empty, the rows of EVENTOS since the phase began against the frames sent.
//   4. All devices send one heartbeat at the same moment and fall silent, the keep-alive set to
//      one minute: how late after its keep-alive time each row expires, in ticks.
//
// Usage: bench_burst [-d folder] [N ...]          (default N: 1000 10000)
//   -d folder keeps the filled database between runs (otherwise a temporary folder is used).
// Environment (defaults in brackets):
//   BURST_CAP [300]        seconds a phase may take before it is reported unfinished
//   BURST_PHASES [1234]    the phases to run; 1 always runs, the others need it
//   BURST_RATE [200], BURST_SUSTAIN [60], BURST_SUSTAIN_DEVICES [1000]   phase 3
//   BURST_RESPONSE [0]     TEMPO_RESPOSTA of the devices' receiver, seconds
//   BURST_EVENTS [1000000], BURST_ACCOUNTS [50000]   the filled database
// A quick run: BURST_EVENTS=20000 BURST_CAP=30 BURST_SUSTAIN=10 bench_burst 200
//
// The database is filled in a process of its own; each N then runs in a fresh process, forked
// before Qt or the database engine start, which forks the devices (the simulator's GPRS
// modules, tulmo_sim, on an event loop of their own) and then becomes the console. The queue
// files left in the folder by an earlier run are removed first, so each run starts with empty
// queues. Device i identifies as "&01" + i (six digits) + its account, and sends "5011 18" +
// account + "E13001" + zone + 0x14 (account i mod 9999 + 1: an alarm of a registered account;
// the zone counts the device's events). Times are taken with the monotonic clock shared by
// both processes.

#include "BenchDevices.h"
#include "BenchStats.h"
#include "Preencher.h"
#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "BenchCore.h"
#include "ui/console/Principal.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/store/SqlListModel.h"
#include "sim/GprsFleet.h"


#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QSqlQuery>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace tulmo;
using tulmo::bench::monoNs;
using tulmo::bench::raiseFileLimit;
using tulmo::bench::readAll;
using tulmo::bench::writeAll;

namespace {

double secsSince(int64_t t0) {
    return double(monoNs() - t0) / 1e9;
}

int envInt(const char *name, int def) {
    const char *v = std::getenv(name);
    return v && *v ? std::atoi(v) : def;
}

bool phaseOn(char p) {
    const char *v = std::getenv("BURST_PHASES");
    return p == '1' || !v || !*v || std::strchr(v, p);
}

long peakRssKb() {
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// What each device saw, in shared memory: monotonic nanoseconds, 0 while it has not happened.
struct DevStat {
    std::atomic<int64_t> plus{0}, eventSent{0}, ok{0};
    std::atomic<int> minus{0};
};

// ---- the devices -----------------------------------------------------------------------

// The devices: the simulator's GPRS modules, on an event loop of their own in this forked
// process, doing what the console orders over cmdFd: "s" dial (as fast as the console takes
// them; answered with how many had its "&"), "i" identify all at once, "e" one
// event each, "r" the sustained rate (answered with how many were sent), "h" a last heartbeat
// each and then silence, "q" done. Each order is acknowledged with its letter once done; what
// each module saw goes into stat.
[[noreturn]] void runDevices(int n, quint16 port, int cmdFd, int repFd, DevStat *stat) {
    raiseFileLimit();
    bench::DevicesApp qt;
    sim::GprsFleet::Settings s = bench::loopbackModules(port, n, 1, 9999);
    s.identifyWhenTold = true;
    sim::GprsFleet fleet(s);
    QObject::connect(&fleet, &sim::GprsFleet::moduleIdentified, [&](int m) {
        int64_t none = 0;
        stat[m].plus.compare_exchange_strong(none, monoNs());
    });
    QObject::connect(&fleet, &sim::GprsFleet::moduleRefused,
                     [&](int m) { stat[m].minus.fetch_add(1); });
    QObject::connect(&fleet, &sim::GprsFleet::eventSent, [&](qsizetype e) {
        int64_t none = 0;
        stat[fleet.sent()[size_t(e)].module].eventSent.compare_exchange_strong(none, monoNs());
    });
    QObject::connect(&fleet, &sim::GprsFleet::eventAnswered, [&](qsizetype e) {
        DevStat &d = stat[fleet.sent()[size_t(e)].module];
        int64_t none = 0;
        if (d.eventSent.load()) d.ok.compare_exchange_strong(none, monoNs());
    });
    auto ack = [&](char c) { writeAll(repFd, &c, 1); };
    QSocketNotifier orders(cmdFd, QSocketNotifier::Read);
    QObject::connect(&orders, &QSocketNotifier::activated, [&] {
        char c = 0;
        if (!readAll(cmdFd, &c, 1) || c == 'q') _exit(0);
        if (c == 's') {
            bench::dialAndTell(fleet, n, repFd);
        } else if (c == 'i') {
            fleet.identify();
            ack(c);
        } else if (c == 'e') {
            for (int i = 0; i < n; ++i)
                fleet.report(i);
            ack(c);
        } else if (c == 'h') {
            fleet.fallSilent();
            ack(c);
        } else if (c == 'r') {
            const size_t before = fleet.sent().size();
            fleet.setEventsPerSecond(std::max(1, envInt("BURST_RATE", 200)),
                                     std::clamp(envInt("BURST_SUSTAIN_DEVICES", 1000), 1, n));
            QTimer::singleShot(envInt("BURST_SUSTAIN", 60) * 1000, [&, before] {
                fleet.setEventsPerSecond(0);
                ack('r');
                const long sent = long(fleet.sent().size() - before); // how many, for the count
                writeAll(repFd, &sent, sizeof sent);
            });
        }
    });
    qt.app.exec();
    _exit(0);
}

// ---- the console -----------------------------------------------------------------------

double pct(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

int queueFileLines(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray all = f.readAll();
    return int(all.count('\n')) + (!all.isEmpty() && !all.endsWith('\n'));
}

// One row of the final table.
struct Line {
    QString phase, figure, goal, verdict;
};

class Console {
public:
    Console(int n, const QString &programDir, DevStat *stat, int cmdFd, int repFd)
        : m_n(n)
        , m_dir(programDir)
        , m_stat(stat)
        , m_cmd(cmdFd)
        , m_rep(repFd)
        , m_cap(envInt("BURST_CAP", 300)) {}

    int run(quint16 port);

private:
    bool setUp(quint16 port);
    bool connectDevices();
    void identifyAtOnce();
    void eventsAtOnce();
    void sustained();
    void silence();
    void print() const;

    // Runs the event loop, as in production, until cond holds or the time is up.
    template <typename C> bool runUntil(C cond, double seconds);
    // runUntil for a phase begun at t0, saying every ten seconds how far it got.
    template <typename C, typename S>
    bool waitPhase(const char *phase, int64_t t0, double seconds, C cond, S status);
    // Tells the devices c and waits for their acknowledgement (they send while the console
    // runs).
    bool order(char c, double seconds);
    void onTick();
    int eventsIn();
    bool newestShown();
    int removedSince() const;
    void add(const QString &phase, const QString &figure, const QString &goal, bool met,
             bool measured = true) {
        m_lines.append({phase, figure, goal,
                        !measured ? QStringLiteral("-")
                        : met     ? QStringLiteral("met")
                                  : QStringLiteral("NOT MET")});
    }
    QString notReached(double secs, int done, int of) const {
        return QStringLiteral("not reached within %1 s: %2 of %3 done")
            .arg(secs, 0, 'f', 0)
            .arg(done)
            .arg(of);
    }

    int m_n;
    QString m_dir;
    DevStat *m_stat;
    int m_cmd, m_rep;
    int m_cap;
    std::unique_ptr<ConsoleCore> m_core;
    std::unique_ptr<Form_Principal> m_window;
    QList<Line> m_lines;
    long m_rssBefore = 0;
    long m_ticks = 0;
    int m_connected = 0;
    // Phase 2: EVENTOS rows after this sequence are the burst's.
    qint64 m_seq0 = 0;
    qint64 m_newest = -1;
    bool m_trackEvents = false;
    int m_eventsIn = 0;
    double m_allInAt = -1, m_shownAt = -1;
    int64_t m_t0 = 0;
    // Phase 3.
    bool m_sampleQueue = false;
    int m_queueMax = 0, m_queueFirst = -1, m_queueLast = 0, m_queueTicks = 0, m_queueOver = 0;
    // Phase 4: how late each expiry came after its keep-alive time, and in which tick.
    bool m_trackExpiry = false;
    std::vector<double> m_late;
    long m_firstExpiryTick = -1, m_lastExpiryTick = -1;
    long m_heartbeats = 0;
};

template <typename C> bool Console::runUntil(C cond, double seconds) {
    if (cond()) return true;
    QEventLoop loop;
    QTimer check, limit;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (cond()) loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start(20);
    limit.setSingleShot(true);
    limit.start(int(seconds * 1000));
    loop.exec();
    return cond();
}

bool Console::order(char c, double seconds) {
    writeAll(m_cmd, &c, 1);
    QSocketNotifier note(m_rep, QSocketNotifier::Read);
    bool got = false;
    QObject::connect(&note, &QSocketNotifier::activated, [&] {
        note.setEnabled(false);
        char a = 0;
        got = readAll(m_rep, &a, 1) && a == c;
    });
    return runUntil([&] { return got; }, seconds);
}

template <typename C, typename S>
bool Console::waitPhase(const char *phase, int64_t t0, double seconds, C cond, S status) {
    int64_t nextNote = monoNs() + int64_t(10) * 1000000000;
    return runUntil(
        [&] {
            if (cond()) return true;
            if (monoNs() >= nextNote) {
                std::fprintf(stderr, "  [N=%d] phase %s, %.0f s: %s\n", m_n, phase, secsSince(t0),
                             qPrintable(status()));
                nextNote += int64_t(10) * 1000000000;
            }
            return false;
        },
        seconds);
}

bool Console::setUp(quint16 port) {
    for (const char *f : {"Eventos_Log.dat", "EventosRepetidora.dat"})
        QFile::remove(m_dir + QStringLiteral("/Dados/") + QLatin1String(f));
    m_core = std::make_unique<ConsoleCore>(m_dir, SystemClock::instance(), nullptr, nullptr);
    QString error;
    if (!m_core->start(&error)) {
        std::fprintf(stderr, "start-up failed: %s\n", qPrintable(error));
        return false;
    }
    QSqlDatabase db = m_core->database().primary();
    // Every device registered, active and not blocked; one TCP receiver on the chosen port.
    bench::run(db, QStringLiteral(
                       "EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN WHILE (i < %1) DO BEGIN "
                       "UPDATE OR INSERT INTO GPRS (IMEI, CONTA, STATUS, DATA, LISTA_NEGRA, "
                       "EQUIPAMENTO, SENHA_ACESSO) VALUES (LPAD(:i, 6, '0'), LPAD(MOD(:i, 9999) "
                       "+ 1, 4, '0'), 'A', CURRENT_TIMESTAMP, 0, '01', '60418273') MATCHING "
                       "(IMEI); i = i + 1; END END")
                       .arg(m_n));
    bench::run(db, QStringLiteral("delete from RECEIVER"));
    bench::run(db, QStringLiteral("insert into RECEIVER (RECEIVER, NOME, MODO_COMUNICACAO, ATIVO, "
                                  "PORTA_COM, BAUDS_COM, PORTA_TCP, PORTA_UDP, TEMPO_RESPOSTA, "
                                  "TEMPO_KEEPALIVE) values (1, 'GPRS', 1, 1, 19, 3, %1, 0, %2, 60)")
                       .arg(port)
                       .arg(envInt("BURST_RESPONSE", 0)));
    // Reception as the console starts it, then the main window as the operator has it.
    m_core->startReception();
    m_window = std::make_unique<Form_Principal>(m_core->services(), nullptr);
    m_window->resize(1280, 800);
    m_window->show();
    while (!m_window->windowHandle() || !m_window->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!m_core->dm().slot(1).socketServer->isListening()) {
        std::fprintf(stderr, "the receiver's listener did not start\n");
        return false;
    }
    ConnectionRegistry &con = m_core->connectionRegistry();
    // After the console's own duties of the tick, which were connected first.
    QObject::connect(&m_core->timerUpdate(), &QTimer::timeout, [this] { onTick(); });
    QObject::connect(
        &con, &ConnectionRegistry::frameReceived,
        [this](TcpConnection *, int, const QByteArray &f) { m_heartbeats += f == "@"; });
    QObject::connect(&con, &ConnectionRegistry::rowAboutToBeRemoved, [this, &con](int r) {
        if (!m_trackExpiry || !con.row(r).keepAlive.isValid()) return;
        const QDateTime due = con.row(r).keepAlive.addSecs(60);
        m_late.push_back(double(due.msecsTo(QDateTime::currentDateTime())) / 1000.0);
        if (m_firstExpiryTick < 0) m_firstExpiryTick = m_ticks;
        m_lastExpiryTick = m_ticks;
    });
    QObject::connect(&m_window->receivedEvents(), &QAbstractItemModel::modelReset, [this] {
        if (m_newest >= 0 && m_shownAt < 0 && newestShown()) m_shownAt = secsSince(m_t0);
    });
    return true;
}

bool Console::connectDevices() {
    writeAll(m_cmd, "s", 1);
    QSocketNotifier note(m_rep, QSocketNotifier::Read);
    bool got = false;
    QObject::connect(&note, &QSocketNotifier::activated, [&] {
        note.setEnabled(false);
        got = readAll(m_rep, &m_connected, sizeof m_connected);
    });
    runUntil([&] { return got; }, 900);
    ConnectionRegistry &con = m_core->connectionRegistry();
    runUntil([&] { return con.rowCount() >= m_connected; }, 60);
    std::fprintf(stderr, "  [N=%d] %d devices connected, %d rows in Grid_Conectados\n", m_n,
                 m_connected, con.rowCount());
    return m_connected > 0;
}

void Console::onTick() {
    ++m_ticks;
    if (m_trackEvents && m_allInAt < 0) {
        m_eventsIn = eventsIn();
        if (m_eventsIn >= m_connected) {
            m_allInAt = secsSince(m_t0);
            QSqlQuery q(m_core->database().primary());
            q.prepare(QStringLiteral("select max(SEQUENCIA) from EVENTOS where SEQUENCIA > :s"));
            q.bindValue(QStringLiteral(":s"), m_seq0);
            if (q.exec() && q.next()) m_newest = q.value(0).toLongLong();
        }
    }
    if (m_newest >= 0 && m_shownAt < 0 && newestShown()) m_shownAt = secsSince(m_t0);
    if (m_sampleQueue) {
        const int lines = queueFileLines(m_core->dataDir() + QStringLiteral("/Eventos_Log.dat"));
        m_queueMax = std::max(m_queueMax, lines);
        m_queueLast = lines;
        ++m_queueTicks;
        m_queueOver += lines >= 200;
    }
}

int Console::eventsIn() {
    QSqlQuery q(m_core->database().primary());
    q.prepare(QStringLiteral("select count(*) from EVENTOS where SEQUENCIA > :s"));
    q.bindValue(QStringLiteral(":s"), m_seq0);
    return q.exec() && q.next() ? q.value(0).toInt() : 0;
}

bool Console::newestShown() {
    const SqlListModel &m = m_window->receivedEvents();
    for (int r = 0; r < m.rowCount(); ++r)
        if (m.value(r, QStringLiteral("SEQUENCIA")).toLongLong() == m_newest) return true;
    return false;
}

int countSet(const DevStat *stat, int n, std::atomic<int64_t> DevStat::*field) {
    int k = 0;
    for (int i = 0; i < n; ++i)
        k += (stat[i].*field).load() != 0;
    return k;
}

QString secs(double s) {
    return QString::number(s, 'f', 2) + QStringLiteral(" s");
}

void Console::identifyAtOnce() {
    m_rssBefore = peakRssKb();
    const int response = envInt("BURST_RESPONSE", 0);
    const int64_t t0 = monoNs();
    order('i', m_cap);
    auto plus = [&] { return countSet(m_stat, m_n, &DevStat::plus); };
    waitPhase(
        "1", t0, m_cap - secsSince(t0), [&] { return plus() >= m_connected; },
        [&] { return QStringLiteral("\"+\" %1 of %2").arg(plus()).arg(m_connected); });
    std::vector<double> t;
    int minus = 0;
    for (int i = 0; i < m_n; ++i) {
        if (const int64_t p = m_stat[i].plus.load()) t.push_back(double(p - t0) / 1e9);
        minus += m_stat[i].minus.load();
    }
    const int k = int(t.size());
    const double goal = response + 4;
    QString figure = k >= m_connected ? QStringLiteral("%1 devices: all in %2 (p50 %3)")
                                            .arg(k)
                                            .arg(secs(pct(t, 1)), secs(pct(t, 0.5)))
                                      : notReached(m_cap, k, m_connected);
    if (minus) figure += QStringLiteral("; %1 \"-\" answers").arg(minus);
    add(QStringLiteral("1 identify at once: every \"+\""), figure,
        QStringLiteral("<= %1 s").arg(goal), k >= m_connected && pct(t, 1) <= goal);
}

void Console::eventsAtOnce() {
    QSqlQuery q(m_core->database().primary());
    if (q.exec(QStringLiteral("select gen_id(GEN_EVENTOS_SEQUENCIA, 0) from RDB$DATABASE")) &&
        q.next())
        m_seq0 = q.value(0).toLongLong();
    m_t0 = monoNs();
    m_trackEvents = true;
    order('e', m_cap);
    auto oks = [&] { return countSet(m_stat, m_n, &DevStat::ok); };
    waitPhase(
        "2", m_t0, m_cap - secsSince(m_t0),
        [&] { return oks() >= m_connected && m_allInAt >= 0 && m_shownAt >= 0; },
        [&] {
            return QStringLiteral("\"+OK\" %1 of %2, in EVENTOS %3, newest shown %4")
                .arg(oks())
                .arg(m_connected)
                .arg(m_eventsIn)
                .arg(m_shownAt >= 0 ? "yes" : "no");
        });
    m_trackEvents = false;
    const double cap = secsSince(m_t0);
    std::vector<double> lat;
    for (int i = 0; i < m_n; ++i)
        if (const int64_t ok = m_stat[i].ok.load())
            lat.push_back(double(ok - m_stat[i].eventSent.load()) / 1e9);
    const int k = int(lat.size());
    const bool small = m_n <= 1000;
    const double limit = small ? 10 : 60;
    const QString figure =
        k == 0
            ? QStringLiteral("none of %1 answered within %2 s").arg(m_connected).arg(cap, 0, 'f', 0)
            : QStringLiteral("p50 %1, p99 %2, max %3 (%4 of %5 answered%6)")
                  .arg(secs(pct(lat, 0.5)), secs(pct(lat, 0.99)), secs(pct(lat, 1)))
                  .arg(k)
                  .arg(m_connected)
                  .arg(k < m_connected ? QStringLiteral(" within %1 s").arg(cap, 0, 'f', 0)
                                       : QString());
    add(QStringLiteral("2 \"+OK\" latency"), figure,
        small ? QStringLiteral("max <= 4 s") : QStringLiteral("p99 <= 4 s"),
        k >= m_connected && pct(lat, small ? 1 : 0.99) <= 4);
    add(QStringLiteral("2 every event in EVENTOS"),
        m_allInAt >= 0 ? secs(m_allInAt) : notReached(cap, m_eventsIn, m_connected),
        QStringLiteral("<= %1 s").arg(limit), m_allInAt >= 0 && m_allInAt <= limit);
    add(QStringLiteral("2 newest in Grade_Eventos"),
        m_shownAt >= 0 ? secs(m_shownAt)
                       : QStringLiteral("not reached within %1 s").arg(cap, 0, 'f', 0),
        QStringLiteral("<= %1 s").arg(limit), m_shownAt >= 0 && m_shownAt <= limit);
    add(QStringLiteral("2 console peak memory (ru_maxrss)"),
        QStringLiteral("%1 MiB (%2 MiB before phase 1)")
            .arg(double(peakRssKb()) / 1024, 0, 'f', 1)
            .arg(double(m_rssBefore) / 1024, 0, 'f', 1),
        QString(), true, false);
}

void Console::sustained() {
    const int rate = envInt("BURST_RATE", 200), seconds = envInt("BURST_SUSTAIN", 60);
    const int devices = std::clamp(envInt("BURST_SUSTAIN_DEVICES", 1000), 1, m_connected);
    // The rows of this phase are those after the last of the one before, once it is recorded.
    runUntil([&] { return m_core->eventQueue().isEmpty() && !m_core->pump().busy(); }, m_cap);
    qint64 seq0 = -1;
    {
        QSqlQuery g(m_core->database().primary());
        if (g.exec(QStringLiteral("select gen_id(GEN_EVENTOS_SEQUENCIA, 0) from RDB$DATABASE")) &&
            g.next())
            seq0 = g.value(0).toLongLong();
    }
    m_queueFirst = queueFileLines(m_core->dataDir() + QStringLiteral("/Eventos_Log.dat"));
    m_sampleQueue = true;
    const int64_t t0 = monoNs();
    const bool done = order('r', seconds + m_cap);
    long sent = 0;
    if (done) readAll(m_rep, &sent, sizeof sent);
    const double sending = secsSince(t0);
    m_sampleQueue = false;
    // Every event sent is recorded once: the rows since the phase began, once the queue is empty.
    runUntil([&] { return m_core->eventQueue().isEmpty() && !m_core->pump().busy(); }, m_cap);
    const double recorded = secsSince(t0);
    // The devices' alarms ("1130"); the station's own events of the phase (an account flagged
    // runaway by this rate, say) are told apart.
    QSqlQuery q(m_core->database().primary());
    q.prepare(QStringLiteral("select count(*), sum(case when CODIGO_ALARME = '1130' then 1 else 0 "
                             "end) from EVENTOS where SEQUENCIA > :s"));
    q.bindValue(QStringLiteral(":s"), seq0);
    const bool read = q.exec() && q.next();
    const long rows = read ? q.value(1).toLongLong() : -1;
    const long others = read ? q.value(0).toLongLong() - rows : -1;
    add(QStringLiteral("3 every event of the sustained rate in EVENTOS, once"),
        QStringLiteral("%1 of %2 sent recorded, in %3 s (sent in %4 s): %5 events/s; %6 "
                       "events of the station's own")
            .arg(rows)
            .arg(sent)
            .arg(recorded, 0, 'f', 1)
            .arg(sending, 0, 'f', 1)
            .arg(double(rows) / std::max(recorded, 0.001), 0, 'f', 0)
            .arg(others),
        QStringLiteral("all, once"), done && rows == sent);
    add(QStringLiteral("3 %1 events/s for %2 s from %3 devices: queue file lines at each tick")
            .arg(rate)
            .arg(seconds)
            .arg(devices),
        QStringLiteral("max %1 (%2 at the start, %3 at the end; %4 of %5 ticks at 200 or more)%6")
            .arg(m_queueMax)
            .arg(m_queueFirst)
            .arg(m_queueLast)
            .arg(m_queueOver)
            .arg(m_queueTicks)
            .arg(done ? QString() : QStringLiteral("; the devices did not finish")),
        QStringLiteral("< 200 at every tick"), done && m_queueTicks > 0 && m_queueMax < 200);
}

void Console::silence() {
    ConnectionRegistry &con = m_core->connectionRegistry();
    m_heartbeats = 0;
    const int64_t t0 = monoNs();
    order('h', m_cap);
    waitPhase(
        "4", t0, m_cap, [&] { return m_heartbeats >= m_connected; },
        [&] {
            return QStringLiteral("heartbeats taken %1 of %2").arg(m_heartbeats).arg(m_connected);
        });
    // One minute of keep-alive from now on, as the settings dialog sets it.
    const int rows = con.rowCount();
    bench::run(m_core->database().primary(),
               QStringLiteral("update RECEIVER set TEMPO_KEEPALIVE = 1 where RECEIVER = 1"));
    m_core->dm().Realizar_Atualizacoes();
    if (m_core->dm().slot(1).tempoKeepAlive != 1 || con.rowCount() != rows)
        std::fprintf(stderr, "  [N=%d] applying the receiver changed more than the keep-alive\n",
                     m_n);
    QDateTime latest;
    for (const ConnectionRegistry::Row &r : con.rows())
        if (r.keepAlive.isValid() && (!latest.isValid() || r.keepAlive > latest))
            latest = r.keepAlive;
    const double toLatest =
        latest.isValid() ? double(QDateTime::currentDateTime().msecsTo(latest.addSecs(60))) / 1000
                         : 0;
    m_trackExpiry = true;
    const int64_t t1 = monoNs();
    waitPhase(
        "4", t1, std::max(0.0, toLatest) + m_cap, [&] { return con.rowCount() == 0; },
        [&] { return QStringLiteral("rows left %1 of %2").arg(con.rowCount()).arg(rows); });
    m_trackExpiry = false;
    const int k = int(m_late.size());
    QString figure;
    if (k == 0) {
        figure = notReached(secsSince(t1), 0, rows);
    } else {
        figure =
            QStringLiteral("%1 of %2 expired, %3 to %4 after their keep-alive time, in %5 tick(s)")
                .arg(k)
                .arg(rows)
                .arg(secs(pct(m_late, 0)), secs(pct(m_late, 1)))
                .arg(m_lastExpiryTick - m_firstExpiryTick + 1);
        if (k < rows)
            figure += QStringLiteral(" (") + notReached(secsSince(t1), k, rows) + QLatin1Char(')');
    }
    add(QStringLiteral("4 %1 fall silent: every row expired").arg(rows), figure,
        QStringLiteral("within 2 ticks"),
        k == rows && k > 0 && pct(m_late, 0) >= 0 && pct(m_late, 1) < 2);
}

void Console::print() const {
    std::printf("\nbench_burst N=%d: %d connected; TEMPO_RESPOSTA %d s; cap %d s per phase; main "
                "window (offscreen) on the console's own event loop and timers\n",
                m_n, m_connected, envInt("BURST_RESPONSE", 0), m_cap);
    int w = 0;
    for (const Line &l : m_lines)
        w = std::max(w, int(l.phase.size()));
    for (const Line &l : m_lines)
        std::printf("  %-*s | %-8s | %-20s | %s\n", w, qPrintable(l.phase), qPrintable(l.verdict),
                    qPrintable(l.goal), qPrintable(l.figure));
    std::fflush(stdout);
}

int Console::run(quint16 port) {
    if (!setUp(port)) return 1;
    if (!connectDevices()) {
        std::fprintf(stderr, "no device could connect\n");
        return 1;
    }
    identifyAtOnce();
    if (phaseOn('2')) eventsAtOnce();
    if (phaseOn('3')) sustained();
    if (phaseOn('4')) silence();
    print();
    m_window.reset();
    m_core->shutdown();
    return 0;
}

int runSize(int n, const QString &programDir) {
    raiseFileLimit();
    prepareProcess();
    auto *stat =
        static_cast<DevStat *>(mmap(nullptr, sizeof(DevStat) * size_t(n), PROT_READ | PROT_WRITE,
                                    MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    for (int i = 0; i < n; ++i)
        new (&stat[i]) DevStat;
    const quint16 port = bench::freeLoopbackPort(); // chosen before any thread exists
    const bench::DevicesProcess devices =
        bench::forkDevices([&](int cmd, int rep) { runDevices(n, port, cmd, rep, stat); });
    if (devices.pid < 0) return 1;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "bench_burst";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    int rc = 0;
    {
        Console console(n, programDir, stat, devices.cmd, devices.rep);
        rc = console.run(port);
    }
    writeAll(devices.cmd, "q", 1);
    ::close(devices.cmd);
    waitpid(devices.pid, nullptr, 0);
    return rc;
}

// Fills the database in a process of its own, so that the runs' peak memory is theirs.
int fill(const QString &programDir) {
    prepareProcess();
    int argc = 1;
    char name[] = "bench_burst";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    ConsoleCore core(programDir, SystemClock::instance(), nullptr, nullptr);
    QString error;
    if (!core.start(&error)) {
        std::fprintf(stderr, "start-up failed: %s\n", qPrintable(error));
        return 1;
    }
    const int events = envInt("BURST_EVENTS", 1000000), accounts = envInt("BURST_ACCOUNTS", 50000);
    const int64_t t0 = monoNs();
    if (bench::preencher(core.database().primary(), events, accounts))
        std::printf("filled %d events and %d accounts in %.1f s\n", events, accounts,
                    secsSince(t0));
    else
        std::printf("database already holds %d events or more\n", events);
    std::fflush(stdout);
    core.shutdown();
    return 0;
}

int inChild(const std::function<int()> &f) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t p = fork();
    if (p == 0) _exit(f());
    int status = 0;
    waitpid(p, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char **argv) {
    std::vector<int> sizes;
    QString programDir;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-d") == 0 && i + 1 < argc)
            programDir = QString::fromLocal8Bit(argv[++i]);
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty()) sizes = {1000, 10000};
    bool temporary = false;
    if (programDir.isEmpty()) {
        char tmpl[] = "/tmp/bench_burst-XXXXXX";
        if (!mkdtemp(tmpl)) return 1;
        programDir = QString::fromLocal8Bit(tmpl);
        temporary = true;
    }
    QDir().mkpath(programDir);
    // The engine's lock files of this run are its own, whatever else runs on the machine.
    char locks[] = "/tmp/bench_burst-locks-XXXXXX";
    if (!qEnvironmentVariableIsSet("FIREBIRD_LOCK") && mkdtemp(locks))
        setenv("FIREBIRD_LOCK", locks, 1);
    std::printf("bench_burst: program folder %s\n", qPrintable(programDir));
    if (inChild([&] { return fill(programDir); }) != 0) return 1;
    for (int n : sizes) {
        const int rc = inChild([&] { return runSize(n, programDir); });
        if (rc != 0) std::printf("N=%d failed (status %d)\n", n, rc);
    }
    if (temporary) QDir(programDir).removeRecursively();
    return 0;
}
