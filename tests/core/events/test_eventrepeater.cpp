#include "support/TestSupport.h"

#include "core/events/EventLine.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {
const QString kFrame = QStringLiteral("5011 181234E13001003 123456789"); // 31 characters

// A console whose slots 1 and 10 write to two test receivers.
struct Saidas {
    Station s;
    Pty porta1, porta10;
    Saidas() {
        mapPort(s.core->dataDir(), 1, porta1.slavePath());
        mapPort(s.core->dataDir(), 10, porta10.slavePath());
        QString err;
        if (!s.core->dm().openSerialPort(1, 0, 3, &err) ||
            !s.core->dm().openSerialPort(10, 9, 3, &err))
            qFatal("cannot open the test ports: %s", qPrintable(err));
        porta1.readAll(500, 2); // the identification request of the open
        porta10.readAll(500, 2);
        // Their event outputs, as applying TCP/IP receivers that name them does.
        s.core->dm().slot(1).eventOutput = true;
        s.core->dm().slot(10).eventOutput = true;
    }
};
} // namespace

class TestEventRepeater : public QObject {
    Q_OBJECT
private slots:
    void unansweredLineIsWrittenFiveTimesThenDropped();
    void answerRemovesTheLineAtOnceAndTheNextFollows();
    void eachLineGoesToItsOwnSlot();
    void attemptOpensAClosedPort();
    void driverRunsItsDutiesInOrder();
    void attemptsAndIntervalFollowTheLiveSettings();
};

void TestEventRepeater::unansweredLineIsWrittenFiveTimesThenDropped() {
    Saidas t;
    EventRepeater &rep = t.s.core->repeater();
    QVERIFY(t.s.core->queueRepeater(1, kFrame));
    QVERIFY(t.s.core->queueRepeater(1, "1second"));
    rep.startIfIdle();
    QVERIFY(rep.timer().isActive());
    QCOMPARE(rep.timer().interval(), 50);
    for (int i = 1; i <= 5; ++i) {
        rep.TimerRepetidoraTimer();
        QCOMPARE(rep.retryCount(), i);
        QVERIFY(rep.timer().isActive());
        QCOMPARE(rep.timer().interval(), 5000);
        QCOMPARE(t.porta1.readAll(1000, 21), kFrame.left(21).toLatin1()); // cut to 21
    }
    rep.TimerRepetidoraTimer(); // five seconds after the fifth write
    QCOMPARE(rep.retryCount(), 0);
    QVERIFY(!rep.timer().isActive());
    QCOMPARE(t.s.core->repeaterQueue().size(), 1);
    QCOMPARE(t.s.core->repeaterQueue().head(), QString("1,1second"));
    QCOMPARE(t.porta1.readAll(200), QByteArray());
}

void TestEventRepeater::answerRemovesTheLineAtOnceAndTheNextFollows() {
    Saidas t;
    EventRepeater &rep = t.s.core->repeater();
    t.s.core->queueRepeater(1, kFrame);
    t.s.core->queueRepeater(1, "1next");
    rep.startIfIdle();
    for (int i = 0; i < 3; ++i)
        rep.TimerRepetidoraTimer();
    t.porta1.readAll(500, 63);
    // The peer answers on the same port: the frame's end acknowledges the head line.
    QVERIFY(t.porta1.write("OK"));
    QTRY_COMPARE_WITH_TIMEOUT(t.s.core->repeaterQueue().size(), 1, 3000);
    QCOMPARE(t.s.core->repeaterQueue().head(), QString("1,1next"));
    QCOMPARE(rep.retryCount(), 0);
    QVERIFY(!rep.timer().isActive());
    // The answer itself is a receiver frame like any other: acknowledged.
    QCOMPARE(t.porta1.readAll(1000, 1), QByteArray("\x06"));
    // The next tick starts the next line.
    tickAndSettle(*t.s.core);
    QVERIFY(rep.timer().isActive());
    QCOMPARE(rep.timer().interval(), 50);
    QCOMPARE(t.porta1.readAll(2000, 5), QByteArray("1next"));
}

