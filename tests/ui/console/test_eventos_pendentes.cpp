#include "support/TestSupport.h"

#include "core/common/TextCodec.h"
#include "ui/console/EventColorDelegate.h"
#include "ui/console/Eventos_Pendentes.h"
#include "ui/console/Principal.h"
#include "core/events/EventLine.h"
#include "core/operators/Permissions.h"
#include "core/registry/AccountBrowser.h"
#include "ui/registry/Selecao_Clientes.h"
#include "core/store/SqlListModel.h"
#include "core/settings/ConfigIni.h"
#include "core/settings/LiveSettings.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QWindow>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kInicio(QDate(2026, 3, 9), QTime(8, 30, 0));


// A main window (with its pending-events window) over a station of its own.
struct Console {
    Station s{kInicio};
    std::unique_ptr<Form_Principal> w;

    Console() {
        mapPort(s.core->dataDir(), 1, s.dir.path() + "/sem-porta");
        s.addAccount("001234", "JOSE DA SILVA");
        exec(s.db(),
             "update CLIENTES set TELEFONE1 = '1133334444', TELEFONE2 = '(11) 2222-1111', "
             "CELULAR = '11987654321', ANIMAIS = 'CAO', SENHA = 'ABC123', OBS = 'Portao azul' "
             "where CONTA = '001234'");
        s.addCode("1130", "roubo", 2, 0, 4);
        s.addCode("1602", "teste periodico", 6, 0, 0);
        s.addCode("1401", "abertura", 0, 1, 2);
    }
    Form_Principal &openDialog() {
        w = std::make_unique<Form_Principal>(s.core->services(), nullptr);
        w->show();
        s.core->stopTimer();
        return *w;
    }
    Form_Eventos_Pendentes &f() { return w->pendingForm(); }
    template <typename T> T *filho(const char *nome) {
        return f().findChild<T *>(QLatin1String(nome));
    }
    QAction *pending() { return w->findChild<QAction *>("Pendentes1"); }
    QVariant evento(const QString &col, const QVariant &seq) {
        return scalar(s.db(), QString("select %1 from EVENTOS where SEQUENCIA = :s").arg(col),
                      {{":s", seq}});
    }
};

// A click as the window system delivers it: to the window under the pointer, through the
// application's modality rules (a window blocked by a modal one gets nothing). A click-to-focus
// window manager then gives that window the keyboard.
void clicar(QWidget *alvo, QPoint onde = QPoint()) {
    QWidget *janela = alvo->window();
    if (onde.isNull()) onde = alvo->rect().center();
    QTest::mouseClick(janela->windowHandle(), Qt::LeftButton, {}, alvo->mapTo(janela, onde));
    janela->activateWindow();
}

// Keys as the window system delivers them, to the window given or to the one that has the
// keyboard.
void digitar(const QString &texto, QWindow *janela = nullptr) {
    for (QChar ch : texto)
        QTest::keyClick(janela ? janela : QGuiApplication::focusWindow(), ch.toLatin1());
}

} // namespace

class TestEventosPendentes : public QObject {
    Q_OBJECT
private slots:
    void recordingRaisesTheWindowWithTheAccount();
    void treatingTheLastEventClosesTheWindow();
    void treatmentWithoutDetailsIsRefused();
    void databaseErrorIsReportedAndDetailsCleared();
    void refreshKeepsTheRowAndTheTypedDetails();
    void priorityTexts();
    void typeColoursDifferFromTheMainGrid();
    void interventionKindsFromTheFile();
    void phoneMask();
    void openedFromMenuAndPicture();
    void unreadableListIsReported();
    void usableWhileAnyDialogIsOpen_data();
    void usableWhileAnyDialogIsOpen();
    void comesForwardWithoutTakingTheKeyboard();
    void deletedAccountLeavesTheList();
    void vanishedEventIsToldNotTreated();
    void theMostUrgentComesFirstThenTheOldestWithItsWaitInColour();
};

