#include "support/TestSupport.h"

#include "events/EventLine.h"

#include <QSignalSpy>
#include <QTimer>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {
// Monday 9 March 2026, 08:30.
const QDateTime kMonday(QDate(2026, 3, 9), QTime(8, 30, 0));

void silentAccounts(Station &s, int n, const QDateTime &lastEvent) {
    exec(s.db(),
         QStringLiteral(
             "EXECUTE BLOCK AS DECLARE i INTEGER = 1; BEGIN WHILE (i <= %1) DO BEGIN "
             "INSERT INTO CLIENTES (CONTA, NOME, DESARMADOS, REARME, EVENTO_ATRASADO, "
             "TEMPO_ATRASO, ULTIMO_EVENTO) VALUES (LPAD(:i, 6, '0'), 'CLIENTE ' || :i, 0, 0, "
             "0, 1440, '%2'); i = i + 1; END END")
             .arg(n)
             .arg(lastEvent.toString("yyyy-MM-dd HH:mm:ss")));
}
} // namespace

class TestAccountSupervisor : public QObject {
    Q_OBJECT
private slots:
    void silentExactlyAtItsTimeAndOnlyOnce();
    void scanWalksNineAccountsAndRestartsAfterAMark();
    void scanCostDoesNotGrowWithTheAccounts();
    void emptyLastEventIsReportedAtOnce();
    void rearmOnMarkedHourOnlyAndByAccount();
    void alertsHoldNothingBack();
};

void TestAccountSupervisor::silentExactlyAtItsTimeAndOnlyOnce() {
    Station s(kMonday);
    s.addAccount("001234", "JOSE");
    s.addCode("1602", "TESTE", 6);
    const QDateTime last = kMonday.addSecs(-(24 * 3600 - 60));
    exec(s.db(), "update CLIENTES set ULTIMO_EVENTO = :u, EVENTO_ATRASADO = 0, TEMPO_ATRASO = 1440",
         {{":u", last}});
    QSignalSpy silent(&s.core->supervisor(), &AccountSupervisor::silentChanged);

    s.core->TimerInativosTimer(); // 23 h 59 min
    QCOMPARE(s.prompt.shown.size(), 0);
    s.clock.advanceSecs(59);
    s.core->TimerInativosTimer();
    QCOMPARE(s.prompt.shown.size(), 0);
    s.clock.advanceSecs(1); // 24 h
    s.core->TimerInativosTimer();
    QCOMPARE(s.prompt.shown.size(), 1);
    QCOMPARE(s.prompt.shown[0].text, QString("Cliente 001234-JOSE Está inativo desde ") +
                                         last.toString("dd/MM/yyyy HH:mm:ss"));
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "001234").toInt(), 1);
    QCOMPARE(silent.count(), 1);
    // The alert sound repeats while the message is open and stops when it closes.
    QCOMPARE(s.sound.calls, QStringList({"loop:C:\\Tulmo\\Sons\\P1Sound.wav", "stop"}));

    for (int i = 0; i < 5; ++i) {
        s.clock.advanceSecs(1);
        s.core->TimerInativosTimer();
    }
    QCOMPARE(s.prompt.shown.size(), 1); // stays silent, announced once

    // Its next event brings it back, and a day later it is announced again.
    QCOMPARE(
        s.record(eventline::build("01", "1", "1234", "1", "1602", "000", "09/03/26", "08:31:00"))
            .status,
        RecordResult::Status::Stored);
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "001234").toInt(), 0);
    s.core->TimerInativosTimer();
    QCOMPARE(s.prompt.shown.size(), 1);
    s.clock.advanceSecs(24 * 3600);
    s.core->TimerInativosTimer();
    QCOMPARE(s.prompt.shown.size(), 2);
}

