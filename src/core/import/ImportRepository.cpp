#include "ImportRepository.h"

#include "core/events/RecordingRepository.h"

#include <QSqlRecord>
#include <QVariant>

namespace tulmo {

namespace {

const char *const kSql[] = {
    "Select * from EVENTOS where CONTA =:conta\n"
    "and CODIGO_ALARME =:codigo\n"
    "and ARGUMENTO =:argumento\n"
    "and NUMERO_PARTICAO =:numero_particao\n"
    "and DATA =:data",
    "Select * from CLIENTES where CONTA =:conta",
    "Select * from EVENTOS_PADRAO where CODIGO_EVENTO =:codigo",
    "Select * from PARTICOES where CONTA =:conta and PARTICAO =:particao",
    "Select * from USUARIOS where CONTA =:conta and USUARIO =:usuario",
    "Select * from ZONAS where CONTA =:conta and ZONA =:zona",
};

QVariant column(const QSqlQuery &q, const char *name) {
    const int i = q.record().indexOf(QLatin1String(name));
    return i < 0 ? QVariant() : q.value(i);
}

} // namespace

ImportRepository::ImportRepository(QSqlDatabase db)
    : m_db(std::move(db)) {}

ImportRepository::~ImportRepository() = default;

QSqlQuery *ImportRepository::statement(Statement s) {
    std::unique_ptr<QSqlQuery> &q = m_statements[size_t(s)];
    if (!q) {
        auto prepared = std::make_unique<QSqlQuery>(m_db);
        prepared->setForwardOnly(true);
        if (!prepared->prepare(QString::fromUtf8(kSql[s]))) {
            m_error = prepared->lastError();
            return nullptr;
        }
        q = std::move(prepared);
    }
    return q.get();
}

bool ImportRepository::run(QSqlQuery *q) {
    if (!q) return false;
    if (q->exec()) return true;
    m_error = q->lastError();
    return false;
}

bool ImportRepository::isRecorded(const QString &conta, const QString &codigo,
                                  const QString &argumento, int particao, const QDateTime &data,
                                  bool *found) {
    QSqlQuery *q = statement(Duplicate);
    if (!q) return false;
    q->bindValue(QStringLiteral(":conta"), conta);
    q->bindValue(QStringLiteral(":codigo"), codigo);
    q->bindValue(QStringLiteral(":argumento"), argumento);
    q->bindValue(QStringLiteral(":numero_particao"), particao);
    q->bindValue(QStringLiteral(":data"), data);
    if (!run(q)) return false;
    *found = q->next();
    q->finish();
    return true;
}

bool ImportRepository::readText(Statement s, const QString &conta, const char *param, int number,
                                const char *name, QString *out) {
    QSqlQuery *q = statement(s);
    if (!q) return false;
    q->bindValue(QStringLiteral(":conta"), conta);
    if (param) q->bindValue(QLatin1String(param), number);
    if (!run(q)) return false;
    *out = q->next() ? column(*q, name).toString() : QString();
    q->finish();
    return true;
}

bool ImportRepository::readClientName(const QString &conta, QString *nome) {
    return readText(Client, conta, nullptr, 0, "NOME", nome);
}

bool ImportRepository::readEventCode(const QString &codigo, EventCodeRow *out) {
    QSqlQuery *q = statement(Code);
    if (!q) return false;
    q->bindValue(QStringLiteral(":codigo"), codigo);
    if (!run(q)) return false;
    *out = {};
    if (q->next()) {
        out->descricao = column(*q, "DESCRICAO").toString();
        const QVariant t = column(*q, "TIPO");
        out->tipo = t.isNull() ? QString() : QString::number(t.toInt());
    }
    q->finish();
    return true;
}

bool ImportRepository::readPartitionName(const QString &conta, int particao, QString *out) {
    return readText(Partition, conta, ":particao", particao, "NOME_PARTICAO", out);
}

bool ImportRepository::readUserDescription(const QString &conta, int usuario, QString *out) {
    return readText(User, conta, ":usuario", usuario, "DESCRICAO", out);
}

bool ImportRepository::readZoneDescription(const QString &conta, int zona, QString *out) {
    return readText(Zone, conta, ":zona", zona, "DESCRICAO", out);
}

} // namespace tulmo
