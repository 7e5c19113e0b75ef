// Event reports on a large station: the first preview page of a month of every account, the
// next and the last page, and the text file of 100,000 events; meanwhile a device sends an
// alarm every 20 ms over TCP, and each is timed from its send to its line in the queue file,
// with the longest stretch the event loop was held.
//
//   bench_reports [events=1000000] [accounts=50000] [samples=5] [program folder]
//
// With a folder given, a database already filled there is reused. Runs without a screen.

#include "BenchStats.h"
#include "Preencher.h"
#include "core/common/Clock.h"
#include "core/common/Paths.h"
#include "core/common/Process.h"
#include "BenchCore.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"
#include "ui/reports/Relatorio_Selecao.h"
#include "ui/reports/ReportPreview.h"
#include "core/reports/ReportRepository.h"
#include "core/reports/ReportSource.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace tulmo;
using tulmo::bench::monoNs;

namespace {

constexpr int kMaxFrames = 10000;
std::atomic<int64_t> g_sent[kMaxFrames];

// The console, timing each device frame from its send to its line in the event queue.
class BenchCore : public ConsoleCore {
public:
    explicit BenchCore(const QString &dir)
        : ConsoleCore(dir, SystemClock::instance(), nullptr, nullptr) {}
    // Device frames are staged in the queue and flushed to the disk together, off the event
    // loop, before any reply leaves: timed until the flush that covers the frame's line.
    QueueResult stageEvent(const QString &message) override {
        const QueueResult r = ConsoleCore::stageEvent(message);
        const int i = message.mid(7, 4).toInt();
        if (r == QueueResult::Queued && i > 0 && i < kMaxFrames) {
            const int64_t s = g_sent[i].exchange(0);
            if (s)
                ConsoleCore::whenDurable([this, s](bool durable) {
                    if (durable) latency.push_back(double(monoNs() - s) / 1e6);
                });
        }
        return r;
    }
    std::vector<double> latency; // ms
};

// A device on its own thread: identifies itself, then sends a format-5 alarm every 20 ms,
// its number in the account field.
struct Device {
    std::atomic_bool sending{false}, stop{false};
    std::atomic<int> next{1};
    std::thread t;
    void start(quint16 port) {
        t = std::thread([this, port] {
            const int s = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) return;
            char buf[256];
            if (::read(s, buf, sizeof buf) <= 0) return; // "&"
            const char id[] = "&011234560042";
            if (::send(s, id, sizeof id - 1, MSG_NOSIGNAL) < 0) return;
            std::thread drain([s] {
                char b[256];
                ssize_t n;
                while ((n = ::read(s, b, sizeof b)) > 0) {
                    if (getenv("BENCH_DEBUG")) std::printf("device got: %.*s\n", int(n), b);
                }
            });
            while (!stop) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (!sending) continue;
                const int i = next++;
                if (i >= kMaxFrames) continue;
                const QByteArray f = QStringLiteral("5011 18%1E13001003\x14")
                                         .arg(i, 4, 10, QLatin1Char('0'))
                                         .toLatin1();
                g_sent[i] = monoNs();
                if (::send(s, f.constData(), size_t(f.size()), MSG_NOSIGNAL) < 0) {
                    std::printf("device: the console closed the connection\n");
                    break;
                }
            }
            ::shutdown(s, SHUT_RDWR);
            drain.join();
            ::close(s);
        });
    }
    ~Device() {
        stop = true;
        if (t.joinable()) t.join();
    }
};

// The longest gap of a zero timer: how long the event loop was held.
struct LoopWatch {
    QTimer beat;
    QElapsedTimer gap;
    double longest = 0;
    LoopWatch() {
        beat.setInterval(0);
        QObject::connect(&beat, &QTimer::timeout, [this] {
            longest = std::max(longest, double(gap.nsecsElapsed()) / 1e6);
            gap.restart();
        });
    }
    void start() {
        longest = 0;
        gap.start();
        beat.start();
    }
    void stop() { beat.stop(); }
};

template <typename F> bool spin(F done, int timeoutMs = 120000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void line(const char *what, const std::vector<double> &v) {
    if (v.empty()) {
        std::printf("%-52s (no samples)\n", what);
        return;
    }
    std::printf("%-52s median %8.1f ms   p99 %8.1f ms   worst %8.1f ms   (%zu)\n", what,
                bench::percentile(v, 0.5), bench::percentile(v, 0.99), bench::percentile(v, 1.0),
                v.size());
}

} // namespace

