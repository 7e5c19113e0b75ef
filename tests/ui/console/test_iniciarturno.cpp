#include "support/TestSupport.h"

#include "ui/console/Eventos_Pendentes.h"
#include "ui/console/IniciarTurno.h"
#include "core/operators/OperatorRepository.h"
#include "ui/console/Principal.h"
#include "core/events/EventLine.h"

#include <QAction>
#include <QFrame>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QDeadlineTimer>
#include <QTimer>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QStringList kPaineis{"Pnl_Cadastro_Clientes", "Pnl_Cadastro_Eventos", "Pnl_Cadastro_GPRS",
                           "Pnl_Relatorio_Eventos", "Pnl_Configuracoes"};
const QStringList kMenus{"CadastrodeClientes1", "Eventos2", "CadastrodeGPRS1", "Eventos1",
                         "Configuracoes"};

struct Turno {
    Station s{QDateTime(QDate(2026, 3, 9), QTime(7, 5, 9))};
    std::unique_ptr<Form_Principal> w;

    Turno() {
        mapPort(s.core->dataDir(), 1, s.dir.path() + "/sem-porta");
        w = std::make_unique<Form_Principal>(s.core->services(), nullptr);
    }
    Form_iniciar_turno &d() { return w->shiftForm(); }
    template <typename T> T *campo(const char *nome) {
        return d().findChild<T *>(QLatin1String(nome));
    }
    // Types name and password and releases Enter in the password field.
    void entrar(const QString &nome, const QString &senha) {
        campo<QLineEdit>("Edit1")->setText(nome);
        campo<QLineEdit>("MaskEdit1")->setText(senha);
        QTest::keyClick(campo<QLineEdit>("MaskEdit1"), Qt::Key_Return);
    }
    QStringList memo() {
        return campo<QPlainTextEdit>("Memo1")->toPlainText().split('\n', Qt::SkipEmptyParts);
    }
    // Enabled panels and menu commands, in the order of the five permissions.
    QList<bool> paineis() {
        QList<bool> l;
        for (const QString &p : kPaineis)
            l << !w->findChild<QFrame *>(p)->testAttribute(Qt::WA_ForceDisabled);
        return l;
    }
    QList<bool> menus() {
        QList<bool> l;
        for (const QString &m : kMenus)
            l << w->findChild<QAction *>(m)->isEnabled();
        return l;
    }
    bool operadores() { return w->findChild<QAction *>("Operadores1")->isEnabled(); }
    void currentOperator(const QString &nome, quint32 permissoes, const QString &senha) {
        QVERIFY(OperatorRepository::insert(s.db(), {nome, permissoes, senha}));
    }
};

const QList<bool> kTodos{true, true, true, true, true};
const QList<bool> kNenhum{false, false, false, false, false};

} // namespace

class TestIniciarTurno : public QObject {
    Q_OBJECT
private slots:
    void dialogOnShowing();
    void enterOnTheButtonAndTheFieldsLimit();
    void adminEnablesEverything();
    void relatoriosOnlyAndExitOpensTheDialog();
    void abandonedShiftRemovesEveryPermission();
    void refusedPasswords();
    void checkOnLeavingThePasswordField();
    void operatorLookup();
    void recordingGoesOnWhileTheDialogIsOpen();
};

void TestIniciarTurno::dialogOnShowing() {
    Turno t;
    QCOMPARE(t.d().windowTitle(), QString("Iniciar Turno"));
    QVERIFY(t.d().isModal());
    QCOMPARE(t.campo<QLineEdit>("Edit1")->toolTip(), QString("Digite o seu número"));
    QCOMPARE(t.campo<QLineEdit>("MaskEdit1")->toolTip(), QString("Digite a sua senha de acesso"));
    QCOMPARE(t.campo<QLineEdit>("MaskEdit1")->echoMode(), QLineEdit::Password);
    QCOMPARE(t.campo<QPushButton>("cmdOK")->toolTip(), QString("Clique aqui para iniciar turno"));
    QVERIFY(t.campo<QPlainTextEdit>("Memo1")->isReadOnly());

    // Leftovers of the previous shift are gone, and nobody is on shift.
    t.campo<QLineEdit>("Edit1")->setText("velho");
    t.campo<QLineEdit>("MaskEdit1")->setText("x");
    t.campo<QPlainTextEdit>("Memo1")->setPlainText("antes");
    t.campo<QPushButton>("cmdOK")->setEnabled(true);
    t.d().show();
    QCOMPARE(t.campo<QLineEdit>("Edit1")->text(), QString());
    QCOMPARE(t.campo<QLineEdit>("MaskEdit1")->text(), QString());
    QCOMPARE(t.campo<QPlainTextEdit>("Memo1")->toPlainText(), QString());
    QVERIFY(!t.campo<QPushButton>("cmdOK")->isEnabled());
    QCOMPARE(t.s.core->currentOperator().nome, QString());
    QCOMPARE(t.s.core->currentOperator().permissoes, 0u);
    t.d().close();
}

