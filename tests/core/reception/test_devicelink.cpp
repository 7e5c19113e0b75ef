#include "support/TestSupport.h"

#include "core/common/Clock.h"
#include "core/reception/ConnectedDevicesModel.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/reception/ReceiverWatch.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/Dc09Message.h"
#include "core/reception/DeviceLink.h"
#include "core/registry/GprsRepository.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <sys/socket.h>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// Monday 9 March 2026, 10:00:00.
const QDateTime kInicio(QDate(2026, 3, 9), QTime(10, 0, 0));

using Device = LoopbackDevice;

// A console core on a fresh data folder with TCP receivers.
struct Central : Station {
    Central()
        : Station(kInicio) {
        // The event output of the TCP slots goes nowhere.
        mapPort(core->dataDir(), 1, dir.path() + "/sem-porta");
    }
    ConnectionRegistry &con() { return core->connectionRegistry(); }
    // Grid_Conectados as the window shows it.
    ConnectedDevicesModel grade{core->connectionRegistry()};

    // A TCP receiver on slot k (rows are positional: add them in order).
    quint16 receptor(int k, int resposta = 5, int keepAlive = 5, quint16 port = 0) {
        if (!port) port = freePort();
        ReceiverRow::tcp(k, port, resposta, keepAlive).insertInto(db());
        return port;
    }
    void apply() { core->dm().Realizar_Atualizacoes(); }

    void gprs(const QString &imei, const QString &status, int listaNegra) {
        GprsRow(imei)
            .account("0042")
            .status(status)
            .date(kInicio)
            .blocked(listaNegra)
            .equipment("01")
            .password("1234")
            .insertInto(db());
    }

    // Connects a device and takes the identification request.
    bool connectTo(Device &d, quint16 port) {
        if (!d.connectTo(port)) return false;
        return d.recv() == "&";
    }
    // Sends one frame and waits until the console has taken it.
    bool frame(Device &d, const QByteArray &f) {
        QSignalSpy spy(&core->dm().portMonitor(), &LineLog::lineAdded);
        d.send(f);
        return waitFor([&] { return spy.count() >= 1; });
    }
    void tick() { tickAndSettle(*core); }
    void tickAt(const QTime &t) {
        clock.set(QDateTime(kInicio.date(), t));
        tick();
    }
    QString cel(int r, int c) { return grade.data(grade.index(r, c)).toString(); }
};

// An identification frame: marker, device code, identifier, account.
QByteArray ident(const QByteArray &id, const QByteArray &codigo = "01",
                 const QByteArray &conta = "0042") {
    return "&" + codigo + id + conta;
}
// A receiver frame in format 5 for account 0042: burglary, partition 01, zone 003.
const QByteArray kEvento5 = "5011 180042E13001003";

// A sink standing in for event processing, to make queueing fail on demand.
struct FakeSink : ReceptionSink {
    QueueResult resultado = QueueResult::Queued;
    QStringList decodificados, repeaterQueue;
    QueueResult stageEvent(const QString &frame) override {
        decodificados << frame;
        return resultado;
    }
    QueueResult stageLine(const QString &) override { return QueueResult::Queued; }
    void whenDurable(std::function<void(bool)> done) override { done(true); }
    QString decodeFrame(const QString &) const override { return QString(); }
    void acknowledgeRepeater(int) override {}
    bool queueRepeater(int slot, const QString &frame) override {
        repeaterQueue << QString::number(slot) + "," + frame;
        return true;
    }
};

} // namespace

class TestDeviceLink : public QObject {
    Q_OBJECT
private slots:
    void acceptSendsIdentificationRequestAndAppendsARow();
    void registeredDeviceGetsPlusAfterResponseTime();
    void blockedDeviceGetsMinus();
    void replyDelayCountsWholeElapsedTime();
    void unknownDeviceIsRegisteredPendingAndBlocked();
    void zeltaDevicesAreAnsweredAtOnce();
    void twelveCharacterFrameIsNoIdentification();
    void repeatedNumberedPacketYieldsOneEventAndTwoReplies();
    void shortEventIsAcknowledgedAtOnce();
    void unidentifiedConnectionGetsNoReplyAndNoEvent();
    void heartbeatMarkedEventIsRepeatedButNotDecoded();
    void receiverEventIsDecodedAcknowledgedAndRepeated();
    void noAcknowledgementWhenTheEventCouldNotBeQueued();
    void reconnectingDeviceLosesItsOlderRowAndConnection();
    void silentDevicesAreDroppedInTheirTick();
    void repliesLeaveTogetherOnceTheirDelayPassed();
    void deviceOverItsReplyBoundIsDroppedAlone();
    void keepAliveCountsWholeElapsedMinutes();
    void replyWithEmptyIdentifierIsNeverSent();
    void twoTcpSlotsAddressTheirOwnConnections();
    void firstConnectionOfASlotClearsItsStaleRows();
    void applyingTheSamePortKeepsListenerAndConnections();
    void clientErrorClosesThatConnectionOnly();
    void aDeletedReceiversPortPassesToTheNext();
    void floodingClientDoesNotStopOthers();
    void dumpAndUploadRouteTheSlotData();
    void aTcpReceiverWhoseDevicesAllWentSilentIsAPendingAlarm();
};

