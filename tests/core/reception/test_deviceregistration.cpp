// Which devices join the GPRS table, and how fast: only identifiers a module sends, a bounded
// number of unknown ones per address and in all, known modules always answered, and
// connections that never say who they are closed after a while.
#include "support/TestSupport.h"

#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/DeviceLink.h"
#include "core/reception/DeviceRegistration.h"
#include "core/registry/GprsDirectory.h"
#include "core/registry/GprsRepository.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// Monday 9 March 2026, 10:00:00.
const QDateTime kStart(QDate(2026, 3, 9), QTime(10, 0, 0));

// A console with one TCP receiver answering at once.
struct Station1 : Station {
    quint16 port = freePort();
    Station1()
        : Station(kStart) {
        mapPort(core->dataDir(), 1, dir.path() + "/sem-porta");
        ReceiverRow::tcp(1, port, 0, 5).insertInto(db());
        core->dm().Realizar_Atualizacoes();
    }
    ConnectionRegistry &con() { return core->connectionRegistry(); }
    const QStringList &monitor() { return core->dm().portMonitor().lines(); }
    // A device from the loopback address source, past the console's "&".
    bool connect(LoopbackDevice &d, const char *source = "127.0.0.1") {
        if (!d.s.bind(QHostAddress(QString::fromLatin1(source)), 0)) return false;
        return d.connectTo(port) && d.recv() == "&";
    }
    // Sends one frame and waits until the console has taken it (its "TCP" line).
    bool frame(LoopbackDevice &d, const QByteArray &f) {
        QSignalSpy spy(&core->dm().portMonitor(), &LineLog::lineAdded);
        d.send(f);
        return waitFor([&] { return spy.count() >= 1; });
    }
    // The device identifies as id and takes what the console answers at the next tick.
    QByteArray answer(LoopbackDevice &d, const QByteArray &id) {
        if (!frame(d, "&02" + id + "0042")) return "sem quadro";
        clock.advanceSecs(1);
        tick();
        return d.recv(1, 300);
    }
    QString status(const QString &id) {
        return scalar(db(), "select STATUS from GPRS where IMEI = :i", {{":i", id}}).toString();
    }
    int pending() { return scalar(db(), "select count(*) from GPRS where STATUS = 'P'").toInt(); }
    int gprs() { return scalar(db(), "select count(*) from GPRS").toInt(); }
    void tick() { tickAndSettle(*core); }
};

QByteArray ident(const QByteArray &id, const QByteArray &codigo = "02") {
    return "&" + codigo + id + "0042";
}

QString held(const QString &id) {
    return QStringLiteral("Receiver 1: módulo \"%1\" não registrado: ").arg(id);
}

} // namespace

class TestDeviceRegistration : public QObject {
    Q_OBJECT
private slots:
    void binaryIdentifiersAreNotRegistered();
    void unknownIdentifiersAreCappedPerAddressAndInAll();
    void knownModulesAreAnsweredWhileTheCapIsFull();
    void connectionsThatNeverIdentifyAreClosed();
    void identificationIsAnsweredFromTheDirectory();
};

void TestDeviceRegistration::binaryIdentifiersAreNotRegistered() {
    Station1 s;
    LoopbackDevice d;
    QVERIFY(s.connect(d));
    QVERIFY(s.frame(d, "&01\x01\x02\xff\x80"
                       "ab0042"));
    QCOMPARE(s.monitor().last(),
             QString("Receiver 1: identificação recusada: caracteres que não são texto em "
                     "\"&01\\x01\\x02\\xff\\x80ab0042\""));
    QCOMPARE(s.con().row(0).imei, QString());
    // A blank identifier names no module either.
    QVERIFY(s.frame(d, "&01      0042"));
    QCOMPARE(s.monitor().last(),
             QString("Receiver 1: identificação recusada: identificador em branco"));

    // Random identifications, as a scanner or a misdirected sender makes them.
    QRandomGenerator random(21);
    const int n = 300;
    for (int i = 0; i < n; ++i) {
        QByteArray f(12, '\0');
        for (char &c : f)
            c = char(random.bounded(256));
        QVERIFY(s.frame(d, "&" + f));
    }
    QCOMPARE(s.monitor().filter("Receiver 1: identificação recusada").size(), n + 2);
    QCOMPARE(s.gprs(), 0);
    QCOMPARE(s.con().row(0).imei, QString());
    QVERIFY(d.silent());

    // The same connection then identifies as a module does, and is registered.
    QVERIFY(s.frame(d, ident("ABC-12")));
    QCOMPARE(s.con().row(0).imei, QString("ABC-12"));
    QCOMPARE(scalar(s.db(), "select STATUS from GPRS where IMEI = 'ABC-12'").toString(), "P");
}