void TestIniciarTurno::adminEnablesEverything() {
    Turno t;
    QSignalSpy sair(t.w.get(), &Form_Principal::exitRequested);
    bool visto = false;
    // Through the menu, modally, as the operator does it.
    QTimer::singleShot(0, t.w.get(), [&] {
        visto = t.d().isVisible() && QApplication::activeModalWidget() == &t.d();
        t.entrar("admin", "kavra");
        QCOMPARE(t.memo(), QStringList({"Turno Finalizado às 07:05:09", "Do dia 09/03/2026",
                                        "Operador: admin", "Turno Iniciado às 07:05:09",
                                        "Do dia 09/03/2026", "Operador: admin"}));
        QVERIFY(t.campo<QPushButton>("cmdOK")->isEnabled());
        QCOMPARE(t.paineis(), kTodos);
        QTest::mouseClick(t.campo<QPushButton>("cmdOK"), Qt::LeftButton);
    });
    t.w->findChild<QAction *>("rocadeTurno1")->trigger();
    QVERIFY(visto);
    QVERIFY(!t.d().isVisible());
    QCOMPARE(t.paineis(), kTodos);
    QCOMPARE(t.menus(), kTodos);
    QVERIFY(t.operadores());
    QCOMPARE(t.s.core->currentOperator().nome, QString("admin"));
    QCOMPARE(t.s.core->currentOperator().permissoes, 65535u);

    // The exit asks.
    t.s.prompt.answers = {true};
    t.w->Exit1Click();
    QCOMPARE(t.s.prompt.shown.size(), 1);
    QCOMPARE(t.s.prompt.shown[0].text, QString("Tem certeza que deseja Sair?"));
    QCOMPARE(sair.count(), 1);

    // "&Operadores" opens the operator form, modally.
    bool formulario = false;
    QTimer::singleShot(0, t.w.get(), [&] {
        QWidget *f = QApplication::activeModalWidget();
        formulario = f && f->objectName() == "FormCadastroOperadores" &&
                     f->windowTitle() == "Cadastro de Operadores";
        if (f) f->close();
    });
    t.w->findChild<QAction *>("Operadores1")->trigger();
    QVERIFY(formulario);
}

void TestIniciarTurno::relatoriosOnlyAndExitOpensTheDialog() {
    Turno t;
    t.currentOperator("joao", 8, "1234");
    // The administrator was on shift before: nothing of his stays with the next operator.
    t.d().show();
    t.entrar("admin", "kavra");
    t.d().accept();
    QVERIFY(t.operadores());

    t.d().show();
    t.entrar("joao", "1234");
    QCOMPARE(t.memo().last(), QString("Operador: joao"));
    QCOMPARE(t.paineis(), QList<bool>({false, false, false, true, false}));
    t.d().accept();
    QCOMPARE(t.menus(), QList<bool>({false, false, false, true, false}));
    QVERIFY(!t.operadores());
    QCOMPARE(t.s.core->currentOperator().permissoes, 8u);

    // Without the right to close, the exit asks nothing and opens the shift dialog.
    QSignalSpy sair(t.w.get(), &Form_Principal::exitRequested);
    bool aberto = false;
    QTimer::singleShot(0, t.w.get(), [&] {
        aberto = QApplication::activeModalWidget() == &t.d();
        t.d().reject();
    });
    t.w->findChild<QAction *>("Sair1")->trigger();
    QVERIFY(aberto);
    QCOMPARE(t.s.prompt.shown.size(), 0);
    QCOMPARE(sair.count(), 0);
    // Left without logging in: nothing allowed any more, not even leaving.
    QCOMPARE(t.paineis(), kNenhum);
    QCOMPARE(t.menus(), kNenhum);

    // Someone with the right logs in there and leaves.
    t.currentOperator("chefe", 32, "c");
    QTimer::singleShot(0, t.w.get(), [&] {
        t.entrar("chefe", "c");
        t.d().accept();
    });
    t.s.prompt.answers = {true};
    t.w->Exit1Click();
    QCOMPARE(t.s.prompt.shown.size(), 0);
    t.w->Exit1Click();
    QCOMPARE(t.s.prompt.shown.size(), 1);
    QCOMPARE(sair.count(), 1);
}

