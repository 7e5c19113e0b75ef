// The headless reception service as a process of its own, on a program folder of its own: it
// answers a TCP device and a serial receiver, repeats the device's frame out of the event
// output, records both events, tells on its standard output what the console would show, holds
// its Dados/ folder against a second process, and ends with 0 on SIGTERM.
#include "support/TestSupport.h"

#include "core/store/Database.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// The service is built beside the tests; each test runs a copy in a program folder of its
// own, so that its Dados folder is there.
QString copyOfTheService(const QTemporaryDir &dir) {
    const QString origin = QCoreApplication::applicationDirPath() + "/tulmo-recepcao";
    const QString copy = dir.path() + "/tulmo-recepcao";
    if (!QFile::exists(origin) || !QFile::copy(origin, copy)) return {};
    QFile::setPermissions(copy, QFile::permissions(origin));
    return copy;
}

// A run of the service; what it wrote is gathered while the test waits.
struct Service {
    QProcess p;
    QByteArray out, err;

    explicit Service(const QString &exe) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // A process ended by a signal or refused at start reports no leaks of its own.
        env.insert("LSAN_OPTIONS", "detect_leaks=0");
        p.setProcessEnvironment(env);
        p.start(exe);
    }
    void take() {
        out += p.readAllStandardOutput();
        err += p.readAllStandardError();
    }
    // The service is another process: its lines are waited for.
    bool waitForLine(const QString &text, int timeoutMs = 20000) {
        return waitFor(
            [&] {
                take();
                return QString::fromUtf8(out).contains(text) ||
                       p.state() == QProcess::NotRunning;
            },
            timeoutMs) &&
               QString::fromUtf8(out).contains(text);
    }
    bool finish(int timeoutMs = 20000) {
        const bool done = waitFor([&] { return p.state() == QProcess::NotRunning; }, timeoutMs);
        take();
        return done;
    }
    QStringList lines() const {
        return QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
    }
};

const QByteArray kTcpFrame = "5011 180042E13001003";
const QByteArray kSerialFrame = "5011 180042E13001004\x14";

// The station the service finds: a TCP receiver on slot 1 whose event output is COM1, a serial
// receiver on COM2, the device of account 0042, a burglary code that waits for an operator,
// and an account silent for two days.
void prepareStation(const QString &programDir, quint16 tcpPort, const QString &output,
                    const QString &serial) {
    ScriptedPrompt prompt;
    ConsoleCore core(programDir, SystemClock::instance(), &prompt, nullptr);
    QString error;
    QVERIFY2(core.start(&error), qPrintable(error));
    mapPort(core.dataDir(), 1, output);
    mapPort(core.dataDir(), 2, serial);
    QSqlDatabase db = core.database().primary();
    ReceiverRow::tcp(1, tcpPort, 0, 5).insertInto(db);
    ReceiverRow(2)
        .name("Serial")
        .mode(0)
        .active(1)
        .comPort(1, 3)
        .tcpPort(0)
        .udpPort(0)
        .replyDelay(0)
        .keepAlive(0)
        .insertInto(db);
    GprsRow("123456")
        .account("0042")
        .status("A")
        .date(QDateTime::currentDateTime())
        .blocked(0)
        .equipment("01")
        .password("1234")
        .insertInto(db);
    exec(db, "insert into CLIENTES (CONTA, NOME, DESARMADOS, REARME, EVENTO_ATRASADO, "
             "TEMPO_ATRASO, ULTIMO_EVENTO) values ('000042', 'JOSE', 0, 0, 1, 1440, "
             "CURRENT_TIMESTAMP)");
    exec(db,
         "insert into CLIENTES (CONTA, NOME, DESARMADOS, REARME, EVENTO_ATRASADO, "
         "TEMPO_ATRASO, ULTIMO_EVENTO) values ('001234', 'MARIA', 0, 0, 0, 1440, :u)",
         {{":u", QDateTime::currentDateTime().addDays(-2)}});
    exec(db, "update or insert into EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO, "
             "REGISTRO_AUTOMATICO, PRIORIDADE, SOM, SOM_CONTINUO, ENVIO_SMS) values ('1130', "
             "'ALARME ROUBO', 2, 0, 1, '', 0, 0) matching (CODIGO_EVENTO)");
    // The core goes with its connections; the engine stays up in this process to read the
    // result once the service has ended.
}

} // namespace