void TestDeviceLink::acceptSendsIdentificationRequestAndAppendsARow() {
    Central s;
    const quint16 port = s.receptor(1);
    s.apply();
    Device d;
    QVERIFY(s.connectTo(d, port));
    QCOMPARE(s.grade.rowCount(), 1);
    QCOMPARE(s.con().lastPeer(), QString("127.0.0.1"));
    const QStringList titulos{"Keep Alive", "Conta",       "Ultimo Pacote", "Ultimo Evento",
                              "Servidor",   "IMEI",        "IP REMOTO",     "Socket",
                              "Conexão",    "Data Conexão"};
    QCOMPARE(s.grade.columnCount(), 10);
    for (int c = 0; c < 10; ++c)
        QCOMPARE(s.grade.headerData(c, Qt::Horizontal).toString(), titulos[c]);
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColKeepAlive), QString("09/03/2026 10:00:00"));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColConnectedAt), QString("09/03/2026 10:00:00"));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColServer), QString("1"));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColSocket), QString("0"));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColImei), QString());
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColAccount), QString());
    QVERIFY(s.cel(0, ConnectedDevicesModel::ColConnection).toInt() > 0);
    s.clock.advanceSecs(1);
    s.tick();
    QCOMPARE(s.con().connectionCount(), 1);

    Device d2;
    QVERIFY(s.connectTo(d2, port));
    QCOMPARE(s.cel(1, ConnectedDevicesModel::ColSocket), QString("1"));
    s.tick();
    QCOMPARE(s.con().connectionCount(), 2);
}

void TestDeviceLink::registeredDeviceGetsPlusAfterResponseTime() {
    Central s;
    const quint16 port = s.receptor(1, 5);
    s.apply();
    s.gprs("123456", "A", 0);
    Device d;
    QVERIFY(s.connectTo(d, port));
    QVERIFY(s.frame(d, ident("123456")));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColAccount), QString("Receiver Tavel-8 Conta:0042"));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColImei), QString("123456"));
    QCOMPARE(s.core->dm().portMonitor().lines().last(),
             "TCP " + s.cel(0, ConnectedDevicesModel::ColConnection) + ",1:&011234560042");
    QCOMPARE(s.core->dm().memo1().lines().last(), QString("&011234560042"));
    // Queued once everything staged before it is durable, then it waits its 5 s.
    QVERIFY(waitFor([&] { return s.con().replies().size() == 1; }));
    for (int sec = 1; sec <= 4; ++sec) {
        s.tickAt(QTime(10, 0, sec));
        QVERIFY2(d.silent(), qPrintable(QString("sent at second %1").arg(sec)));
    }
    s.tickAt(QTime(10, 0, 5));
    QCOMPARE(d.recv(), QByteArray("+"));
    QCOMPARE(s.con().replies().size(), 0);
}

void TestDeviceLink::blockedDeviceGetsMinus() {
    Central s;
    const quint16 port = s.receptor(1, 0);
    s.apply();
    s.gprs("222222", "A", 1);
    s.gprs("333333", "I", 0);
    Device d, e;
    QVERIFY(s.connectTo(d, port));
    QVERIFY(s.connectTo(e, port));
    QVERIFY(s.frame(d, ident("222222", "06")));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColAccount), QString("Painel Alarme KX4 Conta:0042"));
    // A registered device of another status gets nothing.
    QVERIFY(s.frame(e, ident("333333", "99")));
    QCOMPARE(s.cel(1, ConnectedDevicesModel::ColAccount), QString());
    QCOMPARE(s.cel(1, ConnectedDevicesModel::ColImei), QString("333333"));
    s.tickAt(QTime(10, 0, 1));
    QCOMPARE(d.recv(), QByteArray("-"));
    s.tickAt(QTime(10, 0, 2));
    QVERIFY(e.silent());
}

void TestDeviceLink::replyDelayCountsWholeElapsedTime() {
    Central s;
    const quint16 port = s.receptor(1, 5, 600);
    s.apply();
    s.gprs("123456", "A", 0);
    Device d;
    QVERIFY(s.connectTo(d, port));
    QVERIFY(s.frame(d, ident("123456")));
    // An hour and two seconds later: the minutes and seconds alone would be two seconds.
    s.tickAt(QTime(11, 0, 2));
    QCOMPARE(d.recv(), QByteArray("+"));
}

void TestDeviceLink::unknownDeviceIsRegisteredPendingAndBlocked() {
    Central s;
    const quint16 port = s.receptor(1, 1);
    s.apply();
    Device d;
    QVERIFY(s.connectTo(d, port));
    QVERIFY(s.frame(d, ident("999999", "02", "0077")));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColAccount), QString("Módulo QVN-12 Conta:0077"));
    const QVariantMap p{{":i", "999999"}};
    QCOMPARE(scalar(s.db(), "select STATUS from GPRS where IMEI = :i", p).toString(), "P");
    QCOMPARE(scalar(s.db(), "select LISTA_NEGRA from GPRS where IMEI = :i", p).toInt(), 1);
    QCOMPARE(scalar(s.db(), "select CONTA from GPRS where IMEI = :i", p).toString(), "0077");
    QCOMPARE(scalar(s.db(), "select EQUIPAMENTO from GPRS where IMEI = :i", p).toString(), "02");
    QCOMPARE(scalar(s.db(), "select SENHA_ACESSO from GPRS where IMEI = :i", p).toString(),
             "60418273");
    QCOMPARE(scalar(s.db(), "select DATA from GPRS where IMEI = :i", p).toDateTime(), kInicio);
    QCOMPARE(s.con().replies().size(), 0);
    for (int sec = 1; sec <= 3; ++sec)
        s.tickAt(QTime(10, 0, sec));
    QVERIFY(d.silent());
}

