// Receiver frames over TCP: reassembled across reads, split when several come in one read,
// each queued, recorded and answered on its own. Transcripts on a real loopback connection.
#include "support/TestSupport.h"

#include "console/ConsoleCore.h"
#include "reception/ConnectionRegistry.h"
#include "reception/Data_Modulo2.h"
#include "reception/FrameAssembler.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kStart(QDate(2026, 3, 9), QTime(10, 0, 0));

// Receiver frames in format 5 for account 0042, burglary on zones 003, 004 and 005.
const QByteArray kFrame3 = "5011 180042E13001003\x14";
const QByteArray kFrame4 = "5011 180042E13001004\x14";
const QByteArray kFrame5 = "5011 180042E13001005\x14";

using Device = LoopbackDevice;

// A console with a TCP receiver on slot 1 that answers at once, and device 123456
// connected and identified on it.
struct Central : Station {
    Device d;

    Central()
        : Station(kStart) {
        mapPort(core->dataDir(), 1, dir.path() + "/sem-porta");
        const quint16 port = freePort();
        ReceiverRow::tcp(1, port, 0, 5).insertInto(db());
        GprsRow("123456").account("0042").status("A").blocked(0).insertInto(db());
        core->dm().Realizar_Atualizacoes();
        d.s.connectToHost(QHostAddress::LocalHost, port);
        if (d.recv() != "&") qFatal("no identification request");
        d.send("&01123456" "0042");
        if (!waitFor([&] { return con().rowCount() == 1 && con().row(0).imei == "123456"; }))
            qFatal("device not identified");
        ticks(1);
        if (d.recv() != "+") qFatal("identification not answered");
    }
    ConnectionRegistry &con() { return core->connectionRegistry(); }
    FrameAssembler &frames() { return con().frames(); }
    TcpConnection *socket() { return con().row(0).socket.data(); }
    qsizetype held() { return frames().heldBytes(socket()); }
    QStringList events() { return core->eventQueue().lines(); }
    // n ticks of the update timer, one second apart.
    void ticks(int n) {
        for (int i = 0; i < n; ++i) {
            clock.advanceSecs(1);
            core->Timer_AtualizarTimer();
        }
    }
};

} // namespace

class TestTcpFraming : public QObject {
    Q_OBJECT
private slots:
    void frameSplitAcrossThreeReadsIsOneEvent();
    void threeFramesInOneReadAreThreeEventsAndThreeAnswers();
    void frameAndAHalfThenTheRest();
    void framesWithoutEndAreEndedByQuietTime();
    void anUnfinishedFrameIsBounded();
};

void TestTcpFraming::frameSplitAcrossThreeReadsIsOneEvent() {
    Central s;
    // Only the 0x14 may end the frame here, however slow the machine is.
    s.frames().setQuietInterval(60000);
    const qsizetype before = s.events().size();
    // Each part is held before the next goes: three reads, not one.
    s.d.send(kFrame3.left(7));
    QVERIFY(waitFor([&] { return s.held() == 7; }));
    s.d.send(kFrame3.mid(7, 7));
    QVERIFY(waitFor([&] { return s.held() == 14; }));
    QCOMPARE(s.events().size(), before);
    QCOMPARE(s.con().replies().size(), 0);
    s.d.send(kFrame3.mid(14));
    QVERIFY(waitFor([&] { return s.events().size() == before + 1; }));
    QCOMPARE(s.held(), 0);
    QVERIFY2(s.events().last().contains(" Ct0042") && s.events().last().contains(" Su003"),
             qPrintable(s.events().last()));
    QCOMPARE(s.core->repeaterQueue().lines().last(), "1," + QString::fromLatin1(kFrame3));
    s.ticks(3);
    QCOMPARE(s.d.recv(), QByteArray("+OK"));
    QCOMPARE(s.core->dm().portMonitor().lines().last(),
             "TCP " + QString::number(s.socket()->socketDescriptor()) + ",1:" +
                 QString::fromLatin1(kFrame3));
}

