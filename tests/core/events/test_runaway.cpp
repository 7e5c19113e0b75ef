#include "support/TestSupport.h"

#include "core/console/ConsoleCore.h"
#include "core/events/EventLine.h"
#include "core/events/EventRecorder.h"
#include "core/events/RunawayRepository.h"
#include "core/events/RunawayWatch.h"
#include "core/settings/ConfigIni.h"

#include <QFile>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kStart(QDate(2026, 3, 8), QTime(22, 15, 0));

int count(QSqlDatabase db, const QString &sql) { return scalar(db, sql).toInt(); }
using V = RunawayWatch::Verdict;

// A burglary of account 1234 received now, as the receivers' lines carry it.
QString line(const QDateTime &at, int zona = 3) {
    return eventline::build("01", "1", "1234", "1", "1130", QString::number(zona).rightJustified(3, '0'),
                            at.toString("dd/MM/yy"), at.toString("HH:mm:ss"));
}

} // namespace

class TestRunaway : public QObject {
    Q_OBJECT
private slots:
    void theWatchCountsAWindowAndForgetsWhatFellQuietOrWasCleared();
    void aRunawayAccountIsRecordedWithoutBeingRaisedUntilClearedOrQuiet();
};

void TestRunaway::theWatchCountsAWindowAndForgetsWhatFellQuietOrWasCleared() {
    RunawayWatch w({3, 10});
    const QDateTime t = kStart;
    // More than three within ten minutes: the fourth flags, the next ones find it flagged.
    QCOMPARE(w.note("A", t), V::Normal);
    QCOMPARE(w.note("A", t.addSecs(60)), V::Normal);
    QCOMPARE(w.note("A", t.addSecs(120)), V::Normal);
    QCOMPARE(w.note("A", t.addSecs(180)), V::Flagged);
    QCOMPARE(w.note("A", t.addSecs(240)), V::Runaway);
    // Four minutes apart, never four within ten; exactly ten minutes is outside.
    for (int i = 0; i < 8; ++i)
        QCOMPARE(w.note("B", t.addSecs(i * 240)), V::Normal);
    QCOMPARE(w.note("C", t), V::Normal);
    QCOMPARE(w.note("C", t.addSecs(1)), V::Normal);
    QCOMPARE(w.note("C", t.addSecs(2)), V::Normal);
    QCOMPARE(w.note("C", t.addSecs(600)), V::Normal);
    QCOMPARE(w.flagged(), QStringList{"A"});

    // Quiet for thirty minutes after its last event: released, and counted afresh.
    QCOMPARE(w.releaseQuiet(t.addSecs(240 + 29 * 60)), QStringList());
    QCOMPARE(w.releaseQuiet(t.addSecs(240 + 30 * 60)), QStringList{"A"});
    const QDateTime later = t.addSecs(3 * 3600);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(w.note("A", later.addSecs(i)), V::Normal);
    QCOMPARE(w.note("A", later.addSecs(3)), V::Flagged);
    // Cleared by an operator: likewise.
    w.clear("A");
    QVERIFY(!w.isFlagged("A"));
    QCOMPARE(w.note("A", later.addSecs(4)), V::Normal);

    // The station's table rules: flags only there are taken, flags not there are dropped,
    // but for one raised here a moment ago, whose row may not be committed yet.
    for (int i = 0; i < 4; ++i)
        w.note("E", later.addSecs(i));
    QVERIFY(w.isFlagged("E"));
    w.syncFlagged({});
    QVERIFY(w.isFlagged("E"));
    w.syncFlagged({}, 0);
    QVERIFY(!w.isFlagged("E"));
    w.syncFlagged({{"D", later}});
    QCOMPARE(w.flagged(), QStringList{"D"});
    QCOMPARE(w.note("D", later.addSecs(5)), V::Runaway);
    w.syncFlagged({}, 0);
    QCOMPARE(w.flagged(), QStringList());
    QCOMPARE(w.note("D", later.addSecs(6)), V::Normal);

    // Config.ini [Disparo]: what is missing or out of range keeps the defaults.
    QTemporaryDir dir;
    QFile f(dir.path() + "/Config.ini");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Disparo]\r\nSinais=30\r\nMinutos=0\r\n");
    f.close();
    const RunawayWatch::Limits l = ConfigIni(dir.path() + "/Config.ini").runawayLimits();
    QCOMPARE(l.events, 30);
    QCOMPARE(l.minutes, 60);
}