void TestDeviceLink::zeltaDevicesAreAnsweredAtOnce() {
    Central s;
    const quint16 port = s.receptor(1, 5);
    s.apply();
    Device d;
    QVERIFY(s.connectTo(d, port));
    // Unknown: registered and answered "P" at once, the marker part of the identifier.
    QVERIFY(s.frame(d, "!12345ZZZ0042"));
    QCOMPARE(d.recv(), QByteArray("P"));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColAccount), QString("Zelta 20 GPRS"));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColImei), QString("!12345"));
    QCOMPARE(scalar(s.db(), "select STATUS from GPRS where IMEI = '!12345'").toString(), "P");
    // An operator approves it in the registry.
    GprsModule m;
    QCOMPARE(GprsRepository::find(s.db(), "!12345", &m), GprsRepository::Found::Yes);
    m.status = "A";
    m.listaNegra = "0";
    QCOMPARE(GprsRepository::post(s.db(), &s.core->deviceLink().gprsDirectory(), m.imei, m),
             GprsRepository::Post::Saved);
    QVERIFY(s.frame(d, "!12345ZZZ0042"));
    QCOMPARE(d.recv(), QByteArray("+"));
    QCOMPARE(s.con().replies().size(), 0);
    // Repeating the identification on the same connection keeps the row.
    QCOMPARE(s.grade.rowCount(), 1);
}

void TestDeviceLink::twelveCharacterFrameIsNoIdentification() {
    Central s;
    const quint16 port = s.receptor(1, 0);
    s.apply();
    s.gprs("123456", "A", 0);
    Device d;
    QVERIFY(s.connectTo(d, port));
    QVERIFY(s.frame(d, ident("123456").left(12)));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColImei), QString());
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColAccount), QString());
    QCOMPARE(s.con().replies().size(), 0);
    QCOMPARE(scalar(s.db(), "select count(*) from GPRS").toInt(), 1);
}

// Identifies a registered device on a fresh connection and takes its "+".
static void identificado(Central &s, Device &d, quint16 port, const QByteArray &id) {
    s.gprs(QString::fromLatin1(id), "A", 0);
    QVERIFY(s.connectTo(d, port));
    QVERIFY(s.frame(d, ident(id)));
    s.clock.advanceSecs(1);
    s.tick();
    QCOMPARE(d.recv(), QByteArray("+"));
}

// A TCP receiver on slot 1 answering at once, and device 123456 identified on it.
static quint16 dispositivoIdentificado(Central &s, Device &d) {
    const quint16 port = s.receptor(1, 0);
    s.apply();
    identificado(s, d, port, "123456");
    return port;
}

void TestDeviceLink::repeatedNumberedPacketYieldsOneEventAndTwoReplies() {
    Central s;
    Device d;
    dispositivoIdentificado(s, d);
    const QByteArray pacote = "$07004200E13001003"; // 18 characters
    QCOMPARE(pacote.size(), 18);
    const qsizetype antes = s.core->eventQueue().size();
    QVERIFY(s.frame(d, pacote));
    QCOMPARE(s.core->eventQueue().size(), antes + 1);
    const QString row = s.core->eventQueue().lines().last();
    QVERIFY2(row.contains(" Ct0042") && row.contains(" Ce1130") && row.contains(" Su003"),
             qPrintable(row));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColAccount), QString("0042"));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColLastPacket), QString("07"));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColLastEvent),
             ConnectedDevicesModel::formatDate(s.clock.now()));
    QVERIFY(s.frame(d, pacote));
    QCOMPARE(s.core->eventQueue().size(), antes + 1);
    // The slot answers at once: both replies leave, in order, without a tick.
    QCOMPARE(d.recv(8), QByteArray("+07S+07S"));
    QVERIFY(s.con().replies().isEmpty());
}

void TestDeviceLink::shortEventIsAcknowledgedAtOnce() {
    Central s;
    const quint16 port = s.receptor(1, 5);
    s.apply();
    Device d;
    QVERIFY(s.connectTo(d, port));
    const QByteArray curto = "$0042E13001003XY"; // 16 characters
    const qsizetype antes = s.core->eventQueue().size();
    QVERIFY(s.frame(d, curto));
    QCOMPARE(d.recv(), QByteArray("@"));
    QCOMPARE(s.core->eventQueue().size(), antes + 1);
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColLastPacket), QString("$0042E13001003X"));
    QVERIFY(s.frame(d, curto));
    QCOMPARE(d.recv(), QByteArray("@"));
    QCOMPARE(s.core->eventQueue().size(), antes + 1);
}

void TestDeviceLink::unidentifiedConnectionGetsNoReplyAndNoEvent() {
    Central s;
    const quint16 port = s.receptor(1, 0);
    s.apply();
    Device d;
    QVERIFY(s.connectTo(d, port));
    const qsizetype antes = s.core->eventQueue().size();
    QVERIFY(s.frame(d, kEvento5));
    QCOMPARE(s.core->eventQueue().size(), antes);
    QCOMPARE(s.core->repeaterQueue().size(), 0);
    QCOMPARE(s.con().replies().size(), 0);
    s.clock.advanceSecs(1);
    s.tick();
    QVERIFY(d.silent());
}

