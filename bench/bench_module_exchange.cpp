// Reception during module programming: one module on slot 1 is downloaded from and uploaded
// to in a loop, with the real 3 s pause after "UPE" (its block comes whole, in two reads),
// while an alarm panel on the same slot sends an event every 10 ms.
//
// Usage: bench_module_exchange
// Environment: BENCH_SECONDS (default 20), BENCH_NO_EXCHANGE=1 (the panel alone)
//
// The devices run in a forked process on plain sockets; the console is this process on its
// Qt event loop. Reported: the panel's event frames from their send to their line being in
// the event queue (percentiles), the exchanges completed, and the longest stall of the event
// loop (a 5 ms timer's lateness).

#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "core/modules/ModuleExchange.h"
#include "core/reception/ConnectionRegistry.h"

#include "BenchCore.h"
#include "BenchStats.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace tulmo;
using tulmo::bench::TimedCore;
using tulmo::bench::monoNs;

namespace {

constexpr int kMaxEvents = 10000;

int connectTo(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 1500; ++i) {
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) return fd;
        usleep(20000);
    }
    return -1;
}

void sendText(int fd, const std::string &s) {
    ::send(fd, s.data(), s.size(), MSG_NOSIGNAL);
}

// The module answers "DW" with a block in two reads and "UPI" with "UPE", then "UPOK" once the
// 800 bytes came; the panel identifies itself and sends its events.
[[noreturn]] void runDevices(quint16 port, std::atomic<int64_t> *sent, int seconds) {
    const int modulo = connectTo(port);
    usleep(200000); // the module's row comes first
    const int painel = connectTo(port);
    if (modulo < 0 || painel < 0) _exit(1);
    sendText(modulo, "&021111110042"); // module 111111, account 0042
    sendText(painel, "&012222220043");
    std::string bloco(800, '\0');
    for (size_t i = 0; i < bloco.size(); ++i)
        bloco[i] = char((i * 7 + 3) % 256);
    bloco[2] = 1;
    long upload = -1; // bytes of the block received, -1 outside an upload
    int evento = 0;
    const int64_t fim = monoNs() + int64_t(seconds + 1) * 1000000000;
    int64_t proximo = monoNs() + 1000000000;
    char buf[4096];
    while (monoNs() < fim) {
        pollfd p[2] = {{modulo, POLLIN, 0}, {painel, POLLIN, 0}};
        const int64_t espera = std::max<int64_t>(0, (proximo - monoNs()) / 1000000);
        ::poll(p, 2, int(espera));
        if (p[0].revents & POLLIN) {
            const ssize_t r = ::recv(modulo, buf, sizeof buf, 0);
            if (r <= 0) _exit(2);
            const std::string d(buf, size_t(r));
            if (upload >= 0) {
                upload += r;
                if (upload >= 800) {
                    upload = -1;
                    sendText(modulo, "UPOK");
                }
            } else if (d == "DW") {
                sendText(modulo, bloco.substr(0, 500));
                usleep(5000);
                sendText(modulo, bloco.substr(500));
            } else if (d == "UPI") {
                sendText(modulo, "UPE");
                upload = 0;
            }
        }
        if (p[1].revents & POLLIN) ::recv(painel, buf, sizeof buf, 0);
        if (monoNs() >= proximo && evento < kMaxEvents) {
            char f[32];
            std::snprintf(f, sizeof f, "5011 18%04dE13001003\x14", evento);
            sent[evento].store(monoNs());
            sendText(painel, f);
            ++evento;
            proximo += 10000000;
        }
    }
    _exit(0);
}


int run() {
    const char *env = std::getenv("BENCH_SECONDS");
    const int seconds = env && *env ? std::atoi(env) : 20;
    char locks[] = "/tmp/bench_module_exchange-locks-XXXXXX";
    if (!qEnvironmentVariableIsSet("FIREBIRD_LOCK") && mkdtemp(locks))
        setenv("FIREBIRD_LOCK", locks, 1);
    prepareProcess();
    auto *sent = static_cast<std::atomic<int64_t> *>(mmap(nullptr, sizeof(int64_t) * kMaxEvents,
                                                          PROT_READ | PROT_WRITE,
                                                          MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    const quint16 port = bench::freeLoopbackPort();
    const pid_t devices = fork();
    if (devices == 0) runDevices(port, sent, seconds);

    int argc = 1;
    char name[] = "bench_module_exchange";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench_module_exchange-XXXXXX"));
    TimedCore core(dir.path(), SystemClock::instance(), nullptr, sent, kMaxEvents,
                   [](const QString &frame) { return frame.mid(7, 4).toInt(); });
    QString error;
    if (!core.start(&error)) {
        std::fprintf(stderr, "start-up failed: %s\n", qPrintable(error));
        return 1;
    }
    QSqlQuery(core.database().primary())
        .exec(QStringLiteral("insert into RECEIVER (RECEIVER, NOME, MODO_COMUNICACAO, ATIVO, "
                             "PORTA_COM, BAUDS_COM, PORTA_TCP, PORTA_UDP, TEMPO_RESPOSTA, "
                             "TEMPO_KEEPALIVE) values (1, 'GPRS', 1, 1, 19, 3, %1, 0, 0, 60)")
                  .arg(port));
    core.dm().Realizar_Atualizacoes();
    core.startTimer();
    ConnectionRegistry &con = core.connectionRegistry();
    ModuleExchange exchange(core.dm(), con, core.deviceLink());

    int downloads = 0, uploads = 0;
    double stall = 0;
    QElapsedTimer tick;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        stall = std::max(stall, double(tick.nsecsElapsed()) / 1e6 - 5);
        tick.restart();
    });
    // Download, then upload of the block, again and again.
    QObject::connect(&exchange, &ModuleExchange::informationChanged, [&](const QString &t) {
        if (t.startsWith(QLatin1String("Dados Recebidos."))) {
            ++downloads;
            exchange.setPendingUploadBlock(QByteArray::fromHex(exchange.hexText().toLatin1()));
            QTimer::singleShot(0, &exchange, &ModuleExchange::startUpload);
        } else if (t == QLatin1String("Dados enviados com sucesso!")) {
            ++uploads;
            QTimer::singleShot(0, &exchange, &ModuleExchange::startDownload);
        }
    });
    QEventLoop loop;
    QTimer ready;
    // Both devices identified: the exchange and the measures begin.
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (con.rowCount() < 2 || con.row(1).imei.isEmpty()) return;
        ready.stop();
        // BENCH_NO_EXCHANGE=1: the same traffic without the exchange, for comparison.
        if (!qEnvironmentVariableIsSet("BENCH_NO_EXCHANGE")) {
            exchange.setTarget(1, con.row(0).socket);
            exchange.startDownload();
        }
        tick.start();
        probe.start(5);
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    });
    ready.start(50);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    waitpid(devices, nullptr, 0);

    using bench::percentile;
    const std::vector<double> latency = core.takeLatency();
    std::printf("module exchange %d s: %d downloads, %d uploads\n", seconds, downloads, uploads);
    if (!latency.empty())
        std::printf("  panel event send -> line durable: n=%zu p50 %.2f ms p99 %.2f ms max "
                    "%.2f ms\n",
                    latency.size(), percentile(latency, 0.5),
                    percentile(latency, 0.99), percentile(latency, 1.0));
    std::printf("  longest event-loop stall: %.1f ms\n", stall);
    return !latency.empty() ? 0 : 1;
}

} // namespace

int main() {
    return run();
}