void TestAccountSupervisor::scanWalksNineAccountsAndRestartsAfterAMark() {
    Station s(kMonday);
    silentAccounts(s, 30, kMonday); // all fresh
    AccountSupervisor &sup = s.core->supervisor();
    s.core->TimerInativosTimer();
    QCOMPARE(sup.lastAccountExamined(), QString("000009"));
    s.core->TimerInativosTimer();
    QCOMPARE(sup.lastAccountExamined(), QString("000018"));
    s.core->TimerInativosTimer();
    s.core->TimerInativosTimer(); // 28..30, then wraps to 1..6
    QCOMPARE(sup.lastAccountExamined(), QString("000006"));

    // Account 12 falls silent: it is found on the next pass, and the scan starts over.
    exec(s.db(), "update CLIENTES set ULTIMO_EVENTO = :u where CONTA = '000012'",
         {{":u", kMonday.addDays(-2)}});
    s.core->TimerInativosTimer();
    QCOMPARE(s.prompt.shown.size(), 1);
    QVERIFY(s.prompt.shown[0].text.startsWith("Cliente 000012-CLIENTE 12 Está inativo desde "));
    s.core->TimerInativosTimer();
    QCOMPARE(sup.lastAccountExamined(), QString("000009"));
    // A recorded event also sends the scan back to the lowest account.
    s.core->TimerInativosTimer();
    QCOMPARE(sup.lastAccountExamined(), QString("000019")); // 12 is out of the scan now
    s.addCode("1602", "TESTE", 6);
    s.record(eventline::build("01", "1", "0030", "1", "1602", "000", "09/03/26", "08:31:00"));
    s.core->TimerInativosTimer();
    QCOMPARE(sup.lastAccountExamined(), QString("000009"));
}

void TestAccountSupervisor::scanCostDoesNotGrowWithTheAccounts() {
    Station s(kMonday);
    silentAccounts(s, 20000, kMonday);
    AccountSupervisor &sup = s.core->supervisor();
    for (int i = 0; i < 3; ++i) {
        s.core->TimerInativosTimer();
        QCOMPARE(sup.queriesInLastTick(), 1);
    }
    QCOMPARE(sup.lastAccountExamined(), QString("000027"));
}

void TestAccountSupervisor::emptyLastEventIsReportedAtOnce() {
    Station s(kMonday);
    s.addAccount("000001", "SEM DATA");
    s.addAccount("000002", "COM DATA");
    exec(s.db(),
         "update CLIENTES set ULTIMO_EVENTO = null, EVENTO_ATRASADO = 0 where CONTA = '000001'");
    exec(s.db(),
         "update CLIENTES set ULTIMO_EVENTO = :u, EVENTO_ATRASADO = 0, TEMPO_ATRASO = null "
         "where CONTA = '000002'",
         {{":u", kMonday.addSecs(-1)}});
    s.core->TimerInativosTimer();
    QCOMPARE(s.prompt.shown.size(), 1);
    QCOMPARE(s.prompt.shown[0].text, QString("Cliente 000001-SEM DATA Está inativo desde "));
    s.core->TimerInativosTimer(); // no allowed time: silent after its last event
    QCOMPARE(s.prompt.shown.size(), 2);
    QVERIFY(s.prompt.shown[1].text.startsWith("Cliente 000002-COM DATA Está inativo desde "));
}