void TestEventosPendentes::recordingRaisesTheWindowWithTheAccount() {
    Console c;
    c.openDialog();
    QVERIFY(!c.pending()->isEnabled());
    QVERIFY(!c.f().isVisible());
    QCOMPARE(c.f().windowTitle(), QString("Eventos Pendentes"));
    QVERIFY(!c.f().isModal());

    // An event registered automatically does not touch the window.
    QCOMPARE(c.s.record(eventLine("1401", "08:30:30")).status, RecordResult::Status::Stored);
    QVERIFY(!c.pending()->isEnabled());
    QVERIFY(!c.f().isVisible());

    QCOMPARE(c.s.record(eventLine("1130", "08:31:00")).status, RecordResult::Status::Stored);
    QVERIFY(c.pending()->isEnabled());
    QVERIFY(c.f().isVisible());
    auto *grid = c.filho<QTableView>("Grid_Pendentes");
    QCOMPARE(grid->model()->rowCount(), 1);
    const QStringList titulos{"CODIGO", "ARGUMENTO", "PARTIÇÃO", "DESCRIÇÃO", "DATA", "ESPERA"};
    for (int i = 0; i < titulos.size(); ++i)
        QCOMPARE(grid->model()->headerData(i, Qt::Horizontal).toString(), titulos[i]);
    QCOMPARE(grid->model()->index(0, 0).data().toString(), QString("1130"));
    QCOMPARE(grid->model()->index(0, 4).data().toString(), QString("09/03/2026 08:31:00"));

    QCOMPARE(c.filho<QLineEdit>("Conta_Cliente")->text(), QString("001234"));
    QCOMPARE(c.filho<QLineEdit>("Nome_Cliente")->text(), QString("JOSE DA SILVA"));
    QCOMPARE(c.filho<QLineEdit>("ME_Telefone1")->text(), QString("(11) 3333-4444"));
    QCOMPARE(c.filho<QLineEdit>("ME_Telefone2")->text(), QString("(11) 2222-1111"));
    QCOMPARE(c.filho<QLineEdit>("ME_Telefone3")->text(), QString("(11) 98765-4321"));
    QCOMPARE(c.filho<QLineEdit>("Animais")->text(), QString("CAO"));
    QCOMPARE(c.filho<QLineEdit>("Senha")->text(), QString("ABC123"));
    QCOMPARE(c.filho<QPlainTextEdit>("Observacoes")->toPlainText(), QString("Portao azul"));
    auto *evento = c.filho<QLabel>("ST_Evento");
    QCOMPARE(evento->text(), QString("ROUBO 3"));
    QCOMPARE(evento->palette().color(QPalette::Window), QColor(0xFF, 0x00, 0x00));
    QCOMPARE(c.filho<QLabel>("ST_Prioridade")->text(), QString("ALTA"));

    // A second pending event of an unregistered account, as urgent: the list grows, the
    // oldest first, and the operator stays on the event he was on.
    QCOMPARE(c.s.record(eventLine("1130", "08:32:00", "9999")).status, RecordResult::Status::Stored);
    QCOMPARE(grid->model()->rowCount(), 2);
    QCOMPARE(c.f().pending().value(1, "CONTA").toString(), QString("009999"));
    QCOMPARE(c.f().currentRow(), 0);
    QCOMPARE(c.filho<QLineEdit>("Conta_Cliente")->text(), QString("001234"));
    // Choosing the unregistered account's event empties the account fields.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualRect(grid->model()->index(1, 1)).center());
    QCOMPARE(c.f().currentRow(), 1);
    QCOMPARE(c.filho<QLineEdit>("Conta_Cliente")->text(), QString());
    QCOMPARE(c.filho<QLineEdit>("ME_Telefone1")->text(), QString());
    QCOMPARE(evento->text(), QString("ROUBO 003"));

    // Hidden again, the next pending event brings it back.
    c.f().hide();
    QCOMPARE(c.s.record(eventLine("1602", "08:33:00")).status, RecordResult::Status::Stored);
    QVERIFY(c.f().isVisible());
    QCOMPARE(grid->model()->rowCount(), 3);
}

void TestEventosPendentes::treatingTheLastEventClosesTheWindow() {
    Console c;
    Form_Principal &w = c.openDialog();
    QCOMPARE(c.s.record(eventLine("1130", "08:31:00")).status, RecordResult::Status::Stored);
    const QVariant seq = c.s.last("SEQUENCIA");
    QCOMPARE(w.receivedEvents().rowCount(), 0);
    QVERIFY(c.f().isVisible());

    c.s.clock.set(QDateTime(QDate(2026, 3, 9), QTime(8, 40, 0)));
    auto *combo = c.filho<QComboBox>("CB_Intervencao");
    combo->setEditText("Viatura no local");
    c.filho<QLineEdit>("E_Detalhes")->setText("Cliente avisado por telefone");
    // From the keyboard: Enter on the focused "Finalizar Intervenção" presses it.
    c.filho<QPushButton>("Button1")->setFocus();
    QTest::keyClick(c.filho<QPushButton>("Button1"), Qt::Key_Return);

    QCOMPARE(c.s.prompt.shown.size(), 0);
    QCOMPARE(c.evento("TRATADO", seq).toInt(), 1);
    QCOMPARE(c.evento("DETALHES", seq).toString(), QString("Cliente avisado por telefone"));
    QCOMPARE(c.evento("INTERVENCAO", seq).toString(), QString("Viatura no local"));
    QCOMPARE(c.evento("DATA_INTERVENCAO", seq).toDateTime(), c.s.clock.now());
    QVERIFY(!c.pending()->isEnabled());
    QVERIFY(!c.f().isVisible());
    QCOMPARE(w.findChild<QLabel *>("Panel3")->text(), QString("Pendentes: 0"));
    QCOMPARE(c.filho<QLineEdit>("E_Detalhes")->text(), QString());
    // At once among the received events, with its intervention time.
    QCOMPARE(w.receivedEvents().rowCount(), 1);
    QCOMPARE(w.receivedEvents().value(0, "SEQUENCIA"), seq);
    const int col = w.receivedEvents().columnOf("DATA_INTERVENCAO");
    QCOMPARE(w.receivedEvents().index(0, col).data().toString(), QString("09/03/2026 08:40:00"));

    // Texts longer than their columns are cut, not refused.
    QCOMPARE(c.s.record(eventLine("1130", "08:45:00")).status, RecordResult::Status::Stored);
    const QVariant seq2 = c.s.last("SEQUENCIA");
    c.filho<QComboBox>("CB_Intervencao")->setEditText(QString(30, 'x'));
    c.filho<QLineEdit>("E_Detalhes")->setText(QString(50, 'y'));
    c.f().Button1Click();
    QCOMPARE(c.s.prompt.shown.size(), 0);
    QCOMPARE(c.evento("TRATADO", seq2).toInt(), 1);
    QCOMPARE(c.evento("DETALHES", seq2).toString(), QString(40, 'y'));
    QCOMPARE(c.evento("INTERVENCAO", seq2).toString(), QString(20, 'x'));
}

