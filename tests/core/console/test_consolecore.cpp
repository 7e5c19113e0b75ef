#include "support/TestSupport.h"

#include "core/common/Clock.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/LineLog.h"
#include "core/store/Database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// Monday 9 March 2026, 10:00:00.
const QDateTime kInicio(QDate(2026, 3, 9), QTime(10, 0, 0));

// A short event of account 0042, zone zona: the console answers "@" as soon as its line is
// on disk, and never when it is not.
QByteArray shortEvent(int zona) {
    return QStringLiteral("$0042E13001%1XY").arg(zona, 3, 10, QLatin1Char('0')).toLatin1();
}

// A console with a TCP receiver on slot 1, answering at once.
struct Central {
    explicit Central(const QString &folder)
        : clock(kInicio) {
        core = std::make_unique<ConsoleCore>(folder, clock, &prompt, &sound);
        QString error;
        if (!core->start(&error)) qFatal("start-up failed: %s", qPrintable(error));
        core->recorder().runaway().setLimits({RunawayWatch::kMaxSignals, 1}); // floods of one account
        // The event output of the TCP slot goes nowhere.
        mapPort(core->dataDir(), 1, folder + "/sem-porta");
        port = freePort();
        ReceiverRow::tcp(1, port, 0, 5).insertInto(db());
        core->dm().Realizar_Atualizacoes();
    }
    ManualClock clock;
    ScriptedPrompt prompt;
    RecordingSound sound;
    std::unique_ptr<ConsoleCore> core;
    quint16 port = 0;

    QSqlDatabase db() { return core->database().primary(); }
    void tick() { tickAndSettle(*core); }
    bool connect(LoopbackDevice &d) { return d.connectTo(port) && d.recv() == "&"; }
    // Sends one frame once the console has read it: what it answered at once.
    QByteArray send(LoopbackDevice &d, const QByteArray &frame) {
        QSignalSpy read(&core->dm().portMonitor(), &LineLog::lineAdded);
        d.send(frame);
        if (!waitFor([&] { return !read.isEmpty(); })) return "<não lido>";
        return d.recv(1, 300);
    }
    int monitorCount(const QString &line) {
        return int(core->dm().portMonitor().lines().count(line));
    }
    QStringList internalEvents() {
        QStringList out;
        for (const QVariant &v :
             column(db(), "select DESCRICAO || '|' || DATA from EVENTOS where TIPO = 'INTERNO' "
                          "and CLIENTE = 'EVENTO INTERNO' and TRATADO = 0 order by SEQUENCIA"))
            out << v.toString();
        return out;
    }
    int deviceEvents() {
        return scalar(db(), "select count(*) from EVENTOS where TIPO <> 'INTERNO' or TIPO is null")
            .toInt();
    }
};

QString at(const QDateTime &t) {
    return t.toString("yyyy-MM-dd HH:mm:ss.zzz0");
}

} // namespace

class TestConsoleCore : public QObject {
    Q_OBJECT
private slots:
    void queueFileThatCannotBeWrittenStopsAcknowledgementsAndSaysWhy();
    void fullDiskStopsAcknowledgementsUntilThereIsRoom();
    void databaseDeletedOrReplacedWhileRunningKeepsTheLinesQueued();
    void receptionStartsWithTheCoreWithoutAWindow();
};

