#include "AccountRepository.h"

#include <QSqlQuery>

namespace tulmo::AccountRepository {

QString disarmedListSql() {
    return QStringLiteral("Select * from Clientes\nwhere DESARMADOS = 1\norder by CONTA Desc");
}

QString awaitingArmListSql() {
    return QStringLiteral("Select * from Clientes\nwhere REARME = 1\norder by CONTA Desc");
}

QString silentListSql() {
    return QStringLiteral(
        "Select * from Clientes\nwhere EVENTO_ATRASADO = 1\norder by ULTIMO_EVENTO Desc");
}

std::optional<Account> find(QSqlDatabase db, const QVariant &conta) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("Select * From CLIENTES where CONTA =:conta"));
    q.bindValue(QStringLiteral(":conta"), conta);
    if (!q.exec() || !q.next()) return std::nullopt;
    auto text = [&q](const char *c) { return q.value(QLatin1String(c)).toString(); };
    return Account{text("CONTA"),    text("NOME"),    text("TELEFONE1"), text("TELEFONE2"),
                   text("CELULAR"),  text("ANIMAIS"), text("SENHA"),     text("OBS")};
}

} // namespace tulmo::AccountRepository
