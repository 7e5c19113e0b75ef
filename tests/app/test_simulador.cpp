#include "support/TestSupport.h"
#include "support/Workstations.h"

#include "core/console/ConsoleCore.h"

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
    void badOptionsAreToldInPortuguese();
};

void TestSimulador::aFleetIsAnsweredAndRecordedAsItReports_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("atLeast");
    QTest::newRow("normal") << QStringList{"--eventos-por-segundo", "100", "--duracao", "3"} << 250;
    QTest::newRow("rajada") << QStringList{"--cenario", "rajada", "--eventos-por-modulo", "30",
                                           "--duracao", "2"}
                            << 600;
    QTest::newRow("queda-de-energia")
        << QStringList{"--cenario", "queda-de-energia", "--modulos", "20", "--duracao", "1"} << 40;
    QTest::newRow("disparo") << QStringList{"--cenario", "disparo", "--eventos-por-segundo", "5",
                                            "--duracao", "3"}
                             << 15;
    QTest::newRow("link-lento") << QStringList{"--cenario", "link-lento", "--eventos-por-segundo",
                                               "20", "--duracao", "3"}
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
                    "--saida", out.path() + "/enviados.csv"};
    if (!args.contains("--modulos")) all << "--modulos" << QString::number(kModules);
    sim.start(TULMO_SIMULADOR_EXE, all + args);
    QVERIFY(sim.waitForStarted());
    QVERIFY(waitFor([&] {
        tickAndSettle(*s.core);
        return sim.state() == QProcess::NotRunning;
    }, 60000));
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
    QVERIFY(waitFor([&] {
        tickAndSettle(*s.core);
        return s.eventCount() >= lines.size();
    }, 20000));
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
    if (tag == "disparo")
        QVERIFY(recordedZones(db, "1001").size() > 2 * recordedZones(db, "1002").size());
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
    QVERIFY(QString::fromUtf8(sim.readAllStandardError()).contains("cenário desconhecido: \"tornado\""));
}

QTEST_GUILESS_MAIN(TestSimulador)
#include "test_simulador.moc"