// The queue file turns writes away (read-only; for the administrator, whom no permission
// stops, a folder takes its name). A device's frames are not answered, the status bar and the
// port monitor say why from the first failed write until a write succeeds, and an operator
// finds the fault among the pending events once the disk takes the queue again.
void TestConsoleCore::queueFileThatCannotBeWrittenStopsAcknowledgementsAndSaysWhy() {
    QTemporaryDir dir;
    Central s(dir.path());
    LoopbackDevice d;
    QVERIFY(s.connect(d));
    QCOMPARE(s.send(d, shortEvent(1)), QByteArray("@"));
    s.tick(); // recorded: the queue file is written anew
    QCOMPARE(s.deviceEvents(), 1);

    const QString queue = s.core->eventQueue().filePath();
    const bool root = ::geteuid() == 0;
    if (root) {
        QVERIFY(QFile::rename(queue, queue + ".guardado"));
        QVERIFY(QDir().mkdir(queue));
    } else {
        QVERIFY(QFile::setPermissions(queue, QFileDevice::ReadOwner));
    }
    QSignalSpy status(&s.core->status(), &ReceptionStatus::changed);
    const QString why = QString("Não foi possível gravar Dados/Eventos_Log.dat: ") +
                        (root ? "o nome é de uma pasta" : "sem permissão de escrita");
    s.clock.set(kInicio.addSecs(60));
    const QDateTime since = s.clock.now();
    for (int zona = 2; zona <= 4; ++zona) { // the device repeats what is not answered
        QCOMPARE(s.send(d, shortEvent(zona)), QByteArray());
        s.clock.advanceSecs(5);
        s.tick();
    }
    QCOMPARE(s.core->statusText(), why);
    QCOMPARE(status.count(), 1);
    QCOMPARE(s.monitorCount(why), 1);
    QVERIFY(s.core->eventQueue().isEmpty());

    if (root) {
        QVERIFY(QDir().rmdir(queue));
        QVERIFY(QFile::rename(queue + ".guardado", queue));
    } else {
        QVERIFY(QFile::setPermissions(queue, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }
    QCOMPARE(s.send(d, shortEvent(5)), QByteArray("@"));
    QCOMPARE(s.core->statusText(), QString());
    QCOMPARE(status.count(), 2);
    QCOMPARE(s.monitorCount("Dados/Eventos_Log.dat voltou a ser gravado."), 1);
    s.tick();
    QCOMPARE(s.deviceEvents(), 2);
    QCOMPARE(s.internalEvents(),
             QStringList({QString("Falha ao gravar Eventos_Log.dat: ") +
                          (root ? "o nome é de uma pasta" : "sem permissão de escrita") + "|" +
                          at(since)}));
    QVERIFY(s.core->eventQueue().isEmpty());
}

// Dados/ on a disk of 64 KB (a tmpfs; the database lies elsewhere, linked in, so that only the
// queue files feel the full disk). Once the disk is full, what the queue file cannot take is
// not answered, and the status bar says "disco cheio"; with room again, reception resumes.
void TestConsoleCore::fullDiskStopsAcknowledgementsUntilThereIsRoom() {
    if (::geteuid() != 0)
        QSKIP("montar um tmpfs exige o administrador: o disco cheio não é testado nesta execução");
    QTemporaryDir dir;
    const QString data = dir.filePath("Dados");
    const QString banco = dir.filePath("banco/TULMO.FDB");
    QVERIFY(QDir().mkpath(dir.filePath("banco")));
    {
        Database database(banco);
        QString error;
        QVERIFY2(database.open(&error), qPrintable(error));
    }
    QVERIFY(QDir().mkpath(data));
    if (::mount("tmpfs", QFile::encodeName(data).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP(qPrintable(QString("não foi possível montar um tmpfs (%1): o disco cheio não é "
                                 "testado nesta execução")
                             .arg(QString::fromLocal8Bit(std::strerror(errno)))));
    auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(data).constData(), MNT_DETACH); });
    QVERIFY(QFile::link(banco, data + "/TULMO.FDB"));
    {
        Central s(dir.path());
        LoopbackDevice d;
        QVERIFY(s.connect(d));
        QCOMPARE(s.send(d, shortEvent(1)), QByteArray("@"));
        s.tick();
        // Fill the disk.
        QFile filler(data + "/enchimento");
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(512, 'x');
        while (filler.write(block) == block.size()) {
        }
        filler.close();
        // The queue file's last block may still take a few lines: those are on disk, and
        // answered. Then no more.
        int zona = 2;
        for (; zona < 200; ++zona)
            if (s.send(d, shortEvent(zona)) != "@") break;
        QVERIFY2(zona < 200, "o disco cheio nunca recusou uma linha");
        QCOMPARE(s.core->statusText(),
                 QString("Não foi possível gravar Dados/Eventos_Log.dat: disco cheio"));
        const qsizetype queued = s.core->eventQueue().size();
        QCOMPARE(s.send(d, shortEvent(zona)), QByteArray()); // repeated, still refused
        QCOMPARE(s.core->eventQueue().size(), queued);
        QVERIFY(QFile::remove(data + "/enchimento"));
        QCOMPARE(s.send(d, shortEvent(zona)), QByteArray("@"));
        QCOMPARE(s.core->statusText(), QString());
        for (int i = 0; i < 50 && !s.core->eventQueue().isEmpty(); ++i)
            s.tick(); // each tick records for a fraction of a second
        QVERIFY(s.core->eventQueue().isEmpty());
        QCOMPARE(s.deviceEvents(), zona);
        QCOMPARE(s.internalEvents().size(), 1);
        QVERIFY(
            s.internalEvents().first().startsWith("Falha ao gravar Eventos_Log.dat: disco cheio|"));
    }
}

// Dados/TULMO.FDB replaced, then deleted, while the console runs: the engine would go on
// writing into a file nobody will ever open again. Recording stops with the lines queued and
// the fault in sight; the next start does not make an empty database without asking.
void TestConsoleCore::databaseDeletedOrReplacedWhileRunningKeepsTheLinesQueued() {
    QTemporaryDir dir;
    const QString file = dir.filePath("Dados/TULMO.FDB");
    const QString gone = "O banco de dados Dados/TULMO.FDB foi apagado ou substituído enquanto o "
                         "Tulmo estava aberto: os eventos ficam na fila até o Tulmo ser reiniciado";
    {
        Central s(dir.path());
        EventQueue &queue = s.core->eventQueue();
        QVERIFY(queue.append(eventLine("1130", "10:00:01")));
        s.tick();
        QCOMPARE(s.deviceEvents(), 1);
        // A copy put in its place (a restore, a sync tool) is no file the engine writes to.
        QVERIFY(QFile::copy(file, file + ".copia"));
        QVERIFY(QFile::remove(file));
        QVERIFY(QFile::rename(file + ".copia", file));
        QVERIFY(queue.append(eventLine("1130", "10:00:02")));
        s.tick();
        QCOMPARE(queue.size(), 1);
        QCOMPARE(s.core->statusText(), gone);
        QCOMPARE(s.monitorCount(gone), 1);
        // Deleted: the same.
        QVERIFY(QFile::remove(file));
        QVERIFY(queue.append(eventLine("1130", "10:00:03")));
        LoopbackDevice d;
        QVERIFY(s.connect(d));
        QCOMPARE(s.send(d, shortEvent(4)), QByteArray("@")); // on disk: answered
        for (int i = 0; i < 3; ++i)
            s.tick();
        QCOMPARE(queue.size(), 3);
        QCOMPARE(s.core->statusText(), gone);
        QCOMPARE(s.monitorCount(gone), 1);
    }
    const QString expectedQuestion =
        "O banco de dados Dados/TULMO.FDB não foi encontrado, mas a pasta Dados tem arquivos de "
        "uma instalação em uso (Eventos_Log.dat, EventosRepetidora.dat, Config.ini): ele pode "
        "ter sido apagado ou movido.\n\nDeseja criar um banco de dados novo e vazio? As contas, "
        "os códigos de eventos e os eventos gravados não estarão nele.";
    {
        ManualClock clock(kInicio);
        ScriptedPrompt prompt; // answers No
        ConsoleCore core(dir.path(), clock, &prompt, nullptr);
        QString error;
        QVERIFY(!core.start(&error));
        QCOMPARE(prompt.shown.size(), 1);
        QCOMPARE(prompt.shown[0].text, expectedQuestion);
        QCOMPARE(error, QString("O banco de dados Dados/TULMO.FDB não foi encontrado, e nenhum "
                                "banco novo foi criado.\n\nColoque o banco de dados em \"%1\" e "
                                "abra o Tulmo novamente. O Tulmo será encerrado.")
                            .arg(file));
        QVERIFY(!QFile::exists(file));
    }
    {
        // A console without anyone to ask (the reception service) does not create one either.
        ManualClock clock(kInicio);
        ConsoleCore core(dir.path(), clock, nullptr, nullptr);
        QString error;
        QVERIFY(!core.start(&error));
        QVERIFY(!QFile::exists(file));
    }
    ManualClock clock(kInicio);
    ScriptedPrompt prompt;
    prompt.answers << true;
    ConsoleCore core(dir.path(), clock, &prompt, nullptr);
    QString error;
    QVERIFY2(core.start(&error), qPrintable(error));
    QCOMPARE(core.eventQueue().size(), 3); // nothing acknowledged was lost
    tickAndSettle(core);
    QVERIFY(core.eventQueue().isEmpty());
    QCOMPARE(scalar(core.database().primary(), "select count(*) from EVENTOS").toInt(), 3);
    QCOMPARE(core.statusText(), QString());
}

// Reception needs no window: the receivers open and the driver and the scans run once the core
// starts reception, and a change of the receivers is applied with one call.
void TestConsoleCore::receptionStartsWithTheCoreWithoutAWindow() {
    QTemporaryDir dir;
    ManualClock clock(kInicio);
    ScriptedPrompt prompt;
    ConsoleCore core(dir.path(), clock, &prompt, nullptr);
    QString error;
    QVERIFY2(core.start(&error), qPrintable(error));
    core.startReception(); // no receiver yet: nothing opens, the timers run all the same
    QVERIFY(core.timerUpdate().isActive());
    QVERIFY(core.timerInactive().isActive());
    mapPort(core.dataDir(), 1, dir.path() + "/sem-porta");
    QSqlDatabase db = core.database().primary();
    const quint16 port = freePort();
    ReceiverRow::tcp(1, port, 0, 5).insertInto(db);
    LoopbackDevice early;
    early.s.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!early.s.waitForConnected(200));
    QVERIFY(core.applyReceivers().isEmpty());
    LoopbackDevice d;
    QVERIFY(d.connectTo(port));
    QCOMPARE(d.recv(), QByteArray("&"));

    // Moved to another port: the listener follows, the old port is let go.
    const quint16 moved = freePort();
    exec(db, "update RECEIVER set PORTA_TCP = :p where RECEIVER = 1", {{":p", moved}});
    QVERIFY(core.applyReceivers().isEmpty());
    LoopbackDevice e;
    QVERIFY(e.connectTo(moved));
    QCOMPARE(e.recv(), QByteArray("&"));
    LoopbackDevice old;
    old.s.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!old.s.waitForConnected(200));
    core.stopTimer();
}

QTEST_GUILESS_MAIN(TestConsoleCore)
#include "test_consolecore.moc"