void TestDeviceLink::heartbeatMarkedEventIsRepeatedButNotDecoded() {
    Central s;
    Device d;
    dispositivoIdentificado(s, d);
    s.clock.advanceSecs(30);
    const QDateTime agora = s.clock.now();
    const QByteArray batida = "1011 18 0042 E1@30"; // "1" at 1, "@" at 16
    QCOMPARE(batida.at(15), '@');
    const qsizetype antes = s.core->eventQueue().size();
    QVERIFY(s.frame(d, batida));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColKeepAlive),
             ConnectedDevicesModel::formatDate(agora));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColLastEvent), QString());
    QCOMPARE(s.core->eventQueue().size(), antes);
    QCOMPARE(s.core->repeaterQueue().lines().last(), "1," + QString::fromLatin1(batida));
    s.clock.advanceSecs(1);
    s.tick();
    QCOMPARE(d.recv(), QByteArray("+OK"));
    // A plain heartbeat refreshes the row and is not answered.
    s.clock.advanceSecs(40);
    QVERIFY(s.frame(d, "@"));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColKeepAlive),
             ConnectedDevicesModel::formatDate(s.clock.now()));
    QCOMPARE(s.con().replies().size(), 0);
}

void TestDeviceLink::receiverEventIsDecodedAcknowledgedAndRepeated() {
    Central s;
    Device d;
    dispositivoIdentificado(s, d);
    const qsizetype antes = s.core->eventQueue().size();
    QVERIFY(s.frame(d, kEvento5));
    QCOMPARE(s.core->eventQueue().size(), antes + 1);
    QCOMPARE(s.core->repeaterQueue().lines().last(), "1," + QString::fromLatin1(kEvento5));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColLastEvent),
             ConnectedDevicesModel::formatDate(s.clock.now()));
    s.clock.advanceSecs(1);
    s.tick();
    QCOMPARE(d.recv(), QByteArray("+OK"));
}

void TestDeviceLink::noAcknowledgementWhenTheEventCouldNotBeQueued() {
    QTemporaryDir dir;
    ManualClock clock(kInicio);
    Store store(dir.path());
    QString error;
    QVERIFY2(store.open(clock, &error, nullptr), qPrintable(error));
    DM1 dm(dir.path(), store.database());
    mapPort(dir.path(), 1, dir.path() + "/sem-porta");
    const quint16 port = freePort();
    ReceiverRow(1)
        .mode(1)
        .active(1)
        .comPort(0, 3)
        .tcpPort(port)
        .replyDelay(0)
        .keepAlive(5)
        .insertInto(store.database().primary());
    GprsRow("123456").account("0042").status("A").blocked(0).insertInto(store.database().primary());
    dm.Realizar_Atualizacoes();
    ConnectionRegistry con(dm, clock);
    FakeSink sink;
    DeviceLink link(dm, store.database(), con, sink, clock);
    QSignalSpy frames(&dm.portMonitor(), &LineLog::lineAdded);
    auto frame = [&](Device &d, const QByteArray &f) {
        const qsizetype n = frames.count();
        d.send(f);
        return waitFor([&] { return frames.count() > n; });
    };

    Device d;
    QVERIFY(d.connectTo(port));
    QCOMPARE(d.recv(), QByteArray("&"));
    QVERIFY(frame(d, ident("123456")));
    con.sendDueReplies(clock.now());
    QCOMPARE(d.recv(), QByteArray("+"));

    sink.resultado = ReceptionSink::QueueResult::Failed;
    QVERIFY(frame(d, kEvento5));
    QVERIFY(frame(d, "$07004200E13001003"));
    QVERIFY(frame(d, "$0042E13001003XY"));
    QCOMPARE(sink.decodificados.size(), 3);
    QCOMPARE(con.replies().size(), 0);
    QVERIFY(sink.repeaterQueue.isEmpty());
    QVERIFY(d.silent());
    // The repeat after the failure is decoded again and now acknowledged.
    sink.resultado = ReceptionSink::QueueResult::Queued;
    QVERIFY(frame(d, "$07004200E13001003"));
    QCOMPARE(sink.decodificados.last(), QString("5011 180042E13001003"));
    QVERIFY(frame(d, "$0042E13001003XY"));
    // The slot answers at once, in the order of the frames.
    QCOMPARE(d.recv(5), QByteArray("+07S@"));
    QVERIFY(frame(d, kEvento5));
    QCOMPARE(sink.decodificados.size(), 6);
    QCOMPARE(d.recv(3), QByteArray("+OK"));
    // A frame whose line is not in the queue, because it carries no event or because the
    // recorder could never store it, gets no acknowledgement either; nor does a frame that is
    // not a whole event, which is not even decoded. A heartbeat still does.
    for (const auto r : {ReceptionSink::QueueResult::NoEvent, ReceptionSink::QueueResult::Refused}) {
        sink.resultado = r;
        QVERIFY(frame(d, kEvento5));
        QVERIFY(frame(d, "$08004200E13001004"));
        QVERIFY(frame(d, "$0042E13001005XY"));
    }
    sink.resultado = ReceptionSink::QueueResult::Queued;
    const qsizetype decoded = sink.decodificados.size();
    QVERIFY(frame(d, "$09004200E1300 004"));
    QVERIFY(frame(d, "$0042E130010 5XY"));
    QVERIFY(frame(d, "5011 180042E130010 3"));
    QCOMPARE(sink.decodificados.size(), decoded);
    QCOMPARE(dm.portMonitor().lines().last(),
             "TCP " + QString::number(con.row(0).socket->socketDescriptor()) +
                 ",1: sem confirmação: caractere inválido na posição 19");
    con.sendDueReplies(clock.now());
    QVERIFY(d.silent());
    QCOMPARE(con.replies().size(), 0);
    QVERIFY(frame(d, "1011           @"));
    con.sendDueReplies(clock.now());
    QCOMPARE(d.recv(), QByteArray("+OK"));
}

