#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <optional>

namespace tulmo {

// What the operator needs of a CLIENTES row to handle one of its events.
struct Account {
    QString conta;
    QString nome;
    QString telefone1;
    QString telefone2;
    QString celular;
    QString animais;
    QString senha;
    QString obs;
};

// The statements of the forms over CLIENTES: the main window's three account lists kept by
// the supervision flags, and the look-up of one account.
namespace AccountRepository {

// "Alarmes Desarmados": accounts disarmed now, highest account first.
QString disarmedListSql();
// "Aguardando Armar": accounts past their arming hour still disarmed.
QString awaitingArmListSql();
// "Sem comunicação": silent accounts, the longest silent last.
QString silentListSql();

// The account of that number, if any; nothing too when the statement fails.
std::optional<Account> find(QSqlDatabase db, const QVariant &conta);

} // namespace AccountRepository

} // namespace tulmo
