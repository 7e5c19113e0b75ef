// Device connections on native sockets: framing of reads, writes the kernel does not take at
// once, closes from either side, and many connections served together.

#include "core/reception/SocketMultiplexer.h"
#include "core/reception/TcpConnection.h"
#include "core/reception/TcpListener.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <sys/socket.h>
#include <vector>

using namespace tulmo;
using tulmo::test::waitFor;

namespace {

// A listener whose accepted connections are kept in order of arrival, served through one
// epoll descriptor or, as on systems without it, through notifiers of each connection.
struct Servidor {
    SocketMultiplexer mux;
    TcpListener server;
    std::vector<QPointer<TcpConnection>> connections;
    std::vector<QByteArray> recebido;    // all bytes of each connection
    std::vector<qsizetype> maiorLeitura; // the largest single read of each
    std::vector<int> encerramentos;

    explicit Servidor(bool porEpoll)
        : mux(nullptr, porEpoll) {
        QObject::connect(&server, &TcpListener::connectionReceived, [this](qintptr fd) {
            auto *c = new TcpConnection(fd, mux, &mux);
            const size_t i = connections.size();
            connections.emplace_back(c);
            recebido.emplace_back();
            maiorLeitura.push_back(0);
            encerramentos.push_back(0);
            QObject::connect(c, &TcpConnection::dataReceived, [this, i](const QByteArray &d) {
                recebido[i] += d;
                maiorLeitura[i] = std::max(maiorLeitura[i], d.size());
            });
            QObject::connect(c, &TcpConnection::disconnected, [this, i] { ++encerramentos[i]; });
        });
        server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return server.serverPort(); }
};

std::unique_ptr<QTcpSocket> cliente(quint16 port) {
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QHostAddress::LocalHost, port);
    return s;
}

} // namespace

class TestTcpConnection : public QObject {
    Q_OBJECT
private slots:
    void initTestCase_data() {
        QTest::addColumn<bool>("epoll");
        QTest::newRow("epoll") << true;
        QTest::newRow("notificadores") << false;
    }
    void readsAreBoundedFramesOfTheWholeStream();
    void closesFromEitherSideAreAnnouncedOnce();
    void aPeerThatNeverReadsIsDroppedAtTheLimit();
    void manyConnectionsAreServedTogether();
    void connectionsStillOpenWhenTheMultiplexerGoes();
};

void TestTcpConnection::readsAreBoundedFramesOfTheWholeStream() {
    QFETCH_GLOBAL(bool, epoll);
    Servidor srv(epoll);
    auto c = cliente(srv.port());
    QVERIFY(waitFor([&] { return srv.connections.size() == 1; }));
    QByteArray enviado(300000, Qt::Uninitialized);
    for (char &b : enviado)
        b = char(QRandomGenerator::global()->bounded(256));
    c->write(enviado);
    QVERIFY(waitFor([&] { return srv.recebido[0].size() == enviado.size(); }, 10000));
    QVERIFY(srv.recebido[0] == enviado);
    QVERIFY(srv.maiorLeitura[0] <= TcpConnection::kMaxRead);
    QVERIFY(srv.maiorLeitura[0] > 0);

    // And back: what the console writes arrives whole, in order.
    QByteArray resposta;
    for (int i = 0; i < 2000; ++i)
        resposta += QByteArray::number(i) + ',';
    QVERIFY(srv.connections[0]->write(resposta.left(100)));
    QVERIFY(srv.connections[0]->write(resposta.mid(100)));
    QByteArray lido;
    QVERIFY(waitFor([&] {
        lido += c->readAll();
        return lido.size() >= resposta.size();
    }));
    QCOMPARE(lido, resposta);
    QCOMPARE(srv.connections[0]->pendingBytes(), 0);
    QVERIFY(srv.connections[0]->peerPort() == c->localPort());
    QCOMPARE(srv.connections[0]->peerAddress(), QHostAddress(QHostAddress::LocalHost));
}

