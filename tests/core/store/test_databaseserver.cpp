#include "support/FirebirdServer.h"
#include "support/TestSupport.h"

#include "core/common/Clock.h"
#include "core/console/ConsoleCore.h"
#include "core/registry/GprsDirectory.h"
#include "core/console/SupervisionAlerts.h"
#include "core/settings/ConfigIni.h"
#include "core/store/Database.h"
#include "core/events/EventRecorder.h"
#include "core/events/EventRepository.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSignalSpy>
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

// What a workstation's operator is shown of the supervision.
struct AlertsSeen : SupervisionAlerts {
    QStringList rearm, inactivity;
    void rearmAlert(const QString &text) override { rearm << text; }
    void inactivityAlert(const QString &text) override { inactivity << text; }
};

// The only workstation on the server that takes part: it takes reception at once.
bool takesReception(ConsoleCore &core) {
    core.setAlwaysTakesPart(true);
    core.startLease();
    return waitFor([&] {
        tickAndSettle(core);
        return core.receivesHere();
    }, 10000);
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
    void aSupervisionAlertReachesEveryWorkstationOnce();
    void theRepeatersFramesGoWithReception();
    void aModuleBlockedAtAnotherWorkstationIsBlockedWhereReceptionIs();
    void aRunawayFlagFollowsTheTableWhereReceptionIs();

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
    // Answered from the local file while the server is away, and said so.
    QVERIFY(waitFor([&] {
        tickAndSettle(core);
        return core.sharedQueue()->offline();
    }, 10000));
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
    QVERIFY2(waitFor([&] {
        tickAndSettle(core);
        return core.statusText().isEmpty();
    }, 15000), qPrintable(core.statusText()));
    QVERIFY(!core.sharedQueue()->offline());
    QCOMPARE(count(other.primary(), "select count(*) from FILA_EVENTOS"), 0);

    // The lists follow another workstation's work again: the subscriptions to the database's
    // events went with the server and are made anew.
    QSignalSpy refreshed(&core.recorder(), &EventRecorder::receivedChanged);
    QVERIFY(q.exec("update EVENTOS set OPERADOR_TRATOU = 'OUTRA' where SEQUENCIA = "
                   "(select min(SEQUENCIA) from EVENTOS)"));
    QVERIFY(waitFor([&] {
        tickAndSettle(core);
        return !refreshed.isEmpty();
    }, 10000));

}

QTEST_GUILESS_MAIN(TestDatabaseServer)
// The runaway flags are the table's: one written elsewhere is taken where reception is, and
// one an operator clears at a console that does not receive is cleared there too.
void TestDatabaseServer::aRunawayFlagFollowsTheTableWhereReceptionIs() {
    const QString file = m_server.dataFolder() + "/DISPARO.FDB";
    ProgramFolder first(bancoFor(m_server, file)), second(bancoFor(m_server, file));
    ManualClock clock(kStart);
    ConsoleCore holder(first.dir.path(), clock, nullptr, nullptr);
    QString error;
    QVERIFY2(holder.start(&error), qPrintable(error));
    QVERIFY(takesReception(holder));
    ConsoleCore viewer(second.dir.path(), clock, nullptr, nullptr);
    QVERIFY2(viewer.start(&error), qPrintable(error));
    viewer.startLease();
    QSignalSpy listed(&viewer.recorder(), &EventRecorder::runawayChanged);
    // The viewer's subscription to the database's events takes effect in the background, and
    // a notice posted before it is not delivered: another account's row is touched until one
    // arrives, then goes.
    exec(viewer.database().primary(),
         "insert into CONTAS_DISPARADAS (CONTA, DESDE, ULTIMO, SINAIS) values ('009999', :t, "
         ":t2, 3)",
         {{":t", kStart}, {":t2", kStart}});
    QVERIFY(waitFor([&] {
        if (!listed.isEmpty()) return true;
        exec(viewer.database().primary(),
             "update CONTAS_DISPARADAS set SINAIS = SINAIS + 1 where CONTA = '009999'");
        QTest::qWait(100);
        return !listed.isEmpty();
    }, 10000));
    exec(viewer.database().primary(), "delete from CONTAS_DISPARADAS where CONTA = '009999'");
    QTest::qWait(200);
    listed.clear();
    exec(viewer.database().primary(),
         "insert into CONTAS_DISPARADAS (CONTA, DESDE, ULTIMO, SINAIS) values ('001234', :t, "
         ":t2, 3)",
         {{":t", kStart}, {":t2", kStart}});
    QVERIFY(waitFor([&] {
        tickAndSettle(holder);
        return holder.recorder().runaway().isFlagged("001234");
    }, 10000));
    QVERIFY(waitFor([&] { return !listed.isEmpty(); }, 10000)); // the viewer's list refreshes
    QVERIFY2(viewer.recorder().clearRunaway("001234", &error), qPrintable(error));
    QVERIFY(waitFor([&] {
        tickAndSettle(holder);
        return !holder.recorder().runaway().isFlagged("001234");
    }, 10000));
}

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

