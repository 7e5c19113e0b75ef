#include "support/TestSupport.h"

#include "core/events/EventLine.h"

#include <QSet>
#include <QSignalSpy>
#include <QTimer>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {
// Monday 9 March 2026, 08:30.
const QDateTime kMonday(QDate(2026, 3, 9), QTime(8, 30, 0));

// Accounts first .. first + n - 1, named "CLIENTE <n>", allowed a day of silence.
void accounts(Station &s, int first, int n, const QDateTime &lastEvent, int eventoAtrasado = 0) {
    exec(s.db(),
         QStringLiteral(
             "EXECUTE BLOCK AS DECLARE i INTEGER = %1; BEGIN WHILE (i < %2) DO BEGIN "
             "INSERT INTO CLIENTES (CONTA, NOME, DESARMADOS, REARME, EVENTO_ATRASADO, "
             "TEMPO_ATRASO, ULTIMO_EVENTO) VALUES (LPAD(:i, 6, '0'), 'CLIENTE ' || :i, 0, 0, "
             "%3, 1440, '%4'); i = i + 1; END END")
             .arg(first)
             .arg(first + n)
             .arg(eventoAtrasado)
             .arg(lastEvent.toString("yyyy-MM-dd HH:mm:ss")));
}

// Rows of CLIENTES this connection has read so far, by any path.
qint64 accountRowsRead(QSqlDatabase db) {
    return scalar(db, "select coalesce(sum(r.MON$RECORD_SEQ_READS + r.MON$RECORD_IDX_READS), 0) "
                      "from MON$TABLE_STATS t join MON$RECORD_STATS r on r.MON$STAT_ID = "
                      "t.MON$RECORD_STAT_ID join MON$ATTACHMENTS a on a.MON$STAT_ID = t.MON$STAT_ID "
                      "where a.MON$ATTACHMENT_ID = CURRENT_CONNECTION and t.MON$TABLE_NAME = "
                      "'CLIENTES'")
        .toLongLong();
}
} // namespace

