// A station of several workstations on a real Firebird server: two tulmo-recepcao processes
// (one receives, one waits) and a console of this process that only shows. Devices report
// over TCP; the process that receives is killed in the middle of a burst, or paused, and the
// other one takes over.
#include "support/FirebirdServer.h"
#include "support/Workstations.h"
#include "support/TestSupport.h"

#include "core/common/Clock.h"
#include "core/console/ConsoleCore.h"
#include "core/store/Database.h"
#include "core/store/Schema.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <csignal>

using namespace tulmo;
using namespace tulmo::test;

namespace {

constexpr int kTakeoverSeconds = 5;

} // namespace

class TestFailover : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void theStandbyTakesOverFromAKilledHolderWithNothingLostNorDoubled();
    void aPausedHolderWhoseLeaseWasTakenRecordsNothingOnceResumed();
    void workstationsStartingTogetherOnANewDatabaseShareOneSchemaAndOneHolder();

private:
    // A new database on the server with a TCP receiver on port, the modules' registrations and
    // the burglary code; the console of this process opened on it, showing only.
    void prepare(const QString &file, quint16 port, int modules);
    FirebirdServer m_server;
    QTemporaryDir m_consoleDir;
    ScriptedPrompt m_prompt;
    std::unique_ptr<ConsoleCore> m_console;
};

void TestFailover::initTestCase() {
    QString why;
    QVERIFY2(m_server.start(&why), qPrintable(why));
}

void TestFailover::prepare(const QString &file, quint16 port, int modules) {
    m_console.reset();
    QDir(m_consoleDir.path()).removeRecursively();
    QDir().mkpath(m_consoleDir.path() + "/Dados");
    QFile f(m_consoleDir.path() + "/Dados/Config.ini");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(banco(m_server, file).toUtf8() + "[Estacao]\r\nNome=Console\r\n");
    f.close();
    m_prompt.shown.clear();
    m_console = std::make_unique<ConsoleCore>(m_consoleDir.path(), SystemClock::instance(),
                                              &m_prompt, nullptr);
    QString error;
    QVERIFY2(m_console->start(&error), qPrintable(error));
    QSqlDatabase db = m_console->database().primary();
    ReceiverRow::tcp(1, port, 0, 5).insertInto(db);
    for (int i = 1; i <= modules; ++i)
        registerModule(db, QString::number(100000 + i),
                       QString::number(100 + i).rightJustified(4, '0'));
    exec(db, "update or insert into EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO, "
             "REGISTRO_AUTOMATICO, PRIORIDADE, SOM, SOM_CONTINUO, ENVIO_SMS) values ('1130', "
             "'ALARME ROUBO', 2, 0, 1, '', 0, 0) matching (CODIGO_EVENTO)");
    m_console->startReception();
    QCOMPARE(m_console->lease()->role(), ReceptionLease::Role::Viewer);
}

