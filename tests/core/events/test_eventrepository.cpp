#include "support/TestSupport.h"

#include "core/events/AccountRepository.h"
#include "core/events/EventLine.h"
#include "core/events/EventRepository.h"
#include "core/store/SqlListModel.h"

#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kInicio(QDate(2026, 3, 9), QTime(8, 30, 0));


// The values of one field over every row of a list read from the database.
QStringList coluna(const QString &sql, QSqlDatabase db, const QString &campo) {
    SqlListModel list(sql, {{campo, {}}});
    list.reopen(db);
    while (list.canFetchMore())
        list.fetchMore();
    QStringList l;
    for (int r = 0; r < list.rowCount(); ++r)
        l << list.value(r, campo).toString();
    return l;
}

} // namespace

// The statements the main window, the pending window and the operator form share, run on the
// database as those forms run them.
class TestEventRepository : public QObject {
    Q_OBJECT
private slots:
    void interventionTreatsThePendingEvent();
    void refusedInterventionComesBackWithTheReason();
    void accountLookUp();
    void accountListsBySupervisionFlag();
};

void TestEventRepository::interventionTreatsThePendingEvent() {
    Station s(kInicio);
    s.addAccount("001234", "JOSE");
    s.addCode("1130", "roubo", 2, 0, 4);
    s.addCode("1401", "abertura", 0, 1, 2);
    QVERIFY(!EventRepository::hasPending(s.db()));
    QCOMPARE(s.record(eventLine("1401", "08:30:30")).status, RecordResult::Status::Stored);
    QVERIFY(!EventRepository::hasPending(s.db())); // registered automatically
    QCOMPARE(s.record(eventLine("1130", "08:31:00")).status, RecordResult::Status::Stored);
    QVERIFY(EventRepository::hasPending(s.db()));
    const QVariant seq = s.last("SEQUENCIA");
    QCOMPARE(coluna(EventRepository::pendingListSql(), s.db(), "SEQUENCIA"),
             QStringList{seq.toString()});
    QCOMPARE(coluna(EventRepository::receivedListSql(), s.db(), "CODIGO_ALARME"),
             QStringList{"1401"});

    // Texts longer than their columns are cut, not refused.
    const QString detalhes = QString(45, QLatin1Char('d'));
    const QString intervencao = QStringLiteral("Técnico Enviado às pressas");
    const QDateTime quando(QDate(2026, 3, 9), QTime(8, 40, 15));
    QString erro;
    QCOMPARE(EventRepository::finishIntervention(s.db(), seq, detalhes, intervencao, quando, &erro),
             EventRepository::Intervention::Recorded);
    QVERIFY(erro.isEmpty());
    QCOMPARE(s.last("TRATADO").toInt(), 1);
    QCOMPARE(s.last("DETALHES").toString(), detalhes.left(40));
    QCOMPARE(s.last("INTERVENCAO").toString(), intervencao.left(20));
    QCOMPARE(s.last("DATA_INTERVENCAO").toDateTime(), quando);
    QVERIFY(!EventRepository::hasPending(s.db()));
    QVERIFY(coluna(EventRepository::pendingListSql(), s.db(), "SEQUENCIA").isEmpty());
    // Newest first.
    QCOMPARE(coluna(EventRepository::receivedListSql(), s.db(), "CODIGO_ALARME"),
             QStringList({"1130", "1401"}));

    // An event is treated once: a second intervention on it changes nothing and says so, as
    // does one on an event that was deleted meanwhile.
    QCOMPARE(EventRepository::finishIntervention(s.db(), seq, "outro", "Teste", quando.addSecs(60)),
             EventRepository::Intervention::NotPending);
    QCOMPARE(s.last("DETALHES").toString(), detalhes.left(40));
    QCOMPARE(s.last("DATA_INTERVENCAO").toDateTime(), quando);
    QCOMPARE(s.record(eventLine("1130", "08:32:00")).status, RecordResult::Status::Stored);
    const QVariant apagado = s.last("SEQUENCIA");
    exec(s.db(), "delete from EVENTOS where SEQUENCIA = :s", {{":s", apagado}});
    QCOMPARE(EventRepository::finishIntervention(s.db(), apagado, "x", "Teste", quando),
             EventRepository::Intervention::NotPending);
    QCOMPARE(s.eventCount(), 2);
}

