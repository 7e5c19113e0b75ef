// Receiver frames over TCP: reassembled across reads, split when several come in one read,
// each queued, recorded and answered on its own, and answered only when whole; DC-09 messages
// gathered by their length. Transcripts on real loopback connections.
#include "support/TestSupport.h"

#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/Dc09Message.h"
#include "core/reception/FrameAssembler.h"
#include "core/settings/LiveSettings.h"
#include "core/store/Database.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
    quint16 port = freePort();

    Central()
        : Station(kStart) {
        mapPort(core->dataDir(), 1, dir.path() + "/sem-porta");
        ReceiverRow::tcp(1, port, 0, 5).insertInto(db());
        core->dm().Realizar_Atualizacoes();
        join(d, "123456");
        ticks(1);
        if (d.recv() != "+") qFatal("identification not answered");
    }
    // Connects device e and identifies it as the registered, active device id; its "+" leaves
    // once everything staged before it is durable (at once on a slot without a delay).
    void join(Device &e, const QByteArray &id, quint16 to = 0) {
        GprsRow(QString::fromLatin1(id)).account("0042").status("A").blocked(0).insertInto(db());
        const int rows = con().rowCount();
        e.s.connectToHost(QHostAddress::LocalHost, to != 0 ? to : port);
        if (e.recv() != "&") qFatal("no identification request");
        e.send("&01" + id + "0042");
        if (!waitFor([&] { return con().rowCount() == rows + 1 && con().row(rows).imei == id; }))
            qFatal("device not identified");
    }
    QString handle(int row = 0) {
        return QString::number(con().row(row).socket->socketDescriptor());
    }
    QStringList dropped() {
        return core->dm().portMonitor().lines().filter(": quadro incompleto descartado: ");
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
            tickAndSettle(*core);
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
    void aBeatGluedToTheNextFrameIsASignOfLifeAndTheFrameAnEvent();
    void framesWithoutEndAreEndedByQuietTime();
    void everyCutOfAFrameIsAnsweredWholeOrNotAtAll();
    void aDeviceSendingOneByteASecondIsNeverAnswered();
    void aMegabyteOfDigitsWithoutEndIsNeitherAnsweredNorRecorded();
    void dc09MessageInTwoHalvesIsAnswered();
    void aFrameWithAnUnreadableClockTakesTheComputers();
    void anAcknowledgementWaitsForItsFlushWhileTheLoopGoesOn();
    void killedWhileFlushingEveryAcknowledgedFrameIsKeptOnceInOrder();
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
             "TCP " + QString::number(s.socket()->socketDescriptor()) +
                 ",1:" + QString::fromLatin1(kFrame3));
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
    // Durable, they leave without a tick: the slot answers at once.
    QCOMPARE(s.d.recv(9), QByteArray("+OK+OK+OK"));
    QCOMPARE(s.con().replies().size(), 0);
}

