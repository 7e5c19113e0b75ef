#include "support/TestSupport.h"

#include "core/common/Clock.h"
#include "core/events/EventLine.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/ReceiverWatch.h"
#include "core/reception/ReceptionSink.h"
#include "core/reception/SerialReception.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <array>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// Sunday 8 March 2026, 22:15.
const QDateTime kSunday(QDate(2026, 3, 8), QTime(22, 15, 0));

// A format "5" receiver frame (Contact ID): receiver 01, line 1, account 1234, new event 130,
// partition 01, zone 003, ended by 0x14.
const QByteArray kFrame5 = QByteArrayLiteral("5011 181234E13001003\x14");
const QString kLine5Prefix = QStringLiteral("Rc01 Ln1 Ct1234 Pt01 Ce1130 Su003 Dt");
// A heartbeat: "@" at position 16.
const QByteArray kHeartbeat = QByteArrayLiteral("1011           @\x14");

const char kAck = 0x06;

int acks(const QByteArray &bytes) {
    return int(bytes.count(kAck));
}

// One console core on a fresh program folder, with receivers on pseudo-terminals.
struct Receptoras : Station {
    Receptoras()
        : Station(kSunday) {}
    DM1 &dm() { return core->dm(); }
    const QStringList &monitor() { return dm().portMonitor().lines(); }
    QString queueFile() { return core->dataDir() + QStringLiteral("/Eventos_Log.dat"); }

    void receiver(int id, int modo, int ativo, int portaCom, int baudsCom = 3, int resposta = 5,
                  int keepAlive = 5) {
        ReceiverRow(id)
            .name(QStringLiteral("RECEPTORA %1").arg(id))
            .mode(modo)
            .active(ativo)
            .comPort(portaCom, baudsCom)
            .tcpPort(3030)
            .udpPort(0)
            .replyDelay(resposta)
            .keepAlive(keepAlive)
            .insertInto(db());
    }
    int ativo(int id) {
        return scalar(db(), "select ATIVO from RECEIVER where RECEIVER = :id", {{":id", id}})
            .toInt();
    }

    // Slot k serial on "COM<com>" mapped to pty, applied and identified by the receiver.
    bool identify(int k, Pty &pty) {
        const QByteArray sp = pty.readAll(2000, 4);
        if (sp != "SPSP") {
            qWarning("identification request: %s", sp.constData());
            return false;
        }
        if (!pty.write("RZ5")) return false;
        const QString found = QStringLiteral("Receptora Porta %1 Encontrada!").arg(k);
        if (!waitFor([&] { return monitor().contains(found); })) return false;
        return !dm().slot(k).timerSM->isActive() && dm().slot(k).rxBuffer.isEmpty();
    }
    bool openIdentified(Pty &pty) {
        mapPort(core->dataDir(), 1, pty.slavePath());
        receiver(1, DM1::Serial, 1, 0);
        dm().Realizar_Atualizacoes();
        return identify(1, pty);
    }
};

// A receiver on a pseudo-terminal whose master side can be polled without running the event
// loop: for checks made from inside a handler.
struct RawPty {
    int master = -1, slave = -1;
    QString slavePath;
    RawPty() {
        char name[256] = {};
        struct termios tio {};
        cfmakeraw(&tio);
        if (openpty(&master, &slave, name, &tio, nullptr) != 0) return;
        slavePath = QString::fromLocal8Bit(name);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~RawPty() {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
    }
    // What reaches the master within waitMs, without processing any event: for a look from
    // inside a handler.
    QByteArray peek(int waitMs) {
        QByteArray out;
        pollfd p{master, POLLIN, 0};
        while (::poll(&p, 1, waitMs) > 0) {
            char buf[512];
            const auto n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, n);
            waitMs = 20;
        }
        return out;
    }
    // What reaches the master within waitMs while events run; returns soon after the first
    // bytes.
    QByteArray take(int waitMs) {
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < waitMs) {
            QTest::qWait(5);
            out += peek(0);
            if (!out.isEmpty()) {
                QTest::qWait(20);
                return out + peek(0);
            }
        }
        return out;
    }
    bool write(const QByteArray &b) {
        return ::write(master, b.constData(), size_t(b.size())) == b.size();
    }
};

// Records what reception hands on; answers as it is told.
class RecordingSink : public ReceptionSink {
public:
    QueueResult stageEvent(const QString &frame) override {
        frames << frame;
        if (onDecode) onDecode();
        return answer;
    }
    QueueResult stageLine(const QString &line) override {
        lines << line;
        return QueueResult::Queued;
    }
    void whenDurable(std::function<void(bool)> done) override { done(true); }
    QString decodeFrame(const QString &) const override { return QString(); }
    void acknowledgeRepeater(int slot) override { confirmed << slot; }
    bool queueRepeater(int, const QString &) override { return true; }

    QStringList frames, lines;
    QList<int> confirmed;
    QueueResult answer = QueueResult::Queued;
    std::function<void()> onDecode;
};

