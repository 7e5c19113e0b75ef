#include "ReceiverTable.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace tulmo {

namespace {
// Rows come by number: the natural order of a table changes once a deleted row's place is
// reused, and renumbering walks them expecting ascending numbers.
const QString kSelectTodos = QStringLiteral("Select * from Receiver order by RECEIVER");

ReceiverRecord registroDe(const QSqlQuery &q) {
    const QSqlRecord rec = q.record();
    auto valor = [&](const char *campo) { return q.value(rec.indexOf(QLatin1String(campo))); };
    // A time-out the row leaves empty shows as the dialog's default, so that applying the
    // record never turns it into 0 (every device dropped within a second).
    auto tempo = [&](const char *campo) {
        const QVariant v = valor(campo);
        return v.isNull() ? ReceiverRecord::kTempoPadrao : v.toInt();
    };
    ReceiverRecord r;
    r.receiver = valor("RECEIVER").toInt();
    r.nome = valor("NOME").toString();
    r.modo = valor("MODO_COMUNICACAO").toInt();
    r.ativo = valor("ATIVO").toInt() != 0;
    r.enviaSms = valor("ENVIA_SMS").toInt() != 0;
    r.portaCom = valor("PORTA_COM").toInt();
    r.baudsCom = valor("BAUDS_COM").toInt();
    r.portaTcp = valor("PORTA_TCP").toInt();
    r.portaUdp = valor("PORTA_UDP").toInt();
    r.tempoResposta = tempo("TEMPO_RESPOSTA");
    r.tempoKeepAlive = tempo("TEMPO_KEEPALIVE");
    return r;
}
} // namespace

std::optional<QList<ReceiverRecord>> ReceiverTable::todos() const {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(kSelectTodos)) return std::nullopt;
    QList<ReceiverRecord> linhas;
    while (q.next())
        linhas.append(registroDe(q));
    return linhas;
}

std::optional<ReceiverRecord> ReceiverTable::lerPorNome(const QString &nome, int posicao) const {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("Select * from Receiver where NOME =:nome"));
    q.bindValue(QStringLiteral(":nome"), nome);
    if (!q.exec()) return std::nullopt;
    std::optional<ReceiverRecord> achado;
    while (q.next()) {
        ReceiverRecord r = registroDe(q);
        if (!achado || r.receiver == posicao) achado = r;
        if (r.receiver == posicao) break;
    }
    return achado;
}

bool ReceiverTable::incluir(int n, const QString &nome) const {
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

bool ReceiverTable::excluir(int id) const {
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("Delete from RECEIVER where RECEIVER =:id"));
    q.bindValue(QStringLiteral(":id"), id);
    return q.exec();
}

bool ReceiverTable::renumerar() const {
    QList<int> numeros;
    {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.exec(kSelectTodos)) return false;
        while (q.next())
            numeros.append(q.value(q.record().indexOf(QStringLiteral("RECEIVER"))).toInt());
    }
    bool ok = true;
    int i = 1;
    for (int numero : numeros) {
        if (i < numero) {
            QSqlQuery q(m_db);
            q.prepare(
                QStringLiteral("Update RECEIVER Set RECEIVER =:receiver where RECEIVER =:id"));
            q.bindValue(QStringLiteral(":receiver"), i);
            q.bindValue(QStringLiteral(":id"), numero);
            ok = q.exec() && ok;
        }
        ++i;
    }
    return ok;
}

bool ReceiverTable::aplicar(const ReceiverRecord &r, int id) const {
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral(
        "Update RECEIVER Set RECEIVER =:receiver, MODO_COMUNICACAO =:modo, \n"
        "ATIVO =:ativo, ENVIA_SMS =:envia_sms, NOME =:nome, PORTA_COM =:porta_com, \n"
        "BAUDS_COM =:bauds, PORTA_TCP =:porta_tcp, PORTA_UDP =:porta_udp, \n"
        "TEMPO_RESPOSTA =:tempo_resposta, TEMPO_KEEPALIVE =:tempo_keepalive where RECEIVER =:id"));
    q.bindValue(QStringLiteral(":receiver"), r.receiver);
    q.bindValue(QStringLiteral(":modo"), r.modo);
    q.bindValue(QStringLiteral(":ativo"), r.ativo ? 1 : 0);
    q.bindValue(QStringLiteral(":envia_sms"), r.enviaSms ? 1 : 0);
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
