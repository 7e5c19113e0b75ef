#include "support/TestSupport.h"
#include "support/Workstations.h"

#include "core/common/Clock.h"
#include "core/console/ConsoleCore.h"
#include "core/console/DataFolderLock.h"
#include "core/reception/ReceiverWatch.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

// The simulator's modules against a real station: every event it says was answered is in
// EVENTOS, in the order each module sent them, and its counts match what it sent.
class TestSimulador : public QObject {
    Q_OBJECT
private slots:
    void aFleetIsAnsweredAndRecordedAsItReports_data();
    void aFleetIsAnsweredAndRecordedAsItReports();
    void aPreparedStationAnswersEveryKindOfDevice();
    void aQuietReceiverIsMissedAndItsReturnTold();
    void badOptionsAreToldInPortuguese();
};

namespace {

// The simulator's report of what it sent (its --saida file), by origin.
QList<QByteArray> sentRows(const QString &file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    lines.removeFirst();
    lines.removeAll(QByteArray());
    return lines;
}

// Each account's zones as sent, in order, against what EVENTOS holds for it.
bool recordedAsSent(QSqlDatabase db, const QList<QByteArray> &rows, QString *why) {
    QMap<QByteArray, QList<int>> sent;
    for (const QByteArray &l : rows)
        sent[l.split(';').at(0)] << l.split(';').at(2).toInt();
    for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
        const QList<int> got = recordedZones(db, it.key());
        if (got != it.value()) {
            *why = QStringLiteral("conta %1: %2 enviados, %3 gravados")
                       .arg(QString::fromLatin1(it.key()))
                       .arg(it.value().size())
                       .arg(got.size());
            return false;
        }
    }
    return true;
}

// How many events EVENTOS holds for the accounts that sent rows.
int recordedOf(QSqlDatabase db, const QList<QByteArray> &rows) {
    QSet<QByteArray> accounts;
    for (const QByteArray &l : rows)
        accounts << l.split(';').at(0);
    int n = 0;
    for (const QByteArray &a : std::as_const(accounts))
        n += int(recordedZones(db, a).size());
    return n;
}

QString runSetup(const QStringList &args, int *rc) {
    QProcess p;
    p.start(TULMO_SIMULADOR_EXE, args);
    p.waitForFinished(60000);
    *rc = p.exitCode();
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

} // namespace

void TestSimulador::aFleetIsAnsweredAndRecordedAsItReports_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("atLeast");
    QTest::newRow("normal") << QStringList{"--eventos-por-segundo", "100", "--duracao", "3"} << 250;
    QTest::newRow("modulo-02") << QStringList{"--equipamento", "02", "--eventos-por-segundo", "50",
                                              "--duracao",     "2"}
                               << 60;
    QTest::newRow("rajada") << QStringList{"--cenario", "rajada",    "--eventos-por-modulo",
                                           "30",        "--duracao", "2"}
                            << 600;
    QTest::newRow("queda-de-energia")
        << QStringList{"--cenario", "queda-de-energia", "--modulos", "20", "--duracao", "1"} << 40;
    QTest::newRow("disparo") << QStringList{"--cenario", "disparo",   "--eventos-por-segundo",
                                            "5",         "--duracao", "3"}
                             << 15;
    QTest::newRow("link-lento") << QStringList{"--cenario", "link-lento", "--eventos-por-segundo",
                                               "20",        "--duracao",  "3"}
                                << 50;
}

void TestSimulador::aFleetIsAnsweredAndRecordedAsItReports() {
    QFETCH(QStringList, args);
    QFETCH(int, atLeast);
    Station s;
    const quint16 port = freePort();
    QSqlDatabase db = s.db();
    ReceiverRow::tcp(1, port, 0, 60).insertInto(db);
    constexpr int kModules = 20;
    for (int i = 0; i < kModules; ++i)
        registerModule(db, QString::number(100001 + i), QString::number(1001 + i));
    s.addCode("1130", "ALARME ROUBO", 2, 1);
    s.core->startReception();
    QTemporaryDir out;
    QProcess sim;
    QStringList all{"--servidor", QString("127.0.0.1:%1").arg(port), "--batimento", "1",
                    "--saida",    out.path() + "/enviados.csv"};
    if (!args.contains("--modulos")) all << "--modulos" << QString::number(kModules);
    sim.start(TULMO_SIMULADOR_EXE, all + args);
    QVERIFY(sim.waitForStarted());
    QVERIFY(waitFor(
        [&] {
            tickAndSettle(*s.core);
            return sim.state() == QProcess::NotRunning;
        },
        60000));
    const QString report = QString::fromUtf8(sim.readAllStandardOutput());
    QVERIFY2(sim.exitCode() == 0, qPrintable(report));
    QVERIFY2(report.contains("sem resposta: 0"), qPrintable(report));
    QVERIFY2(report.contains("identificados no fim: 20"), qPrintable(report));
    QFile f(out.path() + "/enviados.csv");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = f.readAll().split('\n');
    lines.removeFirst();
    lines.removeAll(QByteArray());
    QVERIFY2(lines.size() >= atLeast, qPrintable(report));
    QVERIFY(report.contains(QString("eventos enviados: %1, confirmados: %1,").arg(lines.size())));
    QVERIFY(waitFor(
        [&] {
            tickAndSettle(*s.core);
            return s.eventCount() >= lines.size();
        },
        20000));
    QCOMPARE(s.eventCount(), int(lines.size()));
    for (int i = 0; i < kModules; ++i) {
        const QByteArray conta = QByteArray::number(1001 + i);
        QList<int> sent;
        for (const QByteArray &l : std::as_const(lines))
            if (l.startsWith(conta + ';')) sent << l.split(';').at(2).toInt();
        QCOMPARE(recordedZones(db, conta), sent);
    }
    // What each scenario is made of reached the station as it was sent.
    auto codes = [&](const char *codigo) {
        return scalar(db, "select count(*) from EVENTOS where CODIGO_ALARME = :c",
                      {{":c", QString::fromLatin1(codigo)}})
            .toInt();
    };
    const QString tag = QTest::currentDataTag();
    if (tag == "queda-de-energia") {
        QCOMPARE(codes("1301"), kModules);
        QCOMPARE(codes("3301"), kModules);
    } else {
        QCOMPARE(codes("1130"), int(lines.size()));
    }
    if (tag == "modulo-02")
        QVERIFY(!s.core->dm().portMonitor().lines().filter(":&02100001" + QString("1001")).isEmpty());
        if (tag == "disparo")
        QVERIFY(recordedZones(db, "1001").size() > 2 * recordedZones(db, "1002").size());
}