void TestTcpFraming::threeFramesInOneReadAreThreeEventsAndThreeAnswers() {
    Central s;
    const qsizetype before = s.events().size();
    s.d.send(kFrame3 + kFrame4 + kFrame5);
    QVERIFY(waitFor([&] { return s.events().size() == before + 3; }));
    const QStringList e = s.events().mid(before);
    QVERIFY2(e[0].contains(" Su003") && e[1].contains(" Su004") && e[2].contains(" Su005"),
             qPrintable(e.join('|')));
    QCOMPARE(s.core->repeaterQueue().lines().mid(s.core->repeaterQueue().size() - 3),
             QStringList({"1," + QString::fromLatin1(kFrame3), "1," + QString::fromLatin1(kFrame4),
                          "1," + QString::fromLatin1(kFrame5)}));
    QCOMPARE(s.con().replies().size(), 3);
    s.ticks(3);
    QCOMPARE(s.d.recv(9), QByteArray("+OK+OK+OK"));
}

void TestTcpFraming::frameAndAHalfThenTheRest() {
    Central s;
    s.frames().setQuietInterval(60000);
    const qsizetype before = s.events().size();
    s.d.send(kFrame3 + kFrame4.left(10));
    QVERIFY(waitFor([&] { return s.events().size() == before + 1 && s.held() == 10; }));
    s.d.send(kFrame4.mid(10));
    QVERIFY(waitFor([&] { return s.events().size() == before + 2; }));
    QVERIFY(s.events()[before].contains(" Su003"));
    QVERIFY(s.events()[before + 1].contains(" Su004"));
    s.ticks(2);
    QCOMPARE(s.d.recv(6), QByteArray("+OK+OK"));
}

void TestTcpFraming::framesWithoutEndAreEndedByQuietTime() {
    Central s;
    const QByteArray first = kFrame3.chopped(1), second = kFrame4.chopped(1);
    const qsizetype before = s.events().size();
    QElapsedTimer t;
    t.start();
    s.d.send(first);
    // The real quiet time ends it: such devices never send the 0x14.
    QVERIFY(waitFor([&] { return s.events().size() == before + 1; }));
    QVERIFY(t.elapsed() >= FrameAssembler::kQuietMs);
    waitFor([&] { return t.elapsed() >= 500; });
    s.d.send(second);
    QVERIFY(waitFor([&] { return s.events().size() == before + 2; }));
    QVERIFY(s.events()[before].contains(" Su003"));
    QVERIFY(s.events()[before + 1].contains(" Su004"));
    QCOMPARE(s.core->repeaterQueue().lines().last(), "1," + QString::fromLatin1(second));
    s.ticks(2);
    QCOMPARE(s.d.recv(6), QByteArray("+OK+OK"));

    // The quiet time can be driven: what is held is handled as it stands, once.
    s.frames().setQuietInterval(60000);
    const qsizetype queued = s.events().size(); // the ticks recorded the first two
    s.d.send(first);
    QVERIFY(waitFor([&] { return s.held() == first.size(); }));
    QCOMPARE(s.events().size(), queued);
    s.frames().quietTimeout(s.socket());
    s.frames().quietTimeout(s.socket());
    QCOMPARE(s.events().size(), queued + 1);
}

void TestTcpFraming::anUnfinishedFrameIsBounded() {
    Central s;
    s.frames().setQuietInterval(60000);
    const QByteArray endless(2 * FrameAssembler::kMaxFrame + 100, '1');
    const qsizetype lines = s.core->dm().memo1().lines().size();
    s.d.send(endless);
    QVERIFY(waitFor([&] { return s.held() == 100; }));
    const QStringList taken = s.core->dm().memo1().lines().mid(lines);
    QCOMPARE(taken.size(), 2);
    // The connection stays and its next frame is its own.
    s.d.send(QByteArray("\x14") + kFrame5);
    QVERIFY(waitFor([&] { return s.events().last().contains(" Su005"); }));
    QCOMPARE(s.held(), 0);
}

int main(int argc, char **argv) {
    // The embedded engine's lock files of this run are its own, whatever else runs here.
    QTemporaryDir locks;
    if (qEnvironmentVariableIsEmpty("FIREBIRD_LOCK"))
        qputenv("FIREBIRD_LOCK", locks.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestTcpFraming t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_tcpframing.moc"
