#pragma once

#include <QSqlDatabase>
#include <QString>

#include <optional>

namespace tulmo {

// One row of OPERADORES: the name (the key, compared exactly), the permission bits
// (operators/Permissions.h) and the password, stored and compared as typed.
struct Operator {
    QString nome;
    quint32 permissoes = 0;
    QString senha;
};

// Reading and writing OPERADORES. Every change is committed at once; failures come back with
// the database's text in erro.
namespace OperatorRepository {

// The operator form's list: every operator by name.
QString listSql();

inline constexpr const char *kAdministrator = "admin";
// The administrator's password of a new installation.
inline constexpr const char *kDefaultPassword = "kavra";
// Whether the administrator still has the password of a new installation: only then may a
// refused login name it (telling anyone the password that opens everything is no help once
// it was changed).
bool adminHasDefaultPassword(QSqlDatabase db);
// "admin" or "ADMIN": may open the operator form.
bool isAdministrator(const QString &nome);

// The row of that name, if any. ok is false when the statement failed.
std::optional<Operator> find(QSqlDatabase db, const QString &nome, bool *ok = nullptr);
// The password must equal the row's exactly; an empty password or a missing row never matches.
bool passwordMatches(const std::optional<Operator> &op, const QString &senha);

bool insert(QSqlDatabase db, const Operator &op, QString *errorText = nullptr);
// Finds the row by the name it had, so a rename moves it; a row that is gone is an error.
bool update(QSqlDatabase db, const QString &nomeAnterior, const Operator &op,
             QString *errorText = nullptr);
bool remove(QSqlDatabase db, const QString &nome, QString *errorText = nullptr);

} // namespace Operadores

} // namespace tulmo
