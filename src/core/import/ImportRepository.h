#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

namespace tulmo {

// The duplicate test of the file import: whether EVENTOS already holds an event of the same
// account, code, argument, partition and moment. The statement is prepared once and run for
// every record of a file, on the connection and in the transaction of the caller.
class ImportRepository {
public:
    explicit ImportRepository(QSqlDatabase db);

    // False when the statement failed (lastError() says why).
    bool isRecorded(const QString &conta, const QString &codigo, const QString &argumento,
                    int particao, const QDateTime &data, bool *found);
    const QSqlError &lastError() const { return m_error; }

private:
    QSqlDatabase m_db;
    QSqlQuery m_query;
    bool m_prepared = false;
    QSqlError m_error;
};

} // namespace tulmo