// The adapter was absent, or [Portas] named the wrong device: each attempt tries to open the
// port again; a port that cannot open costs the attempt, one that opens gets the frame.
void TestEventRepeater::attemptOpensAClosedPort() {
    Saidas t;
    EventRepeater &rep = t.s.core->repeater();
    mapPort(t.s.core->dataDir(), 1, t.s.core->dataDir() + "/nao-existe");
    QVERIFY(!t.s.core->dm().openSerialPort(1, 0, 3));
    QVERIFY(t.s.core->queueRepeater(1, kFrame));
    rep.startIfIdle();
    rep.TimerRepetidoraTimer();
    QCOMPARE(rep.retryCount(), 1);
    QVERIFY(!t.s.core->dm().comPort(1)->isOpen());

    mapPort(t.s.core->dataDir(), 1, t.porta1.slavePath()); // the entry is mended
    rep.TimerRepetidoraTimer();
    QCOMPARE(rep.retryCount(), 2);
    QVERIFY(t.s.core->dm().comPort(1)->isOpen());
    // The open announces itself, as every open does, then the frame follows.
    QCOMPARE(t.porta1.readAll(1000, 23), "SP" + kFrame.left(21).toLatin1());

    t.s.core->dm().comPort(1)->close(); // the adapter is pulled out and plugged in again
    rep.TimerRepetidoraTimer();
    QCOMPARE(t.porta1.readAll(1000, 23), "SP" + kFrame.left(21).toLatin1());
}

void TestEventRepeater::eachLineGoesToItsOwnSlot() {
    Saidas t;
    EventRepeater &rep = t.s.core->repeater();
    t.s.core->queueRepeater(10, kFrame);
    rep.startIfIdle();
    rep.TimerRepetidoraTimer();
    QCOMPARE(t.porta10.readAll(1000, 21), kFrame.left(21).toLatin1());
    QCOMPARE(t.porta1.readAll(200), QByteArray());
    t.s.core->acknowledgeRepeater(1); // an answer on another port
    QCOMPARE(t.s.core->repeaterQueue().size(), 1);
    t.s.core->acknowledgeRepeater(10);
    QVERIFY(t.s.core->repeaterQueue().isEmpty());
    // The queue file follows every change, written by the queue's own thread.
    QVERIFY(t.s.core->repeaterQueue().flush());
    EventQueue disco(t.s.core->repeaterQueue().filePath());
    disco.load();
    QVERIFY(disco.isEmpty());
}

void TestEventRepeater::driverRunsItsDutiesInOrder() {
    Station s(QDateTime(QDate(2026, 3, 9), QTime(8, 0, 30))); // Monday 08:00
    s.addAccount("000001", "JOSE");
    s.addCode("1602", "TESTE", 6);
    exec(s.db(), "update CLIENTES set DESARMADOS = 1");
    exec(s.db(), "insert into QUADRO_HORARIOS (CONTA, DIA, HORA, MARCADO) values ('000001', 'SEG', "
                 "'08:00:00', 1)");
    QVERIFY(s.core->eventQueue().append(
        eventline::build("01", "1", "0001", "1", "1602", "000", "09/03/26", "08:00:29")));
    s.core->dm().slot(1).eventOutput = true;
    QVERIFY(s.core->queueRepeater(1, kFrame));

    QStringList ordem;
    connect(&s.core->supervisor(), &AccountSupervisor::awaitingArmChanged, this,
            [&] { ordem << "rearme"; });
    connect(&s.core->repeater(), &EventRepeater::started, this, [&] { ordem << "repetidora"; });
    connect(&s.core->recorder(), &EventRecorder::receivedChanged, this,
            [&] { ordem << "gravacao"; });
    tickAndSettle(*s.core);
    QCOMPARE(ordem, QStringList({"rearme", "repetidora", "gravacao"}));
    QCOMPARE(s.eventCount(), 1);
}

void TestEventRepeater::attemptsAndIntervalFollowTheLiveSettings() {
    Saidas t;
    EventRepeater &rep = t.s.core->repeater();
    LiveSettings &live = t.s.core->settings();
    live.setRepeaterAttempts(2);
    live.setRetryInterval(1);
    QVERIFY(t.s.core->queueRepeater(1, "1first"));
    QVERIFY(t.s.core->queueRepeater(1, "1second"));
    rep.startIfIdle();
    rep.TimerRepetidoraTimer();
    QCOMPARE(rep.timer().interval(), 1000);
    rep.TimerRepetidoraTimer();
    QCOMPARE(t.porta1.readAll(1000, 12), QByteArray("1first1first"));
    rep.TimerRepetidoraTimer(); // two attempts were all
    QCOMPARE(t.s.core->repeaterQueue().head(), QString("1,1second"));
    // A change while a line is under way counts from the next attempt.
    rep.startIfIdle();
    rep.TimerRepetidoraTimer();
    live.setRepeaterAttempts(3);
    live.setRetryInterval(7);
    rep.TimerRepetidoraTimer();
    QCOMPARE(rep.timer().interval(), 7000);
    rep.TimerRepetidoraTimer();
    QCOMPARE(rep.retryCount(), 3);
    QCOMPARE(t.porta1.readAll(1000, 21), QByteArray("1second1second1second"));
}

QTEST_GUILESS_MAIN(TestEventRepeater)
#include "test_eventrepeater.moc"