// A module's "@" and its next frame in one segment: the beat keeps the module alive and the frame
// is recorded and answered. What is not a whole frame after an "@" stays a sign of life.
void TestTcpFraming::aBeatGluedToTheNextFrameIsASignOfLifeAndTheFrameAnEvent() {
    Central s;
    const qsizetype before = s.events().size();
    s.ticks(5);
    s.d.send("@" + kFrame3);
    QVERIFY(waitFor([&] { return s.events().size() == before + 1; }));
    QVERIFY(s.events().last().contains(" Su003"));
    QCOMPARE(s.d.recv(3), QByteArray("+OK"));
    QCOMPARE(s.con().row(0).keepAlive, s.clock.now());
    s.d.send("@@" + kFrame4 + "@" + kFrame5);
    QVERIFY(waitFor([&] { return s.events().size() == before + 3; }));
    QCOMPARE(s.d.recv(6), QByteArray("+OK+OK"));
    s.ticks(1);
    const int recorded = s.eventCount();
    QVERIFY(recorded >= 3);
    s.d.send("@5011 18");
    QVERIFY(waitFor([&] { return s.con().row(0).keepAlive == s.clock.now(); }));
    s.ticks(2);
    QCOMPARE(s.eventCount(), recorded);
    QVERIFY(s.events().isEmpty());
    QCOMPARE(s.held(), 0);
    QVERIFY(s.dropped().isEmpty());
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

    // The beginning of a frame is not whole: the quiet does not end it, the limit drops it
    // unanswered.
    const qsizetype waiting = s.events().size();
    s.d.send(first.left(15));
    waitFor([] { return false; }, 3 * FrameAssembler::kQuietMs);
    QCOMPARE(s.held(), 15);
    s.clock.advanceMSecs(FrameAssembler::kLimitMs - 1);
    s.frames().quietTimeout(s.socket());
    QCOMPARE(s.held(), 15);
    s.clock.advanceMSecs(1);
    s.frames().quietTimeout(s.socket());
    QCOMPARE(s.held(), 0);
    QCOMPARE(s.dropped(), QStringList("TCP " + s.handle() + ",1: quadro incompleto descartado: " +
                                      QString::fromLatin1(first.left(15))));
    QCOMPARE(s.events().size(), waiting);
    s.ticks(1);
    QVERIFY(s.d.silent());

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

// A stalling GPRS link delivers a frame in two parts half a second apart, far more than the
// quiet time: cut at every position, each frame is either answered once and queued whole, or
// neither. The cuts run side by side on their own connections, twice: the second time every
// device has shown that it ends its frames with 0x14.
void TestTcpFraming::everyCutOfAFrameIsAnsweredWholeOrNotAtAll() {
    Central s;
    struct Cut {
        QByteArray frame;
        int at;
    };
    auto frame = [](int zona) {
        return "5011 180077E13001" + QByteArray::number(zona).rightJustified(3, '0') + "\x14";
    };
    QList<QList<Cut>> rounds(2);
    for (int round = 0; round < 2; ++round)
        for (int at = 1; at < kFrame3.size(); ++at)
            rounds[round].append({frame(100 * (round + 1) + at), at});
    // The cuts that were answered and lost, or recorded wrong.
    rounds[0].append({"5011 180077E13001001\x14", 9});
    rounds[0].append({"5011 180078E13001002\x14", 13});
    rounds[0].append({"5011 180079E13001003\x14", 17});
    rounds[1].append({"5011 180077E13001001\x14", 20});
    rounds[1].append({"5011 180078E13001002\x14", 1});
    rounds[1].append({"5011 180079E13001003\x14", 16});

    std::vector<std::unique_ptr<Device>> devices;
    for (qsizetype i = 0; i < rounds[0].size(); ++i) {
        devices.push_back(std::make_unique<Device>());
        s.join(*devices.back(), QByteArray::number(200000 + i));
    }
    s.ticks(1);
    for (auto &d : devices)
        QCOMPARE(d->recv(), QByteArray("+"));

    for (const QList<Cut> &cuts : rounds) {
        const qsizetype before = s.events().size();
        for (qsizetype i = 0; i < cuts.size(); ++i)
            devices[size_t(i)]->send(cuts[i].frame.left(cuts[i].at));
        // Real time: the quiet that ends a frame without 0x14 is a real timer.
        waitFor([] { return false; }, 500);
        for (qsizetype i = 0; i < cuts.size(); ++i)
            devices[size_t(i)]->send(cuts[i].frame.mid(cuts[i].at));
        QVERIFY(waitFor([&] { return s.events().size() == before + cuts.size(); }));
        waitFor([] { return false; }, 2 * FrameAssembler::kQuietMs);
        QStringList expected, queued = s.events().mid(before);
        for (const Cut &c : cuts)
            expected << s.core->decoder().Decodifica_Eventos(QString::fromLatin1(c.frame));
        expected.sort();
        queued.sort();
        QCOMPARE(queued, expected);
        s.ticks(2);
        for (qsizetype i = 0; i < cuts.size(); ++i)
            QVERIFY2(devices[size_t(i)]->recv(3) == "+OK", qPrintable(QString::number(cuts[i].at)));
        QVERIFY(s.dropped().isEmpty());
    }
}

// A device that sends one byte a second: no piece is answered, the beginnings of frames are
// dropped five seconds after their first byte, and the device is answered once it sends
// whole frames again.
void TestTcpFraming::aDeviceSendingOneByteASecondIsNeverAnswered() {
    Central s;
    const QByteArray frame = "5011 180077E13001001\x14";
    const qsizetype before = s.events().size();
    for (const char c : frame) {
        s.d.send(QByteArray(1, c));
        // Each byte is its own read, past the real quiet time; the limit is the test clock's.
        waitFor([] { return false; }, FrameAssembler::kQuietMs + 150);
        s.clock.advanceSecs(1);
    }
    const QString at = "TCP " + s.handle() + ",1: quadro incompleto descartado: ";
    QCOMPARE(s.dropped(), QStringList({at + "5011 ", at + "18007", at + "13001"}));
    QVERIFY(s.core->dm().portMonitor().lines().last().endsWith(
        ",1: sem confirmação: quadro incompleto (1 caracteres)"));
    QCOMPARE(s.held(), 0);
    s.ticks(2);
    QVERIFY(s.d.silent());
    QCOMPARE(s.events().size(), before);

    s.d.send(frame);
    QVERIFY(waitFor([&] { return s.events().size() == before + 1; }));
    QCOMPARE(s.events().last(), s.core->decoder().Decodifica_Eventos(QString::fromLatin1(frame)));
    s.ticks(1);
    QCOMPARE(s.d.recv(), QByteArray("+OK"));
}

void TestTcpFraming::aMegabyteOfDigitsWithoutEndIsNeitherAnsweredNorRecorded() {
    Central s;
    const qsizetype before = s.events().size();
    QByteArray flood(1 << 20, '7');
    flood[0] = '5';
    QSignalSpy lines(&s.core->dm().memo1(), &LineLog::lineAdded);
    s.d.s.write(flood);
    QVERIFY(waitFor([&] { return s.d.s.bytesToWrite() == 0; }, 20000));
    waitFor([&] { return lines.count() > 0 && !lines.wait(500); }, 20000);
    QCOMPARE_LE(s.held(), FrameAssembler::kMaxFrame);
    s.ticks(2);
    QVERIFY(s.d.silent());
    QCOMPARE(s.events().size(), before);
    QCOMPARE(s.con().replies().size(), 0);
    // The connection stays, and its next frame is its own.
    s.d.send(kFrame5);
    QVERIFY(waitFor([&] { return s.events().size() == before + 1; }));
    QVERIFY(s.events().last().contains(" Su005"));
    s.ticks(1);
    QCOMPARE(s.d.recv(), QByteArray("+OK"));
}

// A DC-09 message whose halves come half a second apart, cut in its header on one connection
// and in its body on the other: each is gathered by its length and answered.
void TestTcpFraming::dc09MessageInTwoHalvesIsAnswered() {
    Central s;
    const QByteArray first = Dc09Codec::frame("\"ADM-CID\"0001R1L1#1234[#1234|1130 01 015]");
    const QByteArray second = Dc09Codec::frame("\"ADM-CID\"0002R1L1#1234[#1234|1130 01 016]");
    Device a, b;
    for (Device *d : {&a, &b}) {
        d->s.connectToHost(QHostAddress::LocalHost, s.port);
        QCOMPARE(d->recv(), QByteArray("&"));
    }
    a.send(first.left(5));
    b.send(second.left(30));
    waitFor([] { return false; }, 500);
    a.send(first.mid(5));
    b.send(second.mid(30));
    const QByteArray ackA = a.recv(12), ackB = b.recv(12);
    QVERIFY2(ackA.startsWith('\n') && ackA.contains("\"ACK\"0001"), ackA.constData());
    QVERIFY2(ackB.startsWith('\n') && ackB.contains("\"ACK\"0002"), ackB.constData());
    QVERIFY(s.dropped().isEmpty());
}

// With the receiver's clock as the source of the date, a whole frame whose date cannot be read
// still carries an alarm: it takes the computer's clock, is recorded and answered, and the next
// frame keeps the receiver's own.
void TestTcpFraming::aFrameWithAnUnreadableClockTakesTheComputers() {
    Central s;
    s.core->settings().setEventTimeSource(LiveSettings::EventTimeSource::FromReceiver);
    const QByteArray bad = "5011 180042E13001003"
                           "14:02:11 45/13/26\x14";
    const QByteArray good = "5011 180042E13001004"
                            "14:02:11 05/03/26\x14";
    const QString line = s.core->decoder().Decodifica_Eventos(QString::fromLatin1(bad));
    QVERIFY2(eventline::unstorableReason(line).isEmpty(), qPrintable(line));
    const QDateTime agora = s.clock.now();
    const qsizetype before = s.events().size();
    s.d.send(bad);
    QVERIFY(waitFor([&] { return s.events().size() == before + 1; }));
    QVERIFY2(s.events().last().contains(" Dt" + agora.toString("dd/MM/yy") + " Tm" +
                                        agora.toString("HH:mm:ss")),
             qPrintable(s.events().last()));
    s.ticks(1);
    QCOMPARE(s.d.recv(), QByteArray("+OK"));
    const qsizetype queued = s.events().size(); // the tick may have recorded the first
    s.d.send(good);
    QVERIFY(waitFor([&] { return s.events().size() == queued + 1; }));
    QVERIFY(s.events().last().contains(" Dt05/03/26 Tm14:02:11"));
    s.ticks(1);
    QCOMPARE(s.d.recv(), QByteArray("+OK"));
    QVERIFY(s.d.silent());
}

// The writer is held between writing a frame's line and its fdatasync (the disk cannot be
// slowed on demand). The device is not answered, while the event loop goes on: a new
// connection is greeted and a device on a slot with a delay gets the answer to its line,
// durable before. Once the flush is done the "+OK" leaves on its own, no tick needed.
void TestTcpFraming::anAcknowledgementWaitsForItsFlushWhileTheLoopGoesOn() {
    Central s;
    const quint16 delayed = freePort();
    ReceiverRow::tcp(2, delayed, 1, 5).insertInto(s.db());
    s.core->dm().Realizar_Atualizacoes();
    Device b;
    s.join(b, "654321", delayed);
    s.ticks(1);
    QCOMPARE(b.recv(), QByteArray("+"));
    b.send(kFrame4);
    QVERIFY(waitFor([&] { return s.con().replies().size() == 1; })); // durable: in line for 1 s

    EventQueue &queue = s.core->eventQueue();
    queue.holdWrites(true);
    s.d.send(kFrame3);
    QVERIFY(waitFor([&] {
        QFile f(queue.filePath());
        return f.open(QIODevice::ReadOnly) && f.readAll().contains(" Su003 ");
    }));
    QVERIFY(s.d.silent(300));
    QCOMPARE(queue.durableCount(), queue.size() - 1);
    Device c;
    c.s.connectToHost(QHostAddress::LocalHost, s.port);
    QCOMPARE(c.recv(), QByteArray("&"));
    s.clock.advanceSecs(1);
    s.core->Timer_AtualizarTimer();
    QCOMPARE(b.recv(), QByteArray("+OK"));
    QVERIFY(s.d.silent(200));

    QElapsedTimer t;
    t.start();
    queue.holdWrites(false);
    QCOMPARE(s.d.recv(3, 2000), QByteArray("+OK"));
    QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(queue.durableCount(), queue.size());
}

namespace {

// A plain socket of the test's own, so that the stream does not wait for the event loop.
struct StreamingDevice {
    int fd = -1;
    QByteArray received;
    ~StreamingDevice() {
        if (fd >= 0) ::close(fd);
    }
    bool connectTo(quint16 port) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    // What came within waitMs (poll), false once the peer has closed.
    bool read(int waitMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0) return true;
        char buf[4096];
        const auto n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) received.append(buf, n);
        return n != 0;
    }
    bool waitFor(const QByteArray &what, int ms) {
        QElapsedTimer t;
        t.start();
        while (!received.contains(what) && t.elapsed() < ms)
            if (!read(20)) return received.contains(what);
        return received.contains(what);
    }
    bool send(const QByteArray &b) {
        return ::send(fd, b.constData(), size_t(b.size()), MSG_NOSIGNAL) == b.size();
    }
};

