// What the audit trail costs an operator's treatment: the intervention as the console makes it,
// with the table's trigger that writes its audit row in the same transaction, against the same
// intervention with that trigger off (as it was before the audit), on pending events of a
// filled database; the two in alternating rounds, so that the database's growth and the disk
// weigh on both alike.
//
//   bench_audit [eventos=20000] [contas=5000] [amostras=1000]
//
// Goal: the audit adds at most 10 % to a treatment.

#include "BenchStats.h"
#include "Preencher.h"
#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "core/console/ConsoleCore.h"
#include "core/events/EventRepository.h"
#include "core/operators/AuditTrail.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace tulmo;

namespace {

double ms(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

} // namespace

int main(int argc, char **argv) {
    tulmo::prepareProcess();
    QCoreApplication app(argc, argv);
    const int events = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int accounts = argc > 2 ? std::atoi(argv[2]) : 5000;
    const int samples = argc > 3 ? std::atoi(argv[3]) : 1000;
    QTemporaryDir tmp;
    ConsoleCore core(tmp.path(), SystemClock::instance(), nullptr, nullptr);
    QString error;
    if (!core.start(&error)) qFatal("%s", qPrintable(error));
    core.stopTimer();
    QSqlDatabase db = core.database().primary();
    bench::preencherInforma(db, events, accounts);
    QList<qint64> pending;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.exec(QStringLiteral("select SEQUENCIA from EVENTOS where TRATADO = 0 order by SEQUENCIA"));
        while (q.next())
            pending << q.value(0).toLongLong();
    }
    if (pending.size() < 2 * samples) {
        std::printf("só %lld eventos pendentes: use mais eventos\n", qlonglong(pending.size()));
        return 1;
    }
    audit::setOperator(QStringLiteral("bench"));
    std::vector<double> alone, audited;
    EventRepository::TreatedBy by;
    constexpr int kRounds = 4;
    const int perRound = samples / kRounds;
    qsizetype next = 0;
    for (int round = 0; round < 2 * kRounds; ++round) {
        const bool withAudit = round % 2 == 1;
        bench::run(db, withAudit ? QStringLiteral("ALTER TRIGGER TRG_EVENTOS_AUDITORIA ACTIVE")
                                 : QStringLiteral("ALTER TRIGGER TRG_EVENTOS_AUDITORIA INACTIVE"));
        for (int i = 0; i < perRound; ++i) {
            const qint64 seq = pending[next++];
            QElapsedTimer t;
            t.start();
            if (EventRepository::finishIntervention(db, seq, QStringLiteral("viatura enviada"),
                                                    QStringLiteral("Ronda"),
                                                    QDateTime::currentDateTime(),
                                                    QStringLiteral("bench"), &by) !=
                EventRepository::Intervention::Recorded)
                qFatal("tratamento falhou");
            (withAudit ? audited : alone).push_back(ms(t));
        }
    }
    const int rows = bench::contar(db, QStringLiteral("select count(*) from AUDITORIA where ACAO = "
                                                      "'Tratamento de evento'"));
    if (rows != int(audited.size())) qFatal("%d linhas de auditoria para %zu tratamentos", rows, audited.size());
    auto mean = [](const std::vector<double> &v) {
        double s = 0;
        for (double x : v)
            s += x;
        return s / double(v.size());
    };
    const double a = mean(alone), b = mean(audited);
    std::printf("%lld pendentes de %d eventos; %d tratamentos de cada\n", qlonglong(pending.size()),
                events, samples);
    std::printf("sem auditoria: média %.3f ms, p50 %.3f ms, p99 %.3f ms\n", a,
                bench::percentile(alone, 0.5), bench::percentile(alone, 0.99));
    std::printf("com auditoria: média %.3f ms, p50 %.3f ms, p99 %.3f ms\n", b,
                bench::percentile(audited, 0.5), bench::percentile(audited, 0.99));
    std::printf("custo da auditoria: %+.1f %% da média (meta ≤ 10 %%)\n", (b - a) / a * 100.0);
    return 0;
}
