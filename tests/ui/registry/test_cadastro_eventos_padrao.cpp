#include "support/TestSupport.h"

#include "core/common/FileChooser.h"
#include "core/common/Paths.h"
#include "ui/registry/Cadastro_Eventos_Padrao.h"
#include "core/registry/EventCodeModel.h"

#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// The catalogue window over a new station, shown without a modal loop.
struct Catalogo {
    Station s;
    ScriptedChooser chooser;
    Form_Eventos_Padrao f{s.core->common(), s.core->sound()};

    Catalogo() {
        f.setFileChooser(&chooser);
        f.show();
        if (!QTest::qWaitForWindowExposed(&f)) qFatal("window not shown");
    }
    EventCodeModel &m() { return f.model(); }
    QTableView &g() { return f.grid(); }
    int rowOf(const QString &codigo) {
        for (int r = 0; r < m().rowCount(); ++r)
            if (m().row(r).codigo() == codigo) return r;
        return -1;
    }
    // The row as committed, read on the main connection.
    QString stored(const QString &codigo) {
        return scalar(s.db(),
                      "select coalesce(DESCRICAO, '') || '|' || coalesce(TIPO, '') || '|' || "
                      "coalesce(REGISTRO_AUTOMATICO, '') || '|' || coalesce(PRIORIDADE, '') || "
                      "'|' || coalesce(ENVIO_SMS, '') || '|' || coalesce(SOM_CONTINUO, '') || "
                      "'|' || coalesce(SOM, '') from EVENTOS_PADRAO where CODIGO_EVENTO = :c",
                      {{":c", codigo}})
            .toString();
    }
    // Types text into a cell as the operator does: open the editor, type, Enter.
    void type(int row, int column, const QString &text) {
        const QModelIndex i = m().index(row, column);
        g().setCurrentIndex(i);
        g().edit(i);
        auto *e = qobject_cast<QLineEdit *>(g().indexWidget(i));
        if (!e) e = g().indexWidget(i)->findChild<QLineEdit *>();
        e->selectAll();
        QTest::keyClicks(e, text);
        QTest::keyClick(e, Qt::Key_Return);
        QCoreApplication::processEvents(); // the closed editor goes away
    }
    void leaveTo(int row) { g().setCurrentIndex(m().index(row, EventCode::Descricao)); }
    // The colour the grid painted at the right end of a row's type cell, past its digit.
    QColor painted(int row) {
        const QModelIndex i = m().index(row, EventCode::Tipo);
        g().scrollTo(i);
        const QImage img = g().viewport()->grab().toImage();
        const QRect cell = g().visualRect(i);
        return img.pixelColor(cell.right() - 4, cell.center().y());
    }
    QStringList texts() {
        QStringList l;
        for (const auto &m : s.prompt.shown)
            l << m.text;
        return l;
    }
};

} // namespace

class TestCadastroEventosPadrao : public QObject {
    Q_OBJECT
private slots:
    void newRowGetsDefaultsAndRowColours();
    void badInputIsRefusedAndKept();
    void soundChosenIsSavedAndPlayed();
    void deleteAsksAndDatabaseErrorLosesNothing();
};

void TestCadastroEventosPadrao::newRowGetsDefaultsAndRowColours() {
    Catalogo c;
    QCOMPARE(c.f.windowTitle(), QString("Codigos de Eventos"));
    QCOMPARE(c.f.windowModality(), Qt::WindowModal);
    QCOMPARE(c.f.minimumSize(), c.f.maximumSize());
    QStringList titles;
    for (int col = 0; col < c.m().columnCount(); ++col)
        titles << c.m().headerData(col, Qt::Horizontal).toString();
    QCOMPARE(titles, QStringList({"CÓDIGO", "DESCRIÇÃO", "Tipo", "Reg.Auto", "Envia SMS",
                                  "Prioridade", "Som contínuo", "Som"}));
    QCOMPARE(c.m().rowCount(), scalar(c.s.db(), "select count(*) from EVENTOS_PADRAO").toInt());

    // Insert opens a new row before the current one; only code and description are typed.
    c.g().setCurrentIndex(c.m().index(3, 0));
    QTest::keyClick(&c.g(), Qt::Key_Insert);
    QCOMPARE(c.m().editRow(), 3);
    QVERIFY(c.m().isInserting());
    c.type(3, EventCode::CodigoEvento, "9901");
    c.type(3, EventCode::Descricao, "CÓDIGO DA CASA");
    QCOMPARE(c.stored("9901"), QString()); // saved when the row is left, not before
    c.leaveTo(0);
    QCOMPARE(c.m().editRow(), -1);
    QCOMPARE(c.stored("9901"), QString("CÓDIGO DA CASA|8|1|1|||"));
    const int nova = c.rowOf("9901");
    QCOMPARE(c.m().index(nova, EventCode::Tipo).data().toString(), QString("8"));
    QCOMPARE(c.f.rowColors(nova).background, QColor(0x00, 0xFF, 0xFF));
    QCOMPARE(c.painted(nova), QColor(0x00, 0xFF, 0xFF));

    // Type 9 names no type: white; a type with a dark colour writes in white.
    c.type(nova, EventCode::Tipo, "9");
    c.leaveTo(0);
    QCOMPARE(c.stored("9901"), QString("CÓDIGO DA CASA|9|1|1|||"));
    QCOMPARE(c.painted(nova), QColor(Qt::white));
    QCOMPARE(c.f.rowColors(nova).text, c.g().palette().color(QPalette::WindowText));
    const int periodico = c.rowOf("1602");
    QCOMPARE(c.painted(periodico), QColor(0x80, 0x80, 0x80));
    QCOMPARE(c.f.rowColors(periodico).text, QColor(Qt::white));
    QCOMPARE(c.painted(c.rowOf("1301")), QColor(0x00, 0xFF, 0xFF)); // FALHAS: aqua here
    QCOMPARE(c.painted(c.rowOf("1130")), QColor(0xFF, 0x00, 0x00));

    // Down from the last row appends one; left untouched it goes away without a word.
    c.g().setCurrentIndex(c.m().index(c.m().rowCount() - 1, 0));
    const int antes = c.m().rowCount();
    QTest::keyClick(&c.g(), Qt::Key_Down);
    QCOMPARE(c.m().rowCount(), antes + 1);
    c.leaveTo(0);
    QCOMPARE(c.m().rowCount(), antes);
    QVERIFY(c.s.prompt.shown.isEmpty());
}