void TestDeviceLink::reconnectingDeviceLosesItsOlderRowAndConnection() {
    Central s;
    const quint16 port = s.receptor(1, 0);
    s.apply();
    Device outro, velho, novo;
    identificado(s, outro, port, "111111");
    identificado(s, velho, port, "123456");
    QVERIFY(s.connectTo(novo, port));
    QCOMPARE(s.grade.rowCount(), 3);
    QSignalSpy fechou(&velho.s, &QTcpSocket::disconnected);
    QVERIFY(s.frame(novo, ident("123456")));
    QVERIFY(waitFor([&] { return fechou.count() == 1; }));
    QCOMPARE(s.grade.rowCount(), 2);
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColImei), QString("111111"));
    QCOMPARE(s.cel(1, ConnectedDevicesModel::ColImei), QString("123456"));
    QCOMPARE(s.cel(1, ConnectedDevicesModel::ColSocket), QString("1"));
    // The queued "+" is for the new connection.
    s.clock.advanceSecs(1);
    s.tick();
    QCOMPARE(novo.recv(), QByteArray("+"));
    QCOMPARE(outro.s.state(), QAbstractSocket::ConnectedState);
    QVERIFY(outro.silent());
}

// Every silent device goes in the tick its keep-alive runs out, and takes its own queued
// replies along; the others keep theirs.
void TestDeviceLink::silentDevicesAreDroppedInTheirTick() {
    Central s;
    const quint16 port = s.receptor(1, 0, 5);
    s.apply();
    Device a, b, c;
    identificado(s, a, port, "111111");
    identificado(s, b, port, "222222");
    identificado(s, c, port, "333333");
    // c keeps talking.
    s.tickAt(QTime(10, 4, 30));
    QVERIFY(s.frame(c, "@"));
    s.tickAt(QTime(10, 4, 59));
    QCOMPARE(s.grade.rowCount(), 3);
    // A reply waits for a, another for c (the slot answers only after a minute now).
    s.core->dm().slot(1).tempoResposta = 60;
    ConnectionRegistry &con = s.core->connectionRegistry();
    con.replies().enqueue(QStringLiteral("+"), 0, 1, QString("111111"), con.row(0).socket.data(),
                          s.clock.now());
    con.replies().enqueue(QStringLiteral("+"), 2, 1, QString("333333"), con.row(2).socket.data(),
                          s.clock.now());
    QCOMPARE(con.replies().size(), 2);
    // Seconds 0: the expiry scan rests.
    s.tickAt(QTime(10, 5, 0));
    QCOMPARE(s.grade.rowCount(), 3);
    QSignalSpy fechouA(&a.s, &QTcpSocket::disconnected), fechouB(&b.s, &QTcpSocket::disconnected);
    con.expireSilentConnections(QDateTime(kInicio.date(), QTime(10, 5, 1)));
    QCOMPARE(s.grade.rowCount(), 1);
    QVERIFY(waitFor([&] { return fechouA.count() == 1 && fechouB.count() == 1; }));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColImei), QString("333333"));
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColSocket), QString("0"));
    QCOMPARE(c.s.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(con.replies().size(), 1);
    QCOMPARE(con.replies().at(0).socket.data(), con.row(0).socket.data());
}

// Replies queued at 10:00:00 on a slot answering after 2 s: none leaves before 10:00:02, all
// leave on the first tick at or after it, each device's in the order they were queued.
void TestDeviceLink::repliesLeaveTogetherOnceTheirDelayPassed() {
    Central s;
    const quint16 port = s.receptor(1, 0, 5);
    s.apply();
    Device a, b, c;
    identificado(s, a, port, "111111");
    identificado(s, b, port, "222222");
    identificado(s, c, port, "333333");
    s.core->dm().slot(1).tempoResposta = 2;
    ConnectionRegistry &con = s.core->connectionRegistry();
    const QDateTime dez(kInicio.date(), QTime(10, 0, 0));
    auto fila = [&](int r, const char *text) {
        con.replies().enqueue(text, r, 1, con.row(r).imei, con.row(r).socket.data(), dez);
    };
    fila(0, "+A1");
    fila(1, "+B");
    fila(0, "+A2");
    fila(2, "+C");
    con.sendDueReplies(dez.addSecs(1));
    QCOMPARE(con.replies().size(), 4);
    QVERIFY(a.silent() && b.silent() && c.silent());
    con.sendDueReplies(dez.addSecs(2));
    QCOMPARE(con.replies().size(), 0);
    QCOMPARE(a.recv(6, 2000), QByteArray("+A1+A2"));
    QCOMPARE(b.recv(), QByteArray("+B"));
    QCOMPARE(c.recv(), QByteArray("+C"));
}