// Serial reception of slot 1 over a pseudo-terminal, without database or event queue.
struct Bench {
    QTemporaryDir dir;
    ManualClock clock{kSunday};
    RawPty pty;
    // Never opened: serial reception without caller identification needs no database.
    Database database{dir.path() + "/TULMO.FDB"};
    DM1 dm{dir.path(), database};
    RecordingSink sink;
    SerialReception serial{dm, database, sink, clock};

    bool open() {
        if (pty.master < 0) return false;
        mapPort(dir.path(), 1, pty.slavePath);
        if (!dm.openSerialPort(1, 0, 3)) return false;
        return pty.take(1000) == "SP";
    }
    // Waits for the frame end that follows what the receiver sent: the 300 ms quiet of a real
    // serial port, whose bytes arrive through the kernel, not through a test clock.
    void settle() { QTest::qWait(SerialReception::kQuietMs + 200); }
};

} // namespace

class TestSerial : public QObject {
    Q_OBJECT
private slots:
    void identificationReplyKeepsThePortOpen();
    void otherAnswerClosesThePortAfterASecond();
    void framesCloserThanTheQuietTimeAreOne();
    void heartbeatIsAcknowledgedButNeverQueued();
    void receiverFramesAreAcknowledgedOnlyWhole();
    void everyCutOfAFrameIsAcknowledgedOnlyWhenWhole();
    void aReceiverSendingOneByteASecondIsNeverAcknowledged();
    void acknowledgementFollowsTheDecoding();
    void failedDecodingIsNotAcknowledged();
    void format5FrameIsInTheQueueFileWhenAcknowledged();
    void unqueueableFrameIsNotAcknowledgedUntilItCanBeQueued();
    void acknowledgementWaitsForTheFlushOfItsLine();
    void callerIdentification();
    void frameEndDeliversTheRepeaterHead();
    void portIndexAndSpeed();
    void unopenablePortMarksReceiverInactiveAndInactiveRowsSetTimes();
    void emptyTableLeavesPortsAsTheyWere();
    void floodNeverGrowsTheBufferPastTheCap();
    void bytesLeftBeforeACloseJoinTheNextFrame();
    void aSilentOrClosedReceiverIsAPendingAlarmAndItsReturnIsTold();
    void aPortWhoseDeviceWentAwayClosesAndOpensAgain();
};

void TestSerial::identificationReplyKeepsThePortOpen() {
    Receptoras s;
    Pty pty;
    QVERIFY(pty.ok());
    QSignalSpy notFound(&s.dm(), &DM1::receiverNotFound);
    mapPort(s.core->dataDir(), 1, pty.slavePath());
    s.receiver(1, DM1::Serial, 1, 0);
    s.dm().Realizar_Atualizacoes();
    QVERIFY(s.dm().comPort(1)->isOpen());
    QVERIFY(s.dm().slot(1).timerSM->isActive());
    // The request after the open and the one of the configuration.
    QCOMPARE(pty.readAll(2000, 4), QByteArray("SPSP"));
    QVERIFY(pty.write("RZ5 1.0"));
    QTRY_VERIFY_WITH_TIMEOUT(s.monitor().contains("Receptora Porta 1 Encontrada!"), 3000);
    QVERIFY(!s.dm().slot(1).timerSM->isActive());
    QVERIFY(s.dm().slot(1).rxBuffer.isEmpty());
    // Past the identification time-out: still open, the reply neither acknowledged nor shown
    // as a frame nor decoded.
    const QByteArray after = pty.readAll(1300, 1 << 20);
    QCOMPARE(acks(after), 0);
    QVERIFY(s.dm().comPort(1)->isOpen());
    QCOMPARE(notFound.count(), 0);
    QVERIFY(!s.monitor().contains("Receptora Porta 1 não encontrada!"));
    for (const QString &l : s.monitor())
        QVERIFY2(!l.startsWith("Porta 1:"), qPrintable(l));
    QVERIFY(s.core->eventQueue().isEmpty());
    // The port still serves the receiver.
    QVERIFY(pty.write(kFrame5));
    QCOMPARE(acks(pty.readAll(2000)), 1);
}