QByteArray streamFrame(const QByteArray &conta, int zona) {
    return "5011 18" + conta + "E13001" + QByteArray::number(zona).rightJustified(3, '0') + "\x14";
}

// The zones of conta's lines in the queue file, in file order (a torn last line left out).
QList<int> zonesInQueueFile(const QString &path, const QByteArray &conta) {
    QFile f(path);
    QList<int> zones;
    if (!f.open(QIODevice::ReadOnly)) return zones;
    const QByteArray all = f.readAll();
    const QList<QByteArray> lines = all.left(all.lastIndexOf('\n') + 1).split('\n');
    for (const QByteArray &l : lines) {
        const qsizetype at = l.indexOf(" Ct" + conta + " ");
        const qsizetype su = l.indexOf(" Su");
        if (at >= 0 && su >= 0) zones << l.mid(su + 3, 3).toInt();
    }
    return zones;
}

} // namespace

// The console in a process of its own receives a tight stream of frames from one device (a
// frame every millisecond, the answers read as they come, then a last handful at once) and is
// killed with SIGKILL at a random moment within two milliseconds of that handful, so while its
// writer stages or flushes their lines (frames sent and not answered yet), and now and then
// while its recorder commits or the queue file is replaced. Started
// again, round after round: every frame it answered has its line in the queue file or in
// EVENTOS, once and in order, and once the rest is recorded EVENTOS holds each exactly once.
void TestTcpFraming::killedWhileFlushingEveryAcknowledgedFrameIsKeptOnceInOrder() {
    const quint32 seed = QRandomGenerator::system()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator rng(seed);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("Dados"));
    const QString queueFile = dir.filePath("Dados/Eventos_Log.dat");
    const quint16 port = freePort();
    constexpr int kRounds = 6;
    constexpr int kMaxFrames = 999;
    QList<int> acked, sent;
    int killedInFlight = 0;
    for (int round = 0; round < kRounds; ++round) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(RECEPTION_CHILD), {dir.path(), QString::number(port)});
        QVERIFY(child.waitForStarted(10000));
        QByteArray out;
        while (!out.contains("listening") && child.state() == QProcess::Running) {
            child.waitForReadyRead(1000);
            out += child.readAllStandardOutput();
        }
        QVERIFY2(out.contains("listening"), out.constData());
        StreamingDevice d;
        QVERIFY(d.connectTo(port));
        QVERIFY(d.waitFor("&", 10000));
        QVERIFY(d.send("&01123456"
                       "0042"));
        QVERIFY(d.waitFor("&+", 10000));
        d.received.clear();

        const QByteArray conta = QByteArray::number(100 + round).rightJustified(4, '0');
        const int killAtMs = int(rng.bounded(30, 1300));
        QElapsedTimer t;
        t.start();
        int n = 0;
        while (t.elapsed() < killAtMs) {
            if (n < kMaxFrames - 20 && d.send(streamFrame(conta, n))) ++n;
            d.read(1);
        }
        // A last handful sent together: the blow lands while their lines are being staged,
        // written or flushed (up to two milliseconds later).
        for (int i = 0; i < 20 && d.send(streamFrame(conta, n)); ++i)
            ++n;
        QElapsedTimer spin;
        spin.start();
        const qint64 waitNs = qint64(rng.bounded(2000000u));
        while (spin.nsecsElapsed() < waitNs) {
        }
        const int answeredBefore = int(d.received.count("+OK"));
        ::kill(pid_t(child.processId()), SIGKILL);
        // What the console wrote before it died is read to the end: those are answers too.
        while (d.read(2000)) {
        }
        QVERIFY(child.waitForFinished(10000));
        const int answered = int(d.received.count("+OK"));
        QVERIFY(answered >= answeredBefore && answered <= n);
        if (answered < n) ++killedInFlight;
        acked << answered;
        sent << n;
        // What the file holds of this round is in order, without a gap or a repeat.
        const QList<int> zones = zonesInQueueFile(queueFile, conta);
        for (qsizetype i = 1; i < zones.size(); ++i)
            QVERIFY2(zones[i] == zones[i - 1] + 1, qPrintable(QString("round %1: zone %2 after %3")
                                                                  .arg(round)
                                                                  .arg(zones[i])
                                                                  .arg(zones[i - 1])));
        if (!zones.isEmpty()) QVERIFY(zones.last() < n);
    }
    QVERIFY2(killedInFlight >= kRounds / 2,
             qPrintable(QString("only %1 kills with frames in flight").arg(killedInFlight)));

    QProcess drain;
    drain.start(QStringLiteral(RECORDING_CHILD), {dir.path()});
    QVERIFY(drain.waitForFinished(120000));
    const QByteArray drained = drain.readAllStandardOutput();
    QVERIFY2(drained.endsWith("done\n"), drained.constData());
    Database database(dir.filePath("Dados/TULMO.FDB"));
    QString error;
    QVERIFY2(database.open(&error), qPrintable(error));
    for (int round = 0; round < kRounds; ++round) {
        const QString conta = QString::number(100 + round).rightJustified(6, '0');
        const QVariantList got = column(
            database.primary(), "select ARGUMENTO from EVENTOS where CONTA = :c order by SEQUENCIA",
            {{":c", conta}});
        QVERIFY2(got.size() >= acked[round] && got.size() <= sent[round],
                 qPrintable(QString("round %1: %2 recorded, %3 answered, %4 sent")
                                .arg(round)
                                .arg(got.size())
                                .arg(acked[round])
                                .arg(sent[round])));
        for (int i = 0; i < got.size(); ++i)
            QCOMPARE(got[i].toString(), QString::number(i).rightJustified(3, '0'));
    }
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
