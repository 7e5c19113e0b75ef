#include "support/TestSupport.h"

#include "ui/console/Cadastro_Operadores.h"
#include "core/operators/OperatorRepository.h"
#include "core/store/SqlListModel.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const char *const kBoxes[8] = {"CBoxClientes",   "CBoxEventos",       "CBoxTcpIp",
                                "CBoxRelatorios", "CBoxConfiguracoes", "CBoxFechar",
                                "CBoxTestes",     "CBoxTestesLongos"};

struct Cadastro {
    Station s;
    FormCadastroOperadores f{s.core->common()};

    Cadastro() { f.show(); }
    template <typename T> T *filho(const char *nome) {
        return f.findChild<T *>(QLatin1String(nome));
    }
    QStringList nomes() {
        QStringList l;
        for (int r = 0; r < f.list().rowCount(); ++r)
            l << f.list().value(r, "NOME").toString();
        return l;
    }
    void clicar(const char *botao) { QTest::mouseClick(filho<QPushButton>(botao), Qt::LeftButton); }
    // Clicks the row of that name in the grid.
    void escolher(const QString &nome) {
        auto *grid = filho<QTableView>("GridOperadores");
        const int r = int(nomes().indexOf(nome));
        QVERIFY2(r >= 0, qPrintable(nome));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualRect(grid->model()->index(r, 0)).center());
    }
    void checkBoxes(quint32 bits) {
        for (int i = 0; i < 8; ++i)
            filho<QCheckBox>(kBoxes[i])->setChecked((bits >> i) & 1);
    }
    QList<bool> marcas() {
        QList<bool> l;
        for (const char *m : kBoxes)
            l << filho<QCheckBox>(m)->isChecked();
        return l;
    }
    bool marcasHabilitadas() {
        for (const char *m : kBoxes)
            if (!filho<QCheckBox>(m)->isEnabled()) return false;
        return true;
    }
    QVariant permissoes(const QString &nome) {
        return scalar(s.db(), "select PERMISSOES from OPERADORES where NOME = :n", {{":n", nome}});
    }
    QVariant senha(const QString &nome) {
        return scalar(s.db(), "select SENHA from OPERADORES where NOME = :n", {{":n", nome}});
    }
    QStringList textos() {
        QStringList l;
        for (const auto &m : s.prompt.shown)
            l << m.text;
        return l;
    }
};

} // namespace

class TestCadastroOperadores : public QObject {
    Q_OBJECT
private slots:
    void listAndRowShownReadOnly();
    void insertWithConfirmation();
    void alterAndRename();
    void administratorKeepsNameAndRow();
    void deleteWithConfirmation();
    void refusedInput();
};

void TestCadastroOperadores::listAndRowShownReadOnly() {
    Cadastro c;
    QCOMPARE(c.f.windowTitle(), QString("Cadastro de Operadores"));
    QCOMPARE(c.f.list().sql(), QString("Select * from OPERADORES\norder by NOME Asc"));
    QCOMPARE(c.filho<QTableView>("GridOperadores")->model()->columnCount(), 1);
    QCOMPARE(c.nomes(), QStringList({"admin"}));
    const QStringList textos{"Permite incluir e alterar dados do cliente",
                             "Permite incluir e alterar códigos de eventos",
                             "Permite controlar acesso de dispositivos TCP/IP",
                             "Permite imprimir relatórios",
                             "Permite alterar as configurações do Tulmo",
                             "Permite fechar o Tulmo"};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(c.filho<QCheckBox>(kBoxes[i])->text(), textos[i]);
    QCOMPARE(c.filho<QLineEdit>("Senha")->echoMode(), QLineEdit::Password);
    QCOMPARE(c.filho<QLineEdit>("NomeOperador")->maxLength(), 20);
    QCOMPARE(c.filho<QLineEdit>("Senha")->maxLength(), 8);

    QVERIFY(OperatorRepository::insert(c.s.db(), {"bruno", 8 | 32, "b1"}));
    c.f.hide();
    c.f.show(); // showing reopens the list
    QCOMPARE(c.nomes(), QStringList({"admin", "bruno"}));
    c.escolher("bruno");
    QCOMPARE(c.filho<QLineEdit>("NomeOperador")->text(), QString("bruno"));
    QCOMPARE(c.filho<QLineEdit>("Senha")->text(), QString("b1"));
    QCOMPARE(c.marcas(), QList<bool>({false, false, false, true, false, true, false, false}));
    QVERIFY(!c.filho<QLineEdit>("NomeOperador")->isEnabled());
    for (const char *m : kBoxes)
        QVERIFY(!c.filho<QCheckBox>(m)->isEnabled());
}

