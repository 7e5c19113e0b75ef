#pragma once

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QTime>

#include <array>
#include <memory>

class QSqlQuery;

namespace tulmo {

// The account's row as the recording needs it; empty texts when the account is not registered.
struct AccountRow {
    QString nome;
    QString celular;
};

// The code's row of EVENTOS_PADRAO; empty texts and zeros when the code is not in the catalogue.
struct EventCodeRow {
    QString descricao;
    QString tipo; // the type number as text, empty when it has none
    int registroAutomatico = 0;
    int prioridade = 0;
    QString som;
    int somContinuo = 0;
    int envioSms = 0;
};

// The fourteen values of a new EVENTOS row.
struct EventRow {
    QString conta, cliente, codigoAlarme, argumento;
    int numeroParticao = 0;
    QString nomeParticao, descricao, tipo;
    QDateTime data, dataIntervencao;
    QString detalhes, idecall;
    int tratado = 0;
    int prioridade = 0;
};

// Every statement of the recording of an event (Grava_Evento_Banco_Dados), on the connection
// and in the transaction its caller holds. Each call answers false when its statement failed;
// lastError() then holds the database's error, its code telling the line's data from the
// database's own trouble.
class RecordingRepository {
public:
    explicit RecordingRepository(QSqlDatabase db);
    ~RecordingRepository();
    RecordingRepository(const RecordingRepository &) = delete;
    RecordingRepository &operator=(const RecordingRepository &) = delete;

    bool readAccount(const QString &conta, AccountRow *out);
    bool readEventCode(const QString &codigo, EventCodeRow *out);
    // ULTIMO_EVENTO := agora, EVENTO_ATRASADO := 0: any event is a sign of life.
    bool markSignOfLife(const QString &conta, const QDateTime &now);
    // The partition's NOME_PARTICAO; empty without a row.
    bool readPartitionName(const QString &conta, int particao, QString *out);
    // The DESCRICAO of USUARIOS or ZONAS; empty without a row.
    bool readUserDescription(const QString &conta, int usuario, QString *out);
    bool readZoneDescription(const QString &conta, int zona, QString *out);
    bool setDesarmados(const QString &conta, int desarmados);
    bool setRearme(const QString &conta, int rearme);
    // Whether QUADRO_HORARIOS marks the account armed at that day and hour.
    bool readScheduleMarked(const QString &conta, const QString &dia, const QTime &hora,
                            bool *marked);
    // The slots (RECEIVER) of the receivers marked ENVIA_SMS; none when the query fails,
    // since an SMS is sent on a best-effort basis.
    QList<int> readSmsReceivers();
    // Texts longer than their column are cut to its width rather than failing the insert.
    bool insertEvent(const EventRow &row);

    // Each line of a batch is recorded under a savepoint, so a line turned away takes back
    // its own statements only and the lines before it stay in the transaction.
    bool setSavepoint();
    bool rollbackToSavepoint();
    // QUEUE_MARK: the number of the last line of a numbered event queue that the store has
    // taken; -1 when it has taken none of that queue.
    bool readQueueMark(const QString &queueId, qint64 *last);
    bool writeQueueMark(const QString &queueId, qint64 last);

    // The reception lease: renews it (RENOVADO, CONTADOR) when the epoch is still this one,
    // in the caller's transaction; held tells whether it was. A standby that took reception
    // over has moved the epoch on, and its update waits for this transaction or refuses it.
    bool confirmLease(qint64 epoch, bool *held);
    // FILA_EVENTOS: the lines of the queue numbered up to last leave the shared queue.
    bool takeShared(const QString &queueId, qint64 last);
    // The same for the one line numbered number (one recorded ahead of the head).
    bool takeSharedLine(const QString &queueId, qint64 number);
    // FILA_ADIANTADAS: lines of the queue recorded ahead of its head. The numbers above the
    // mark, in order; one more; and those up to the mark, which the mark now covers, leave.
    bool readAhead(const QString &queueId, qint64 above, QList<qint64> *numbers);
    bool writeAhead(const QString &queueId, qint64 number);
    bool dropAhead(const QString &queueId, qint64 last);
    // An event recorded without being raised, the reason in EVENTOS.SUPRESSAO ("DISPARO").
    bool insertSuppressed(const EventRow &e, const QString &reason);
    // CONTAS_DISPARADAS: an account flagged runaway at when, and each event of it from then.
    bool flagRunaway(const QString &conta, const QDateTime &when);
    bool noteRunaway(const QString &conta, const QDateTime &when);

    const QSqlError &lastError() const { return m_error; }

private:
    enum Statement {
        kAccount, kEventCode, kSignOfLife, kPartition, kUser, kZone, kDesarmados, kRearme,
        kSchedule, kInsert, kInsertSuppressed, kFlagRunaway, kNoteRunaway, kSavepoint,
        kRollback, kWriteAhead, kTakeSharedLine, kStatements
    };
    QSqlQuery &statement(Statement which, const QString &sql);
    bool readDescription(Statement which, const QString &sql, const QString &conta,
                         const QString &param, int number, QString *out);
    bool run(QSqlQuery &q);

    QSqlDatabase m_db;
    QSqlError m_error;
    std::array<std::unique_ptr<QSqlQuery>, kStatements> m_statements;
};

} // namespace tulmo
