#include "console/MessagePrompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using namespace tulmo;

namespace {
QList<QMessageBox *> shownBoxes() {
    QList<QMessageBox *> boxes;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *b = qobject_cast<QMessageBox *>(w); b && b->isVisible()) boxes << b;
    return boxes;
}
} // namespace

// Alerts wait for the operator without holding the console: the call returns at once, the box
// blocks no window, and alerts show one at a time in the order they came.
class TestMessagePrompt : public QObject {
    Q_OBJECT
private slots:
    void alertsShowOneAtATimeWithoutBlocking() {
        QWidget main;
        main.show();
        MessagePrompt prompt(&main);
        QStringList closed;
        prompt.alert("Cliente JOSE Está Desarmado", "Tulmo", Prompt::Icon::Warning,
                     [&] { closed << "rearme"; });
        prompt.alert("Cliente 000042-ANA Está inativo desde 01/03/2026 10:00:00", "Tulmo",
                     Prompt::Icon::Warning, [&] { closed << "inativo"; });
        QVERIFY(closed.isEmpty()); // returned without waiting
        QCOMPARE(shownBoxes().size(), 1);
        QMessageBox *first = shownBoxes().first();
        QCOMPARE(first->text(), QString("Cliente JOSE Está Desarmado"));
        QCOMPARE(first->windowModality(), Qt::NonModal);
        QVERIFY(!QApplication::activeModalWidget());

        first->button(QMessageBox::Ok)->click();
        QCOMPARE(closed, QStringList({"rearme"}));
        QTRY_COMPARE(shownBoxes().size(), 1);
        QVERIFY(shownBoxes().first()->text().startsWith("Cliente 000042-ANA"));
        shownBoxes().first()->button(QMessageBox::Ok)->click();
        QCOMPARE(closed, QStringList({"rearme", "inativo"}));
        QTRY_COMPARE(shownBoxes().size(), 0);
    }
};

QTEST_MAIN(TestMessagePrompt)
#include "test_messageprompt.moc"