void TestSerial::otherAnswerClosesThePortAfterASecond() {
    Receptoras s;
    Pty pty;
    QVERIFY(pty.ok());
    QSignalSpy notFound(&s.dm(), &DM1::receiverNotFound);
    mapPort(s.core->dataDir(), 1, pty.slavePath());
    s.receiver(1, DM1::Serial, 1, 0);
    s.dm().Realizar_Atualizacoes();
    QCOMPARE(pty.readAll(2000, 4), QByteArray("SPSP"));
    QVERIFY(pty.write("XZ5"));
    // The answer is a frame like any other: acknowledged and shown, and the time-out runs on.
    QCOMPARE(acks(pty.readAll(1000)), 1);
    QVERIFY(s.monitor().contains("Porta 1:XZ5"));
    QVERIFY(s.dm().comPort(1)->isOpen());
    // A second after the request, TimerSM1 gives the receiver up.
    QTimer *timerSM = s.dm().slot(1).timerSM;
    QVERIFY(timerSM->isActive());
    QCOMPARE(timerSM->interval(), 1000);
    s.dm().TimerSMTimer(1);
    QVERIFY(!s.dm().comPort(1)->isOpen());
    QCOMPARE(s.monitor().last(), QString("Receptora Porta 1 não encontrada!"));
    QCOMPARE(notFound.count(), 1);
    QCOMPARE(notFound.first().first().toInt(), 1);
    QCOMPARE(s.ativo(1), 1);
    // Closed until the configuration is applied again. The port's quiet time is real: the
    // bytes cross a pseudo-terminal, so the test waits it out.
    QVERIFY(pty.write(kFrame5));
    QTest::qWait(SerialReception::kQuietMs + 200);
    QVERIFY(s.core->eventQueue().isEmpty());
}

void TestSerial::framesCloserThanTheQuietTimeAreOne() {
    Receptoras s;
    Pty pty;
    QVERIFY(s.openIdentified(pty));
    // Real pauses shorter than the port's quiet time: the frame crosses a pseudo-terminal.
    QVERIFY(pty.write(kFrame5.left(11)));
    QTest::qWait(150);
    QVERIFY(pty.write(kFrame5.mid(11)));
    QTest::qWait(150);
    QVERIFY(s.dm().slot(1).timerCom->isActive()); // the wait restarted with the second part
    const QByteArray back = pty.readAll(1200, 1 << 20);
    QCOMPARE(acks(back), 1);
    QCOMPARE(s.core->eventQueue().size(), 1);
    QVERIFY2(s.core->eventQueue().head().startsWith(kLine5Prefix), qPrintable(s.core->eventQueue().head()));
    QCOMPARE(s.monitor().last(), QString("Porta 1:") + QString::fromLatin1(kFrame5));
}

void TestSerial::heartbeatIsAcknowledgedButNeverQueued() {
    Bench b;
    QVERIFY(b.open());
    QVERIFY(b.pty.write(kHeartbeat));
    QCOMPARE(b.pty.take(1500), QByteArray(1, kAck));
    QVERIFY(b.sink.frames.isEmpty());
    QVERIFY(b.sink.lines.isEmpty());
    QCOMPARE(b.dm.portMonitor().lines().last(), "Porta 1:" + QString::fromLatin1(kHeartbeat));
}

void TestSerial::receiverFramesAreAcknowledgedOnlyWhole() {
    Bench b;
    QVERIFY(b.open());
    // The beginning of a receiver frame waits for its rest past the quiet time...
    QVERIFY(b.pty.write("12345@"));
    QCOMPARE(b.pty.take(1000), QByteArray());
    QCOMPARE(b.dm.slot(1).rxBuffer, QByteArray("12345@"));
    // ...until five seconds after its first byte, when it is dropped unacknowledged.
    b.clock.advanceMSecs(SerialReception::kLimitMs - 1);
    b.serial.TimerComTimer(1);
    QCOMPARE(b.dm.slot(1).rxBuffer, QByteArray("12345@"));
    b.clock.advanceMSecs(1);
    b.serial.TimerComTimer(1);
    QCOMPARE(b.pty.take(300), QByteArray());
    QVERIFY(b.sink.frames.isEmpty());
    QVERIFY(b.dm.slot(1).rxBuffer.isEmpty());
    QCOMPARE(b.dm.portMonitor().lines().last(), "Porta 1: quadro incompleto descartado: 12345@");

    // A whole frame without its 0x14 is acknowledged once the line is quiet.
    const QByteArray whole = kFrame5.chopped(1);
    QVERIFY(b.pty.write(whole));
    QCOMPARE(b.pty.take(1500), QByteArray(1, kAck));
    QCOMPARE(b.sink.frames, QStringList{QString::fromLatin1(whole)});
    // A whole frame whose line is not queued, because it carries no event or could never be
    // stored, is not.
    for (const auto answer : {ReceptionSink::QueueResult::NoEvent, ReceptionSink::QueueResult::Refused}) {
        b.sink.answer = answer;
        QVERIFY(b.pty.write(kFrame5));
        QCOMPARE(b.pty.take(1000), QByteArray());
        QVERIFY2(b.dm.portMonitor().lines().last().startsWith("Porta 1: sem confirmação: "),
                 qPrintable(b.dm.portMonitor().lines().last()));
    }
    b.sink.answer = ReceptionSink::QueueResult::Queued;
    b.sink.frames.clear();

    // Bytes are characters one for one: a byte above 0x7F takes one position.
    // (Read as UTF-8 these sixteen bytes would put the "@" at position 9.)
    QVERIFY(b.pty.write(QByteArray("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9X@")));
    QCOMPARE(b.pty.take(1500), QByteArray(1, kAck));
    QVERIFY(b.sink.frames.isEmpty()); // "@" at position 16: a heartbeat

    // Eight kilobytes of digits without end: neither acknowledged nor decoded, the part past
    // the buffer's cap included.
    QVERIFY(b.pty.write("5" + QByteArray(2 * SerialReception::kMaxFrame - 1, '7')));
    QCOMPARE(b.pty.take(1500), QByteArray());
    b.settle();
    QCOMPARE(b.pty.peek(0), QByteArray());
    QVERIFY(b.sink.frames.isEmpty());
    QVERIFY(b.dm.slot(1).rxBuffer.isEmpty());
}

