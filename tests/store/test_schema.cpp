#include "support/TestSupport.h"

#include "store/Banco.h"
#include "store/schema.h"

#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

class TestSchema : public QObject {
    Q_OBJECT
private slots:
    void newInstallationHasFullLayout();
};

void TestSchema::newInstallationHasFullLayout() {
    QTemporaryDir dir;
    Banco banco(dir.filePath("Dados/TULMO.FDB"));
    QString error;
    QVERIFY2(banco.open(&error), qPrintable(error));
    QVERIFY(banco.created());
    schema::upgradeDataModuleStep(banco.principal(), banco.secundaria());
    schema::upgradeMainWindowStep(banco.principal(), QDateTime::currentDateTime());
    QVERIFY(schema::Existe_Campo(banco.principal(), "CLIENTES", "ultimo_evento"));
    QVERIFY(!schema::Existe_Campo(banco.principal(), "NAO_EXISTE", "X"));
    QCOMPARE(scalar(banco.principal(), "select count(*) from OPERADORES").toInt(), 1);
}

QTEST_GUILESS_MAIN(TestSchema)
#include "test_schema.moc"
