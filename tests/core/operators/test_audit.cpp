#include "support/TestSupport.h"

#include "core/events/EventRepository.h"
#include "core/operators/AuditTrail.h"
#include "core/operators/OperatorRepository.h"
#include "core/registry/AccountBrowserRepository.h"
#include "core/registry/AccountRecordRepository.h"
#include "core/registry/WeeklySchedule.h"
#include "core/reports/AuditReport.h"
#include "core/reports/EventPurgeRepository.h"
#include "core/store/TransactionGuard.h"

#include <QSqlQuery>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

int count(QSqlDatabase db, const QString &sql) { return scalar(db, sql).toInt(); }

struct Row {
    QString acao, operador, estacao, conta, descricao, antes, depois;
};
// The audit's newest row.
Row lastRow(QSqlDatabase db) {
    QSqlQuery q(db);
    if (!q.exec("select first 1 ACAO, OPERADOR, ESTACAO, CONTA, DESCRICAO, ANTES, DEPOIS from "
                "AUDITORIA order by ID desc") ||
        !q.next())
        return {};
    auto t = [&](int i) { return q.value(i).toString().trimmed(); };
    return {t(0), t(1), t(2), t(3), t(4), t(5), t(6)};
}

} // namespace

class TestAudit : public QObject {
    Q_OBJECT
private slots:
    void init() { audit::setOperator("maria"); }
    void eachChangeIsAuditedInItsOwnTransactionAndAFailedOneLeavesNoRow();
    void treatmentsPurgesAndTheReportWhileTheTrailItselfCannotBeChanged();
};

void TestAudit::eachChangeIsAuditedInItsOwnTransactionAndAFailedOneLeavesNoRow() {
    Station s;
    QSqlDatabase db = s.db();
    const int before = count(db, "select count(*) from AUDITORIA");

    // An operator: the password is never written down, only that it changed.
    QVERIFY(OperatorRepository::insert(db, {"joao", 3, "segredo1"}));
    Row r = lastRow(db);
    QCOMPARE(r.acao, QString("Inclusão"));
    QCOMPARE(r.operador, QString("maria"));
    QVERIFY(!r.estacao.isEmpty());
    QVERIFY2(r.depois.contains("NOME=joao") && r.depois.contains("PERMISSOES=3"), qPrintable(r.depois));
    QVERIFY(!r.depois.contains("segredo1"));
    QVERIFY(r.antes.isEmpty());
    QVERIFY(OperatorRepository::update(db, "joao", {"joao", 7, "outra22"}));
    r = lastRow(db);
    QCOMPARE(r.acao, QString("Alteração"));
    // Only what changed, before and after.
    QCOMPARE(r.antes, QString("PERMISSOES=3; SENHA=***"));
    QCOMPARE(r.depois, QString("PERMISSOES=7; SENHA=*** (alterada)"));

    // An account: a refused update changes nothing and leaves no row.
    AccountRecord acc;
    acc.conta = "004321";
    acc.nome = "PADARIA";
    acc.tempoAtraso = "60";
    QVERIFY(AccountRecordRepository::insert(db, acc, s.clock.now()));
    QCOMPARE(lastRow(db).conta, QString("004321"));
    const int afterInsert = count(db, "select count(*) from AUDITORIA");
    exec(db, "CREATE EXCEPTION E_FALHA_TESTE 'falha de teste'");
    exec(db, "CREATE TRIGGER FALHA_TESTE FOR CLIENTES BEFORE UPDATE AS BEGIN IF (NEW.NOME = "
             "'FALHA') THEN EXCEPTION E_FALHA_TESTE; END");
    acc.nome = "FALHA";
    QString error;
    QVERIFY(!AccountRecordRepository::update(db, acc, &error));
    QCOMPARE(count(db, "select count(*) from AUDITORIA"), afterInsert);
    acc.nome = "PADARIA DO ZE";
    QVERIFY(AccountRecordRepository::update(db, acc));
    r = lastRow(db);
    QCOMPARE(r.antes, QString("NOME=PADARIA"));
    QCOMPARE(r.depois, QString("NOME=PADARIA DO ZE"));

    // The schedule: the hours marked, day by day.
    WeeklySchedule week;
    week.set(1, 8, true);
    week.set(1, 9, true);
    QVERIFY(AccountRecordRepository::writeSchedule(db, "004321", week));
    r = lastRow(db);
    QCOMPARE(r.acao, QString("Inclusão"));
    QCOMPARE(r.depois, WeeklySchedule::dayCode(1) + "=08,09");

    // When the audit row cannot be written the change is not kept either: one transaction.
    exec(db, "CREATE TRIGGER FALHA_AUDITORIA FOR AUDITORIA BEFORE INSERT AS BEGIN IF (NEW.ACAO "
             "= 'Exclusão') THEN EXCEPTION E_FALHA_TESTE; END");
    QVERIFY(!AccountBrowserRepository::remove(db, "004321", &error));
    QVERIFY2(error.contains("falha de teste"), qPrintable(error));
    QCOMPARE(count(db, "select count(*) from CLIENTES where CONTA = '004321'"), 1);
    QCOMPARE(count(db, "select count(*) from QUADRO_HORARIOS where CONTA = '004321'"), 168);
    exec(db, "DROP TRIGGER FALHA_AUDITORIA");
    QVERIFY(AccountBrowserRepository::remove(db, "004321", &error));
    r = lastRow(db);
    QCOMPARE(r.acao, QString("Exclusão"));
    QVERIFY(r.antes.contains("NOME=PADARIA DO ZE"));
    QCOMPARE(count(db, "select count(*) from AUDITORIA") - before, 6);

    // Nested guards on one connection make one transaction: an inner part that failed spoils
    // the outer commit.
    {
        TransactionGuard outer(db);
        {
            TransactionGuard inner(db);
            QVERIFY(inner.begun());
            exec(db, "insert into OPERADORES (NOME, PERMISSOES, SENHA) values ('x', 1, 'y')");
        }
        QVERIFY(!outer.commit());
    }
    QCOMPARE(count(db, "select count(*) from OPERADORES where NOME = 'x'"), 0);
}

