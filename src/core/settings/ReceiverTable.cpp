#include "ReceiverTable.h"

#include "core/operators/AuditTrail.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace tulmo {

namespace {
// Rows come by number: the natural order of a table changes once a deleted row's place is
// reused, and renumbering walks them expecting ascending numbers.
const QString kSelectAll = QStringLiteral("Select * from Receiver order by RECEIVER");

ReceiverConfig recordOf(const QSqlQuery &q) {
    const QSqlRecord rec = q.record();
    auto value = [&](const char *field) { return q.value(rec.indexOf(QLatin1String(field))); };
    // A time-out the row leaves empty shows as the dialog's default, so that applying the
    // record never turns it into 0 (every device dropped within a second).
    auto intColumn = [&](const char *field) {
        const QVariant v = value(field);
        return v.isNull() ? ReceiverConfig::kDefaultTime : v.toInt();
    };
    ReceiverConfig r;
    r.receiver = value("RECEIVER").toInt();
    r.nome = value("NOME").toString();
    r.modo = value("MODO_COMUNICACAO").toInt();
    r.ativo = value("ATIVO").toInt() != 0;
    r.sendsSms = value("ENVIA_SMS").toInt() != 0;
    r.portaCom = ReceiverConfig::portaComOf(value("PORTA_COM"), r.modo);
    r.baudsCom = value("BAUDS_COM").toInt();
    r.portaTcp = value("PORTA_TCP").toInt();
    r.portaUdp = value("PORTA_UDP").toInt();
    r.tempoResposta = intColumn("TEMPO_RESPOSTA");
    r.tempoKeepAlive = intColumn("TEMPO_KEEPALIVE");
    return r;
}
} // namespace

int ReceiverConfig::portaComOf(const QVariant &column, int modo) {
    if (column.isNull()) return modo == 0 ? 0 : kNoOutput;
    return column.toInt();
}

std::optional<QList<ReceiverConfig>> ReceiverTable::all() const {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(kSelectAll)) return std::nullopt;
    QList<ReceiverConfig> rows;
    while (q.next())
        rows.append(recordOf(q));
    return rows;
}

std::optional<ReceiverConfig> ReceiverTable::readByName(const QString &nome, int position) const {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("Select * from Receiver where NOME =:nome"));
    q.bindValue(QStringLiteral(":nome"), nome);
    if (!q.exec()) return std::nullopt;
    std::optional<ReceiverConfig> found;
    while (q.next()) {
        ReceiverConfig r = recordOf(q);
        if (!found || r.receiver == position) found = r;
        if (r.receiver == position) break;
    }
    return found;
}

bool ReceiverTable::insertRow(int n, const QString &nome) const {
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("Insert Into RECEIVER (RECEIVER, MODO_COMUNICACAO, ATIVO, ENVIA_SMS, "
                             "NOME, PORTA_COM, BAUDS_COM, PORTA_TCP, PORTA_UDP)\n"
                             "values(:receiver,:modo,:ativo,:envia_sms,:nome,:porta_com,:bauds,:"
                             "porta_tcp,:porta_udp)"));
    q.bindValue(QStringLiteral(":receiver"), n);
    q.bindValue(QStringLiteral(":modo"), 0);
    q.bindValue(QStringLiteral(":ativo"), 0);
    q.bindValue(QStringLiteral(":envia_sms"), 0);
    q.bindValue(QStringLiteral(":nome"), nome);
    q.bindValue(QStringLiteral(":porta_com"), 0);
    q.bindValue(QStringLiteral(":bauds"), 3);
    q.bindValue(QStringLiteral(":porta_tcp"), 0);
    q.bindValue(QStringLiteral(":porta_udp"), 0);
    return q.exec();
}

bool ReceiverTable::removeRow(int id) const {
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("Delete from RECEIVER where RECEIVER =:id"));
    q.bindValue(QStringLiteral(":id"), id);
    return q.exec();
}

bool ReceiverTable::renumber() const {
    QList<int> numbers;
    {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.exec(kSelectAll)) return false;
        while (q.next())
            numbers.append(q.value(q.record().indexOf(QStringLiteral("RECEIVER"))).toInt());
    }
    bool ok = true;
    int i = 1;
    for (int number : numbers) {
        if (i < number) {
            QSqlQuery q(m_db);
            q.prepare(
                QStringLiteral("Update RECEIVER Set RECEIVER =:receiver where RECEIVER =:id"));
            q.bindValue(QStringLiteral(":receiver"), i);
            q.bindValue(QStringLiteral(":id"), number);
            ok = q.exec() && ok;
        }
        ++i;
    }
    return ok;
}

bool ReceiverTable::applyRow(const ReceiverConfig &r, int id) const {
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral(
        "Update RECEIVER Set RECEIVER =:receiver, MODO_COMUNICACAO =:modo, \n"
        "ATIVO =:ativo, ENVIA_SMS =:envia_sms, NOME =:nome, PORTA_COM =:porta_com, \n"
        "BAUDS_COM =:bauds, PORTA_TCP =:porta_tcp, PORTA_UDP =:porta_udp, \n"
        "TEMPO_RESPOSTA =:tempo_resposta, TEMPO_KEEPALIVE =:tempo_keepalive where RECEIVER =:id"));
    q.bindValue(QStringLiteral(":receiver"), r.receiver);
    q.bindValue(QStringLiteral(":modo"), r.modo);
    q.bindValue(QStringLiteral(":ativo"), r.ativo ? 1 : 0);
    q.bindValue(QStringLiteral(":envia_sms"), r.sendsSms ? 1 : 0);
    q.bindValue(QStringLiteral(":nome"), r.nome);
    q.bindValue(QStringLiteral(":porta_com"), r.portaCom);
    q.bindValue(QStringLiteral(":bauds"), r.baudsCom);
    q.bindValue(QStringLiteral(":porta_tcp"), r.portaTcp);
    q.bindValue(QStringLiteral(":porta_udp"), r.portaUdp);
    q.bindValue(QStringLiteral(":tempo_resposta"), r.tempoResposta);
    q.bindValue(QStringLiteral(":tempo_keepalive"), r.tempoKeepAlive);
    q.bindValue(QStringLiteral(":id"), id);
    // No row under that number (deleted meanwhile) is a failure, not a silent success.
    return q.exec() && q.numRowsAffected() != 0;
}

} // namespace tulmo

namespace tulmo {

namespace {
const QString kReceiverRow = QStringLiteral("select * from RECEIVER where RECEIVER = ?");
audit::Entry receiverEntry(int n) {
    return {QString(), QStringLiteral("Receptora %1").arg(n), QString(), QString(), QString()};
}
} // namespace

bool ReceiverTable::insert(int n, const QString &nome) const {
    return audit::change(m_db, receiverEntry(n), kReceiverRow, {n},
                         [&] { return insertRow(n, nome); });
}

bool ReceiverTable::remove(int id) const {
    return audit::change(m_db, receiverEntry(id), kReceiverRow, {id}, [&] { return removeRow(id); });
}

bool ReceiverTable::apply(const ReceiverConfig &r, int id) const {
    const QVariantList after{r.receiver};
    return audit::change(m_db, receiverEntry(id), kReceiverRow, {id},
                         [&] { return applyRow(r, id); }, nullptr, &after);
}

} // namespace tulmo
