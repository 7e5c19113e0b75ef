#include "ui/console/MessagePrompt.h"

#include "ui/common/FileDialogChooser.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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

    // A question asked while the operator works in a window of its own (the pending events)
    // is modal to that window, in front of it; one asked from a dialog of the main window is
    // modal to the main window. Neither blocks the whole application.
    void questionsBelongToTheWindowInUse() {
        QWidget main;
        main.show();
        QWidget pendentes; // no parent: a window of its own
        pendentes.show();
        MessagePrompt prompt(&main);
        QWidget *dono = nullptr;
        Qt::WindowModality modalidade = Qt::NonModal;
        auto responder = [&] {
            QTimer::singleShot(0, &main, [&] {
                auto *b = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (!b) return;
                dono = b->parentWidget();
                modalidade = b->windowModality();
                b->button(QMessageBox::No)->click();
            });
        };
        pendentes.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &pendentes);
        responder();
        QVERIFY(!prompt.question("Deseja continuar?", "Tulmo", Prompt::Icon::Question, false));
        QCOMPARE(dono, &pendentes);
        QCOMPARE(modalidade, Qt::WindowModal);

        QDialog dialogo(&main);
        dialogo.show();
        dialogo.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &dialogo);
        responder();
        QVERIFY(!prompt.question("Deseja continuar?", "Tulmo", Prompt::Icon::Question, false));
        QCOMPARE(dono, &main);
        QCOMPARE(modalidade, Qt::WindowModal);
    }

    // The file dialogs of the console are modal to their window, never to the application.
    void fileDialogsBlockTheirWindowOnly() {
        QWidget main;
        main.show();
        FileDialogChooser chooser(&main);
        QList<Qt::WindowModality> vistos;
        for (int save = 0; save < 2; ++save) {
            QTimer::singleShot(0, &main, [&] {
                if (auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                    vistos << d->windowModality();
                    d->reject();
                }
            });
            const QString escolhido = save ? chooser.saveFile("Salvar", "a.txt", "*.txt", "txt")
                                           : chooser.openFile("Abrir", QDir::tempPath(), "*.txt");
            QVERIFY(escolhido.isEmpty());
        }
        QCOMPARE(vistos, QList<Qt::WindowModality>({Qt::WindowModal, Qt::WindowModal}));
    }
};

QTEST_MAIN(TestMessagePrompt)
#include "test_messageprompt.moc"