// A new station folder, made ready by the simulator's set-up, answers GPRS modules, DC-09 panels
// over UDP (encrypted with the key the set-up gave their accounts) and over TCP on the modules'
// port, and a serial receiver on a pseudo-terminal; each account's events are recorded in the
// order sent. The set-up keeps what is there, and never touches a folder that is in use.
void TestSimulador::aPreparedStationAnswersEveryKindOfDevice() {
    QTemporaryDir dir;
    const QString tcp = QString::number(freePort()), udp = QString::number(freePort());
    const QString link = dir.path() + "/serial", key = "00112233445566778899AABBCCDDEEFF";
    const QStringList setup{"--preparar-estacao", dir.path(), "--porta",   tcp, "--porta-udp", udp,
                            "--porta-serial",     link,       "--modulos", "5", "--chave",     key,
                            "--paineis",          "3"};
    int rc = -1;
    {
        DataFolderLock held(dir.path() + "/Dados");
        QString error;
        QVERIFY(held.acquire("tulmo", &error));
        const QString out = runSetup(setup, &rc);
        QCOMPARE(rc, 2);
        QVERIFY2(out.contains("Dados/ já está em uso por tulmo"), qPrintable(out));
    }
    QString out = runSetup(setup, &rc);
    QVERIFY2(rc == 0, qPrintable(out));
    QVERIFY2(out.contains("módulos GPRS: 5 cadastrados, 0 já existiam") &&
                 out.contains("chave DC-09 gravada para 6 contas") &&
                 out.contains("receptora 3 (SIMULADOR SERIAL) criada"),
             qPrintable(out));
    out = runSetup(setup, &rc);
    QVERIFY2(rc == 0 && out.contains("0 cadastrados, 5 já existiam") &&
                 out.count("já existia)") + out.count("já existia\n") >= 3,
             qPrintable(out));

    // The receiver's device exists before the station opens it, as in the field.
    QProcess sim;
    sim.start(TULMO_SIMULADOR_EXE, {"--servidor",
                                    "127.0.0.1:" + tcp,
                                    "--modulos",
                                    "5",
                                    "--dc09-udp",
                                    "127.0.0.1:" + udp,
                                    "--dc09-tcp",
                                    "127.0.0.1:" + tcp,
                                    "--paineis",
                                    "3",
                                    "--chave",
                                    key,
                                    "--link-serial",
                                    link,
                                    "--eventos-por-segundo",
                                    "10",
                                    "--duracao",
                                    "3",
                                    "--batimento",
                                    "1",
                                    "--saida",
                                    dir.path() + "/enviados.csv"});
    QVERIFY(waitFor([&] { return QFileInfo(link).isSymLink(); }, 10000));
    ScriptedPrompt prompt;
    RecordingSound sound;
    ConsoleCore core(dir.path(), SystemClock::instance(), &prompt, &sound);
    QString error;
    QVERIFY2(core.start(&error), qPrintable(error));
    core.startReception();
    QVERIFY(waitFor(
        [&] {
            tickAndSettle(core);
            return sim.state() == QProcess::NotRunning;
        },
        60000));
    const QString report = QString::fromUtf8(sim.readAllStandardOutput());
    QVERIFY2(sim.exitCode() == 0 && report.contains("sem resposta: 0"), qPrintable(report));
    QVERIFY2(report.contains("identificados no fim: 5") &&
                 report.contains("receptora serial: identificada") &&
                 report.contains("painéis dc09-udp: 3 (respondidos: 3)") &&
                 report.contains("painéis dc09-tcp: 3 (respondidos: 3)"),
             qPrintable(report));
    const QList<QByteArray> rows = sentRows(dir.path() + "/enviados.csv");
    for (const char *origem : {";gprs", ";serial", ";dc09-udp", ";dc09-tcp"})
        QVERIFY2(std::count_if(rows.begin(), rows.end(),
                               [&](const QByteArray &l) { return l.endsWith(origem); }) >= 20,
                 origem);
    QSqlDatabase db = core.database().primary();
    QVERIFY(waitFor(
        [&] {
            tickAndSettle(core);
            return recordedOf(db, rows) >= rows.size();
        },
        20000));
    QString why;
    QVERIFY2(recordedAsSent(db, rows, &why), qPrintable(why));
}

