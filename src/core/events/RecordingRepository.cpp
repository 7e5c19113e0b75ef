#include "RecordingRepository.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace tulmo {

namespace {

// Columns by name, with the query's record taken once (each record() call describes every
// column of the statement again).
class Row {
public:
    explicit Row(const QSqlQuery &q)
        : m_q(q)
        , m_rec(q.record()) {}
    QVariant operator[](const char *name) const {
        const int i = m_rec.indexOf(QLatin1String(name));
        return i < 0 ? QVariant() : m_q.value(i);
    }

private:
    const QSqlQuery &m_q;
    QSqlRecord m_rec;
};

QString fit(const QString &s, int width) {
    return s.left(width);
}

} // namespace

RecordingRepository::RecordingRepository(QSqlDatabase db)
    : m_db(std::move(db)) {}

RecordingRepository::~RecordingRepository() = default;

// Prepared once for the repository's life: a batch of lines runs the same statements for each,
// and preparing one costs the engine about as much as running it.
QSqlQuery &RecordingRepository::statement(Statement which, const QString &sql) {
    std::unique_ptr<QSqlQuery> &q = m_statements[size_t(which)];
    if (!q) {
        q = std::make_unique<QSqlQuery>(m_db);
        q->setForwardOnly(true);
        q->prepare(sql); // a failure shows at its exec, in lastError
    } else {
        q->finish(); // the rows of its last run are not read any further
    }
    return *q;
}

bool RecordingRepository::run(QSqlQuery &q) {
    if (q.exec()) return true;
    m_error = q.lastError();
    return false;
}

bool RecordingRepository::readAccount(const QString &conta, AccountRow *out) {
    QSqlQuery &q = statement(kAccount, QStringLiteral("Select * from CLIENTES where CONTA =:conta"));
    q.bindValue(QStringLiteral(":conta"), conta);
    if (!run(q)) return false;
    *out = {};
    if (q.next()) {
        const Row row(q);
        out->nome = row["NOME"].toString();
        out->celular = row["CELULAR"].toString();
    }
    return true;
}

bool RecordingRepository::readEventCode(const QString &codigo, EventCodeRow *out) {
    QSqlQuery &q = statement(
        kEventCode, QStringLiteral("Select * from EVENTOS_PADRAO where CODIGO_EVENTO =:codigo"));
    q.bindValue(QStringLiteral(":codigo"), codigo);
    if (!run(q)) return false;
    *out = {};
    if (q.next()) {
        const Row row(q);
        out->descricao = row["DESCRICAO"].toString();
        const QVariant t = row["TIPO"];
        out->tipo = t.isNull() ? QString() : QString::number(t.toInt());
        out->registroAutomatico = row["REGISTRO_AUTOMATICO"].toInt();
        out->prioridade = row["PRIORIDADE"].toInt();
        out->som = row["SOM"].toString();
        out->somContinuo = row["SOM_CONTINUO"].toInt();
        out->envioSms = row["ENVIO_SMS"].toInt();
    }
    return true;
}

bool RecordingRepository::markSignOfLife(const QString &conta, const QDateTime &now) {
    QSqlQuery &q = statement(
        kSignOfLife,
        QStringLiteral("Update CLIENTES Set ULTIMO_EVENTO =:UltimoEvento, EVENTO_ATRASADO = 0\n"
                       "where CONTA =:id"));
    q.bindValue(QStringLiteral(":UltimoEvento"), now);
    q.bindValue(QStringLiteral(":id"), conta);
    return run(q);
}

bool RecordingRepository::readPartitionName(const QString &conta, int particao, QString *out) {
    QSqlQuery &q = statement(
        kPartition,
        QStringLiteral("Select * from PARTICOES where CONTA =:conta and PARTICAO =:particao"));
    q.bindValue(QStringLiteral(":conta"), conta);
    q.bindValue(QStringLiteral(":particao"), particao);
    if (!run(q)) return false;
    *out = q.next() ? Row(q)["NOME_PARTICAO"].toString() : QString();
    return true;
}

bool RecordingRepository::readDescription(Statement which, const QString &sql,
                                          const QString &conta, const QString &param, int number,
                                          QString *out) {
    QSqlQuery &q = statement(which, sql);
    q.bindValue(QStringLiteral(":conta"), conta);
    q.bindValue(param, number);
    if (!run(q)) return false;
    *out = q.next() ? Row(q)["DESCRICAO"].toString() : QString();
    return true;
}

bool RecordingRepository::readUserDescription(const QString &conta, int usuario, QString *out) {
    return readDescription(
        kUser, QStringLiteral("Select * from USUARIOS where CONTA =:conta and USUARIO =:usuario"),
        conta, QStringLiteral(":usuario"), usuario, out);
}

