#include "support/TestSupport.h"

#include "core/common/FileChooser.h"
#include "core/reports/AnswerTimes.h"
#include "core/settings/LiveSettings.h"
#include "ui/reports/Tempo_Atendimento.h"

#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kNow(QDate(2026, 3, 20), QTime(10, 0, 0));

struct SavePath : FileChooser {
    QString path;
    QString openFile(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFile(const QString &, const QString &, const QString &, const QString &) override {
        return path;
    }
};

struct Times : Station {
    LiveSettings settings;
    SavePath chooser;
    Form_Tempo_Atendimento f{core->common(), settings};

    Times()
        : Station(kNow) {
        f.setFileChooser(&chooser);
    }
    // An event that arrived at data and, when answerSecs >= 0, was treated that long after.
    void add(const QDateTime &data, const QString &tipo, const QString &operador, int answerSecs,
             int tratado = 1) {
        exec(db(),
             "insert into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, TIPO, DATA, DATA_INTERVENCAO, "
             "TRATADO, OPERADOR_TRATOU) values ('000001', 'CLIENTE', '1130', :t, :d, :di, :tr, :o)",
             {{":t", tipo},
              {":d", data},
              {":di", answerSecs == INT_MIN ? QVariant(QMetaType(QMetaType::QDateTime))
                                            : QVariant(data.addSecs(answerSecs))},
              {":tr", tratado},
              {":o", operador.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : operador}});
    }
    QStringList rows(const char *grid) {
        auto *g = f.findChild<QTableWidget *>(QLatin1String(grid));
        QStringList out;
        for (int r = 0; r < g->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < g->columnCount(); ++c)
                cells << g->item(r, c)->text();
            out << cells.join(QLatin1Char(' '));
        }
        return out;
    }
    void period(const QDate &from, const QDate &to) {
        f.findChild<QDateEdit *>("DataInicial")->setDate(from);
        f.findChild<QDateEdit *>("DataFinal")->setDate(to);
    }
};

} // namespace

class TestTempoAtendimento : public QObject {
    Q_OBJECT
private slots:
    void percentilesByOperatorAndType();
    void printAndExport();
};

void TestTempoAtendimento::percentilesByOperatorAndType() {
    Times t;
    const QDateTime day(QDate(2026, 3, 10), QTime(8, 0, 0));
    // ANA: ten alarms answered in 10, 20, ... 100 s.
    for (int i = 1; i <= 10; ++i)
        t.add(day.addSecs(i * 600), "ALARME", "ANA", i * 10);
    // BRUNO: a panic in 2 min 5 s, and one stamped before its arrival (a clock behind): 0.
    t.add(day.addSecs(60), "PANICO", "BRUNO", 125);
    t.add(day.addSecs(90), "PANICO", "BRUNO", -30);
    // Not answers: treated by the code itself, still pending, and outside the period (the day
    // before, and the first moment after its last day).
    t.add(day, "ALARME", "", 0);
    t.add(day, "ALARME", "", INT_MIN, 0);
    t.add(QDateTime(QDate(2026, 3, 9), QTime(23, 59, 59)), "ALARME", "ANA", 3600);
    t.add(QDateTime(QDate(2026, 3, 12), QTime(0, 0, 0)), "ALARME", "ANA", 3600);
    // The last moment of the last day is in; over an hour shows its hours.
    t.add(QDateTime(QDate(2026, 3, 11), QTime(23, 59, 59)), "FALHA", "CARLA", 3727);

    t.period(QDate(2026, 3, 10), QDate(2026, 3, 11));
    QVERIFY(t.f.calculate());
    QCOMPARE(t.rows("Grid_Operadores"),
             QStringList({"ANA 10 0:50 1:30 1:40", "BRUNO 2 0:00 2:05 2:05",
                          "CARLA 1 1:02:07 1:02:07 1:02:07"}));
    QCOMPARE(t.rows("Grid_Tipos"),
             QStringList({"ALARME 10 0:50 1:30 1:40", "FALHA 1 1:02:07 1:02:07 1:02:07",
                          "PANICO 2 0:00 2:05 2:05"}));
    QCOMPARE(t.f.findChild<QLabel *>("Lbl_Total")->text(),
             QString("Total: 13 atendimentos; p50 1:00, p90 2:05, máximo 1:02:07."));
    QVERIFY(t.f.findChild<QPushButton *>("btnExportar")->isEnabled());

    // A period without answers, and one the wrong way round.
    t.period(QDate(2026, 3, 1), QDate(2026, 3, 2));
    QVERIFY(t.f.calculate());
    QCOMPARE(t.rows("Grid_Operadores"), QStringList());
    QCOMPARE(t.f.findChild<QLabel *>("Lbl_Total")->text(),
             QString("Nenhum evento tratado por operador no período."));
    QVERIFY(!t.f.findChild<QPushButton *>("btnImprimir")->isEnabled());
    t.period(QDate(2026, 3, 5), QDate(2026, 3, 2));
    QVERIFY(!t.f.calculate());
    QCOMPARE(t.prompt.shown.last().text, QString("A data inicial é posterior à data final."));
}

void TestTempoAtendimento::printAndExport() {
    Times t;
    const QDateTime day(QDate(2026, 3, 10), QTime(8, 0, 0));
    t.add(day, "ALARME", "ANA; JR", 42);
    t.period(QDate(2026, 3, 10), QDate(2026, 3, 10));
    QVERIFY(t.f.calculate());

    t.chooser.path = t.dir.path() + "/tempos"; // the suffix is added
    QTest::mouseClick(t.f.findChild<QPushButton *>("btnExportar"), Qt::LeftButton);
    QFile csv(t.dir.path() + "/tempos.csv");
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray bytes = csv.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QString text = QString::fromUtf8(bytes);
    QVERIFY2(text.contains("Tempo de atendimento;10/03/2026 a 10/03/2026\r\n"), qPrintable(text));
    QVERIFY(text.contains("Operador;Atendidos;p50;p90;Máximo\r\n\"ANA; JR\";1;0:42;0:42;0:42\r\n"));
    QVERIFY(text.contains("Tipo;Atendidos;p50;p90;Máximo\r\nALARME;1;0:42;0:42;0:42\r\n"));

    // A folder that cannot be written: told, nothing reported as written.
    QVERIFY(!t.f.exportTo(t.dir.path() + "/nao/existe/tempos.csv"));
    QVERIFY(t.prompt.shown.last().text.startsWith("Não foi possível gravar o arquivo"));

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(t.dir.path() + "/tempos.pdf");
    t.f.printTo(&printer);
    QFile pdf(t.dir.path() + "/tempos.pdf");
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY(pdf.readAll().startsWith("%PDF"));
}

QTEST_MAIN(TestTempoAtendimento)
#include "test_tempo_atendimento.moc"