void TestIniciarTurno::abandonedShiftRemovesEveryPermission() {
    Turno t;
    t.d().show();
    t.entrar("admin", "kavra");
    t.d().accept();
    QCOMPARE(t.menus(), kTodos);

    // Shift change given up with the close box.
    t.d().show();
    QVERIFY(t.d().close());
    QCOMPARE(t.paineis(), kNenhum);
    QCOMPARE(t.menus(), kNenhum);
    QVERIFY(!t.operadores());
    QCOMPARE(t.s.core->currentOperator().nome, QString());

    // A right name with a wrong password is never on shift, not even while the dialog is open
    // (the pending window stays usable meanwhile), nor once it is given up.
    t.d().show();
    t.entrar("admin", "errada");
    QCOMPARE(t.s.core->currentOperator().nome, QString());
    QCOMPARE(t.s.core->currentOperator().permissoes, 0u);
    QTest::keyClick(&t.d(), Qt::Key_Escape);
    QVERIFY(!t.d().isVisible());
    QCOMPARE(t.paineis(), kNenhum);
    QCOMPARE(t.menus(), kNenhum);
    QVERIFY(!t.operadores());
    QCOMPARE(t.s.core->currentOperator().nome, QString());
    QCOMPARE(t.s.core->currentOperator().permissoes, 0u);
}

// Name, password, Enter (the check), Enter on the focused "OK": the shift starts. A name
// longer than its column is refused with a word, not silently.
void TestIniciarTurno::enterOnTheButtonAndTheFieldsLimit() {
    Turno t;
    t.d().show();
    t.entrar("admin", "kavra");
    auto *ok = t.campo<QPushButton>("cmdOK");
    QVERIFY(ok->isEnabled());
    ok->setFocus();
    QTest::keyClick(ok, Qt::Key_Return);
    QCOMPARE(t.d().result(), int(QDialog::Accepted));
    QVERIFY(!t.d().isVisible());

    t.d().show();
    auto *nome = t.campo<QLineEdit>("Edit1");
    QTest::keyClicks(nome, QString(20, 'a'));
    QVERIFY(QToolTip::text().isEmpty() || !QToolTip::isVisible());
    QTest::keyClicks(nome, "b");
    QCOMPARE(nome->text(), QString(20, 'a'));
    QCOMPARE(QToolTip::text(), QString("Máximo de 20 caracteres"));
    t.d().close();
}

void TestIniciarTurno::refusedPasswords() {
    Turno t;
    t.currentOperator("maria", 1 | 2, "Segredo");
    const QStringList recusa{"Senha Incorreta!", "Tente novamente", "Usuário Padrão = admin",
                             "Senha Padrão = kavra"};
    const QList<std::pair<QString, QString>> casos{{"admin", "KAVRA"},
                                                   {"admin", "Kavra"},
                                                   {"maria", "segredo"},
                                                   {"maria", ""},
                                                   {"ADMIN", "kavra"},
                                                   {"ninguem", "kavra"},
                                                   {"", ""}};
    for (const auto &[nome, senha] : casos) {
        t.d().show();
        t.entrar(nome, senha);
        QCOMPARE(t.memo(), recusa);
        QCOMPARE(t.campo<QLineEdit>("MaskEdit1")->text(), QString());
        QVERIFY(!t.campo<QPushButton>("cmdOK")->isEnabled());
        t.d().close();
        QCOMPARE(t.paineis(), kNenhum);
        QCOMPARE(t.menus(), kNenhum);
        QVERIFY(!t.operadores());
    }
    // Retrying is unlimited: after a refusal the right password is taken.
    t.d().show();
    t.entrar("maria", "x");
    t.entrar("maria", "Segredo");
    QCOMPARE(t.memo().size(), 6);
    t.d().accept();
    QCOMPARE(t.menus(), QList<bool>({true, true, false, false, false}));
    // Each refusal and the shift are in the audit, by whom they were made; the next shift change
    // ends maria's.
    auto audited = [&](const QString &acao) {
        return column(t.s.db(), "select coalesce(OPERADOR, '') || '|' || DESCRICAO from "
                                "AUDITORIA where ACAO = :a order by ID",
                      {{":a", acao}});
    };
    QCOMPARE(audited("Acesso recusado").size(), casos.size() + 1);
    QCOMPARE(audited("Acesso recusado").last().toString(), QString("|Usuário informado: maria"));
    QCOMPARE(audited("Início de turno"), QVariantList({"maria|Operador maria"}));
    QVERIFY(audited("Fim de turno").isEmpty());
    t.d().show();
    QCOMPARE(audited("Fim de turno"), QVariantList({"maria|Operador maria"}));
    t.d().close();

    // Once the administrator's password was changed, a refusal no longer gives it away.
    exec(t.s.db(), "update OPERADORES set SENHA = 'Outra' where NOME = 'admin'");
    t.d().show();
    t.entrar("admin", "kavra");
    QCOMPARE(t.memo(), QStringList({"Senha Incorreta!", "Tente novamente"}));
    t.d().close();
}

