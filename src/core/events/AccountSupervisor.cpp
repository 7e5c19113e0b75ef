#include "AccountSupervisor.h"

#include "events/EventRecorder.h"
#include "store/Database.h"
#include "common/DateFormats.h"

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

bool AccountSupervisor::TimerInativosTimer(const QDateTime &now) {
    QSqlDatabase db = m_database.primary();
    m_queries = 0;
    int examined = 0;
    bool cameBack = false;
    // Keyset reading in account order along the primary key: each statement reads the few
    // rows this tick still has to examine, whatever the number of accounts. ("+ 0" keeps the
    // optimizer from walking the whole EVENTO_ATRASADO index to filter.)
    while (examined < kAccountsPerTick) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral(
                      "Select first %1 CONTA, NOME, ULTIMO_EVENTO, TEMPO_ATRASO from CLIENTES\n"
                      "where CONTA > :conta and EVENTO_ATRASADO + 0 = 0\n"
                      "order by Conta Asc")
                      .arg(kAccountsPerTick - examined));
        q.bindValue(QStringLiteral(":conta"), m_lastAccount);
        ++m_queries;
        if (!q.exec()) return false;
        while (q.next()) {
            ++examined;
            const QString conta = q.value(0).toString();
            const QString nome = q.value(1).toString();
            const QVariant last = q.value(2);
            const qint64 minutes = q.value(3).isNull() ? 0 : q.value(3).toLongLong();
            m_lastAccount = conta;
            const bool expired =
                last.isNull() || now >= last.toDateTime().addSecs(minutes * 60);
            if (expired && !conta.isEmpty()) {
                const QString since =
                    last.isNull()
                        ? QString()
                        : last.toDateTime().toString(DateFormats::kDateTime);
                q.finish();
                QSqlQuery u(db);
                u.prepare(
                    QStringLiteral("Update CLIENTES Set EVENTO_ATRASADO = 1\nwhere CONTA =:id"));
                u.bindValue(QStringLiteral(":id"), conta);
                if (!u.exec()) return false;
                restartScan();
                emit silentChanged();
                emit inactiveAccount(QStringLiteral("Cliente ") + conta + QLatin1Char('-') + nome +
                                  QStringLiteral(" Está inativo desde ") + since);
                return true;
            }
        }
        if (examined < kAccountsPerTick) {
            // The end of the list: the scan starts again from the lowest account.
            restartScan();
            if (cameBack) break;
            cameBack = true;
        }
    }
    return false;
}

} // namespace tulmo
