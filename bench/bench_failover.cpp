// A station of several workstations on a private Firebird server, on this machine: two
// tulmo-recepcao processes (one receives, one waits) and a console of this process that only
// shows, with a thousand GPRS modules reporting. The holder is killed with SIGKILL again and
// again, the killed one started anew as the next standby. Measured:
//   - from each SIGKILL to the first "+OK" a module gets from the standby;
//   - acknowledged events against recorded ones, over every kill (none lost, none doubled
//     except those the dead holder never answered);
//   - recording throughput on the server against the embedded engine;
//   - from an event's commit to the second console hearing of it (its lists refresh).
//
//   bench_failover [--modulos N] [--quedas K] [--assumir S] [--saidas DIR]
#include "BenchStats.h"
#include "support/Workstations.h"

#include "core/common/Clock.h"
#include "core/console/ConsoleCore.h"
#include "core/store/Database.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QSqlQuery>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

using namespace tulmo;
using namespace tulmo::test;

namespace {

int option(const QStringList &args, const QString &name, int fallback) {
    const int i = int(args.indexOf(name));
    return i >= 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
}

QString station(const FirebirdServer &server, const QString &file, const QString &name, int takeover) {
    // Each module reports every five seconds: a runaway panel by the station's default rule,
    // whose events would go the way of the flagged ones. The benchmark measures the others'.
    return banco(server, file) +
           QStringLiteral("[Estacao]\r\nNome=%1\r\nTempoAssumir=%2\r\n[Disparo]\r\nSinais=1000\r\n"
                          "Minutos=1\r\n")
               .arg(name)
               .arg(takeover);
}

void prepareDatabase(QSqlDatabase db, quint16 port, int modules) {
    ReceiverRow::tcp(1, port, 0, 10).insertInto(db);
    db.transaction();
    for (int i = 1; i <= modules; ++i)
        registerModule(db, QString::number(100000 + i), QString::number(i).rightJustified(4, '0'));
    db.commit();
    exec(db, "update or insert into EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO, "
             "REGISTRO_AUTOMATICO, PRIORIDADE, SOM, SOM_CONTINUO, ENVIO_SMS) values ('1130', "
             "'ALARME ROUBO', 2, 0, 1, '', 0, 0) matching (CODIGO_EVENTO)");
}

// Lines staged as fast as the queue takes them, then the time until all are in EVENTOS.
double recordingRate(const QString &programDir, bool server, int lines) {
    ScriptedPrompt prompt;
    ConsoleCore core(programDir, SystemClock::instance(), &prompt, nullptr);
    QString error;
    if (!core.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 0;
    }
    if (server) {
        core.setAlwaysTakesPart(true);
        core.startLease();
        waitFor([&] {
            tickAndSettle(core);
            return core.receivesHere();
        }, 20000);
    }
    for (int i = 0; i < lines; ++i)
        core.stageEvent(QStringLiteral("5011 18%1E13001%2")
                            .arg(QString::number(i % 1000).rightJustified(4, '0'))
                            .arg(QString::number(i % 999).rightJustified(3, '0')));
    core.eventQueue().flush();
    QElapsedTimer t;
    t.start();
    while (!core.eventQueue().isEmpty() && t.elapsed() < 600000) {
        core.Timer_AtualizarTimer();
        settle(core);
    }
    const double secs = double(t.elapsed()) / 1000.0;
    return core.eventQueue().isEmpty() ? double(lines) / secs : 0;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int modulesWanted = option(args, "--modulos", 1000);
    const int kills = option(args, "--quedas", 20);
    const int takeover = option(args, "--assumir", 10);
    // --saidas DIR: each killed holder's output, to DIR/queda-K.txt.
    const int at = int(args.indexOf(QStringLiteral("--saidas")));
    const QString outputs = at >= 0 && at + 1 < args.size() ? args[at + 1] : QString();
    const QString recepcao = QStringLiteral(TULMO_RECEPCAO_EXE);

    FirebirdServer server;
    QString why;
    if (!server.start(&why)) {
        std::fprintf(stderr, "servidor: %s\n", qPrintable(why));
        return 1;
    }
    const QString file = server.dataFolder() + "/BENCH.FDB";
    const quint16 port = freePort();
    QTemporaryDir consoleDir;
    QDir().mkpath(consoleDir.path() + "/Dados");
    {
        QFile f(consoleDir.path() + "/Dados/Config.ini");
        f.open(QIODevice::WriteOnly);
        f.write(station(server, file, "Console", takeover).toUtf8());
    }
    ScriptedPrompt prompt;
    ConsoleCore console(consoleDir.path(), SystemClock::instance(), &prompt, nullptr);
    if (!console.start(&why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    prepareDatabase(console.database().primary(), port, modulesWanted);
    console.startReception();
    // The second console's moments of hearing of new events.
    QList<qint64> heard;
    QObject::connect(&console.recorder(), &EventRecorder::receivedChanged,
                     [&] { heard << bench::monoNs(); });

    std::vector<std::unique_ptr<Workstation>> folders;
    folders.push_back(std::make_unique<Workstation>(station(server, file, "Mesa-A", takeover), recepcao));
    folders.push_back(std::make_unique<Workstation>(station(server, file, "Mesa-B", takeover), recepcao));
    std::vector<std::unique_ptr<Service>> services;
    services.push_back(std::make_unique<Service>(folders[0]->exe));
    if (!services[0]->waitForLine("recebe a partir de agora", 60000)) {
        std::fprintf(stderr, "%s\n", services[0]->out.constData());
        return 1;
    }
    services.push_back(std::make_unique<Service>(folders[1]->exe));
    services[1]->waitForLine("Recepção iniciada", 60000);

    // Each module reports an event every five seconds or so (a thousand: 200 events/s).
    sim::GprsFleet modules(reportingModules(port, 100001, 1, modulesWanted));
    modules.start();
    for (int i = 0; i < modulesWanted; ++i)
        modules.report(i);
    QTimer paced;
    int turn = 0;
    QObject::connect(&paced, &QTimer::timeout, [&] {
        // A fifth of a second's share of the modules, each one frame more (zones up to 999).
        const int share = std::max(1, modulesWanted / 25);
        for (int k = 0; k < share; ++k) {
            const int m = (turn + k) % modulesWanted;
            if (modules.events(m) < 999) modules.report(m);
        }
        turn = (turn + share) % modulesWanted;
    });
    paced.start(200);
    waitFor([] { return false; }, 10000);

    auto answered = [&] {
        long n = 0;
        for (int i = 0; i < modulesWanted; ++i)
            n += modules.answered(i);
        return n;
    };
    std::vector<double> toFirstOk;
    int holder = 0;
    int spurious = 0;
    for (int k = 0; k < kills; ++k) {
        // The one that receives, as the console sees it: a holder that gave reception up by
        // itself in between is counted, not killed.
        const QString seen = console.lease()->holder();
        if (seen == QLatin1String(holder == 0 ? "Mesa-B" : "Mesa-A")) {
            ++spurious;
            holder = 1 - holder;
        }
        const int standby = 1 - holder;
        const QByteArray before = services[size_t(standby)]->out;
        services[size_t(holder)]->signal(SIGKILL);
        const int64_t killed = bench::monoNs();
        const qint64 killedWall = QDateTime::currentMSecsSinceEpoch();
        services[size_t(holder)]->p.waitForFinished(10000);
        qint64 first = 0;
        waitFor([&] { return (first = modules.firstAnswerAfter(killedWall)) != 0; }, 120000);
        (void)killed;
        toFirstOk.push_back(first ? double(first - killedWall) / 1000.0 : -1);
        std::printf("queda %2d: primeiro \"+OK\" da estação em espera após %.2f s; respondidos "
                    "%ld, em EVENTOS %d, em FILA_EVENTOS %d\n",
                    k + 1, toFirstOk.back(), answered(), count(console.database().primary(),
                    "select count(*) from EVENTOS"), count(console.database().primary(),
                    "select count(*) from FILA_EVENTOS"));
        std::fflush(stdout);
        // What the killed holder said, for whoever looks into a run.
        if (!outputs.isEmpty()) {
            QFile f(QStringLiteral("%1/queda-%2.txt").arg(outputs).arg(k + 1, 2, 10, QLatin1Char('0')));
            if (f.open(QIODevice::WriteOnly)) f.write(services[size_t(holder)]->out);
        }
        // The killed one comes back as the next standby.
        services[size_t(holder)] = std::make_unique<Service>(folders[size_t(holder)]->exe);
        services[size_t(holder)]->waitForLine("Recepção iniciada", 60000);
        (void)before;
        holder = standby;
        waitFor([] { return false; }, 5000);
    }

    // The backlog the kills left is recorded first (under the same load): the samples below
    // measure the way to the second console, not the backlog.
    double caughtUp = -1;
    {
        QElapsedTimer t;
        t.start();
        QSqlDatabase db = console.database().primary();
        waitFor([&] {
            if (answered() - count(db, "select count(*) from EVENTOS") < 400) return true;
            waitFor([] { return false; }, 500);
            return false;
        }, 600000);
        if (answered() - count(db, "select count(*) from EVENTOS") < 400)
            caughtUp = double(t.elapsed()) / 1000.0;
    }
    // The second console: from a row's commit (seen by polling) to the console hearing of it.
    std::vector<double> toConsole;
    {
        Database poller(console.database().location());
        poller.open(&why);
        for (int s = 0; s < 20; ++s) {
            const int zone = modules.events(s);
            if (zone >= 999) continue;
            const qsizetype heardBefore = heard.size();
            modules.report(s);
            int64_t committed = 0;
            waitFor([&] {
                QSqlQuery q(poller.primary());
                q.prepare("select count(*) from EVENTOS where CONTA = :c and ARGUMENTO = :z");
                q.bindValue(":c", QString::number(s + 1).rightJustified(6, '0'));
                q.bindValue(":z", QString::number(zone).rightJustified(3, '0'));
                if (q.exec() && q.next() && q.value(0).toInt() > 0) committed = bench::monoNs();
                if (committed == 0) QThread::msleep(5); // a poll, not a load on the server
                return committed != 0;
            }, 10000);
            if (committed == 0) {
                std::printf("evento da amostra %d não gravado em 10 s\n", s);
                continue;
            }
            waitFor([&] {
                for (qsizetype i = heardBefore; i < heard.size(); ++i)
                    if (heard[i] >= committed) return true;
                return false;
            }, 5000);
            for (qsizetype i = heardBefore; i < heard.size(); ++i)
                if (heard[i] >= committed) {
                    toConsole.push_back(double(heard[i] - committed) / 1e6);
                    break;
                }
        }
    }

    paced.stop();
    waitFor([&] {
        for (int i = 0; i < modulesWanted; ++i)
            if (modules.answered(i) < modules.events(i)) return false;
        return true;
    }, 120000);
    QSqlDatabase db = console.database().primary();
    waitFor([&] { return count(db, "select count(*) from FILA_EVENTOS") == 0; }, 60000);
    // The holder may still record a backlog of its own queue: counted once EVENTOS stops
    // growing for ten seconds.
    {
        QElapsedTimer settledFor, total;
        settledFor.start();
        total.start();
        int last = -1;
        while (settledFor.elapsed() < 10000 && total.elapsed() < 600000) {
            const int now = count(db, "select count(*) from EVENTOS");
            if (now != last) {
                last = now;
                settledFor.restart();
            }
            waitFor([] { return false; }, 1000);
        }
        std::printf("EVENTOS estável com %d linhas, %.0f s depois do fim do envio\n", last,
                    double(total.elapsed()) / 1000.0 - 10.0);
    }
    // A frame that a dead holder took but never answered comes again over the next connection,
    // with the ones the module had sent after it (up to eight in flight): those are recorded
    // twice, the copy after the frames of the first. Order is judged on each frame's first
    // recording; a second one of a frame that went out only once is a fault.
    long acked = 0, recorded = 0, doubled = 0, unjustified = 0, lost = 0, disorder = 0;
    for (int i = 0; i < modulesWanted; ++i) {
        const QList<int> zones = recordedZones(db, QByteArray::number(i + 1).rightJustified(4, '0'));
        acked += modules.answered(i);
        recorded += zones.size();
        QSet<int> seen;
        int lastFirst = -1;
        for (int z : zones) {
            if (seen.contains(z)) {
                ++doubled;
                if (modules.timesSent(i, z) < 2) ++unjustified;
                continue;
            }
            seen.insert(z);
            if (z < lastFirst) ++disorder;
            lastFirst = z;
        }
        for (int z = 0; z < modules.answered(i); ++z)
            if (!seen.contains(z)) ++lost;
    }
    modules.stop();
    if (lost > 0) {
        std::printf("fila compartilhada: %s\nposse: %s\n", qPrintable(sharedQueueState(db)),
                    qPrintable(console.lease()->statusText()));
        for (size_t i = 0; i < services.size(); ++i) {
            const QList<QByteArray> lines = services[i]->out.split('\n');
            std::printf("--- saída de %s (últimas linhas)\n", i == 0 ? "Mesa-A" : "Mesa-B");
            for (qsizetype j = std::max<qsizetype>(0, lines.size() - 25); j < lines.size(); ++j)
                std::printf("%s\n", lines[j].constData());
        }
    }

    const QString serverDir = server.dataFolder();
    QTemporaryDir embeddedDir, serverProgram;
    QDir().mkpath(serverProgram.path() + "/Dados");
    {
        QFile f(serverProgram.path() + "/Dados/Config.ini");
        f.open(QIODevice::WriteOnly);
        f.write(station(server, serverDir + "/RITMO.FDB", "Ritmo", takeover).toUtf8());
    }
    services.clear();
    const double embeddedRate = recordingRate(embeddedDir.path(), false, 20000);
    const double serverRate = recordingRate(serverProgram.path(), true, 20000);

    std::printf("\n%d módulos, %d quedas, TempoAssumir %d s\n", modulesWanted, kills, takeover);
    std::printf("SIGKILL → primeiro \"+OK\": p50 %.2f s, máx %.2f s (meta ≤ 15 s)\n",
                bench::percentile(toFirstOk, 0.5), bench::percentile(toFirstOk, 1.0));
    std::printf("gravação em dia (menos de 2 s de eventos por gravar) %.0f s depois da última "
                "queda\n", caughtUp);
    std::printf("trocas sem queda (a estação que recebia desistiu sozinha): %d\n", spurious);
    std::printf("respondidos %ld, gravados %ld, perdidos %ld, repetidos %ld (enviados de novo "
                "porque a estação morta não respondeu), repetidos sem reenvio %ld, fora de ordem "
                "%ld\n",
                acked, recorded, lost, doubled, unjustified, disorder);
    std::printf("gravação: servidor %.0f eventos/s, embutido %.0f eventos/s (meta ≥ 1000 no "
                "servidor)\n",
                serverRate, embeddedRate);
    if (!toConsole.empty())
        std::printf("commit → segundo console: p50 %.0f ms, máx %.0f ms, %zu amostras (meta ≤ 1 s)\n",
                    bench::percentile(toConsole, 0.5), bench::percentile(toConsole, 1.0),
                    toConsole.size());
    return lost == 0 && unjustified == 0 ? 0 : 2;
}
