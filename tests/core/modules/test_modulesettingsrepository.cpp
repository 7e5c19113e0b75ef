#include "support/TestSupport.h"

#include "core/modules/ModuleSettingsRepository.h"

#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

class TestModuleSettingsRepository : public QObject {
    Q_OBJECT
private slots:
    void rowIsReadWrittenAndReadAgain();
};

void TestModuleSettingsRepository::rowIsReadWrittenAndReadAgain() {
    Station s;
    GprsRow("123456").status("P").blocked(1).equipment("1").password("60418273").insertInto(s.db());
    ModuleSettingsRepository::Load loaded;

    // A row registered by the device link: the columns' own defaults.
    ModuleSettings m;
    QString error;
    QCOMPARE(ModuleSettingsRepository::load(s.db(), "123456", &m, &error),
             ModuleSettingsRepository::Load::Found);
    QCOMPARE(m.senhaAcesso, QStringLiteral("60418273"));
    QCOMPARE(m.equipamento, QStringLiteral("1"));
    QCOMPARE(m.canalMinimo[0], 0);
    QCOMPARE(m.canalMaximo[11], 255);
    QCOMPARE(m.canalUnidade[4], QString());
    QCOMPARE(m.tipoPgm[7], 0);
    QCOMPARE(m.tempoPgm[0], 1);

    for (int n = 0; n < kChannels; ++n) {
        m.canalMinimo[n] = -10 * n;
        m.canalMaximo[n] = 100 + n;
        m.canalUnidade[n] = n == 2 ? QStringLiteral("°C") : QStringLiteral("Volts");
    }
    m.canalUnidade[3] = QStringLiteral("Quilopascal"); // 11 letters: the column holds 10
    m.tipoPgm = {0, 1, 2, 0, 1, 2, 0, 1};
    m.tempoPgm = {2, 300, 3, 4, 5, 6, 7, 32767};
    m.equipamento = QStringLiteral("2");
    m.senhaAcesso = QStringLiteral("4321");
    QCOMPARE(ModuleSettingsRepository::save(s.db(), m, &error),
             ModuleSettingsRepository::Save::Saved);
    QCOMPARE(scalar(s.db(), "select CANAL3_UNIDADE from GPRS").toString().trimmed(),
             QStringLiteral("°C"));
    QCOMPARE(scalar(s.db(), "select STATUS from GPRS").toString(), QStringLiteral("P"));

    ModuleSettings again;
    loaded = ModuleSettingsRepository::load(s.db(), "123456", &again, &error);
    QCOMPARE(loaded, ModuleSettingsRepository::Load::Found);
    QCOMPARE(again.canalUnidade[3], QStringLiteral("Quilopasca"));
    again.canalUnidade[3] = m.canalUnidade[3];
    QCOMPARE(again.canalMinimo, m.canalMinimo);
    QCOMPARE(again.canalMaximo, m.canalMaximo);
    QCOMPARE(again.canalUnidade, m.canalUnidade);
    QCOMPARE(again.tipoPgm, m.tipoPgm);
    QCOMPARE(again.tempoPgm, m.tempoPgm);
    QCOMPARE(again.senhaAcesso, QStringLiteral("4321"));
    QCOMPARE(again.equipamento, QStringLiteral("2"));

    // No row: the editor's blanks; saving writes nothing.
    QCOMPARE(ModuleSettingsRepository::load(s.db(), "999999", &again, &error),
             ModuleSettingsRepository::Load::Missing);
    QCOMPARE(again.canalMaximo[0], 0);
    QCOMPARE(again.tempoPgm[3], 1);
    again.canalMaximo[0] = 50;
    QCOMPARE(ModuleSettingsRepository::save(s.db(), again, &error),
             ModuleSettingsRepository::Save::Missing);
    QCOMPARE(scalar(s.db(), "select count(*) from GPRS").toInt(), 1);

    // A value the column cannot hold fails as a whole: nothing of the row changes.
    m.canalMaximo[0] = 999;
    m.tempoPgm[0] = 40000;
    // (The driver would wrap 40000 into the SMALLINT column as -25536 without a word.)
    QCOMPARE(ModuleSettingsRepository::save(s.db(), m, &error),
             ModuleSettingsRepository::Save::Failed);
    QVERIFY2(error.contains(QStringLiteral("40000")), qPrintable(error));
    QCOMPARE(scalar(s.db(), "select CANAL1_MAXIMO from GPRS").toInt(), 100);

    // The statement as the console has always written it, line by line.
    const QStringList lines = ModuleSettingsRepository::updateStatement().split('\n');
    QCOMPARE(lines.size(), 1 + 6 + 6 + 6 + 4 + 4 + 1);
    QCOMPARE(lines[0], QStringLiteral("Update GPRS Set EQUIPAMENTO =:equipamento, "
                                      "SENHA_ACESSO =:senha_acesso, "));
    QCOMPARE(lines[1], QStringLiteral("CANAL1_MAXIMO =:canal1_maximo, "
                                      "CANAL2_MAXIMO =:canal2_maximo, "));
    QCOMPARE(lines[12], QStringLiteral("CANAL11_MINIMO =:canal11_minimo, "
                                       "CANAL12_MINIMO =:canal12_minimo, "));
    QCOMPARE(lines[13], QStringLiteral("CANAL1_UNIDADE =:canal1_unidade, "
                                       "CANAL2_UNIDADE =:canal2_unidade, "));
    QCOMPARE(lines[22], QStringLiteral("TIPO_PGM7 =:tipo_pgm7, TIPO_PGM8 =:tipo_pgm8, "));
    QCOMPARE(lines[26], QStringLiteral("TEMPO_PGM7 =:tempo_pgm7, TEMPO_PGM8 =:tempo_pgm8 "));
    QCOMPARE(lines[27], QStringLiteral("where IMEI =:imei"));
}

QTEST_GUILESS_MAIN(TestModuleSettingsRepository)
#include "test_modulesettingsrepository.moc"