void TestEventosPendentes::treatmentWithoutDetailsIsRefused() {
    Console c;
    c.openDialog();
    QCOMPARE(c.s.record(eventLine("1130", "08:31:00")).status, RecordResult::Status::Stored);
    const QVariant seq = c.s.last("SEQUENCIA");
    for (const QString &detalhes : {QString(), QString("   ")}) {
        c.s.prompt.shown.clear();
        c.filho<QLineEdit>("E_Detalhes")->setText(detalhes);
        c.f().Button1Click();
        QCOMPARE(c.s.prompt.shown.size(), 1);
        QCOMPARE(c.s.prompt.shown[0].text,
                 QString("Voce precisa escrever os detalhes da intervenção!"));
        QCOMPARE(c.evento("TRATADO", seq).toInt(), 0);
        QVERIFY(c.f().isVisible());
        QVERIFY(c.pending()->isEnabled());
    }
}

void TestEventosPendentes::databaseErrorIsReportedAndDetailsCleared() {
    Console c;
    Form_Principal &w = c.openDialog();
    QCOMPARE(c.s.record(eventLine("1130", "08:31:00")).status, RecordResult::Status::Stored);
    const QVariant seq = c.s.last("SEQUENCIA");
    exec(c.s.db(), "CREATE EXCEPTION E_RECUSA 'alteração recusada'");
    exec(c.s.db(), "CREATE TRIGGER T_RECUSA FOR EVENTOS BEFORE UPDATE AS\n"
                   "begin\n  exception E_RECUSA;\nend");
    c.filho<QLineEdit>("E_Detalhes")->setText("Cliente avisado");
    c.f().Button1Click();
    QCOMPARE(c.s.prompt.shown.size(), 1);
    QCOMPARE(c.s.prompt.shown[0].text, QString("Houve um erro ao tentar alterar o evento."));
    QCOMPARE(c.s.prompt.shown[0].caption, QString("ATENÇÃO"));
    QCOMPARE(c.s.prompt.shown[0].icon, Prompt::Icon::Error);
    QCOMPARE(c.evento("TRATADO", seq).toInt(), 0);
    QVERIFY(c.f().isVisible());
    QVERIFY(c.pending()->isEnabled());
    QCOMPARE(c.filho<QLineEdit>("E_Detalhes")->text(), QString());
    QCOMPARE(c.f().pending().rowCount(), 1);
    QCOMPARE(w.receivedEvents().rowCount(), 0);
}

void TestEventosPendentes::refreshKeepsTheRowAndTheTypedDetails() {
    Console c;
    c.openDialog();
    c.s.record(eventLine("1130", "08:31:00"));
    const QVariant antigo = c.s.last("SEQUENCIA");
    c.s.record(eventLine("1602", "08:32:00"));
    QCOMPARE(c.f().pending().rowCount(), 2);
    c.f().selectRow(0);
    QCOMPARE(c.f().pending().value(0, "SEQUENCIA"), antigo);
    auto *detalhes = c.filho<QLineEdit>("E_Detalhes");
    detalhes->setText("Ligando para o cliente");

    // A new event arrives while the operator writes.
    c.s.record(eventLine("1130", "08:33:00"));
    QCOMPARE(c.f().pending().rowCount(), 3);
    QCOMPARE(c.f().pending().value(c.f().currentRow(), "SEQUENCIA"), antigo);
    QCOMPARE(c.filho<QLabel>("ST_Evento")->text(), QString("ROUBO 3"));
    QCOMPARE(detalhes->text(), QString("Ligando para o cliente"));

    // Another row shown: the description belonged to the previous one.
    c.f().selectRow(1);
    QCOMPARE(detalhes->text(), QString());

    // The event treated elsewhere (another workstation): the list falls back to its first row.
    c.f().selectRow(0);
    exec(c.s.db(), "update EVENTOS set TRATADO = 1 where SEQUENCIA = :s", {{":s", antigo}});
    QVERIFY(c.f().Buscar_Atualizacoes());
    QCOMPARE(c.f().pending().rowCount(), 2);
    QCOMPARE(c.f().currentRow(), 0);
    QCOMPARE(c.s.prompt.shown.size(), 0);
}

