// The file import on a large station while a device reports: listing a receiver file of
// 100,000 records, then recording all of it, each with reception's event -> durable latency
// measured meanwhile (a TCP device sends a receiver frame every 20 ms; the time from its send
// to its line being in the queue file), and how long live events waited in the queue.
//
//   bench_import [records=100000] [events=1000000] [accounts=50000] [program folder]
//
// With a folder given, a database already filled there is reused (the imported events are
// removed first, so each run lists and records the whole file). Runs without a screen.

#include "BenchCore.h"
#include "BenchStats.h"
#include "Preencher.h"
#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "core/events/RecordingRepository.h"
#include "core/import/EventImport.h"
#include "core/import/ImportRecorder.h"
#include "core/import/ImportRepository.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace tulmo;
using tulmo::bench::TimedCore;
using tulmo::bench::monoNs;

namespace {

constexpr int kKeys = 1000;         // a frame's zone carries its key
std::atomic<int64_t> g_sent[kKeys]; // send time of the frame in flight with that key


// A GPRS device on loopback: identifies itself, then sends an event every periodMs.
void device(quint16 port, std::atomic<bool> *stop, int periodMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) _exit(2);
    timeval tv{0, 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const char ident[] = "&011234560042";
    ::send(fd, ident, sizeof ident - 1, MSG_NOSIGNAL);
    ::usleep(1500 * 1000); // the identification is answered on a tick
    char buf[256];
    for (int i = 0; !stop->load(); ++i) {
        const int key = i % kKeys;
        char f[40];
        const int n = std::snprintf(f, sizeof f, "5011 180042E13001%03d\x14", key);
        g_sent[key].store(monoNs());
        ::send(fd, f, size_t(n), MSG_NOSIGNAL);
        const int64_t next = monoNs() + int64_t(periodMs) * 1000000;
        while (monoNs() < next)
            if (::recv(fd, buf, sizeof buf, 0) <= 0) ::usleep(500);
    }
    ::close(fd);
}

QByteArray eventFile(int records, int accounts) {
    QByteArray out;
    out.reserve(records * 32);
    for (int i = 0; i < records; ++i) {
        const int conta = i % std::min(accounts, 9999) + 1;
        const int day = 9000 + i / 20000, secs = (i * 4) % 86400;
        auto hex = [](int v, int width) {
            return QString::number(v, 16).rightJustified(width, '0');
        };
        const QString digits =
            QStringLiteral("14") + QString::number(conta).rightJustified(4, '0') +
            QStringLiteral("001130A1") + QString::number(i % 999 + 1).rightJustified(3, '0') +
            QString(14, QLatin1Char('A')) + QString(23, QLatin1Char('0')) + hex(day, 4) +
            hex(secs / 3600, 2) + hex(secs / 60 % 60, 2) + hex(secs % 60, 2);
        out += QByteArray::fromHex(digits.toLatin1());
    }
    return out;
}

void report(const char *what, const std::vector<double> &ms) {
    if (ms.empty()) {
        std::printf("  %-34s no samples\n", what);
        return;
    }
    std::printf("  %-34s n=%zu  p50 %.2f ms  p99 %.2f ms  max %.2f ms   goal < 50 ms\n", what,
                ms.size(), bench::percentile(ms, 0.5), bench::percentile(ms, 0.99),
                bench::percentile(ms, 1.0));
}

void runUntil(const std::function<bool()> &done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(5);
    loop.exec();
}

} // namespace

