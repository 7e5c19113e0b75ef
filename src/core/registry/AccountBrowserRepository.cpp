#include "AccountBrowserRepository.h"

#include "core/operators/AuditTrail.h"
#include "core/store/TransactionGuard.h"

#include <QSqlError>
#include <QSqlQuery>

namespace tulmo::AccountBrowserRepository {

namespace {

bool failed(const QSqlError &e, QString *errorText) {
    if (errorText) *errorText = e.text();
    return false;
}

// The widths of CONTA and NOME.
constexpr int kContaWidth = 6;
constexpr int kNomeWidth = 40;

// The filter's condition and its parameter. The operator's text only ever travels as a
// parameter, never inside the statement. The engine would give the pattern the column's own
// width (6 for CONTA), so "%12345%" failed on truncation: the parameter is cast to the width
// of the longest pattern that can still match, and a longer text matches nothing at all.
QString condition(const AccountFilter &f) {
    switch (f.kind) {
    case AccountFilter::Kind::ByNumber:
        return QStringLiteral("WHERE (UPPER(CONTA) LIKE CAST(:conta AS VARCHAR(%1)))")
            .arg(kContaWidth + 2);
    case AccountFilter::Kind::ByName:
        return QStringLiteral("WHERE (UPPER(NOME) LIKE CAST(:NOME AS VARCHAR(%1)))")
            .arg(kNomeWidth + 2);
    case AccountFilter::Kind::All:
        break;
    }
    return QString();
}

void bindFilter(QSqlQuery &q, const AccountFilter &f) {
    const QString pattern = QLatin1Char('%') + f.text.toUpper() + QLatin1Char('%');
    if (f.kind == AccountFilter::Kind::ByNumber) q.bindValue(QStringLiteral(":conta"), pattern);
    if (f.kind == AccountFilter::Kind::ByName) q.bindValue(QStringLiteral(":NOME"), pattern);
}

} // namespace

bool matchesNothing(const AccountFilter &f) {
    switch (f.kind) {
    case AccountFilter::Kind::ByNumber:
        return f.text.size() > kContaWidth;
    case AccountFilter::Kind::ByName:
        return f.text.size() > kNomeWidth;
    case AccountFilter::Kind::All:
        break;
    }
    return false;
}

namespace {

std::optional<ReadRows> readAll(QSqlQuery &q, QString *errorText) {
    if (!q.exec()) return failed(q.lastError(), errorText), std::nullopt;
    ReadRows out;
    out.record = q.record();
    const int fields = out.record.count();
    while (q.next()) {
        QVariantList row;
        row.reserve(fields);
        for (int f = 0; f < fields; ++f)
            row.append(q.value(f));
        out.rows.append(std::move(row));
    }
    if (q.lastError().isValid()) return failed(q.lastError(), errorText), std::nullopt;
    return out;
}

} // namespace

std::optional<ReadRows> accounts(QSqlDatabase db, const AccountFilter &filter, const QString &after,
                                 int limit, QString *errorText) {
    if (matchesNothing(filter)) return ReadRows{};
    QString where = condition(filter);
    if (!after.isEmpty())
        where += where.isEmpty() ? QStringLiteral("WHERE CONTA > :after")
                                 : QStringLiteral("\nand CONTA > :after");
    // The page follows the primary key, so each page is a short walk of its index.
    const QString sql = QStringLiteral("SELECT FIRST %1 %2 FROM CLIENTES\n%3\nORDER BY CONTA Asc")
                            .arg(limit)
                            .arg(QLatin1String(kAccountFields), where);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) return failed(q.lastError(), errorText), std::nullopt;
    bindFilter(q, filter);
    if (!after.isEmpty()) q.bindValue(QStringLiteral(":after"), after);
    return readAll(q, errorText);
}

int count(QSqlDatabase db, const AccountFilter &filter, QString *errorText) {
    if (matchesNothing(filter)) return 0;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT COUNT(*) FROM CLIENTES\n") + condition(filter)))
        return failed(q.lastError(), errorText), -1;
    bindFilter(q, filter);
    if (!q.exec() || !q.next()) return failed(q.lastError(), errorText), -1;
    return q.value(0).toInt();
}

std::optional<ReadRows> handledEvents(QSqlDatabase db, const QString &conta, int limit,
                                      QString *errorText) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("Select First %1 * From Eventos\nWhere (Conta = :Conta)\n"
                                  "and TRATADO = 1\nOrder By Data Desc")
                       .arg(limit)))
        return failed(q.lastError(), errorText), std::nullopt;
    q.bindValue(QStringLiteral(":Conta"), conta);
    return readAll(q, errorText);
}

std::optional<bool> hasEvents(QSqlDatabase db, const QString &conta, QString *errorText) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("Select  First 1 Ev.Conta\nFrom  Eventos Ev\n"
                                  "Where  Ev.Conta = :Conta")))
        return failed(q.lastError(), errorText), std::nullopt;
    q.bindValue(QStringLiteral(":Conta"), conta);
    if (!q.exec()) return failed(q.lastError(), errorText), std::nullopt;
    return q.next();
}

namespace {
// Deleted in one transaction, the audit row's.
bool removeRows(QSqlDatabase db, const QString &conta, QString *errorText) {
    static const char *const kTables[] = {"Clientes", "Eventos",  "Particoes",
                                          "Zonas",    "Usuarios", "Quadro_Horarios"};
    TransactionGuard transaction(db);
    if (!transaction.begun()) return failed(db.lastError(), errorText);
    for (const char *table : kTables) {
        QSqlQuery q(db);
        if (!q.prepare(
                QStringLiteral("Delete From %1\nWhere CONTA = :pConta").arg(QLatin1String(table))))
            return failed(q.lastError(), errorText);
        q.bindValue(QStringLiteral(":pConta"), conta);
        if (!q.exec()) return failed(q.lastError(), errorText);
    }
    return transaction.commit() || failed(db.lastError(), errorText);
}
} // namespace

bool remove(QSqlDatabase db, const QString &conta, QString *errorText) {
    return audit::change(
        db, {QString(), QStringLiteral("Conta %1 com seus eventos, zonas, usuários, partições e horários").arg(conta), conta, QString(), QString()},
        QStringLiteral("select * from CLIENTES where CONTA = ?"), {conta},
        [&] { return removeRows(db, conta, errorText); }, errorText);
}


} // namespace tulmo::AccountBrowserRepository