void TestRunaway::aRunawayAccountIsRecordedWithoutBeingRaisedUntilClearedOrQuiet() {
    Station s(kStart);
    s.addAccount("001234", "JOSE");
    s.addCode("1130", "ROUBO", 2, 0, 1, "roubo.wav");
    s.core->recorder().runaway().setLimits({3, 10});
    auto pending = [&] {
        return count(s.db(), "select count(*) from EVENTOS where CONTA = '001234' and TRATADO = 0");
    };
    auto sounds = [&] { return int(s.sound.calls.count("once:roubo.wav")); };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(s.record(line(s.clock.now(), i)).status, RecordResult::Status::Stored);
        s.clock.advanceSecs(30);
    }
    QCOMPARE(pending(), 3);
    QCOMPARE(sounds(), 3);

    // The fourth within ten minutes: recorded, marked, treated, silent; the operators are told
    // once, by an internal event that waits for them.
    QCOMPARE(s.record(line(s.clock.now(), 3)).status, RecordResult::Status::Stored);
    QCOMPARE(pending(), 3);
    QCOMPARE(sounds(), 3);
    QCOMPARE(s.last("SUPRESSAO").toString(), QString("DISPARO"));
    QCOMPARE(s.last("TRATADO").toInt(), 1);
    QCOMPARE(s.last("ARGUMENTO").toString(), QString("003"));
    QCOMPARE(column(s.db(), "select DESCRICAO from EVENTOS where CLIENTE = 'EVENTO INTERNO' and "
                            "TRATADO = 0"),
             QVariantList{"Conta 001234 em disparo: mais de 3 sinais em 10 min"});
    s.clock.advanceSecs(30);
    QCOMPARE(s.record(line(s.clock.now(), 4)).status, RecordResult::Status::Stored);
    QCOMPARE(sounds(), 3);
    QList<RunawayRepository::Row> rows = RunawayRepository::list(s.db());
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].conta, QString("001234"));
    QCOMPARE(rows[0].cliente, QString("JOSE"));
    QCOMPARE(rows[0].sinais, 2);
    QCOMPARE(rows[0].desde, kStart.addSecs(90));
    QCOMPARE(rows[0].ultimo, kStart.addSecs(120));

    // An operator clears it: the next event is raised again.
    QString error;
    QVERIFY2(s.core->recorder().clearRunaway("001234", &error), qPrintable(error));
    QVERIFY(RunawayRepository::list(s.db()).isEmpty());
    s.clock.advanceSecs(30);
    QCOMPARE(s.record(line(s.clock.now(), 5)).status, RecordResult::Status::Stored);
    QCOMPARE(pending(), 4);
    QCOMPARE(sounds(), 4);
    QVERIFY(s.last("SUPRESSAO").isNull());

    // Flagged again, then quiet for thirty minutes: released by the one-second driver.
    for (int i = 0; i < 3; ++i) {
        s.clock.advanceSecs(10);
        s.record(line(s.clock.now(), 6 + i));
    }
    QCOMPARE(RunawayRepository::list(s.db()).size(), 1);
    s.clock.advanceSecs(29 * 60);
    tickAndSettle(*s.core);
    QCOMPARE(RunawayRepository::list(s.db()).size(), 1);
    s.clock.advanceSecs(60);
    tickAndSettle(*s.core);
    tickAndSettle(*s.core);
    QVERIFY(RunawayRepository::list(s.db()).isEmpty());
    QVERIFY(!s.core->recorder().runaway().isFlagged("001234"));
    QCOMPARE(count(s.db(), "select count(*) from EVENTOS where DESCRICAO = 'Conta 001234 saiu do "
                           "disparo: 30 min sem sinais'"),
             1);
    // A flag kept in the table comes back at the next start.
    exec(s.db(), "insert into CONTAS_DISPARADAS (CONTA, DESDE, ULTIMO, SINAIS) values "
                 "('001234', :t, :t2, 5)",
         {{":t", s.clock.now()}, {":t2", s.clock.now()}});
    const QString dir = s.dir.path();
    s.core.reset();
    ConsoleCore again(dir, s.clock, &s.prompt, &s.sound);
    QVERIFY2(again.start(&error), qPrintable(error));
    QVERIFY(again.recorder().runaway().isFlagged("001234"));
}

QTEST_GUILESS_MAIN(TestRunaway)
#include "test_runaway.moc"