// A receiver frame in two parts half a second apart, cut at every position on ten receivers
// side by side, twice: each is acknowledged once and queued whole, or neither. The second
// time each receiver has shown that it ends its frames with 0x14.
void TestSerial::everyCutOfAFrameIsAcknowledgedOnlyWhenWhole() {
    Receptoras s;
    std::array<Pty, DM1::kSlots> ptys;
    for (int k = 1; k <= DM1::kSlots; ++k) {
        QVERIFY(ptys[size_t(k - 1)].ok());
        mapPort(s.core->dataDir(), k, ptys[size_t(k - 1)].slavePath());
        s.receiver(k, DM1::Serial, 1, k - 1);
    }
    s.dm().Realizar_Atualizacoes();
    // Each receiver answers its request within the second it is given.
    for (Pty &p : ptys)
        QVERIFY(p.write("RZ5"));
    for (int k = 1; k <= DM1::kSlots; ++k) {
        QCOMPARE(ptys[size_t(k - 1)].readAll(2000, 4), QByteArray("SPSP"));
        const QString found = QStringLiteral("Receptora Porta %1 Encontrada!").arg(k);
        QVERIFY(waitFor([&] { return s.monitor().contains(found); }));
    }

    for (int round = 0; round < 2; ++round) {
        QStringList expected;
        QList<QByteArray> frames;
        for (int k = 1; k <= DM1::kSlots; ++k) {
            const int zona = 100 * (round + 1) + k;
            frames << "5011 180077E13001" + QByteArray::number(zona) + "\x14";
            expected << s.core->decoder().Decodifica_Eventos(QString::fromLatin1(frames.last()));
        }
        const qsizetype before = s.core->eventQueue().size();
        auto cut = [&](int k) { return round * DM1::kSlots + k; };
        for (int k = 1; k <= DM1::kSlots; ++k)
            QVERIFY(ptys[size_t(k - 1)].write(frames[k - 1].left(cut(k))));
        // Real pauses: the bytes cross pseudo-terminals and the quiet time is a real timer.
        QTest::qWait(500);
        for (int k = 1; k <= DM1::kSlots; ++k)
            QVERIFY(ptys[size_t(k - 1)].write(frames[k - 1].mid(cut(k))));
        QVERIFY(waitFor([&] { return s.core->eventQueue().size() == before + DM1::kSlots; }));
        QTest::qWait(2 * SerialReception::kQuietMs);
        QStringList queued = s.core->eventQueue().lines().mid(before);
        queued.sort();
        expected.sort();
        QCOMPARE(queued, expected);
        for (int k = 1; k <= DM1::kSlots; ++k)
            QVERIFY2(ptys[size_t(k - 1)].readAll(50, 1 << 20) == QByteArray(1, kAck),
                     qPrintable(QString::number(cut(k))));
    }
    QVERIFY(s.monitor().filter("descartado").isEmpty());
}

// A receiver that sends one byte a second: no 0x06 answers any piece, and the dropped
// beginning's rest up to its 0x14 is dropped too.
void TestSerial::aReceiverSendingOneByteASecondIsNeverAcknowledged() {
    Bench b;
    QVERIFY(b.open());
    const QByteArray frame = "5011 180077E13001001\x14";
    QByteArray back;
    for (const char c : frame) {
        QVERIFY(b.pty.write(QByteArray(1, c)));
        // Each byte past the real quiet time; the limit is the test clock's.
        back += b.pty.take(SerialReception::kQuietMs + 150);
        b.clock.advanceSecs(1);
    }
    QCOMPARE(back, QByteArray());
    QVERIFY(b.sink.frames.isEmpty());
    const QString at = "Porta 1: quadro incompleto descartado: ";
    QCOMPARE(b.dm.portMonitor().lines().filter(at),
             QStringList({at + "5011 ", at + "18007", at + "7", at + "E", at + "13001", at + "0",
                          at + "0"}));
    QCOMPARE(b.dm.portMonitor().lines().last(),
             "Porta 1: sem confirmação: quadro incompleto (1 caracteres)");
    // The receiver that sends whole frames again is acknowledged.
    QVERIFY(b.pty.write(frame));
    QCOMPARE(b.pty.take(1500), QByteArray(1, kAck));
    QCOMPARE(b.sink.frames, QStringList{QString::fromLatin1(frame)});
}

