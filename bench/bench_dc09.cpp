// DC-09 over UDP from N simulated panels against one console running as in production (its
// Qt event loop and its one-second timers): every panel sends one ADM-CID burglary alarm at
// the same moment, from a socket of its own. Reported: the ACK latency of each panel (p50,
// p99, max; the goal is every ACK within 4 s), the panels left without an ACK, and the time
// from the first message until every event is in EVENTOS.
//
// Usage: bench_dc09 [N] [--encrypted]       (default N: 1000)
//   --encrypted: every account has an AES-128 key and its panel sends "*ADM-CID".
// The panels are plain non-blocking sockets on poll(), in a thread of their own; times are
// taken with one monotonic clock.

#include "BenchStats.h"
#include "core/common/Clock.h"
#include "BenchCore.h"
#include "core/reception/Dc09Message.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tulmo;
using Steady = std::chrono::steady_clock;

namespace {

QString account(int i) {
    return QString::number(i + 1).rightJustified(4, QLatin1Char('0'));
}
QByteArray keyOf(int i) {
    return QByteArray::fromHex(QByteArray::number(0x1000 + i, 16).repeated(8).left(32));
}

struct Panels {
    int n;
    bool encrypted;
    quint16 port;
    std::vector<double> latencyMs;
    std::atomic<bool> done{false};
    Steady::time_point first;
    int unanswered = 0;

    void run() {
        const size_t count = size_t(n);
        std::vector<int> fds(count, -1);
        std::vector<QByteArray> messages(count);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < n; ++i) {
            fds[size_t(i)] = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
            Dc09Message m;
            m.token = QStringLiteral("ADM-CID");
            m.sequence = QStringLiteral("0001");
            m.linePrefix = QStringLiteral("1");
            m.account = account(i);
            m.data = QLatin1Char('#') + m.account + QStringLiteral("|1130 01 001");
            m.timestamp = QDateTime::currentDateTimeUtc();
            messages[size_t(i)] = Dc09Codec::build(m, encrypted ? keyOf(i) : QByteArray());
        }
        std::vector<Steady::time_point> sent(count);
        std::vector<bool> answered(count, false);
        first = Steady::now();
        for (int i = 0; i < n; ++i) {
            sent[size_t(i)] = Steady::now();
            sendto(fds[size_t(i)], messages[size_t(i)].constData(), size_t(messages[size_t(i)].size()),
                   0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        }
        std::vector<pollfd> pfds;
        for (int fd : fds)
            pfds.push_back({fd, POLLIN, 0});
        int left = n;
        const auto deadline = Steady::now() + std::chrono::seconds(30);
        while (left > 0 && Steady::now() < deadline) {
            if (poll(pfds.data(), pfds.size(), 100) <= 0) continue;
            for (int i = 0; i < n; ++i) {
                if (!(pfds[size_t(i)].revents & POLLIN)) continue;
                char buf[512];
                const ssize_t got = recv(fds[size_t(i)], buf, sizeof buf, 0);
                if (got <= 0 || answered[size_t(i)]) continue;
                const QByteArray answer(buf, int(got));
                if (answer.contains("ACK\"0001")) {
                    answered[size_t(i)] = true;
                    --left;
                    latencyMs.push_back(
                        std::chrono::duration<double, std::milli>(Steady::now() - sent[size_t(i)])
                            .count());
                }
            }
        }
        unanswered = left;
        for (int fd : fds)
            close(fd);
        done = true;
    }
};

int recorded(QSqlDatabase db) {
    QSqlQuery q(db);
    return q.exec(QStringLiteral("select count(*) from EVENTOS")) && q.next() ? q.value(0).toInt()
                                                                          : -1;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    int n = 1000;
    bool encrypted = false;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--encrypted")
            encrypted = true;
        else
            n = std::atoi(argv[i]);
    }
    QTemporaryDir dir;
    ConsoleCore core(dir.path(), SystemClock::instance(), nullptr, nullptr);
    QString error;
    if (!core.start(&error)) qFatal("%s", qPrintable(error));
    QSqlDatabase db = core.database().primary();
    const quint16 port = 35000 + quint16(QCoreApplication::applicationPid() % 20000);
    QSqlQuery q(db);
    q.exec(QStringLiteral("insert into RECEIVER (RECEIVER, NOME, MODO_COMUNICACAO, ATIVO, "
                          "PORTA_UDP, TEMPO_RESPOSTA, TEMPO_KEEPALIVE) values (1, 'DC09', 2, 1, %1, "
                          "5, 5)")
               .arg(port));
    q.exec(QStringLiteral("update or insert into EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO, "
                          "REGISTRO_AUTOMATICO, PRIORIDADE) values ('1130', 'DISPARO', 2, 1, 2) "
                          "matching (CODIGO_EVENTO)"));
    db.transaction();
    for (int i = 0; i < n; ++i)
        q.exec(QStringLiteral("insert into CLIENTES (CONTA, NOME, EVENTO_ATRASADO, TEMPO_ATRASO, "
                              "DESARMADOS, REARME) values ('00%1', 'CLIENTE %1', 0, 1440, 0, 0)")
                   .arg(account(i)));
    db.commit();
    if (encrypted) {
        QList<Dc09Keys::Entry> keys;
        for (int i = 0; i < n; ++i)
            keys.append({account(i), QString::fromLatin1(keyOf(i).toHex())});
        if (!core.dc09().keys().save(keys, &error)) qFatal("%s", qPrintable(error));
    }
    core.dm().Realizar_Atualizacoes();
    core.startTimer();

    Panels panels{n, encrypted, port};
    const Steady::time_point launch = Steady::now();
    std::thread thread([&] { panels.run(); });
    Steady::time_point allRecorded;
    bool finished = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!finished && recorded(db) >= n) {
            finished = true;
            allRecorded = Steady::now();
        }
        if ((finished && panels.done) ||
            Steady::now() - launch > std::chrono::seconds(120))
            app.quit();
    });
    poll.start(50);
    app.exec();
    thread.join();

    std::printf("bench_dc09: %d panels over UDP%s, one ADM-CID alarm each at once\n", n,
                encrypted ? " (AES-128)" : "");
    if (!panels.latencyMs.empty())
        std::printf("  ACK latency: p50 %.0f ms, p99 %.0f ms, max %.0f ms; unanswered %d\n",
                    bench::percentile(panels.latencyMs, 0.5), bench::percentile(panels.latencyMs, 0.99),
                    bench::percentile(panels.latencyMs, 1.0), panels.unanswered);
    if (finished)
        std::printf("  all %d events in EVENTOS after %.2f s\n", n,
                    std::chrono::duration<double>(allRecorded - panels.first).count());
    else
        std::printf("  only %d of %d events in EVENTOS after 120 s\n", recorded(db), n);
    core.shutdown();
    return 0;
}