void TestDeviceRegistration::unknownIdentifiersAreCappedPerAddressAndInAll() {
    Station1 s;
    LoopbackDevice a, b;
    QVERIFY(s.connect(a, "127.0.0.1"));
    QVERIFY(s.connect(b, "127.0.0.2"));
    for (int i = 0; i < DeviceRegistration::kPerAddress; ++i)
        QVERIFY(s.frame(a, ident(QByteArray::number(100000 + i))));
    QCOMPARE(s.pending(), 10);
    QVERIFY(!s.monitor().filter("não registrado").size());
    QVERIFY(s.frame(a, ident("100010")));
    QCOMPARE(s.monitor().last(),
             held("100010") + "127.0.0.1 já registrou 10 módulos novos na última hora");
    QCOMPARE(s.pending(), 10);
    // Another address registers meanwhile: one busy sender holds back only itself.
    QVERIFY(s.frame(b, ident("200000")));
    QCOMPARE(s.pending(), 11);
    // An hour after its first registrations, the address registers again.
    s.clock.set(kStart.addSecs(3599));
    QVERIFY(s.frame(a, ident("100011")));
    QCOMPARE(s.pending(), 11);
    s.clock.set(kStart.addSecs(3600));
    QVERIFY(s.frame(a, ident("100012")));
    QCOMPARE(s.pending(), 12);

    // Pending rows in all, whatever their address: 200, then none more.
    for (int i = s.pending(); i < DeviceRegistration::kMaxPending; ++i)
        GprsRow(QString::number(300000 + i)).status("P").blocked(1).insertInto(s.db());
    QVERIFY(s.frame(b, ident("200001")));
    QCOMPARE(s.monitor().last(),
             held("200001") + "o Cadastro de GPRS já tem 200 módulos pendentes");
    QCOMPARE(s.pending(), 200);
    // An operator approves one: room again.
    exec(s.db(), "update GPRS set STATUS = 'A' where IMEI = '300199'");
    QVERIFY(s.frame(b, ident("200001")));
    QCOMPARE(scalar(s.db(), "select STATUS from GPRS where IMEI = '200001'").toString(), "P");
    QCOMPARE(s.pending(), 200);
}

void TestDeviceRegistration::knownModulesAreAnsweredWhileTheCapIsFull() {
    Station1 s;
    for (int i = 0; i < DeviceRegistration::kMaxPending; ++i)
        GprsRow(QString::number(300000 + i)).status("P").blocked(1).insertInto(s.db());
    GprsRow("123456").account("0042").status("A").blocked(0).insertInto(s.db());
    GprsRow("654321").account("0042").status("A").blocked(1).insertInto(s.db());
    LoopbackDevice fake, module, blocked, waiting;
    QVERIFY(s.connect(fake));
    for (int i = 0; i < DeviceRegistration::kPerAddress + 2; ++i)
        QVERIFY(s.frame(fake, ident(QByteArray::number(500000 + i))));
    QCOMPARE(s.monitor().filter("não registrado").size(), DeviceRegistration::kPerAddress + 2);

    // From the same address as the fakes: known modules are looked up and answered as ever.
    QVERIFY(s.connect(module));
    QVERIFY(s.connect(blocked));
    QVERIFY(s.connect(waiting));
    QVERIFY(s.frame(module, ident("123456")));
    QVERIFY(s.frame(blocked, ident("654321")));
    // A pending module asks again: no new row, no refusal, no answer, as before the caps.
    const int refusals = s.monitor().filter("não registrado").size();
    QVERIFY(s.frame(waiting, ident("300007")));
    QCOMPARE(s.monitor().filter("não registrado").size(), refusals);
    s.clock.advanceSecs(1);
    s.tick();
    QCOMPARE(module.recv(), QByteArray("+"));
    QCOMPARE(blocked.recv(), QByteArray("-"));
    QVERIFY(waiting.silent());
    QVERIFY(fake.silent());
    QCOMPARE(s.gprs(), DeviceRegistration::kMaxPending + 2);
}

