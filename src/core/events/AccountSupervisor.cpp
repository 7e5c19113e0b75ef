#include "AccountSupervisor.h"

#include "core/events/EventRecorder.h"
#include "core/store/Database.h"
#include "core/store/Schema.h"
#include "core/store/TransactionGuard.h"
#include "core/common/DateFormats.h"

#include <QList>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace tulmo {

AccountSupervisor::AccountSupervisor(Database &database, QObject *parent)
    : QObject(parent)
    , m_database(database) {}

bool AccountSupervisor::checkRearm(const QDateTime &now) {
    QSqlDatabase db = m_database.primary();
    QString conta, nome;
    {
        // Only while some account is disarmed; the flag has an index, so this is one probe.
        QSqlQuery any(db);
        any.setForwardOnly(true);
        if (!any.exec(QStringLiteral("select first 1 CONTA from CLIENTES where DESARMADOS = 1")) ||
            !any.next())
            return false;
    }
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("SELECT * FROM CLIENTES\n"
                                 "where (DESARMADOS = 1) and CONTA in (Select (CONTA) From "
                                 "QUADRO_HORARIOS where\n"
                                 "DIA =:dia\n"
                                 "and HORA =:hora\n"
                                 "and MARCADO =:marcado)"));
        q.bindValue(QStringLiteral(":dia"), EventRecorder::weekdayCode(now.date()));
        q.bindValue(QStringLiteral(":hora"), QTime(now.time().hour(), 0, 0));
        q.bindValue(QStringLiteral(":marcado"), 1);
        if (!q.exec() || !q.next()) return false;
        const QSqlRecord rec = q.record();
        conta = q.value(rec.indexOf(QStringLiteral("CONTA"))).toString();
        nome = q.value(rec.indexOf(QStringLiteral("NOME"))).toString();
    }
    if (conta.isEmpty()) return false;
    {
        // The due account itself, not every account whose holder has the same name.
        QSqlQuery u(db);
        u.prepare(QStringLiteral("Update CLIENTES Set DESARMADOS =:desarmados, REARME =:rearme\n"
                                 "where CONTA =:conta"));
        u.bindValue(QStringLiteral(":desarmados"), 0);
        u.bindValue(QStringLiteral(":rearme"), 1);
        u.bindValue(QStringLiteral(":conta"), conta);
        if (!u.exec()) return false;
    }
    emit disarmedChanged();
    emit awaitingArmChanged();
    emit accountAwaitingArm(QStringLiteral("Cliente ") + nome +
                              QStringLiteral(" Está Desarmado"));
    return true;
}

int AccountSupervisor::TimerInativosTimer(const QDateTime &now) {
    QSqlDatabase db = m_database.primary();
    struct Silent {
        QString conta, nome;
        QVariant last;
    };
    QList<Silent> found;
    {
        // Along the deadline index from its lowest key: the range starts at the lowest
        // timestamp so the walk skips the null keys of the marked accounts, which an upper
        // bound alone would read one by one.
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("Select first %1 CONTA, NOME, ULTIMO_EVENTO from CLIENTES\n"
                                 "where %2 between TIMESTAMP '0001-01-01 00:00:00' and :agora\n"
                                 "order by %2")
                      .arg(kMarksPerTick)
                      .arg(QLatin1String(schema::kSilenceDeadline)));
        q.bindValue(QStringLiteral(":agora"), now);
        if (!q.exec()) return 0;
        while (q.next())
            found.append({q.value(0).toString(), q.value(1).toString(), q.value(2)});
    }
    if (found.isEmpty()) return 0;
    {
        // One commit for the whole tick: a commit per account would wait for the disk each.
        TransactionGuard transaction(db);
        QSqlQuery u(db);
        u.prepare(QStringLiteral("Update CLIENTES Set EVENTO_ATRASADO = 1\nwhere CONTA =:id"));
        for (const Silent &s : found) {
            u.bindValue(QStringLiteral(":id"), s.conta);
            if (!u.exec()) return 0;
        }
        if (!transaction.commit()) return 0;
    }
    // Marked before announced: the alerts wait in line for the operator while the scan goes
    // on, and no account is raised twice.
    emit silentChanged();
    for (const Silent &s : found) {
        const QString since =
            s.last.isNull() ? QString() : s.last.toDateTime().toString(DateFormats::kDateTime);
        emit inactiveAccount(QStringLiteral("Cliente ") + s.conta + QLatin1Char('-') + s.nome +
                             QStringLiteral(" Está inativo desde ") + since);
    }
    return int(found.size());
}

} // namespace tulmo