// The holder dies by SIGKILL while four modules stream to it. The standby takes reception after
// the lease has not moved for its takeover time, records what the dead one had acknowledged
// and not recorded, and answers the modules when they come back. Every acknowledged event is
// in EVENTOS, in order per module; an event is there twice only when it was sent to the dead
// holder and never answered by it (its module sent it again). The console shows the takeover.
void TestFailover::theStandbyTakesOverFromAKilledHolderWithNothingLostNorDoubled() {
    const quint16 port = freePort();
    constexpr int kModules = 4, kFrames = 300;
    prepare(m_server.dataFolder() + "/FAILOVER.FDB", port, kModules);
    const QString file = m_server.dataFolder() + "/FAILOVER.FDB";
    const QString estacao = QStringLiteral("[Estacao]\r\nNome=%1\r\nTempoAssumir=%2\r\n");
    Workstation a(banco(m_server, file) + estacao.arg("Mesa-A").arg(kTakeoverSeconds));
    Workstation b(banco(m_server, file) + estacao.arg("Mesa-B").arg(kTakeoverSeconds));
    Service holder(a.exe);
    QVERIFY2(holder.waitForLine("Esta estação (Mesa-A) recebe", 30000), holder.out.constData());
    Service standby(b.exe);
    QVERIFY2(standby.waitForLine("Recepção iniciada", 30000), standby.out.constData());
    QVERIFY(waitFor([&] { return m_console->lease()->holder() == "Mesa-A"; }, 10000));

    sim::GprsFleet modules(reportingModules(port, 100001, 101, kModules));
    modules.start();
    for (int i = 0; i < kModules; ++i)
        modules.report(i, kFrames);
    constexpr int kPanelMessages = 60;
    ReportingPanel panel(port, "1234", kPanelMessages);
    QVERIFY(waitFor([&] {
        for (int i = 0; i < kModules; ++i)
            if (modules.answered(i) < 100) return false;
        return panel.acked >= 10;
    }, 30000));
    QList<int> ackedAtKill, sentAtKill;
    holder.signal(SIGKILL);
    const qint64 killedAt = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(holder.p.waitForFinished(10000));
    for (int i = 0; i < kModules; ++i) {
        ackedAtKill << modules.answered(i);
        sentAtKill << modules.sentAtMost(i);
    }
    const int panelAckedAtKill = panel.acked, panelSentAtKill = panel.sentAtMost;
    QVERIFY2(waitFor([&] {
        for (int i = 0; i < kModules; ++i)
            if (modules.answered(i) < kFrames) return false;
        return panel.acked == kPanelMessages;
    }, 60000), standby.out.constData());
    const qint64 firstAnswer = modules.firstAnswerAfter(killedAt);
    qInfo("first answer after the kill: %lld ms", firstAnswer - killedAt);
    QVERIFY(standby.out.contains("Esta estação (Mesa-B) recebe"));

    QSqlDatabase db = m_console->database().primary();
    QVERIFY2(waitFor([&] { return count(db, "select count(*) from FILA_EVENTOS") == 0; }, 20000),
             qPrintable(sharedQueueState(db)));
    for (int i = 0; i < kModules; ++i) {
        const QList<int> zones = recordedZones(db, QByteArray::number(101 + i).rightJustified(4, '0'));
        // Order is that of each frame's first recording. Frames the dead holder had made
        // durable but not answered when it died (a few, when they came in one read) are
        // recorded from its queue and again as the module sends them anew.
        int doubled = 0, last = -1;
        QSet<int> seen;
        for (int zone : zones) {
            if (seen.contains(zone)) {
                ++doubled;
                // Only what the dead holder never answered was sent again.
                QVERIFY2(zone >= ackedAtKill[i] && zone < sentAtKill[i],
                         qPrintable(QString("module %1: zone %2 twice").arg(i).arg(zone)));
                continue;
            }
            QVERIFY2(zone > last, qPrintable(QString("module %1: zone %2 after %3").arg(i).arg(zone).arg(last)));
            seen.insert(zone);
            last = zone;
        }
        QCOMPARE(zones.size() - doubled, kFrames);
        QCOMPARE(zones.first(), 0);
        QCOMPARE(zones.last(), kFrames - 1);
        QVERIFY(modules.connections(i) >= 2);
        qInfo("module %d: %d answered before the kill, %d sent, %d recorded twice", i,
              ackedAtKill[i], sentAtKill[i], doubled);
    }
    // The panel's messages likewise, each in order; one is there twice at most, the one the
    // dead holder took and did not answer.
    {
        const QList<int> zones = recordedZones(db, "1234");
        QVERIFY2(!zones.isEmpty(), qPrintable(QString::number(count(db, "select count(*) from EVENTOS"))));
        int doubled = 0, last = -1;
        QSet<int> seen;
        for (int zone : zones) {
            if (seen.contains(zone)) {
                ++doubled;
                QVERIFY(zone >= panelAckedAtKill && zone < panelSentAtKill);
                continue;
            }
            QVERIFY(zone > last);
            seen.insert(zone);
            last = zone;
        }
        QCOMPARE(zones.size() - doubled, kPanelMessages);
        QCOMPARE(zones.last(), kPanelMessages - 1);
        QVERIFY(panel.connections >= 2);
    }
    // The console, which only shows, was told.
    QVERIFY(waitFor([&] { return m_console->lease()->holder() == "Mesa-B"; }, 10000));
    QVERIFY2(m_console->status().holderText().startsWith("Recepção: Mesa-B desde"),
             qPrintable(m_console->status().holderText()));
    QVERIFY(std::any_of(m_prompt.shown.begin(), m_prompt.shown.end(), [](const auto &s) {
        return s.text.startsWith("A estação Mesa-B assumiu a recepção às");
    }));
    modules.stop();
    panel.stop();
}

