#include "support/TestSupport.h"

#include "core/console/ConsoleCore.h"
#include "core/events/EventLine.h"
#include "core/events/EventRecorder.h"
#include "core/events/StationModes.h"
#include "core/operators/AuditTrail.h"
#include "core/operators/Permissions.h"

#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kStart(QDate(2026, 3, 8), QTime(22, 15, 0));

int count(QSqlDatabase db, const QString &sql) { return scalar(db, sql).toInt(); }

// An event of the account and zone received now, as the receivers' lines carry it.
QString line(const QDateTime &at, const QString &codigo, const QString &conta = "1234",
             int zona = 3) {
    return eventline::build("01", "1", conta, "1", codigo, QString::number(zona).rightJustified(3, '0'),
                            at.toString("dd/MM/yy"), at.toString("HH:mm:ss"));
}

struct Stored {
    int tratado;
    QString supressao;
};
Stored lastOf(Station &s) {
    return {s.last("TRATADO").toInt(), s.last("SUPRESSAO").toString().trimmed()};
}

} // namespace

class TestStationModes : public QObject {
    Q_OBJECT
private slots:
    void anAccountOnTestIsRecordedMarkedAndSilentUntilItsTestEndsByItself();
    void theStormModeHoldsRoutineSignalsBackButNotAlarms();
};

void TestStationModes::anAccountOnTestIsRecordedMarkedAndSilentUntilItsTestEndsByItself() {
    // The operator's permission sets how long; the zones typed are read as numbers.
    QCOMPARE(stationModes::maxTestMinutes(Permissions::Clientes), 0);
    QCOMPARE(stationModes::maxTestMinutes(Permissions::Testes), 240);
    QCOMPARE(stationModes::maxTestMinutes(Permissions::Testes | Permissions::TestesLongos), 4320);
    QCOMPARE(stationModes::parseZones(" 12, 3;5 3"), (QList<int>{3, 5, 12}));
    QCOMPARE(stationModes::parseZones(""), QList<int>());
    QVERIFY(!stationModes::parseZones("3, x"));
    QVERIFY(!stationModes::parseZones("0"));

    Station s(kStart);
    QSqlDatabase db = s.db();
    s.addAccount("001234", "JOSE");
    s.addAccount("005555", "MARIA");
    s.addCode("1130", "ROUBO", 2, 0, 1, "roubo.wav");
    auto sounds = [&] { return int(s.sound.calls.count("once:roubo.wav")); };
    audit::setOperator("ana");

    QString error;
    const QDateTime now = s.clock.now();
    QVERIFY(!stationModes::startTest(db, {"9999", {}, now, now.addSecs(1800), "ana"}, &error));
    QVERIFY2(error.contains("009999 não está cadastrada"), qPrintable(error));
    QCOMPARE(count(db, "select count(*) from AUDITORIA"), 0);
    QVERIFY(stationModes::startTest(db, {"1234", {}, now, now.addSecs(1800), "ana"}, &error));
    QVERIFY(stationModes::startTest(db, {"5555", {5}, now, now.addSecs(1800), "ana"}, &error));
    QCOMPARE(count(db, "select count(*) from AUDITORIA where ACAO = 'Conta em teste' and "
                       "OPERADOR = 'ana'"),
             2);
    const auto listed = stationModes::tests(db);
    QCOMPARE(listed->size(), qsizetype(2));
    QCOMPARE(listed->at(1).zonas, QList<int>{5});

    // The whole account: recorded, treated, marked, silent.
    QCOMPARE(s.record(line(s.clock.now(), "1130")).status, RecordResult::Status::Stored);
    QCOMPARE(lastOf(s).tratado, 1);
    QCOMPARE(lastOf(s).supressao, QString("TESTE"));
    QCOMPARE(sounds(), 0);
    // Zone 5 only: zone 3 raises as always, zone 5 does not.
    s.record(line(s.clock.now(), "1130", "5555", 3));
    QCOMPARE(lastOf(s).tratado, 0);
    QVERIFY(lastOf(s).supressao.isEmpty());
    QCOMPARE(sounds(), 1);
    s.record(line(s.clock.now(), "1130", "5555", 5));
    QCOMPARE(lastOf(s).supressao, QString("TESTE"));
    QCOMPARE(sounds(), 1);

    // Its time comes on the test clock: the test ends by itself, told by an internal event and
    // audited without an operator; the account's next alarm raises and sounds.
    s.clock.advanceSecs(1799);
    tickAndSettle(*s.core);
    QCOMPARE(count(db, "select count(*) from CONTAS_TESTE"), 2);
    s.clock.advanceSecs(1);
    tickAndSettle(*s.core);
    QVERIFY(waitFor([&] {
        tickAndSettle(*s.core);
        return count(db, "select count(*) from EVENTOS where DESCRICAO = 'Conta 001234 saiu do "
                         "teste: tempo de teste encerrado' and TRATADO = 0") == 1;
    }));
    QCOMPARE(count(db, "select count(*) from CONTAS_TESTE"), 0);
    QCOMPARE(count(db, "select count(*) from AUDITORIA where ACAO = 'Fim do teste' and OPERADOR "
                       "is null"),
             2);
    s.record(line(s.clock.now(), "1130"));
    QCOMPARE(lastOf(s).tratado, 0);
    QCOMPARE(sounds(), 2);

    // Ended by an operator before its time.
    QVERIFY(stationModes::startTest(db, {"1234", {}, s.clock.now(), s.clock.now().addSecs(600), "ana"},
                                    &error));
    QVERIFY(stationModes::endTest(db, "1234", &error));
    QCOMPARE(count(db, "select count(*) from CONTAS_TESTE"), 0);
    QCOMPARE(count(db, "select count(*) from AUDITORIA where ACAO = 'Fim do teste' and OPERADOR "
                       "= 'ana'"),
             1);
}