void TestDeviceRegistration::connectionsThatNeverIdentifyAreClosed() {
    Station1 s;
    GprsRow("123456").account("0042").status("A").blocked(0).insertInto(s.db());
    LoopbackDevice silent, garbage, module;
    QVERIFY(s.connect(silent));
    QVERIFY(s.connect(garbage));
    QVERIFY(s.connect(module));
    QVERIFY(s.frame(garbage, "&\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c"));
    QVERIFY(s.frame(garbage, "@")); // a heartbeat of nobody
    QVERIFY(s.frame(module, ident("123456")));
    QSignalSpy closedSilent(&silent.s, &QTcpSocket::disconnected);
    QSignalSpy closedGarbage(&garbage.s, &QTcpSocket::disconnected);
    QSignalSpy closedModule(&module.s, &QTcpSocket::disconnected);

    s.clock.set(kStart.addSecs(ConnectionRegistry::kIdentifyTimeoutSecs - 1));
    s.tick();
    QCOMPARE(s.con().rowCount(), 3);
    QCOMPARE(module.recv(), QByteArray("+"));
    // 10:01:00: the keep-alive scan rests at second 0, the time to identify does not.
    s.clock.set(kStart.addSecs(ConnectionRegistry::kIdentifyTimeoutSecs));
    s.tick();
    QCOMPARE(s.con().rowCount(), 1);
    QCOMPARE(s.con().row(0).imei, QString("123456"));
    QVERIFY(waitFor([&] { return closedSilent.count() == 1 && closedGarbage.count() == 1; }));
    QVERIFY(s.monitor().contains("2 conexões TCP fechadas por não se identificarem em 60 s"));
    QVERIFY(module.silent());
    QCOMPARE(closedModule.count(), 0);
    s.tick();
    QCOMPARE(s.con().connectionCount(), 1);
}

void TestDeviceRegistration::identificationIsAnsweredFromTheDirectory() {
    Station1 s;
    GprsDirectory &directory = s.core->deviceLink().gprsDirectory();
    GprsRow("123456").account("0042").status("A").blocked(0).insertInto(s.db());
    GprsRow("654321").account("0042").status("A").blocked(0).insertInto(s.db());
    LoopbackDevice a, b;
    QVERIFY(s.connect(a));
    QVERIFY(s.connect(b));
    QCOMPARE(s.answer(a, "123456"), QByteArray("+"));
    QCOMPARE(s.answer(b, "654321"), QByteArray("+"));
    QCOMPARE(directory.size(), 2);

    // Changed behind the console's back: identification reads no row, so it is not seen...
    exec(s.db(), "update GPRS set LISTA_NEGRA = 1 where IMEI = '123456'");
    exec(s.db(), "delete from GPRS where IMEI = '654321'");
    QCOMPARE(s.answer(a, "123456"), QByteArray("+"));
    QCOMPARE(s.answer(b, "654321"), QByteArray("+"));
    QCOMPARE(s.gprs(), 1);
    // ... until the directory reads the table again, as another workstation's notice makes it.
    QVERIFY(directory.reload());
    QCOMPARE(s.answer(a, "123456"), QByteArray("-"));
    QCOMPARE(s.answer(b, "654321"), QByteArray()); // unknown: registered, pending
    QCOMPARE(s.status("654321"), QString("P"));

    // The registration is held: approved behind its back, the module still waits...
    exec(s.db(), "update GPRS set STATUS = 'A', LISTA_NEGRA = 0 where IMEI = '654321'");
    QCOMPARE(s.answer(b, "654321"), QByteArray());
    // ... until that one row is read again.
    QCOMPARE(directory.refresh("654321"), GprsDirectory::Found::Yes);
    QCOMPARE(s.answer(b, "654321"), QByteArray("+"));

    // The registry's writes hold from the next identification.
    GprsModule m;
    QCOMPARE(GprsRepository::find(s.db(), "123456", &m), GprsRepository::Found::Yes);
    m.listaNegra = "0";
    QCOMPARE(GprsRepository::post(s.db(), &directory, m.imei, m), GprsRepository::Post::Saved);
    QCOMPARE(s.answer(a, "123456"), QByteArray("+"));
    m.listaNegra = "1";
    QCOMPARE(GprsRepository::post(s.db(), &directory, m.imei, m), GprsRepository::Post::Saved);
    QCOMPARE(s.answer(a, "123456"), QByteArray("-"));
    // Renamed: the new identifier is blocked, the old one unknown; deleted, unknown too.
    m.imei = "123457";
    QCOMPARE(GprsRepository::post(s.db(), &directory, "123456", m), GprsRepository::Post::Saved);
    QCOMPARE(s.answer(a, "123457"), QByteArray("-"));
    QCOMPARE(s.answer(b, "123456"), QByteArray());
    QCOMPARE(s.status("123456"), QString("P"));
    QVERIFY(GprsRepository::remove(s.db(), &directory, "123457"));
    QCOMPARE(s.answer(a, "123457"), QByteArray());
    QCOMPARE(s.status("123457"), QString("P"));
}

int main(int argc, char **argv) {
    // The embedded engine's lock files of this run are its own, whatever else runs here.
    QTemporaryDir locks;
    if (qEnvironmentVariableIsEmpty("FIREBIRD_LOCK"))
        qputenv("FIREBIRD_LOCK", locks.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestDeviceRegistration t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_deviceregistration.moc"