// A device talking far faster than it is answered passes its bound of waiting replies: its
// connection closes and its row goes with its replies only; the others keep theirs, in order.
void TestDeviceLink::deviceOverItsReplyBoundIsDroppedAlone() {
    Central s;
    const quint16 port = s.receptor(1, 0, 5);
    s.apply();
    Device a, b, c;
    identificado(s, a, port, "111111");
    identificado(s, b, port, "222222");
    identificado(s, c, port, "333333");
    s.core->dm().slot(1).tempoResposta = 2;
    ConnectionRegistry &con = s.con();
    const QDateTime dez(kInicio.date(), QTime(10, 0, 0));
    auto fila = [&](int r, const char *text) {
        return con.replies().enqueue(text, r, 1, con.row(r).imei, con.row(r).socket.data(), dez);
    };
    QVERIFY(fila(0, "+A1"));
    for (int i = 0; i < ReplyQueue::kMaxPerConnection; ++i)
        QVERIFY(fila(1, "+B"));
    QVERIFY(fila(2, "+C"));
    QVERIFY(fila(0, "+A2"));
    // At its bound the device stays.
    QCoreApplication::processEvents();
    QCOMPARE(s.grade.rowCount(), 3);
    QCOMPARE(con.replies().size(), ReplyQueue::kMaxPerConnection + 3);

    QSignalSpy fechouB(&b.s, &QTcpSocket::disconnected);
    QVERIFY(!fila(1, "+B"));
    QVERIFY(waitFor([&] { return fechouB.count() == 1; }));
    QCOMPARE(s.grade.rowCount(), 2);
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColImei), QString("111111"));
    QCOMPARE(s.cel(1, ConnectedDevicesModel::ColImei), QString("333333"));
    QCOMPARE(s.cel(1, ConnectedDevicesModel::ColSocket), QString("1"));
    QStringList left;
    for (const ReplyQueue::Reply &r : con.replies().replies())
        left << r.text;
    QCOMPARE(left, QStringList({"+A1", "+C", "+A2"}));

    con.sendDueReplies(dez.addSecs(2));
    QCOMPARE(a.recv(6, 2000), QByteArray("+A1+A2"));
    QCOMPARE(c.recv(), QByteArray("+C"));
    QCOMPARE(a.s.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(c.s.state(), QAbstractSocket::ConnectedState);
    // Only what waits counts: replies sent leave the bound free again.
    QCOMPARE(con.replies().countFor(con.row(0).socket.data()), 0);
}

void TestDeviceLink::keepAliveCountsWholeElapsedMinutes() {
    Central s;
    const quint16 port = s.receptor(1, 0, 5);
    s.apply();
    Device a;
    QVERIFY(s.connectTo(a, port));
    // An hour and two minutes of silence: the minutes part alone would be two.
    s.tickAt(QTime(11, 2, 1));
    QCOMPARE(s.grade.rowCount(), 0);
}

void TestDeviceLink::replyWithEmptyIdentifierIsNeverSent() {
    Central s;
    const quint16 port = s.receptor(1, 0);
    s.apply();
    Device d;
    QVERIFY(s.connectTo(d, port));
    QStringList queued;
    connect(&s.con().replies(), &ReplyQueue::replyQueued, [&](int i) {
        queued << s.con().replies().at(i).text + "|" + s.con().replies().at(i).identifier;
    });
    QVERIFY(s.frame(d, "$07004200E13001003"));
    QVERIFY(waitFor([&] { return !queued.isEmpty(); }));
    QCOMPARE(queued, QStringList({"+07S|"}));
    for (int sec = 1; sec <= 3; ++sec)
        s.tickAt(QTime(10, 0, sec));
    QVERIFY(s.con().replies().isEmpty());
    QVERIFY(d.silent());
}

void TestDeviceLink::twoTcpSlotsAddressTheirOwnConnections() {
    Central s;
    const quint16 p1 = s.receptor(1, 0);
    const quint16 p2 = s.receptor(2, 0);
    // Each slot repeats to its own serial port: one port serves one receiver.
    mapPort(s.core->dataDir(), 2, s.dir.path() + "/sem-porta-2");
    exec(s.db(), "update RECEIVER set PORTA_COM = 1 where RECEIVER = 2");
    s.apply();
    Device a1, b1, a2;
    s.gprs("AAAAAA", "A", 0);
    s.gprs("BBBBBB", "A", 1);
    s.gprs("CCCCCC", "A", 0);
    QVERIFY(s.connectTo(a1, p1));
    QVERIFY(s.connectTo(b1, p1));
    QVERIFY(s.connectTo(a2, p2));
    // The first connection of slot 2 leaves the rows of slot 1 alone.
    QCOMPARE(s.grade.rowCount(), 3);
    QCOMPARE(s.cel(2, ConnectedDevicesModel::ColServer), QString("2"));
    QCOMPARE(s.cel(2, ConnectedDevicesModel::ColSocket), QString("0"));
    QVERIFY(s.frame(a2, ident("CCCCCC")));
    QVERIFY(s.frame(b1, ident("BBBBBB")));
    QVERIFY(s.frame(a1, ident("AAAAAA")));
    s.clock.advanceSecs(1);
    s.tick();
    QCOMPARE(a2.recv(), QByteArray("+"));
    s.tick();
    QCOMPARE(b1.recv(), QByteArray("-"));
    s.tick();
    QCOMPARE(a1.recv(), QByteArray("+"));
    QVERIFY(a1.silent(50) && b1.silent(50) && a2.silent(50));
    QVERIFY(s.frame(a2, kEvento5));
    s.clock.advanceSecs(1);
    s.tick();
    QCOMPARE(a2.recv(), QByteArray("+OK"));
    QVERIFY(a1.silent(50) && b1.silent(50));
    QCOMPARE(s.core->repeaterQueue().lines().last(), "2," + QString::fromLatin1(kEvento5));
}