void TestEventosPendentes::priorityTexts() {
    const QList<std::pair<QVariant, QString>> casos{
        {0, "NENHUMA"}, {1, "BAIXA"},  {2, "NORMAL"},  {3, "MÉDIA"},
        {4, "ALTA"},    {5, "MÁXIMA"}, {6, "NENHUMA"}, {QVariant(), "NENHUMA"}};
    for (const auto &[p, text] : casos)
        QCOMPARE(Form_Eventos_Pendentes::priorityText(p), text);

    // As the window shows them, from the rows themselves.
    Console c;
    c.openDialog();
    c.s.addCode("1603", "outro", 6, 0, 6);
    c.s.record(eventLine("1602", "08:31:00"));
    QCOMPARE(c.filho<QLabel>("ST_Prioridade")->text(), QString("NENHUMA"));
    c.filho<QLabel>("ST_Prioridade")->setText("?");
    c.s.record(eventLine("1603", "08:32:00"));
    c.f().selectRow(1); // none and out of range rank alike: by age
    QCOMPARE(c.f().pending().value(1, "PRIORIDADE").toInt(), 6);
    QCOMPARE(c.filho<QLabel>("ST_Prioridade")->text(), QString("NENHUMA"));
}

void TestEventosPendentes::typeColoursDifferFromTheMainGrid() {
    const QList<std::pair<QString, QColor>> casos{
        {"ARMADO", QColor(0x008080)},     {"DESARMADO", QColor(0x00FF00)},
        {"ALARME", QColor(0xFF0000)},     {"RESTAURAÇÃO", QColor(0xFFFF00)},
        {"EMERGENCIA", QColor(0xFF00FF)}, {"PANICO", QColor(0xFF00FF)},
        {"PERIÓDICO", QColor(0x808080)},  {"REGISTRO", QColor(0xC0C0C0)},
        {"FALHAS", QColor(0x800080)},     {"INTERNO", QColor(0x00FFFF)},
        {"PERIODICO", QColor(Qt::white)}, {"", QColor(Qt::white)}};
    for (const auto &[tipo, cor] : casos)
        QCOMPARE(Form_Eventos_Pendentes::typeColor(tipo), cor);
    QCOMPARE(EventColorDelegate::colors("PERIÓDICO", false, QPalette()).background, QColor(0xD6D6D6));

    Console c;
    c.openDialog();
    c.s.record(eventLine("1602", "08:31:00"));
    auto *evento = c.filho<QLabel>("ST_Evento");
    QCOMPARE(evento->text(), QString("TESTE PERIODICO"));
    QCOMPARE(evento->palette().color(QPalette::Window), QColor(0x808080));
    QVERIFY(evento->autoFillBackground());
}

