#include "support/TestSupport.h"

#include "core/common/FileChooser.h"
#include "ui/registry/Cadastro_Clientes.h"
#include "ui/registry/DigitsOnly.h"
#include "ui/registry/ScheduleGrid.h"
#include "core/registry/SubRecordModel.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QHeaderView>
#include <QTableView>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;
using Page = Form_Cadastro_Clientes::Page;

namespace {

const QDate kMonday(2026, 3, 9);

struct Cadastro {
    Station s{QDateTime(kMonday, QTime(10, 30, 0))};
    ScriptedChooser chooser;
    std::unique_ptr<Form_Cadastro_Clientes> f;

    Cadastro() { renew(); }
    // A form for the next opening, as every opening creates one.
    void renew() {
        f = std::make_unique<Form_Cadastro_Clientes>(s.core->common());
        f->setFileChooser(&chooser);
    }
    template <typename T> T *w(const char *nome) {
        T *c = f->findChild<T *>(QLatin1String(nome));
        if (!c) qFatal("no control %s", nome);
        return c;
    }
    QLineEdit *edit(const char *nome) { return w<QLineEdit>(nome); }
    void click(const char *nome) { QTest::mouseClick(w<QPushButton>(nome), Qt::LeftButton); }
    QStringList texts() const {
        QStringList l;
        for (const auto &m : s.prompt.shown)
            l << m.text;
        return l;
    }
    QString text(const char *sql) { return scalar(s.db(), sql).toString(); }
    int count(const QString &sql) { return scalar(s.db(), sql).toInt(); }
    int scheduleRows(const QString &conta) {
        return scalar(s.db(), "select count(*) from QUADRO_HORARIOS where CONTA = :c",
                      {{":c", conta}})
            .toInt();
    }
    void failOn(const QString &table, const QString &condition) {
        exec(s.db(), "CREATE EXCEPTION E_FALHA_TESTE 'falha de teste'");
        exec(s.db(), QString("CREATE TRIGGER FALHA_TESTE FOR %1 BEFORE INSERT OR UPDATE "
                             "POSITION 10 AS BEGIN IF (%2) THEN EXCEPTION E_FALHA_TESTE; END")
                         .arg(table, condition));
    }
    // The grid's colour in a cell, below where a title is written.
    QColor colourAt(int row, int column) {
        ScheduleGrid &g = f->scheduleGrid();
        const QImage shot = g.viewport()->grab().toImage();
        const QRect r = g.cellRect(row, column);
        return shot.pixelColor(r.left() + 3, r.bottom() - 3);
    }
};

void writeImage(const QString &path, const char *format) {
    QImage img(16, 12, QImage::Format_RGB32);
    img.fill(Qt::blue);
    QVERIFY(img.save(path, format));
}

// The smallest GIF: Qt reads GIF but does not write it.
void writeGif(const QString &path) {
    static const unsigned char gif[] = {'G', 'I', 'F',  '8',  '9',  'a', 1,   0, 1,   0,    0x80,
                                        0,   0,   0xff, 0xff, 0xff, 0,   0,   0, '!', 0xf9, 4,
                                        1,   0,   0,    0,    0,    ',', 0,   0, 0,   0,    1,
                                        0,   1,   0,    0,    2,    2,   'D', 1, 0,   ';'};
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char *>(gif), sizeof gif);
}

} // namespace

class TestCadastroClientes : public QObject {
    Q_OBJECT
private slots:
    void captionsPagesAndModality();
    void newAccountNumbers();
    void typedNumberPaddedAndChecked();
    void numericFieldsRefuseLetters();
    void shortNameRefusedBeforeAnyQuestion();
    void insertAccount();
    void alterAccount();
    void nothingHalfSavedOnDatabaseError();
    void subRecordGrids();
    void tabMovesBetweenFields();
    void valuesTheDatabaseCannotHold();
    void cancelLeavesNoSubRecordsOfAnUnsavedAccount();
    void schedulePageStoresComercio();
    void gravarWrites168RowsAndRearmFollows();
    void patternsMarkingAndDrawing();
    void photos();
};

void TestCadastroClientes::captionsPagesAndModality() {
    Cadastro c;
    QCOMPARE(c.f->windowTitle(), QString("Cadastro de Clientes"));
    QCOMPARE(c.f->windowModality(), Qt::WindowModal);
    auto *pages = c.w<QTabWidget>("PC_Clientes");
    const QStringList names{"TS_Basico", "TS_Imagens",   "TS_Usuarios",
                            "TS_Zonas",  "TS_Particoes", "TS_Horarios"};
    const QStringList titles{"Básico", "Imagens",   "Usuarios",
                             "Zonas",  "Partições", "Quadro de Horários"};
    QCOMPARE(pages->count(), 6);
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(pages->widget(i)->objectName(), names[i]);
        QCOMPARE(pages->tabText(i), titles[i]);
    }
    QCOMPARE(c.w<QPushButton>("Speed_Salvar")->text(), QString("SALVAR"));
    QCOMPARE(c.w<QPushButton>("Speed_Cancelar")->text(), QString("CANCELAR"));
    QCOMPARE(c.edit("Edit_Nome")->maxLength(), 40);
    QCOMPARE(c.edit("Edit_Bairro1")->maxLength(), 30);
    QCOMPARE(c.edit("Edit_Animais")->maxLength(), 10);
    QCOMPARE(c.edit("Edit_IE")->maxLength(), 12);
    QCOMPARE(c.edit("Edit_Evento_Idecall")->maxLength(), 4);
    QCOMPARE(c.edit("EditTempoInativo")->maxLength(), 5);
    QVERIFY(c.edit("Edit_Data_Cadastro")->isReadOnly());
    QVERIFY(c.edit("E_Foto_1")->isHidden());
    QVERIFY(c.edit("Edit1")->isHidden());
    // Shown before any opening, the pages neither read nor store anything.
    c.f->show();
    c.f->showPage(Page::Horarios);
    QCOMPARE(c.count("select count(*) from QUADRO_HORARIOS"), 0);
    c.f->hide();
    // Notes stop at the 400 characters of their column.
    c.w<QPlainTextEdit>("M_Obs")->setPlainText(QString(450, 'x'));
    QCOMPARE(c.w<QPlainTextEdit>("M_Obs")->toPlainText().size(), 400);

    // The sub-record grids: CONTA hidden, the titles of each table.
    auto *users = c.w<QTableView>("Grid_Usuarios");
    QVERIFY(users->isColumnHidden(0));
    QCOMPARE(users->model()->headerData(1, Qt::Horizontal).toString(),
             QString("NUMERO DO USUARIO"));
    QCOMPARE(users->model()->headerData(2, Qt::Horizontal).toString(),
             QString("DESCRIÇÃO DO USUARIO"));
    // Zones are titled like users, and each title is seen whole.
    auto *zones = c.w<QTableView>("Grid_Zonas");
    QCOMPARE(zones->model()->headerData(1, Qt::Horizontal).toString(), QString("NUMERO DA ZONA"));
    QCOMPARE(zones->model()->headerData(2, Qt::Horizontal).toString(),
             QString("DESCRIÇÃO DA ZONA"));
    const QFontMetrics header(users->horizontalHeader()->font());
    QVERIFY(users->columnWidth(1) > header.horizontalAdvance("NUMERO DO USUARIO"));
    QVERIFY(zones->columnWidth(1) > header.horizontalAdvance("NUMERO DA ZONA"));
    auto *parts = c.w<QTableView>("Grid_Particoes");
    QCOMPARE(parts->model()->headerData(1, Qt::Horizontal).toString(), QString("PARTIÇÃO"));
    QCOMPARE(parts->model()->headerData(2, Qt::Horizontal).toString(), QString("NOME DA PARTIÇÃO"));

    // The callers' entry: created for one use, freed when closed, shown without blocking.
    QPointer<Form_Cadastro_Clientes> once = Form_Cadastro_Clientes::create(c.s.core->common(), nullptr);
    QVERIFY(once->testAttribute(Qt::WA_DeleteOnClose));
    c.s.addAccount("000123", "CLIENTE ABC");
    once->openAccount("000123", Page::Horarios);
    QVERIFY(once->isVisible());
    QCOMPARE(once->currentPage(), Page::Horarios);
    QCOMPARE(once->modo(), 'A');
    QSignalSpy finished(once.data(), &QDialog::finished);
    // Esc does not drop the form: it leaves through CANCELAR.
    QTest::keyClick(once.data(), Qt::Key_Escape);
    QVERIFY(once->isVisible());
    QCOMPARE(finished.size(), 0);
    QMetaObject::invokeMethod(once->findChild<QPushButton *>("Speed_Cancelar"), "click");
    QCOMPARE(finished.size(), 1);
    QTRY_VERIFY(once.isNull());
}

