#include "core/console/SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tulmo;

namespace {

// A name of its own per case, so that a console running on this machine is never touched.
QString nomeDeTeste() {
    static int n = 0;
    return QStringLiteral("TulmoTeste-%1-%2").arg(QCoreApplication::applicationPid()).arg(++n);
}

// What a console that crashed leaves behind: the socket file, with nobody listening on it.
bool deixarSocketMorto(const QString &path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    if (size_t(p.size()) >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
    const bool ok =
        ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 && ::listen(fd, 1) == 0;
    ::close(fd);
    return ok;
}

const char *const kFilho = "TULMO_INSTANCIA_FILHO";

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private slots:
    void nameIsTulmo();
    void firstConsoleListens();
    void secondConsoleIsRefusedAndAsksTheFirstToShow();
    void secondProcessIsRefusedAndAsksTheFirstToShow();
    void staleSocketFileDoesNotBlockANewConsole();
    void nameIsFreeAgainWhenTheFirstEnds();
};

void TestSingleInstance::nameIsTulmo() {
    QCOMPARE(SingleInstance::defaultName(), QStringLiteral("Tulmo"));
    SingleInstance guarda;
    QVERIFY(guarda.address().endsWith(QStringLiteral("/Tulmo")) ||
            guarda.address().contains(QStringLiteral("/Tulmo-")));
}

void TestSingleInstance::firstConsoleListens() {
    SingleInstance tryBecomeFirst(nomeDeTeste());
    QVERIFY(!tryBecomeFirst.listening());
    QVERIFY(tryBecomeFirst.tryBecomeFirst());
    QVERIFY(tryBecomeFirst.listening());
    QVERIFY(tryBecomeFirst.tryBecomeFirst()); // asking again changes nothing

    QLocalSocket s;
    s.connectToServer(tryBecomeFirst.address());
    QVERIFY(s.waitForConnected(1000));
}

void TestSingleInstance::secondConsoleIsRefusedAndAsksTheFirstToShow() {
    const QString nome = nomeDeTeste();
    SingleInstance tryBecomeFirst(nome);
    QVERIFY(tryBecomeFirst.tryBecomeFirst());
    QSignalSpy pedidos(&tryBecomeFirst, &SingleInstance::showRequested);

    // The second start finds the first; it asks it to show itself after its own message.
    SingleInstance segunda(nome);
    QVERIFY(!segunda.tryBecomeFirst());
    QVERIFY(!segunda.listening());
    // Local sockets are real: a moment for a request that must not come.
    QTest::qWait(50);
    QCOMPARE(pedidos.count(), 0);
    QVERIFY(segunda.askFirstToShow());
    QTRY_COMPARE_WITH_TIMEOUT(pedidos.count(), 1, 5000);

    SingleInstance terceira(nome);
    QVERIFY(!terceira.tryBecomeFirst());
    QVERIFY(terceira.askFirstToShow());
    QTRY_COMPARE_WITH_TIMEOUT(pedidos.count(), 2, 5000);
    QVERIFY(tryBecomeFirst.listening());

    // A stranger on the socket is not a request.
    QLocalSocket estranho;
    estranho.connectToServer(tryBecomeFirst.address());
    QVERIFY(estranho.waitForConnected(1000));
    estranho.write("OLA\n");
    estranho.waitForBytesWritten(1000);
    estranho.disconnectFromServer();
    QTest::qWait(100); // as above: nothing may arrive from the stranger
    QCOMPARE(pedidos.count(), 2);
}

void TestSingleInstance::secondProcessIsRefusedAndAsksTheFirstToShow() {
    const QString nome = nomeDeTeste();
    SingleInstance tryBecomeFirst(nome);
    QVERIFY(tryBecomeFirst.tryBecomeFirst());
    QSignalSpy pedidos(&tryBecomeFirst, &SingleInstance::showRequested);

    QProcess filho;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kFilho), nome);
    filho.setProcessEnvironment(env);
    filho.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(filho.waitForStarted(10000));
    QTRY_COMPARE_WITH_TIMEOUT(pedidos.count(), 1, 30000);
    // It may have ended already while the request was being waited for.
    QVERIFY(filho.state() == QProcess::NotRunning || filho.waitForFinished(30000));
    QCOMPARE(filho.exitStatus(), QProcess::NormalExit);
    QCOMPARE(filho.exitCode(), 0); // refused, as a second console
}

void TestSingleInstance::staleSocketFileDoesNotBlockANewConsole() {
    const QString nome = nomeDeTeste();
    SingleInstance nova(nome);
    QVERIFY(deixarSocketMorto(nova.address()));
    QVERIFY(QFile::exists(nova.address()));

    QVERIFY(nova.tryBecomeFirst());
    QVERIFY(nova.listening());

    // And it is a working guard.
    QSignalSpy pedidos(&nova, &SingleInstance::showRequested);
    SingleInstance outra(nome);
    QVERIFY(!outra.tryBecomeFirst());
    QVERIFY(outra.askFirstToShow());
    QTRY_COMPARE_WITH_TIMEOUT(pedidos.count(), 1, 5000);
}

void TestSingleInstance::nameIsFreeAgainWhenTheFirstEnds() {
    const QString nome = nomeDeTeste();
    QString address;
    {
        SingleInstance tryBecomeFirst(nome);
        QVERIFY(tryBecomeFirst.tryBecomeFirst());
        address = tryBecomeFirst.address();
    }
    QVERIFY(!QFile::exists(address));
    // With nobody running there is nobody to show.
    SingleInstance sozinha(nome);
    QVERIFY(!sozinha.askFirstToShow());
    QVERIFY(sozinha.tryBecomeFirst());
    QVERIFY(!sozinha.askFirstToShow()); // it is the running one
}

// The child run: a console started while the test's guard holds the name. Exit code 0 when
// it was refused and got its request through, 1 when it found itself first, 2 when the
// request failed.
int main(int argc, char **argv) {
    if (const char *nome = std::getenv(kFilho)) {
        QCoreApplication app(argc, argv);
        SingleInstance guarda(QString::fromLocal8Bit(nome));
        if (guarda.tryBecomeFirst()) return 1;
        return guarda.askFirstToShow() ? 0 : 2;
    }
    QCoreApplication app(argc, argv);
    TestSingleInstance t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "test_singleinstance.moc"