void TestEventRepository::refusedInterventionComesBackWithTheReason() {
    Station s(kInicio);
    s.addCode("1130", "roubo", 2, 0, 4);
    QCOMPARE(s.record(eventLine("1130", "08:31:00")).status, RecordResult::Status::Stored);
    exec(s.db(), "CREATE EXCEPTION E_RECUSA 'recusado'");
    exec(s.db(), "CREATE TRIGGER T_RECUSA FOR EVENTOS BEFORE UPDATE AS\n"
                 "BEGIN\n  EXCEPTION E_RECUSA;\nEND");
    QString erro;
    QCOMPARE(EventRepository::finishIntervention(s.db(), s.last("SEQUENCIA"), "x", "Teste", kInicio,
                                                 &erro),
             EventRepository::Intervention::Failed);
    QVERIFY2(erro.contains("recusado"), qPrintable(erro));
    QCOMPARE(s.last("TRATADO").toInt(), 0);
    QVERIFY(EventRepository::hasPending(s.db()));
}

void TestEventRepository::accountLookUp() {
    Station s(kInicio);
    s.addAccount("001234", "JOSE DA SILVA", "11987654321");
    exec(s.db(),
         "update CLIENTES set TELEFONE1 = '1133334444', TELEFONE2 = '(11) 2222-1111', "
         "ANIMAIS = 'CAO', SENHA = 'ABC123', OBS = 'Portao azul' where CONTA = '001234'");
    const std::optional<Account> a = AccountRepository::find(s.db(), QStringLiteral("001234"));
    QVERIFY(a);
    QCOMPARE(a->conta, QString("001234"));
    QCOMPARE(a->nome, QString("JOSE DA SILVA"));
    QCOMPARE(a->telefone1, QString("1133334444"));
    QCOMPARE(a->telefone2, QString("(11) 2222-1111"));
    QCOMPARE(a->celular, QString("11987654321"));
    QCOMPARE(a->animais, QString("CAO"));
    QCOMPARE(a->senha, QString("ABC123"));
    QCOMPARE(a->obs, QString("Portao azul"));
    QVERIFY(!AccountRepository::find(s.db(), QStringLiteral("009999")));
    QVERIFY(!AccountRepository::find(s.db(), QVariant()));
}

void TestEventRepository::accountListsBySupervisionFlag() {
    Station s(kInicio);
    s.addAccount("000001", "UM");
    s.addAccount("000002", "DOIS");
    s.addAccount("000003", "TRES");
    exec(s.db(), "update CLIENTES set DESARMADOS = 0, REARME = 0, EVENTO_ATRASADO = 0");
    exec(s.db(), "update CLIENTES set DESARMADOS = 1 where CONTA <> '000002'");
    exec(s.db(), "update CLIENTES set REARME = 1 where CONTA = '000002'");
    exec(s.db(), "update CLIENTES set EVENTO_ATRASADO = 1, ULTIMO_EVENTO = :u where CONTA = '000001'",
         {{":u", QDateTime(QDate(2026, 3, 1), QTime(0, 0))}});
    exec(s.db(), "update CLIENTES set EVENTO_ATRASADO = 1, ULTIMO_EVENTO = :u where CONTA = '000003'",
         {{":u", QDateTime(QDate(2026, 2, 1), QTime(0, 0))}});
    QCOMPARE(coluna(AccountRepository::disarmedListSql(), s.db(), "CONTA"),
             QStringList({"000003", "000001"}));
    QCOMPARE(coluna(AccountRepository::awaitingArmListSql(), s.db(), "CONTA"),
             QStringList{"000002"});
    QCOMPARE(coluna(AccountRepository::silentListSql(), s.db(), "CONTA"),
             QStringList({"000001", "000003"}));
}

QTEST_GUILESS_MAIN(TestEventRepository)
#include "test_eventrepository.moc"
