// The event purge on a large station while a device keeps reporting: 500,000 of 1,000,000
// events deleted through the purge window, with the console running as in production (its
// event loop, one-second timers and the main window, offscreen).
//
//   bench_purge [events=1000000] [accounts=50000] [folder=/tmp/tulmo-bench-purge]
//
// The filled database is kept in <folder>/modelo (filled in a process of its own the first
// time) and copied to <folder>/execucao for each run, so every run purges the same events.
// A device on loopback sends an event every 50 ms from its own thread; the time from its send
// to the line in the queue file is the event → queue latency, before, during and after the
// purge. The longest stretch the event loop was held
// is taken by a 5 ms timer. Environment: PURGE_BEFORE [5], PURGE_AFTER [15] seconds.

#include "BenchCore.h"
#include "BenchStats.h"
#include "Preencher.h"
#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "core/common/Prompt.h"
#include "ui/console/Principal.h"
#include "ui/reports/Apagar_Eventos.h"
#include "core/reports/EventPurger.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTimer>
#include <QWindow>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tulmo;
using tulmo::bench::TimedCore;
using tulmo::bench::monoNs;

namespace {

int envInt(const char *name, int def) {
    const QByteArray v = qgetenv(name);
    return v.isEmpty() ? def : v.toInt();
}

using Sample = tulmo::bench::Timed;

// One GPRS module on loopback, on a thread of its own so that its timing does not depend on
// the console's event loop.
class Device {
public:
    bool connectTo(quint16 port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~Device() {
        if (m_fd >= 0) ::close(m_fd);
    }
    // Sends frame and waits for token; the time it took in ms, or -1.
    double exchange(const std::string &frame, const std::string &token) {
        const int64_t t0 = monoNs();
        if (::send(m_fd, frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size()))
            return -1;
        while (true) {
            const auto at = m_rx.find(token);
            if (at != std::string::npos) {
                m_rx.erase(0, at + token.size());
                return double(monoNs() - t0) / 1e6;
            }
            pollfd p{m_fd, POLLIN, 0};
            const int left = 5000 - int((monoNs() - t0) / 1000000);
            if (left <= 0 || ::poll(&p, 1, left) <= 0) return -1;
            char b[512];
            const ssize_t n = ::recv(m_fd, b, sizeof b, 0);
            if (n <= 0) return -1;
            m_rx.append(b, size_t(n));
        }
    }
    // An event every 50 ms; the console's answers are read and dropped.
    void run(std::atomic<bool> &stop, std::atomic<int64_t> &sent, int &count) {
        const std::string frame = std::string("5011 180001E13001001") + char(0x14);
        while (!stop.load()) {
            sent.store(monoNs());
            if (::send(m_fd, frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size()))
                return;
            ++count;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            char b[512];
            while (::recv(m_fd, b, sizeof b, MSG_DONTWAIT) > 0) {
            }
        }
    }

private:
    int m_fd = -1;
    std::string m_rx;
};

// The operator who answers yes: a tenth of the events filled in are untreated, and the purge
// asks before they go.
class AnswersYes : public Prompt {
public:
    void message(const QString &, const QString &, Icon) override {}
    bool question(const QString &text, const QString &, Icon, bool) override {
        std::printf("asked: %s\n", qPrintable(text));
        return true;
    }
};
AnswersYes &answersYes() {
    static AnswersYes operatorAnswering;
    return operatorAnswering;
}


void fillModel(const QString &folder, int events, int accounts) {
    const pid_t child = fork();
    if (child == 0) {
        int argc = 1;
        char name[] = "bench_purge";
        char *argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        SystemClock clock;
        ConsoleCore core(folder, clock, nullptr, nullptr);
        QString error;
        if (!core.start(&error)) qFatal("%s", qPrintable(error));
        QElapsedTimer t;
        t.start();
        bench::preencher(core.database().primary(), events, accounts);
        std::printf("filled in %.1f s\n", double(t.elapsed()) / 1000.0);
        std::fflush(stdout);
        core.shutdown();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) qFatal("filling failed");
}

void copyFolder(const QString &from, const QString &to) {
    QDir(to).removeRecursively();
    QDir().mkpath(to + "/Dados");
    for (const QString &f : QDir(from + "/Dados").entryList(QDir::Files))
        if (!QFile::copy(from + "/Dados/" + f, to + "/Dados/" + f)) qFatal("cannot copy %s", qPrintable(f));
}

void report(const char *phase, const std::vector<Sample> &all, int64_t from, int64_t to,
            double stallMs) {
    std::vector<double> v;
    int64_t previous = 0;
    double sendGap = 0; // the device's own longest pause: the whole process may stall
    for (const Sample &s : all)
        if (s.sentNs >= from && s.sentNs < to) {
            v.push_back(s.ms);
            if (previous) sendGap = std::max(sendGap, double(s.sentNs - previous) / 1e6 - 50.0);
            previous = s.sentNs;
        }
    if (v.empty()) {
        std::printf("%-20s no events\n", phase);
        return;
    }
    std::printf("%-20s %4zu events  event -> durable p50 %6.2f ms  p99 %7.2f ms  max %7.2f ms   "
                "loop held at most %6.1f ms, device at most %6.1f ms\n",
                phase, v.size(), bench::percentile(v, 0.5), bench::percentile(v, 0.99),
                bench::percentile(v, 1.0), stallMs, sendGap);
}

} // namespace

int main(int argc, char **argv) {
    prepareProcess();
    const int events = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int accounts = argc > 2 ? std::atoi(argv[2]) : 50000;
    const QString folder = argc > 3 ? QString::fromLocal8Bit(argv[3]) : "/tmp/tulmo-bench-purge";
    const QString model = folder + "/modelo", runDir = folder + "/execucao";
    fillModel(model, events, accounts); // keeps what is there, completes what is missing
    copyFolder(model, runDir);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SystemClock clock;
    std::atomic<int64_t> sent{0};
    TimedCore core(runDir, clock, &answersYes(), &sent, 1, [](const QString &) { return 0; });
    QString error;
    if (!core.start(&error)) qFatal("%s", qPrintable(error));
    QSqlDatabase db = core.database().primary();
    const int total = bench::contar(db, "select count(*) from EVENTOS");
    // The day of the 500,000th oldest event: the purge ends at its 00:00.
    QSqlQuery cut(db);
    cut.exec(QStringLiteral("select DATA from EVENTOS order by DATA asc rows %1 to %1").arg(total / 2));
    cut.next();
    const QDate lastDay = cut.value(0).toDateTime().date();
    const quint16 port = 20000 + quint16(getpid() % 20000);
    bench::run(db, "UPDATE OR INSERT INTO GPRS (IMEI, CONTA, STATUS, DATA, LISTA_NEGRA, EQUIPAMENTO, "
                   "SENHA_ACESSO) VALUES ('000001', '0001', 'A', CURRENT_TIMESTAMP, 0, '01', "
                   "'60418273') MATCHING (IMEI)");
    bench::run(db, "delete from RECEIVER");
    bench::run(db, QStringLiteral("insert into RECEIVER (RECEIVER, NOME, MODO_COMUNICACAO, ATIVO, "
                                  "PORTA_COM, BAUDS_COM, PORTA_TCP, PORTA_UDP, TEMPO_RESPOSTA, "
                                  "TEMPO_KEEPALIVE) values (1, 'GPRS', 1, 1, 19, 3, %1, 0, 0, 60)")
                       .arg(port));
    core.startReception();
    Form_Principal window(core.services(), nullptr);
    window.resize(1280, 800);
    window.show();
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    Device device;
    if (!core.dm().slot(1).socketServer->isListening()) qFatal("the receiver does not listen");
    if (!device.connectTo(port)) qFatal("the device could not connect");
    // The "+" leaves with the next tick of the one-second driver; the event loop must run.
    std::atomic<double> identified{0};
    std::thread ident([&] { identified.store(device.exchange("&010000010001", "+")); });
    while (identified.load() == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ident.join();
    if (identified.load() < 0) qFatal("the device could not identify itself");
    std::atomic<bool> stop{false};
    int sentCount = 0;
    const QDateTime started = QDateTime::currentDateTime();
    std::thread deviceThread([&] { device.run(stop, sent, sentCount); });

    // The longest gap between two ticks of a 5 ms timer, per phase.
    double held = 0;
    QElapsedTimer gap;
    gap.start();
    QTimer beat;
    beat.setInterval(5);
    std::vector<Sample> stalls; // every hold over 100 ms, when it ended
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const double ms = double(gap.nsecsElapsed()) / 1e6 - 5.0;
        held = std::max(held, ms);
        if (ms > 100) stalls.push_back({monoNs(), ms});
        gap.restart();
    });
    beat.start();
    auto runFor = [](int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    };