bool RecordingRepository::readZoneDescription(const QString &conta, int zona, QString *out) {
    return readDescription(
        kZone, QStringLiteral("Select * from ZONAS where CONTA =:conta and ZONA =:zona"), conta,
        QStringLiteral(":zona"), zona, out);
}

bool RecordingRepository::setDesarmados(const QString &conta, int desarmados) {
    QSqlQuery &q = statement(
        kDesarmados, QStringLiteral("Update CLIENTES Set DESARMADOS =:desarmados\nwhere CONTA =:id"));
    q.bindValue(QStringLiteral(":desarmados"), desarmados);
    q.bindValue(QStringLiteral(":id"), conta);
    return run(q);
}

bool RecordingRepository::setRearme(const QString &conta, int rearme) {
    QSqlQuery &q =
        statement(kRearme, QStringLiteral("Update CLIENTES Set REARME =:rearme\nwhere CONTA =:id"));
    q.bindValue(QStringLiteral(":rearme"), rearme);
    q.bindValue(QStringLiteral(":id"), conta);
    return run(q);
}

bool RecordingRepository::readScheduleMarked(const QString &conta, const QString &dia,
                                             const QTime &hora, bool *marked) {
    QSqlQuery &q = statement(
        kSchedule, QStringLiteral("Select * from QUADRO_HORARIOS where\nCONTA =:conta\nand DIA =:dia\n"
                                  "and HORA =:hora\nand MARCADO =:marcado"));
    q.bindValue(QStringLiteral(":conta"), conta);
    q.bindValue(QStringLiteral(":dia"), dia);
    q.bindValue(QStringLiteral(":hora"), hora);
    q.bindValue(QStringLiteral(":marcado"), 1);
    if (!run(q)) return false;
    *marked = q.next();
    return true;
}

QList<int> RecordingRepository::readSmsReceivers() {
    QList<int> receivers;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("Select * from RECEIVER where\nENVIA_SMS = 1")))
        while (q.next())
            receivers << Row(q)["RECEIVER"].toInt();
    return receivers;
}

namespace {
// The fourteen values of an EVENTOS row, each cut to its column.
void bindEventRow(QSqlQuery &q, const EventRow &e) {
    q.bindValue(QStringLiteral(":conta"), fit(e.conta, 6));
    q.bindValue(QStringLiteral(":cliente"), fit(e.cliente, 40));
    q.bindValue(QStringLiteral(":codigo_alarme"), fit(e.codigoAlarme, 4));
    q.bindValue(QStringLiteral(":argumento"), fit(e.argumento, 3));
    q.bindValue(QStringLiteral(":numero_particao"), e.numeroParticao);
    q.bindValue(QStringLiteral(":nome_particao"), fit(e.nomeParticao, 16));
    q.bindValue(QStringLiteral(":descricao"), fit(e.descricao, 60));
    q.bindValue(QStringLiteral(":tipo"), fit(e.tipo, 16));
    q.bindValue(QStringLiteral(":data"), e.data);
    q.bindValue(QStringLiteral(":data_intervencao"), e.dataIntervencao);
    q.bindValue(QStringLiteral(":detalhes"), e.detalhes);
    q.bindValue(QStringLiteral(":idecall"), fit(e.idecall, 16));
    q.bindValue(QStringLiteral(":tratado"), e.tratado);
    q.bindValue(QStringLiteral(":prioridade"), e.prioridade);
}
} // namespace

bool RecordingRepository::insertSuppressed(const EventRow &e, const QString &reason) {
    QSqlQuery &q = statement(
        kInsertSuppressed,
        QStringLiteral("insert into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, ARGUMENTO, "
                       "NUMERO_PARTICAO, NOME_PARTICAO, DESCRICAO, TIPO, DATA, DATA_INTERVENCAO, "
                       "DETALHES, IDECALL, TRATADO, PRIORIDADE, SUPRESSAO) values (:conta, "
                       ":cliente, :codigo_alarme, :argumento, :numero_particao, :nome_particao, "
                       ":descricao, :tipo, :data, :data_intervencao, :detalhes, :idecall, "
                       ":tratado, :prioridade, :supressao)"));
    bindEventRow(q, e);
    q.bindValue(QStringLiteral(":supressao"), fit(reason, 12));
    return run(q);
}

bool RecordingRepository::flagRunaway(const QString &conta, const QDateTime &when) {
    QSqlQuery &q = statement(kFlagRunaway,
                             QStringLiteral("update or insert into CONTAS_DISPARADAS (CONTA, DESDE, "
                                            "ULTIMO, SINAIS) values (:c, :desde, :ultimo, 1) "
                                            "matching (CONTA)"));
    q.bindValue(QStringLiteral(":c"), fit(conta, 6));
    q.bindValue(QStringLiteral(":desde"), when);
    q.bindValue(QStringLiteral(":ultimo"), when);
    return run(q);
}

