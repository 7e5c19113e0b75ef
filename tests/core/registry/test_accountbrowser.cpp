#include "support/TestSupport.h"

#include "core/registry/AccountBrowser.h"
#include "core/registry/AccountBrowserRepository.h"

#include <QSignalSpy>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const char *const kDependents[] = {"EVENTOS", "PARTICOES", "ZONAS", "USUARIOS", "QUADRO_HORARIOS"};

struct Browser : Station {
    AccountBrowser b{core->database()};

    QStringList accounts() {
        QStringList l;
        for (int r = 0; r < b.accounts().rowCount(); ++r)
            l << b.accounts().value(r, "CONTA").toString();
        return l;
    }
    void addEvent(const QString &conta, int tratado = 1, const QString &tipo = "ALARME") {
        exec(db(),
             "insert into EVENTOS (CONTA, CODIGO_ALARME, TIPO, DATA, TRATADO) values "
             "(:c, 'E130', :t, :d, :tr)",
             {{":c", conta}, {":t", tipo}, {":d", clock.now()}, {":tr", tratado}});
    }
    // An account with a row in every table that hangs on it, and a GPRS module.
    void addFullAccount(const QString &conta, int events) {
        addAccount(conta, "Conta " + conta);
        for (int i = 0; i < events; ++i)
            addEvent(conta);
        addName("PARTICOES", "PARTICAO", conta, 1, "Loja");
        addName("ZONAS", "ZONA", conta, 3, "Porta");
        addName("USUARIOS", "USUARIO", conta, 7, "Gerente");
        exec(db(),
             "insert into QUADRO_HORARIOS (CONTA, DIA, HORA, MARCADO) values "
             "(:c, 'SEG', '08:00:00', 1)",
             {{":c", conta}});
        GprsRow(conta).account(conta).status("A").blocked(0).insertInto(db());
    }
    // Deletes through the browser and waits for the end: "deleted", "declined" or "failed".
    QString remove(const QString &conta) {
        QSignalSpy finished(&b, &AccountBrowser::deletionFinished);
        switch (b.deleteAccount(conta, &prompt)) {
        case AccountBrowser::Deletion::Declined:
            return "declined";
        case AccountBrowser::Deletion::Failed:
            return "failed";
        case AccountBrowser::Deletion::Started:
            break;
        }
        // The transaction runs on a thread of its own: its end comes through the event loop.
        if (!waitFor([&] { return finished.size() == 1; }, 10000)) return "hung";
        return finished[0][1].toBool() ? "deleted" : "failed";
    }
    int rowsOf(const QString &table, const QString &conta) {
        return scalar(db(), QString("select count(*) from %1 where CONTA = :c").arg(table),
                      {{":c", conta}})
            .toInt();
    }
    int dependentRows(const QString &conta) {
        int n = rowsOf("CLIENTES", conta);
        for (const char *t : kDependents)
            n += rowsOf(t, conta);
        return n;
    }
};

} // namespace

class TestAccountBrowser : public QObject {
    Q_OBJECT
private slots:
    void searchesCountAndPages();
    void searchesOfAnyLengthAndFailedOnes();
    void deletionAsksAndCascades();
    void failedDeletionLeavesEverything();
};

void TestAccountBrowser::searchesCountAndPages() {
    Browser s;
    // More accounts than one page: 000001 … 000449 and 001234.
    for (int i = 1; i < 450; ++i)
        s.addAccount(QString("%1").arg(i, 6, 10, QChar('0')), i == 7 ? "Padaria Sé" : "Loja");
    s.addAccount("001234", "MERCADO 50% OFF");
    QSignalSpy counted(&s.b, &AccountBrowser::countChanged);
    s.b.open();
    QCOMPARE(s.b.accounts().rowCount(), AccountBrowser::kPage);
    QCOMPARE(s.b.countText(), QString("000450"));
    QCOMPARE(counted.last().at(0).toString(), QString("000450"));
    QVERIFY(s.b.accounts().canFetchMore());
    while (s.b.accounts().canFetchMore())
        s.b.accounts().fetchMore();
    const QStringList all = s.accounts();
    QCOMPARE(all.size(), 450);
    QCOMPARE(all.first(), QString("000001"));
    QCOMPARE(all.last(), QString("001234"));
    QStringList ordered = all; // pages neither repeat nor skip an account
    ordered.removeDuplicates();
    ordered.sort();
    QCOMPARE(ordered, all);

    // "12" anywhere in the number; the count follows the filter.
    s.b.searchByNumber("12");
    QStringList twelve = s.accounts();
    QVERIFY(twelve.contains("000012") && twelve.contains("001234") && twelve.contains("000412"));
    for (const QString &c : twelve)
        QVERIFY2(c.contains("12"), qPrintable(c));
    QCOMPARE(s.b.count(), int(twelve.size()));
    // Names without regard to case, accents kept; the text is a value, never part of the SQL.
    s.b.searchByName("padaria sé");
    QCOMPARE(s.accounts(), QStringList{"000007"});
    s.b.searchByName("50%");
    QCOMPARE(s.accounts(), QStringList{"001234"});
    s.b.searchByName("' or 1=1 --");
    QCOMPARE(s.b.accounts().rowCount(), 0);
    QCOMPARE(s.b.countText(), QString("000000"));
    s.b.searchByNumber(QString());
    QCOMPARE(s.b.count(), 450);
}

