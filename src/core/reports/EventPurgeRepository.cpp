#include "reports/EventPurgeRepository.h"

#include "store/TransactionGuard.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>

namespace tulmo::EventPurgeRepository {

namespace {

QString reasonOf(const QSqlError &e) {
    const QString db = e.databaseText().trimmed();
    return db.isEmpty() ? e.text().trimmed() : db;
}

// The conditions after "where".
QStringList conditions(const PurgeFilter &f) {
    QStringList l{QStringLiteral("(DATA>=:Data_inicial and DATA<=:Data_final)")};
    if (f.conta != kTodas) l << QStringLiteral("and conta=:conta");
    if (f.tipo != kTodos) l << QStringLiteral("and Tipo=:Tipo");
    if (!f.todasParticoes) l << QStringLiteral("and Numero_Particao=:Particao");
    return l;
}

bool prepareWith(QSqlQuery &q, const QStringList &lines, const PurgeFilter &f) {
    if (!q.prepare(lines.join(QLatin1Char('\n')))) return false;
    const QVariantList values = parameters(f);
    for (int i = 0; i < values.size(); ++i) q.bindValue(i, values.at(i));
    return true;
}

} // namespace

QStringList statementLines(const PurgeFilter &f) {
    return QStringList{QStringLiteral("Delete  from eventos where")} + conditions(f);
}

QVariantList parameters(const PurgeFilter &f) {
    QVariantList v{QDateTime(f.dataInicial, QTime(0, 0)), QDateTime(f.dataFinal, QTime(0, 0))};
    if (f.conta != kTodas) v << f.conta;
    if (f.tipo != kTodos) v << f.tipo;
    if (!f.todasParticoes) v << f.particao;
    return v;
}

int purge(QSqlDatabase db, const PurgeFilter &f, QString *errorText) {
    TransactionGuard t(db);
    if (!t.begun()) {
        if (errorText) *errorText = reasonOf(db.lastError());
        return -1;
    }
    QSqlQuery q(db);
    if (!prepareWith(q, statementLines(f), f) || !q.exec()) {
        if (errorText) *errorText = reasonOf(q.lastError());
        return -1;
    }
    const int deleted = q.numRowsAffected();
    q.finish();
    if (!t.commit()) {
        if (errorText) *errorText = reasonOf(db.lastError());
        return -1;
    }
    return deleted;
}

QStringList accounts(QSqlDatabase db, QString *errorText) {
    QStringList out;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("Select CONTA from CLIENTES"))) {
        if (errorText) *errorText = reasonOf(q.lastError());
        return out;
    }
    while (q.next()) out << q.value(0).toString();
    return out;
}

} // namespace tulmo::EventPurgeRepository
