#include "core/common/Translations.h"

#include <QCoreApplication>
#include <QTest>

using namespace tulmo;

// The texts Qt draws itself reach the operator in Portuguese.
class TestTranslations : public QObject {
    Q_OBJECT
private slots:
    void qtTextsArePortuguese() {
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QString("&Yes"));
        QVERIFY(installPortugueseTranslations(*QCoreApplication::instance()));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QString("&Sim"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&No"), QString("&Não"));
        QCOMPARE(QCoreApplication::translate("QWidgetTextControl", "&Copy"), QString("&Copiar"));
    }
};

QTEST_GUILESS_MAIN(TestTranslations)
#include "test_translations.moc"
