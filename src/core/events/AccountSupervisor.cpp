#include "AccountSupervisor.h"

#include "events/EventRecorder.h"
#include "store/Database.h"
#include "common/DateFormats.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace tulmo {

AccountSupervisor::AccountSupervisor(Database &banco, QObject *parent)
    : QObject(parent)
    , m_banco(banco) {}

bool AccountSupervisor::verificarRearme(const QDateTime &now) {
    QSqlDatabase db = m_banco.principal();
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
        q.bindValue(QStringLiteral(":dia"), EventRecorder::diaSemana(now.date()));
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
    emit desarmadosChanged();
    emit aguardandoArmarChanged();
    emit contaAguardandoArmar(QStringLiteral("Cliente ") + nome +
                              QStringLiteral(" Está Desarmado"));
    return true;
}

bool AccountSupervisor::TimerInativosTimer(const QDateTime &now) {
    QSqlDatabase db = m_banco.principal();
    m_consultas = 0;
    int examinadas = 0;
    bool voltou = false;
    // Keyset reading in account order along the primary key: each statement reads the few
    // rows this tick still has to examine, whatever the number of accounts. ("+ 0" keeps the
    // optimizer from walking the whole EVENTO_ATRASADO index to filter.)
    while (examinadas < kContasPorTick) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral(
                      "Select first %1 CONTA, NOME, ULTIMO_EVENTO, TEMPO_ATRASO from CLIENTES\n"
                      "where CONTA > :conta and EVENTO_ATRASADO + 0 = 0\n"
                      "order by Conta Asc")
                      .arg(kContasPorTick - examinadas));
        q.bindValue(QStringLiteral(":conta"), m_ultimaConta);
        ++m_consultas;
        if (!q.exec()) return false;
        while (q.next()) {
            ++examinadas;
            const QString conta = q.value(0).toString();
            const QString nome = q.value(1).toString();
            const QVariant ultimo = q.value(2);
            const qint64 minutos = q.value(3).isNull() ? 0 : q.value(3).toLongLong();
            m_ultimaConta = conta;
            const bool vencida =
                ultimo.isNull() || now >= ultimo.toDateTime().addSecs(minutos * 60);
            if (vencida && !conta.isEmpty()) {
                const QString desde =
                    ultimo.isNull()
                        ? QString()
                        : ultimo.toDateTime().toString(DateFormats::kDateTime);
                q.finish();
                QSqlQuery u(db);
                u.prepare(
                    QStringLiteral("Update CLIENTES Set EVENTO_ATRASADO = 1\nwhere CONTA =:id"));
                u.bindValue(QStringLiteral(":id"), conta);
                if (!u.exec()) return false;
                reabrirVarredura();
                emit semComunicacaoChanged();
                emit contaInativa(QStringLiteral("Cliente ") + conta + QLatin1Char('-') + nome +
                                  QStringLiteral(" Está inativo desde ") + desde);
                return true;
            }
        }
        if (examinadas < kContasPorTick) {
            // The end of the list: the scan starts again from the lowest account.
            reabrirVarredura();
            if (voltou) break;
            voltou = true;
        }
    }
    return false;
}

} // namespace tulmo