bool RecordingRepository::noteRunaway(const QString &conta, const QDateTime &when) {
    // A flag an operator cleared meanwhile elsewhere is not brought back: no row, no update.
    QSqlQuery &q = statement(kNoteRunaway,
                             QStringLiteral("update CONTAS_DISPARADAS set ULTIMO = maxvalue(ULTIMO, "
                                            ":t), SINAIS = SINAIS + 1 where CONTA = :c"));
    q.bindValue(QStringLiteral(":t"), when);
    q.bindValue(QStringLiteral(":c"), fit(conta, 6));
    return run(q);
}

bool RecordingRepository::insertEvent(const EventRow &e) {
    QSqlQuery &q = statement(kInsert, QStringLiteral("Insert Into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, ARGUMENTO, \n"
                             "NUMERO_PARTICAO, NOME_PARTICAO, DESCRICAO, TIPO,\n"
                             "DATA, DATA_INTERVENCAO, DETALHES, IDECALL,\n"
                             "TRATADO, PRIORIDADE)\n"
                             "values(:conta,:cliente,:codigo_alarme,:argumento,:numero_particao,\n"
                             ":nome_particao,:descricao,:tipo,:data,:data_intervencao,\n"
                             ":detalhes,:idecall,:tratado, :prioridade)"));
    bindEventRow(q, e);
    return run(q);
}

bool RecordingRepository::setSavepoint() {
    // A savepoint of the same name replaces the previous one: the stack never grows.
    return run(statement(kSavepoint, QStringLiteral("SAVEPOINT LINE_START")));
}

bool RecordingRepository::rollbackToSavepoint() {
    return run(statement(kRollback, QStringLiteral("ROLLBACK TO SAVEPOINT LINE_START")));
}

bool RecordingRepository::readQueueMark(const QString &queueId, qint64 *last) {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("select LAST_LINE from QUEUE_MARK where QUEUE_ID = :id"));
    q.bindValue(QStringLiteral(":id"), queueId);
    if (!run(q)) return false;
    *last = q.next() ? q.value(0).toLongLong() : -1;
    return true;
}

bool RecordingRepository::writeQueueMark(const QString &queueId, qint64 last) {
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("update or insert into QUEUE_MARK (QUEUE_ID, LAST_LINE) "
                             "values (:id, :last) matching (QUEUE_ID)"));
    q.bindValue(QStringLiteral(":id"), queueId);
    q.bindValue(QStringLiteral(":last"), last);
    return run(q);
}

bool RecordingRepository::confirmLease(qint64 epoch, bool *held) {
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("update RECEPCAO_ATIVA set RENOVADO = CURRENT_TIMESTAMP, "
                             "CONTADOR = CONTADOR + 1 where ID = 1 and EPOCA = :e"));
    q.bindValue(QStringLiteral(":e"), epoch);
    if (!run(q)) return false;
    *held = q.numRowsAffected() == 1;
    return true;
}

bool RecordingRepository::takeShared(const QString &queueId, qint64 last) {
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("delete from FILA_EVENTOS where FILA = :f and NUMERO <= :n"));
    q.bindValue(QStringLiteral(":f"), queueId);
    q.bindValue(QStringLiteral(":n"), last);
    return run(q);
}

bool RecordingRepository::takeSharedLine(const QString &queueId, qint64 number) {
    QSqlQuery &q = statement(kTakeSharedLine, QStringLiteral("delete from FILA_EVENTOS where "
                                                             "FILA = :f and NUMERO = :n"));
    q.bindValue(QStringLiteral(":f"), queueId);
    q.bindValue(QStringLiteral(":n"), number);
    return run(q);
}

bool RecordingRepository::readAhead(const QString &queueId, qint64 above, QList<qint64> *numbers) {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("select NUMERO from FILA_ADIANTADAS where FILA = :f and NUMERO > :n "
                             "order by NUMERO"));
    q.bindValue(QStringLiteral(":f"), queueId);
    q.bindValue(QStringLiteral(":n"), above);
    if (!run(q)) return false;
    numbers->clear();
    while (q.next())
        numbers->append(q.value(0).toLongLong());
    return true;
}

bool RecordingRepository::writeAhead(const QString &queueId, qint64 number) {
    QSqlQuery &q = statement(kWriteAhead, QStringLiteral("update or insert into FILA_ADIANTADAS "
                                                         "(FILA, NUMERO) values (:f, :n) "
                                                         "matching (FILA, NUMERO)"));
    q.bindValue(QStringLiteral(":f"), queueId);
    q.bindValue(QStringLiteral(":n"), number);
    return run(q);
}

bool RecordingRepository::dropAhead(const QString &queueId, qint64 last) {
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("delete from FILA_ADIANTADAS where FILA = :f and NUMERO <= :n"));
    q.bindValue(QStringLiteral(":f"), queueId);
    q.bindValue(QStringLiteral(":n"), last);
    return run(q);
}

} // namespace tulmo