// A serial receiver that stops talking is missed once the station has not heard it for its
// time, and its return is told; what it held while quiet is sent and recorded after.
void TestSimulador::aQuietReceiverIsMissedAndItsReturnTold() {
    Station s;
    QTemporaryDir dir;
    const QString link = dir.path() + "/serial";
    QProcess sim;
    sim.start(TULMO_SIMULADOR_EXE,
              {"--link-serial", link, "--cenario", "receptora-calada", "--silencio", "4",
               "--eventos-por-segundo", "4", "--batimento", "1", "--duracao", "2", "--saida",
               dir.path() + "/enviados.csv"});
    QVERIFY(waitFor([&] { return QFileInfo(link).isSymLink(); }, 10000));
    ReceiverRow(1)
        .name("RECEPTORA 1")
        .mode(0)
        .active(1)
        .comPort(0, 3)
        .tcpPort(0)
        .udpPort(0)
        .replyDelay(5)
        .keepAlive(5)
        .insertInto(s.db());
    mapPort(s.core->dataDir(), 1, link);
    s.core->startReception();
    auto receiverEvents = [&] {
        tickAndSettle(*s.core);
        s.core->recorder().recordInternal();
        return column(s.db(), "select DESCRICAO from EVENTOS where DESCRICAO like 'Receptora%' "
                              "order by SEQUENCIA");
    };
    QString said;
    auto saidSoFar = [&](const char *line) {
        tickAndSettle(*s.core);
        said += QString::fromUtf8(sim.readAllStandardOutput());
        return said.contains(line);
    };
    QVERIFY2(waitFor([&] { return saidSoFar("receptora serial calada"); }, 15000),
             qPrintable(said));
    QVERIFY(receiverEvents().isEmpty());
    s.clock.advanceSecs(ReceiverWatch::kSilentSeconds + 1);
    QCOMPARE(receiverEvents(), QVariantList{"Receptora 1 sem comunicação"});
    QVERIFY2(waitFor([&] { return saidSoFar("receptora serial voltou a falar"); }, 15000),
             qPrintable(said));
    QVERIFY(waitFor([&] { return receiverEvents().size() == 2; }, 5000));
    QCOMPARE(receiverEvents(), QVariantList({"Receptora 1 sem comunicação",
                                             "Receptora 1 comunicação restabelecida"}));
    QVERIFY(waitFor(
        [&] {
            tickAndSettle(*s.core);
            return sim.state() == QProcess::NotRunning;
        },
        40000));
    said += QString::fromUtf8(sim.readAllStandardOutput());
    QVERIFY2(sim.exitCode() == 0 && said.contains("sem resposta: 0"), qPrintable(said));
    const QList<QByteArray> rows = sentRows(dir.path() + "/enviados.csv");
    QVERIFY(rows.size() >= 8);
    QVERIFY(waitFor(
        [&] {
            tickAndSettle(*s.core);
            return recordedOf(s.db(), rows) >= rows.size();
        },
        20000));
    QString why;
    QVERIFY2(recordedAsSent(s.db(), rows, &why), qPrintable(why));
}

void TestSimulador::badOptionsAreToldInPortuguese() {
    QProcess sim;
    sim.start(TULMO_SIMULADOR_EXE, {"--servidor", "localhost:99999"});
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(QString::fromUtf8(sim.readAllStandardError())
                .contains("endereço inválido em --servidor: \"localhost:99999\""));
    sim.start(TULMO_SIMULADOR_EXE, {"--ajuda"});
    QVERIFY(sim.waitForFinished(10000));
    const QString help = QString::fromUtf8(sim.readAllStandardOutput());
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(help.startsWith("Uso:"));
    QVERIFY(help.contains("--eventos-por-segundo <taxa>"));
    QVERIFY(help.contains("--cenario <nome>"));
    sim.start(TULMO_SIMULADOR_EXE, {"--servidor", "127.0.0.1:1", "--cenario", "tornado"});
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(QString::fromUtf8(sim.readAllStandardError())
                .contains("cenário desconhecido: \"tornado\""));
    sim.start(TULMO_SIMULADOR_EXE, {"--servidor", "127.0.0.1:1", "--equipamento", "07"});
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(QString::fromUtf8(sim.readAllStandardError())
                .contains("--equipamento aceita 00, 01, 02, 05 ou 06"));
}

QTEST_GUILESS_MAIN(TestSimulador)
#include "test_simulador.moc"
