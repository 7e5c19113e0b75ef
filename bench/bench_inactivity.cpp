// The inactivity scan on a large station: how many ticks, and how long, until a thousand
// accounts that fall silent together are all marked, and what a tick costs when nobody is due.
//
//   bench_inactivity [accounts=1000000] [silent=1000] [samples=300] [database folder]
//
// One account in twenty is already marked silent, as the panels a station has lost track of.
// With a folder given, a database already filled there is reused. Runs without a screen.

#include "BenchStats.h"
#include "Preencher.h"
#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "BenchCore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tulmo;

namespace {

// The moment every account last spoke, and the bench's "now": an hour later.
const QDateTime kFilled(QDate(2026, 3, 9), QTime(8, 30, 0));

using bench::percentile;

double ms(const QElapsedTimer &t) {
    return double(t.nsecsElapsed()) / 1e6;
}

void fill(QSqlDatabase db, int accounts) {
    if (bench::contar(db, QStringLiteral("select count(*) from CLIENTES")) >= accounts) return;
    bench::run(db, QStringLiteral("delete from CLIENTES"));
    QElapsedTimer t;
    t.start();
    // One statement, one transaction: a commit per row would wait for the disk a million times.
    bench::run(db, QStringLiteral(
                       "EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN WHILE (i < %1) DO BEGIN "
                       "INSERT INTO CLIENTES (CONTA, NOME, DESARMADOS, REARME, EVENTO_ATRASADO, "
                       "TEMPO_ATRASO, ULTIMO_EVENTO) VALUES (LPAD(:i, 6, '0'), 'CLIENTE ' || :i, "
                       "0, 0, IIF(MOD(:i, 20) = 0, 1, 0), 1440, '%2'); i = i + 1; END END")
                       .arg(accounts)
                       .arg(kFilled.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    std::printf("filled %d accounts in %.1f s\n", accounts, double(t.elapsed()) / 1000.0);
}

// Rows of CLIENTES this connection has read so far.
qint64 rowsRead(QSqlDatabase db) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral(
            "select coalesce(sum(r.MON$RECORD_SEQ_READS + r.MON$RECORD_IDX_READS), 0) from "
            "MON$TABLE_STATS t join MON$RECORD_STATS r on r.MON$STAT_ID = t.MON$RECORD_STAT_ID "
            "join MON$ATTACHMENTS a on a.MON$STAT_ID = t.MON$STAT_ID where a.MON$ATTACHMENT_ID = "
            "CURRENT_CONNECTION and t.MON$TABLE_NAME = 'CLIENTES'")) ||
        !q.next())
        return -1;
    return q.value(0).toLongLong();
}

} // namespace

int main(int argc, char **argv) {
    tulmo::prepareProcess();
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    const int accounts = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int silent = std::min(argc > 2 ? std::atoi(argv[2]) : 1000, accounts / 20);
    const int samples = argc > 3 ? std::atoi(argv[3]) : 300;
    const QString programDir = argc > 4 ? QString::fromLocal8Bit(argv[4]) : tmp.path();
    QDir().mkpath(programDir);

    ManualClock clock(kFilled.addSecs(3600));
    ConsoleCore core(programDir, clock, nullptr, nullptr);
    QString error;
    if (!core.start(&error)) qFatal("%s", qPrintable(error));
    QSqlDatabase db = core.database().primary();
    fill(db, accounts);
    int marked = 0;
    QObject::connect(&core.supervisor(), &AccountSupervisor::inactiveAccount,
                     [&marked](const QString &) { ++marked; });
    // Whatever an interrupted run left due is marked first, uncounted.
    for (int guard = 0; guard < 100000; ++guard) {
        const int before = marked;
        core.TimerInativosTimer();
        if (marked == before) break;
    }

    // Nobody due: the tick the console runs every second of a quiet station.
    std::vector<double> idle;
    const qint64 readBefore = rowsRead(db);
    QElapsedTimer t;
    for (int i = 0; i < samples; ++i) {
        clock.advanceSecs(1);
        t.start();
        core.TimerInativosTimer();
        idle.push_back(ms(t));
    }
    const double readPerIdleTick = double(rowsRead(db) - readBefore) / samples;

    // The silent accounts spread over the whole range of account numbers, none marked yet.
    const int step = accounts / silent;
    bench::run(db, QStringLiteral("EXECUTE BLOCK AS DECLARE k INTEGER = 0; BEGIN WHILE (k < %1) "
                                  "DO BEGIN UPDATE CLIENTES SET EVENTO_ATRASADO = 0, ULTIMO_EVENTO "
                                  "= '%2' WHERE CONTA = LPAD(:k * %3 + 7, 6, '0'); k = k + 1; "
                                  "END END")
                       .arg(silent)
                       .arg(kFilled.addDays(-2).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                       .arg(step));
    const int due = bench::contar(
        db, QStringLiteral("select count(*) from CLIENTES where EVENTO_ATRASADO = 0 and "
                           "ULTIMO_EVENTO < '%1'")
                .arg(kFilled.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    marked = 0;
    std::vector<double> burst;
    QElapsedTimer wall;
    wall.start();
    const int maxTicks = 600;
    while (marked < due && int(burst.size()) < maxTicks) {
        clock.advanceSecs(1);
        t.start();
        core.TimerInativosTimer();
        burst.push_back(ms(t));
    }
    const double wallMs = ms(wall);

    std::printf("\n%d accounts (one in twenty already marked), %d fall silent together\n",
                accounts, due);
    std::printf("%-44s %d of %d in %zu ticks, %.1f ms of ticks   target <= 60 ticks\n",
                "silent accounts marked", marked, due, burst.size(), wallMs);
    std::printf("%-44s median %8.3f ms   max %8.3f ms\n", "  a tick that marks",
                percentile(burst, 0.5), *std::max_element(burst.begin(), burst.end()));
    std::printf("%-44s median %8.3f ms   p99 %8.3f ms   (n=%d)   target median < 2 ms\n",
                "idle tick (nobody due)", percentile(idle, 0.5), percentile(idle, 0.99), samples);
    std::printf("%-44s %.1f\n", "  rows of CLIENTES read per idle tick", readPerIdleTick);
    core.shutdown();
    return 0;
}
