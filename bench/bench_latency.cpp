// A single device on an idle console running as in production (its Qt event loop and its
// one-second timers), on a database filled like a large station, TEMPO_RESPOSTA 0: the time from
// an event frame's send to its "+OK", and the longest the event loop was held meanwhile (the
// lateness of a 5 ms timer), while each event is flushed to the queue file and recorded.
//
//   bench_latency [events=1000000] [accounts=50000] [samples=300] [program folder]
//
// With a folder given, a database already filled there is reused. The device runs on a thread
// of its own on a plain socket and waits 50 to 250 ms between two frames, so that the console is
// idle when each comes. At the end every event sent must be in EVENTOS once.

#include "BenchStats.h"
#include "Preencher.h"
#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "BenchCore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tulmo;
using tulmo::bench::monoNs;

namespace {

// Reads until token has come (what came before it is dropped); false after timeoutMs.
bool awaitToken(int fd, std::string &rx, const std::string &token, int timeoutMs) {
    const int64_t end = monoNs() + int64_t(timeoutMs) * 1000000;
    for (;;) {
        const auto at = rx.find(token);
        if (at != std::string::npos) {
            rx.erase(0, at + token.size());
            return true;
        }
        const int left = int((end - monoNs()) / 1000000);
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0) return false;
        char b[512];
        const ssize_t n = ::recv(fd, b, sizeof b, 0);
        if (n <= 0) return false;
        rx.append(b, size_t(n));
    }
}

struct Device {
    std::vector<double> okMs;
    std::atomic<bool> done{false};
    int unanswered = 0;

    void run(quint16 port, int samples) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::string rx;
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            !awaitToken(fd, rx, "&", 5000)) {
            done = true;
            return;
        }
        const char ident[] = "&011234560042";
        ::send(fd, ident, sizeof ident - 1, MSG_NOSIGNAL);
        if (!awaitToken(fd, rx, "+", 5000)) std::printf("identification not answered\n");
        std::mt19937 rng(42);
        std::uniform_int_distribution<int> pause(50, 250);
        for (int i = 0; i < samples; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pause(rng)));
            char f[40];
            const int n = std::snprintf(f, sizeof f, "5011 180042E13001%03d\x14", i % 1000);
            const int64_t t0 = monoNs();
            ::send(fd, f, size_t(n), MSG_NOSIGNAL);
            if (awaitToken(fd, rx, "+OK", 5000))
                okMs.push_back(double(monoNs() - t0) / 1e6);
            else
                ++unanswered;
        }
        ::close(fd);
        done = true;
    }
};

void report(const char *what, const std::vector<double> &ms, const char *goal) {
    if (ms.empty()) {
        std::printf("%-40s no samples\n", what);
        return;
    }
    std::printf("%-40s n=%zu  p50 %7.2f ms  p99 %7.2f ms  max %7.2f ms   %s\n", what, ms.size(),
                bench::percentile(ms, 0.5), bench::percentile(ms, 0.99),
                bench::percentile(ms, 1.0), goal);
}

} // namespace

int main(int argc, char **argv) {
    tulmo::prepareProcess();
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    const bench::Argumentos args(argc, argv, tmp.path());
    ConsoleCore core(args.programDir, SystemClock::instance(), nullptr, nullptr);
    QString error;
    if (!core.start(&error)) qFatal("%s", qPrintable(error));
    QSqlDatabase db = core.database().primary();
    if (bench::preencher(db, args.events, args.accounts))
        std::printf("filled %d events and %d accounts\n", args.events, args.accounts);
    const quint16 port = bench::freeLoopbackPort();
    bench::run(db, "DELETE FROM RECEIVER");
    bench::run(db, QStringLiteral("INSERT INTO RECEIVER (RECEIVER, NOME, MODO_COMUNICACAO, ATIVO, "
                                  "PORTA_COM, BAUDS_COM, PORTA_TCP, PORTA_UDP, TEMPO_RESPOSTA, "
                                  "TEMPO_KEEPALIVE) VALUES (1, 'R1', 1, 1, 0, 3, %1, 0, 0, 60)")
                       .arg(port));
    bench::run(db, "UPDATE OR INSERT INTO GPRS (IMEI, CONTA, STATUS, DATA, LISTA_NEGRA, "
                   "EQUIPAMENTO, SENHA_ACESSO) VALUES ('123456', '0042', 'A', CURRENT_TIMESTAMP, "
                   "0, '01', '1234') MATCHING (IMEI)");
    const QDateTime started = QDateTime::currentDateTime().addSecs(-1);
    core.dm().Realizar_Atualizacoes();
    core.startTimer();

    // The longest gap between two turns of a 5 ms timer, beyond its interval.
    std::vector<double> lateness;
    std::vector<std::pair<double, double>> holds; // over 20 ms: seconds since the start, ms
    QElapsedTimer gap, since;
    gap.start();
    since.start();
    QTimer beat;
    beat.setInterval(5);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const double late = std::max(0.0, double(gap.nsecsElapsed()) / 1e6 - 5.0);
        lateness.push_back(late);
        if (late > 20) holds.push_back({double(since.elapsed()) / 1000, late});
        gap.restart();
    });
    beat.start();

    Device device;
    std::thread t([&] { device.run(port, args.samples); });
    while (!device.done.load())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    t.join();
    // Recorded meanwhile, or by the next ticks.
    QElapsedTimer drain;
    drain.start();
    while ((!core.eventQueue().isEmpty() || core.pump().busy()) && drain.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    beat.stop();
    QSqlQuery q(db);
    q.prepare("select count(*), count(distinct ARGUMENTO) from EVENTOS where CONTA = '000042' "
              "and DATA_INTERVENCAO >= :t");
    q.bindValue(":t", started);
    q.exec();
    q.next();

    std::printf("database of %d events and %d accounts, one device, TEMPO_RESPOSTA 0\n",
                args.events, args.accounts);
    report("\"+OK\" after the event frame", device.okMs, "goal p99 <= 50 ms");
    report("event loop held (5 ms timer lateness)", lateness, "");
    for (const auto &[at, ms] : holds)
        std::printf("  held %.1f ms at %.1f s\n", ms, at);
    std::printf("frames %d, unanswered %d, recorded %d (%d distinct zones), left in the queue %lld\n",
                args.samples, device.unanswered, q.value(0).toInt(), q.value(1).toInt(),
                static_cast<long long>(core.eventQueue().size()));
    core.shutdown();
    return 0;
}