void TestAccountSupervisor::rearmOnMarkedHourOnlyAndByAccount() {
    Station s(QDateTime(QDate(2026, 3, 9), QTime(7, 59, 59)));
    s.addAccount("000001", "JOSE");
    s.addAccount("000002", "JOSE"); // same holder's name, no schedule
    exec(s.db(), "update CLIENTES set DESARMADOS = 1");
    exec(s.db(), "insert into QUADRO_HORARIOS (CONTA, DIA, HORA, MARCADO) values ('000001', 'SEG', "
                 "'08:00:00', 1)");
    exec(s.db(), "insert into QUADRO_HORARIOS (CONTA, DIA, HORA, MARCADO) values ('000001', 'SEG', "
                 "'09:00:00', 0)");
    QSignalSpy waiting(&s.core->supervisor(), &AccountSupervisor::awaitingArmChanged);

    s.core->Timer_AtualizarTimer(); // 07:59:59
    QCOMPARE(s.accountColumn("DESARMADOS", "000001").toInt(), 1);
    QCOMPARE(waiting.count(), 0);

    s.clock.set(QDateTime(QDate(2026, 3, 9), QTime(8, 0, 0)));
    s.core->Timer_AtualizarTimer();
    QCOMPARE(s.accountColumn("DESARMADOS", "000001").toInt(), 0);
    QCOMPARE(s.accountColumn("REARME", "000001").toInt(), 1);
    QCOMPARE(s.accountColumn("DESARMADOS", "000002").toInt(), 1); // not moved along by its name
    QCOMPARE(s.accountColumn("REARME", "000002").toInt(), 0);
    QCOMPARE(s.prompt.shown.size(), 1);
    QCOMPARE(s.prompt.shown[0].text, QString("Cliente JOSE Está Desarmado"));
    QCOMPARE(s.sound.calls.value(0), QString("loop:C:\\Tulmo\\Sons\\P1Sound.wav"));
    QCOMPARE(waiting.count(), 1);

    // Disarmed again at 09:xx, an unmarked hour: it stays disarmed.
    exec(s.db(), "update CLIENTES set DESARMADOS = 1, REARME = 0 where CONTA = '000001'");
    s.clock.set(QDateTime(QDate(2026, 3, 9), QTime(9, 10, 0)));
    s.core->Timer_AtualizarTimer();
    QCOMPARE(s.accountColumn("DESARMADOS", "000001").toInt(), 1);
    // Tuesday 08:xx is not Monday.
    s.clock.set(QDateTime(QDate(2026, 3, 10), QTime(8, 10, 0)));
    s.core->Timer_AtualizarTimer();
    QCOMPARE(s.accountColumn("DESARMADOS", "000001").toInt(), 1);
    QCOMPARE(s.prompt.shown.size(), 1);
}

// Without the main window the core shows its alerts itself: no alert holds a timer back while
// it is open (the account was marked first, so it is not raised twice), and a stopped timer
// stays stopped.
void TestAccountSupervisor::alertsHoldNothingBack() {
    Station s(QDateTime(QDate(2026, 3, 9), QTime(8, 0, 0)));
    s.addAccount("000001", "JOSE");
    exec(s.db(), "update CLIENTES set DESARMADOS = 1, EVENTO_ATRASADO = 0, ULTIMO_EVENTO = :u",
         {{":u", QDateTime(QDate(2026, 3, 1), QTime(0, 0))}});
    exec(s.db(), "insert into QUADRO_HORARIOS (CONTA, DIA, HORA, MARCADO) values ('000001', 'SEG', "
                 "'08:00:00', 1)");
    QTimer &driver = s.core->timerUpdate();
    QTimer &scan = s.core->timerInactive();
    QList<std::pair<bool, bool>> duranteMensagem; // driver, scan
    s.prompt.onMessage = [&](const QString &) {
        duranteMensagem.append({driver.isActive(), scan.isActive()});
    };
    s.core->startTimer();

    s.core->Timer_AtualizarTimer(); // the rearm alert
    QCOMPARE(s.prompt.shown.size(), 1);
    QCOMPARE(s.prompt.shown[0].text, QString("Cliente JOSE Está Desarmado"));
    s.core->TimerInativosTimer(); // the silence alert
    QCOMPARE(s.prompt.shown.size(), 2);
    QVERIFY(s.prompt.shown[1].text.startsWith("Cliente 000001-JOSE Está inativo desde "));
    QCOMPARE(duranteMensagem, (QList<std::pair<bool, bool>>{{true, true}, {true, true}}));
    // The next ticks while the operator reads do not raise the same accounts again.
    s.core->Timer_AtualizarTimer();
    s.core->TimerInativosTimer();
    QCOMPARE(s.prompt.shown.size(), 2);
    QVERIFY(driver.isActive());
    QVERIFY(scan.isActive());
    QCOMPARE(driver.interval(), 1000);
    QCOMPARE(scan.interval(), 1000);

    s.core->stopTimer();
    exec(s.db(), "update CLIENTES set EVENTO_ATRASADO = 0, ULTIMO_EVENTO = :u",
         {{":u", QDateTime(QDate(2026, 3, 1), QTime(0, 0))}});
    s.core->TimerInativosTimer();
    QCOMPARE(s.prompt.shown.size(), 3);
    QVERIFY(!scan.isActive());
    QVERIFY(!driver.isActive());
}

QTEST_GUILESS_MAIN(TestAccountSupervisor)
#include "test_accountsupervisor.moc"
