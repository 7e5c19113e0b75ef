#include "support/TestSupport.h"

#include "ui/console/EventColorDelegate.h"
#include "core/registry/AccountBrowser.h"
#include "ui/registry/Selecao_Clientes.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

struct Browser {
    Station s;
    QWidget main; // the main window the browser is modal to
    F_Selecao_Clientes f{s.core->common(), &main};

    template <typename T> T *child(const char *nome) {
        return f.findChild<T *>(QLatin1String(nome));
    }
    QStringList listed() {
        auto *g = child<QTableView>("Grade_Clientes");
        QStringList l;
        for (int r = 0; r < g->model()->rowCount(); ++r)
            l << g->model()->index(r, 0).data().toString();
        return l;
    }
    QString count() { return child<QLabel>("L_Clientes_Cadastrados")->text(); }
    void click(const char *b) { QTest::mouseClick(child<QPushButton>(b), Qt::LeftButton); }
    void addEvent(const QString &conta, const QString &tipo, const QDateTime &data, int tratado) {
        exec(s.db(),
             "insert into EVENTOS (CONTA, CODIGO_ALARME, TIPO, DATA, TRATADO) values "
             "(:c, 'E130', :t, :d, :tr)",
             {{":c", conta}, {":t", tipo}, {":d", data}, {":tr", tratado}});
    }
};

} // namespace

class TestSelecaoClientes : public QObject {
    Q_OBJECT
private slots:
    void listsCountsAndSearches();
    void eventsOfTheSelectedAccount();
    void buttonsAskTheAccountFormAndDelete();
};

void TestSelecaoClientes::listsCountsAndSearches() {
    Browser b;
    for (int i = 1; i <= 41; ++i)
        b.s.addAccount(QString("%1").arg(i, 6, 10, QChar('0')),
                       i == 5 ? "Farmácia Central" : "Loja");
    b.s.addAccount("001234", "Oficina");
    QCOMPARE(b.count(), QString("000000"));
    b.f.show();
    QCOMPARE(b.f.windowTitle(), QString("Seleção Clientes"));
    QCOMPARE(b.f.windowModality(), Qt::WindowModal);
    QCOMPARE(b.count(), QString("000042"));
    QCOMPARE(b.listed().size(), 42);
    auto *g = b.child<QTableView>("Grade_Clientes");
    QStringList titles;
    for (int c = 0; c < g->model()->columnCount(); ++c)
        titles << g->model()->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(titles, (QStringList{"CONTA", "NOME", "TELEFONE1", "TELEFONE2", "CELULAR", "EMAIL"}));

    QTest::keyClicks(b.child<QLineEdit>("Edit1"), "12");
    QCOMPARE(b.listed(), (QStringList{"000012", "001234"}));
    QCOMPARE(b.count(), QString("000002"));
    QCOMPARE(b.f.currentAccount(), QString("000012"));
    // The name search replaces the number's filter.
    QTest::keyClicks(b.child<QLineEdit>("Edit2"), "FARMÁCIA");
    QCOMPARE(b.listed(), QStringList{"000005"});
    b.child<QLineEdit>("Edit2")->clear();
    QCOMPARE(b.count(), QString("000042"));
    // Showing the window again lists everything, whatever the search left.
    b.child<QLineEdit>("Edit1")->clear();
    QCOMPARE(b.count(), QString("000042"));
    QTest::keyClicks(b.child<QLineEdit>("Edit1"), "9");
    QCOMPARE(b.count(), QString("000004"));
    b.f.hide();
    b.f.show();
    QCOMPARE(b.count(), QString("000042"));
    QVERIFY(b.child<QLineEdit>("Edit1")->text().isEmpty());
}

