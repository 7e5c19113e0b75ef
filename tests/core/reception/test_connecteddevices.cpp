// The rows of Grid_Conectados as the operator reads them: who is on line now, what keeps a
// device alive, and when the remote access console would collide with a queued reply.

#include "support/TestSupport.h"

#include "core/reception/ConnectedDevicesModel.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"

#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kInicio(QDate(2026, 3, 9), QTime(10, 0, 0));
const QByteArray kEvento5 = "5011 180042E13001003\x14";

// Slot 1 on TCP, replies after 5 s, three devices connected.
struct Central : Station {
    LoopbackDevice a, b, c;
    ConnectedDevicesModel grade{core->connectionRegistry()};

    Central()
        : Station(kInicio) {
        mapPort(core->dataDir(), 1, dir.path() + "/sem-porta");
        const quint16 port = freePort();
        ReceiverRow::tcp(1, port, 5, 5).insertInto(db());
        core->dm().Realizar_Atualizacoes();
        for (const char *id : {"111111", "222222", "333333"})
            GprsRow(id).account("0042").status("A").date(kInicio).blocked(0).insertInto(db());
        for (LoopbackDevice *d : {&a, &b, &c}) {
            const int antes = con().rowCount();
            if (!d->connectTo(port) || d->recv() != "&") qFatal("device did not connect");
            waitFor([&] { return con().rowCount() == antes + 1; });
        }
    }
    ConnectionRegistry &con() { return core->connectionRegistry(); }
    const ConnectionRegistry::Row &row(int r) { return con().row(r); }
    void identify(LoopbackDevice &d, int r, const QByteArray &id) {
        d.send("&01" + id + "0042");
        QVERIFY(waitFor([&] { return row(r).imei == QString::fromLatin1(id); }));
    }
    QVariant at(int r, int c, int role) { return grade.data(grade.index(r, c), role); }
    QString state(int r) { return at(r, 0, ConnectedDevicesModel::StateTextRole).toString(); }
};

} // namespace

class TestConnectedDevices : public QObject {
    Q_OBJECT
private slots:
    void busyOnlyWhileThisDeviceHasAReplyQueued();
    void everyReadIsASignOfLife();
    void rowsSayWhoIsOnLineAndSortByWhatTheyMean();
};

void TestConnectedDevices::busyOnlyWhileThisDeviceHasAReplyQueued() {
    Central s;
    s.identify(s.a, 0, "111111");
    s.identify(s.b, 1, "222222");
    const ReplyQueue &q = s.con().replies();
    // Both identifications wait 5 s for their "+", queued once what was staged before is durable.
    QVERIFY(waitFor([&] { return q.size() == 2; }));
    auto busy = [&](int r) {
        return q.hasReplyFor(s.row(r).socket.data(), s.row(r).server, s.row(r).imei);
    };
    QVERIFY(busy(0));
    QVERIFY(busy(1));
    // The third device has nothing queued: another device of its slot does not make it busy.
    QVERIFY(!busy(2));
    s.clock.advanceSecs(5);
    tickAndSettle(*s.core);
    QCOMPARE(s.a.recv(), QByteArray("+"));
    QVERIFY(!busy(0));
    QVERIFY(!busy(1));
    // A reply queued for the identifier is the device's, whatever connection it was queued on.
    s.identify(s.c, 2, "333333");
    QVERIFY(waitFor([&] { return busy(2); }));
    QVERIFY(!q.hasReplyFor(nullptr, 1, "111111"));
    QVERIFY(q.hasReplyFor(nullptr, 1, "333333"));
    QVERIFY(!q.hasReplyFor(nullptr, 2, "333333")); // another slot's device of that name
}

void TestConnectedDevices::everyReadIsASignOfLife() {
    Central s;
    s.identify(s.a, 0, "111111");
    // Traffic that is no heartbeat nor event (a programming answer, a channel reading, an
    // unknown frame) keeps the row alive all the same.
    for (const QByteArray &f :
         {QByteArray("UPE"), QByteArray("#$") + QByteArray(14, '\x10'), QByteArray(300, '\x55')}) {
        s.clock.advanceSecs(240);
        const QDateTime agora = s.clock.now();
        s.a.send(f);
        QVERIFY2(waitFor([&] { return s.row(0).keepAlive == agora; }), f.left(3).constData());
    }
    // So the keep-alive of 5 minutes does not drop it after 12 minutes of such traffic, while
    // the silent device goes.
    s.clock.advanceSecs(120);
    s.a.send("DW?");
    QVERIFY(waitFor([&] { return s.row(0).keepAlive == s.clock.now(); }));
    s.clock.advanceSecs(1);
    tickAndSettle(*s.core);
    QCOMPARE(s.con().rowCount(), 1);
    QCOMPARE(s.row(0).imei, QString("111111"));
}

void TestConnectedDevices::rowsSayWhoIsOnLineAndSortByWhatTheyMean() {
    Central s;
    using State = ConnectedDevicesModel::State;
    auto stateOf = [&](int r) {
        return State(s.at(r, 0, ConnectedDevicesModel::StateRole).toInt());
    };
    QCOMPARE(stateOf(0), State::Connected);
    QCOMPARE(s.state(0), QString("conectado"));
    QCOMPARE(s.at(0, 5, Qt::ToolTipRole).toString(), QString("conectado"));
    // The peer goes: the row stays until the keep-alive, and says since when it is gone (within
    // the time the others have to identify themselves).
    s.clock.advanceSecs(45);
    s.b.s.disconnectFromHost();
    QVERIFY(waitFor([&] { return stateOf(1) == State::Disconnected; }));
    QCOMPARE(s.state(1), QString("desconectado desde 09/03/2026 10:00:45"));
    QCOMPARE(s.con().rowCount(), 3);
    tickAndSettle(*s.core);
    QCOMPARE(s.con().connectionCount(), 2);
    QCOMPARE(s.con().rowCount(), 3);
    QCOMPARE(stateOf(0), State::Connected);
    QCOMPARE(stateOf(2), State::Connected);
    // A DC-09 sender over UDP has no connection to lose.
    const int r = s.con().datagramSenderRow(1, "10.0.0.9", "001234", s.clock.now());
    QCOMPARE(stateOf(r), State::Datagram);
    QCOMPARE(s.state(r), QString("UDP (sem conexão)"));

    // Sorting reads values, not texts: times as times, numbers as numbers.
    const QVariant keepAlive =
        s.at(0, ConnectedDevicesModel::ColKeepAlive, ConnectedDevicesModel::SortRole);
    QCOMPARE(keepAlive.metaType(), QMetaType::fromType<QDateTime>());
    QCOMPARE(keepAlive.toDateTime(), kInicio);
    QCOMPARE(s.at(2, ConnectedDevicesModel::ColSocket, ConnectedDevicesModel::SortRole).toInt(), 2);
    QCOMPARE(s.at(0, ConnectedDevicesModel::ColServer, ConnectedDevicesModel::SortRole).metaType(),
             QMetaType::fromType<int>());
    // The columns stay as they are.
    QCOMPARE(s.grade.columnCount(), 10);
    QCOMPARE(s.at(1, ConnectedDevicesModel::ColKeepAlive, Qt::DisplayRole).toString(),
             QString("09/03/2026 10:00:00"));
}

int main(int argc, char **argv) {
    QTemporaryDir locks;
    if (qEnvironmentVariableIsEmpty("FIREBIRD_LOCK"))
        qputenv("FIREBIRD_LOCK", locks.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestConnectedDevices t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_connecteddevices.moc"