void TestCadastroOperadores::insertWithConfirmation() {
    Cadastro c;
    QVERIFY(OperatorRepository::insert(c.s.db(), {"bruno", 1 | 8, "b1"}));
    c.f.reopen();
    c.escolher("bruno");
    // A new operator starts from the permissions of the one selected.
    c.clicar("Botao_Novo");
    QCOMPARE(c.f.modo(), 'I');
    QCOMPARE(c.marcas(), QList<bool>({true, false, false, true, false, false, false, false}));
    QCOMPARE(c.filho<QLineEdit>("NomeOperador")->text(), QString());
    QCOMPARE(c.filho<QLineEdit>("Senha")->text(), QString());
    QVERIFY(c.filho<QLineEdit>("NomeOperador")->isEnabled());
    QVERIFY(c.marcasHabilitadas());

    c.filho<QLineEdit>("NomeOperador")->setText("carla");
    c.filho<QLineEdit>("Senha")->setText("Ca123");
    c.checkBoxes(2 | 16 | 32);
    QCOMPARE(c.f.checkedPermissions(), 50u);

    // No: nothing written, the form stays as it is.
    c.s.prompt.answers = {false};
    c.clicar("Botao_Salvar");
    QCOMPARE(c.s.prompt.shown.size(), 1);
    QCOMPARE(c.s.prompt.shown[0].text, QString("Deseja realmente incluir um novo Operador?"));
    QCOMPARE(c.s.prompt.shown[0].caption, QString("INCLUSÃO"));
    QVERIFY(!c.permissoes("carla").isValid());
    QCOMPARE(c.f.modo(), 'I');
    QCOMPARE(c.filho<QLineEdit>("NomeOperador")->text(), QString("carla"));

    c.s.prompt.answers = {true};
    c.clicar("Botao_Salvar");
    QCOMPARE(c.s.prompt.shown.size(), 2);
    QCOMPARE(c.permissoes("carla").toInt(), 50);
    QCOMPARE(c.senha("carla").toString(), QString("Ca123"));
    QCOMPARE(c.nomes(), QStringList({"admin", "bruno", "carla"}));
    QCOMPARE(c.f.modo(), char(0));

    // The same name again: the database refuses, the operator is told.
    c.clicar("Botao_Novo");
    c.filho<QLineEdit>("NomeOperador")->setText("carla");
    c.filho<QLineEdit>("Senha")->setText("outra");
    c.s.prompt.answers = {true};
    c.clicar("Botao_Salvar");
    QCOMPARE(c.s.prompt.shown.size(), 4);
    QCOMPARE(c.s.prompt.shown[3].text, QString("Houve um erro ao incluir um novo Operador."));
    QCOMPARE(c.s.prompt.shown[3].caption, QString("ERRO"));
    QCOMPARE(c.s.prompt.shown[3].icon, Prompt::Icon::Error);
    QCOMPARE(c.senha("carla").toString(), QString("Ca123"));
    QVERIFY(c.f.isVisible());
}

void TestCadastroOperadores::alterAndRename() {
    Cadastro c;
    QVERIFY(OperatorRepository::insert(c.s.db(), {"bruno", 8, "b1"}));
    c.f.reopen();
    c.escolher("bruno");
    c.clicar("Botao_Alterar");
    QCOMPARE(c.f.modo(), 'A');
    QVERIFY(c.filho<QLineEdit>("NomeOperador")->isEnabled());
    QVERIFY(c.marcasHabilitadas());
    c.checkBoxes(1 | 4 | 32);
    c.filho<QLineEdit>("Senha")->setText("novaS");

    c.s.prompt.answers = {false};
    c.clicar("Botao_Salvar");
    QCOMPARE(c.s.prompt.shown.last().text,
             QString("Deseja realmente alterar os dados do Operador?"));
    QCOMPARE(c.s.prompt.shown.last().caption, QString("ALTERAÇÃO"));
    QCOMPARE(c.permissoes("bruno").toInt(), 8);

    c.s.prompt.answers = {true};
    c.clicar("Botao_Salvar");
    QCOMPARE(c.permissoes("bruno").toInt(), 37);
    QCOMPARE(c.senha("bruno").toString(), QString("novaS"));

    // A rename moves the row: found by the name it had.
    c.escolher("bruno");
    c.clicar("Botao_Alterar");
    c.filho<QLineEdit>("NomeOperador")->setText("roberto");
    c.s.prompt.answers = {true};
    c.clicar("Botao_Salvar");
    QCOMPARE(c.nomes(), QStringList({"admin", "roberto"}));
    QCOMPARE(c.permissoes("roberto").toInt(), 37);
    QCOMPARE(c.senha("roberto").toString(), QString("novaS"));
    QVERIFY(!c.permissoes("bruno").isValid());
    QCOMPARE(c.textos().count("Houve um erro ao alterar dados do operador."), 0);

    // The row gone meanwhile (another workstation): reported, not taken for done.
    c.escolher("roberto");
    c.clicar("Botao_Alterar");
    exec(c.s.db(), "delete from OPERADORES where NOME = 'roberto'");
    c.s.prompt.answers = {true};
    c.clicar("Botao_Salvar");
    QCOMPARE(c.s.prompt.shown.last().text, QString("Houve um erro ao alterar dados do operador."));
    QCOMPARE(c.s.prompt.shown.last().caption, QString("ERRO"));
    QVERIFY(!c.permissoes("roberto").isValid());
}