void TestIniciarTurno::checkOnLeavingThePasswordField() {
    Turno t;
    t.d().show();
    t.campo<QLineEdit>("Edit1")->setText("admin");
    t.campo<QLineEdit>("MaskEdit1")->setText("kavra");
    // Another window taking the focus is no check.
    QFocusEvent ativa(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(t.campo<QLineEdit>("MaskEdit1"), &ativa);
    QCOMPARE(t.memo(), QStringList());
    QFocusEvent tab(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(t.campo<QLineEdit>("MaskEdit1"), &tab);
    QCOMPARE(t.memo().size(), 6);
    QVERIFY(t.campo<QPushButton>("cmdOK")->isEnabled());
    QCOMPARE(t.s.core->currentOperator().nome, QString("admin"));
    t.d().accept();
    QCOMPARE(t.menus(), kTodos);
}

void TestIniciarTurno::operatorLookup() {
    Station s;
    QSqlDatabase db = s.db();
    bool ok = false;
    auto admin = OperatorRepository::find(db, "admin", &ok);
    QVERIFY(ok);
    QVERIFY(admin);
    QCOMPARE(admin->permissoes, 65535u);
    QCOMPARE(admin->senha, QString("kavra"));
    QVERIFY(!OperatorRepository::find(db, "Admin"));
    QVERIFY(OperatorRepository::passwordMatches(admin, "kavra"));
    QVERIFY(!OperatorRepository::passwordMatches(admin, "kavra "));
    QVERIFY(!OperatorRepository::passwordMatches(std::nullopt, ""));
    QVERIFY(!OperatorRepository::passwordMatches(Operator{"x", 0, ""}, ""));
    QVERIFY(OperatorRepository::isAdministrator("admin"));
    QVERIFY(OperatorRepository::isAdministrator("ADMIN"));
    QVERIFY(!OperatorRepository::isAdministrator("Admin"));
}

void TestIniciarTurno::recordingGoesOnWhileTheDialogIsOpen() {
    Turno t;
    t.s.addAccount("001234", "JOSE");
    t.s.addCode("1130", "ROUBO", 2, 0);
    t.s.core->startReception(); // as the console starts, before any window is shown
    t.w->show();
    QVERIFY(t.s.core->timerUpdate().isActive());
    QVERIFY(t.s.core->queueLine(
        eventline::build("01", "1", "1234", "1", "1130", "003", "09/03/26", "07:05:00")));
    int gravados = -1;
    bool pending = false;
    QTimer::singleShot(0, t.w.get(), [&] {
        // The real one-second driver, whose ticks the dialog's own event loop must deliver:
        // that is what this test is about, so it is not driven by hand.
        QTRY_COMPARE_WITH_TIMEOUT(t.s.eventCount(), 1, 10000);
        gravados = t.s.eventCount();
        // The pending event comes up beside the dialog, once the recorded row has been read
        // back and classified (the same tick or the next one).
        QDeadlineTimer prazo(10000);
        while (!t.w->pendingForm().isVisible() && !prazo.hasExpired())
            QTest::qWait(20);
        pending = t.w->pendingForm().isVisible();
        t.d().reject();
    });
    t.w->startShift();
    QCOMPARE(gravados, 1);
    QVERIFY(pending);
    QVERIFY(t.w->findChild<QAction *>("Pendentes1")->isEnabled());
    t.s.core->stopTimer();
}

QTEST_MAIN(TestIniciarTurno)
#include "test_iniciarturno.moc"