void TestCadastroClientes::newAccountNumbers() {
    Cadastro c;
    QVERIFY(c.f->prepareNew());
    QCOMPARE(c.f->modo(), 'I');
    QCOMPARE(c.edit("ME_Conta")->text(), QString("000001"));
    QVERIFY(c.edit("ME_Conta")->isEnabled());
    QCOMPARE(c.f->currentPage(), Page::Basico);

    c.s.addAccount("000041", "QUARENTA E UM");
    c.s.addAccount("000003", "TRES");
    c.renew();
    QVERIFY(c.f->prepareNew());
    QCOMPARE(c.edit("ME_Conta")->text(), QString("000042"));

    c.s.addAccount("999999", "ULTIMA");
    c.renew();
    QVERIFY(c.f->prepareNew());
    QCOMPARE(c.edit("ME_Conta")->text(), QString("000000"));

    // The greatest number is no number: the operator is told, the activation stops.
    c.s.addAccount("X00001", "LETRA");
    c.renew();
    QVERIFY(!c.f->prepareNew());
    QCOMPARE(c.s.prompt.shown.last().text,
             QString("Houve um erro ao buscar o novo código de conta para o cliente."));
    QCOMPARE(c.s.prompt.shown.last().caption, QString("ERRO"));
    QCOMPARE(c.s.prompt.shown.last().icon, Prompt::Icon::Error);
    QCOMPARE(c.edit("ME_Conta")->text(), QString());
}

void TestCadastroClientes::typedNumberPaddedAndChecked() {
    Cadastro c;
    c.f->prepareNew();
    c.f->show();
    QVERIFY(QTest::qWaitForWindowActive(c.f.get()));
    QLineEdit *conta = c.edit("ME_Conta");
    conta->setFocus();
    conta->clear();
    QTest::keyClicks(conta, "42");
    QCOMPARE(conta->text(), QString("42"));
    // Leaving the field (Tab) pads it; the number is free: no word.
    QTest::keyClick(conta, Qt::Key_Tab);
    QCOMPARE(conta->text(), QString("000042"));
    QCOMPARE(c.s.prompt.shown.size(), 0);
    QVERIFY(!conta->hasFocus());

    c.s.addAccount("000042", "EXISTE");
    conta->setFocus();
    conta->clear();
    QTest::keyClicks(conta, "42");
    QTest::keyClick(conta, Qt::Key_Tab);
    QCOMPARE(conta->text(), QString("000042"));
    QCOMPARE(c.texts(), QStringList({"A conta informada já está cadastrada."}));
    QCOMPARE(c.s.prompt.shown[0].caption, QString("ATENÇÃO"));
    QCOMPARE(c.s.prompt.shown[0].icon, Prompt::Icon::Information);
    QVERIFY(conta->hasFocus());

    // Alteration: the number cannot change.
    c.renew();
    c.f->prepareAccount("000042");
    QVERIFY(!c.edit("ME_Conta")->isEnabled());
    QCOMPARE(c.edit("ME_Conta")->text(), QString("000042"));
    QVERIFY(c.f->ME_ContaExit());
    c.f->ME_ContaEnter();
    QCOMPARE(c.texts().last(), QString("A conta do cliente não poderá ser alterada."));
}

