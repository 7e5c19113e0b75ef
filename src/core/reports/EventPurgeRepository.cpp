#include "core/reports/EventPurgeRepository.h"

#include "core/operators/AuditTrail.h"

#include "core/store/TransactionGuard.h"

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
    if (!f.upToSequencia.isNull()) l << QStringLiteral("and Sequencia<=:Sequencia");
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
    if (!f.upToSequencia.isNull()) v << f.upToSequencia;
    return v;
}

std::optional<PurgeSurvey> survey(QSqlDatabase db, const PurgeFilter &f, QString *errorText) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const QStringList lines =
        QStringList{QStringLiteral("Select count(*), coalesce(sum(iif(TRATADO = 0, 1, 0)), 0), "
                                   "max(SEQUENCIA)"),
                    QStringLiteral("from eventos where")} +
        conditions(f);
    if (!prepareWith(q, lines, f) || !q.exec() || !q.next()) {
        if (errorText) *errorText = reasonOf(q.lastError());
        return std::nullopt;
    }
    PurgeSurvey s;
    s.total = q.value(0).toInt();
    s.pending = q.value(1).toInt();
    s.lastSequencia = q.value(2);
    return s;
}

QString pendingQuestion(const PurgeSurvey &s) {
    if (s.pending <= 0) return QString();
    const QString ask = QStringLiteral(" Deseja continuar?");
    if (s.total == 1) return QStringLiteral("Será apagado 1 evento, pendente (não tratado).") + ask;
    const QString pendentes =
        s.pending == 1 ? QStringLiteral("1 deles pendente (não tratado)")
                       : QStringLiteral("%1 deles pendentes (não tratados)").arg(s.pending);
    return QStringLiteral("Serão apagados %1 eventos, %2.").arg(s.total).arg(pendentes) + ask;
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
    const QString which = audit::fields(
        {{"DATA_INICIAL", f.dataInicial}, {"DATA_FINAL", f.dataFinal}, {"CONTA", f.conta},
         {"TIPO", f.tipo},
         {"PARTICAO", f.todasParticoes ? QVariant(QStringLiteral("Todas")) : QVariant(f.particao)},
         {"ATE_SEQUENCIA", f.upToSequencia}});
    QString auditError;
    if (!audit::write(db, {QString::fromUtf8(audit::kPurge),
                           QStringLiteral("%1 eventos apagados").arg(deleted),
                           f.conta == QLatin1String("Todas") ? QString() : f.conta, which,
                           QString()},
                      &auditError)) {
        if (errorText) *errorText = auditError;
        return -1;
    }
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
