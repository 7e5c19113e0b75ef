// The console executable itself: it comes up with its window, a second start leaves, and the
// end of the session ends it cleanly although its window refuses to close. Messages go to the
// standard error (TULMO_MENSAGENS_STDERR=1) instead of modal boxes nobody would close.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The console is built beside the tests; each test runs a copy in a program folder of its own,
// so that its Dados folder is there.
QString copiaDoConsole(const QTemporaryDir &dir) {
    const QString origem = QCoreApplication::applicationDirPath() + "/tulmo";
    const QString destino = dir.path() + "/tulmo";
    if (!QFile::exists(origem) || !QFile::copy(origem, destino)) return {};
    QFile::setPermissions(destino, QFile::permissions(origem));
    return destino;
}

// The console's guard socket goes to the test's own folder, so a console the user has open
// is neither disturbed nor in the way.
QProcessEnvironment ambiente(const QTemporaryDir &dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TULMO_MENSAGENS_STDERR", "1");
    env.insert("LSAN_OPTIONS", "detect_leaks=0");
    return env;
}

} // namespace

class TestMain : public QObject {
    Q_OBJECT
private slots:
    void showsItsWindow();
    void secondStartLeavesAndTerminationEndsTheFirst();
    void lostDatabaseIsNotReplacedByAnEmptyOneUnasked();
    void oneProcessOnADataFolderWhicheverCameFirst();
};

void TestMain::showsItsWindow() {
    QTemporaryDir dir;
    const QString exe = copiaDoConsole(dir);
    QVERIFY2(!exe.isEmpty(), "the console executable is not built");
    QProcessEnvironment env = ambiente(dir);
    env.insert("TULMO_CAPTURA", dir.path() + "/janela.png");
    env.insert("TULMO_CAPTURA_MS", "1500");
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(exe);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(QFile::exists(dir.path() + "/Dados/TULMO.FDB"));
    const QImage janela(dir.path() + "/janela.png");
    QVERIFY(!janela.isNull());
    QVERIFY(janela.width() > 300 && janela.height() > 200);
}

void TestMain::secondStartLeavesAndTerminationEndsTheFirst() {
    QTemporaryDir dir;
    const QString exe = copiaDoConsole(dir);
    QVERIFY2(!exe.isEmpty(), "the console executable is not built");
    QProcess primeiro;
    primeiro.setProcessEnvironment(ambiente(dir));
    primeiro.start(exe);
    QVERIFY(primeiro.waitForStarted());
    // Up once its database exists and its queue files are made.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.path() + "/Dados/EventosRepetidora.dat"), 30000);
    // The console is another process: it is given a moment to fail at start, if it would.
    QTest::qWait(500);
    QCOMPARE(primeiro.state(), QProcess::Running);

    QProcess segundo;
    segundo.setProcessEnvironment(ambiente(dir));
    segundo.start(exe);
    QVERIFY(segundo.waitForFinished(30000));
    QCOMPARE(segundo.exitCode(), 0);
    QVERIFY2(segundo.readAllStandardError().contains("Tulmo: O Tulmo já está aberto!"),
             "no message from the second start");
    QCOMPARE(primeiro.state(), QProcess::Running);

    primeiro.terminate(); // SIGTERM
    QVERIFY(primeiro.waitForFinished(15000));
    QCOMPARE(primeiro.exitStatus(), QProcess::NormalExit);
    QCOMPARE(primeiro.exitCode(), 0);
}

// Dados/ holds the queue of a station in use but no database (deleted, moved): the console
// asks before it makes an empty one, No is the default, and it ends without making one.
void TestMain::lostDatabaseIsNotReplacedByAnEmptyOneUnasked() {
    QTemporaryDir dir;
    const QString exe = copiaDoConsole(dir);
    QVERIFY2(!exe.isEmpty(), "the console executable is not built");
    QVERIFY(QDir(dir.path()).mkpath("Dados"));
    const QByteArray queued = "Rc01 Ln1 Ct1234 Pt1 Ce1130 Su003 Dt05/03/09 Tm14:02:11\r\n";
    {
        QFile f(dir.path() + "/Dados/Eventos_Log.dat");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(queued);
    }
    QProcess p;
    p.setProcessEnvironment(ambiente(dir));
    p.start(exe);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains("Deseja criar um banco de dados novo e vazio?") &&
                 err.contains("nenhum banco novo foi criado"),
             qPrintable(err));
    QVERIFY(!QFile::exists(dir.path() + "/Dados/TULMO.FDB"));
    QFile f(dir.path() + "/Dados/Eventos_Log.dat");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), queued);
}

// The console and the headless reception service on one Dados/: whichever comes second is
// refused with a message naming the first, and the first goes on. (The per-session guard does
// not see the service, which may run in no session at all.)
void TestMain::oneProcessOnADataFolderWhicheverCameFirst() {
    QTemporaryDir dir;
    const QString console = copiaDoConsole(dir);
    QVERIFY2(!console.isEmpty(), "the console executable is not built");
    const QString service = dir.path() + "/tulmo-recepcao";
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/tulmo-recepcao", service));
    QFile::setPermissions(service, QFile::permissions(console));

    QProcess recepcao;
    recepcao.setProcessEnvironment(ambiente(dir));
    recepcao.start(service);
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += recepcao.readAllStandardOutput()).contains("Recepção iniciada"),
                             30000);
    QProcess refused;
    refused.setProcessEnvironment(ambiente(dir));
    refused.start(console);
    QVERIFY(refused.waitForFinished(30000));
    QCOMPARE(refused.exitCode(), 1);
    const QString why = QString::fromUtf8(refused.readAllStandardError());
    QVERIFY2(why.contains(QString("Tulmo: Dados/ já está em uso por tulmo-recepcao (processo %1).")
                              .arg(recepcao.processId())),
             qPrintable(why));
    QCOMPARE(recepcao.state(), QProcess::Running);
    recepcao.terminate();
    QVERIFY(recepcao.waitForFinished(15000));
    QCOMPARE(recepcao.exitCode(), 0);

    QProcess primeiro;
    primeiro.setProcessEnvironment(ambiente(dir));
    primeiro.start(console);
    QVERIFY(primeiro.waitForStarted());
    // The console holds the folder from before its database opens.
    const QByteArray holder = "tulmo " + QByteArray::number(primeiro.processId()) + "\n";
    auto holds = [&] {
        QFile lock(dir.path() + "/Dados/tulmo.lock");
        return lock.open(QIODevice::ReadOnly) && lock.readAll() == holder;
    };
    QTRY_VERIFY_WITH_TIMEOUT(holds(), 30000);
    QProcess segundo;
    segundo.setProcessEnvironment(ambiente(dir));
    segundo.start(service);
    QVERIFY(segundo.waitForFinished(30000));
    QCOMPARE(segundo.exitCode(), 1);
    QVERIFY2(segundo.readAllStandardError().contains(
                 QString("Dados/ já está em uso por tulmo (processo %1).")
                     .arg(primeiro.processId())
                     .toUtf8()),
             "the service did not name the console");
    QCOMPARE(primeiro.state(), QProcess::Running);
    // Ended while it may still be starting: it ends once started, cleanly.
    primeiro.terminate();
    QVERIFY(primeiro.waitForFinished(30000));
    QCOMPARE(primeiro.exitStatus(), QProcess::NormalExit);
    QCOMPARE(primeiro.exitCode(), 0);
}

QTEST_MAIN(TestMain)
#include "test_main.moc"
