#pragma once

#include "core/reports/ReportLayout.h"
#include "core/reports/ReportQuery.h"

#include <QList>
#include <QSqlDatabase>
#include <QStringList>

#include <functional>
#include <optional>

namespace tulmo {

// The account's mail address and holder, as the mailed report needs them.
struct AccountContact {
    bool found = false;
    QString email, nome;
};

// Every statement of the reports. Rows are read a page at a time by their key (DATA,
// SEQUENCIA), so no report holds its events in memory nor a cursor open while it is shown.
class ReportRepository {
public:
    // "Todas" is not among them: the CONTA of every account, in the database's order.
    static std::optional<QStringList> accounts(QSqlDatabase db, QString *error = nullptr);
    // The CONTA of every account with an e-mail, in the database's order.
    static std::optional<QStringList> accountsWithEmail(QSqlDatabase db, QString *error = nullptr);
    static AccountContact contact(QSqlDatabase db, const QString &conta, QString *error = nullptr);

    static std::optional<qint64> count(QSqlDatabase db, const ReportStatement &st,
                                       QString *error = nullptr);
    // Up to rows events after the key (from the first with an invalid key).
    static bool page(QSqlDatabase db, const ReportStatement &st, const QVariant &afterData,
                     const QVariant &afterSequencia, int rows, QList<ReportRow> *out,
                     QString *error = nullptr);
    // Reads the keys of up to rows events after the key, one forward pass; each gets its
    // position (from 1) and key.
    static bool walkKeys(QSqlDatabase db, const ReportStatement &st, const QVariant &data,
                         const QVariant &sequencia, int rows,
                         const std::function<void(int, const QVariant &, const QVariant &)> &each,
                         QString *error = nullptr);
    // Every event of the statement in its order, one at a time, through a forward cursor;
    // each returns false to stop.
    static bool forEach(QSqlDatabase db, const ReportStatement &st,
                        const std::function<bool(const ReportRow &)> &each,
                        QString *error = nullptr);
};

} // namespace tulmo