void TestCadastroEventosPadrao::badInputIsRefusedAndKept() {
    Catalogo c;
    const int alarme = c.rowOf("1130");
    const QString original = c.stored("1130");
    c.type(alarme, EventCode::Tipo, "ab");
    c.type(alarme, EventCode::Prioridade, "99999");
    QCOMPARE(c.texts(),
             QStringList({"\"ab\" não é um valor válido. O campo \"Tipo\" aceita números de "
                          "-32768 a 32767.",
                          "\"99999\" não é um valor válido. O campo \"Prioridade\" aceita "
                          "números de -32768 a 32767."}));
    QCOMPARE(c.m().editRow(), -1);
    QCOMPARE(c.m().index(alarme, EventCode::Tipo).data().toString(), QString("2"));
    QCOMPARE(c.stored("1130"), original);

    // A new row without a code is not saved and not lost: the grid stays on it, closing the
    // window does not drop it; Esc does.
    c.s.prompt.shown.clear();
    QTest::keyClick(&c.g(), Qt::Key_Insert);
    const int nova = c.m().editRow();
    c.type(nova, EventCode::Descricao, "SEM CÓDIGO");
    c.leaveTo(nova + 5);
    QCOMPARE(c.g().currentIndex().row(), nova);
    c.f.reject();
    QVERIFY(c.f.isVisible());
    QCOMPARE(c.texts(),
             QStringList({"Informe o código do evento.", "Informe o código do evento."}));
    QCOMPARE(c.m().index(nova, EventCode::Descricao).data().toString(), QString("SEM CÓDIGO"));

    // A code already in the catalogue is refused the same way, and the other row is intact.
    c.s.prompt.shown.clear();
    c.type(nova, EventCode::CodigoEvento, "1130");
    c.leaveTo(0);
    QCOMPARE(c.texts(), QStringList({"O código de evento \"1130\" já está cadastrado."}));
    QCOMPARE(c.stored("1130"), original);

    const int linhas = c.m().rowCount();
    c.g().setFocus();
    QTest::keyClick(&c.g(), Qt::Key_Escape);
    QCOMPARE(c.m().rowCount(), linhas - 1);
    QCOMPARE(c.m().editRow(), -1);
    QVERIFY(c.f.isVisible());
    c.f.reject();
    QVERIFY(!c.f.isVisible());
}

void TestCadastroEventosPadrao::soundChosenIsSavedAndPlayed() {
    Catalogo c;
    const int r = c.rowOf("1602");
    c.g().setCurrentIndex(c.m().index(r, EventCode::Descricao));
    c.chooser.answer = c.s.dir.path() + "/Sons/Teste.wav";
    c.f.soundButtonClick();
    QCOMPARE(c.chooser.asked, QStringList{"Som|" + Paths::resolveStoredPath("C:\\Tulmo\\Sons") +
                                            "|Arquivos de som(*.wav)"});
    QCOMPARE(c.stored("1602"), "TESTE PERIÓDICO|6|1|1|0|0|" + c.chooser.answer);
    QCOMPARE(c.m().editRow(), -1);
    QCOMPARE(c.s.sound.calls, QStringList{"once:" + c.chooser.answer});

    // Through the cell's own "..." button, on a new row that has only its code so far: the
    // row is saved with its defaults and the sound.
    QTest::keyClick(&c.g(), Qt::Key_Insert);
    const int nova = c.m().editRow();
    c.type(nova, EventCode::CodigoEvento, "9902");
    const QModelIndex som = c.m().index(nova, EventCode::Som);
    c.g().setCurrentIndex(som);
    c.g().edit(som);
    auto *button = c.g().indexWidget(som)->findChild<QToolButton *>("soundButton");
    QVERIFY(button);
    QCOMPARE(button->text(), QString("..."));
    c.chooser.answer = "/sons/outro.wav";
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(c.stored("9902"), QString("|8|1|1|||/sons/outro.wav"));
    QCOMPARE(c.s.sound.calls.last(), QString("once:/sons/outro.wav"));

    // Cancelled: nothing changes, nothing plays; a row that cannot be saved plays nothing.
    c.s.sound.calls.clear();
    c.chooser.answer.clear();
    c.g().setCurrentIndex(c.m().index(c.rowOf("1602"), 0));
    c.f.soundButtonClick();
    QCOMPARE(c.stored("1602"), "TESTE PERIÓDICO|6|1|1|0|0|" + c.s.dir.path() + "/Sons/Teste.wav");
    QTest::keyClick(&c.g(), Qt::Key_Insert);
    c.chooser.answer = "/sons/terceiro.wav";
    c.f.soundButtonClick();
    QCOMPARE(c.texts(), QStringList{"Informe o código do evento."});
    QVERIFY(c.s.sound.calls.isEmpty());
}