class TestRecepcao : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void servesReceptionWithoutAScreen();
    void aKilledHolderDoesNotKeepTheFolder();
    void lostDatabaseEndsTheServiceUnreplaced();
    void linksNoWidgetsNorPainting();

private:
    // One station for the tests that need one: making a database takes seconds.
    QTemporaryDir m_dir;
    QString m_exe;
    Pty m_serial, m_output;
    quint16 m_tcpPort = 0;
};

void TestRecepcao::initTestCase() {
    m_exe = copyOfTheService(m_dir);
    QVERIFY2(!m_exe.isEmpty(), "tulmo-recepcao is not built");
    QVERIFY(m_serial.ok() && m_output.ok());
    m_tcpPort = freePort();
    prepareStation(m_dir.path(), m_tcpPort, m_output.slavePath(), m_serial.slavePath());
}

void TestRecepcao::servesReceptionWithoutAScreen() {
    Service s(m_exe);
    QVERIFY2(s.waitForLine("Recepção iniciada em"), s.err.constData());
    const qint64 pid = s.p.processId();

    // The serial receiver: asked to identify itself, it does, and its frame is acknowledged.
    QCOMPARE(m_serial.readAll(3000, 4), QByteArray("SPSP"));
    QVERIFY(m_serial.write("RZ5"));
    QVERIFY(s.waitForLine("Receptora Porta 2 Encontrada!"));
    QVERIFY(m_serial.write(kSerialFrame));
    QCOMPARE(m_serial.readAll(3000), QByteArray("\x06"));

    // The TCP device: identified, then its receiver frame answered within a tick.
    LoopbackDevice d;
    QVERIFY(d.connectTo(m_tcpPort));
    QCOMPARE(d.recv(), QByteArray("&"));
    d.send("&011234560042");
    QCOMPARE(d.recv(1, 3000), QByteArray("+"));
    d.send(kTcpFrame);
    QCOMPARE(d.recv(3, 3000), QByteArray("+OK"));
    // Its frame goes out of the slot's event output (after the port's opening "SP") until
    // that peer answers.
    QByteArray repeated;
    QVERIFY2(waitFor([&] { return (repeated += m_output.readAll(50)).endsWith(kTcpFrame); }, 4000),
             repeated.constData());
    QVERIFY(m_output.write("\x06"));

    // What the console would show: the supervision alert, both pending events.
    QVERIFY2(s.waitForLine("Alerta: Cliente 001234-MARIA Está inativo desde "), s.out.constData());
    QVERIFY2(s.waitForLine("Evento pendente: 000042 JOSE — 1130 ALARME ROUBO 3, partição 1 "
                           "PARTIÇÃO 01, zona/usuário 003, de "),
             s.out.constData());
    QVERIFY2(s.out.contains("Evento pendente: 000042 JOSE — 1130 ALARME ROUBO 4,"),
             s.out.constData());
    // The port monitor's lines, a frame's control bytes shown by their codes.
    QVERIFY2(s.out.contains(" Receptora Porta 2 Encontrada!\n"), s.out.constData());
    QVERIFY2(s.out.contains(" Porta 2:5011 180042E13001004<14>\n"), s.out.constData());
    QVERIFY2(s.out.contains(" TCP ") && s.out.contains(":5011 180042E13001003\n"),
             s.out.constData());

    // A second service on the same folder is refused, naming the first.
    Service second(m_exe);
    QVERIFY(second.finish());
    QCOMPARE(second.p.exitCode(), 1);
    QVERIFY2(QString::fromUtf8(second.err).contains(
                 QString("Dados/ já está em uso por tulmo-recepcao (processo %1).").arg(pid)),
             second.err.constData());
    QCOMPARE(s.p.state(), QProcess::Running);

    // The repeater's peer answered: the head leaves before the end.
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(m_dir.path() + "/Dados/EventosRepetidora.dat").size(), 0,
                              3000);
    s.p.terminate(); // SIGTERM
    QVERIFY(s.finish());
    QCOMPARE(s.p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(s.p.exitCode(), 0);
    QVERIFY(s.lines().last().endsWith("Recepção encerrada."));
    // Let go emptied: a later refusal never names a process that has ended.
    QCOMPARE(QFileInfo(m_dir.path() + "/Dados/tulmo.lock").size(), 0);
    // One entry a line, each after its date and time.
    static const QRegularExpression stamped("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d \\S");
    for (const QString &l : s.lines())
        QVERIFY2(stamped.match(l).hasMatch(), qPrintable(l));

    Database database(m_dir.path() + "/Dados/TULMO.FDB");
    QString error;
    QVERIFY2(database.open(&error), qPrintable(error));
    QCOMPARE(column(database.primary(),
                    "select ARGUMENTO from EVENTOS where CONTA = '000042' and TRATADO = 0 "
                    "order by ARGUMENTO"),
             QVariantList({"003", "004"}));
    database.close();
}