void TestCadastroOperadores::administratorKeepsNameAndRow() {
    Cadastro c;
    c.escolher("admin");
    c.clicar("Botao_Alterar");
    QVERIFY(!c.filho<QLineEdit>("NomeOperador")->isEnabled());
    QVERIFY(c.marcasHabilitadas());
    c.checkBoxes(1 | 2 | 4 | 8 | 16 | 32);
    c.filho<QLineEdit>("Senha")->setText("nova");
    c.s.prompt.answers = {true};
    c.clicar("Botao_Salvar");
    QCOMPARE(c.permissoes("admin").toInt(), 63);
    QCOMPARE(c.senha("admin").toString(), QString("nova"));
    QCOMPARE(c.nomes(), QStringList({"admin"}));

    c.s.prompt.shown.clear();
    c.escolher("admin");
    c.clicar("Botao_Excluir");
    QCOMPARE(c.textos(), QStringList({"Não é possível excluir o operador Administrador!"}));
    QVERIFY(c.permissoes("admin").isValid());
}

void TestCadastroOperadores::deleteWithConfirmation() {
    Cadastro c;
    QVERIFY(OperatorRepository::insert(c.s.db(), {"bruno", 8, "b1"}));
    QVERIFY(OperatorRepository::insert(c.s.db(), {"carla", 8, "c1"}));
    c.f.reopen();
    c.escolher("carla");
    c.s.prompt.answers = {false};
    c.clicar("Botao_Excluir");
    QCOMPARE(c.s.prompt.shown.size(), 1);
    QCOMPARE(c.s.prompt.shown[0].text, QString("Deseja realmente excluir o Operador"));
    QCOMPARE(c.s.prompt.shown[0].caption, QString("Excluir cliente"));
    QCOMPARE(c.nomes(), QStringList({"admin", "bruno", "carla"}));

    c.s.prompt.answers = {true};
    c.clicar("Botao_Excluir");
    QCOMPARE(c.nomes(), QStringList({"admin", "bruno"}));
    QVERIFY(!c.permissoes("carla").isValid());
    QVERIFY(c.permissoes("bruno").isValid());

    // An empty list: nothing happens.
    exec(c.s.db(), "delete from OPERADORES");
    c.f.reopen();
    c.s.prompt.shown.clear();
    c.clicar("Botao_Excluir");
    QCOMPARE(c.s.prompt.shown.size(), 0);
}

void TestCadastroOperadores::refusedInput() {
    Cadastro c;
    c.clicar("Botao_Novo");
    c.filho<QLineEdit>("Senha")->setText("x");
    c.s.prompt.answers = {true};
    c.clicar("Botao_Salvar");
    QCOMPARE(c.textos(), QStringList({"Informe o nome do Operador."}));
    c.filho<QLineEdit>("NomeOperador")->setText("dora");
    c.filho<QLineEdit>("Senha")->clear();
    c.clicar("Botao_Salvar");
    QCOMPARE(c.textos().last(), QString("Informe a senha do Operador."));
    QCOMPARE(c.nomes(), QStringList({"admin"}));
    QCOMPARE(c.f.modo(), 'I');
}

QTEST_MAIN(TestCadastroOperadores)
#include "test_cadastro_operadores.moc"
