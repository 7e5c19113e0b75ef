// Recording cost on a large station: one Grava_Evento_Banco_Dados plus the reload of the first
// screen (100 rows) of the received-events list, against a bare prepared INSERT with its commit.
//
//   bench_recording [events=1000000] [accounts=50000] [samples=300] [database folder]
//
// With a folder given, a database already filled there is reused.

#include "BenchStats.h"
#include "Preencher.h"
#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "BenchCore.h"
#include "core/events/EventLine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tulmo;

namespace {

using bench::percentile;

void report(const char *what, const std::vector<double> &ms) {
    std::printf("%-48s median %8.3f ms   p99 %8.3f ms   (n=%zu)\n", what, percentile(ms, 0.5),
                percentile(ms, 0.99), ms.size());
}

int reloadFirstScreen(QSqlDatabase db) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.exec(QStringLiteral("Select * From EVENTOS\nwhere TRATADO=1\norder by DATA desc"));
    int n = 0;
    while (n < 100 && q.next())
        ++n;
    return n;
}

} // namespace

int main(int argc, char **argv) {
    tulmo::prepareProcess();
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    const bench::Argumentos args(argc, argv, tmp.path());
    const int events = args.events, accounts = args.accounts, samples = args.samples;
    const QString &programDir = args.programDir;

    SystemClock &clock = SystemClock::instance();
    ConsoleCore core(programDir, clock, nullptr, nullptr);
    QString error;
    if (!core.start(&error)) qFatal("%s", qPrintable(error));
    QSqlDatabase db = core.database().primary();

    QElapsedTimer fill;
    fill.start();
    if (bench::preencher(db, events, accounts))
        std::printf("filled %d events and %d accounts in %.1f s\n", events, accounts,
                    double(fill.elapsed()) / 1000.0);

    // Plan of the first screen.
    {
        QSqlQuery q(db);
        q.exec("Select * From EVENTOS\nwhere TRATADO=1\norder by DATA desc");
        std::printf("first screen reads %d rows\n", reloadFirstScreen(db));
    }

    std::vector<double> record, bare, reload;
    QElapsedTimer t;
    QSqlQuery insert(db);
    insert.prepare(
        "Insert Into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, ARGUMENTO, NUMERO_PARTICAO, "
        "NOME_PARTICAO, DESCRICAO, TIPO, DATA, DATA_INTERVENCAO, DETALHES, IDECALL, TRATADO, "
        "PRIORIDADE) values (:a, :b, :c, :d, :e, :f, :g, :h, :i, :j, :k, :l, :m, :n)");
    for (int i = 0; i < samples; ++i) {
        // Receiver lines carry four-digit accounts.
        const QString conta =
            QString::number(1 + (i * 7919) % std::min(accounts, 9999)).rightJustified(4, '0');
        const QDateTime now = QDateTime::currentDateTime();
        const QString line = eventline::build("01", "1", conta, "1", i % 2 ? "1130" : "1401", "003",
                                              now.toString("dd/MM/yy"), now.toString("HH:mm:ss"),
                                              QStringLiteral("Não Identificado"));
        t.start();
        const RecordResult r = core.recorder().Grava_Evento_Banco_Dados(line);
        const qint64 g = t.nsecsElapsed();
        reloadFirstScreen(db);
        const qint64 all = t.nsecsElapsed();
        if (r.status != RecordResult::Status::Stored)
            qFatal("not stored: %s", qPrintable(r.reason));
        record.push_back(double(all) / 1e6);
        reload.push_back(double(all - g) / 1e6);

        t.start();
        insert.bindValue(":a", conta);
        insert.bindValue(":b", "CLIENTE");
        insert.bindValue(":c", "1130");
        insert.bindValue(":d", "003");
        insert.bindValue(":e", 1);
        insert.bindValue(":f", "PARTICAO 1");
        insert.bindValue(":g", "ALARME ROUBO SALA");
        insert.bindValue(":h", "ALARME");
        insert.bindValue(":i", now);
        insert.bindValue(":j", now);
        insert.bindValue(":k", "Evento Padrao");
        insert.bindValue(":l", "Nao Identificado");
        insert.bindValue(":m", 1);
        insert.bindValue(":n", 1);
        if (!insert.exec()) qFatal("%s", qPrintable(insert.lastError().text()));
        bare.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    // What a single select costs on its own: its own transaction, started and committed.
    std::vector<double> probe, prep;
    for (int i = 0; i < samples; ++i) {
        t.start();
        {
            QSqlQuery q(db);
            q.exec("select 1 from RDB$DATABASE");
            q.next();
        }
        probe.push_back(double(t.nsecsElapsed()) / 1e6);
        t.start();
        db.transaction();
        {
            QSqlQuery q(db);
            q.prepare("Select * from CLIENTES where CONTA =:conta");
        }
        db.commit();
        prep.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("\n%d events, %d accounts, %d samples\n", events, accounts, samples);
    report("Grava_Evento_Banco_Dados + first screen", record);
    report("  of which the first screen (100 rows)", reload);
    report("bare prepared INSERT + commit", bare);
    report("one select in its own transaction", probe);
    report("one prepare in a transaction", prep);
    std::printf("ratio of medians: %.2f (target: at most 3)\n",
                percentile(record, 0.5) / percentile(bare, 0.5));

    // A burst: lines queued at once, recorded by passes of the one-second driver's budget.
    const int burst = std::max(samples * 10, 1000);
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < burst; ++i) {
        const QString conta =
            QString::number(1 + (i * 7919) % std::min(accounts, 9999)).rightJustified(4, '0');
        core.eventQueue().stage(eventline::build("01", "1", conta, "1", i % 2 ? "1130" : "1401",
                                                 "003", now.toString("dd/MM/yy"),
                                                 now.toString("HH:mm:ss"), "Não Identificado"));
    }
    core.eventQueue().flush();
    std::vector<double> passes;
    QElapsedTimer whole;
    whole.start();
    while (!core.eventQueue().isEmpty()) {
        t.start();
        if (core.pump().recordPass() == 0) qFatal("a pass recorded nothing");
        passes.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const double secs = double(whole.nsecsElapsed()) / 1e9;
    std::printf("\nburst of %d queued lines: %zu passes in %.2f s, %.0f lines/s\n", burst,
                passes.size(), secs, burst / secs);
    report("one recording pass (budget 200 ms)", passes);
    return 0;
}