// A whole account number, and a name of 39 or 40 characters, are found like any shorter text
// (a pattern wider than its column once failed on truncation and showed an empty list); a
// text longer than the column finds nothing; a search that cannot be read says so.
void TestAccountBrowser::searchesOfAnyLengthAndFailedOnes() {
    Browser s;
    const QString name40 = "SUPERMERCADO BOM PRECO FILIAL CENTRO 400"; // 40 characters
    QCOMPARE(name40.size(), 40);
    for (int i = 1; i <= 60; ++i)
        s.addAccount(QString("%1").arg(i, 6, 10, QChar('0')), "Loja");
    s.addAccount("012345", name40);
    s.addAccount("123456", "Padaria");
    s.b.open();
    s.b.searchByNumber("000005");
    QCOMPARE(s.accounts(), QStringList{"000005"});
    QCOMPARE(s.b.countText(), QString("000001"));
    s.b.searchByNumber("12345");
    QCOMPARE(s.accounts(), (QStringList{"012345", "123456"}));
    s.b.searchByNumber("123456");
    QCOMPARE(s.accounts(), QStringList{"123456"});
    s.b.searchByNumber("1234567"); // longer than any number: nobody, and no error
    QCOMPARE(s.b.accounts().rowCount(), 0);
    QCOMPARE(s.b.countText(), QString("000000"));
    s.b.searchByName(name40.toLower());
    QCOMPARE(s.accounts(), QStringList{"012345"});
    s.b.searchByName(name40.left(39));
    QCOMPARE(s.accounts(), QStringList{"012345"});
    s.b.searchByName(name40.mid(1));
    QCOMPARE(s.accounts(), QStringList{"012345"});
    s.b.searchByName(name40 + "X");
    QCOMPARE(s.b.accounts().rowCount(), 0);
    QCOMPARE(s.prompt.shown.size(), 0); // no prompt given yet, and none needed

    // A list that cannot be read is told to the operator, in Portuguese.
    s.b.setPrompt(&s.prompt);
    QSqlDatabase db = s.db();
    db.close();
    s.b.searchByNumber("12");
    db.open();
    QCOMPARE(s.b.accounts().rowCount(), 0);
    QVERIFY(!s.prompt.shown.isEmpty());
    QVERIFY2(s.prompt.shown.first().text.startsWith("Houve um erro ao pesquisar os clientes."),
             qPrintable(s.prompt.shown.first().text));
    QCOMPARE(s.prompt.shown.first().caption, QString("ERRO"));
    s.prompt.shown.clear();
    s.b.searchByNumber("12345");
    QCOMPARE(s.accounts(), (QStringList{"012345", "123456"}));
    QCOMPARE(s.prompt.shown.size(), 0);
}

