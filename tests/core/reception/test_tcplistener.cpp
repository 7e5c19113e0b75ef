// A receiver's listener keeps accepting devices: the descriptor limit is raised at start,
// and running out of descriptors delays the devices that come meanwhile, never for good.
#include "support/TestSupport.h"

#include "core/events/EventQueue.h"
#include "core/events/EventRepeater.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/TcpListener.h"

#include <QHostInfo>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// The process's descriptor limit as it was, restored when the test ends.
struct LimitGuard {
    rlimit saved{};
    LimitGuard() { ::getrlimit(RLIMIT_NOFILE, &saved); }
    ~LimitGuard() { ::setrlimit(RLIMIT_NOFILE, &saved); }
    static rlim_t soft() {
        rlimit l{};
        ::getrlimit(RLIMIT_NOFILE, &l);
        return l.rlim_cur;
    }
    static bool setSoft(rlim_t n) {
        rlimit l{};
        ::getrlimit(RLIMIT_NOFILE, &l);
        l.rlim_cur = n;
        return ::setrlimit(RLIMIT_NOFILE, &l) == 0;
    }
};

// A limit that leaves exactly `room` descriptor numbers free: a new descriptor takes the
// lowest free number, and none at or above the limit.
rlim_t limitLeaving(int room) {
    for (int fd = 0;; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && --room == 0) return rlim_t(fd + 1);
}

// A device's socket, connected on loopback; the kernel completes the connection whether
// the console has accepted it or not.
int connectDevice(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        qFatal("device could not connect");
    return fd;
}

// Starts the threads that look up the names of the devices' addresses now. A thread starts
// its event loop with a descriptor of its own, and the test's shortage is meant for the
// listener alone.
void startLookupThreads() {
    int pending = 0;
    QObject context;
    for (int i = 2; i < 22; ++i, ++pending)
        QHostInfo::lookupHost(QStringLiteral("127.0.0.%1").arg(i), &context,
                              [&](const QHostInfo &) { --pending; });
    if (!waitFor([&] { return pending == 0; }, 10000)) qFatal("lookups did not end");
}

} // namespace

class TestTcpListener : public QObject {
    Q_OBJECT
private slots:
    void startRaisesTheDescriptorLimit();
    void listenerOutOfDescriptorsAcceptsAgainOnceSomeAreFree();
    void receiverWithoutPortOrWithItsPortInUseIsNotOpened();
    void portClaimedByTwoReceiversIsRefusedByName();
    void ipReceiverEventOutputIsOffUntilConfigured();
};

void TestTcpListener::startRaisesTheDescriptorLimit() {
    LimitGuard guard;
    if (guard.saved.rlim_max != RLIM_INFINITY && guard.saved.rlim_max <= 256)
        QSKIP("the hard limit leaves nothing to raise");
    QVERIFY(LimitGuard::setSoft(256));
    Station s;
    const rlim_t expected = guard.saved.rlim_max == RLIM_INFINITY ? 257 : guard.saved.rlim_max;
    QVERIFY2(LimitGuard::soft() >= expected, qPrintable(QString::number(LimitGuard::soft())));
}

void TestTcpListener::listenerOutOfDescriptorsAcceptsAgainOnceSomeAreFree() {
    LimitGuard guard;
    Station s;
    mapPort(s.core->dataDir(), 1, s.dir.path() + "/sem-porta");
    const quint16 port = freePort();
    ReceiverRow::tcp(1, port, 0, 5).insertInto(s.db());
    s.core->dm().Realizar_Atualizacoes();
    QVERIFY(s.core->dm().slot(1).socketServer->isListening());

    startLookupThreads();
    // Five devices, room for two of them at a time.
    std::vector<int> devices;
    for (int i = 0; i < 5; ++i)
        devices.push_back(connectDevice(port));
    QVERIFY(LimitGuard::setSoft(limitLeaving(2)));

    // Each device closes once it was taken, and with it the console's descriptor.
    int taken = 0;
    auto serve = [&] {
        for (int &fd : devices) {
            char c = 0;
            if (fd >= 0 && ::recv(fd, &c, 1, MSG_DONTWAIT) == 1) {
                if (c != '&') qFatal("unexpected byte from the console");
                ::close(fd);
                fd = -1;
                ++taken;
            }
        }
        return taken;
    };
    QVERIFY(waitFor([&] { return serve() >= 1; }));
    const QStringList &monitor = s.core->dm().portMonitor().lines();
    auto refused = [&] {
        return monitor.filter("Receiver 1: conexão TCP não aceita (recursos do sistema "
                              "esgotados), nova tentativa em 1 s")
            .size();
    };
    QVERIFY(waitFor([&] { return refused() >= 1; }));
    QVERIFY(waitFor([&] { return serve() == 5; }, 15000));
    // Still listening for the next device, and not through one retry per descriptor.
    QVERIFY(s.core->dm().slot(1).socketServer->isListening());
    QVERIFY(refused() <= 15);
    ::setrlimit(RLIMIT_NOFILE, &guard.saved);
    const int late = connectDevice(port);
    char c = 0;
    QVERIFY(waitFor([&] { return ::recv(late, &c, 1, MSG_DONTWAIT) == 1; }, 3000));
    QCOMPARE(c, '&');
    ::close(late);
}