void TestDeviceLink::firstConnectionOfASlotClearsItsStaleRows() {
    Central s;
    const quint16 port = s.receptor(1, 0, 60);
    s.apply();
    Device a, b;
    identificado(s, a, port, "111111");
    identificado(s, b, port, "222222");
    a.s.disconnectFromHost();
    b.s.disconnectFromHost();
    QVERIFY(waitFor([&] { return s.con().connectionCount() == 0; }));
    // A peer's close leaves its row, without a dangling connection.
    QCOMPARE(s.grade.rowCount(), 2);
    QVERIFY(waitFor([&] { return s.con().row(0).socket.isNull(); }));
    s.tickAt(QTime(10, 0, 30));
    QCOMPARE(s.grade.rowCount(), 2);
    Device c;
    QVERIFY(s.connectTo(c, port));
    QCOMPARE(s.grade.rowCount(), 1);
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColImei), QString());
    QCOMPARE(s.cel(0, ConnectedDevicesModel::ColSocket), QString("0"));
}

void TestDeviceLink::applyingTheSamePortKeepsListenerAndConnections() {
    Central s;
    Device d;
    dispositivoIdentificado(s, d);
    QSignalSpy reiniciou(&s.core->dm(), &DM1::listenerStarted);
    s.apply();
    QCOMPARE(reiniciou.count(), 0);
    QVERIFY(s.core->dm().slot(1).socketServer->isListening());
    QVERIFY(s.frame(d, kEvento5));
    s.clock.advanceSecs(1);
    s.tick();
    QCOMPARE(d.recv(), QByteArray("+OK"));
    QCOMPARE(s.grade.rowCount(), 1);
}

void TestDeviceLink::aDeletedReceiversPortPassesToTheNext() {
    Central s;
    const quint16 a = s.receptor(1, 0), b = s.receptor(2, 0), c = s.receptor(3, 0);
    s.apply();
    Device d;
    identificado(s, d, c, "333333");
    QCOMPARE(s.con().row(0).server, 3);

    // Receiver 2 deleted and the third renumbered, as the settings dialog does.
    exec(s.db(), "delete from RECEIVER where RECEIVER = 2");
    exec(s.db(), "update RECEIVER set RECEIVER = 2 where RECEIVER = 3");
    s.apply();
    QCOMPARE(scalar(s.db(), "select ATIVO from RECEIVER where RECEIVER = 2").toInt(), 1);
    QVERIFY(s.core->dm().slot(2).socketServer->isListening());
    QCOMPARE(s.core->dm().slot(2).socketServer->serverPort(), c);
    QVERIFY(!s.core->dm().slot(3).socketServer->isListening());
    QCOMPARE(s.core->dm().slot(1).socketServer->serverPort(), a);
    Q_UNUSED(b)

    // The device of the old listener is still served; a new one lands on slot 2.
    QVERIFY(s.frame(d, kEvento5));
    s.clock.advanceSecs(5);
    s.tick();
    QCOMPARE(d.recv(), QByteArray("+OK"));
    Device e;
    QVERIFY(s.connectTo(e, c));
    QCOMPARE(s.con().rows().last().server, 2);

    // Two active receivers naming one port: the second is refused by name, its row kept.
    exec(s.db(), "update RECEIVER set PORTA_TCP = :p where RECEIVER = 2", {{":p", a}});
    QVERIFY(s.core->dm().Realizar_Atualizacoes().contains(
        QString("Os Receivers \"TCP\" nº 1 e \"TCP\" nº 2 usam a porta TCP %1: ela fica com "
                "\"TCP\" nº 1, e \"TCP\" nº 2 não a abre até que um dos dois seja alterado em "
                "Configurações.")
            .arg(a)));
    QCOMPARE(scalar(s.db(), "select ATIVO from RECEIVER where RECEIVER = 2").toInt(), 1);
    // Refused, it is left as an inactive receiver is: still on its old port.
    QCOMPARE(s.core->dm().slot(2).socketServer->serverPort(), c);
    QCOMPARE(s.core->dm().slot(1).socketServer->serverPort(), a);
}

void TestDeviceLink::clientErrorClosesThatConnectionOnly() {
    Central s;
    const quint16 port = s.receptor(1, 0, 60);
    s.apply();
    Device a, b;
    identificado(s, a, port, "111111");
    identificado(s, b, port, "222222");
    // b resets its connection: the console sees a socket error on it.
    struct linger lg {
        1, 0
    };
    QCOMPARE(::setsockopt(int(b.s.socketDescriptor()), SOL_SOCKET, SO_LINGER, &lg, sizeof lg), 0);
    b.s.abort();
    QVERIFY(waitFor([&] { return s.con().connectionCount() == 1; }));
    QVERIFY(s.core->dm().slot(1).socketServer->isListening());
    QVERIFY(waitFor([&] { return s.con().row(1).socket.isNull(); }));
    QCOMPARE(s.grade.rowCount(), 2);
    QVERIFY(s.frame(a, kEvento5));
    s.clock.advanceSecs(1);
    s.tick();
    QCOMPARE(a.recv(), QByteArray("+OK"));
    Device c;
    QVERIFY(s.connectTo(c, port));
}