void TestEventosPendentes::interventionKindsFromTheFile() {
    Console c;
    c.openDialog();
    auto *combo = c.filho<QComboBox>("CB_Intervencao");
    auto itens = [combo] {
        QStringList l;
        for (int i = 0; i < combo->count(); ++i)
            l << combo->itemText(i);
        return l;
    };
    QVERIFY(combo->isEditable());
    QCOMPARE(itens(), QStringList({"Disparo Falso", "Teste", "Técnico Enviado", "Tático Enviado"}));
    QCOMPARE(combo->currentText(), QString("Disparo Falso"));

    // Written by the Windows version: Windows-1252 with CR LF.
    const QString arquivo = c.s.core->dataDir() + "/int.txt";
    auto escrever = [&arquivo](const QByteArray &bytes) {
        QFile f(arquivo);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    escrever(toWindows1252("Vigilante Enviado\r\nPolícia Acionada\r\nFalso Alarme\r\n"));
    c.f().show();
    QCOMPARE(itens(), QStringList({"Vigilante Enviado", "Polícia Acionada", "Falso Alarme"}));
    QCOMPARE(combo->currentText(), QString("Vigilante Enviado"));

    // Read again on every activation; UTF-8 is taken as such, blank lines are no kind.
    combo->setEditText("digitado");
    escrever("Ronda\n\nManutenção\n");
    QEvent ativa(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&c.f(), &ativa);
    QCOMPARE(itens(), QStringList({"Ronda", "Manutenção"}));
    QCOMPARE(combo->currentText(), QString("Ronda"));
    // A kind the operator chose survives the next activation while the file still has it.
    combo->setCurrentIndex(1);
    QCoreApplication::sendEvent(&c.f(), &ativa);
    QCOMPARE(combo->currentText(), QString("Manutenção"));
    escrever("Ronda\nOutro\n");
    QCoreApplication::sendEvent(&c.f(), &ativa);
    QCOMPARE(combo->currentText(), QString("Ronda"));

    // An empty file offers the built-in kinds, as a missing one does.
    escrever("");
    QCoreApplication::sendEvent(&c.f(), &ativa);
    QCOMPARE(itens().size(), 4);
    QCOMPARE(combo->currentText(), QString("Disparo Falso"));
    QFile::remove(arquivo);
    QCOMPARE(Form_Eventos_Pendentes::readInterventionKinds(arquivo),
             Form_Eventos_Pendentes::kDefaultInterventionKinds);

    // A FIFO would hold the window, and the reception beside it, for good: the built-in
    // kinds, and the operator told once, not at every activation.
    escrever("Ronda\n");
    QCoreApplication::sendEvent(&c.f(), &ativa);
    QFile::remove(arquivo);
    Fifo fifo(arquivo);
    QVERIFY(fifo.ok());
    const qsizetype before = c.s.prompt.shown.size();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::sendEvent(&c.f(), &ativa);
    QCOMPARE(itens(), Form_Eventos_Pendentes::kDefaultInterventionKinds);
    QCOMPARE(c.s.prompt.shown.size(), before + 1);
    QCOMPARE(c.s.prompt.shown.last().text,
             QString("\"%1\" não é um arquivo comum (é um FIFO) e não foi lido.\n\nA lista "
                     "padrão de intervenções será usada.")
                 .arg(arquivo));
    QVERIFY(!fifo.releasedAReader());
}

void TestEventosPendentes::phoneMask() {
    QCOMPARE(Form_Eventos_Pendentes::phoneMask("1133334444"), QString("(11) 3333-4444"));
    QCOMPARE(Form_Eventos_Pendentes::phoneMask("(11) 3333-4444"), QString("(11) 3333-4444"));
    QCOMPARE(Form_Eventos_Pendentes::phoneMask("11987654321"), QString("(11) 98765-4321"));
    QCOMPARE(Form_Eventos_Pendentes::phoneMask("113333"), QString("(11) 3333-    "));
    QCOMPARE(Form_Eventos_Pendentes::phoneMask(""), QString());
}

void TestEventosPendentes::openedFromMenuAndPicture() {
    Console c;
    c.openDialog();
    c.pending()->setEnabled(true);
    c.pending()->trigger();
    QVERIFY(c.f().isVisible());
    QCOMPARE(c.f().pending().rowCount(), 0);
    c.f().hide();
    auto *img = c.w->findChild<QLabel *>("Img_Eventos_Pendentes");
    QTest::mousePress(img, Qt::LeftButton);
    QVERIFY(!c.f().isVisible());
    QTest::mouseRelease(img, Qt::LeftButton);
    QVERIFY(c.f().isVisible());
}

void TestEventosPendentes::unreadableListIsReported() {
    Console c;
    c.openDialog();
    c.s.record(eventLine("1130", "08:31:00"));
    QCOMPARE(c.f().pending().rowCount(), 1);
    c.s.db().close();
    QVERIFY(!c.f().Buscar_Atualizacoes());
    QCOMPARE(c.s.prompt.shown.size(), 1);
    QCOMPARE(c.s.prompt.shown[0].text,
             QString("Houve um erro ao tentar atualizar os dados do evento."));
    QCOMPARE(c.s.prompt.shown[0].caption, QString("ERRO"));
    QCOMPARE(c.s.prompt.shown[0].icon, Prompt::Icon::Error);
    // Back once the database is: the event is still there, pending.
    QVERIFY(c.s.core->database().ensureAlive() != Database::State::Unreachable);
    QVERIFY(c.f().Buscar_Atualizacoes());
    QCOMPARE(c.f().pending().rowCount(), 1);
}

void TestEventosPendentes::usableWhileAnyDialogIsOpen_data() {
    QTest::addColumn<QString>("comando");
    QTest::addColumn<QString>("dialogo");
    QTest::addColumn<QString>("titulo");
    QTest::newRow("codigos") << "Eventos2"
                             << "Form_Eventos_Padrao"
                             << "Codigos de Eventos";
    QTest::newRow("relatorios") << "Eventos1"
                                << "Form_Relatorio_Selecao"
                                << "Relatórios de Eventos";
    QTest::newRow("turno") << "rocadeTurno1"
                           << "Form_iniciar_turno"
                           << "Iniciar Turno";
}

// With a dialog of the console open, a new alarm raises the pending window, and the operator
// works in it with mouse and keys while the dialog waits, modal to the main window only.
void TestEventosPendentes::usableWhileAnyDialogIsOpen() {
    QFETCH(QString, comando);
    QFETCH(QString, dialogo);
    QFETCH(QString, titulo);
    Console c;
    Form_Principal &w = c.openDialog();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.applyPermissions(Permissions::kAll);
    w.menusFollowPanels();
    QCOMPARE(c.s.record(eventLine("1130", "08:31:00")).status, RecordResult::Status::Stored);
    c.f().hide(); // the operator left it for later
    bool ran = false;
    QTimer::singleShot(0, &w, [&] {
        QWidget *d = QApplication::activeModalWidget();
        auto fechar = qScopeGuard([d] {
            if (d) d->close();
        });
        QVERIFY(d);
        QCOMPARE(d->objectName(), dialogo);
        QCOMPARE(d->windowTitle(), titulo);
        QCOMPARE(d->windowModality(), Qt::WindowModal);
        QTRY_COMPARE(QApplication::activeWindow(), d);

        QCOMPARE(c.s.record(eventLine("1130", "08:32:00")).status, RecordResult::Status::Stored);
        QVERIFY(c.f().isVisible());
        QTest::qWait(200); // whatever the platform does with the window shown
        QCOMPARE(QApplication::activeWindow(), d); // the dialog keeps the keyboard
        QCOMPARE(QApplication::activeModalWidget(), d);
        QCOMPARE(c.f().pending().rowCount(), 2);

        // The grid takes a click, the combo opens and takes keys, the description takes text.
        auto *grid = c.filho<QTableView>("Grid_Pendentes");
        QCOMPARE(c.f().currentRow(), 0); // the oldest of the most urgent
        clicar(grid->viewport(), grid->visualRect(grid->model()->index(1, 1)).center());
        QCOMPARE(c.f().currentRow(), 1);
        QTRY_COMPARE(QApplication::activeWindow(), &c.f());
        const QVariant seq = c.f().pending().value(1, "SEQUENCIA");
        auto *combo = c.filho<QComboBox>("CB_Intervencao");
        clicar(combo, QPoint(combo->width() - 6, combo->height() / 2));
        QTRY_VERIFY(combo->view()->isVisible());
        QWindow *lista = QApplication::activePopupWidget()->windowHandle();
        QTest::keyClick(lista, Qt::Key_Down);
        QTest::keyClick(lista, Qt::Key_Return);
        QTRY_VERIFY(!combo->view()->isVisible());
        QCOMPARE(combo->currentText(), QString("Teste"));
        auto *detalhes = c.filho<QLineEdit>("E_Detalhes");
        clicar(detalhes);
        digitar("portao aberto", c.f().windowHandle());
        QCOMPARE(detalhes->text(), QString("portao aberto"));
        clicar(c.filho<QPushButton>("Button1"));
        QCOMPARE(c.evento("TRATADO", seq).toInt(), 1);
        QCOMPARE(c.evento("DETALHES", seq).toString(), QString("portao aberto"));
        QCOMPARE(c.evento("INTERVENCAO", seq).toString(), QString("Teste"));
        QCOMPARE(c.f().pending().rowCount(), 1);
        QCOMPARE(w.findChild<QLabel *>("Panel3")->text(), QString("Pendentes: 1"));
        // The dialog is still open, and still blocks the main window.
        QCOMPARE(QApplication::activeModalWidget(), d);
        QVERIFY(d->isVisible());
        ran = true;
    });
    w.findChild<QAction *>(comando)->trigger();
    QVERIFY(ran);
    QCOMPARE(c.s.prompt.shown.size(), 0);
}

// At start, with events pending, the pending window comes up and the shift dialog opens; an
// alarm that raises the window while the password is typed leaves the keyboard where it is.
void TestEventosPendentes::comesForwardWithoutTakingTheKeyboard() {
    Console c;
    QCOMPARE(c.s.record(eventLine("1130", "08:29:00")).status, RecordResult::Status::Stored);
    Form_Principal &w = c.openDialog();
    QTRY_VERIFY(c.f().isVisible()); // once the main window is on the screen
    QVERIFY(!c.f().parentWidget());
    bool ran = false;
    QTimer::singleShot(0, &w, [&] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        auto fechar = qScopeGuard([d] {
            if (d && d->isVisible()) d->reject();
        });
        QVERIFY(d);
        QCOMPARE(d->objectName(), QString("Form_iniciar_turno"));
        QTRY_COMPARE(QApplication::activeWindow(), d);
        auto *nome = d->findChild<QLineEdit *>("Edit1");
        auto *senha = d->findChild<QLineEdit *>("MaskEdit1");
        QCOMPARE(QApplication::focusWidget(), nome);
        digitar("admin");
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), senha);
        digitar("kav");
        // Shown anew, then raised again while it is up.
        c.f().hide();
        for (const char *hora : {"08:31:00", "08:32:00"}) {
            QCOMPARE(c.s.record(eventLine("1130", hora)).status, RecordResult::Status::Stored);
            QVERIFY(c.f().isVisible());
            QTest::qWait(200); // whatever the platform does with the window shown
            QCOMPARE(QApplication::activeWindow(), d);
            QCOMPARE(QApplication::focusWidget(), senha);
        }
        digitar("ra");
        QCOMPARE(nome->text(), QString("admin"));
        QCOMPARE(senha->text(), QString("kavra"));
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
        QCOMPARE(c.s.core->currentOperator().nome, QString("admin"));
        QVERIFY(d->findChild<QPushButton *>("cmdOK")->isEnabled());
        d->accept();
        ran = true;
    });
    w.startShift();
    QVERIFY(ran);
    QCOMPARE(c.f().pending().rowCount(), 3);
    QVERIFY(c.f().findChild<QLineEdit *>("E_Detalhes")->text().isEmpty());
}