int main(int argc, char **argv) {
    tulmo::prepareProcess();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir tmp;
    bench::Argumentos a(argc, argv, tmp.path());
    const int samples = argc > 3 ? a.samples : 5;
    Paths::setProgramDir(a.programDir);

    BenchCore core(a.programDir);
    QString error;
    if (!core.start(&error)) qFatal("%s", qPrintable(error));
    QSqlDatabase db = core.database().primary();
    bench::preencherInforma(db, a.events, a.accounts);

    // A TCP receiver with one identified device.
    const quint16 port = 47000 + quint16(getpid() % 1000);
    bench::run(db, "DELETE FROM RECEIVER");
    bench::run(db, QStringLiteral("INSERT INTO RECEIVER (RECEIVER, NOME, MODO_COMUNICACAO, ATIVO, "
                                  "ENVIA_SMS, PORTA_COM, BAUDS_COM, PORTA_TCP, PORTA_UDP, "
                                  "TEMPO_RESPOSTA, TEMPO_KEEPALIVE) VALUES (1, 'TCP', 1, 1, 0, 0, "
                                  "3, %1, 0, 0, 600)")
                       .arg(port));
    bench::run(db, "UPDATE OR INSERT INTO GPRS (IMEI, CONTA, STATUS, LISTA_NEGRA) VALUES "
                   "('123456', '0042', 'A', 0) MATCHING (IMEI)");
    core.dm().Realizar_Atualizacoes();
    core.startTimer(); // replies, expiry and recording go on as in the console
    Device device;
    device.start(port);
    if (!spin([&] { return core.connectionRegistry().rowCount() == 1; }, 10000))
        qFatal("device not identified");
    LoopWatch watch;
    auto during = [&](const std::function<void()> &work, std::vector<double> *latency,
                      std::vector<double> *held) {
        core.latency.clear();
        device.sending = true;
        watch.start();
        work();
        watch.stop();
        device.sending = false;
        latency->insert(latency->end(), core.latency.begin(), core.latency.end());
        held->push_back(watch.longest);
    };

    // 0. The same traffic for 5 s with no report: what reception costs on its own.
    {
        std::vector<double> idleLatency, idleHeld;
        during([] { spin([] { return false; }, 5000); }, &idleLatency, &idleHeld);
        line("no report: event -> durable latency", idleLatency);
        line("no report: longest the event loop was held", idleHeld);
    }

    // 1. The first page of a month of every account, then the next and the last page.
    QWidget main;
    std::vector<double> first, next, middle, last, latencyPreview, heldPreview;
    int pages = 0;
    qint64 rows = 0;
    for (int i = 0; i < samples; ++i) {
        auto *f = new Form_Relatorio_Selecao(core.common(), core.settings(), &main);
        f->show();
        f->findChild<QCheckBox *>("CheckBox1")->setChecked(false);
        f->findChild<QDateEdit *>("DateTimePicker_Inicial")
            ->setDate(QDate::currentDate().addDays(-30));
        f->findChild<QDateEdit *>("DateTimePicker_Final")->setDate(QDate::currentDate());
        QElapsedTimer t;
        bool shown = false;
        f->setPreviewRunner([&](ReportPreview &p) {
            first.push_back(double(t.nsecsElapsed()) / 1e6);
            pages = p.pageCount();
            QElapsedTimer u;
            u.start();
            p.showPage(1);
            spin([&] { return !p.pageImage().isNull(); });
            next.push_back(double(u.nsecsElapsed()) / 1e6);
            u.restart();
            p.showPage(p.pageCount() / 2);
            spin([&] { return !p.pageImage().isNull(); });
            middle.push_back(double(u.nsecsElapsed()) / 1e6);
            u.restart();
            p.showPage(p.pageCount() - 1);
            spin([&] { return !p.pageImage().isNull(); });
            last.push_back(double(u.nsecsElapsed()) / 1e6);
            shown = true;
        });
        during(
            [&] {
                t.start();
                f->Button2Click();
                if (!spin([&] { return shown; })) qFatal("no preview");
            },
            &latencyPreview, &heldPreview);
        delete f;
    }
    // One account's report, every day: its events are among a million.
    std::vector<double> account;
    for (int i = 0; i < samples; ++i) {
        ReportSource src(core.database());
        ReportSelection one;
        one.conta = QStringLiteral("000777");
        bool got = false;
        QObject::connect(&src, &ReportSource::pageReady, [&] { got = true; });
        QElapsedTimer t;
        t.start();
        src.open(BuildReportQuery(one), ReportLayout::summaryLayout());
        if (!spin([&] { return got; })) qFatal("no page");
        account.push_back(double(t.nsecsElapsed()) / 1e6);
        if (i == 0) std::printf("account 000777: %lld events\n", src.rowCount());
    }
    ReportSource probe(core.database());
    {
        ReportSelection sel;
        sel.allDays = false;
        sel.inicial = QDate::currentDate().addDays(-30);
        sel.final = QDate::currentDate();
        rows = ReportRepository::count(db, BuildReportQuery(sel)).value_or(-1);
    }
    std::printf("month of every account: %lld events, %d pages\n", rows, pages);
    line("first preview page (click to page painted)", first);
    line("next page", next);
    line("middle page (a jump over the keys before it)", middle);
    line("last page (read from the other end)", last);
    line("first page of one account, every day (count included)", account);
    line("  event -> durable latency meanwhile", latencyPreview);
    line("  longest the event loop was held", heldPreview);

    // 2. The text file of about 100,000 events.
    ReportSelection sel;
    sel.allDays = false;
    sel.final = QDate::currentDate();
    sel.inicial = sel.final.addDays(-34);
    const ReportStatement st = BuildReportQuery(sel);
    std::printf("text file: %lld events\n", ReportRepository::count(db, st).value_or(-1));
    std::vector<double> exportMs, latencyExport, heldExport;
    const QString path = QDir(a.programDir).filePath("RelatorioBench.TXT");
    for (int i = 0; i < samples; ++i) {
        bool done = false, ok = false;
        auto c = QObject::connect(&probe, &ReportSource::exported, [&](bool r, const QString &e) {
            ok = r;
            if (!r) std::printf("export failed: %s\n", qPrintable(e));
            done = true;
        });
        QElapsedTimer t;
        during(
            [&] {
                t.start();
                probe.exportText(st, ReportLayout::completeLayout(),
                                 {"RELATÓRIO", "CENTRAL", QDateTime::currentDateTime()}, path);
                spin([&] { return done; }, 600000);
            },
            &latencyExport, &heldExport);
        exportMs.push_back(double(t.nsecsElapsed()) / 1e6);
        QObject::disconnect(c);
        if (!ok) qFatal("export failed");
    }
    std::printf("text file size: %lld bytes\n", QFileInfo(path).size());
    line("text file of the events (complete layout)", exportMs);
    line("  event -> durable latency meanwhile", latencyExport);
    line("  longest the event loop was held", heldExport);
    core.shutdown();
    return 0;
}
