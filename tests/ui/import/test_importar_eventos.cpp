#include "support/TestSupport.h"

#include "core/import/ImportListModel.h"
#include "ui/import/Importar_Eventos.h"
#include "ui/import/SerialPortDialog.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// An event record of a receiver's file: account 1020 ("1A2A"), code 1130, partition 01, zone
// zone, on 1 January 2024 at 13:45:second.
QByteArray record(int zone, int second, char type = '4') {
    const QString digits = QString("1") + type + "1A2A" + "00" + "1" + "13A" + "A1" +
                           QString("%1").arg(zone, 3, 10, QChar('0')) + "AAA" + "AAAAAAAAAA" + "A" +
                           QString(23, '0') + "223E" + "0D2D" +
                           QString("%1").arg(second, 2, 16, QChar('0'));
    return QByteArray::fromHex(digits.toLatin1());
}

struct Window : Station {
    QWidget main;
    ScriptedChooser chooser;
    Form_Importar_Eventos f{core->common(), core->recorder(), core->eventQueue(), core->pump(),
                            core->dataDir(), &main};

    Window() {
        addAccount("001020", "JOAO SILVA");
        addCode("1130", "DISPARO", 2);
        f.setFileChooser(&chooser);
        f.show();
    }
    template <typename W> W *w(const char *nome) { return f.findChild<W *>(QLatin1String(nome)); }
    void click(const char *nome) { QTest::mouseClick(w<QPushButton>(nome), Qt::LeftButton); }
    QString label() { return w<QLabel>("Label1")->text(); }
    bool idle() {
        return waitFor([&] { return !f.busy(); }, 20000);
    }
    QString file(const QByteArray &bytes) {
        const QString path = dir.filePath("memoria.ORB");
        QFile out(path);
        out.open(QIODevice::WriteOnly);
        out.write(bytes);
        chooser.answer = path;
        return path;
    }
    void import(const QByteArray &bytes) {
        file(bytes);
        click("Button1");
        QVERIFY(idle());
    }
};

} // namespace

class TestImportarEventos : public QObject {
    Q_OBJECT
private slots:
    void importRecordAndImportAgain();
    void exportSendsCheckedFramesOneByOne();
};

