#include "core/events/RunawayRepository.h"

#include "core/operators/AuditTrail.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace tulmo::RunawayRepository {

QList<Row> list(QSqlDatabase db, bool *ok) {
    QList<Row> rows;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool done = q.exec(QStringLiteral(
        "select D.CONTA, (select first 1 C.NOME from CLIENTES C where C.CONTA = D.CONTA), "
        "D.DESDE, D.ULTIMO, D.SINAIS from CONTAS_DISPARADAS D order by D.CONTA"));
    while (done && q.next())
        rows.append({q.value(0).toString().trimmed(), q.value(1).toString().trimmed(),
                     q.value(2).toDateTime(), q.value(3).toDateTime(), q.value(4).toInt()});
    if (ok) *ok = done;
    return rows;
}

QHash<QString, QDateTime> flagged(QSqlDatabase db, bool *ok) {
    QHash<QString, QDateTime> out;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool done = q.exec(QStringLiteral("select CONTA, ULTIMO from CONTAS_DISPARADAS"));
    while (done && q.next())
        out.insert(q.value(0).toString(), q.value(1).toDateTime());
    if (ok) *ok = done;
    return out;
}

bool remove(QSqlDatabase db, const QString &conta, QString *error) {
    QSqlQuery q(db);
    QString auditError;
    const bool done = audit::change(
        db,
        {QString::fromUtf8(audit::kRunawayCleared), QStringLiteral("Conta %1 liberada do disparo").arg(conta.trimmed()),
         conta, QString(), QString()},
        QStringLiteral("select CONTA, DESDE, ULTIMO, SINAIS from CONTAS_DISPARADAS where CONTA = ?"),
        {conta},
        [&] {
            q.prepare(QStringLiteral("delete from CONTAS_DISPARADAS where CONTA = :c"));
            q.bindValue(QStringLiteral(":c"), conta);
            return q.exec();
        },
        &auditError);
    if (done) return true;
    if (error)
        *error = QStringLiteral("Não foi possível liberar a conta %1: %2")
                     .arg(conta.trimmed(), q.lastError().isValid()
                                               ? q.lastError().text().simplified()
                                               : auditError);
    return false;
}

} // namespace tulmo::RunawayRepository