// The events of a deleted account go with it: the pending list, its count and its command
// follow at once.
void TestEventosPendentes::deletedAccountLeavesTheList() {
    Console c;
    c.s.addAccount("005678", "MARIA");
    Form_Principal &w = c.openDialog();
    w.applyPermissions(Permissions::kAll);
    w.menusFollowPanels();
    for (const char *hora : {"08:31:00", "08:32:00"})
        QCOMPARE(c.s.record(eventLine("1130", hora)).status, RecordResult::Status::Stored);
    QCOMPARE(c.s.record(eventLine("1130", "08:33:00", "5678")).status,
             RecordResult::Status::Stored);
    auto *contagem = w.findChild<QLabel *>("Panel3");
    QCOMPARE(contagem->text(), QString("Pendentes: 3"));
    QCOMPARE(c.f().pending().rowCount(), 3);

    // "Excluir Cliente" in the account browser, both questions answered yes.
    auto excluir = [&](const QString &conta) {
        c.s.prompt.answers = {true, true};
        bool deleted = false;
        QTimer::singleShot(0, &w, [&] {
            F_Selecao_Clientes &b = w.accountBrowser();
            auto fechar = qScopeGuard([&b] { b.close(); });
            QVERIFY(b.isVisible());
            for (int r = 0; r < b.browser().accounts().rowCount(); ++r)
                if (b.browser().accounts().value(r, "CONTA").toString() == conta) b.select(r);
            QCOMPARE(b.currentAccount(), conta);
            QSignalSpy fim(&b.browser(), &AccountBrowser::deletionFinished);
            QTest::mouseClick(b.findChild<QPushButton *>("Botao_Excluir"), Qt::LeftButton);
            QVERIFY(fim.wait(10000));
            deleted = fim.at(0).at(1).toBool();
        });
        w.findChild<QAction *>("CadastrodeClientes1")->trigger();
        return deleted;
    };
    QVERIFY(excluir("001234"));
    QCOMPARE(c.f().pending().rowCount(), 1);
    QCOMPARE(c.f().pending().value(0, "CONTA").toString(), QString("005678"));
    QCOMPARE(c.filho<QLineEdit>("Nome_Cliente")->text(), QString("MARIA"));
    QCOMPARE(contagem->text(), QString("Pendentes: 1"));
    QVERIFY(c.pending()->isEnabled());
    QVERIFY(c.f().isVisible());

    QVERIFY(excluir("005678"));
    QCOMPARE(c.f().pending().rowCount(), 0);
    QCOMPARE(contagem->text(), QString("Pendentes: 0"));
    QVERIFY(!c.pending()->isEnabled());
    QVERIFY(!c.f().isVisible());
    QCOMPARE(c.s.eventCount(), 0);
}