// The holder is paused (SIGSTOP) right after answering a burst, before its next recording. The
// standby takes reception and records those events from the shared queue. Resumed, the old
// holder finds its lease gone: it records nothing, gives reception up and lets its port go, so
// the standby opens it and answers a module.
void TestFailover::aPausedHolderWhoseLeaseWasTakenRecordsNothingOnceResumed() {
    const quint16 port = freePort();
    const QString file = m_server.dataFolder() + "/PAUSA.FDB";
    prepare(file, port, 1);
    const QString estacao = QStringLiteral("[Estacao]\r\nNome=%1\r\nTempoAssumir=%2\r\n");
    Workstation a(banco(m_server, file) + estacao.arg("Mesa-A").arg(kTakeoverSeconds));
    Workstation b(banco(m_server, file) + estacao.arg("Mesa-B").arg(kTakeoverSeconds));
    Service holder(a.exe);
    QVERIFY2(holder.waitForLine("Esta estação (Mesa-A) recebe", 30000), holder.out.constData());
    Service standby(b.exe);
    QVERIFY2(standby.waitForLine("Recepção iniciada", 30000), standby.out.constData());

    sim::GprsFleet module(reportingModules(port, 100001, 101, 1));
    module.start();
    module.report(0, 40);
    QVERIFY(waitFor([&] { return module.answered(0) == 40; }, 20000));
    holder.signal(SIGSTOP);
    module.stop();
    QSqlDatabase db = m_console->database().primary();
    const int recordedBeforePause = count(db, "select count(*) from EVENTOS where CONTA = '000101'");
    QVERIFY2(standby.waitForLine("Esta estação (Mesa-B) recebe", 30000), standby.out.constData());
    QVERIFY(waitFor([&] { return recordedZones(db, "0101").size() == 40; }, 20000));
    qInfo("%d of 40 recorded before the pause; the rest by the standby", recordedBeforePause);

    holder.signal(SIGCONT);
    QVERIFY2(holder.waitForLine("Esta estação (Mesa-A) deixou de receber", 20000),
             holder.out.constData());
    QTest::qWait(2500);
    QList<int> zones = recordedZones(db, "0101");
    QCOMPARE(zones.size(), 40);
    for (int k = 0; k < 40; ++k)
        QCOMPARE(zones[k], k);

    // The port the paused process held is the standby's now.
    sim::GprsFleet again(reportingModules(port, 100001, 101, 1));
    again.start();
    again.report(0, 41);
    QVERIFY2(waitFor([&] { return again.answered(0) >= 1; }, 20000), standby.out.constData());
    again.stop();
    QVERIFY(waitFor([&] { return recordedZones(db, "0101").size() >= 41; }, 10000));
}

// Three workstations started at the same moment on a server without the database: one creates
// it, each upgrade finds or completes what the others did, every one starts, one receives.
void TestFailover::workstationsStartingTogetherOnANewDatabaseShareOneSchemaAndOneHolder() {
    const QString file = m_server.dataFolder() + "/JUNTAS.FDB";
    std::vector<std::unique_ptr<Workstation>> stations;
    std::vector<std::unique_ptr<Service>> services;
    for (const char *name : {"Mesa-A", "Mesa-B", "Mesa-C"})
        stations.push_back(std::make_unique<Workstation>(
            banco(m_server, file) + QString("[Estacao]\r\nNome=%1\r\n").arg(name)));
    for (const auto &w : stations)
        services.push_back(std::make_unique<Service>(w->exe));
    for (const auto &s : services)
        QVERIFY2(s->waitForLine("Recepção iniciada", 60000), s->out.constData());
    QVERIFY(waitFor([&] {
        return std::any_of(services.begin(), services.end(),
                           [](const auto &s) { return s->out.contains("recebe a partir de agora"); });
    }, 20000));
    QTest::qWait(1500);
    QCOMPARE(std::count_if(services.begin(), services.end(),
                           [](const auto &s) { return s->out.contains("recebe a partir de agora"); }),
             1);
    Database other(DatabaseLocation{"127.0.0.1", m_server.port(), file, "SYSDBA",
                                    FirebirdServer::kPassword});
    QString error;
    QVERIFY2(other.open(&error), qPrintable(error));
    QVERIFY(schema::upgradeComplete(other.primary()));
    QVERIFY(count(other.primary(), "select count(*) from EVENTOS_PADRAO") > 0);
    QCOMPARE(count(other.primary(),
                   "select count(*) - count(distinct CODIGO_EVENTO) from EVENTOS_PADRAO"), 0);
    QCOMPARE(count(other.primary(), "select count(*) from RECEPCAO_ATIVA"), 1);
}

QTEST_GUILESS_MAIN(TestFailover)
#include "test_failover.moc"
