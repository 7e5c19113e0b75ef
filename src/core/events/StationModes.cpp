#include "core/events/StationModes.h"

#include "core/operators/AuditTrail.h"
#include "core/operators/Permissions.h"
#include "core/store/TransactionGuard.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace tulmo {

namespace {
QString six(const QString &conta) { return (QStringLiteral("000000") + conta.trimmed()).right(6); }
QString moment(const QDateTime &t) { return t.toString(QStringLiteral("dd/MM/yyyy HH:mm")); }
bool fail(const QString &text, QString *error) {
    if (error) *error = text;
    return false;
}
QString dbText(const QSqlQuery &q) { return q.lastError().text().simplified(); }
} // namespace

std::optional<QString> StationModes::suppression(const QString &conta, const QString &tipo,
                                                 bool zonaNumerica, int zona,
                                                 const QDateTime &at) const {
    if (tipo == QLatin1String("10")) return std::nullopt; // the station's own events
    if (!tests.isEmpty()) {
        const auto it = tests.constFind(six(conta));
        if (it != tests.cend() && at < it->fim && (!it->inicio.isValid() || at >= it->inicio)) {
            // Zones under test: only the events of those zones (arming and disarming carry a
            // user, not a zone, and stay normal).
            const bool zoneEvent = tipo != QLatin1String("0") && tipo != QLatin1String("1");
            if (it->zonas.isEmpty() || (zoneEvent && zonaNumerica && it->zonas.contains(zona)))
                return QStringLiteral("TESTE");
        }
    }
    if (storm && (tipo == QLatin1String("3") || tipo == QLatin1String("6") ||
                  tipo == QLatin1String("8")))
        return QStringLiteral("TEMPESTADE");
    return std::nullopt;
}

bool StationModes::read(QSqlDatabase db, StationModes *out, QSqlError *error) {
    *out = {};
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select ATIVO from MODO_TEMPESTADE where ID = 1"))) {
        if (error) *error = q.lastError();
        return false;
    }
    out->storm = q.next() && q.value(0).toInt() == 1;
    if (!q.exec(QStringLiteral("select CONTA, ZONAS, INICIO, FIM, OPERADOR from CONTAS_TESTE"))) {
        if (error) *error = q.lastError();
        return false;
    }
    while (q.next()) {
        AccountTest t;
        t.conta = q.value(0).toString().trimmed();
        t.zonas = stationModes::parseZones(q.value(1).toString()).value_or(QList<int>());
        t.inicio = q.value(2).toDateTime();
        t.fim = q.value(3).toDateTime();
        t.operador = q.value(4).toString().trimmed();
        out->tests.insert(t.conta, t);
    }
    return true;
}