    std::printf("%d events, %d accounts; purging every event up to %s 00:00\n", total,
                bench::contar(db, "select count(*) from CLIENTES"),
                qPrintable(lastDay.toString("dd/MM/yyyy")));
    const int64_t t0 = monoNs();
    runFor(envInt("PURGE_BEFORE", 5) * 1000);
    const double heldBefore = std::exchange(held, 0.0);

    Form_Apagar_eventos &form = window.purgeForm();
    QElapsedTimer opening;
    opening.start();
    form.show();
    std::printf("opening the purge window (account list read): %.1f ms\n",
                double(opening.nsecsElapsed()) / 1e6);
    runFor(1000);
    held = 0;
    form.findChild<QComboBox *>("Lista_Clientes")->setCurrentText("Todas");
    form.findChild<QCheckBox *>("Check_Particao")->setChecked(true);
    form.findChild<QDateEdit *>("Data_inicial")->setDate(lastDay.addYears(-2));
    form.findChild<QDateEdit *>("Data_final")->setDate(lastDay);
    int deleted = -1;
    QObject::connect(&form.purger(), &EventPurger::finished,
                     [&](bool ok, int n, const QString &e) {
                         if (!ok) qFatal("purge failed: %s", qPrintable(e));
                         deleted = n;
                     });
    const int64_t t1 = monoNs();
    form.Button1Click();
    while (form.purger().isRunning()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const int64_t t2 = monoNs();
    const double heldDuring = std::exchange(held, 0.0);
    runFor(envInt("PURGE_AFTER", 15) * 1000);
    const int64_t t3 = monoNs();
    const double heldAfter = held;
    stop.store(true);
    deviceThread.join();

    std::printf("purge: %d events deleted in %.1f s (deletion and commit)\n",
                deleted, double(t2 - t1) / 1e9);
    // Every event sent is recorded or still queued: none is lost.
    runFor(3000);
    QSqlQuery recorded(db);
    recorded.prepare("select count(*) from EVENTOS where CONTA = '000001' and DATA >= :t");
    recorded.bindValue(":t", started.addSecs(-1));
    recorded.exec();
    recorded.next();
    std::printf("events sent %d: recorded %d, still queued %lld (timed %zu)\n", sentCount,
                recorded.value(0).toInt(), qlonglong(core.eventQueue().size()),
                core.timed.size());
    report("before the purge", core.timed, t0, t1, heldBefore);
    report("during the purge", core.timed, t1, t2, heldDuring);
    report("after it", core.timed, t2, t3, heldAfter);
    for (const Sample &st : stalls)
        std::printf("  event loop held %.0f ms, ending %.2f s after the purge began\n", st.ms,
                    double(st.sentNs - t1) / 1e9);
    // What the console's own reads of EVENTOS pay now.
    QElapsedTimer t;
    t.start();
    window.reopenReceived();
    std::printf("received-events list read again after the purge: %.1f ms\n", double(t.nsecsElapsed()) / 1e6);
    t.restart();
    bench::contar(db, QStringLiteral("select count(*) from EVENTOS where DATA < '%1'")
                          .arg(lastDay.addDays(1).toString("yyyy-MM-dd")));
    std::printf("the purged range read again (old versions met): %.1f ms\n",
                double(t.nsecsElapsed()) / 1e6);
    t.restart();
    const int left = bench::contar(db, "select count(*) from EVENTOS");
    std::printf("count of the %d events left (whole table read): %.1f ms\n", left,
                double(t.nsecsElapsed()) / 1e6);
    core.stopTimer();
    core.shutdown();
    return 0;
}
