#include "support/FirebirdServer.h"
#include "support/TestSupport.h"

#include "core/common/Clock.h"
#include "core/console/ConsoleCore.h"
#include "core/settings/ConfigIni.h"
#include "core/store/Database.h"
#include "core/events/EventRepository.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QSysInfo>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {
const QDateTime kStart(QDate(2026, 3, 9), QTime(10, 0, 0));

// A program folder whose Config.ini holds the given [Banco] lines.
struct ProgramFolder {
    QTemporaryDir dir;
    explicit ProgramFolder(const QString &banco) {
        QDir().mkpath(dir.path() + "/Dados");
        QFile f(dir.path() + "/Dados/Config.ini");
        f.open(QIODevice::WriteOnly);
        f.write(("[Banco]\r\n" + banco).toUtf8());
    }
    QString data() const { return dir.path() + "/Dados"; }
};

QString bancoFor(const FirebirdServer &server, const QString &file,
                 const QString &password = FirebirdServer::kPassword) {
    return QStringLiteral("Servidor=127.0.0.1\r\nPorta=%1\r\nArquivo=%2\r\nSenha=%3\r\n")
        .arg(server.port())
        .arg(file, password);
}

int count(QSqlDatabase db, const QString &sql) {
    QSqlQuery q(db);
    return q.exec(sql) && q.next() ? q.value(0).toInt() : -1;
}

int eventCount(QSqlDatabase db) {
    QSqlQuery q(db);
    if (q.exec("select count(*) from EVENTOS") && q.next()) return q.value(0).toInt();
    qWarning("%s", qPrintable(q.lastError().text()));
    return -1;
}
} // namespace

class TestDatabaseServer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void configNamesTheServerOrSaysWhatIsWrong();
    void firstStartCreatesTheDatabaseOnTheServerAndTheNextOpensIt();
    void aServerThatCannotBeOpenedIsNamedAndThePasswordNeverShown();
    void aServerLostWhileRunningIsShownAndNothingAcknowledgedIsLost();
    void twoConsolesTreatingOnePendingEventRecordItOnce();

private:
    FirebirdServer m_server;
};

void TestDatabaseServer::initTestCase() {
    QString why;
    QVERIFY2(m_server.start(&why), qPrintable(why));
}

// [Banco] as scripts and other workstations write it: without Servidor the embedded file, with
// it the server's defaults for what is left out; a server without its database, or a port that
// is no port, is told to the operator.
void TestDatabaseServer::configNamesTheServerOrSaysWhatIsWrong() {
    struct Case {
        QString banco;
        bool ok;
        QString server, file, user, password, problem;
        int port;
    };
    const QString dflt = QString::fromLatin1(Database::kPassword);
    const QList<Case> cases = {
        {"", true, "", "/p/Dados/TULMO.FDB", "SYSDBA", dflt, "", 3050},
        {"Servidor=  \r\nArquivo=x.fdb\r\n", true, "", "/p/Dados/TULMO.FDB", "SYSDBA", dflt, "", 3050},
        {"Servidor=central-bd\r\nArquivo=/srv/tulmo/TULMO.FDB\r\n", true, "central-bd",
         "/srv/tulmo/TULMO.FDB", "SYSDBA", dflt, "", 3050},
        {"Servidor=10.0.0.5\r\nPorta=3051\r\nArquivo=tulmo\r\nUsuario=TULMO\r\nSenha= a b \r\n",
         true, "10.0.0.5", "tulmo", "TULMO", "a b", "", 3051},
        {"Servidor=central-bd\r\n", false, "", "", "", "", "O Config.ini indica o servidor de "
         "banco de dados \"central-bd\" ([Banco] Servidor), mas não o banco nele ([Banco] "
         "Arquivo).", 0},
        {"Servidor=central-bd\r\nArquivo=t.fdb\r\nPorta=30x\r\n", false, "", "", "", "",
         "A porta do servidor de banco de dados no Config.ini ([Banco] Porta) não é válida: "
         "\"30x\".", 0},
        {"Servidor=central-bd\r\nArquivo=t.fdb\r\nPorta=70000\r\n", false, "", "", "", "",
         "A porta do servidor de banco de dados no Config.ini ([Banco] Porta) não é válida: "
         "\"70000\".", 0},
    };
    for (const Case &c : cases) {
        ProgramFolder p(c.banco);
        DatabaseLocation where;
        QString problem;
        QCOMPARE(ConfigIni(ConfigIni::pathIn(p.data())).readDatabase("/p/Dados", &where, &problem),
                 c.ok);
        QCOMPARE(problem, c.problem);
        if (!c.ok) continue;
        QCOMPARE(where.server, c.server);
        QCOMPARE(where.file, c.file);
        QCOMPARE(where.port, c.port);
        QCOMPARE(where.user, c.user);
        QCOMPARE(where.password, c.password);
    }
    // A console whose [Banco] is wrong does not start on some other database.
    ProgramFolder p("Servidor=central-bd\r\n");
    ManualClock clock(kStart);
    ConsoleCore core(p.dir.path(), clock, nullptr, nullptr);
    QString error;
    QVERIFY(!core.start(&error));
    QVERIFY2(error.startsWith("O Config.ini indica o servidor"), qPrintable(error));
    QVERIFY(!QFileInfo::exists(p.data() + "/TULMO.FDB"));
}