void TestTcpConnection::closesFromEitherSideAreAnnouncedOnce() {
    QFETCH_GLOBAL(bool, epoll);
    Servidor srv(epoll);
    auto a = cliente(srv.port());
    auto b = cliente(srv.port());
    QVERIFY(waitFor([&] { return srv.connections.size() == 2; }));

    // The peer closes, after some last bytes: they are read before the close is seen.
    a->write("ultimo");
    a->disconnectFromHost();
    QVERIFY(waitFor([&] { return srv.encerramentos[0] == 1; }));
    QCOMPARE(srv.recebido[0], QByteArray("ultimo"));
    QVERIFY(!srv.connections[0]->connected());
    QCOMPARE(srv.connections[0]->socketDescriptor(), qintptr(-1));
    QVERIFY(!srv.connections[0]->write("x"));

    // The console closes: the peer sees it, the announcement comes once however often.
    QSignalSpy fechou(b.get(), &QTcpSocket::disconnected);
    srv.connections[1]->abort();
    srv.connections[1]->abort();
    QCOMPARE(srv.encerramentos[1], 1);
    QVERIFY(waitFor([&] { return fechou.count() == 1; }));
    QCOMPARE(srv.encerramentos[0], 1);
}

void TestTcpConnection::aPeerThatNeverReadsIsDroppedAtTheLimit() {
    QFETCH_GLOBAL(bool, epoll);
    Servidor srv(epoll);
    auto mudo = cliente(srv.port());
    QVERIFY(mudo->waitForConnected(5000));
    // A small receive window, so the kernel stops taking bytes early.
    int pequeno = 4096;
    ::setsockopt(int(mudo->socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &pequeno, sizeof pequeno);
    auto outro = cliente(srv.port());
    QVERIFY(waitFor([&] { return srv.connections.size() == 2; }));

    const QByteArray bloco(1024, 'r');
    qint64 aceitos = 0;
    bool recusou = false;
    for (int i = 0; i < 100000 && !recusou; ++i) {
        if (srv.connections[0]->write(bloco))
            aceitos += bloco.size();
        else
            recusou = true;
        QVERIFY(srv.connections[0].isNull() ||
                srv.connections[0]->pendingBytes() <= TcpConnection::kMaxPending);
    }
    QVERIFY(recusou);
    QCOMPARE(srv.encerramentos[0], 1);
    QVERIFY(aceitos >= TcpConnection::kMaxPending);
    // The other device is untouched.
    QVERIFY(srv.connections[1]->write("+OK"));
    QVERIFY(waitFor([&] { return outro->bytesAvailable() >= 3; }));
    QCOMPARE(outro->readAll(), QByteArray("+OK"));
    outro->write("@");
    QVERIFY(waitFor([&] { return srv.recebido[1] == "@"; }));
}

void TestTcpConnection::manyConnectionsAreServedTogether() {
    QFETCH_GLOBAL(bool, epoll);
    Servidor srv(epoll);
    constexpr int kN = 400; // more than one batch of readiness, within 1,024 descriptors
    std::vector<std::unique_ptr<QTcpSocket>> clientes;
    for (int i = 0; i < kN; ++i)
        clientes.push_back(cliente(srv.port()));
    // A burst of connections is accepted at once, not over the kernel's retries.
    QVERIFY(waitFor([&] { return srv.connections.size() == size_t(kN); }, 5000));
    QCOMPARE(srv.mux.openCount(), kN);
    for (int i = 0; i < kN; ++i)
        clientes[size_t(i)]->write(QByteArray::number(i));
    QVERIFY(waitFor(
        [&] {
            for (const QByteArray &r : srv.recebido)
                if (r.isEmpty()) return false;
            return true;
        },
        30000));
    // Each connection got exactly its own device's bytes.
    std::vector<bool> visto(kN, false);
    for (int i = 0; i < kN; ++i) {
        const int quem = srv.recebido[size_t(i)].toInt();
        QVERIFY(!visto[size_t(quem)]);
        visto[size_t(quem)] = true;
        QCOMPARE(srv.connections[size_t(i)]->peerPort(), clientes[size_t(quem)]->localPort());
    }
    clientes.clear();
    QVERIFY(waitFor([&] { return srv.mux.openCount() == 0; }, 30000));
    for (int e : srv.encerramentos)
        QCOMPARE(e, 1);
}

void TestTcpConnection::connectionsStillOpenWhenTheMultiplexerGoes() {
    QFETCH_GLOBAL(bool, epoll);
    auto srv = std::make_unique<Servidor>(epoll);
    auto a = cliente(srv->port());
    QVERIFY(waitFor([&] { return srv->connections.size() == 1; }));
    QSignalSpy fechou(a.get(), &QTcpSocket::disconnected);
    srv.reset(); // the connections, children of the multiplexer, go with it
    QVERIFY(waitFor([&] { return fechou.count() == 1; }));
}

QTEST_GUILESS_MAIN(TestTcpConnection)
#include "test_tcpconnection.moc"
