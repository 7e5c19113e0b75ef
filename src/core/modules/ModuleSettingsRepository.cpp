#include "ModuleSettingsRepository.h"

#include "core/operators/AuditTrail.h"

#include "core/store/TransactionGuard.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

namespace tulmo {

ModuleSettings ModuleSettings::none(const QString &imei) {
    ModuleSettings s;
    s.imei = imei;
    s.tempoPgm.fill(1);
    return s;
}

namespace ModuleSettingsRepository {

namespace {

int intOf(const QSqlRecord &r, const QString &column, int ifNull) {
    const QVariant v = r.value(column);
    return v.isNull() ? ifNull : v.toInt();
}

// "<NAME1> =:<name1>, <NAME2> =:<name2>, " for a pair of numbered columns.
QString pairLine(const QString &column, int first, bool last) {
    auto one = [&](int n) {
        const QString c = column.arg(n);
        return QStringLiteral("%1 =:%2").arg(c, c.toLower());
    };
    return one(first) + QStringLiteral(", ") + one(first + 1) +
           (last ? QStringLiteral(" ") : QStringLiteral(", "));
}

// The driver writes an int into a SMALLINT column modulo 65536 without a word: a value
// the column cannot hold is refused here instead.
QString outOfRange(const ModuleSettings &s) {
    auto check = [](int v, const QString &what) {
        return v < kSmallestStored || v > kLargestStored
                   ? QStringLiteral("o valor %1 de %2 não cabe no cadastro (de %3 a %4)")
                         .arg(v)
                         .arg(what)
                         .arg(kSmallestStored)
                         .arg(kLargestStored)
                   : QString();
    };
    for (int n = 1; n <= kChannels; ++n) {
        for (const QString &e :
             {check(s.canalMinimo[n - 1], QStringLiteral("CANAL%1_MINIMO").arg(n)),
              check(s.canalMaximo[n - 1], QStringLiteral("CANAL%1_MAXIMO").arg(n))})
            if (!e.isEmpty()) return e;
    }
    for (int k = 1; k <= kPgmOutputs; ++k) {
        for (const QString &e : {check(s.tipoPgm[k - 1], QStringLiteral("TIPO_PGM%1").arg(k)),
                                 check(s.tempoPgm[k - 1], QStringLiteral("TEMPO_PGM%1").arg(k))})
            if (!e.isEmpty()) return e;
    }
    return QString();
}

} // namespace

Load load(QSqlDatabase db, const QString &imei, ModuleSettings *out, QString *errorText) {
    *out = ModuleSettings::none(imei);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("Select * From GPRS where IMEI =:imei"))) {
        if (errorText) *errorText = q.lastError().text();
        return Load::Failed;
    }
    q.bindValue(QStringLiteral(":imei"), imei);
    if (!q.exec()) {
        if (errorText) *errorText = q.lastError().text();
        return Load::Failed;
    }
    if (!q.next()) {
        if (q.lastError().isValid()) {
            if (errorText) *errorText = q.lastError().text();
            return Load::Failed;
        }
        return Load::Missing;
    }
    const QSqlRecord r = q.record();
    out->equipamento = r.value(QStringLiteral("EQUIPAMENTO")).toString();
    out->senhaAcesso = r.value(QStringLiteral("SENHA_ACESSO")).toString();
    for (int n = 1; n <= kChannels; ++n) {
        out->canalMinimo[n - 1] = intOf(r, QStringLiteral("CANAL%1_MINIMO").arg(n), 0);
        out->canalMaximo[n - 1] = intOf(r, QStringLiteral("CANAL%1_MAXIMO").arg(n), 0);
        // CHAR(10): the blanks that fill the column are not the operator's.
        QString unit = r.value(QStringLiteral("CANAL%1_UNIDADE").arg(n)).toString();
        while (unit.endsWith(QLatin1Char(' ')))
            unit.chop(1);
        out->canalUnidade[n - 1] = unit;
    }
    for (int k = 1; k <= kPgmOutputs; ++k) {
        out->tipoPgm[k - 1] = intOf(r, QStringLiteral("TIPO_PGM%1").arg(k), 0);
        out->tempoPgm[k - 1] = intOf(r, QStringLiteral("TEMPO_PGM%1").arg(k), 1);
    }
    return Load::Found;
}

QString updateStatement() {
    QStringList l{QStringLiteral("Update GPRS Set EQUIPAMENTO =:equipamento, "
                                 "SENHA_ACESSO =:senha_acesso, ")};
    for (const char *column : {"CANAL%1_MAXIMO", "CANAL%1_MINIMO", "CANAL%1_UNIDADE"})
        for (int n = 1; n <= kChannels; n += 2)
            l << pairLine(QLatin1String(column), n, false);
    for (int k = 1; k <= kPgmOutputs; k += 2)
        l << pairLine(QStringLiteral("TIPO_PGM%1"), k, false);
    for (int k = 1; k <= kPgmOutputs; k += 2)
        l << pairLine(QStringLiteral("TEMPO_PGM%1"), k, k + 1 == kPgmOutputs);
    l << QStringLiteral("where IMEI =:imei");
    return l.join(QLatin1Char('\n'));
}

Save save(QSqlDatabase db, const ModuleSettings &s, QString *errorText) {
    auto failed = [errorText](const QSqlError &e) {
        if (errorText) *errorText = e.text();
        return Save::Failed;
    };
    if (const QString e = outOfRange(s); !e.isEmpty()) {
        if (errorText) *errorText = e;
        return Save::Failed;
    }
    TransactionGuard transaction(db);
    if (!transaction.begun()) return failed(db.lastError());
    const QString row = QStringLiteral("select * from GPRS where IMEI = ?");
    const QString before = audit::snapshot(db, row, {s.imei});
    QSqlQuery q(db);
    if (!q.prepare(updateStatement())) return failed(q.lastError());
    q.bindValue(QStringLiteral(":equipamento"), s.equipamento);
    q.bindValue(QStringLiteral(":senha_acesso"), s.senhaAcesso);
    for (int n = 1; n <= kChannels; ++n) {
        q.bindValue(QStringLiteral(":canal%1_maximo").arg(n), s.canalMaximo[n - 1]);
        q.bindValue(QStringLiteral(":canal%1_minimo").arg(n), s.canalMinimo[n - 1]);
        q.bindValue(QStringLiteral(":canal%1_unidade").arg(n),
                    s.canalUnidade[n - 1].left(kUnitWidth));
    }
    for (int k = 1; k <= kPgmOutputs; ++k) {
        q.bindValue(QStringLiteral(":tipo_pgm%1").arg(k), s.tipoPgm[k - 1]);
        q.bindValue(QStringLiteral(":tempo_pgm%1").arg(k), s.tempoPgm[k - 1]);
    }
    q.bindValue(QStringLiteral(":imei"), s.imei);
    if (!q.exec()) return failed(q.lastError());
    if (q.numRowsAffected() < 1) return Save::Missing;
    const auto [antes, depois] = audit::difference(before, audit::snapshot(db, row, {s.imei}));
    QString auditError;
    if (!audit::write(db, {QString::fromUtf8(audit::kUpdate),
                           QStringLiteral("Parâmetros do módulo GPRS ") + s.imei, QString(), antes,
                           depois},
                      &auditError))
        return failed(QSqlError(auditError));
    return transaction.commit() ? Save::Saved : failed(db.lastError());
}

} // namespace ModuleSettingsRepository

} // namespace tulmo
