#include "OperatorRepository.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace tulmo::OperatorRepository {

namespace {
bool falha(const QSqlQuery &q, QString *erro) {
    if (erro) *erro = q.lastError().text();
    return false;
}
} // namespace

QString listSql() {
    return QStringLiteral("Select * from OPERADORES\norder by NOME Asc");
}

bool ehAdministrador(const QString &nome) {
    return nome == QLatin1String("admin") || nome == QLatin1String("ADMIN");
}

std::optional<Operator> buscar(QSqlDatabase db, const QString &nome, bool *ok) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool feito = q.prepare(QStringLiteral("Select * from Operadores\nWhere Nome =:Nome")) &&
                       (q.bindValue(QStringLiteral(":Nome"), nome), q.exec());
    if (ok) *ok = feito;
    if (!feito || !q.next()) return std::nullopt;
    Operator op;
    op.nome = q.value(QStringLiteral("NOME")).toString();
    op.permissoes = q.value(QStringLiteral("PERMISSOES")).toUInt();
    op.senha = q.value(QStringLiteral("SENHA")).toString();
    return op;
}

bool senhaConfere(const std::optional<Operator> &op, const QString &senha) {
    if (senha.isEmpty()) return false;
    return senha == (op ? op->senha : QString());
}

bool incluir(QSqlDatabase db, const Operator &op, QString *erro) {
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("Insert Into OPERADORES\n( NOME, PERMISSOES, SENHA)\nValues\n"
                                  "( :Nome, :Permissoes, :Senha)")))
        return falha(q, erro);
    q.bindValue(QStringLiteral(":Nome"), op.nome);
    q.bindValue(QStringLiteral(":Permissoes"), op.permissoes);
    q.bindValue(QStringLiteral(":Senha"), op.senha);
    return q.exec() || falha(q, erro);
}

bool alterar(QSqlDatabase db, const QString &nomeAnterior, const Operator &op, QString *erro) {
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("Update Operadores Set\n"
                                  "  Nome       = :Nome,\n"
                                  "  Permissoes = :Permissoes,\n"
                                  "  Senha      = :Senha\n"
                                  "Where Nome = :Nome_Anterior")))
        return falha(q, erro);
    q.bindValue(QStringLiteral(":Nome"), op.nome);
    q.bindValue(QStringLiteral(":Permissoes"), op.permissoes);
    q.bindValue(QStringLiteral(":Senha"), op.senha);
    q.bindValue(QStringLiteral(":Nome_Anterior"), nomeAnterior);
    if (!q.exec()) return falha(q, erro);
    if (q.numRowsAffected() < 1) {
        if (erro) *erro = QStringLiteral("o operador \"%1\" não existe mais").arg(nomeAnterior);
        return false;
    }
    return true;
}

bool excluir(QSqlDatabase db, const QString &nome, QString *erro) {
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("Delete From Operadores\nWhere NOME = :Nome")))
        return falha(q, erro);
    q.bindValue(QStringLiteral(":Nome"), nome);
    return q.exec() || falha(q, erro);
}

} // namespace tulmo::Operadores