void TestDeviceLink::floodingClientDoesNotStopOthers() {
    Central s;
    Device d, g;
    const quint16 port = dispositivoIdentificado(s, d);
    QVERIFY(s.connectTo(g, port));
    const QByteArray lixo(1 << 20, 'x');
    g.s.write(lixo);
    // The device is served while the garbage is still coming in.
    d.send(kEvento5 + "\x14");
    QCOMPARE(d.recv(), QByteArray("+OK"));
    QVERIFY(waitFor([&] { return g.s.bytesToWrite() == 0; }, 20000));
    QSignalSpy frames(&s.core->dm().memo1(), &LineLog::lineAdded);
    // Drain what is left, bounded by what one connection may hold per read.
    waitFor([&] { return frames.count() > 0 && !frames.wait(200); }, 20000);
    for (const QString &l : s.core->dm().memo1().lines())
        QVERIFY(l.size() <= ConnectionRegistry::kMaxFrame);
    QCOMPARE(g.s.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(s.grade.rowCount(), 2);
    d.send(kEvento5 + "\x14");
    QCOMPARE(d.recv(), QByteArray("+OK"));
}

// Module programming answers come from the console's device only: another device of the same
// slot is decoded and answered meanwhile, and the capture lasts until the exchange ends it.
void TestDeviceLink::dumpAndUploadRouteTheSlotData() {
    Central s;
    Device d, outro;
    const quint16 port = dispositivoIdentificado(s, d);
    identificado(s, outro, port, "654321");
    DeviceLink &link = s.core->deviceLink();
    ReceiverSlot &slot = s.core->dm().slot(1);
    QSignalSpy dump(&link, &DeviceLink::dumpReceived);
    slot.dumpPending = 1;
    slot.transferConnection = s.con().row(0).socket;
    const qsizetype antes = s.core->eventQueue().size();
    QVERIFY(s.frame(outro, kEvento5 + "\x14"));
    QCOMPARE(s.core->eventQueue().size(), antes + 1);
    QCOMPARE(outro.recv(3), QByteArray("+OK"));
    QCOMPARE(dump.count(), 0);
    // A DC-09 panel on the same slot still reaches its receiver.
    QSignalSpy dc09(&link, &DeviceLink::dc09Received);
    outro.send(Dc09Codec::frame("\"NULL\"0001R1L1#1234[]"));
    QVERIFY(waitFor([&] { return dc09.count() == 1; }));
    QCOMPARE(dump.count(), 0);
    QVERIFY(s.frame(d, QByteArray("\x01\xAB", 2) + "Z"));
    QVERIFY(s.frame(d, "5011")); // looks like a receiver frame, but it is the block's rest
    QCOMPARE(dump.count(), 2);
    QCOMPARE(dump.at(0).at(2).toString(), QString("01AB5A"));
    QCOMPARE(dump.at(1).at(1).toByteArray(), QByteArray("5011"));
    QCOMPARE(slot.dumpPending, quint8(1));
    QCOMPARE(s.core->eventQueue().size(), antes + 1);
    slot.dumpPending = 0;

    QSignalSpy libera(&link, &DeviceLink::uploadAllowed);
    QSignalSpy concluiu(&link, &DeviceLink::uploadDone);
    slot.uploadPending = 1;
    QVERIFY(s.frame(outro, "UPE"));
    QVERIFY(s.frame(outro, "UPOK"));
    QCOMPARE(libera.count() + concluiu.count(), 0);
    QVERIFY(s.frame(d, kEvento5)); // dropped while the upload runs
    QVERIFY(s.frame(d, "UPE"));
    QCOMPARE(libera.count(), 1);
    QCOMPARE(libera.first().at(1).value<TcpConnection *>(), s.con().row(0).socket.data());
    QVERIFY(s.frame(d, "UPOK"));
    QCOMPARE(concluiu.count(), 1);
    QCOMPARE(slot.uploadPending, quint8(0));
    QCOMPARE(s.core->eventQueue().size(), antes + 1);
    QVERIFY(s.con().replies().isEmpty());
    QVERIFY(d.silent());
}

// A TCP receiver without a device yet is no alarm; once the devices it had are all gone (here
// dropped on their keep-alive of a minute) for a minute and a half, it is, and a device that
// comes back restores it.
void TestDeviceLink::aTcpReceiverWhoseDevicesAllWentSilentIsAPendingAlarm() {
    Central s;
    const quint16 port = s.receptor(1, 0, 1);
    s.apply();
    auto pending = [&] {
        s.core->recorder().recordInternal();
        return column(s.db(), "select DESCRICAO from EVENTOS where TRATADO = 0 order by SEQUENCIA");
    };
    s.tickAt(QTime(10, 5, 0));
    QVERIFY(pending().isEmpty());
    Device a;
    identificado(s, a, port, "111111");
    // Ticks every ten seconds until its keep-alive drops it.
    QTime seen(10, 5, 0);
    for (QTime t(10, 5, 10); t <= QTime(10, 7, 0); t = t.addSecs(10)) {
        s.tickAt(t);
        if (s.grade.rowCount() > 0) seen = t;
    }
    QCOMPARE(s.grade.rowCount(), 0);
    QVERIFY(seen >= QTime(10, 6, 0));
    s.tickAt(seen.addSecs(ReceiverWatch::kSilentSeconds));
    QVERIFY(pending().isEmpty());
    s.tickAt(seen.addSecs(ReceiverWatch::kSilentSeconds + 1));
    QCOMPARE(pending(), QVariantList{"Receptora 1 sem comunicação"});
    Device b;
    identificado(s, b, port, "222222");
    s.tick();
    QCOMPARE(pending(), QVariantList({"Receptora 1 sem comunicação",
                                      "Receptora 1 comunicação restabelecida"}));
}

int main(int argc, char **argv) {
    // The embedded engine's lock files of this run are its own, whatever else runs here.
    QTemporaryDir locks;
    if (qEnvironmentVariableIsEmpty("FIREBIRD_LOCK"))
        qputenv("FIREBIRD_LOCK", locks.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestDeviceLink t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_devicelink.moc"
