#include "GprsRepository.h"

#include "store/TransactionGuard.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace tulmo::GprsRepository {

namespace {
bool failed(const QSqlError &e, QString *errorText) {
    if (errorText) *errorText = e.text();
    return false;
}
QVariant orNull(const QString &s) {
    return s.isEmpty() ? QVariant() : QVariant(s);
}
} // namespace

std::optional<QList<GprsModule>> all(QSqlDatabase db, QString *errorText) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("Select IMEI, CONTA, STATUS, DATA, LISTA_NEGRA, EQUIPAMENTO, "
                               "SENHA_ACESSO from GPRS\norder by IMEI"))) {
        failed(q.lastError(), errorText);
        return std::nullopt;
    }
    QList<GprsModule> out;
    while (q.next()) {
        GprsModule m;
        m.imei = q.value(0).toString();
        m.conta = q.value(1).toString();
        m.status = q.value(2).toString();
        m.data = q.value(3).toDateTime();
        m.listaNegra = q.value(4).isNull() ? QString() : q.value(4).toString();
        m.equipamento = q.value(5).toString();
        m.senhaAcesso = q.value(6).toString();
        out.append(m);
    }
    if (q.lastError().isValid()) {
        failed(q.lastError(), errorText);
        return std::nullopt;
    }
    return out;
}

void prepareForPost(GprsModule &m, const QDateTime &now) {
    m.status = QStringLiteral("A");
    if (!m.data.isValid()) m.data = now;
    if (m.listaNegra.trimmed().isEmpty()) m.listaNegra = QStringLiteral("0");
    if (m.senhaAcesso.isEmpty()) m.senhaAcesso = QLatin1String(kDefaultPassword);
}

QString invalidInput(const GprsModule &m) {
    if (m.imei.trimmed().isEmpty()) return QStringLiteral("Informe o IMEI do módulo.");
    if (m.imei.size() > 6) return QStringLiteral("O IMEI deve ter no máximo 6 caracteres.");
    if (m.conta.size() > 6) return QStringLiteral("A conta deve ter no máximo 6 caracteres.");
    const QString ln = m.listaNegra.trimmed();
    if (ln != QLatin1String("0") && ln != QLatin1String("1"))
        return QStringLiteral("LISTA NEGRA deve ser 0 (liberado) ou 1 (bloqueado).");
    if (m.equipamento.size() > 2)
        return QStringLiteral("O equipamento deve ter no máximo 2 caracteres.");
    if (m.senhaAcesso.size() > 8)
        return QStringLiteral("A senha de acesso deve ter no máximo 8 caracteres.");
    return QString();
}

Post post(QSqlDatabase db, const QString &originalImei, const GprsModule &m, QString *errorText) {
    TransactionGuard transaction(db);
    if (!transaction.begun()) return failed(db.lastError(), errorText), Post::Failed;
    if (m.imei != originalImei) {
        QSqlQuery dup(db);
        dup.prepare(QStringLiteral("Select IMEI from GPRS where IMEI = :imei"));
        dup.bindValue(QStringLiteral(":imei"), m.imei);
        if (!dup.exec()) return failed(dup.lastError(), errorText), Post::Failed;
        if (dup.next()) return Post::Duplicate;
    }
    QSqlQuery q(db);
    const bool inserting = originalImei.isEmpty();
    q.prepare(inserting ? QStringLiteral("Insert Into GPRS (IMEI, CONTA, STATUS, DATA, "
                                         "LISTA_NEGRA, EQUIPAMENTO, SENHA_ACESSO)\n"
                                         "values(:imei,:conta,:status,:data,:lista_negra,"
                                         ":equipamento,:senha_acesso)")
                        : QStringLiteral("Update GPRS Set IMEI = :imei, CONTA = :conta, "
                                         "STATUS = :status, DATA = :data,\nLISTA_NEGRA = "
                                         ":lista_negra, EQUIPAMENTO = :equipamento, "
                                         "SENHA_ACESSO = :senha_acesso\nWhere IMEI = :anterior"));
    q.bindValue(QStringLiteral(":imei"), m.imei);
    q.bindValue(QStringLiteral(":conta"), orNull(m.conta));
    q.bindValue(QStringLiteral(":status"), m.status);
    q.bindValue(QStringLiteral(":data"), m.data);
    q.bindValue(QStringLiteral(":lista_negra"), m.listaNegra.trimmed().toInt());
    q.bindValue(QStringLiteral(":equipamento"), orNull(m.equipamento));
    q.bindValue(QStringLiteral(":senha_acesso"), m.senhaAcesso);
    if (!inserting) q.bindValue(QStringLiteral(":anterior"), originalImei);
    if (!q.exec()) return failed(q.lastError(), errorText), Post::Failed;
    if (!inserting && q.numRowsAffected() < 1) {
        if (errorText) *errorText = QStringLiteral("o módulo %1 não existe mais").arg(originalImei);
        return Post::Failed;
    }
    return transaction.commit() ? Post::Saved : (failed(db.lastError(), errorText), Post::Failed);
}

bool remove(QSqlDatabase db, const QString &imei, QString *errorText) {
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("Delete From GPRS\nWhere IMEI = :imei")))
        return failed(q.lastError(), errorText);
    q.bindValue(QStringLiteral(":imei"), imei);
    return q.exec() || failed(q.lastError(), errorText);
}

unsigned rowColor(const QString &status, const QString &listaNegra) {
    if (status == QLatin1String("P")) return 0xFFFF00;
    if (listaNegra.trimmed() == QLatin1String("1")) return 0xFF0000;
    return 0x00FF00;
}

} // namespace tulmo::GprsRepository