void TestSelecaoClientes::eventsOfTheSelectedAccount() {
    Browser b;
    b.s.addAccount("000100", "Primeira");
    b.s.addAccount("000200", "Segunda");
    const QDateTime t(QDate(2026, 3, 8), QTime(21, 5, 9));
    b.addEvent("000100", "ALARME", t, 1);
    b.addEvent("000100", "ARMADO", t.addSecs(60), 1);
    b.addEvent("000100", "PANICO", t.addSecs(120), 0); // pending: not listed
    b.addEvent("000200", "FALHAS", t, 1);
    b.f.show();
    auto *ev = b.child<QTableView>("Grade_Eventos");
    QAbstractItemModel *m = ev->model();
    QStringList titles;
    for (int c = 0; c < m->columnCount(); ++c)
        titles << m->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(titles, (QStringList{"CÓDIGO", "ARG.", "PART.", "NOME PART.", "DESCRIÇÃO", "TIPO",
                                  "DATA EVENTO", "DATA INTERV.", "DETALHES"}));
    QCOMPARE(m->rowCount(), 2);
    QCOMPARE(m->index(0, 5).data().toString(), QString("ARMADO")); // newest first
    QCOMPARE(m->index(1, 6).data().toString(), QString("08/03/2026 21:05:09"));
    QVERIFY(qobject_cast<EventColorDelegate *>(ev->itemDelegate()));
    // Whole dates with their time, and a whole description, in the grid's own font.
    const QFontMetrics fm(ev->font());
    QVERIFY(ev->columnWidth(6) > fm.horizontalAdvance("28/12/2026 23:59:59"));
    QVERIFY(ev->columnWidth(7) > fm.horizontalAdvance("28/12/2026 23:59:59"));
    QVERIFY(ev->columnWidth(4) >
            fm.horizontalAdvance("ALARME ROUBO SALA DE ESTAR E COZINHA DO SEGUNDO ANDAR FUNDOS"));
    auto *accounts = b.child<QTableView>("Grade_Clientes");
    QVERIFY(accounts->columnWidth(1) >
            fm.horizontalAdvance("SUPERMERCADO BOM PRECO FILIAL CENTRO 400"));
    QVERIFY(accounts->columnWidth(2) > fm.horizontalAdvance("(11) 3333-0042"));
    b.f.select(1);
    QCOMPARE(m->rowCount(), 1);
    QCOMPARE(m->index(0, 5).data().toString(), QString("FALHAS"));
}

void TestSelecaoClientes::buttonsAskTheAccountFormAndDelete() {
    Browser b;
    QSignalSpy created(&b.f, &F_Selecao_Clientes::newAccountRequested);
    QSignalSpy edited(&b.f, &F_Selecao_Clientes::editAccountRequested);
    QSignalSpy deleted(&b.f, &F_Selecao_Clientes::accountDeleted);
    b.f.show();
    b.click("Botao_Alterar"); // empty list: nothing to alter or delete
    b.click("Botao_Excluir");
    QCOMPARE(edited.size(), 0);
    QCOMPARE(b.s.prompt.shown.size(), 0);
    b.click("Botao_Novo");
    QCOMPARE(created.size(), 1);

    // The account form saved two accounts: the browser is told to read again.
    b.s.addAccount("000100", "Primeira");
    b.s.addAccount("000200", "Segunda");
    b.addEvent("000200", "ALARME", b.s.clock.now(), 1);
    b.f.reopen("000200");
    QCOMPARE(b.f.currentAccount(), QString("000200"));
    b.click("Botao_Alterar");
    QCOMPARE(edited.size(), 1);
    QCOMPARE(edited[0][0].toString(), QString("000200"));
    auto *g = b.child<QTableView>("Grade_Clientes");
    const QPoint first = g->visualRect(g->model()->index(0, 1)).center();
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, first);
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, first);
    QCOMPARE(edited.size(), 2);
    QCOMPARE(edited.last()[0].toString(), QString("000100"));

    // With events: two questions, and No the second time keeps the account.
    b.f.select(1);
    b.s.prompt.answers = {true, false};
    b.click("Botao_Excluir");
    QCOMPARE(b.s.prompt.shown.size(), 2);
    QCOMPARE(b.count(), QString("000002"));
    QCOMPARE(deleted.size(), 0);
    b.s.prompt.answers = {true, true};
    b.click("Botao_Excluir");
    // The deletion runs off the console's thread; the list follows once it ended.
    QVERIFY(waitFor([&] { return deleted.size() == 1; }, 10000));
    QCOMPARE(deleted[0][0].toString(), QString("000200"));
    QCOMPARE(b.listed(), QStringList{"000100"});
    QCOMPARE(b.count(), QString("000001"));
    QCOMPARE(scalar(b.s.db(), "select count(*) from EVENTOS").toInt(), 0);
}

QTEST_MAIN(TestSelecaoClientes)
#include "test_selecao_clientes.moc"
