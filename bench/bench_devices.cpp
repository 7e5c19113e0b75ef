// Connected devices: N devices on loopback identify themselves, then send heartbeats and now
// and then an event, to one console running on its Qt event loop as in production.
//
// Usage: bench_devices [N ...]            (default 1000 5000 10000)
// Environment: BENCH_SECONDS (traffic phase, default 15), BENCH_HEARTBEAT (seconds between
// two frames of one device, default 2), BENCH_EVENTS (events per second over all devices,
// default 20). Run it once more with QT_NO_GLIB=1 for the plain poll() dispatcher.
//
// Each size runs in a process of its own, forked before Qt or the database engine start;
// that process forks the devices (the simulator's GPRS modules, tulmo_sim, on an event loop of
// their own) and then becomes the console. Reported: CPU time of the console per frame of the
// traffic phase (getrusage), memory per connection (RSS growth from before the first
// connection to all identified, divided by N), and the time from an event frame's send to its
// line being in the queue file.

#include "BenchDevices.h"
#include "BenchStats.h"
#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "BenchCore.h"
#include "core/reception/ConnectionRegistry.h"
#include "sim/GprsFleet.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

double cpuSeconds() {
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long rssKb() {
    FILE *f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int envInt(const char *name, int def) {
    const char *v = std::getenv(name);
    return v && *v ? std::atoi(v) : def;
}

struct Report {
    long heartbeats = 0, events = 0;
};

// ---- the devices -----------------------------------------------------------------------

// Frames are timed by account: module i is IMEI i and account i mod 10000.
constexpr int kKeys = 10000;

// The devices: the simulator's GPRS modules, on an event loop of their own in this forked
// process. They dial as fast as the console takes them and identify themselves; on
// "g" each sends a frame every BENCH_HEARTBEAT seconds (its first at a moment of its own), an
// event now and then instead, BENCH_EVENTS a second over all of them. The first sending of an
// event goes into sent[account] for the console to time, when that slot is free.
[[noreturn]] void runDevices(int n, quint16 port, int cmdFd, int repFd,
                             std::atomic<int64_t> *sent) {
    raiseFileLimit();
    char c = 0;
    if (!readAll(cmdFd, &c, 1)) _exit(1); // the console listens
    bench::DevicesApp qt;
    sim::GprsFleet fleet(bench::loopbackModules(port, n, 0, kKeys));
    Report rep;
    QObject::connect(&fleet, &sim::GprsFleet::eventSent, [&](qsizetype e) {
        ++rep.events;
        int64_t free = 0;
        sent[fleet.sent()[size_t(e)].module % kKeys].compare_exchange_strong(free, monoNs());
    });
    bench::dialAndTell(fleet, n, repFd);
    // "g": the traffic phase, reported when it ends; anything else (or the pipe closed): done.
    QSocketNotifier orders(cmdFd, QSocketNotifier::Read);
    long beats0 = 0;
    QObject::connect(&orders, &QSocketNotifier::activated, [&] {
        if (!readAll(cmdFd, &c, 1) || c != 'g') _exit(0);
        beats0 = fleet.heartbeats();
        rep.events = 0;
        fleet.beat(envInt("BENCH_HEARTBEAT", 2));
        fleet.setEventsPerSecond(envInt("BENCH_EVENTS", 20));
        QTimer::singleShot(envInt("BENCH_SECONDS", 15) * 1000, [&] {
            fleet.setEventsPerSecond(0);
            fleet.beat(0);
            rep.heartbeats = fleet.heartbeats() - beats0;
            writeAll(repFd, &rep, sizeof rep);
        });
    });
    qt.app.exec();
    _exit(0);
}

// ---- the console -----------------------------------------------------------------------

// The console, timing each event frame from its send to its line flushed to the queue file.
class BenchCore : public ConsoleCore {
public:
    BenchCore(const QString &dir, std::atomic<int64_t> *sent, int n)
        : ConsoleCore(dir, SystemClock::instance(), nullptr, nullptr)
        , m_sent(sent)
        , m_n(n) {}
    QueueResult stageEvent(const QString &message) override {
        const int64_t t0 = monoNs();
        const QueueResult r = ConsoleCore::stageEvent(message);
        const int64_t t1 = monoNs();
        // "5011 18" + account + …: the account is the module's key.
        const int i = message.startsWith(QLatin1String("5011 18")) ? message.mid(7, 4).toInt() : -1;
        if (r == QueueResult::Queued && i >= 0 && i < m_n) {
            const int64_t s = m_sent[i].exchange(0);
            // Until the flush that covers its line, what the device's "+OK" waits for.
            if (s)
                whenDurable([this, s](bool durable) {
                    if (durable) latency.push_back(double(monoNs() - s) / 1e6);
                });
            handler.push_back(double(t1 - t0) / 1e6);
        }
        return r;
    }
    std::vector<double> latency, handler; // ms

private:
    std::atomic<int64_t> *m_sent;
    int m_n;
};

double pct(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

int runSize(int n) {
    raiseFileLimit();
    // The engine's lock files of this run are its own, whatever else runs on the machine.
    char locks[] = "/tmp/bench_devices-locks-XXXXXX";
    if (!qEnvironmentVariableIsSet("FIREBIRD_LOCK") && mkdtemp(locks))
        setenv("FIREBIRD_LOCK", locks, 1);
    prepareProcess();
    auto *sent = static_cast<std::atomic<int64_t> *>(mmap(nullptr, sizeof(int64_t) * size_t(kKeys),
                                                          PROT_READ | PROT_WRITE,
                                                          MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    const quint16 port = bench::freeLoopbackPort(); // chosen before any thread exists
    const bench::DevicesProcess devices =
        bench::forkDevices([&](int cmd, int rep) { runDevices(n, port, cmd, rep, sent); });
    if (devices.pid < 0) return 1;

    int argc = 1;
    char name[] = "bench_devices";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench_devices-XXXXXX"));
    BenchCore core(dir.path(), sent, kKeys);
    QString error;
    if (!core.start(&error)) {
        std::fprintf(stderr, "start-up failed: %s\n", qPrintable(error));
        return 1;
    }
    QSqlDatabase db = core.database().primary();
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("insert into GPRS (IMEI, CONTA, STATUS, DATA, LISTA_NEGRA, "
                                 "EQUIPAMENTO, SENHA_ACESSO) values (:i, :c, 'A', :d, 0, '01', "
                                 "'60418273')"));
        for (int i = 0; i < n; ++i) {
            q.bindValue(QStringLiteral(":i"), QStringLiteral("%1").arg(i, 6, 10, QLatin1Char('0')));
            q.bindValue(QStringLiteral(":c"),
                        QStringLiteral("%1").arg(i % 10000, 4, 10, QLatin1Char('0')));
            q.bindValue(QStringLiteral(":d"), QDateTime::currentDateTime());
            q.exec();
        }
        QSqlQuery r(db);
        r.exec(QStringLiteral("insert into RECEIVER (RECEIVER, NOME, MODO_COMUNICACAO, ATIVO, "
                              "PORTA_COM, BAUDS_COM, PORTA_TCP, PORTA_UDP, TEMPO_RESPOSTA, "
                              "TEMPO_KEEPALIVE) values (1, 'GPRS', 1, 1, 19, 3, %1, 0, 0, 60)")
                   .arg(port));
    }
    core.dm().Realizar_Atualizacoes();
    if (!core.dm().slot(1).socketServer->isListening()) {
        std::fprintf(stderr, "listener did not start\n");
        return 1;
    }
    core.startTimer();
    ConnectionRegistry &con = core.connectionRegistry();
    long frames = 0;
    QObject::connect(&con, &ConnectionRegistry::frameReceived, [&frames] { ++frames; });

    // Runs the event loop, blocking as in production, until cond holds or the time is up.
    auto runUntil = [&](auto cond, int timeoutMs) {
        if (cond()) return true;
        QEventLoop loop;
        QTimer check, limit;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (cond()) loop.quit();
        });
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        check.start(50);
        limit.setSingleShot(true);
        limit.start(timeoutMs);
        loop.exec();
        return cond();
    };
    auto identified = [&] {
        int k = 0;
        for (const ConnectionRegistry::Row &l : con.rows())
            k += !l.imei.isEmpty();
        return k;
    };

    const long rss0 = rssKb();
    const double cpuConnect0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    writeAll(devices.cmd, "s", 1);
    int connected = 0;
    {
        QSocketNotifier note(devices.rep, QSocketNotifier::Read);
        bool got = false;
        QObject::connect(&note, &QSocketNotifier::activated, [&] {
            note.setEnabled(false);
            got = readAll(devices.rep, &connected, sizeof connected);
            if (!got) connected = -1;
        });
        runUntil([&] { return got; }, 600000);
    }
    runUntil([&] { return identified() >= connected; }, 120000);
    const double connectSecs = double(wall.elapsed()) / 1000;
    const double cpuConnect = cpuSeconds() - cpuConnect0;
    const long rss1 = rssKb();
    const int ids = identified();

    // Idle: the one-second driver alone with every connection open.
    const double cpuIdle0 = cpuSeconds();
    runUntil([] { return false; }, 3000);
    const double cpuIdle = (cpuSeconds() - cpuIdle0) / 3.0;

    const long frames0 = frames;
    const double cpu0 = cpuSeconds();
    wall.restart();
    writeAll(devices.cmd, "g", 1);
    Report report;
    {
        QSocketNotifier note(devices.rep, QSocketNotifier::Read);
        bool got = false;
        QObject::connect(&note, &QSocketNotifier::activated, [&] {
            note.setEnabled(false);
            got = readAll(devices.rep, &report, sizeof report);
        });
        runUntil([&] { return got; }, 600000);
    }
    // Let the frames still in flight arrive.
    runUntil([&] { return frames - frames0 >= report.heartbeats + report.events; }, 5000);
    const double cpu = cpuSeconds() - cpu0;
    const double secs = double(wall.elapsed()) / 1000;
    const long taken = frames - frames0;
    writeAll(devices.cmd, "q", 1);
    waitpid(devices.pid, nullptr, 0);

    const char *dispatcher =
        qEnvironmentVariableIsSet("QT_NO_GLIB") ? "poll (QT_NO_GLIB=1)" : "glib";
    std::printf("N=%d  dispatcher=%s\n", n, dispatcher);
    std::printf("  connected %d, identified %d in %.1f s (console CPU %.2f s, %.0f us per "
                "device)\n",
                connected, ids, connectSecs, cpuConnect, cpuConnect / std::max(1, ids) * 1e6);
    std::printf("  memory per connection: %.1f KiB (RSS %ld -> %ld KiB)\n",
                double(rss1 - rss0) / std::max(1, n), rss0, rss1);
    std::printf("  idle with all connected: %.1f ms CPU per second\n", cpuIdle * 1000);
    std::printf("  traffic %.1f s: sent %ld heartbeats + %ld events, console took %ld frames "
                "(%.0f/s)\n",
                secs, report.heartbeats, report.events, taken, double(taken) / secs);
    std::printf("  CPU per frame: %.1f us (%.1f%% of one core)\n",
                cpu / double(std::max(1L, taken)) * 1e6, cpu / secs * 100);
    std::printf("  event send -> line in queue file: n=%zu p50 %.2f ms p99 %.2f ms max %.2f ms; "
                "decode+staging p50 %.2f ms p99 %.2f ms\n",
                core.latency.size(), pct(core.latency, 0.5), pct(core.latency, 0.99),
                pct(core.latency, 1.0), pct(core.handler, 0.5), pct(core.handler, 0.99));
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {1000, 5000, 10000};
    for (int n : sizes) {
        std::fflush(stdout);
        const pid_t p = fork();
        if (p == 0) _exit(runSize(n));
        int status = 0;
        waitpid(p, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            std::printf("N=%d failed (status %d)\n", n, status);
    }
    return 0;
}