class TestAccountSupervisor : public QObject {
    Q_OBJECT
private slots:
    void silentExactlyAtItsTimeAndOnlyOnce();
    void aThousandSilentTogetherAreAllMarkedWithinAMinute();
    void idleTickReadsNoAccount();
    void emptyLastEventOrAllowedTimeAndEmptyAccount();
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

// Among fresh accounts and accounts marked long ago, a thousand fall silent together: each is
// marked and announced once within a minute of ticks, the list refreshed once per tick.
void TestAccountSupervisor::aThousandSilentTogetherAreAllMarkedWithinAMinute() {
    Station s(kMonday);
    const QDateTime last = kMonday.addDays(-2);
    accounts(s, 1, 1000, last);
    accounts(s, 1001, 1000, kMonday.addSecs(-60));
    accounts(s, 2001, 1000, last, 1);
    QSignalSpy silent(&s.core->supervisor(), &AccountSupervisor::silentChanged);

    int ticks = 0;
    while (ticks < 60 && s.prompt.shown.size() < 1000) {
        s.core->TimerInativosTimer();
        s.clock.advanceSecs(1);
        ++ticks;
    }
    QSet<QString> expected, announced;
    for (int i = 1; i <= 1000; ++i)
        expected << QString("Cliente %1-CLIENTE %2 Está inativo desde %3")
                        .arg(i, 6, 10, QChar('0'))
                        .arg(i)
                        .arg(last.toString("dd/MM/yyyy HH:mm:ss"));
    for (const auto &m : s.prompt.shown)
        announced << m.text;
    QCOMPARE(s.prompt.shown.size(), 1000);
    QCOMPARE(announced, expected);
    QCOMPARE(silent.count(), ticks);
    QCOMPARE(scalar(s.db(), "select count(*) from CLIENTES where EVENTO_ATRASADO = 1 and CONTA "
                            "<= '001000'")
                 .toInt(),
             1000);
    QCOMPARE(scalar(s.db(), "select count(*) from CLIENTES where EVENTO_ATRASADO = 1").toInt(),
             2000);

    // Marked, they are not raised again; the fresh ones fall silent at their own time.
    s.core->TimerInativosTimer();
    QCOMPARE(s.prompt.shown.size(), 1000);
    QCOMPARE(silent.count(), ticks);
}

// Fresh accounts lie beyond the deadline range and marked ones outside the index: a tick with
// nobody due reads no account at all, and one with three due reads little more than them.
void TestAccountSupervisor::idleTickReadsNoAccount() {
    Station s(kMonday);
    accounts(s, 1, 5000, kMonday);
    accounts(s, 5001, 5000, kMonday.addDays(-2), 1);
    const qint64 before = accountRowsRead(s.db());
    s.core->TimerInativosTimer();
    QCOMPARE(accountRowsRead(s.db()) - before, 0);
    QCOMPARE(s.prompt.shown.size(), 0);

    exec(s.db(), "update CLIENTES set ULTIMO_EVENTO = :u where CONTA in ('000007', '000070', "
                 "'000700')",
         {{":u", kMonday.addDays(-2)}});
    const qint64 due = accountRowsRead(s.db());
    s.core->TimerInativosTimer();
    QCOMPARE(s.prompt.shown.size(), 3);
    QVERIFY(accountRowsRead(s.db()) - due <= 6); // each found, then updated by its key
}

void TestAccountSupervisor::emptyLastEventOrAllowedTimeAndEmptyAccount() {
    Station s(kMonday);
    s.addAccount("000001", "SEM DATA");
    s.addAccount("000002", "COM DATA");
    s.addAccount("000003", "FUTURO");
    s.addAccount("", "SEM CONTA");
    s.addAccount("000004", "SEM MARCA");
    exec(s.db(), "update CLIENTES set ULTIMO_EVENTO = null, EVENTO_ATRASADO = 0 where CONTA in "
                 "('000001', '')");
    exec(s.db(),
         "update CLIENTES set ULTIMO_EVENTO = :u, EVENTO_ATRASADO = 0, TEMPO_ATRASO = null "
         "where CONTA = '000002'",
         {{":u", kMonday.addSecs(-1)}});
    exec(s.db(),
         "update CLIENTES set ULTIMO_EVENTO = :u, EVENTO_ATRASADO = 0, TEMPO_ATRASO = null "
         "where CONTA = '000003'",
         {{":u", kMonday.addSecs(1)}});
    exec(s.db(), "update CLIENTES set ULTIMO_EVENTO = null, EVENTO_ATRASADO = null where CONTA = "
                 "'000004'");
    // No last event counts as long ago, whatever the allowed time; no allowed time is none:
    // silent right after the last event. An account without a number, or without the flag,
    // is never announced.
    s.core->TimerInativosTimer();
    QCOMPARE(s.prompt.shown.size(), 2);
    QCOMPARE(s.prompt.shown[0].text, QString("Cliente 000001-SEM DATA Está inativo desde "));
    QCOMPARE(s.prompt.shown[1].text, QString("Cliente 000002-COM DATA Está inativo desde ") +
                                         kMonday.addSecs(-1).toString("dd/MM/yyyy HH:mm:ss"));
    s.clock.advanceSecs(1);
    s.core->TimerInativosTimer();
    QCOMPARE(s.prompt.shown.size(), 3);
    QVERIFY(s.prompt.shown[2].text.startsWith("Cliente 000003-FUTURO Está inativo desde "));
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "").toInt(), 0);
    QVERIFY(s.accountColumn("EVENTO_ATRASADO", "000004").isNull());
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

    tickAndSettle(*s.core); // 07:59:59
    QCOMPARE(s.accountColumn("DESARMADOS", "000001").toInt(), 1);
    QCOMPARE(waiting.count(), 0);

    s.clock.set(QDateTime(QDate(2026, 3, 9), QTime(8, 0, 0)));
    tickAndSettle(*s.core);
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
    tickAndSettle(*s.core);
    QCOMPARE(s.accountColumn("DESARMADOS", "000001").toInt(), 1);
    // Tuesday 08:xx is not Monday.
    s.clock.set(QDateTime(QDate(2026, 3, 10), QTime(8, 10, 0)));
    tickAndSettle(*s.core);
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

    tickAndSettle(*s.core); // the rearm alert
    QCOMPARE(s.prompt.shown.size(), 1);
    QCOMPARE(s.prompt.shown[0].text, QString("Cliente JOSE Está Desarmado"));
    s.core->TimerInativosTimer(); // the silence alert
    QCOMPARE(s.prompt.shown.size(), 2);
    QVERIFY(s.prompt.shown[1].text.startsWith("Cliente 000001-JOSE Está inativo desde "));
    QCOMPARE(duranteMensagem, (QList<std::pair<bool, bool>>{{true, true}, {true, true}}));
    // The next ticks while the operator reads do not raise the same accounts again.
    tickAndSettle(*s.core);
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