// The first console on a new server creates the station's database there, with every table;
// its events are recorded there and seen by another process's connection; the next start opens
// the same database and creates nothing.
void TestDatabaseServer::firstStartCreatesTheDatabaseOnTheServerAndTheNextOpensIt() {
    const QString file = m_server.dataFolder() + "/CENTRAL.FDB";
    ProgramFolder p(bancoFor(m_server, file));
    {
        ManualClock clock(kStart);
        ConsoleCore core(p.dir.path(), clock, nullptr, nullptr);
        QString error;
        QVERIFY2(core.start(&error), qPrintable(error));
        QVERIFY(core.database().created());
        QCOMPARE(core.database().host(), QString("127.0.0.1"));
        QVERIFY(QFileInfo::exists(file));
        QVERIFY(!QFileInfo::exists(p.data() + "/TULMO.FDB"));
        QCOMPARE(core.Decodifica_Eventos("5011 181234E13001003"), ReceptionSink::QueueResult::Queued);
        // The first workstation on a new database: it takes reception at once.
        core.setAlwaysTakesPart(true);
        core.startLease();
        QVERIFY(waitFor([&] {
            tickAndSettle(core);
            return eventCount(core.database().primary()) == 1;
        }, 10000));
        QCOMPARE(core.lease()->holder(), QSysInfo::machineHostName());

    }
    // Another workstation's view of the same database, through the server.
    DatabaseLocation where;
    QString problem;
    QVERIFY(ConfigIni(ConfigIni::pathIn(p.data())).readDatabase(p.data(), &where, &problem));
    Database other(where);
    QString error;
    QVERIFY2(other.open(&error), qPrintable(error));
    QVERIFY(!other.created());
    QCOMPARE(eventCount(other.primary()), 1);
    other.close();

    ManualClock clock(kStart.addSecs(60));
    ConsoleCore again(p.dir.path(), clock, nullptr, nullptr);
    QVERIFY2(again.start(&error), qPrintable(error));
    QVERIFY(!again.database().created());
    QCOMPARE(eventCount(again.database().primary()), 1);

}

// A server that does not answer, or that refuses the user: the message names the database and
// the server with the engine's reason, never the password, and no database is made anywhere.
void TestDatabaseServer::aServerThatCannotBeOpenedIsNamedAndThePasswordNeverShown() {
    // Nothing listens on this port: the private server's own, once it is stopped.
    FirebirdServer stopped;
    QString why;
    QVERIFY2(stopped.start(&why), qPrintable(why));
    const quint16 deadPort = stopped.port();
    stopped.stop();
    const QString file = m_server.dataFolder() + "/NUNCA.FDB";
    struct Case {
        QString banco, password, port;
    };
    const QList<Case> cases = {
        {QStringLiteral("Servidor=127.0.0.1\r\nPorta=%1\r\nArquivo=%2\r\nSenha=segredo-71\r\n")
             .arg(deadPort)
             .arg(file),
         "segredo-71", QString::number(deadPort)},
        {bancoFor(m_server, file, "errada-53"), "errada-53", QString::number(m_server.port())},
    };
    for (const Case &c : cases) {
        ProgramFolder p(c.banco);
        ManualClock clock(kStart);
        ScriptedPrompt prompt;
        ConsoleCore core(p.dir.path(), clock, &prompt, nullptr);
        QString error;
        QVERIFY(!core.start(&error));
        QVERIFY2(error.startsWith(QStringLiteral("Não foi possível abrir o banco de dados \"%1 no "
                                                 "servidor 127.0.0.1:%2\".\n\nMotivo: ")
                                      .arg(file, c.port)),
                 qPrintable(error));
        QVERIFY2(error.endsWith("O Tulmo será encerrado."), qPrintable(error));
        const QString reason = error.section("Motivo: ", 1).section("\n\n", 0, 0);
        QVERIFY2(reason.size() > 5, qPrintable(error));
        QVERIFY2(!error.contains(c.password), qPrintable(error));
        for (const auto &shown : prompt.shown) QVERIFY(!shown.text.contains(c.password));
        QVERIFY(!QFileInfo::exists(file));
        QVERIFY(!QFileInfo::exists(p.data() + "/TULMO.FDB"));
    }
}