void TestTcpListener::receiverWithoutPortOrWithItsPortInUseIsNotOpened() {
    Station s;
    mapPort(s.core->dataDir(), 1, s.dir.path() + "/sem-porta");
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::Any, 0));
    const quint16 free = freePort();
    ReceiverRow::tcp(1, 0, 5, 5).insertInto(s.db());
    ReceiverRow::tcp(2, other.serverPort(), 5, 5).insertInto(s.db());
    ReceiverRow::tcp(3, free, 5, 5).insertInto(s.db());
    QSignalSpy notFound(&s.core->dm(), &DM1::receiverNotFound);
    s.core->dm().Realizar_Atualizacoes();

    QVERIFY(!s.core->dm().slot(1).socketServer->isListening());
    QVERIFY(!s.core->dm().slot(2).socketServer->isListening());
    QVERIFY(s.core->dm().slot(3).socketServer->isListening());
    QCOMPARE(s.core->dm().slot(3).socketServer->serverPort(), free);
    QCOMPARE(column(s.db(), "select ATIVO from RECEIVER order by RECEIVER"),
             QVariantList({0, 0, 1}));
    QCOMPARE(notFound.size(), 2);
    QCOMPARE(notFound[0].at(0).toInt(), 1);
    QCOMPARE(notFound[1].at(0).toInt(), 2);
    const QStringList &monitor = s.core->dm().portMonitor().lines();
    QVERIFY(monitor.contains("Receiver 1: porta TCP 0 inválida"));
    QVERIFY(monitor.contains(QString("Receiver 2: porta TCP %1 em uso").arg(other.serverPort())));
}

// A serial alarm receiver on COM1, a TCP receiver whose event output is COM1 too, another TCP
// receiver on the first one's TCP port: the alarm receiver keeps its line, the first listener
// its port, and the operator is told which receivers clash, by name, with no row switched off.
void TestTcpListener::portClaimedByTwoReceiversIsRefusedByName() {
    Station s;
    Pty receptora;
    QVERIFY(receptora.ok());
    mapPort(s.core->dataDir(), 1, receptora.slavePath());
    const quint16 port = freePort();
    ReceiverRow::tcp(1, port, 5, 5).name("GPRS Central").insertInto(s.db());
    ReceiverRow(2).name("Receptora Sala").mode(0).active(1).comPort(0).insertInto(s.db());
    ReceiverRow::tcp(3, port, 5, 5).name("GPRS Reserva").comPort(-1).insertInto(s.db());
    QSignalSpy conflicts(&s.core->dm(), &DM1::portConflict);
    const QStringList texts = s.core->dm().Realizar_Atualizacoes();

    const QStringList expected{
        "Os Receivers \"Receptora Sala\" (entrada serial) e \"GPRS Central\" (saída de eventos) "
        "usam a porta COM1: ela fica com \"Receptora Sala\", e \"GPRS Central\" não a abre até "
        "que um dos dois seja alterado em Configurações.",
        QString("Os Receivers \"GPRS Central\" e \"GPRS Reserva\" usam a porta TCP %1: ela fica "
                "com \"GPRS Central\", e \"GPRS Reserva\" não a abre até que um dos dois seja "
                "alterado em Configurações.")
            .arg(port)};
    QCOMPARE(texts, expected);
    DM1 &dm = s.core->dm();
    // The alarm receiver is probed on its line; the TCP receiver listens without an output.
    QCOMPARE(receptora.readAll(2000, 4), QByteArray("SPSP"));
    QVERIFY(dm.comPort(2)->isOpen());
    QVERIFY(!dm.comPort(1)->isOpen());
    QVERIFY(!dm.hasEventOutput(1));
    QVERIFY(dm.slot(1).socketServer->isListening());
    QCOMPARE(dm.slot(1).socketServer->serverPort(), port);
    QVERIFY(!dm.slot(3).socketServer->isListening());
    QCOMPARE(column(s.db(), "select ATIVO from RECEIVER order by RECEIVER"),
             QVariantList({1, 1, 1}));
    for (const QString &t : expected)
        QVERIFY(dm.portMonitor().lines().contains(t));
    QCOMPARE(conflicts.size(), 2);
    QCOMPARE(s.prompt.shown.size(), 2);
    QCOMPARE(s.prompt.shown[0].text, expected[0]);
    QCOMPARE(s.prompt.shown[1].caption, QString("Tulmo"));
    // Applied again: the same answer, and the operator is not told twice.
    QCOMPARE(dm.Realizar_Atualizacoes(), expected);
    QCOMPARE(s.prompt.shown.size(), 2);
    // Mended, the conflict goes; the reserve receiver still clashes with the central one.
    exec(s.db(), "update RECEIVER set PORTA_COM = -1 where RECEIVER = 1");
    QCOMPARE(dm.Realizar_Atualizacoes(), QStringList{expected[1]});
}