// "Finalizar Intervenção" on an event that went meanwhile says so, and writes nothing.
void TestEventosPendentes::vanishedEventIsToldNotTreated() {
    Console c;
    Form_Principal &w = c.openDialog();
    for (const char *hora : {"08:31:00", "08:32:00"})
        QCOMPARE(c.s.record(eventLine("1130", hora)).status, RecordResult::Status::Stored);
    const QString aviso("Este evento não está mais pendente: foi excluído ou já foi tratado. "
                        "A lista de eventos pendentes foi atualizada.");
    auto *detalhes = c.filho<QLineEdit>("E_Detalhes");

    // Deleted by a purge of another workstation.
    c.f().selectRow(0);
    const QVariant apagado = c.f().pending().value(0, "SEQUENCIA");
    exec(c.s.db(), "delete from EVENTOS where SEQUENCIA = :s", {{":s", apagado}});
    detalhes->setText("Cliente avisado");
    c.f().Button1Click();
    QCOMPARE(c.s.prompt.shown.size(), 1);
    QCOMPARE(c.s.prompt.shown[0].text, aviso);
    QCOMPARE(c.s.prompt.shown[0].caption, QString("ATENÇÃO"));
    QCOMPARE(c.s.prompt.shown[0].icon, Prompt::Icon::Warning);
    QCOMPARE(c.f().pending().rowCount(), 1);
    QVERIFY(c.f().isVisible());
    QCOMPARE(detalhes->text(), QString());
    QCOMPARE(w.findChild<QLabel *>("Panel3")->text(), QString("Pendentes: 1"));

    // Treated meanwhile by another operator: his intervention stays as he wrote it.
    const QVariant tratado = c.f().pending().value(0, "SEQUENCIA");
    exec(c.s.db(),
         "update EVENTOS set TRATADO = 1, DETALHES = 'Outro operador' where "
         "SEQUENCIA = :s",
         {{":s", tratado}});
    detalhes->setText("Cliente avisado");
    c.f().Button1Click();
    QCOMPARE(c.s.prompt.shown.size(), 2);
    QCOMPARE(c.s.prompt.shown[1].text, aviso);
    QCOMPARE(c.evento("DETALHES", tratado).toString(), QString("Outro operador"));
    QVERIFY(!c.f().isVisible());
    QVERIFY(!c.pending()->isEnabled());
    QCOMPARE(w.receivedEvents().rowCount(), 1);
}