void TestSerial::acknowledgementFollowsTheDecoding() {
    Bench b;
    QVERIFY(b.open());
    QByteArray seenWhileDecoding = "none";
    b.sink.onDecode = [&] { seenWhileDecoding = b.pty.peek(100); };
    QVERIFY(b.pty.write(kFrame5));
    QCOMPARE(b.pty.take(1500), QByteArray(1, kAck));
    QCOMPARE(seenWhileDecoding, QByteArray());
    QCOMPARE(b.sink.frames, QStringList{QString::fromLatin1(kFrame5)});
}

void TestSerial::failedDecodingIsNotAcknowledged() {
    Bench b;
    QVERIFY(b.open());
    b.sink.answer = ReceptionSink::QueueResult::Failed;
    QVERIFY(b.pty.write(kFrame5));
    QCOMPARE(b.pty.take(1000), QByteArray());
    QCOMPARE(b.sink.frames.size(), 1);
    QCOMPARE(b.dm.portMonitor().lines().mid(b.dm.portMonitor().lines().size() - 2),
             QStringList({"Porta 1:" + QString::fromLatin1(kFrame5),
                          "Porta 1: sem confirmação: não foi possível gravar a fila de eventos"}));
    QVERIFY(b.dm.slot(1).rxBuffer.isEmpty());
    // A frame with no event is acknowledged.
    b.sink.answer = ReceptionSink::QueueResult::NoEvent;
    QVERIFY(b.pty.write("XYZ"));
    QCOMPARE(b.pty.take(1000), QByteArray(1, kAck));
}