namespace stationModes {

int maxTestMinutes(quint32 permissoes) {
    if (permissoes & Permissions::TestesLongos) return kLongTestMinutes;
    if (permissoes & Permissions::Testes) return kTestMinutes;
    return 0;
}

std::optional<QList<int>> parseZones(const QString &text) {
    QList<int> zonas;
    static const QRegularExpression sep(QStringLiteral("[,;\\s]+"));
    for (const QString &part : text.split(sep, Qt::SkipEmptyParts)) {
        bool ok = false;
        const int z = part.toInt(&ok);
        if (!ok || z < 1 || z > 32767) return std::nullopt;
        if (!zonas.contains(z)) zonas.append(z);
    }
    std::sort(zonas.begin(), zonas.end());
    return zonas;
}

QString zonesText(const QList<int> &zonas) {
    QStringList l;
    for (int z : zonas)
        l << QString::number(z);
    return l.join(QLatin1Char(','));
}

bool startTest(QSqlDatabase db, const AccountTest &test, QString *error) {
    const QString conta = six(test.conta);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    QString what = QStringLiteral("Conta %1 em teste até %2").arg(conta, moment(test.fim));
    if (!test.zonas.isEmpty()) what += QStringLiteral(", zonas ") + zonesText(test.zonas);
    return audit::change(
        db,
        {QString::fromUtf8(audit::kTestStart),
         what, conta, QString(), QString()},
        QStringLiteral("select ZONAS, INICIO, FIM, OPERADOR from CONTAS_TESTE where CONTA = ?"),
        {conta},
        [&] {
            if (!q.prepare(QStringLiteral("select 1 from CLIENTES where CONTA = :c"))) return false;
            q.bindValue(QStringLiteral(":c"), conta);
            if (!q.exec()) return fail(dbText(q), error);
            if (!q.next())
                return fail(QStringLiteral("A conta %1 não está cadastrada.").arg(conta), error);
            q.finish();
            q.prepare(QStringLiteral("update or insert into CONTAS_TESTE (CONTA, ZONAS, INICIO, "
                                     "FIM, OPERADOR) values (:c, :z, :i, :f, :o) matching (CONTA)"));
            q.bindValue(QStringLiteral(":c"), conta);
            q.bindValue(QStringLiteral(":z"), test.zonas.isEmpty()
                                                  ? QVariant(QMetaType(QMetaType::QString))
                                                  : QVariant(zonesText(test.zonas).left(200)));
            q.bindValue(QStringLiteral(":i"), test.inicio);
            q.bindValue(QStringLiteral(":f"), test.fim);
            q.bindValue(QStringLiteral(":o"), test.operador.left(20));
            return q.exec() || fail(dbText(q), error);
        },
        error);
}

bool endTest(QSqlDatabase db, const QString &conta, QString *error) {
    QSqlQuery q(db);
    return audit::change(
        db,
        {QString::fromUtf8(audit::kTestEnd),
         QStringLiteral("Teste da conta %1 encerrado pelo operador").arg(six(conta)), six(conta),
         QString(), QString()},
        QStringLiteral("select ZONAS, INICIO, FIM, OPERADOR from CONTAS_TESTE where CONTA = ?"),
        {six(conta)},
        [&] {
            q.prepare(QStringLiteral("delete from CONTAS_TESTE where CONTA = :c"));
            q.bindValue(QStringLiteral(":c"), six(conta));
            return q.exec() || fail(dbText(q), error);
        },
        error);
}

QStringList expireTests(QSqlDatabase db, const QDateTime &now) {
    QStringList ended;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("select CONTA, FIM from CONTAS_TESTE where FIM <= :n"));
    q.bindValue(QStringLiteral(":n"), now);
    if (!q.exec()) return ended;
    QList<std::pair<QString, QDateTime>> due;
    while (q.next())
        due.append({q.value(0).toString().trimmed(), q.value(1).toDateTime()});
    q.finish();
    for (const auto &[conta, fim] : due) {
        TransactionGuard t(db);
        QSqlQuery d(db);
        d.prepare(QStringLiteral("delete from CONTAS_TESTE where CONTA = :c and FIM <= :n"));
        d.bindValue(QStringLiteral(":c"), conta);
        d.bindValue(QStringLiteral(":n"), now);
        if (!t.begun() || !d.exec()) continue;
        // Another workstation may have ended it, or the test been extended, meanwhile.
        if (d.numRowsAffected() < 1) continue;
        const QString who = audit::currentOperator();
        audit::setOperator(QString());
        const bool audited = audit::write(
            db, {QString::fromUtf8(audit::kTestEnd),
                 QStringLiteral("Teste da conta %1 encerrado no horário (%2)").arg(conta, moment(fim)),
                 conta, QString(), QString()});
        audit::setOperator(who);
        if (audited && t.commit()) ended << conta;
    }
    return ended;
}

std::optional<QList<AccountTest>> tests(QSqlDatabase db, QString *error) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select CONTA, ZONAS, INICIO, FIM, OPERADOR from CONTAS_TESTE "
                               "order by FIM, CONTA"))) {
        fail(QStringLiteral("Não foi possível ler as contas em teste: ") + dbText(q), error);
        return std::nullopt;
    }
    QList<AccountTest> out;
    while (q.next()) {
        AccountTest t;
        t.conta = q.value(0).toString().trimmed();
        t.zonas = parseZones(q.value(1).toString()).value_or(QList<int>());
        t.inicio = q.value(2).toDateTime();
        t.fim = q.value(3).toDateTime();
        t.operador = q.value(4).toString().trimmed();
        out.append(t);
    }
    return out;
}

bool setStorm(QSqlDatabase db, bool on, const QDateTime &now, const QString &operador,
              QString *error) {
    QSqlQuery q(db);
    return audit::change(
        db,
        {QString::fromUtf8(audit::kStorm),
         on ? QStringLiteral("Modo tempestade declarado") : QStringLiteral("Modo tempestade encerrado"),
         QString(), QString(), QString()},
        QStringLiteral("select ATIVO, DESDE, OPERADOR from MODO_TEMPESTADE where ID = ?"), {1},
        [&] {
            q.prepare(QStringLiteral("update or insert into MODO_TEMPESTADE (ID, ATIVO, DESDE, "
                                     "OPERADOR) values (1, :a, :d, :o) matching (ID)"));
            q.bindValue(QStringLiteral(":a"), on ? 1 : 0);
            q.bindValue(QStringLiteral(":d"), now);
            q.bindValue(QStringLiteral(":o"), operador.left(20));
            return q.exec() || fail(dbText(q), error);
        },
        error);
}

std::optional<Storm> storm(QSqlDatabase db) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select ATIVO, DESDE, OPERADOR from MODO_TEMPESTADE where ID = 1")))
        return std::nullopt;
    Storm s;
    if (q.next()) {
        s.active = q.value(0).toInt() == 1;
        s.desde = q.value(1).toDateTime();
        s.operador = q.value(2).toString().trimmed();
    }
    return s;
}

} // namespace stationModes

} // namespace tulmo
