#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>
#include <QVariant>

#include <optional>

namespace tulmo {

// Which accounts the browser lists: all of them, those whose number contains a text, or those
// whose name contains it (both without regard to case).
struct AccountFilter {
    enum class Kind { All, ByNumber, ByName };
    Kind kind = Kind::All;
    QString text;
};

// Rows read by one statement: the fields it returned and their values.
struct ReadRows {
    QSqlRecord record;
    QList<QVariantList> rows;
};

// The statements of the account browser over CLIENTES and EVENTOS. Lists are read a page at a
// time in the account order, each page after the last account read, so a station of tens of
// thousands of accounts shows its first screen as fast as a small one.
namespace AccountBrowserRepository {

// The fields of the account list, in the order the grid shows them.
inline constexpr const char *kAccountFields = "CONTA, NOME, TELEFONE1, TELEFONE2, CELULAR, EMAIL";

// Whether the filter's text is longer than its column, so that no account can contain it.
bool matchesNothing(const AccountFilter &filter);
// At most `limit` accounts of the filter whose number comes after `after` (all when empty).
std::optional<ReadRows> accounts(QSqlDatabase db, const AccountFilter &filter, const QString &after,
                                 int limit, QString *errorText = nullptr);
// How many accounts the filter lists; -1 when the statement failed.
int count(QSqlDatabase db, const AccountFilter &filter, QString *errorText = nullptr);
// The account's handled events, newest first, at most `limit` of them.
std::optional<ReadRows> handledEvents(QSqlDatabase db, const QString &conta, int limit,
                                      QString *errorText = nullptr);
// Whether the account has any event; nullopt when the statement failed.
std::optional<bool> hasEvents(QSqlDatabase db, const QString &conta, QString *errorText = nullptr);
// Deletes the account and its events, partitions, zones, users and schedule in one
// transaction: all of them or, on any failure, none. Its GPRS modules stay registered.
bool remove(QSqlDatabase db, const QString &conta, QString *errorText = nullptr);

} // namespace AccountBrowserRepository

} // namespace tulmo