// By priority, then the oldest first; each row tells how long it has waited and turns amber at
// the warning age and red at the critical one (Config.ini's [Pendentes], 60 and 90 s without).
// Raised by a new event, the window offers the most urgent; what it shows is marked shown.
void TestEventosPendentes::theMostUrgentComesFirstThenTheOldestWithItsWaitInColour() {
    Console c;
    c.s.addCode("1301", "falta de energia", 3, 0, 2);
    c.openDialog();
    c.s.clock.set(QDateTime(kInicio.date(), QTime(8, 31, 0)));
    c.s.record(eventLine("1301", "08:30:00"));
    c.s.record(eventLine("1602", "08:30:05"));
    c.s.record(eventLine("1130", "08:30:10"));
    auto *grid = c.filho<QTableView>("Grid_Pendentes");
    c.f().selectRow(2);
    c.s.record(eventLine("1130", "08:30:30", "9999"));
    QAbstractItemModel *m = grid->model();
    auto cells = [&](int col) {
        QStringList v;
        for (int r = 0; r < m->rowCount(); ++r) v << m->index(r, col).data().toString();
        return v;
    };
    QCOMPARE(cells(0), QStringList({"1130", "1130", "1301", "1602"}));
    QCOMPARE(c.f().pending().value(1, "CONTA").toString(), QString("009999"));
    QCOMPARE(c.f().currentRow(), 0);
    QCOMPARE(cells(5), QStringList({"00:50", "00:30", "01:00", "00:55"}));
    auto colour = [&](int r) { return m->index(r, 1).data(Qt::BackgroundRole).value<QColor>(); };
    const QColor amber(0xFF, 0xE6, 0x80), red(0xFF, 0x8C, 0x8C);
    QVERIFY(!colour(0).isValid());
    QCOMPARE(colour(2), amber);
    c.s.clock.set(QDateTime(kInicio.date(), QTime(8, 31, 40)));
    QTest::qWait(1100); // the window's second
    QCOMPARE(m->index(0, 5).data().toString(), QString("01:30"));
    QCOMPARE(colour(0), red);
    QCOMPARE(colour(1), amber);
    QVERIFY(!m->index(0, 5).data(Qt::BackgroundRole).isNull());

    // Ages of the station's own.
    QFile ini(c.s.core->dataDir() + "/Config.ini");
    QVERIFY(ini.open(QIODevice::Append));
    ini.write("[Pendentes]\r\nAviso=20\r\nCritico=abc\r\n");
    ini.close();
    ConfigIni(ConfigIni::pathIn(c.s.core->dataDir())).readPendingAges(c.s.core->settings());
    QCOMPARE(c.s.core->settings().pendingWarnSeconds(), 20);
    QCOMPARE(c.s.core->settings().pendingCriticalSeconds(), 90);
    c.s.clock.set(QDateTime(kInicio.date(), QTime(8, 30, 52)));
    QCOMPARE(colour(0), amber); // 42 s

    // Each was marked shown when the window first listed it, and keeps that moment.
    const QVariantList shown = column(c.s.db(), "select EXIBIDO from EVENTOS order by SEQUENCIA");
    QCOMPARE(shown.size(), 4);
    QCOMPARE(shown[0].toDateTime(), QDateTime(kInicio.date(), QTime(8, 31, 0)));
    QCOMPARE(shown[3].toDateTime(), QDateTime(kInicio.date(), QTime(8, 31, 0)));
}

QTEST_MAIN(TestEventosPendentes)
#include "test_eventos_pendentes.moc"