void TestCadastroClientes::numericFieldsRefuseLetters() {
    Cadastro c;
    c.f->prepareNew();
    const char *const numeric[] = {
        "ME_Conta", "ME_Telefone1", "ME_Telefone2",        "ME_Celular",      "ME_Cep1",
        "ME_Cpf",   "ME_Cnpj",      "ME_Telefone_Idecall", "EditTempoInativo"};
    for (const char *nome : numeric) {
        QLineEdit *e = c.edit(nome);
        e->clear();
        e->setCursorPosition(0);
        c.s.prompt.shown.clear();
        QTest::keyClicks(e, "a");
        QCOMPARE(c.texts(), QStringList({DigitsOnly::message()}));
        QCOMPARE(c.s.prompt.shown[0].caption, QString("ATENÇÃO"));
        QTest::keyClicks(e, "12");
        QVERIFY2(e->text().startsWith("12"), nome);
        QCOMPARE(c.s.prompt.shown.size(), 1);
    }
    // A pasted letter too.
    QApplication::clipboard()->setText("12a4");
    QLineEdit *tel = c.edit("ME_Telefone1");
    tel->clear();
    c.s.prompt.shown.clear();
    QTest::keyClick(tel, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(tel->text(), QString());
    QCOMPARE(c.texts(), QStringList({DigitsOnly::message()}));

    // The key of every sub-record grid.
    c.f->showPage(Page::Zonas);
    auto *grid = c.w<QTableView>("Grid_Zonas");
    grid->setCurrentIndex(grid->model()->index(0, SubRecordModel::KeyColumn));
    grid->edit(grid->currentIndex());
    auto *editor = grid->findChild<QLineEdit *>("EditorChave");
    QVERIFY(editor);
    c.s.prompt.shown.clear();
    QTest::keyClicks(editor, "z");
    QCOMPARE(c.texts(), QStringList({DigitsOnly::message()}));
    QTest::keyClicks(editor, "7");
    QCOMPARE(editor->text(), QString("7"));

    // Text fields take letters without a word.
    c.s.prompt.shown.clear();
    QTest::keyClicks(c.edit("Edit_Evento_Idecall"), "E130");
    QTest::keyClicks(c.edit("Edit_RG"), "12X");
    QCOMPARE(c.s.prompt.shown.size(), 0);
}

void TestCadastroClientes::shortNameRefusedBeforeAnyQuestion() {
    Cadastro c;
    c.f->prepareNew();
    c.f->show();
    c.edit("Edit_Nome")->setText("AB");
    c.s.prompt.answers = {true, true};
    c.click("Speed_Salvar");
    QCOMPARE(c.texts(), QStringList({"O nome deve conter no mínimo 3 letras."}));
    QCOMPARE(c.s.prompt.shown[0].caption, QString("NOME"));
    QCOMPARE(c.s.prompt.shown[0].icon, Prompt::Icon::Question);
    QCOMPARE(c.count("select count(*) from CLIENTES"), 0);
    QVERIFY(c.f->isVisible());
    // Blanks are no letters.
    c.edit("Edit_Nome")->setText("  AB  ");
    c.click("Speed_Salvar");
    QCOMPARE(c.s.prompt.shown.size(), 2);
    QCOMPARE(c.s.prompt.answers.size(), 2);
}

void TestCadastroClientes::insertAccount() {
    Cadastro c;
    QSignalSpy saved(c.f.get(), &Form_Cadastro_Clientes::accountSaved);
    c.f->prepareNew();
    c.f->show();
    QTest::keyClicks(c.edit("Edit_Nome"), "jose");
    QCOMPARE(c.edit("Edit_Nome")->text(), QString("JOSE"));
    c.edit("Edit_Nome")->setText("joão da silva");
    QCOMPARE(c.edit("Edit_Nome")->text(), QString("JOÃO DA SILVA"));
    QTest::keyClicks(c.edit("ME_Telefone1"), "1133334444");
    QTest::keyClicks(c.edit("ME_Cep1"), "01001000");
    QCOMPARE(c.edit("ME_Cep1")->text(), QString("01001-000"));
    QTest::keyClicks(c.edit("ME_Cpf"), "12345678901");
    QTest::keyClicks(c.edit("ME_Cnpj"), "12345678000199");
    QTest::keyClicks(c.edit("Edit_Endereco1"), "Rua das Flores, 10");
    QTest::keyClicks(c.edit("Edit_Evento_Idecall"), "E130");
    QTest::keyClicks(c.edit("ME_Telefone_Idecall"), "1133334444");
    c.w<QPlainTextEdit>("M_Obs")->setPlainText("Chave com o vizinho");
    QCOMPARE(c.edit("EditTempoInativo")->text(), QString());

    // No: nothing written, the form stays as it is.
    c.s.prompt.answers = {false};
    c.click("Speed_Salvar");
    QCOMPARE(c.texts(), QStringList({"Deseja realmente incluir a nova conta de cliente?"}));
    QCOMPARE(c.s.prompt.shown[0].caption, QString("INCLUSÃO"));
    QCOMPARE(c.count("select count(*) from CLIENTES"), 0);
    QVERIFY(c.f->isVisible());

    c.s.prompt.answers = {true};
    c.click("Speed_Salvar");
    QCOMPARE(c.s.prompt.shown.size(), 2);
    QCOMPARE(c.edit("EditTempoInativo")->text(), QString("1440"));
    QCOMPARE(c.s.accountColumn("NOME", "000001").toString(), QString("JOÃO DA SILVA"));
    QCOMPARE(c.s.accountColumn("CEP1", "000001").toString(), QString("01001000"));
    QCOMPARE(c.s.accountColumn("CPF", "000001").toString(), QString("12345678901"));
    QCOMPARE(c.s.accountColumn("CNPJ", "000001").toString(), QString("12345678000199"));
    QCOMPARE(c.s.accountColumn("TELEFONE1", "000001").toString(), QString("1133334444"));
    QCOMPARE(c.s.accountColumn("FONE_IDECALL", "000001").toString(), QString("1133334444"));
    QCOMPARE(c.s.accountColumn("EVENTO_IDECALL", "000001").toString(), QString("E130"));
    QCOMPARE(c.s.accountColumn("OBS", "000001").toString(), QString("Chave com o vizinho"));
    QCOMPARE(c.s.accountColumn("TEMPO_ATRASO", "000001").toInt(), 1440);
    QCOMPARE(c.s.accountColumn("EVENTO_ATRASADO", "000001").toInt(), 0);
    const QDateTime now(kMonday, QTime(10, 30, 0));
    QCOMPARE(c.s.accountColumn("DATA_CADASTRO", "000001").toDateTime(), now);
    QCOMPARE(c.s.accountColumn("ULTIMO_EVENTO", "000001").toDateTime(), now);
    QVERIFY(c.s.accountColumn("BAIRRO2", "000001").isNull());
    QVERIFY(c.s.accountColumn("CEP2", "000001").isNull());
    QCOMPARE(saved.size(), 1);
    QCOMPARE(saved[0][0].toString(), QString("000001"));
    QCOMPARE(saved[0][1].toBool(), true);
    QVERIFY(!c.f->isVisible());
    QCOMPARE(c.f->result(), int(QDialog::Accepted));

    // The new account is supervised at once: silent after its 1440 minutes.
    QCOMPARE(c.s.core->supervisor().TimerInativosTimer(now.addSecs(1439 * 60)), 0);
    QCOMPARE(c.s.core->supervisor().TimerInativosTimer(now.addSecs(1440 * 60)), 1);

    // A number already taken is refused before the question.
    c.renew();
    c.f->prepareNew();
    c.edit("ME_Conta")->setText("1");
    c.edit("Edit_Nome")->setText("OUTRO");
    c.s.prompt.shown.clear();
    c.s.prompt.answers = {true};
    c.click("Speed_Salvar");
    QCOMPARE(c.texts(), QStringList({"A conta informada já está cadastrada."}));
    QCOMPARE(c.count("select count(*) from CLIENTES"), 1);
}

void TestCadastroClientes::alterAccount() {
    Cadastro c;
    c.s.addAccount("000010", "MARIA");
    exec(c.s.db(),
         "update CLIENTES set BAIRRO2 = 'VILA', CEP2 = '22222222', CEP1 = '01001000', "
         "CPF = '12345678901', TEMPO_ATRASO = 60, DATA_CADASTRO = :d where CONTA = '000010'",
         {{":d", QDateTime(QDate(2020, 5, 6), QTime(7, 8, 9))}});
    QSignalSpy saved(c.f.get(), &Form_Cadastro_Clientes::accountSaved);
    QVERIFY(c.f->prepareAccount("000010"));
    c.f->show();
    QCOMPARE(c.f->modo(), 'A');
    QCOMPARE(c.edit("Edit_Nome")->text(), QString("MARIA"));
    QCOMPARE(c.edit("ME_Cep1")->text(), QString("01001-000"));
    QCOMPARE(c.edit("ME_Cpf")->text(), QString("123.456.789-01"));
    QCOMPARE(c.edit("EditTempoInativo")->text(), QString("60"));
    QCOMPARE(c.edit("Edit_Data_Cadastro")->text(), QString("06/05/2020 07:08:09"));
    QVERIFY(!c.edit("Edit1")->text().isEmpty());

    c.edit("Edit_Nome")->setText("MARIA DE SOUZA");
    c.edit("Edit_Bairro1")->setText("CENTRO");
    c.s.prompt.answers = {false};
    c.click("Speed_Salvar");
    QCOMPARE(c.texts(), QStringList({"Deseja realmente alterar os dados da conta de cliente?"}));
    QCOMPARE(c.s.prompt.shown[0].caption, QString("ALTERAÇÃO"));
    QCOMPARE(c.s.accountColumn("NOME", "000010").toString(), QString("MARIA"));

    // No default on alteration: an empty "Tempo Inativo" fails the update.
    c.edit("EditTempoInativo")->clear();
    c.s.prompt.answers = {true};
    c.click("Speed_Salvar");
    QCOMPARE(c.texts().last(), QString("Houve um erro ao alterar dados da conta de cliente.\n\n"
                                       "O campo \"Tempo Inativo\" precisa de um número."));
    QCOMPARE(c.s.prompt.shown.last().caption, QString("ERRO"));
    QCOMPARE(c.s.accountColumn("NOME", "000010").toString(), QString("MARIA"));
    QVERIFY(c.f->isVisible());
    QCOMPARE(c.edit("Edit_Nome")->text(), QString("MARIA DE SOUZA"));
    QCOMPARE(saved.size(), 0);

    c.edit("EditTempoInativo")->setText("120");
    c.s.prompt.answers = {true};
    c.click("Speed_Salvar");
    QCOMPARE(c.s.accountColumn("NOME", "000010").toString(), QString("MARIA DE SOUZA"));
    QCOMPARE(c.s.accountColumn("BAIRRO1", "000010").toString(), QString("CENTRO"));
    QCOMPARE(c.s.accountColumn("TEMPO_ATRASO", "000010").toInt(), 120);
    QVERIFY(c.s.accountColumn("BAIRRO2", "000010").isNull());
    QVERIFY(c.s.accountColumn("CEP2", "000010").isNull());
    QCOMPARE(c.s.accountColumn("CEP1", "000010").toString(), QString("01001000"));
    QCOMPARE(c.s.accountColumn("DATA_CADASTRO", "000010").toDateTime(),
             QDateTime(QDate(2020, 5, 6), QTime(7, 8, 9)));
    QCOMPARE(saved.size(), 1);
    QCOMPARE(saved[0][1].toBool(), false);
    QVERIFY(!c.f->isVisible());
}

void TestCadastroClientes::nothingHalfSavedOnDatabaseError() {
    Cadastro c;
    c.failOn("CLIENTES", "NEW.NOME = 'RECUSADO'");
    c.f->prepareNew();
    c.f->show();
    c.edit("Edit_Nome")->setText("RECUSADO");
    c.edit("ME_Telefone1")->setText("1133334444");
    // A zone typed meanwhile, not yet posted.
    c.f->showPage(Page::Zonas);
    SubRecordModel &zonas = c.f->zonas();
    QVERIFY(zonas.setData(zonas.index(0, 1), "1"));
    QVERIFY(zonas.setData(zonas.index(0, 2), "SALA"));
    c.s.prompt.answers = {true};
    c.click("Speed_Salvar");
    QCOMPARE(c.texts().last(), QString("Houve um erro ao incluir nova conta de cliente."));
    QCOMPARE(c.s.prompt.shown.last().caption, QString("ERRO"));
    QCOMPARE(c.s.prompt.shown.last().icon, Prompt::Icon::Error);
    QCOMPARE(c.count("select count(*) from CLIENTES"), 0);
    QCOMPARE(c.count("select count(*) from ZONAS"), 0);
    QVERIFY(c.f->isVisible());
    QCOMPARE(c.f->modo(), 'I');
    QCOMPARE(c.edit("Edit_Nome")->text(), QString("RECUSADO"));
    QCOMPARE(c.edit("ME_Telefone1")->text(), QString("1133334444"));

    // The operator corrects it: one row, the zone posted with it.
    c.edit("Edit_Nome")->setText("ACEITO");
    c.s.prompt.answers = {true};
    c.click("Speed_Salvar");
    QCOMPARE(c.count("select count(*) from CLIENTES"), 1);
    QCOMPARE(c.text("select DESCRICAO from ZONAS where CONTA = '000001' and ZONA = 1"),
             QString("SALA"));

    // The schedule: a failure in the middle of "Gravar" leaves the stored one whole.
    c.renew();
    c.f->prepareAccount("000001", Page::Horarios);
    QCOMPARE(c.scheduleRows("000001"), 168);
    exec(c.s.db(), "CREATE TRIGGER FALHA_QUADRO FOR QUADRO_HORARIOS BEFORE INSERT POSITION 10 AS "
                   "BEGIN IF (NEW.DIA = 'QUI' AND NEW.HORA = '15:00:00') THEN EXCEPTION "
                   "E_FALHA_TESTE; END");
    c.f->scheduleGrid().selectCells(1, 1, 7, 24);
    c.click("Botao_Marcar");
    c.s.prompt.shown.clear();
    c.click("Botao_Gravar");
    QCOMPARE(c.texts(), QStringList({"Houve um erro ao gravar o quadro de horários do cliente."}));
    QCOMPARE(c.scheduleRows("000001"), 168);
    QCOMPARE(c.count("select count(*) from QUADRO_HORARIOS where CONTA = '000001' and MARCADO = 1"),
             WeeklySchedule::pattern(WeeklySchedule::Pattern::Comercio).markedCount());
    // The marks stay on the grid for another try.
    QCOMPARE(c.f->scheduleGrid().schedule().markedCount(), 168);
}

void TestCadastroClientes::subRecordGrids() {
    Cadastro c;
    c.s.addAccount("000007", "SETE");
    c.s.addName("USUARIOS", "USUARIO", "000007", 1, "PAI");
    c.s.addName("USUARIOS", "USUARIO", "000070", 1, "OUTRA CONTA");
    c.f->prepareAccount("000007");
    c.f->show();
    c.f->showPage(Page::Usuarios);
    auto *grid = c.w<QTableView>("Grid_Usuarios");
    SubRecordModel &users = c.f->usuarios();
    QCOMPARE(users.rowCount(), 1);
    QCOMPARE(users.data(users.index(0, 2)).toString(), QString("PAI"));

    // Down on the last row appends a new row keyed by the account; typing fills it.
    grid->setFocus();
    grid->setCurrentIndex(users.index(0, 1));
    QTest::keyClick(grid, Qt::Key_Down);
    QCOMPARE(users.rowCount(), 2);
    QCOMPARE(grid->currentIndex().row(), 1);
    QCOMPARE(users.data(users.index(1, 0)).toString(), QString("000007"));
    grid->edit(users.index(1, 1));
    auto *editor = grid->findChild<QLineEdit *>("EditorChave");
    QVERIFY(editor);
    QTest::keyClicks(editor, "2");
    QTest::keyClick(editor, Qt::Key_Return);
    QVERIFY(users.setData(users.index(1, 2), "MAE"));
    QCOMPARE(c.count("select count(*) from USUARIOS where CONTA = '000007'"), 1); // not yet
    // Leaving the row posts it.
    grid->setCurrentIndex(users.index(0, 2));
    QCOMPARE(c.text("select DESCRICAO from USUARIOS where CONTA = '000007' and USUARIO = 2"),
             QString("MAE"));

    // A row posted with an empty key disappears, written nowhere.
    QTest::keyClick(grid, Qt::Key_Insert);
    QCOMPARE(users.rowCount(), 3);
    QVERIFY(users.setData(users.index(2, 2), "SEM NUMERO"));
    grid->setCurrentIndex(users.index(0, 2));
    QCOMPARE(users.rowCount(), 2);
    QCOMPARE(c.count("select count(*) from USUARIOS where DESCRICAO = 'SEM NUMERO'"), 0);

    // Rows posted stay even when the account form is then cancelled.
    QVERIFY(users.setData(users.index(0, 2), "PAI ALTERADO"));
    c.f->showPage(Page::Zonas);
    SubRecordModel &zonas = c.f->zonas();
    QCOMPARE(zonas.rowCount(), 1); // the blank row of an empty table
    QVERIFY(zonas.setData(zonas.index(0, 1), "5"));
    QVERIFY(zonas.setData(zonas.index(0, 2), "GARAGEM"));
    QVERIFY(zonas.post());
    QVERIFY(zonas.setData(zonas.index(0, 2), "NAO GRAVADA"));
    c.click("Speed_Cancelar");
    QVERIFY(!c.f->isVisible());
    QCOMPARE(c.text("select DESCRICAO from ZONAS where CONTA = '000007' and ZONA = 5"),
             QString("GARAGEM"));
    // A row still in edition is cancelled, whichever page it is on.
    QCOMPARE(c.text("select DESCRICAO from USUARIOS where CONTA = '000007' and USUARIO = 1"),
             QString("PAI"));
    QCOMPARE(c.text("select DESCRICAO from USUARIOS where CONTA = '000070'"),
             QString("OUTRA CONTA"));

    // Insertion: rows keyed by the number in ME_Conta before the account exists.
    c.renew();
    c.f->prepareNew();
    c.edit("ME_Conta")->setText("88");
    c.f->showPage(Page::Particoes);
    SubRecordModel &parts = c.f->particoes();
    QCOMPARE(parts.conta(), QString("000088"));
    QVERIFY(parts.setData(parts.index(0, 1), "1"));
    QVERIFY(parts.setData(parts.index(0, 2), "NOME PARTICAO LONGO"));
    QVERIFY(parts.post());
    QCOMPARE(c.text("select NOME_PARTICAO from PARTICOES where CONTA = '000088'"),
             QString("NOME PARTICAO LO")); // 16 characters
}

// Tab leaves the notes for the next field instead of typing into them; Shift+Tab comes back;
// a read-only field is no stop.
void TestCadastroClientes::tabMovesBetweenFields() {
    Cadastro c;
    c.f->prepareNew();
    c.f->show();
    QVERIFY(QTest::qWaitForWindowExposed(c.f.get()));
    auto *obs = c.w<QPlainTextEdit>("M_Obs");
    obs->setFocus();
    QTest::keyClicks(obs, "chave com o vizinho");
    QTest::keyClick(obs, Qt::Key_Tab);
    QCOMPARE(c.f->focusWidget(), c.edit("E_Equipamento"));
    QTest::keyClicks(c.edit("E_Equipamento"), "PAINEL");
    QTest::keyClick(c.edit("E_Equipamento"), Qt::Key_Tab);
    QCOMPARE(c.f->focusWidget(), c.edit("Edit_Evento_Idecall"));
    QTest::keyClick(c.edit("Edit_Evento_Idecall"), Qt::Key_Backtab);
    QTest::keyClick(c.edit("E_Equipamento"), Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(c.f->focusWidget(), obs);
    QCOMPARE(obs->toPlainText(), QString("chave com o vizinho"));
    QCOMPARE(c.edit("E_Equipamento")->text(), QString("PAINEL"));
    // Edit_Data_Cadastro, read-only, lies between the e-mail and the first phone.
    c.edit("Edit_Email")->setFocus();
    QTest::keyClick(c.edit("Edit_Email"), Qt::Key_Tab);
    QCOMPARE(c.f->focusWidget(), c.edit("ME_Telefone1"));
    QTest::keyClick(c.edit("ME_Telefone1"), Qt::Key_Backtab);
    QCOMPARE(c.f->focusWidget(), c.edit("Edit_Email"));
    QCOMPARE(c.edit("Edit_Data_Cadastro")->focusPolicy(), Qt::ClickFocus);
    c.edit("Edit_Data_Cadastro")->setReadOnly(false); // editable again: a stop again
    QCOMPARE(c.edit("Edit_Data_Cadastro")->focusPolicy(), Qt::StrongFocus);
}

// Numbers beyond their column are told with the field and the range, before any question,
// the value kept to correct; characters the database cannot store fail the save with the
// field named after "Houve um erro ao …".
void TestCadastroClientes::valuesTheDatabaseCannotHold() {
    Cadastro c;
    c.f->prepareNew();
    c.f->show();
    QVERIFY(QTest::qWaitForWindowExposed(c.f.get()));
    c.edit("Edit_Nome")->setText("PADARIA");
    c.edit("EditTempoInativo")->setText("99999");
    c.s.prompt.answers = {true};
    c.click("Speed_Salvar");
    QCOMPARE(c.texts(), QStringList({"O campo \"Tempo Inativo\" aceita números de 0 a 32767."}));
    QCOMPARE(c.s.prompt.shown[0].caption, QString("ATENÇÃO"));
    QCOMPARE(c.edit("EditTempoInativo")->text(), QString("99999"));
    QCOMPARE(c.f->focusWidget(), c.edit("EditTempoInativo"));
    QCOMPARE(c.count("select count(*) from CLIENTES"), 0);

    c.edit("EditTempoInativo")->setText("32767");
    c.edit("Edit_Nome")->setText("PADARIA 😀");
    c.s.prompt.shown.clear();
    c.click("Speed_Salvar");
    QCOMPARE(c.texts(), QStringList({"Deseja realmente incluir a nova conta de cliente?",
                                     "Houve um erro ao incluir nova conta de cliente.\n\n"
                                     "O nome contém um caractere que o banco não aceita: 😀"}));
    QCOMPARE(c.s.prompt.shown[1].caption, QString("ERRO"));
    QCOMPARE(c.count("select count(*) from CLIENTES"), 0);
    QVERIFY(c.f->isVisible());
    c.edit("Edit_Nome")->setText("PADARIA");

    // A zone number past a SMALLINT: told when its row is left, the row kept as typed.
    c.f->showPage(Page::Zonas);
    auto *grid = c.w<QTableView>("Grid_Zonas");
    SubRecordModel &zonas = c.f->zonas();
    grid->setFocus();
    grid->setCurrentIndex(zonas.index(0, 1));
    grid->edit(zonas.index(0, 1));
    auto *editor = grid->findChild<QLineEdit *>("EditorChave");
    QVERIFY(editor);
    QTest::keyClicks(editor, "40000");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the editor hands its text over once closed
    QVERIFY(zonas.setData(zonas.index(0, 2), "GARAGEM"));
    c.s.prompt.shown.clear();
    QTest::keyClick(grid, Qt::Key_Insert); // a new row: this one is posted first
    QCOMPARE(c.texts(), QStringList({"O campo \"NUMERO DA ZONA\" aceita números de 0 a 32767."}));
    QCOMPARE(zonas.rowCount(), 1);
    QCOMPARE(zonas.data(zonas.index(0, 1)).toString(), QString("40000"));
    QCOMPARE(grid->currentIndex().row(), 0);
    QVERIFY(zonas.setData(zonas.index(0, 1), "4"));
    QVERIFY(zonas.setData(zonas.index(0, 2), "GARAGEM 🚗"));
    c.s.prompt.shown.clear();
    QVERIFY(!zonas.post());
    QCOMPARE(c.texts(), QStringList({"Houve um erro ao gravar a zona do cliente.\n\nO campo "
                                     "\"DESCRIÇÃO DA ZONA\" contém um caractere que o banco não "
                                     "aceita: 🚗"}));
    QVERIFY(zonas.setData(zonas.index(0, 2), "GARAGEM"));
    QTest::keyClick(grid, Qt::Key_Insert);
    QCOMPARE(zonas.rowCount(), 2);
    QCOMPARE(c.count("select count(*) from ZONAS where ZONA = 4 and DESCRICAO = 'GARAGEM'"), 1);
    QCOMPARE(c.count("select count(*) from ZONAS"), 1);

    c.s.prompt.shown.clear();
    c.s.prompt.answers = {true};
    c.click("Speed_Salvar");
    QCOMPARE(c.texts(), QStringList({"Deseja realmente incluir a nova conta de cliente?"}));
    QCOMPARE(c.s.accountColumn("TEMPO_ATRASO", "000001").toInt(), 32767);

    // Leaving a row whose number is too large: the message, and the grid back on that row.
    c.s.addName("ZONAS", "ZONA", "000001", 5, "PORTA");
    c.renew();
    QVERIFY(c.f->prepareAccount("000001", Page::Zonas));
    c.f->show();
    auto *zonesGrid = c.w<QTableView>("Grid_Zonas");
    SubRecordModel &stored = c.f->zonas();
    QCOMPARE(stored.rowCount(), 2);
    zonesGrid->setCurrentIndex(stored.index(0, 1));
    QVERIFY(stored.setData(stored.index(0, 1), "50000"));
    c.s.prompt.shown.clear();
    zonesGrid->setCurrentIndex(stored.index(1, 2));
    QCOMPARE(c.texts(), QStringList({"O campo \"NUMERO DA ZONA\" aceita números de 0 a 32767."}));
    QCOMPARE(zonesGrid->currentIndex().row(), 0);
    QCOMPARE(stored.data(stored.index(0, 1)).toString(), QString("50000"));
    QCOMPARE(c.count("select count(*) from ZONAS where CONTA = '000001' and ZONA = 4"), 1);
}

// "CANCELAR" on an account never saved takes its users, zones, partitions and schedule with
// it, so the next "Novo Cliente", proposing the same number, starts empty; an account that
// exists keeps everything.
void TestCadastroClientes::cancelLeavesNoSubRecordsOfAnUnsavedAccount() {
    Cadastro c;
    c.s.addAccount("050000", "EXISTENTE");
    c.s.addName("ZONAS", "ZONA", "050000", 1, "SALA");
    auto orphans = [&](const QString &conta) {
        int n = 0;
        for (const char *t : {"ZONAS", "USUARIOS", "PARTICOES", "QUADRO_HORARIOS"})
            n += scalar(c.s.db(), QString("select count(*) from %1 where CONTA = :c").arg(t),
                        {{":c", conta}})
                     .toInt();
        return n;
    };
    auto typeRow = [](SubRecordModel &m, const char *key, const char *text) {
        QVERIFY(m.setData(m.index(0, 1), key));
        QVERIFY(m.setData(m.index(0, 2), text));
        QVERIFY(m.post());
    };
    for (int closing = 0; closing < 2; ++closing) { // CANCELAR, then the window's own close
        c.renew();
        QVERIFY(c.f->prepareNew());
        QCOMPARE(c.edit("ME_Conta")->text(), QString("050001"));
        c.f->show();
        c.f->showPage(Page::Zonas);
        QCOMPARE(c.f->zonas().key(0), QVariant()); // the blank row: nothing left from before
        typeRow(c.f->zonas(), "1", "ZONA ÓRFÃ");
        c.f->showPage(Page::Usuarios);
        typeRow(c.f->usuarios(), "2", "JOSE");
        c.f->showPage(Page::Particoes);
        typeRow(c.f->particoes(), "1", "LOJA");
        c.f->showPage(Page::Horarios);
        QCOMPARE(orphans("050001"), 3 + 168);
        if (closing == 0)
            c.click("Speed_Cancelar");
        else
            c.f->close();
        QVERIFY(!c.f->isVisible());
        QCOMPARE(orphans("050001"), 0);
        QCOMPARE(orphans("050000"), 1);
    }
    // Saved under another number than first shown: the rows of the first number go, those of
    // the account saved stay.
    c.renew();
    QVERIFY(c.f->prepareNew());
    c.f->show();
    c.f->showPage(Page::Zonas);
    typeRow(c.f->zonas(), "1", "PRIMEIRO NUMERO");
    c.f->showPage(Page::Basico);
    c.edit("ME_Conta")->setText("50009");
    c.f->showPage(Page::Zonas);
    typeRow(c.f->zonas(), "2", "SEGUNDO NUMERO");
    c.edit("Edit_Nome")->setText("NOVA CONTA");
    c.s.prompt.answers = {true};
    c.click("Speed_Salvar");
    QCOMPARE(c.count("select count(*) from CLIENTES where CONTA = '050009'"), 1);
    QCOMPARE(orphans("050001"), 0);
    QCOMPARE(c.text("select DESCRICAO from ZONAS where CONTA = '050009'"),
             QString("SEGUNDO NUMERO"));
}

void TestCadastroClientes::schedulePageStoresComercio() {
    Cadastro c;
    c.s.addAccount("000020", "VINTE");
    QCOMPARE(c.scheduleRows("000020"), 0);
    c.f->prepareAccount("000020", Page::Horarios);
    c.f->show();
    QCOMPARE(c.f->currentPage(), Page::Horarios);
    QCOMPARE(c.scheduleRows("000020"), 168);
    const WeeklySchedule comercio = WeeklySchedule::pattern(WeeklySchedule::Pattern::Comercio);
    QVERIFY(c.f->scheduleGrid().schedule() == comercio);
    QCOMPARE(c.count("select count(*) from QUADRO_HORARIOS where CONTA = '000020' and MARCADO = 1"),
             comercio.markedCount());
    auto *gauge = c.w<QProgressBar>("Barra_Armados");
    QCOMPARE(gauge->maximum(), 168);
    QCOMPARE(gauge->value(), comercio.markedCount());
    QVERIFY(c.w<QRadioButton>("RB_Comercio")->isChecked());

    // The grid's titles.
    ScheduleGrid &g = c.f->scheduleGrid();
    QCOMPARE(g.model()->rowCount(), 8);
    QCOMPARE(g.model()->columnCount(), 25);
    QCOMPARE(g.cellText(0, 0), QString("Dia / Hora"));
    QCOMPARE(g.cellText(1, 0), QString("Domingo"));
    QCOMPARE(g.cellText(3, 0), QString("Terça"));
    QCOMPARE(g.cellText(7, 0), QString("Sabado"));
    QCOMPARE(g.cellText(0, 1), QString("00"));
    QCOMPARE(g.cellText(0, 24), QString("23"));
    QCOMPARE(g.columnWidth(0), 54);
    QCOMPARE(g.columnWidth(1), 27);
    QCOMPARE(g.rowHeight(0), 27);
    QCOMPARE(g.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    // Shown again: read from the table, nothing written twice.
    c.f->showPage(Page::Basico);
    c.f->showPage(Page::Horarios);
    QCOMPARE(c.scheduleRows("000020"), 168);
    // Insertion: the number in ME_Conta.
    c.renew();
    c.f->prepareNew();
    c.edit("ME_Conta")->setText("000021");
    c.f->showPage(Page::Horarios);
    QCOMPARE(c.scheduleRows("000021"), 168);
}

void TestCadastroClientes::gravarWrites168RowsAndRearmFollows() {
    Cadastro c;
    c.s.addAccount("000030", "TRINTA");
    exec(c.s.db(), "update CLIENTES set DESARMADOS = 1 where CONTA = '000030'");
    c.f->prepareAccount("000030", Page::Horarios);
    c.f->show();
    // Comércio leaves Monday 08 unmarked: a disarmed account stays disarmed then.
    QCOMPARE(kMonday.dayOfWeek(), 1);
    const QDateTime monday0830(kMonday, QTime(8, 30, 0));
    QVERIFY(!c.s.core->supervisor().checkRearm(monday0830));

    // Monday 08 to 09 marked, Sunday all unmarked, then "Gravar".
    ScheduleGrid &g = c.f->scheduleGrid();
    g.selectCells(2, 9, 2, 10);
    c.click("Botao_Marcar");
    g.selectCells(1, 1, 1, 24);
    c.click("Botao_Desmarcar");
    const WeeklySchedule marked = g.schedule();
    QVERIFY(marked.marked(1, 8) && marked.marked(1, 9) && !marked.marked(0, 3));
    c.click("Botao_Gravar");
    QCOMPARE(c.scheduleRows("000030"), 168);
    QCOMPARE(c.count("select count(distinct HORA) from QUADRO_HORARIOS where CONTA = '000030'"),
             24);
    QCOMPARE(c.count("select count(distinct DIA) from QUADRO_HORARIOS where CONTA = '000030'"), 7);
    QCOMPARE(c.count("select count(*) from (select DIA, HORA from QUADRO_HORARIOS where CONTA = "
                     "'000030' group by DIA, HORA having count(*) = 1)"),
             168);
    QCOMPARE(
        scalar(c.s.db(), "select min(HORA) from QUADRO_HORARIOS where CONTA = '000030'").toTime(),
        QTime(0, 0));
    QCOMPARE(
        scalar(c.s.db(), "select max(HORA) from QUADRO_HORARIOS where CONTA = '000030'").toTime(),
        QTime(23, 0));
    QStringList dias;
    for (const QVariant &d : column(c.s.db(), "select distinct DIA from QUADRO_HORARIOS where "
                                              "CONTA = '000030'"))
        dias << d.toString().trimmed();
    dias.sort();
    QCOMPARE(dias, QStringList({"DOM", "QUA", "QUI", "SAB", "SEG", "SEX", "TER"}));
    // Read back into the grid and the gauge.
    QVERIFY(g.schedule() == marked);
    QCOMPARE(c.w<QProgressBar>("Barra_Armados")->value(), marked.markedCount());
    c.renew();
    c.f->prepareAccount("000030", Page::Horarios);
    QVERIFY(c.f->scheduleGrid().schedule() == marked);

    // The console's rearm check follows the new schedule.
    QVERIFY(!c.s.core->supervisor().checkRearm(QDateTime(kMonday.addDays(-1), QTime(3, 0))));
    QVERIFY(c.s.core->supervisor().checkRearm(monday0830));
    QCOMPARE(c.s.accountColumn("REARME", "000030").toInt(), 1);
    QCOMPARE(c.s.accountColumn("DESARMADOS", "000030").toInt(), 0);
}

void TestCadastroClientes::patternsMarkingAndDrawing() {
    Cadastro c;
    c.s.addAccount("000040", "QUARENTA");
    c.f->prepareAccount("000040", Page::Horarios);
    c.f->show();
    QVERIFY(QTest::qWaitForWindowExposed(c.f.get()));
    const WeeklySchedule stored = c.f->scheduleGrid().schedule();
    using P = WeeklySchedule::Pattern;
    const std::pair<const char *, P> patterns[] = {{"RB_Industria", P::Industria},
                                                   {"RB_Residencia", P::Residencia},
                                                   {"RB_Comercio", P::Comercio}};
    for (const auto &[radio, pattern] : patterns) {
        c.w<QRadioButton>(radio)->setChecked(true);
        c.click("Botao_Carregar_Padrao");
        QVERIFY(c.f->scheduleGrid().schedule() == WeeklySchedule::pattern(pattern));
    }
    // Nothing stored until "Gravar"; "Desfazer" reads the stored schedule again.
    c.w<QRadioButton>("RB_Residencia")->setChecked(true);
    c.click("Botao_Carregar_Padrao");
    QCOMPARE(c.count("select count(*) from QUADRO_HORARIOS where CONTA = '000040' and MARCADO = 1"),
             stored.markedCount());
    // Marking does not move the gauge.
    const int gauge = c.w<QProgressBar>("Barra_Armados")->value();
    QCOMPARE(gauge, stored.markedCount());
    c.click("Botao_Desfazer");
    QVERIFY(c.f->scheduleGrid().schedule() == stored);

    // Drawing: marked red, unmarked white, the selection in the highlight colour, titles as
    // buttons. Monday 08 is unmarked in the "Comércio" pattern, Sunday 03 marked.
    ScheduleGrid &g = c.f->scheduleGrid();
    g.clearSelection();
    QCOMPARE(c.colourAt(1, 4), QColor(0xFF, 0, 0));
    QCOMPARE(c.colourAt(2, 9), QColor(Qt::white));
    QCOMPARE(c.colourAt(1, 0), g.palette().color(QPalette::Button));
    g.selectCells(1, 4, 2, 9);
    QCOMPARE(c.colourAt(1, 4), g.palette().color(QPalette::Highlight));
    QCOMPARE(c.colourAt(2, 9), g.palette().color(QPalette::Highlight));
    QCOMPARE(c.colourAt(3, 4), QColor(0xFF, 0, 0));
    // Titles are never selected nor marked.
    g.selectCells(0, 0, 7, 24);
    c.click("Botao_Desmarcar");
    QCOMPARE(g.schedule().markedCount(), 0);
    QCOMPARE(c.colourAt(0, 5), g.palette().color(QPalette::Button));
    g.clearSelection();
    QCOMPARE(c.colourAt(1, 4), QColor(Qt::white));
}

void TestCadastroClientes::photos() {
    Cadastro c;
    QTemporaryDir dir;
    const QString jpg = dir.filePath("frente.jpg"), bmp = dir.filePath("fundos.bmp"),
                  png = dir.filePath("lado.png"), gif = dir.filePath("portao.gif"),
                  texto = dir.filePath("notas.jpg");
    writeImage(jpg, "JPG");
    writeImage(bmp, "BMP");
    writeImage(png, "PNG");
    writeGif(gif);
    {
        QFile t(texto);
        QVERIFY(t.open(QIODevice::WriteOnly));
        t.write("isto não é uma imagem\n");
    }
    c.s.addAccount("000050", "CINQUENTA");
    c.f->prepareAccount("000050", Page::Imagens);
    c.f->show();
    auto *img1 = c.w<QLabel>("Img_Cliente_1");
    QVERIFY(img1->hasScaledContents());
    for (const QString &file : {jpg, bmp, gif, png}) {
        c.chooser.answer = file;
        c.click("Botao_Selecionar_Foto_1");
        QCOMPARE(c.edit("E_Foto_1")->text(), file);
        QVERIFY2(!img1->pixmap().isNull(), qPrintable(file));
    }
    QCOMPARE(c.chooser.asked.first(),
             QString("Seleção de Imagem||JPG (*.jpg);;BMP (*.bmp);;GIF (*.gif);;PNG (*.png)"));
    QCOMPARE(c.s.prompt.shown.size(), 0);

    // A file that is no image is refused: path and picture stay.
    c.chooser.answer = texto;
    c.click("Botao_Selecionar_Foto_1");
    QCOMPARE(
        c.texts(),
        QStringList(
            {QString("O arquivo \"%1\" não é uma imagem (JPG, BMP, GIF ou PNG).").arg(texto)}));
    QCOMPARE(c.edit("E_Foto_1")->text(), png);
    QVERIFY(!img1->pixmap().isNull());
    // Cancelled dialog: nothing changes.
    c.chooser.answer.clear();
    c.click("Botao_Selecionar_Foto_1");
    QCOMPARE(c.edit("E_Foto_1")->text(), png);

    c.chooser.answer = jpg;
    c.click("Botao_Selecionar_Foto_2");
    c.click("Botao_Limpar_Foto_1");
    QCOMPARE(c.edit("E_Foto_1")->text(), QString());
    QVERIFY(c.w<QLabel>("Img_Cliente_1")->pixmap().isNull());
    c.s.prompt.answers = {true};
    c.edit("EditTempoInativo")->setText("1440");
    c.click("Speed_Salvar");
    QCOMPARE(c.s.accountColumn("FOTO1", "000050").toString(), QString());
    QCOMPARE(c.s.accountColumn("FOTO2", "000050").toString(), jpg);

    // Paths as the table holds them: a file gone (or a Windows path) shows no picture and no
    // message, and is written back unchanged.
    exec(c.s.db(), "update CLIENTES set FOTO1 = :a, FOTO2 = :b where CONTA = '000050'",
         {{":a", "C:\\Fotos\\casa.jpg"}, {":b", dir.filePath("sumiu.png")}});
    c.s.prompt.shown.clear();
    c.renew();
    c.f->prepareAccount("000050", Page::Imagens);
    QCOMPARE(c.s.prompt.shown.size(), 0);
    QCOMPARE(c.edit("E_Foto_1")->text(), QString("C:\\Fotos\\casa.jpg"));
    QVERIFY(c.w<QLabel>("Img_Cliente_1")->pixmap().isNull());
    QVERIFY(c.w<QLabel>("Img_Cliente_2")->pixmap().isNull());
    c.f->show();
    c.s.prompt.answers = {true};
    c.click("Speed_Salvar");
    QCOMPARE(c.s.accountColumn("FOTO1", "000050").toString(), QString("C:\\Fotos\\casa.jpg"));
    // A stored file that is no image is reported; the other photo still loads.
    exec(c.s.db(), "update CLIENTES set FOTO1 = :a, FOTO2 = :b where CONTA = '000050'",
         {{":a", texto}, {":b", png}});
    c.s.prompt.shown.clear();
    c.renew();
    c.f->prepareAccount("000050");
    QCOMPARE(c.s.prompt.shown.size(), 1);
    QVERIFY(c.w<QLabel>("Img_Cliente_1")->pixmap().isNull());
    QVERIFY(!c.w<QLabel>("Img_Cliente_2")->pixmap().isNull());
}

QTEST_MAIN(TestCadastroClientes)
#include "test_cadastro_clientes.moc"
