#include "OperatorRepository.h"

#include "core/operators/AuditTrail.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace tulmo::OperatorRepository {

namespace {
bool failed(const QSqlQuery &q, QString *errorText) {
    if (errorText) *errorText = q.lastError().text();
    return false;
}
bool insertRow(QSqlDatabase db, const Operator &op, QString *errorText);
bool updateRow(QSqlDatabase db, const QString &nomeAnterior, const Operator &op, QString *errorText);
bool removeRow(QSqlDatabase db, const QString &nome, QString *errorText);
} // namespace

QString listSql() {
    return QStringLiteral("Select * from OPERADORES\norder by NOME Asc");
}

bool isAdministrator(const QString &nome) {
    return nome == QLatin1String("admin") || nome == QLatin1String("ADMIN");
}

std::optional<Operator> find(QSqlDatabase db, const QString &nome, bool *ok) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool finished = q.prepare(QStringLiteral("Select * from Operadores\nWhere Nome =:Nome")) &&
                       (q.bindValue(QStringLiteral(":Nome"), nome), q.exec());
    if (ok) *ok = finished;
    if (!finished || !q.next()) return std::nullopt;
    Operator op;
    op.nome = q.value(QStringLiteral("NOME")).toString();
    op.permissoes = q.value(QStringLiteral("PERMISSOES")).toUInt();
    op.senha = q.value(QStringLiteral("SENHA")).toString();
    return op;
}

bool adminHasDefaultPassword(QSqlDatabase db) {
    const std::optional<Operator> admin = find(db, QLatin1String(kAdministrator));
    return passwordMatches(admin, QLatin1String(kDefaultPassword));
}

bool passwordMatches(const std::optional<Operator> &op, const QString &senha) {
    if (senha.isEmpty()) return false;
    return senha == (op ? op->senha : QString());
}

namespace {
const QString kRow = QStringLiteral("select NOME, PERMISSOES, SENHA from OPERADORES where NOME = ?");
audit::Entry entry(const QString &nome) {
    return {QString(), QStringLiteral("Operador ") + nome, QString(), QString(), QString()};
}
} // namespace

bool insert(QSqlDatabase db, const Operator &op, QString *errorText) {
    return audit::change(db, entry(op.nome), kRow, {op.nome}, [&] {
        return insertRow(db, op, errorText);
    }, errorText);
}

namespace {
bool insertRow(QSqlDatabase db, const Operator &op, QString *errorText) {
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("Insert Into OPERADORES\n( NOME, PERMISSOES, SENHA)\nValues\n"
                                  "( :Nome, :Permissoes, :Senha)")))
        return failed(q, errorText);
    q.bindValue(QStringLiteral(":Nome"), op.nome);
    q.bindValue(QStringLiteral(":Permissoes"), op.permissoes);
    q.bindValue(QStringLiteral(":Senha"), op.senha);
    return q.exec() || failed(q, errorText);
}
} // namespace

bool update(QSqlDatabase db, const QString &nomeAnterior, const Operator &op, QString *errorText) {
    const QVariantList after{op.nome};
    return audit::change(db, entry(nomeAnterior), kRow, {nomeAnterior}, [&] {
        return updateRow(db, nomeAnterior, op, errorText);
    }, errorText, &after);
}

namespace {
bool updateRow(QSqlDatabase db, const QString &nomeAnterior, const Operator &op, QString *errorText) {
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("Update Operadores Set\n"
                                  "  Nome       = :Nome,\n"
                                  "  Permissoes = :Permissoes,\n"
                                  "  Senha      = :Senha\n"
                                  "Where Nome = :Nome_Anterior")))
        return failed(q, errorText);
    q.bindValue(QStringLiteral(":Nome"), op.nome);
    q.bindValue(QStringLiteral(":Permissoes"), op.permissoes);
    q.bindValue(QStringLiteral(":Senha"), op.senha);
    q.bindValue(QStringLiteral(":Nome_Anterior"), nomeAnterior);
    if (!q.exec()) return failed(q, errorText);
    if (q.numRowsAffected() < 1) {
        if (errorText) *errorText = QStringLiteral("o operador \"%1\" não existe mais").arg(nomeAnterior);
        return false;
    }
    return true;
}
} // namespace

bool remove(QSqlDatabase db, const QString &nome, QString *errorText) {
    return audit::change(db, entry(nome), kRow, {nome}, [&] {
        return removeRow(db, nome, errorText);
    }, errorText);
}

namespace {
bool removeRow(QSqlDatabase db, const QString &nome, QString *errorText) {
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("Delete From Operadores\nWhere NOME = :Nome")))
        return failed(q, errorText);
    q.bindValue(QStringLiteral(":Nome"), nome);
    return q.exec() || failed(q, errorText);
}
} // namespace

} // namespace tulmo::Operadores
