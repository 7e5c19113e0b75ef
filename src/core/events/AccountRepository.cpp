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
    auto texto = [&q](const char *c) { return q.value(QLatin1String(c)).toString(); };
    return Account{texto("CONTA"),    texto("NOME"),    texto("TELEFONE1"), texto("TELEFONE2"),
                   texto("CELULAR"),  texto("ANIMAIS"), texto("SENHA"),     texto("OBS")};
}

} // namespace tulmo::AccountRepository
