#include "EventRepository.h"


#include <QSqlError>
#include <QSqlQuery>

namespace tulmo::EventRepository {

QString receivedListSql() {
    return QStringLiteral("Select * From EVENTOS\nwhere TRATADO=1\norder by DATA desc");
}

QString pendingListSql() {
    // The most urgent first (a priority out of 1 to 5 is none, after BAIXA), and within a
    // priority the one waiting longest.
    return QStringLiteral("Select * \nfrom EVENTOS\nWhere (TRATADO = 0)\nOrder By (case when "
                          "PRIORIDADE between 1 and 5 then PRIORIDADE else 0 end) desc, DATA, "
                          "SEQUENCIA");
}

int markShown(QSqlDatabase db, const QList<qint64> &sequences, const QDateTime &when) {
    if (sequences.isEmpty()) return 0;
    if (!db.transaction()) return -1;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("update EVENTOS set EXIBIDO = :t where SEQUENCIA = :s and EXIBIDO "
                             "is null"));
    int marked = 0;
    for (qint64 seq : sequences) {
        q.bindValue(QStringLiteral(":t"), when);
        q.bindValue(QStringLiteral(":s"), seq);
        if (!q.exec()) {
            db.rollback();
            return -1;
        }
        marked += q.numRowsAffected() > 0 ? 1 : 0;
    }
    return db.commit() ? marked : -1;
}

bool hasPending(QSqlDatabase db) {
    QSqlQuery q(db);
    return q.exec(QStringLiteral("select first 1 1 from EVENTOS where TRATADO = 0")) && q.next();
}

int pendingCount(QSqlDatabase db) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // Counting stops past the list's size: a count of every pending event reads them all.
    if (!q.exec(QStringLiteral("select count(*) from (select first %1 SEQUENCIA from EVENTOS "
                               "where TRATADO = 0) P")
                    .arg(kListRows + 1)) ||
        !q.next())
        return 0;
    return q.value(0).toInt();
}

Intervention finishIntervention(QSqlDatabase db, const QVariant &sequencia, const QString &detalhes,
                                const QString &intervencao, const QDateTime &when,
                                QString *errorText) {
    return finishIntervention(db, sequencia, detalhes, intervencao, when, QString(), nullptr,
                              errorText);
}

Intervention finishIntervention(QSqlDatabase db, const QVariant &sequencia, const QString &detalhes,
                                const QString &intervencao, const QDateTime &when,
                                const QString &operador, TreatedBy *by, QString *errorText) {
    // The audit row of the treatment is written by the table's trigger, in the same
    // transaction as the update: one statement, committed by itself.
    QSqlQuery q(db);
    bool ok = q.prepare(QStringLiteral("Update Eventos Set\n"
                                       "  Tratado          = :Tratado,\n"
                                       "  Detalhes         = :Detalhes,\n"
                                       "  Intervencao      = :Intervencao,\n"
                                       "  Data_Intervencao = :Data_Intervencao,\n"
                                       "  Operador_Tratou  = :Operador\n"
                                       "Where Sequencia = :Sequencia\n"
                                       "  and Tratado = 0"));
    if (ok) {
        q.bindValue(QStringLiteral(":Tratado"), 1);
        q.bindValue(QStringLiteral(":Detalhes"), detalhes.left(kDetailsWidth));
        q.bindValue(QStringLiteral(":Intervencao"), intervencao.left(kInterventionWidth));
        q.bindValue(QStringLiteral(":Data_Intervencao"), when);
        q.bindValue(QStringLiteral(":Operador"),
                    operador.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(operador.left(20)));
        q.bindValue(QStringLiteral(":Sequencia"), sequencia);
        ok = q.exec();
    }
    if (!ok) {
        if (errorText) *errorText = q.lastError().text();
        return Intervention::Failed;
    }
    if (q.numRowsAffected() > 0) return Intervention::Recorded;
    if (by) {
        QSqlQuery w(db);
        w.setForwardOnly(true);
        if (w.prepare(QStringLiteral("select OPERADOR_TRATOU, DATA_INTERVENCAO from EVENTOS "
                                     "where SEQUENCIA = :s and TRATADO <> 0"))) {
            w.bindValue(QStringLiteral(":s"), sequencia);
            if (w.exec() && w.next()) {
                by->operador = w.value(0).toString().trimmed();
                by->quando = w.value(1).toDateTime();
            }
        }
    }
    return Intervention::NotPending;
}

qint64 lastSequence(QSqlDatabase db) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select gen_id(GEN_EVENTOS_SEQUENCIA, 0) from RDB$DATABASE")) ||
        !q.next())
        return -1;
    return q.value(0).toLongLong();
}

QList<PendingEvent> pendingAfter(QSqlDatabase db, qint64 sequencia, int max, bool *ok) {
    QList<PendingEvent> rows;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // Along the key from the mark only: through the TRATADO index it would visit every event
    // left pending since a night without operators.
    bool ran = q.prepare(QStringLiteral("select first %1 SEQUENCIA, CONTA, CLIENTE, CODIGO_ALARME, "
                                        "DESCRICAO, NUMERO_PARTICAO, NOME_PARTICAO, ARGUMENTO, "
                                        "DATA from EVENTOS where SEQUENCIA > :s and TRATADO + 0 = 0 "
                                        "order by SEQUENCIA")
                             .arg(max));
    if (ran) {
        q.bindValue(QStringLiteral(":s"), sequencia);
        ran = q.exec();
    }
    if (ok) *ok = ran;
    while (ran && q.next()) {
        PendingEvent e;
        e.sequencia = q.value(0).toLongLong();
        e.conta = q.value(1).toString();
        e.cliente = q.value(2).toString();
        e.codigoAlarme = q.value(3).toString();
        e.descricao = q.value(4).toString();
        e.numeroParticao = q.value(5).toInt();
        e.nomeParticao = q.value(6).toString();
        e.argumento = q.value(7).toString();
        e.data = q.value(8).toDateTime();
        rows.append(e);
    }
    return rows;
}

} // namespace tulmo::EventRepository