void TestSerial::format5FrameIsInTheQueueFileWhenAcknowledged() {
    Receptoras s;
    Pty pty;
    QVERIFY(s.openIdentified(pty));
    // A heartbeat leaves the queue file with its header alone.
    QVERIFY(pty.write(kHeartbeat));
    QCOMPARE(pty.readAll(1500), QByteArray(1, kAck));
    QVERIFY(s.core->eventQueue().isEmpty());
    QString header;
    {
        QFile f(s.queueFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        header = QString::fromUtf8(f.readAll());
        QVERIFY2(header.startsWith("#TULMO-FILA ") && header.count("\r\n") == 1, qPrintable(header));
    }
    QVERIFY(pty.write(kFrame5));
    const QByteArray back = pty.readAll(1500, 1);
    QCOMPARE(back, QByteArray(1, kAck));
    QFile f(s.queueFile());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(f.readAll());
    QVERIFY2(content.startsWith(header + kLine5Prefix) && content.endsWith("\r\n"),
             qPrintable(content));
    QCOMPARE(s.core->eventQueue().size(), 1);
    QCOMPARE(content, header + s.core->eventQueue().head() + "\r\n");
    QCOMPARE(s.monitor().last(), "Porta 1:" + QString::fromLatin1(kFrame5));
}

void TestSerial::unqueueableFrameIsNotAcknowledgedUntilItCanBeQueued() {
    Receptoras s;
    Pty pty;
    QVERIFY(s.openIdentified(pty));
    // A folder where the queue file was: no line can be appended, even by root.
    QVERIFY(QFile::remove(s.queueFile()));
    QVERIFY(QDir().mkdir(s.queueFile()));
    QVERIFY(pty.write(kFrame5));
    QCOMPARE(acks(pty.readAll(900, 1 << 20)), 0);
    QVERIFY(s.core->eventQueue().isEmpty());
    // The operator sees why the receiver got no 0x06: the frame, the file fault, no confirmation.
    const QStringList shown = s.monitor();
    QVERIFY(shown.contains("Porta 1:" + QString::fromLatin1(kFrame5)));
    QVERIFY(shown.contains("Não foi possível gravar Dados/Eventos_Log.dat: o nome é de uma pasta"));
    QVERIFY(shown.contains("Porta 1: sem confirmação: não foi possível gravar a fila de eventos"));
    // The receiver repeats the frame; once the file can be written it is queued and acknowledged.
    QVERIFY(QDir().rmdir(s.queueFile()));
    QVERIFY(pty.write(kFrame5));
    QCOMPARE(pty.readAll(1500), QByteArray(1, kAck));
    QCOMPARE(s.core->eventQueue().size(), 1);
    QVERIFY(s.core->eventQueue().head().startsWith(kLine5Prefix));
}

// The writer is held between writing the frame's line and flushing it to the disk (the disk
// cannot be slowed on demand): the line is in the file, and still no 0x06 until the flush.
void TestSerial::acknowledgementWaitsForTheFlushOfItsLine() {
    Receptoras s;
    Pty pty;
    QVERIFY(s.openIdentified(pty));
    s.core->eventQueue().holdWrites(true);
    QVERIFY(pty.write(kFrame5));
    QVERIFY(waitFor([&] {
        QFile f(s.queueFile());
        return f.open(QIODevice::ReadOnly) && f.readAll().contains(kLine5Prefix.toUtf8());
    }));
    QCOMPARE(acks(pty.readAll(600, 1 << 20)), 0);
    QCOMPARE(s.core->eventQueue().durableCount(), 0);
    s.core->eventQueue().holdWrites(false);
    QCOMPARE(pty.readAll(1500), QByteArray(1, kAck));
    QCOMPARE(s.core->eventQueue().durableCount(), 1);
}

void TestSerial::callerIdentification() {
    Receptoras s;
    Pty pty;
    QVERIFY(pty.ok());
    exec(s.db(), "insert into CLIENTES (CONTA, NOME, FONE_IDECALL, EVENTO_IDECALL) values "
                 "('1234', 'MARIA DA SILVA', '1133334444', 'E130')");
    // Slot 2 is the second row; the first is a receiver that is switched off.
    mapPort(s.core->dataDir(), 3, pty.slavePath());
    s.receiver(1, DM1::Serial, 0, 0);
    s.receiver(2, DM1::Serial, 1, 2);
    s.dm().Realizar_Atualizacoes();
    QVERIFY(s.identify(2, pty));
    const QByteArray frame = QByteArrayLiteral("E001 1133334444\x14");
    const QStringList &m = s.monitor();

    // While its line cannot be queued the frame is not acknowledged, so the receiver repeats it.
    QVERIFY(QFile::remove(s.queueFile()));
    QVERIFY(QDir().mkdir(s.queueFile()));
    QVERIFY(pty.write(frame));
    QCOMPARE(acks(pty.readAll(900, 1 << 20)), 0);
    QVERIFY(s.core->eventQueue().isEmpty());
    QCOMPARE(m.mid(m.size() - 2),
             QStringList({"1133334444",
                          "Não foi possível gravar Dados/Eventos_Log.dat: o nome é de uma pasta"}));
    QVERIFY(QDir().rmdir(s.queueFile()));

    QVERIFY(pty.write(frame));
    QCOMPARE(pty.readAll(1500), QByteArray(1, kAck));
    QCOMPARE(s.core->eventQueue().size(), 1);
    QCOMPARE(s.core->eventQueue().head(),
             QString("Rc2 Ln1 Ct1234 Pt01 CeE130 Su001 Dt08/03/2026 Tm22:15:00"));
    const auto parsed = eventline::parse(s.core->eventQueue().head());
    QVERIFY(parsed);
    QCOMPARE(parsed->conta, QString("001234"));
    QCOMPARE(parsed->codigo, QString("E130"));
    QCOMPARE(m.mid(m.size() - 3),
             (QStringList{"Porta 2:" + QString::fromLatin1(frame), "1133334444",
                          "Dados/Eventos_Log.dat voltou a ser gravado."}));

    // An unknown number: no line, but the frame is shown and acknowledged.
    const QByteArray unknown = QByteArrayLiteral("E002 1199998888\x14");
    QVERIFY(pty.write(unknown));
    QCOMPARE(pty.readAll(1500), QByteArray(1, kAck));
    QCOMPARE(s.core->eventQueue().size(), 1);
    QCOMPARE(m.mid(m.size() - 2),
             (QStringList{"Porta 2:" + QString::fromLatin1(unknown), "1199998888"}));
    // A frame too short for a number likewise.
    QVERIFY(pty.write("E0"));
    QCOMPARE(pty.readAll(1500), QByteArray(1, kAck));
    QCOMPARE(s.core->eventQueue().size(), 1);
    QVERIFY(m.contains("Porta 2:E0"));
}

void TestSerial::frameEndDeliversTheRepeaterHead() {
    Receptoras s;
    Pty pty;
    QVERIFY(s.core->repeaterQueue().append("1,5011 181234E13001003"));
    QVERIFY(s.core->repeaterQueue().append("2,5011 181234E13001004"));
    QVERIFY(s.openIdentified(pty)); // the identification reply ends a frame too
    QCOMPARE(s.core->repeaterQueue().size(), 1);
    QVERIFY(s.core->repeaterQueue().head().startsWith("2,"));
    // The head is for slot 2: a frame on slot 1 leaves it.
    QVERIFY(pty.write("+"));
    QCOMPARE(pty.readAll(1500), QByteArray(1, kAck));
    QCOMPARE(s.core->repeaterQueue().size(), 1);

    Bench b;
    QVERIFY(b.open());
    QVERIFY(b.pty.write("RZ5"));
    b.settle();
    QVERIFY(b.pty.write("XYZ"));
    b.settle();
    QCOMPARE(b.sink.confirmed, (QList<int>{1, 1}));
}

void TestSerial::portIndexAndSpeed() {
    QCOMPARE(DM1::portName(19), QString("COM20"));
    QCOMPARE(DM1::portName(0), QString("COM1"));
    const QList<qint32> speeds{1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};
    for (int i = 0; i < speeds.size(); ++i)
        QCOMPARE(DM1::speed(i), speeds[i]);

    Receptoras s;
    Pty pty, other;
    QVERIFY(pty.ok() && other.ok());
    mapPort(s.core->dataDir(), 20, pty.slavePath());
    mapPort(s.core->dataDir(), 1, other.slavePath());
    s.receiver(1, DM1::Serial, 1, 19, 5);
    s.dm().Realizar_Atualizacoes();
    QVERIFY(s.dm().comPort(1)->isOpen());
    QCOMPARE(pty.readAll(2000, 4), QByteArray("SPSP"));
    QCOMPARE(other.readAll(300), QByteArray());
    QCOMPARE(s.dm().comPort(1)->baudRate(), 19200);
    exec(s.db(), "update RECEIVER set BAUDS_COM = 3");
    s.dm().Realizar_Atualizacoes();
    QCOMPARE(s.dm().comPort(1)->baudRate(), 9600);
    QCOMPARE(pty.readAll(2000, 4), QByteArray("SPSP"));
}

void TestSerial::unopenablePortMarksReceiverInactiveAndInactiveRowsSetTimes() {
    Receptoras s;
    Pty pty;
    QVERIFY(pty.ok());
    mapPort(s.core->dataDir(), 5, s.dir.path() + "/no-such-tty");
    mapPort(s.core->dataDir(), 2, pty.slavePath());
    s.receiver(1, DM1::Serial, 1, 4);
    s.receiver(2, DM1::Serial, 1, 1);
    // Switched off: nothing opened, but the times are the slot's.
    s.receiver(3, DM1::Serial, 0, 0, 3, 7, 11);
    s.receiver(4, DM1::TcpIp, 0, 1, 3, 13, 17);
    s.dm().Realizar_Atualizacoes();
    QCOMPARE(s.ativo(1), 0);
    QVERIFY(!s.dm().comPort(1)->isOpen());
    // The next row goes on.
    QCOMPARE(s.ativo(2), 1);
    QVERIFY(s.dm().comPort(2)->isOpen());
    QCOMPARE(pty.readAll(2000, 4), QByteArray("SPSP"));
    QCOMPARE(s.dm().slot(3).tempoResposta, 7);
    QCOMPARE(s.dm().slot(3).tempoKeepAlive, 11);
    QCOMPARE(s.dm().slot(4).tempoResposta, 13);
    QCOMPARE(s.dm().slot(4).tempoKeepAlive, 17);
    QVERIFY(!s.dm().comPort(3)->isOpen());
    QVERIFY(!s.dm().comPort(4)->isOpen());
    QVERIFY(!s.dm().slot(4).socketServer->isListening());
    QCOMPARE(s.ativo(3), 0);
    QCOMPARE(s.ativo(4), 0);
}

void TestSerial::emptyTableLeavesPortsAsTheyWere() {
    Receptoras s;
    Pty pty;
    QVERIFY(s.openIdentified(pty));
    exec(s.db(), "delete from RECEIVER");
    s.dm().Realizar_Atualizacoes();
    QVERIFY(s.dm().comPort(1)->isOpen());
    QCOMPARE(pty.readAll(400), QByteArray()); // not reopened: no identification request
    QVERIFY(pty.write(kFrame5));
    QCOMPARE(pty.readAll(1500), QByteArray(1, kAck));
    QCOMPARE(s.core->eventQueue().size(), 1);
}

void TestSerial::floodNeverGrowsTheBufferPastTheCap() {
    Receptoras s;
    Pty pty;
    QVERIFY(s.openIdentified(pty));
    const qsizetype total = 8 * SerialReception::kMaxFrame + 100;
    const QByteArray chunk(256, 'X');
    qsizetype sent = 0, biggest = 0;
    QByteArray back;
    QElapsedTimer t;
    t.start();
    while (sent < total && t.elapsed() < 20000) {
        if (pty.write(chunk)) sent += chunk.size();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        biggest = std::max(biggest, s.dm().slot(1).rxBuffer.size());
    }
    QCOMPARE_GE(sent, total);
    // The line never fell silent, yet frames were ended at the cap and acknowledged.
    back += pty.readAll(1500, 1 << 20);
    QCOMPARE_LE(biggest, SerialReception::kMaxFrame);
    QVERIFY(s.dm().slot(1).rxBuffer.isEmpty());
    int frames = 0;
    qsizetype shown = 0;
    // A long line is shown in part, with the count of what was left out.
    static const QRegularExpression cortada(QStringLiteral(" …\\(\\+(\\d+)\\)$"));
    for (const QString &l : s.monitor()) {
        if (!l.startsWith("Porta 1:")) continue;
        ++frames;
        const QRegularExpressionMatch m = cortada.match(l);
        const qsizetype tamanho =
            m.hasMatch() ? LineLog::kMaxColumns + m.captured(1).toLongLong() - 8 : l.size() - 8;
        QCOMPARE_LE(tamanho, SerialReception::kMaxFrame);
        shown += tamanho;
    }
    QCOMPARE_GE(frames, 8);
    QCOMPARE_GE(shown, sent); // a write cut short by a full line is counted as not sent
    QCOMPARE(acks(back), frames);
    QVERIFY(s.core->eventQueue().isEmpty());
}

void TestSerial::bytesLeftBeforeACloseJoinTheNextFrame() {
    Bench b;
    QVERIFY(b.open());
    QVERIFY(b.pty.write("AB"));
    QTRY_COMPARE_WITH_TIMEOUT(b.dm.slot(1).rxBuffer, QByteArray("AB"), 1000);
    b.dm.slot(1).timerCom->stop();
    b.dm.comPort(1)->close();
    QCOMPARE(b.dm.slot(1).rxBuffer, QByteArray("AB"));
    QVERIFY(b.dm.openSerialPort(1, 0, 3));
    QCOMPARE(b.pty.take(1000), QByteArray("SP"));
    QVERIFY(b.pty.write("CD"));
    QCOMPARE(b.pty.take(1500), QByteArray(1, kAck));
    QCOMPARE(b.sink.frames, QStringList{"ABCD"});
}

// The far end of the line goes away (an adapter pulled; here the terminal's master closed): the
// port does not spin on a dead descriptor but closes, the receiver is missed, and the port is
// opened again every few seconds until a device is there, which is asked who it is.
void TestSerial::aPortWhoseDeviceWentAwayClosesAndOpensAgain() {
    Receptoras s;
    auto pty = std::make_unique<Pty>();
    QVERIFY(s.openIdentified(*pty));
    pty.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!s.dm().comPort(1)->isOpen(), 3000);
    QVERIFY(std::any_of(s.monitor().begin(), s.monitor().end(), [](const QString &l) {
        return l.startsWith("Porta 1: porta serial com defeito (");
    }));
    tickAndSettle(*s.core); // too soon: still closed
    QVERIFY(!s.dm().comPort(1)->isOpen());
    Pty again;
    QVERIFY(again.ok());
    mapPort(s.core->dataDir(), 1, again.slavePath());
    QTRY_VERIFY_WITH_TIMEOUT((s.core->Timer_AtualizarTimer(), s.dm().comPort(1)->isOpen()),
                             DM1::kSerialRetryMs + 2000);
    QVERIFY(s.monitor().contains("Porta 1: porta serial aberta de novo"));
    QCOMPARE(again.readAll(2000, 2), QByteArray("SP"));
    QVERIFY(again.write(kFrame5));
    QCOMPARE(acks(again.readAll(2000)), 1);
}