// The server dies while events arrive: each is still acknowledged into the queue file, the
// status bar says recording waits for the database, and once the server is back every event
// is recorded, once, in order, and the status clears.
void TestDatabaseServer::aServerLostWhileRunningIsShownAndNothingAcknowledgedIsLost() {
    FirebirdServer server;
    QString why;
    QVERIFY2(server.start(&why), qPrintable(why));
    const QString file = server.dataFolder() + "/PERDA.FDB";
    ProgramFolder p(bancoFor(server, file));
    ManualClock clock(kStart);
    ConsoleCore core(p.dir.path(), clock, nullptr, nullptr);
    QString error;
    QVERIFY2(core.start(&error), qPrintable(error));
    // The only workstation on the server: it takes reception at once.
    core.setAlwaysTakesPart(true);
    core.startLease();
    QCOMPARE(core.Decodifica_Eventos("5011 181234E13001001"), ReceptionSink::QueueResult::Queued);
    QVERIFY(waitFor([&] {
        tickAndSettle(core);
        return eventCount(core.database().primary()) == 1;
    }, 10000));
    QVERIFY(core.receivesHere());

    server.kill();
    for (int zone = 2; zone <= 4; ++zone) {
        clock.advanceSecs(1);
        QCOMPARE(core.Decodifica_Eventos(QString("5011 181234E1300100%1").arg(zone)),
                 ReceptionSink::QueueResult::Queued);
        tickAndSettle(core);
    }
    QCOMPARE(core.eventQueue().size(), 3);
    QVERIFY2(waitFor([&] {
                 if (core.statusText().contains("Gravação de eventos aguardando o banco de dados"))
                     return true;
                 tickAndSettle(core);
                 return false;
             }, 10000),
             qPrintable(core.statusText()));
    // Answered from the local file while the server is away.
    QVERIFY(waitFor([&] { return core.sharedQueue()->offline(); }, 10000));
    QVERIFY2(core.statusText().contains("Servidor do banco de dados inacessível"),
             qPrintable(core.statusText()));
    QVERIFY(!core.statusText().contains(FirebirdServer::kPassword));

    QVERIFY2(server.restart(&why), qPrintable(why));
    QVERIFY(waitFor(
        [&] {
            clock.advanceSecs(1);
            tickAndSettle(core);
            return core.eventQueue().isEmpty();
        },
        30000));
    // What another workstation reads, through a connection of its own.
    Database other(core.database().location());
    QVERIFY2(other.open(&error), qPrintable(error));
    QSqlQuery q(other.primary());
    // One row per event, in the order received (each was decoded a second after the other).
    QVERIFY(q.exec("select DATA from EVENTOS order by SEQUENCIA"));
    QList<QDateTime> times;
    while (q.next()) times << q.value(0).toDateTime();
    QCOMPARE(times, QList<QDateTime>({kStart, kStart.addSecs(1), kStart.addSecs(2), kStart.addSecs(3)}));
    QVERIFY(waitFor([&] {
        tickAndSettle(core);
        return core.statusText().isEmpty();
    }, 15000));
    QVERIFY(!core.sharedQueue()->offline());
    QCOMPARE(count(other.primary(), "select count(*) from FILA_EVENTOS"), 0);

}

QTEST_GUILESS_MAIN(TestDatabaseServer)
#include "test_databaseserver.moc"

// Two operators at two workstations treat the same pending event: the first one's treatment
// is kept, the second is refused and told who treated it and when.
void TestDatabaseServer::twoConsolesTreatingOnePendingEventRecordItOnce() {
    const QString file = m_server.dataFolder() + "/DOIS.FDB";
    ProgramFolder p(bancoFor(m_server, file));
    ManualClock clock(kStart);
    ConsoleCore core(p.dir.path(), clock, nullptr, nullptr);
    QString error;
    QVERIFY2(core.start(&error), qPrintable(error));
    exec(core.database().primary(),
         "insert into EVENTOS (CONTA, CODIGO_ALARME, DATA, TRATADO, PRIORIDADE) values "
         "('001234', '1130', :d, 0, 1)",
         {{":d", kStart}});
    const QVariant seq = column(core.database().primary(), "select SEQUENCIA from EVENTOS").value(0);
    Database ana(core.database().location()), beto(core.database().location());
    QVERIFY2(ana.open(&error) && beto.open(&error), qPrintable(error));
    using EventRepository::Intervention;
    EventRepository::TreatedBy by;
    QCOMPARE(EventRepository::finishIntervention(ana.primary(), seq, "ligou", "Cliente avisado",
                                                 kStart.addSecs(30), "ANA", &by),
             Intervention::Recorded);
    QCOMPARE(EventRepository::finishIntervention(beto.primary(), seq, "outro", "Polícia",
                                                 kStart.addSecs(40), "BETO", &by),
             Intervention::NotPending);
    QCOMPARE(by.operador, QString("ANA"));
    QCOMPARE(by.quando, kStart.addSecs(30));
    QSqlQuery q(core.database().primary());
    QVERIFY(q.exec("select OPERADOR_TRATOU, DETALHES, INTERVENCAO from EVENTOS"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QString("ANA"));
    QCOMPARE(q.value(1).toString(), QString("ligou"));
    QVERIFY(!q.next());
}
