#include "core/reports/ReportRepository.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace tulmo {

namespace {

bool run(QSqlQuery &q, const ReportStatement &st, QString *error) {
    q.setForwardOnly(true);
    if (q.prepare(st.text())) {
        for (auto it = st.params.cbegin(); it != st.params.cend(); ++it)
            q.bindValue(it.key(), it.value());
        if (q.exec()) return true;
    }
    if (error) {
        *error = q.lastError().databaseText().trimmed();
        if (error->isEmpty()) *error = q.lastError().text();
    }
    return false;
}

// Column positions of EVENTOS, found once per statement.
struct Columns {
    int sequencia, conta, cliente, descricao, codigo, argumento, intervencao, detalhes, data,
        dataIntervencao;
    explicit Columns(const QSqlRecord &r)
        : sequencia(r.indexOf("SEQUENCIA"))
        , conta(r.indexOf("CONTA"))
        , cliente(r.indexOf("CLIENTE"))
        , descricao(r.indexOf("DESCRICAO"))
        , codigo(r.indexOf("CODIGO_ALARME"))
        , argumento(r.indexOf("ARGUMENTO"))
        , intervencao(r.indexOf("INTERVENCAO"))
        , detalhes(r.indexOf("DETALHES"))
        , data(r.indexOf("DATA"))
        , dataIntervencao(r.indexOf("DATA_INTERVENCAO")) {}
    ReportRow read(const QSqlQuery &q) const {
        ReportRow r;
        r.sequencia = q.value(sequencia).toInt();
        r.conta = q.value(conta).toString().trimmed();
        r.cliente = q.value(cliente).toString().trimmed();
        r.descricao = q.value(descricao).toString().trimmed();
        r.codigoAlarme = q.value(codigo).toString().trimmed();
        r.argumento = q.value(argumento).toString().trimmed();
        r.intervencao = q.value(intervencao).toString().trimmed();
        r.detalhes = q.value(detalhes).toString().trimmed();
        r.data = q.value(data).toDateTime();
        r.dataIntervencao = q.value(dataIntervencao).toDateTime();
        return r;
    }
};

} // namespace

std::optional<QStringList> ReportRepository::accounts(QSqlDatabase db, QString *error) {
    QSqlQuery q(db);
    ReportStatement st;
    st.lines << QStringLiteral("Select * from CLIENTES");
    if (!run(q, st, error)) return std::nullopt;
    QStringList out;
    const int conta = q.record().indexOf("CONTA");
    while (q.next())
        out << q.value(conta).toString().trimmed();
    return out;
}

std::optional<QStringList> ReportRepository::accountsWithEmail(QSqlDatabase db, QString *error) {
    QSqlQuery q(db);
    ReportStatement st;
    st.lines << QStringLiteral("Select CONTA from CLIENTES")
             << QStringLiteral("where EMAIL is not null and TRIM(EMAIL) <> ''");
    if (!run(q, st, error)) return std::nullopt;
    QStringList out;
    while (q.next())
        out << q.value(0).toString().trimmed();
    return out;
}

AccountContact ReportRepository::contact(QSqlDatabase db, const QString &conta, QString *error) {
    QSqlQuery q(db);
    ReportStatement st;
    st.lines << QStringLiteral("Select * from CLIENTES   ")
             << QStringLiteral(" Where CONTA = :conta    ");
    st.params.insert(QStringLiteral(":conta"), conta);
    AccountContact c;
    if (!run(q, st, error) || !q.next()) return c;
    c.found = true;
    c.email = q.value(q.record().indexOf("EMAIL")).toString().trimmed();
    c.nome = q.value(q.record().indexOf("NOME")).toString().trimmed();
    return c;
}

std::optional<qint64> ReportRepository::count(QSqlDatabase db, const ReportStatement &st,
                                              QString *error) {
    QSqlQuery q(db);
    if (!run(q, st.count(), error)) return std::nullopt;
    if (!q.next()) return qint64(0);
    return q.value(0).toLongLong();
}

bool ReportRepository::page(QSqlDatabase db, const ReportStatement &st, const QVariant &afterData,
                            const QVariant &afterSequencia, int rows, QList<ReportRow> *out,
                            QString *error) {
    QSqlQuery q(db);
    if (!run(q, st.page(afterData, afterSequencia, rows), error)) return false;
    const Columns c(q.record());
    while (q.next())
        out->append(c.read(q));
    return true;
}

bool ReportRepository::walkKeys(
    QSqlDatabase db, const ReportStatement &st, const QVariant &data, const QVariant &sequencia,
    int rows, const std::function<void(int, const QVariant &, const QVariant &)> &each,
    QString *error) {
    QSqlQuery q(db);
    if (!run(q, st.page(data, sequencia, rows, true), error)) return false;
    int n = 0;
    while (q.next())
        each(++n, q.value(0), q.value(1));
    return true;
}

bool ReportRepository::forEach(QSqlDatabase db, const ReportStatement &st,
                               const std::function<bool(const ReportRow &)> &each, QString *error) {
    QSqlQuery q(db);
    if (!run(q, st, error)) return false;
    const Columns c(q.record());
    while (q.next())
        if (!each(c.read(q))) return false;
    if (q.lastError().isValid()) {
        if (error) *error = q.lastError().text();
        return false;
    }
    return true;
}

} // namespace tulmo