// A serial receiver beats about every half minute. Three beats missed, it is a pending event
// of the station that sounds until silenced; its next frame restores it, told once. A port
// that closes is lost at once. An inactive receiver is nobody's alarm.
void TestSerial::aSilentOrClosedReceiverIsAPendingAlarmAndItsReturnIsTold() {
    Receptoras s;
    Pty pty;
    QVERIFY(s.openIdentified(pty));
    auto pending = [&] {
        tickAndSettle(*s.core);
        s.core->recorder().recordInternal();
        return column(s.db(), "select DESCRICAO from EVENTOS where TRATADO = 0 order by SEQUENCIA");
    };
    s.core->Timer_AtualizarTimer();
    s.clock.advanceSecs(ReceiverWatch::kSilentSeconds);
    QVERIFY(pending().isEmpty());
    s.sound.calls.clear();
    s.clock.advanceSecs(1);
    QCOMPARE(pending(), QVariantList{"Receptora 1 sem comunicação"});
    QCOMPARE(s.sound.calls, QStringList{"loop:" + s.core->settings().rearmSound()});
    s.clock.advanceSecs(60);
    QCOMPARE(pending().size(), 1); // told once

    // Its heartbeat: acknowledged, and the receiver is back.
    QVERIFY(pty.write(kHeartbeat));
    QCOMPARE(pty.readAll(1500), QByteArray(1, kAck));
    QCOMPARE(pending(), QVariantList({"Receptora 1 sem comunicação",
                                      "Receptora 1 comunicação restabelecida"}));
    QVERIFY(!s.core->receiverWatch().lost(1));

    s.dm().comPort(1)->close();
    QCOMPARE(pending().size(), 3);
    QVERIFY(s.core->receiverWatch().lost(1));
    exec(s.db(), "update RECEIVER set ATIVO = 0 where RECEIVER = 1");
    s.dm().Realizar_Atualizacoes();
    s.clock.advanceSecs(600);
    QCOMPARE(pending().size(), 3);
    QVERIFY(!s.core->receiverWatch().lost(1));
}

QTEST_MAIN(TestSerial)
#include "test_serial.moc"