void TestImportarEventos::importRecordAndImportAgain() {
    Window s;
    QCOMPARE(s.f.windowTitle(), QString("Importar Eventos"));
    QVERIFY(!s.w<QProgressBar>("G_Progresso")->isVisible());
    QVERIFY(!s.w<QLabel>("Label1")->isVisible());
    QTest::mouseClick(s.w<QRadioButton>("fileTime"), Qt::LeftButton);
    s.import(record(1, 1) + record(2, 2) + record(3, 3, '1') + record(4, 4));
    QCOMPARE(s.chooser.asked.size(), 1);
    QVERIFY(s.chooser.asked.first().endsWith("|Arquivos de Eventos (*.ORB *.TVL *.orb *.tvl)"));
    QCOMPARE(s.label(), QString("Número de Eventos Importados = 3"));
    QVERIFY(s.w<QProgressBar>("G_Progresso")->isVisible());
    QVERIFY(s.w<QProgressBar>("G_Progresso")->styleSheet().contains("blue"));
    QTableView *grid = s.w<QTableView>("Grid_Eventos_Importados");
    QStringList titles;
    for (int c = 0; c < grid->model()->columnCount(); ++c)
        titles << grid->model()->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(titles, ImportListModel::titles());
    QCOMPARE(titles.size(), 12);
    QCOMPARE(s.f.list().row(2).data, QString("01/01/2024 13:45:04"));
    // The time shows whole, and so does a description of its 60 characters.
    const QFontMetrics fm(grid->font());
    QVERIFY(grid->columnWidth(ImportListModel::Data) > fm.horizontalAdvance("01/01/2024 13:45:04"));
    QVERIFY(grid->columnWidth(ImportListModel::Descricao) >
            fm.horizontalAdvance("ALARME ROUBO SALA DE ESTAR E COZINHA DO SEGUNDO ANDAR FUNDOS"));

    // The "Conta" title turns every check box over; another title does nothing.
    auto checked = [&] { return s.f.list().checkedRows().size(); };
    QCOMPARE(checked(), 3);
    emit grid->horizontalHeader()->sectionClicked(0);
    QCOMPARE(checked(), 0);
    emit grid->horizontalHeader()->sectionClicked(2);
    QCOMPARE(checked(), 0);
    emit grid->horizontalHeader()->sectionClicked(0);
    QCOMPARE(checked(), 3);

    // The unchecked event stays out of the database and is listed again.
    s.f.list().setData(s.f.list().index(1, ImportListModel::Conta), Qt::Unchecked,
                       Qt::CheckStateRole);
    s.click("Button2");
    QVERIFY(s.idle());
    QCOMPARE(s.eventCount(), 2);
    QCOMPARE(s.label(), QString("Número de Eventos Importados = 1"));
    QCOMPARE(s.f.list().row(0).argumento, QString("002"));
    s.click("Button2");
    QVERIFY(s.idle());
    QCOMPARE(s.eventCount(), 3);
    QCOMPARE(s.label(), QString("Número de Eventos Importados = 0"));
    QCOMPARE(column(s.db(), "select DATA from EVENTOS order by ARGUMENTO").last().toDateTime(),
             QDateTime(QDate(2024, 1, 1), QTime(13, 45, 4)));
    QVERIFY(s.prompt.shown.isEmpty());

    // A file cut short: the operator is told which record, the rest is listed.
    s.import(record(5, 5) + record(6, 6).left(20));
    QCOMPARE(s.label(), QString("Número de Eventos Importados = 1"));
    QCOMPARE(s.prompt.shown.size(), 1);
    QCOMPARE(s.prompt.shown.last().caption, QString("Importar Eventos"));
    QVERIFY(s.prompt.shown.last().text.contains(
        "registro 2 (posição 32): o arquivo termina no meio do registro (20 de 32 bytes)"));

    // Shown again, the window starts empty.
    s.f.hide();
    s.f.show();
    QCOMPARE(s.f.list().rowCount(), 0);
    QVERIFY(!s.w<QLabel>("Label1")->isVisible());
}

// Each checked event leaves as its receiver frame, in list order, the next once the other side
// has acknowledged the one before.
void TestImportarEventos::exportSendsCheckedFramesOneByOne() {
    Window s;
    Pty pty;
    QVERIFY(pty.ok());
    mapPort(s.core->dataDir(), 5, pty.slavePath());
    s.import(record(1, 1) + record(2, 2) + record(3, 3));
    QCOMPARE(s.f.list().rowCount(), 3);
    s.f.list().setData(s.f.list().index(1, ImportListModel::Conta), Qt::Unchecked,
                       Qt::CheckStateRole);
    bool dialogSeen = false;
    QTimer::singleShot(0, &s.f, [&] {
        auto *d = qobject_cast<SerialPortDialog *>(QApplication::activeModalWidget());
        if (!d) return;
        dialogSeen = true;
        d->setPortaCom(4); // COM5
        d->accept();
    });
    s.click("Button3");
    QVERIFY(dialogSeen);
    const QByteArray first = s.f.list().row(0).string1.toLatin1();
    const QByteArray third = s.f.list().row(2).string1.toLatin1();
    QCOMPARE(first, QByteArray("5011 181020E1300100100000000000000\x14"));
    QCOMPARE(pty.readAll(2000, first.size()), first);
    QCOMPARE(pty.readAll(150), QByteArray()); // nothing more before the acknowledgement
    QVERIFY(pty.write("\x06"));
    QCOMPARE(pty.readAll(2000, third.size()), third);
    QVERIFY(pty.write("\x06"));
    QVERIFY(s.idle());
    QVERIFY(s.w<QProgressBar>("G_Progresso")->styleSheet().contains("blue"));
    QCOMPARE(s.w<QProgressBar>("G_Progresso")->value(), 2);
    QVERIFY(s.prompt.shown.isEmpty());
}

QTEST_MAIN(TestImportarEventos)
#include "test_importar_eventos.moc"