void TestAudit::treatmentsPurgesAndTheReportWhileTheTrailItselfCannotBeChanged() {
    Station s;
    QSqlDatabase db = s.db();
    s.addAccount("001234", "MERCADO");
    s.addCode("1130", "ROUBO", 2, 0);
    QCOMPARE(s.record(eventLine("1130", "22:10:00")).status, RecordResult::Status::Stored);
    const qint64 seq = scalar(db, "select max(SEQUENCIA) from EVENTOS").toLongLong();

    audit::setOperator("pedro");
    EventRepository::TreatedBy by;
    QCOMPARE(EventRepository::finishIntervention(db, seq, "viatura enviada", "Ronda", s.clock.now(),
                                                 "pedro", &by),
             EventRepository::Intervention::Recorded);
    Row r = lastRow(db);
    QCOMPARE(r.acao, QString("Tratamento de evento"));
    QCOMPARE(r.conta, QString("001234"));
    QCOMPARE(r.operador, QString("pedro"));
    QCOMPARE(r.estacao, audit::station());
    QVERIFY(!r.estacao.isEmpty());
    QVERIFY2(r.descricao.startsWith(QString("Evento %1: 1130 ROUBO").arg(seq)), qPrintable(r.descricao));
    QCOMPARE(r.antes, QString("TRATADO=0"));
    QCOMPARE(r.depois, QString("TRATADO=1; INTERVENCAO=Ronda; DETALHES=viatura enviada"));
    // An event is treated once: the second operator's try changes nothing, and is no action.
    const int rows = count(db, "select count(*) from AUDITORIA");
    QCOMPARE(EventRepository::finishIntervention(db, seq, "outro", "Outro", s.clock.now(), "ana",
                                                 &by),
             EventRepository::Intervention::NotPending);
    QCOMPARE(count(db, "select count(*) from AUDITORIA"), rows);

    // The purge takes events, never the trail, and is itself audited.
    PurgeFilter f;
    f.dataInicial = QDate(2020, 1, 1);
    f.dataFinal = QDate(2030, 1, 1);
    QString error;
    QVERIFY(EventPurgeRepository::purge(db, f, &error) > 0);
    QCOMPARE(count(db, "select count(*) from EVENTOS"), 0);
    QCOMPARE(count(db, "select count(*) from AUDITORIA"), rows + 1);
    QCOMPARE(lastRow(db).acao, QString("Apagar eventos"));

    // Nobody edits nor deletes the trail, whatever the connection sends.
    QSqlQuery q(db);
    QVERIFY(!q.exec("update AUDITORIA set OPERADOR = 'ninguem'"));
    QVERIFY(!q.exec("delete from AUDITORIA"));
    QCOMPARE(count(db, "select count(*) from AUDITORIA where OPERADOR = 'pedro'"), 2);

    // The window's reading: by period, operator, account and action, newest first.
    AuditFilter filter;
    filter.from = filter.to = s.clock.now().date();
    auto report = AuditReport::read(db, filter, &error);
    QVERIFY(report);
    QCOMPARE(report->rows.size(), qsizetype(rows + 1));
    QCOMPARE(report->rows.first().acao, QString("Apagar eventos"));
    filter.conta = "001234";
    filter.acao = "Tratamento de evento";
    report = AuditReport::read(db, filter, &error);
    QCOMPARE(report->rows.size(), qsizetype(1));
    filter.operador = "ana";
    QVERIFY(AuditReport::read(db, filter, &error)->rows.isEmpty());
    filter.operador.clear();
    filter.from = filter.to = s.clock.now().date().addDays(1);
    QVERIFY(AuditReport::read(db, filter, &error)->rows.isEmpty());
    QVERIFY(AuditReport::operators(db).contains("pedro"));
    // Exported with the values' own separators quoted.
    filter.from = filter.to = s.clock.now().date();
    const QString csv = AuditReport::read(db, filter, &error)->csv(filter);
    QVERIFY2(csv.contains(";\"TRATADO=1; INTERVENCAO=Ronda; DETALHES=viatura enviada\"\r\n"),
             qPrintable(csv));
    // Only what a user may see: the limit of the window is told.
    auto limited = AuditReport::read(db, AuditFilter{s.clock.now().date(), s.clock.now().date()},
                                     &error, 1);
    QVERIFY(limited->more);
    QVERIFY(limited->html({}, "Central").contains("mais recentes"));
}

QTEST_GUILESS_MAIN(TestAudit)
#include "test_audit.moc"