// The workstation that receives raises the supervision's alerts: an account disarmed past its
// schedule and one silent too long reach the operator of every other workstation, once, and
// a workstation that starts later is not shown them again.
void TestDatabaseServer::aSupervisionAlertReachesEveryWorkstationOnce() {
    const QString file = m_server.dataFolder() + "/ALERTAS.FDB";
    ProgramFolder receiving(bancoFor(m_server, file)), viewing(bancoFor(m_server, file)),
        later(bancoFor(m_server, file));
    ManualClock clock(kStart);
    ConsoleCore holder(receiving.dir.path(), clock, nullptr, nullptr);
    QString error;
    QVERIFY2(holder.start(&error), qPrintable(error));
    holder.setAlwaysTakesPart(true);
    holder.startLease();
    ConsoleCore viewer(viewing.dir.path(), clock, nullptr, nullptr);
    QVERIFY2(viewer.start(&error), qPrintable(error));
    viewer.startLease();
    AlertsSeen atHolder, atViewer;
    holder.alerts().setPresenter(&atHolder);
    viewer.alerts().setPresenter(&atViewer);
    QVERIFY(waitFor([&] {
        tickAndSettle(holder);
        tickAndSettle(viewer);
        return holder.receivesHere();
    }, 10000));

    QSqlDatabase db = holder.database().primary();
    exec(db, "insert into CLIENTES (CONTA, NOME, DESARMADOS) values ('0042', 'Padaria', 1)");
    exec(db, "insert into QUADRO_HORARIOS (CONTA, DIA, HORA, MARCADO) values ('0042', :d, :h, 1)",
         {{":d", EventRecorder::weekdayCode(kStart.date())}, {":h", QTime(10, 0)}});
    exec(db, "insert into CLIENTES (CONTA, NOME, EVENTO_ATRASADO, TEMPO_ATRASO, ULTIMO_EVENTO) "
             "values ('0043', 'Farmácia', 0, 0, :t)",
         {{":t", kStart.addSecs(-60)}});
    QVERIFY2(waitFor([&] {
        tickAndSettle(holder);
        holder.TimerInativosTimer();
        tickAndSettle(viewer);
        return !atViewer.rearm.isEmpty() && !atViewer.inactivity.isEmpty();
    }, 10000), qPrintable(atHolder.rearm.join('|') + " / " + atHolder.inactivity.join('|') +
                          QString(" / %1 escritos").arg(count(db, "select count(*) from ALERTAS_SUPERVISAO"))));
    QCOMPARE(atHolder.rearm, QStringList{"Cliente Padaria Está Desarmado"});
    QCOMPARE(atViewer.rearm, atHolder.rearm);
    QCOMPARE(atHolder.inactivity.size(), 1);
    QVERIFY2(atHolder.inactivity[0].startsWith("Cliente 0043-Farmácia Está inativo desde"),
             qPrintable(atHolder.inactivity[0]));
    QCOMPARE(atViewer.inactivity, atHolder.inactivity);

    // Nothing more for a while: shown once, and not to a workstation that starts afterwards.
    ConsoleCore third(later.dir.path(), clock, nullptr, nullptr);
    QVERIFY2(third.start(&error), qPrintable(error));
    third.startLease();
    AlertsSeen atThird;
    third.alerts().setPresenter(&atThird);
    for (int i = 0; i < 5; ++i) {
        clock.advanceSecs(1);
        for (ConsoleCore *c : {&holder, &viewer, &third}) tickAndSettle(*c);
    }
    QCOMPARE(atViewer.rearm.size() + atViewer.inactivity.size(), 2);
    QVERIFY(atThird.rearm.isEmpty() && atThird.inactivity.isEmpty());
    QCOMPARE(count(db, "select count(*) from ALERTAS_SUPERVISAO"), 2);
}