void TestCadastroEventosPadrao::deleteAsksAndDatabaseErrorLosesNothing() {
    Catalogo c;
    c.g().setCurrentIndex(c.m().index(c.rowOf("1602"), 0));
    c.s.prompt.answers = {false};
    QTest::keyClick(&c.g(), Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(c.s.prompt.shown.size(), 1);
    // The question names the row it would delete.
    QCOMPARE(c.s.prompt.shown[0].text, QString("Excluir o código 1602 - TESTE PERIÓDICO?"));
    QCOMPARE(c.stored("1602"), QString("TESTE PERIÓDICO|6|1|1|0|0|"));
    // A row whose description is being changed is named as stored, which is what goes.
    c.type(c.rowOf("1602"), EventCode::Descricao, "OUTRO NOME");
    QTest::keyClick(&c.g(), Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(c.s.prompt.shown.last().text, QString("Excluir o código 1602 - TESTE PERIÓDICO?"));
    c.m().cancel();
    // A new row, empty or typed into, is named as such.
    QTest::keyClick(&c.g(), Qt::Key_Insert);
    QTest::keyClick(&c.g(), Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(c.s.prompt.shown.last().text, QString("Excluir a linha nova, ainda não gravada?"));
    c.type(c.m().editRow(), EventCode::CodigoEvento, "9990");
    QTest::keyClick(&c.g(), Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(c.s.prompt.shown.last().text, QString("Excluir o código 9990, ainda não gravado?"));
    c.m().cancel();
    c.g().setCurrentIndex(c.m().index(c.rowOf("1602"), 0));
    c.s.prompt.shown.clear();
    c.s.prompt.answers = {true};
    QTest::keyClick(&c.g(), Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(c.stored("1602"), QString());
    QCOMPARE(c.rowOf("1602"), -1);

    // The database refuses the change: the operator is told, the row keeps what was typed and
    // stays current, the stored row is as it was; once the database takes it, it is saved.
    exec(c.s.db(), "CREATE EXCEPTION E_RECUSADO 'alteracao recusada'");
    exec(c.s.db(), "CREATE TRIGGER EP_RECUSA FOR EVENTOS_PADRAO BEFORE UPDATE AS BEGIN "
                   "IF (OLD.CODIGO_EVENTO = '1130') THEN EXCEPTION E_RECUSADO; END");
    const QString original = c.stored("1130");
    c.s.prompt.shown.clear();
    const int alarme = c.rowOf("1130");
    c.type(alarme, EventCode::Descricao, "ROUBO NA LOJA");
    c.type(alarme, EventCode::Prioridade, "5");
    c.leaveTo(0);
    QCOMPARE(c.s.prompt.shown.size(), 1);
    QCOMPARE(c.s.prompt.shown[0].caption, QString("ERRO"));
    QVERIFY2(
        c.s.prompt.shown[0].text.startsWith("Houve um erro ao gravar o código de evento \"1130\"."),
        qPrintable(c.s.prompt.shown[0].text));
    QCOMPARE(c.stored("1130"), original);
    QCOMPARE(c.m().editRow(), alarme);
    QCOMPARE(c.g().currentIndex().row(), alarme);
    QCOMPARE(c.m().index(alarme, EventCode::Descricao).data().toString(), QString("ROUBO NA LOJA"));

    exec(c.s.db(), "DROP TRIGGER EP_RECUSA");
    c.f.reject(); // closing saves the row being edited
    QVERIFY(!c.f.isVisible());
    QCOMPARE(c.stored("1130"),
             QString("ROUBO NA LOJA|2|0|5|1|1|") + "C:\\Tulmo\\Sons\\P1Sound.wav");
    // The recording reads the saved row at once.
    QCOMPARE(c.s.record(eventLine("1130", "10:00:00")).status, RecordResult::Status::Stored);
    QVERIFY(c.s.last("DESCRICAO").toString().startsWith("ROUBO NA LOJA"));
    QCOMPARE(c.s.last("PRIORIDADE").toInt(), 5);
}

QTEST_MAIN(TestCadastroEventosPadrao)
#include "test_cadastro_eventos_padrao.moc"