void TestAccountBrowser::deletionAsksAndCascades() {
    Browser s;
    s.addFullAccount("000100", 3);
    s.addFullAccount("000200", 2);
    s.addAccount("000300", "Sem eventos");
    s.addEvent("000100", 0, "ALARME"); // a pending one goes too
    s.b.open();
    QCOMPARE(s.b.count(), 3);
    QSignalSpy deleted(&s.b, &AccountBrowser::accountDeleted);

    // No at the first question, then No at the second: nothing goes.
    s.prompt.answers = {false};
    QCOMPARE(s.remove("000100"), QString("declined"));
    s.prompt.answers = {true, false};
    QCOMPARE(s.remove("000100"), QString("declined"));
    QCOMPARE(s.prompt.shown.size(), 3);
    // The question names the account it deletes.
    QCOMPARE(s.prompt.shown[1].text,
             QString("Deseja realmente excluir o cliente 000100 - Conta 000100?"));
    QCOMPARE(s.prompt.shown[1].caption, QString("Excluir cliente"));
    QCOMPARE(s.prompt.shown[2].text, QString("Existem eventos registrados para essa conta.\r\r"
                                             "Deseja realmente excluir a conta?"));
    QCOMPARE(s.prompt.shown[2].caption, QString("EXCLUSÃO DE CONTA"));
    QCOMPARE(s.dependentRows("000100"), 1 + 4 + 4);

    s.prompt.shown.clear();
    s.prompt.answers = {true, true};
    QCOMPARE(s.remove("000100"), QString("deleted"));
    QCOMPARE(s.prompt.shown.size(), 2);
    QCOMPARE(s.dependentRows("000100"), 0);
    QCOMPARE(s.rowsOf("GPRS", "000100"), 1); // modules stay registered
    QCOMPARE(s.dependentRows("000200"), 1 + 2 + 4);
    QCOMPARE(deleted.size(), 1);
    QCOMPARE(deleted[0][0].toString(), QString("000100"));
    QCOMPARE(s.accounts(), (QStringList{"000200", "000300"}));
    QCOMPARE(s.b.countText(), QString("000002"));

    // Without events: one question.
    s.prompt.shown.clear();
    s.prompt.answers = {true, false};
    QSignalSpy finished(&s.b, &AccountBrowser::deletionFinished);
    QCOMPARE(s.b.deleteAccount("000300", &s.prompt), AccountBrowser::Deletion::Started);
    QVERIFY(s.b.deleting());
    // One at a time: a second one while the first runs is declined without a question.
    QCOMPARE(s.b.deleteAccount("000200", &s.prompt), AccountBrowser::Deletion::Declined);
    QVERIFY(waitFor([&] { return finished.size() == 1; }, 10000));
    QVERIFY(!s.b.deleting());
    QCOMPARE(s.prompt.shown.size(), 1);
    QCOMPARE(s.rowsOf("CLIENTES", "000300"), 0);

    // A deleted account that had fallen silent is not announced by the next scan; another is.
    s.addAccount("000400", "Outra");
    exec(s.db(), "update CLIENTES set EVENTO_ATRASADO = 0, TEMPO_ATRASO = 1");
    s.prompt.answers = {true, true};
    QCOMPARE(s.remove("000200"), QString("deleted"));
    QSignalSpy silent(&s.core->supervisor(), &AccountSupervisor::inactiveAccount);
    QCOMPARE(s.core->supervisor().TimerInativosTimer(s.clock.now()), 1);
    QCOMPARE(silent.size(), 1);
    QVERIFY(silent[0][0].toString().contains("000400"));
}

void TestAccountBrowser::failedDeletionLeavesEverything() {
    Browser s;
    s.addFullAccount("000100", 5);
    // The last of the deletions fails: the ones before it must not stay done.
    exec(s.db(), "CREATE EXCEPTION EX_QUADRO 'quadro preso'");
    exec(s.db(), "CREATE TRIGGER QUADRO_BD FOR QUADRO_HORARIOS BEFORE DELETE AS "
                 "BEGIN EXCEPTION EX_QUADRO; END");
    s.b.open();
    s.prompt.answers = {true, true};
    QCOMPARE(s.remove("000100"), QString("failed"));
    QCOMPARE(s.prompt.shown.last().text, QString("Houve um erro ao excluir a conta de cliente."));
    QCOMPARE(s.prompt.shown.last().caption, QString("ERRO"));
    QCOMPARE(s.prompt.shown.last().icon, Prompt::Icon::Error);
    QCOMPARE(s.dependentRows("000100"), 1 + 5 + 4);
    QCOMPARE(s.b.count(), 1);
    // The connection is usable afterwards: the same account goes once the fault is gone.
    exec(s.db(), "DROP TRIGGER QUADRO_BD");
    s.prompt.answers = {true, true};
    QCOMPARE(s.remove("000100"), QString("deleted"));
    QCOMPARE(s.dependentRows("000100"), 0);
}

QTEST_GUILESS_MAIN(TestAccountBrowser)
#include "test_accountbrowser.moc"