// A TCP receiver whose event output is off opens no serial port and repeats nothing; named
// one, it opens it and its devices' frames are repeated there.
void TestTcpListener::ipReceiverEventOutputIsOffUntilConfigured() {
    Station s;
    Pty saida;
    QVERIFY(saida.ok());
    mapPort(s.core->dataDir(), 1, saida.slavePath());
    const quint16 port = freePort();
    ReceiverRow::tcp(1, port, 0, 5).comPort(-1).insertInto(s.db());
    ReceiverRow::tcp(2, freePort(), 0, 5).insertInto(s.db());
    exec(s.db(), "update RECEIVER set PORTA_COM = null where RECEIVER = 2");
    // Lines left from before for a slot that now has no output.
    QVERIFY(s.core->repeaterQueue().append("1,5011 180042E13001003"));
    QVERIFY(s.core->repeaterQueue().append("2,5011 180042E13001004"));
    DM1 &dm = s.core->dm();
    QVERIFY(dm.Realizar_Atualizacoes().isEmpty());
    QVERIFY(!dm.comPort(1)->isOpen() && !dm.comPort(2)->isOpen());
    QVERIFY(!dm.hasEventOutput(1) && !dm.hasEventOutput(2));
    QCOMPARE(saida.readAll(300), QByteArray());
    // They go at the next attempt, together, without one write.
    QSignalSpy sent(&s.core->repeater(), &EventRepeater::sent);
    s.core->repeater().TimerRepetidoraTimer();
    QVERIFY(s.core->repeaterQueue().isEmpty());
    QCOMPARE(sent.size(), 0);

    GprsRow("123456").account("0042").status("A").blocked(0).insertInto(s.db());
    LoopbackDevice d;
    QVERIFY(d.connectTo(port));
    QCOMPARE(d.recv(), QByteArray("&"));
    d.send("&011234560042");
    QCOMPARE(d.recv(), QByteArray("+")); // the slot answers at once
    d.send("5011 180042E13001003");
    QCOMPARE(d.recv(3), QByteArray("+OK"));
    s.clock.advanceSecs(1);
    tickAndSettle(*s.core);
    QVERIFY(s.core->repeaterQueue().isEmpty());

    // The output named (COM1): opened at once, and the next frame is repeated there.
    exec(s.db(), "update RECEIVER set PORTA_COM = 0 where RECEIVER = 1");
    QVERIFY(dm.Realizar_Atualizacoes().isEmpty());
    QVERIFY(dm.hasEventOutput(1));
    QCOMPARE(saida.readAll(1000, 2), QByteArray("SP"));
    d.send("5011 180042E13001005");
    QVERIFY(waitFor([&] { return s.core->repeaterQueue().size() == 1; }));
    s.core->repeater().TimerRepetidoraTimer();
    QCOMPARE(saida.readAll(1000, 20), QByteArray("5011 180042E13001005"));
}

int main(int argc, char **argv) {
    // The embedded engine's lock files of this run are its own, whatever else runs here.
    QTemporaryDir locks;
    if (qEnvironmentVariableIsEmpty("FIREBIRD_LOCK"))
        qputenv("FIREBIRD_LOCK", locks.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestTcpListener t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_tcplistener.moc"
