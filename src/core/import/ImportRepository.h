#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

#include <array>
#include <memory>

namespace tulmo {

struct EventCodeRow;

// The statements of the file import's listing, on the connection and in the transaction of the
// caller: the duplicate test (whether EVENTOS already holds an event of the same account, code,
// argument, partition and moment) and the registry look-ups the recording makes too. Each is
// prepared once per instance and run for every record of a block.
class ImportRepository {
public:
    explicit ImportRepository(QSqlDatabase db);
    ~ImportRepository();

    // Each returns false when its statement failed (lastError() says why).
    bool isRecorded(const QString &conta, const QString &codigo, const QString &argumento,
                    int particao, const QDateTime &data, bool *found);
    // CLIENTES.NOME; empty without a client.
    bool readClientName(const QString &conta, QString *nome);
    // DESCRICAO and TIPO of the code; empty without a row.
    bool readEventCode(const QString &codigo, EventCodeRow *out);
    // NOME_PARTICAO, and the DESCRICAO of USUARIOS or ZONAS; empty without a row.
    bool readPartitionName(const QString &conta, int particao, QString *out);
    bool readUserDescription(const QString &conta, int usuario, QString *out);
    bool readZoneDescription(const QString &conta, int zona, QString *out);

    const QSqlError &lastError() const { return m_error; }

private:
    enum Statement { Duplicate, Client, Code, Partition, User, Zone, StatementCount };
    // The statement, prepared on first use; nullptr when it cannot be.
    QSqlQuery *statement(Statement s);
    bool run(QSqlQuery *q);
    bool readText(Statement s, const QString &conta, const char *param, int number,
                  const char *column, QString *out);

    QSqlDatabase m_db;
    std::array<std::unique_ptr<QSqlQuery>, StatementCount> m_statements;
    QSqlError m_error;
};

} // namespace tulmo