void TestStationModes::theStormModeHoldsRoutineSignalsBackButNotAlarms() {
    Station s(kStart);
    QSqlDatabase db = s.db();
    s.addAccount("001234", "JOSE");
    s.addCode("1130", "ROUBO", 2, 0, 1, "roubo.wav");
    s.addCode("1120", "PANICO", 5, 0, 1, "panico.wav");
    s.addCode("1301", "FALTA DE ENERGIA", 8, 0, 2, "falha.wav");
    s.addCode("3301", "ENERGIA RESTAURADA", 3, 0, 3, "falha.wav");
    s.addCode("1602", "TESTE PERIODICO", 6, 0, 3, "falha.wav");
    audit::setOperator("ana");
    QString error;
    QVERIFY(stationModes::setStorm(db, true, s.clock.now(), "ana", &error));
    QVERIFY(stationModes::storm(db)->active);
    QCOMPARE(stationModes::storm(db)->operador, QString("ana"));

    for (const char *code : {"1301", "3301", "1602"}) {
        QCOMPARE(s.record(line(s.clock.now(), code)).status, RecordResult::Status::Stored);
        QCOMPARE(lastOf(s).tratado, 1);
        QCOMPARE(lastOf(s).supressao, QString("TEMPESTADE"));
    }
    QCOMPARE(s.sound.calls.count("once:falha.wav"), 0);
    for (const char *code : {"1130", "1120"}) {
        s.record(line(s.clock.now(), code));
        QCOMPARE(lastOf(s).tratado, 0);
        QVERIFY(lastOf(s).supressao.isEmpty());
    }
    QCOMPARE(s.sound.calls.count("once:roubo.wav"), 1);
    QCOMPARE(s.sound.calls.count("once:panico.wav"), 1);

    QVERIFY(stationModes::setStorm(db, false, s.clock.now(), "ana", &error));
    s.record(line(s.clock.now(), "1301"));
    QCOMPARE(lastOf(s).tratado, 0);
    QCOMPARE(s.sound.calls.count("once:falha.wav"), 1);
    QCOMPARE(count(db, "select count(*) from AUDITORIA where ACAO = 'Modo tempestade'"), 2);
    QCOMPARE(scalar(db, "select first 1 DEPOIS from AUDITORIA order by ID desc").toString().left(7),
             QString("ATIVO=0"));
}

QTEST_GUILESS_MAIN(TestStationModes)
#include "test_stationmodes.moc"