int main(int argc, char **argv) {
    tulmo::prepareProcess();
    QCoreApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    char *rest[] = {argv[0], argc > 2 ? argv[2] : nullptr, argc > 3 ? argv[3] : nullptr,
                    const_cast<char *>("1"), argc > 4 ? argv[4] : nullptr};
    int restc = 1;
    while (restc < 5 && rest[restc])
        ++restc;
    QTemporaryDir tmp;
    const bench::Argumentos args(restc, rest, tmp.path());

    TimedCore core(args.programDir, SystemClock::instance(), nullptr, g_sent, kKeys,
                   [](const QString &frame) { return frame.mid(17, 3).toInt(); });
    core.recording = false;
    QString error;
    if (!core.start(&error)) qFatal("%s", qPrintable(error));
    QSqlDatabase db = core.database().primary();
    if (bench::preencher(db, args.events, args.accounts))
        std::printf("filled %d events and %d accounts\n", args.events, args.accounts);
    bench::run(db, "DELETE FROM EVENTOS WHERE DETALHES = 'Evento Padrão'");
    bench::run(db, "DELETE FROM RECEIVER");
    bench::run(db, "DELETE FROM GPRS WHERE IMEI = '123456'");
    const quint16 port = quint16(20000 + getpid() % 20000);
    bench::run(db, QStringLiteral("INSERT INTO RECEIVER (RECEIVER, NOME, MODO_COMUNICACAO, ATIVO, "
                                  "PORTA_COM, BAUDS_COM, PORTA_TCP, PORTA_UDP, TEMPO_RESPOSTA, "
                                  "TEMPO_KEEPALIVE) VALUES (1, 'R1', 1, 1, 0, 3, %1, 0, 0, 60)")
                       .arg(port));
    bench::run(db,
               "INSERT INTO GPRS (IMEI, CONTA, STATUS, DATA, LISTA_NEGRA, EQUIPAMENTO, "
               "SENHA_ACESSO) VALUES ('123456', '0042', 'A', CURRENT_TIMESTAMP, 0, '01', '1234')");
    core.dm().Realizar_Atualizacoes();
    core.startTimer();

    const QString file = args.programDir + QStringLiteral("/bench.ORB");
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(file));
        f.write(eventFile(records, args.accounts));
    }
    std::atomic<bool> stop{false};
    std::thread dev(device, port, &stop, 20);
    runUntil([&] { return core.connectionRegistry().rowCount() > 0; });
    QElapsedTimer t;
    t.start();
    runUntil([&] { return t.elapsed() > 2500; }); // identified, reporting

    // Idle: the device alone.
    core.recording = true;
    t.restart();
    runUntil([&] { return t.elapsed() > 3000; });
    const std::vector<double> idle = core.takeLatency();

    EventImport import(core.database(), core.clock());
    int listed = 0;
    bool listDone = false;
    QObject::connect(&import, &EventImport::rowsListed,
                     [&](const QList<ImportRow> &r) { listed += int(r.size()); });
    QStringList lines;
    QObject::connect(&import, &EventImport::rowsListed, [&](const QList<ImportRow> &r) {
        for (const ImportRow &row : r)
            lines << row.string2;
    });
    QObject::connect(&import, &EventImport::finished,
                     [&](const ImportSummary &) { listDone = true; });
    t.restart();
    import.ProcessaArquivo(file, EventImport::TimeSource::FromFile);
    runUntil([&] { return listDone; });
    const double listSecs = double(t.elapsed()) / 1000;
    if (qEnvironmentVariableIntValue("IMPORT_PROBE")) {
        QSqlDatabase pdb = core.database().primary();
        pdb.transaction();
        ImportRepository repo(pdb);
        QElapsedTimer p;
        p.start();
        bool found = false;
        for (int i = 0; i < 2000; ++i)
            repo.isRecorded("001020", "1130", "003", 1,
                            QDateTime(QDate(2024, 1, 1), QTime(10, 0, i % 60)), &found);
        std::printf("probe: duplicate test %.3f ms each\n", double(p.nsecsElapsed()) / 1e6 / 2000);
        RecordingRepository look(pdb);
        p.restart();
        AccountRow acc;
        for (int i = 0; i < 2000; ++i)
            look.readAccount("001020", &acc);
        std::printf("probe: account read %.3f ms each\n", double(p.nsecsElapsed()) / 1e6 / 2000);
        pdb.commit();
    }
    const std::vector<double> listing = core.takeLatency();

    ImportRecorder recorder(core.recorder(), nullptr);
    recorder.setLiveQueue(&core.eventQueue(), &core.pump());
    bool recDone = false;
    ImportRecordSummary summary;
    QObject::connect(&recorder, &ImportRecorder::finished, [&](const ImportRecordSummary &s) {
        summary = s;
        recDone = true;
    });
    qsizetype liveWaiting = 0;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout,
                     [&] { liveWaiting = std::max(liveWaiting, core.eventQueue().size()); });
    sample.start(10);
    t.restart();
    // IMPORT_LIST_ONLY=1 measures the listing alone.
    if (qEnvironmentVariableIntValue("IMPORT_LIST_ONLY")) lines.clear();
    recorder.start(lines);
    runUntil([&] { return recDone; });
    const double recSecs = double(t.elapsed()) / 1000;
    const std::vector<double> recording = core.takeLatency();
    stop = true;
    dev.join();

    std::printf("\nfile of %d records, database of %d events and %d accounts\n", records,
                args.events, args.accounts);
    report("idle: event -> durable", idle);
    std::printf("listing: %d events listed in %.1f s (%.0f records/s)\n", listed, listSecs,
                records / listSecs);
    report("while listing: event -> durable", listing);
    std::printf("recording: %d of %d stored in %.1f s (%.0f events/s)%s\n", summary.stored,
                summary.total, recSecs, summary.stored / recSecs,
                summary.heldBack.isEmpty() ? "" : qPrintable(" held back: " + summary.heldBack));
    report("while recording: event -> durable", recording);
    std::printf("  live lines waiting in the queue while recording: at most %lld (sampled every "
                "10 ms)\n",
                static_cast<long long>(liveWaiting));
    core.shutdown();
    return 0;
}
