#include "GprsRepository.h"

#include "core/registry/GprsDirectory.h"
#include "core/operators/AuditTrail.h"
#include "core/store/TransactionGuard.h"

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

const QString kColumns = QStringLiteral("IMEI, CONTA, STATUS, DATA, LISTA_NEGRA, EQUIPAMENTO, "
                                         "SENHA_ACESSO");
GprsModule moduleOf(const QSqlQuery &q) {
    GprsModule m;
    m.imei = q.value(0).toString();
    m.conta = q.value(1).toString();
    m.status = q.value(2).toString();
    m.data = q.value(3).toDateTime();
    m.listaNegra = q.value(4).isNull() ? QString() : q.value(4).toString();
    m.equipamento = q.value(5).toString();
    m.senhaAcesso = q.value(6).toString();
    return m;
}
// Binds a row's columns to the named values of an insert or an update.
void bind(QSqlQuery &q, const GprsModule &m) {
    q.bindValue(QStringLiteral(":imei"), m.imei);
    q.bindValue(QStringLiteral(":conta"), orNull(m.conta));
    q.bindValue(QStringLiteral(":status"), m.status);
    q.bindValue(QStringLiteral(":data"), m.data);
    q.bindValue(QStringLiteral(":lista_negra"), m.listaNegra.trimmed().toInt());
    q.bindValue(QStringLiteral(":equipamento"), orNull(m.equipamento));
    q.bindValue(QStringLiteral(":senha_acesso"), m.senhaAcesso);
}
const QString kInsert = QStringLiteral("Insert Into GPRS (IMEI, CONTA, STATUS, DATA, LISTA_NEGRA, "
                                       "EQUIPAMENTO, SENHA_ACESSO)\n"
                                       "values(:imei,:conta,:status,:data,:lista_negra,"
                                       ":equipamento,:senha_acesso)");
} // namespace

std::optional<QList<GprsModule>> all(QSqlDatabase db, QString *errorText) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("Select %1 from GPRS\norder by IMEI").arg(kColumns))) {
        failed(q.lastError(), errorText);
        return std::nullopt;
    }
    QList<GprsModule> out;
    while (q.next())
        out.append(moduleOf(q));
    if (q.lastError().isValid()) {
        failed(q.lastError(), errorText);
        return std::nullopt;
    }
    return out;
}

Found find(QSqlDatabase db, const QString &imei, GprsModule *out, QString *errorText) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("Select %1 from GPRS where IMEI =:imei").arg(kColumns));
    q.bindValue(QStringLiteral(":imei"), imei);
    if (!q.exec()) return failed(q.lastError(), errorText), Found::Failed;
    if (!q.next()) {
        if (q.lastError().isValid()) return failed(q.lastError(), errorText), Found::Failed;
        return Found::No;
    }
    if (out) *out = moduleOf(q);
    return Found::Yes;
}

int countByStatus(QSqlDatabase db, const QString &status, QString *errorText) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("Select count(*) from GPRS where STATUS =:status"));
    q.bindValue(QStringLiteral(":status"), status);
    if (!q.exec() || !q.next()) return failed(q.lastError(), errorText), -1;
    return q.value(0).toInt();
}

Registration insertPending(QSqlDatabase db, GprsDirectory *directory, const GprsModule &m,
                           int maxPending, int *pending, QString *errorText) {
    TransactionGuard transaction(db);
    if (!transaction.begun()) return failed(db.lastError(), errorText), Registration::Failed;
    const int n = countByStatus(db, QStringLiteral("P"), errorText);
    if (pending) *pending = n;
    if (n < 0) return Registration::Failed;
    if (n >= maxPending) return Registration::Full;
    QSqlQuery ins(db);
    ins.prepare(kInsert);
    bind(ins, m);
    if (!ins.exec()) return failed(ins.lastError(), errorText), Registration::Failed;
    if (!transaction.commit()) return failed(db.lastError(), errorText), Registration::Failed;
    if (directory) directory->put(m);
    return Registration::Inserted;
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

static Post postRow(QSqlDatabase db, const QString &originalImei, const GprsModule &m,
                    QString *errorText) {
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
    q.prepare(inserting ? kInsert
                        : QStringLiteral("Update GPRS Set IMEI = :imei, CONTA = :conta, "
                                         "STATUS = :status, DATA = :data,\nLISTA_NEGRA = "
                                         ":lista_negra, EQUIPAMENTO = :equipamento, "
                                         "SENHA_ACESSO = :senha_acesso\nWhere IMEI = :anterior"));
    bind(q, m);
    if (!inserting) q.bindValue(QStringLiteral(":anterior"), originalImei);
    if (!q.exec()) return failed(q.lastError(), errorText), Post::Failed;
    if (!inserting && q.numRowsAffected() < 1) {
        if (errorText) *errorText = QStringLiteral("o módulo %1 não existe mais").arg(originalImei);
        return Post::Failed;
    }
    if (!transaction.commit()) return failed(db.lastError(), errorText), Post::Failed;
    return Post::Saved;
}

namespace {
const QString kModuleRow = QStringLiteral("select * from GPRS where IMEI = ?");
audit::Entry moduleEntry(const QString &imei, const QString &conta) {
    return {QString(), QStringLiteral("Módulo GPRS ") + imei, conta, QString(), QString()};
}
} // namespace

Post post(QSqlDatabase db, GprsDirectory *directory, const QString &originalImei,
          const GprsModule &m, QString *errorText) {
    Post result = Post::Failed;
    const QVariantList after{m.imei};
    audit::change(
        db, moduleEntry(originalImei.isEmpty() ? m.imei : originalImei, m.conta), kModuleRow,
        {originalImei.isEmpty() ? m.imei : originalImei},
        [&] { return (result = postRow(db, originalImei, m, errorText)) == Post::Saved; },
        errorText, &after);
    if (result != Post::Saved) return result;
    // A block or an approval holds from the module's next identification.
    if (directory) {
        if (!originalImei.isEmpty() && originalImei != m.imei) directory->remove(originalImei);
        directory->put(m);
    }
    return Post::Saved;
}

bool remove(QSqlDatabase db, GprsDirectory *directory, const QString &imei, QString *errorText) {
    const bool removed = audit::change(db, moduleEntry(imei, QString()), kModuleRow, {imei}, [&] {
        QSqlQuery q(db);
        if (!q.prepare(QStringLiteral("Delete From GPRS\nWhere IMEI = :imei")))
            return failed(q.lastError(), errorText);
        q.bindValue(QStringLiteral(":imei"), imei);
        return q.exec() || failed(q.lastError(), errorText);
    }, errorText);
    if (!removed) return false;
    if (directory) directory->remove(imei);
    return true;
}

unsigned rowColor(const QString &status, const QString &listaNegra) {
    if (status == QLatin1String("P")) return 0xFFFF00;
    if (listaNegra.trimmed() == QLatin1String("1")) return 0xFF0000;
    return 0x00FF00;
}

} // namespace tulmo::GprsRepository