// Frames waiting for the repeater are on the server too: a holder that stops answering leaves
// them to the standby, which forwards them; the old holder, once back, forwards none of them.
void TestDatabaseServer::theRepeatersFramesGoWithReception() {
    const QString file = m_server.dataFolder() + "/REPETIDORA.FDB";
    const QString standby = "[Estacao]\r\nNome=RESERVA\r\nRecepcao=1\r\nTempoAssumir=5\r\n";
    ProgramFolder first(bancoFor(m_server, file)), second(bancoFor(m_server, file) + standby);
    ManualClock clock(kStart);
    ConsoleCore a(first.dir.path(), clock, nullptr, nullptr);
    QString error;
    QVERIFY2(a.start(&error), qPrintable(error));
    QVERIFY(takesReception(a));
    ConsoleCore b(second.dir.path(), clock, nullptr, nullptr);
    QVERIFY2(b.start(&error), qPrintable(error));
    b.startLease();

    QSqlDatabase db = a.database().primary();
    // No slot has an event output here: a repeater left to run would drop every frame at
    // once. Held still after each tick, it leaves the queue to the test.
    auto tickHeld = [](ConsoleCore &c) {
        c.Timer_AtualizarTimer();
        c.repeater().stop();
        settle(c);
    };
    QVERIFY(a.repeaterQueue().append("1,5011 181234E13001001"));
    QVERIFY(a.repeaterQueue().append("2,5011 181234E13001002"));
    QVERIFY(a.repeaterQueue().append("1,5011 181234E13001003"));
    QVERIFY(waitFor([&] {
        tickHeld(a);
        return count(db, "select count(*) from FILA_REPETIDORA") == 3;
    }, 10000));
    // The first one forwarded: it leaves the server as well.
    a.repeaterQueue().removeHead();
    QVERIFY(waitFor([&] {
        tickHeld(a);
        tickHeld(b);
        return count(db, "select count(*) from FILA_REPETIDORA") == 2;
    }, 10000));

    // A workstation gone for good left more frames than one step takes.
    constexpr int kLeft = 1200;
    db.transaction();
    for (int i = 0; i < kLeft; ++i)
        exec(db, "insert into FILA_REPETIDORA (FILA, NUMERO, ORDEM, ESTACAO, LINHA) values "
                 "('fila-morta', :n, next value for GEN_FILA_EVENTOS, 'MORTA', :l)",
             {{":n", i}, {":l", QString("3,5011 185678E130%1").arg(i, 4, 10, QChar('0'))}});
    db.commit();

    // The holder stops renewing; the standby takes reception with the frames left.
    QVERIFY(waitFor([&] {
        tickHeld(b);
        return b.receivesHere();
    }, 20000));
    // Taken in steps on the queue's own thread.
    QVERIFY2(waitFor([&] {
        tickHeld(b);
        return b.repeaterQueue().size() == 2 + kLeft &&
               count(db, "select count(*) from FILA_REPETIDORA where FILA = 'fila-morta'") == 0;
    }, 30000), qPrintable(QString::number(b.repeaterQueue().size())));
    // In the order they came, once each; their first queue is marked taken through its last.
    QCOMPARE(b.repeaterQueue().lines().mid(0, 3),
             QList<QString>({"2,5011 181234E13001002", "1,5011 181234E13001003",
                             "3,5011 185678E1300000"}));
    QCOMPARE(b.repeaterQueue().lines().last(), QString("3,5011 185678E1301199"));
    QCOMPARE(QSet<QString>(b.repeaterQueue().lines().begin(), b.repeaterQueue().lines().end()).size(),
             2 + kLeft);
    QCOMPARE(scalar(db, "select LAST_LINE from QUEUE_MARK where QUEUE_ID = 'fila-morta'").toInt(),
             kLeft - 1);
    for (int i = 0; i < kLeft; ++i)
        b.repeaterQueue().removeHead();
    QVERIFY(waitFor([&] {
        tickHeld(a);
        return !a.receivesHere() && a.repeaterQueue().isEmpty();
    }, 15000));
    // On the server, once, as the new holder's.
    auto rows = [&] {
        QStringList r;
        for (const QVariant &v : column(db, "select FILA || ' ' || NUMERO from FILA_REPETIDORA"))
            r << v.toString();
        return r.join(", ") + " / " + b.repeaterQueue().identity();
    };
    QVERIFY2(waitFor([&] {
        tickHeld(b);
        return count(db, "select count(*) from FILA_REPETIDORA") == 2 &&
               column(db, "select distinct FILA from FILA_REPETIDORA") ==
                   QVariantList{b.repeaterQueue().identity()};
    }, 20000), qPrintable(rows()));
    b.repeaterQueue().removeHead();
    b.repeaterQueue().removeHead();
    QVERIFY(waitFor([&] {
        tickHeld(b);
        return count(db, "select count(*) from FILA_REPETIDORA") == 0;
    }, 10000));
}

// The workstation that receives holds the modules in memory: one blocked at another
// workstation is answered "-" from the next identification, on the database's event.
void TestDatabaseServer::aModuleBlockedAtAnotherWorkstationIsBlockedWhereReceptionIs() {
    const QString file = m_server.dataFolder() + "/MODULOS.FDB";
    ProgramFolder first(bancoFor(m_server, file));
    ManualClock clock(kStart);
    ConsoleCore holder(first.dir.path(), clock, nullptr, nullptr);
    QString error;
    QVERIFY2(holder.start(&error), qPrintable(error));
    QVERIFY(takesReception(holder));
    GprsRow("123456").account("0042").status("A").date(kStart).blocked(0).equipment("01")
        .password("1234").insertInto(holder.database().primary());
    GprsDirectory &modules = holder.deviceLink().gprsDirectory();
    GprsDirectory::Entry e;
    QCOMPARE(modules.find("123456", &e), GprsDirectory::Found::Yes);
    QVERIFY(!e.blocked);

    Database other(holder.database().location());
    QVERIFY2(other.open(&error), qPrintable(error));
    exec(other.primary(), "update GPRS set LISTA_NEGRA = 1 where IMEI = '123456'");
    QVERIFY(waitFor([&] {
        tickAndSettle(holder);
        return modules.find("123456", &e) == GprsDirectory::Found::Yes && e.blocked;
    }, 5000));
}