// A holder that was killed leaves its name in the lock file, but not the lock: the next start
// takes the folder.
void TestRecepcao::aKilledHolderDoesNotKeepTheFolder() {
    {
        Service killed(m_exe);
        QVERIFY2(killed.waitForLine("Recepção iniciada em"), killed.err.constData());
        const qint64 pid = killed.p.processId();
        ::kill(pid_t(pid), SIGKILL);
        QVERIFY(killed.finish());
        QFile lock(m_dir.path() + "/Dados/tulmo.lock");
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readAll(), "tulmo-recepcao " + QByteArray::number(pid) + "\n");
    }
    Service next(m_exe);
    QVERIFY2(next.waitForLine("Recepção iniciada em"), next.err.constData());
    ::kill(pid_t(next.p.processId()), SIGINT);
    QVERIFY(next.finish());
    QCOMPARE(next.p.exitCode(), 0);
}

// Dados/ holds the queue of a station in use but no database: nobody is there to say yes, so
// the service says why and ends, and the queue stays as it was.
void TestRecepcao::lostDatabaseEndsTheServiceUnreplaced() {
    QTemporaryDir dir;
    const QString exe = copyOfTheService(dir);
    QVERIFY2(!exe.isEmpty(), "tulmo-recepcao is not built");
    QVERIFY(QDir(dir.path()).mkpath("Dados"));
    const QByteArray queued = "Rc01 Ln1 Ct1234 Pt1 Ce1130 Su003 Dt05/03/09 Tm14:02:11\r\n";
    {
        QFile f(dir.path() + "/Dados/Eventos_Log.dat");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(queued);
    }
    Service s(exe);
    QVERIFY(s.finish());
    QCOMPARE(s.p.exitCode(), 1);
    QVERIFY2(QString::fromUtf8(s.out).contains("Deseja criar um banco de dados novo e vazio?"),
             s.out.constData());
    QVERIFY2(QString::fromUtf8(s.err).contains("nenhum banco novo foi criado"), s.err.constData());
    QCOMPARE(QString::fromUtf8(s.err).count('\n'), 1); // one entry, on one line
    QVERIFY(!QFile::exists(dir.path() + "/Dados/TULMO.FDB"));
    QFile f(dir.path() + "/Dados/Eventos_Log.dat");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), queued);
}

void TestRecepcao::linksNoWidgetsNorPainting() {
    const QString exe = QCoreApplication::applicationDirPath() + "/tulmo-recepcao";
    QVERIFY2(QFile::exists(exe), "tulmo-recepcao is not built");
    QProcess ldd;
    ldd.start("ldd", {exe});
    QVERIFY(ldd.waitForFinished(10000));
    const QString libs = QString::fromLocal8Bit(ldd.readAllStandardOutput());
    QVERIFY2(libs.contains("libQt6Core.so"), qPrintable(libs)); // ldd did list them
    QVERIFY2(!libs.contains("libQt6Widgets"), qPrintable(libs));
    QVERIFY2(!libs.contains("libQt6Gui"), qPrintable(libs));
    QVERIFY2(!libs.contains("libQt6Multimedia"), qPrintable(libs));
}

QTEST_GUILESS_MAIN(TestRecepcao)
#include "test_recepcao.moc"
