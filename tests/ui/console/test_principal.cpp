#include "support/TestSupport.h"

#include "ui/modules/Acesso_GPRS.h"
#include "core/modules/ModuleExchange.h"

#include "ui/console/EventColorDelegate.h"
#include "ui/console/Eventos_Pendentes.h"
#include "ui/console/Principal.h"
#include "ui/console/Contas_Disparo.h"
#include "ui/registry/Cadastro_Clientes.h"
#include "ui/registry/Selecao_Clientes.h"

#include <QLineEdit>
#include "ui/console/SoundState.h"
#include "core/events/EventLine.h"
#include "core/reception/ConnectedDevicesModel.h"
#include "core/store/SqlListModel.h"

#include <QAction>
#include <QCheckBox>
#include <QSortFilterProxyModel>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QDialog>
#include <QPushButton>
#include <QTableWidget>
#include "ui/console/Contas_Teste.h"
#include "ui/reports/Auditoria.h"
#include "core/operators/AuditTrail.h"
#include "core/operators/CurrentOperator.h"
#include <QSpinBox>
#include <QLineEdit>
#include <QFile>
#include <QTest>

#include <array>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// Monday 9 March 2026, 08:30.
const QDateTime kSegunda(QDate(2026, 3, 9), QTime(8, 30, 0));

// The platform side of sound, recorded.
class FakeBackend : public SoundBackend {
public:
    void setFile(const QString &path) override { log << QStringLiteral("file:") + path; }
    bool play() override {
        log << QStringLiteral("play");
        return true;
    }
    void stop() override { log << QStringLiteral("stop"); }
    void playOnce(const QString &path) override { log << QStringLiteral("once:") + path; }
    QStringList log;
};

void receptorTcp(QSqlDatabase db, quint16 port, int tempoResposta) {
    ReceiverRow::tcp(1, port, tempoResposta, 5).insertInto(db);
}

void gprs(QSqlDatabase db, const QString &imei) {
    GprsRow(imei)
        .account("0042")
        .status("A")
        .date(kSegunda)
        .blocked(0)
        .equipment("01")
        .password("1234")
        .insertInto(db);
}

void evento(QSqlDatabase db, const QString &tipo, const QDateTime &data, bool nulo = false) {
    exec(db,
         "insert into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, ARGUMENTO, NUMERO_PARTICAO, "
         "NOME_PARTICAO, DESCRICAO, TIPO, DATA, DATA_INTERVENCAO, DETALHES, IDECALL, TRATADO, "
         "PRIORIDADE) values ('000042', 'JOSE', '1130', '003', 1, 'CASA', 'ROUBO', :t, :d, :d, "
         "'Evento Padrao', 'Nao Identificado', 1, 1)",
         {{":t", nulo ? QVariant() : QVariant(tipo)}, {":d", data}});
}

// The colour painted at the top-left corner of a cell, away from its text.
QColor corDaCelula(QTableView *grade, int row, int col) {
    const QImage img = grade->viewport()->grab().toImage();
    const QRect r = grade->visualRect(grade->model()->index(row, col));
    if (!img.rect().contains(r.topLeft() + QPoint(1, 1))) return QColor(); // not laid out
    return img.pixelColor(r.topLeft() + QPoint(1, 1));
}

// A main window over a station of its own.
struct Janela {
    Station s;
    FakeBackend *backend = new FakeBackend;
    SoundState sons{std::unique_ptr<SoundBackend>(backend)};
    std::unique_ptr<Form_Principal> w;

    explicit Janela(const QDateTime &inicio = kSegunda)
        : s(inicio) {
        mapPort(s.core->dataDir(), 1, s.dir.path() + "/sem-porta");
    }
    Form_Principal &openDialog(bool mostrar = true) {
        w = std::make_unique<Form_Principal>(s.core->services(), &sons);
        w->resize(1200, 700);
        if (mostrar) {
            // As the console starts: reception with the core, then the window shown.
            s.core->startReception();
            w->show();
            if (!QTest::qWaitForWindowExposed(w.get())) qWarning("window not exposed");
        }
        return *w;
    }
    template <typename T> T *filho(const char *nome) {
        return w->findChild<T *>(QLatin1String(nome));
    }
};

} // namespace

class TestPrincipal : public QObject {
    Q_OBJECT
private slots:
    // An English system: nothing the console shows may follow it.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void captionPagesAndColumns();
    void menuAndToolbar();
    void colourOfEachType_data();
    void colourOfEachType();
    void gridPaintsTypeColoursAndSelection();
    void closeBoxIsRefused();
    void exitAsksOnlyWithPermission();
    void deviceBusyAndMissingImei();
    void otherDevicesRepliesDoNotMakeItBusy();
    void connectedListShowsStateSortsAndFilters();
    void soundIndicatorFollowsClicks();
    void memoClearsOnDoubleClick();
    void accountPagesReopenWhenShown();
    void rearmAlertBringsItsPageAndStopsTheDriver();
    void inactivityAlertSoundsWhileTheMessageIsOpen();
    void silentAccountsOfOneTickWaitInLineWithOneSound();
    void statusBarShowsConnectionsAndTime();
    void recordedEventRestoresAMinimisedWindow();
    void pendingEventsStayInSight();
    void deviceEventEndToEnd();
    void runawayListFollowsTheRecordingAndFreesAnAccount();
    void testsStormAndTheAuditFromTheMenus();
};

void TestPrincipal::captionPagesAndColumns() {
    Janela j;
    Form_Principal &w = j.openDialog(false);
    QCOMPARE(w.objectName(), QString("Form_Principal"));
    QCOMPARE(w.windowTitle(), QString("Tulmo V.4.30"));
    auto *paginas = j.filho<QTabWidget>("PageControl1");
    QVERIFY(paginas);
    const QStringList titulos{"Eventos Recebidos", "GPRS Conectados", "Alarmes Desarmados",
                              "Aguardando Armar", "Sem comunicação"};
    const QStringList nomes{"TabSheet1", "TabSheet3", "TabSheet2", "TabSheet4", "TabSheet5"};
    QCOMPARE(paginas->count(), 5);
    QCOMPARE(paginas->currentIndex(), 0);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(paginas->tabText(i), titulos[i]);
        QCOMPARE(paginas->widget(i)->objectName(), nomes[i]);
    }
    auto titulosDe = [&](const char *grade) {
        QStringList t;
        QAbstractItemModel *m = j.filho<QTableView>(grade)->model();
        for (int c = 0; c < m->columnCount(); ++c)
            t << m->headerData(c, Qt::Horizontal).toString();
        return t;
    };
    QCOMPARE(
        titulosDe("Grade_Eventos"),
        QStringList({"CONTA", "CLIENTE", "CODIGO", "ARGUMENTO", "PARTIÇÃO", "NOME PARTIÇÃO",
                     "DESCRIÇÃO", "TIPO", "DATA", "DATA INTERVENÇÃO", "DETALHES", "TELEFONE"}));
    const QStringList conta{"CONTA",   "NOME",      "TELEFONE1", "TELEFONE2",
                            "CELULAR", "ENDERECO1", "ENDERECO2"};
    QCOMPARE(titulosDe("Grid_Desarmado"), conta);
    QCOMPARE(titulosDe("Grid_Rearme"), conta);
    QCOMPARE(titulosDe("DBGrid1"), conta + QStringList{"ULTIMO_EVENTO"});
    QCOMPARE(titulosDe("Grid_Conectados").size(), 10);
    {
        // Both dates of an event show whole, seconds included.
        auto *g = j.filho<QTableView>("Grade_Eventos");
        const int data = g->fontMetrics().horizontalAdvance("28/12/2000 23:59:59");
        QVERIFY(g->columnWidth(8) > data);
        QVERIFY(g->columnWidth(9) > data);
    }
    QCOMPARE(j.filho<QTableView>("Grid_Conectados")->font().pixelSize(), 13);
    {
        // Times, identifiers and addresses fit their columns uncut.
        auto *g = j.filho<QTableView>("Grid_Conectados");
        const QFontMetrics fm(g->font());
        const int data = fm.horizontalAdvance("28/12/2000 23:59:59");
        for (int c : {0, 3, 9}) QVERIFY2(g->columnWidth(c) > data, qPrintable(QString::number(c)));
        QVERIFY(g->columnWidth(5) > fm.horizontalAdvance("000000000000000"));
        QVERIFY(g->columnWidth(6) > fm.horizontalAdvance("000.000.000.000"));
    }
    QCOMPARE(j.filho<QTableView>("Grid_Rearme")->palette().color(QPalette::Base), QColor(0x808080));
    QCOMPARE(j.filho<QTableView>("Grid_Rearme")->palette().color(QPalette::Text),
             QColor(Qt::white));

    QCOMPARE(w.receivedEvents().sql(),
             QString("Select * From EVENTOS\nwhere TRATADO=1\norder by DATA desc"));
    QCOMPARE(w.desarmados().sql(),
             QString("Select * from Clientes\nwhere DESARMADOS = 1\norder by CONTA Desc"));
    QCOMPARE(w.rearme().sql(),
             QString("Select * from Clientes\nwhere REARME = 1\norder by CONTA Desc"));
    QCOMPARE(
        w.silent().sql(),
        QString("Select * from Clientes\nwhere EVENTO_ATRASADO = 1\norder by ULTIMO_EVENTO Desc"));
    // Only the newest thousand received events are read, and at most a thousand accounts.
    QCOMPARE(w.receivedEvents().rowLimit(), 1000);
    for (SqlListModel *l : {&w.desarmados(), &w.rearme(), &w.silent()})
        QCOMPARE(l->rowLimit(), 1000);

    // Dates in the one Brazilian form of every list; a pending event is not listed.
    evento(j.s.db(), "ALARME", QDateTime(QDate(2026, 3, 9), QTime(7, 5, 9)));
    exec(j.s.db(), "update EVENTOS set TRATADO = 0 where TIPO <> 'ALARME'");
    evento(j.s.db(), "ARMADO", QDateTime(QDate(2026, 3, 9), QTime(7, 0)));
    exec(j.s.db(), "update EVENTOS set TRATADO = 0 where TIPO = 'ARMADO'");
    w.reopenReceived();
    QCOMPARE(w.receivedEvents().rowCount(), 1);
    QCOMPARE(w.receivedEvents().index(0, 8).data().toString(), QString("09/03/2026 07:05:09"));
    QCOMPARE(w.receivedEvents().index(0, 7).data().toString(), QString("ALARME"));
    QCOMPARE(w.receivedEvents().index(0, 2).data().toString(), QString("1130"));
}

void TestPrincipal::menuAndToolbar() {
    Janela j;
    j.openDialog(false);
    const QStringList itens{
        "CadastrodeClientes1", "Eventos2", "CadastrodeGPRS1", "Operadores1", "rocadeTurno1",
        "Importar1",           "Sair1",    "Pendentes1",      "Eventos1",    "ApagarEventos1",
        "Configuracoes",       "ContasDisparo1", "TempoAtendimento1"};
    const QStringList textos{"&Clientes",       "&Eventos",        "&GPRS",         "&Operadores",
                             "&Troca de Turno", "&Importar",       "&Sair",         "&Pendentes",
                             "&Relatorios",     "&Apagar Eventos", "&Configurações", "&Disparos",
                             "&Tempo de Atendimento"};
    for (int i = 0; i < itens.size(); ++i) {
        auto *a = j.w->findChild<QAction *>(itens[i]);
        QVERIFY2(a, qPrintable(itens[i]));
        QCOMPARE(a->text(), textos[i]);
    }
    QVERIFY(!j.w->findChild<QAction *>("Operadores1")->isEnabled());
    QVERIFY(!j.w->findChild<QAction *>("Pendentes1")->isEnabled());
    const QStringList paineis{"Pnl_Cadastro_Clientes",
                              "Pnl_Cadastro_Eventos",
                              "Pnl_Cadastro_GPRS",
                              "Pnl_Eventos_Pendentes",
                              "Pnl_Relatorio_Eventos",
                              "Pnl_Configuracoes",
                              "Pnl_Sair"};
    const QStringList dicas{"Cadastro de Clientes",
                            "Cadastro de Eventos",
                            "Cadastro GPRS",
                            "Eventos Pendentes",
                            "Relatório",
                            "Configurações",
                            "Sair"};
    QVERIFY(j.filho<QFrame>("P_Botoes"));
    for (int i = 0; i < paineis.size(); ++i) {
        auto *p = j.w->findChild<QFrame *>(paineis[i]);
        QVERIFY2(p, qPrintable(paineis[i]));
        QCOMPARE(p->findChild<QLabel *>()->toolTip(), dicas[i]);
        QCOMPARE(p->frameShadow(), QFrame::Raised);
    }
    QVERIFY(!j.filho<QFrame>("Pnl_Cadastro_Clientes")->isEnabled());
    QVERIFY(j.filho<QLabel>("Image2"));
    // The registry windows, each opened by its command and by its picture once the shift
    // grants them.
    j.w->applyPermissions(Permissions::kAll);
    j.w->menusFollowPanels();
    const QList<std::array<const char *, 3>> registry{
        {"CadastrodeClientes1", "Img_Cadastro_Clientes", "F_Selecao_Clientes"},
        {"Eventos2", "Img_Cadastro_Eventos", "Form_Eventos_Padrao"},
        {"CadastrodeGPRS1", "Img_Cadastro_GPRS", "Form_Cadastro_GPRS"},
        {"Eventos1", "Img_Relatorio_Eventos", "Form_Relatorio_Selecao"}};
    for (const auto &[action, image, window] : registry) {
        for (int byPicture = 0; byPicture < 2; ++byPicture) {
            QString opened;
            QTimer::singleShot(0, j.w.get(), [&opened] {
                if (QWidget *d = QApplication::activeModalWidget()) {
                    opened = d->objectName();
                    d->close();
                }
            });
            if (byPicture)
                QTest::mouseClick(j.filho<QLabel>(image), Qt::LeftButton);
            else
                j.w->findChild<QAction *>(action)->trigger();
            QCOMPARE(opened, QString(window));
        }
    }
    // "&Apagar Eventos" opens the purge window and goes with the reports' permission.
    QString purge;
    QTimer::singleShot(0, j.w.get(), [&purge] {
        if (QWidget *d = QApplication::activeModalWidget()) {
            purge = d->objectName();
            d->close();
        }
    });
    j.w->findChild<QAction *>("ApagarEventos1")->trigger();
    QCOMPARE(purge, QString("Form_Apagar_eventos"));
    j.w->applyPermissions(Permissions::kAll & ~Permissions::Relatorios);
    j.w->menusFollowPanels();
    QVERIFY(!j.w->findChild<QAction *>("ApagarEventos1")->isEnabled());
    QVERIFY(j.w->findChild<QAction *>("CadastrodeGPRS1")->isEnabled());
    j.w->applyPermissions(Permissions::kAll);
    j.w->menusFollowPanels();
    QVERIFY(j.w->findChild<QAction *>("ApagarEventos1")->isEnabled());
    // The file import needs no right of its own.
    j.w->applyPermissions(0);
    j.w->menusFollowPanels();
    QVERIFY(j.w->findChild<QAction *>("Importar1")->isEnabled());
    QString imported;
    QTimer::singleShot(0, j.w.get(), [&imported] {
        if (QWidget *d = QApplication::activeModalWidget()) {
            imported = d->objectName();
            d->close();
        }
    });
    j.w->findChild<QAction *>("Importar1")->trigger();
    QCOMPARE(imported, QString("Form_Importar_Eventos"));
    j.w->applyPermissions(Permissions::kAll);
    j.w->menusFollowPanels();
    QCOMPARE(j.filho<QLabel>("Som_Ligado")->toolTip(), QString("Sons Ligados"));
    QCOMPARE(j.filho<QLabel>("Som_Desligado")->toolTip(), QString("Sons Desligados"));

    // Pressing lowers the panel, releasing raises it and runs the action.
    auto *sair = j.filho<QFrame>("Pnl_Sair");
    auto *img = j.filho<QLabel>("Image2");
    j.s.prompt.answers = {false};
    QTest::mousePress(img, Qt::LeftButton);
    QCOMPARE(sair->frameShadow(), QFrame::Sunken);
    QCOMPARE(j.s.prompt.shown.size(), 0);
    QTest::mouseRelease(img, Qt::LeftButton);
    QCOMPARE(sair->frameShadow(), QFrame::Raised);
    QCOMPARE(j.s.prompt.shown.size(), 1);
    QCOMPARE(j.s.prompt.shown[0].text, QString("Tem certeza que deseja Sair?"));
}

void TestPrincipal::colourOfEachType_data() {
    QTest::addColumn<QString>("tipo");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<bool>("fonteBranca");
    QTest::newRow("ARMADO") << "ARMADO" << QColor(0x008080) << true;
    QTest::newRow("DESARMADO") << "DESARMADO" << QColor(0x00FF00) << false;
    QTest::newRow("ALARME") << "ALARME" << QColor(0xFF0000) << true;
    QTest::newRow("RESTAURAÇÃO") << "RESTAURAÇÃO" << QColor(0xFFFF00) << false;
    QTest::newRow("EMERGENCIA") << "EMERGENCIA" << QColor(0xFF00FF) << false;
    QTest::newRow("PANICO") << "PANICO" << QColor(0xFF00FF) << false;
    QTest::newRow("PERIÓDICO") << "PERIÓDICO" << QColor(0xD6D6D6) << false;
    QTest::newRow("REGISTRO") << "REGISTRO" << QColor(0xC0C0C0) << false;
    QTest::newRow("FALHAS") << "FALHAS" << QColor(0x800080) << true;
    QTest::newRow("INTERNO") << "INTERNO" << QColor(0x00FFFF) << false;
    QTest::newRow("empty") << "" << QColor(0xFFFFFF) << false;
    // Without its accents, or in another case, a name is not the type.
    QTest::newRow("RESTAURACAO") << "RESTAURACAO" << QColor() << false;
    QTest::newRow("alarme") << "alarme" << QColor() << false;
    QTest::newRow("unknown") << "QUALQUER" << QColor() << false;
}

void TestPrincipal::colourOfEachType() {
    QFETCH(QString, tipo);
    QFETCH(QColor, background);
    QFETCH(bool, fonteBranca);
    QPalette p;
    p.setColor(QPalette::Base, QColor(0x123456));
    p.setColor(QPalette::WindowText, QColor(0x010203));
    p.setColor(QPalette::Highlight, QColor(0x0000AA));
    p.setColor(QPalette::HighlightedText, QColor(0xEEEEEE));
    const CellColors c = EventColorDelegate::colors(tipo, false, p);
    QCOMPARE(c.background, background.isValid() ? background : QColor(0x123456));
    QCOMPARE(c.foreground, fonteBranca ? QColor(Qt::white) : QColor(0x010203));
    // A selected row is painted in the highlight colours, whatever its type.
    const CellColors s = EventColorDelegate::colors(tipo, true, p);
    QCOMPARE(s.background, QColor(0x0000AA));
    QCOMPARE(s.foreground, QColor(0xEEEEEE));
}

void TestPrincipal::gridPaintsTypeColoursAndSelection() {
    Janela j;
    const QStringList tipos{"ARMADO",     "DESARMADO", "ALARME",    "RESTAURAÇÃO",
                            "EMERGENCIA", "PANICO",    "PERIÓDICO", "REGISTRO",
                            "FALHAS",     "INTERNO",   "",          "OUTRO"};
    const QList<QRgb> colors{0x008080, 0x00FF00, 0xFF0000, 0xFFFF00, 0xFF00FF, 0xFF00FF,
                            0xD6D6D6, 0xC0C0C0, 0x800080, 0x00FFFF, 0xFFFFFF};
    // Newest first: row i holds tipos[i].
    for (int i = 0; i < tipos.size(); ++i)
        evento(j.s.db(), tipos[i], kSegunda.addSecs(-60 * i));
    evento(j.s.db(), QString(), kSegunda.addSecs(-3600), true); // no type at all
    Form_Principal &w = j.openDialog();
    auto *grade = j.filho<QTableView>("Grade_Eventos");
    QCOMPARE(w.receivedEvents().rowCount(), tipos.size() + 1);
    // The grid lays its rows out once the window is up.
    QTRY_VERIFY(grade->viewport()->height() > 300 &&
                grade->visualRect(w.receivedEvents().index(tipos.size(), 0)).isValid());
    const QColor base = grade->palette().color(QPalette::Base);
    QCOMPARE(base, QColor(0xD4D0C8));
    for (int i = 0; i < tipos.size(); ++i) {
        QCOMPARE(w.receivedEvents().value(i, "TIPO").toString(), tipos[i]);
        const QColor esperado = i < colors.size() ? QColor(colors[i]) : base;
        for (int col : {0, 3, 7})
            QCOMPARE(corDaCelula(grade, i, col), esperado);
    }
    QCOMPARE(corDaCelula(grade, tipos.size(), 3), QColor(0xFFFFFF));

    grade->selectRow(2); // ALARME
    const QColor cor = corDaCelula(grade, 2, 4);
    QVERIFY2(cor == grade->palette().color(QPalette::Active, QPalette::Highlight) ||
                 cor == grade->palette().color(QPalette::Inactive, QPalette::Highlight),
             qPrintable(cor.name()));
    QVERIFY(cor != QColor(0xFF0000));
    QCOMPARE(corDaCelula(grade, 1, 4), QColor(0x00FF00));
}

void TestPrincipal::closeBoxIsRefused() {
    Janela j;
    Form_Principal &w = j.openDialog();
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QCOMPARE(j.s.prompt.shown.size(), 0);
}

void TestPrincipal::exitAsksOnlyWithPermission() {
    Janela j;
    Form_Principal &w = j.openDialog(false);
    QSignalSpy sair(&w, &Form_Principal::exitRequested);
    QCOMPARE(j.s.core->currentOperator().nome, QString("admin"));
    QCOMPARE(j.s.core->currentOperator().permissoes, 65535u);

    j.s.prompt.answers = {false};
    w.Exit1Click();
    QCOMPARE(j.s.prompt.shown.size(), 1);
    QCOMPARE(j.s.prompt.shown[0].text, QString("Tem certeza que deseja Sair?"));
    QCOMPARE(j.s.prompt.shown[0].caption, QString("Sair TULMO"));
    QCOMPARE(j.s.prompt.shown[0].icon, Prompt::Icon::Warning);
    QCOMPARE(sair.count(), 0);

    j.s.prompt.answers = {true};
    j.w->findChild<QAction *>("Sair1")->trigger();
    QCOMPARE(sair.count(), 1);

    // Without the permission to close, no question and no exit: the shift dialog instead.
    j.s.core->currentOperator().permissoes = 65535 & ~32u;
    j.s.prompt.answers = {true};
    QString modal;
    QTimer::singleShot(0, &w, [&modal] {
        if (QWidget *d = QApplication::activeModalWidget()) {
            modal = d->objectName();
            d->close();
        }
    });
    w.Exit1Click();
    QCOMPARE(modal, QString("Form_iniciar_turno"));
    QCOMPARE(j.s.prompt.shown.size(), 2);
    QCOMPARE(sair.count(), 1);
}

void TestPrincipal::deviceBusyAndMissingImei() {
    Janela j;
    const quint16 port = freePort();
    receptorTcp(j.s.db(), port, 5);
    gprs(j.s.db(), "123456");
    j.openDialog(); // reception started, as the console starts
    auto *grade = j.filho<QTableView>("Grid_Conectados");
    ConnectionRegistry &con = j.s.core->connectionRegistry();
    auto *filtro = qobject_cast<QSortFilterProxyModel *>(grade->model());
    QVERIFY(filtro);
    auto *modelo = qobject_cast<ConnectedDevicesModel *>(filtro->sourceModel());
    QVERIFY(modelo);
    QCOMPARE(&modelo->registry(), &con);

    // Nothing selected, nothing listed: nothing happens.
    j.w->Grid_ConectadosDblClick();
    QCOMPARE(j.s.prompt.shown.size(), 0);

    QTcpSocket d;
    d.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE(modelo->rowCount(), 1);
    QCOMPARE(j.filho<QLabel>("Panel0")->text(), QString("Connected to: 127.0.0.1"));
    QByteArray recebido;
    QTRY_COMPARE(recebido += d.readAll(), QByteArray("&"));
    const QPoint celula = grade->visualRect(filtro->index(0, 0)).center();
    QTest::mouseClick(grade->viewport(), Qt::LeftButton, {}, celula);
    QTest::mouseDClick(grade->viewport(), Qt::LeftButton, {}, celula);
    QCOMPARE(j.s.prompt.shown.size(), 1);
    QCOMPARE(j.s.prompt.shown[0].text, QString("Falta receber o IMEI"));

    // Identified, its reply still queued: busy, although the IMEI is known.
    d.write("&011234560042");
    d.flush();
    QTRY_COMPARE(con.row(0).imei, QString("123456"));
    // Queued once what was staged before it is durable.
    QTRY_COMPARE(con.replies().size(), 1);
    // The hidden reply queue lists the reply: its fourth column is the slot.
    auto *buffer = j.filho<QTableView>("Grid_Buffer");
    QVERIFY(buffer->isHidden());
    emit j.s.core->timerUpdate().timeout({});
    QCOMPARE(buffer->model()->rowCount(), 1);
    QCOMPARE(buffer->model()->index(0, 3).data().toString(), QString("1"));
    QCOMPARE(buffer->model()->index(0, 0).data().toString(), QString("+"));
    j.w->Grid_ConectadosDblClick();
    QCOMPARE(j.s.prompt.shown.size(), 2);
    QCOMPARE(j.s.prompt.shown[1].text, QString("Dispositivo ocupado!"));

    // Reply sent: the access console opens for that row's connection and asks it for its
    // parameters.
    j.s.clock.advanceSecs(5);
    tickAndSettle(*j.s.core);
    recebido.clear();
    QTRY_COMPARE(recebido += d.readAll(), QByteArray("+"));
    QCOMPARE(con.replies().size(), 0);
    Form_Acesso_GPRS &acesso = j.w->accessForm();
    bool visivel = false;
    QString servidor, conexao;
    QTimer::singleShot(0, &acesso, [&] {
        visivel = acesso.isVisible();
        servidor = acesso.findChild<QLabel *>("Socket")->text();
        conexao = acesso.findChild<QLabel *>("Conexao")->text();
        recebido.clear();
        waitFor([&] { return (recebido += d.readAll()).size() >= 2; });
        acesso.reject();
    });
    j.w->Grid_ConectadosDblClick();
    QCOMPARE(j.s.prompt.shown.size(), 2);
    QVERIFY(visivel);
    QCOMPARE(servidor, QString("1"));
    QCOMPARE(conexao, QString("0"));
    QCOMPARE(recebido, QByteArray("DW"));
    QCOMPARE(acesso.parentWidget(), static_cast<QWidget *>(j.w.get()));
    QCOMPARE(j.w->moduleExchange().target(), con.row(0).socket.data());
}

void TestPrincipal::otherDevicesRepliesDoNotMakeItBusy() {
    Janela j;
    const quint16 port = freePort();
    receptorTcp(j.s.db(), port, 5);
    gprs(j.s.db(), "123456");
    gprs(j.s.db(), "654321");
    j.openDialog();
    ConnectionRegistry &con = j.s.core->connectionRegistry();
    LoopbackDevice primeiro, segundo;
    QVERIFY(primeiro.connectTo(port));
    QCOMPARE(primeiro.recv(), QByteArray("&"));
    primeiro.send("&011234560042");
    QTRY_COMPARE(con.row(0).imei, QString("123456"));
    j.s.clock.advanceSecs(5);
    tickAndSettle(*j.s.core);
    QCOMPARE(primeiro.recv(), QByteArray("+"));
    // The second device identifies: its "+" waits in the queue of the same slot.
    QVERIFY(segundo.connectTo(port));
    QCOMPARE(segundo.recv(), QByteArray("&"));
    segundo.send("&016543210042");
    QTRY_COMPARE(con.rowCount(), 2);
    QTRY_COMPARE(con.row(1).imei, QString("654321"));
    QTRY_COMPARE(con.replies().size(), 1);
    auto *grade = j.filho<QTableView>("Grid_Conectados");
    // The second device is busy; the first opens its console.
    grade->setCurrentIndex(grade->model()->index(1, 0));
    j.w->Grid_ConectadosDblClick();
    QCOMPARE(j.s.prompt.shown.size(), 1);
    QCOMPARE(j.s.prompt.shown[0].text, QString("Dispositivo ocupado!"));
    Form_Acesso_GPRS &acesso = j.w->accessForm();
    bool visivel = false;
    QTimer::singleShot(0, &acesso, [&] {
        visivel = acesso.isVisible();
        acesso.reject();
    });
    grade->setCurrentIndex(grade->model()->index(0, 0));
    j.w->Grid_ConectadosDblClick();
    QVERIFY(visivel);
    QCOMPARE(j.s.prompt.shown.size(), 1);
    QCOMPARE(j.w->moduleExchange().target(), con.row(0).socket.data());
    QCOMPARE(primeiro.recv(2), QByteArray("DW"));
}

void TestPrincipal::connectedListShowsStateSortsAndFilters() {
    Janela j;
    const quint16 port = freePort();
    receptorTcp(j.s.db(), port, 0);
    for (const char *id : {"300003", "100001", "200002"})
        gprs(j.s.db(), id);
    j.openDialog();
    j.w->resize(1400, 700);
    j.w->findChild<QTabWidget *>("PageControl1")->setCurrentIndex(1);
    ConnectionRegistry &con = j.s.core->connectionRegistry();
    LoopbackDevice d[3];
    const QByteArray ids[3] = {"300003", "100001", "200002"};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(d[i].connectTo(port));
        QCOMPARE(d[i].recv(), QByteArray("&"));
        d[i].send("&01" + ids[i] + "0042");
        QTRY_COMPARE(con.row(i).imei, QString::fromLatin1(ids[i]));
    }
    tickAndSettle(*j.s.core); // their "+" leave: none is busy
    QCOMPARE(con.replies().size(), 0);
    auto *grade = j.filho<QTableView>("Grid_Conectados");
    QAbstractItemModel *m = grade->model();
    auto coluna = [&](int c) {
        QStringList v;
        for (int r = 0; r < m->rowCount(); ++r)
            v << m->index(r, c).data().toString();
        return v;
    };
    // In order of acceptance until a column is chosen.
    QCOMPARE(coluna(5), QStringList({"300003", "100001", "200002"}));
    QCOMPARE(m->columnCount(), 10);

    // The second device goes: its row stays, red, saying since when.
    j.s.clock.advanceSecs(30);
    d[1].s.disconnectFromHost();
    QTRY_COMPARE(m->index(1, 0).data(Qt::ToolTipRole).toString(),
                 QString("desconectado desde 09/03/2026 08:30:30"));
    QCOMPARE(m->index(0, 0).data(Qt::ToolTipRole).toString(), QString("conectado"));
    const QColor verde = m->index(0, 3).data(Qt::BackgroundRole).value<QBrush>().color();
    const QColor vermelho = m->index(1, 3).data(Qt::BackgroundRole).value<QBrush>().color();
    QVERIFY(verde.green() > verde.red());
    QVERIFY(vermelho.red() > vermelho.green());
    QTRY_COMPARE(corDaCelula(grade, 1, 3), vermelho);
    QCOMPARE(corDaCelula(grade, 2, 3), verde);
    QTRY_VERIFY(j.filho<QLabel>("Label_Estado_Conectados")->text().contains("Desconectados: 1"));

    // Sorted by any column, by its meaning.
    grade->sortByColumn(5, Qt::AscendingOrder);
    QCOMPARE(coluna(5), QStringList({"100001", "200002", "300003"}));
    grade->sortByColumn(7, Qt::DescendingOrder);
    QCOMPARE(coluna(7), QStringList({"2", "1", "0"}));
    // The double-click follows the row shown, wherever it moved.
    grade->setCurrentIndex(m->index(0, 0));
    Form_Acesso_GPRS &acesso = j.w->accessForm();
    QTimer::singleShot(0, &acesso, [&] { acesso.reject(); });
    j.w->Grid_ConectadosDblClick();
    QCOMPARE(j.w->moduleExchange().target(), con.row(2).socket.data());

    // Filtered by a text of any column, or by being on line.
    auto *filtro = j.filho<QLineEdit>("Edit_Filtro_Conectados");
    filtro->setText("00001");
    QCOMPARE(coluna(5), QStringList({"100001"}));
    filtro->setText("DESCONECTADO");
    QCOMPARE(coluna(5), QStringList({"100001"}));
    filtro->clear();
    QCOMPARE(m->rowCount(), 3);
    j.filho<QCheckBox>("Check_Somente_Conectados")->setChecked(true);
    QCOMPARE(coluna(5), QStringList({"200002", "300003"}));
}

void TestPrincipal::soundIndicatorFollowsClicks() {
    Janela j;
    j.openDialog();
    auto *soundOn = j.filho<QLabel>("Som_Ligado");
    auto *desligado = j.filho<QLabel>("Som_Desligado");
    QVERIFY(j.sons.soundOn());
    QVERIFY(soundOn->isVisible());
    QTest::mouseClick(soundOn, Qt::LeftButton);
    QVERIFY(!j.sons.soundOn());
    QVERIFY(!soundOn->isVisible());
    QVERIFY(desligado->isVisible());
    QCOMPARE(j.backend->log.last(), QString("stop"));
    QTest::mouseClick(desligado, Qt::LeftButton);
    QVERIFY(j.sons.soundOn());
    QVERIFY(soundOn->isVisible());
    QVERIFY(!desligado->isVisible());
}

void TestPrincipal::memoClearsOnDoubleClick() {
    Janela j;
    j.openDialog(false);
    auto *memo = j.filho<QPlainTextEdit>("Memo1");
    QVERIFY(memo->isHidden());
    j.s.core->dm().memo1().append("&011234560042");
    QCOMPARE(memo->toPlainText(), QString("&011234560042"));
    QTest::mouseDClick(memo->viewport(), Qt::LeftButton);
    QCOMPARE(memo->toPlainText(), QString());
    QVERIFY(j.s.core->dm().memo1().lines().isEmpty());

    // Months of traffic: the memo keeps the latest lines only, as its log does, and a line of
    // garbage is shown in part.
    LineLog &log = j.s.core->dm().memo1();
    for (int i = 0; i < log.maxLines() + 50; ++i)
        log.append(QString::number(i));
    log.append(QString(5000, 'x'));
    QCOMPARE(memo->document()->blockCount(), log.maxLines());
    QCOMPARE(log.lines().size(), log.maxLines());
    QCOMPARE(memo->document()->firstBlock().text(), QString::number(51));
    const QString cortada =
        QString(LineLog::kMaxColumns, 'x') + QString(" …(+%1)").arg(5000 - LineLog::kMaxColumns);
    QCOMPARE(memo->document()->lastBlock().text(), cortada);
    QCOMPARE(log.lines().last(), cortada);
}

void TestPrincipal::accountPagesReopenWhenShown() {
    Janela j;
    j.s.addAccount("000001", "JOSE");
    j.s.addAccount("000002", "MARIA");
    Form_Principal &w = j.openDialog(false);
    QCOMPARE(w.desarmados().rowCount(), 0);
    exec(j.s.db(), "update CLIENTES set DESARMADOS = 1, REARME = 1");
    QCOMPARE(w.desarmados().rowCount(), 0);
    auto *paginas = j.filho<QTabWidget>("PageControl1");
    paginas->setCurrentIndex(2);
    QCOMPARE(w.desarmados().rowCount(), 2);
    QCOMPARE(w.desarmados().index(0, 0).data().toString(), QString("000002"));
    QCOMPARE(w.rearme().rowCount(), 0);
    paginas->setCurrentIndex(3);
    QCOMPARE(w.rearme().rowCount(), 2);
    // The silent list refreshes only when the supervision or a recording reopens it.
    QCOMPARE(w.silent().rowCount(), 2); // both start silent
    exec(j.s.db(), "update CLIENTES set EVENTO_ATRASADO = 0");
    paginas->setCurrentIndex(4);
    QCOMPARE(w.silent().rowCount(), 2);

    // A double-click opens the account on its schedule, only with the right to edit accounts;
    // the browser's "Novo Cliente" opens the form over the browser.
    auto forms = [&w] { return w.findChildren<Form_Cadastro_Clientes *>(); };
    auto *rearmGrid = j.filho<QTableView>("Grid_Rearme");
    j.s.core->currentOperator().permissoes = 0;
    emit rearmGrid->doubleClicked(w.rearme().index(1, 0));
    QVERIFY(forms().isEmpty());
    j.s.core->currentOperator().permissoes = Permissions::Clientes;
    emit rearmGrid->doubleClicked(w.rearme().index(1, 0));
    QCOMPARE(forms().size(), 1);
    Form_Cadastro_Clientes *f = forms().first();
    QCOMPARE(f->findChild<QTabWidget *>("PC_Clientes")->currentWidget()->objectName(),
             QString("TS_Horarios"));
    QCOMPARE(f->findChild<QLineEdit *>("ME_Conta")->text(), QString("000001"));
    f->close();
    QTRY_VERIFY(forms().isEmpty());
    emit w.accountBrowser().newAccountRequested();
    QCOMPARE(w.accountBrowser().findChildren<Form_Cadastro_Clientes *>().size(), 1);
}

void TestPrincipal::rearmAlertBringsItsPageAndStopsTheDriver() {
    Janela j(QDateTime(QDate(2026, 3, 9), QTime(8, 0, 0)));
    j.s.addAccount("000001", "JOSE");
    exec(j.s.db(), "update CLIENTES set DESARMADOS = 1");
    exec(j.s.db(), "insert into QUADRO_HORARIOS (CONTA, DIA, HORA, MARCADO) values ('000001', "
                   "'SEG', '08:00:00', 1)");
    Form_Principal &w = j.openDialog(false);
    auto *paginas = j.filho<QTabWidget>("PageControl1");
    QTimer &driver = j.s.core->timerUpdate();
    driver.start();
    j.sons.Som_LigadoClick(); // off, so the alert's switch-on shows
    QString pagina;
    bool parado = false;
    int rearme = -1;
    j.s.prompt.onMessage = [&](const QString &) {
        pagina = paginas->currentWidget()->objectName();
        parado = !driver.isActive();
        rearme = w.rearme().rowCount();
    };
    QCOMPARE(w.desarmados().rowCount(), 1);
    tickAndSettle(*j.s.core);
    QCOMPARE(j.s.prompt.shown.size(), 1);
    QCOMPARE(j.s.prompt.shown[0].text, QString("Cliente JOSE Está Desarmado"));
    QCOMPARE(pagina, QString("TabSheet4"));
    QVERIFY(!parado); // no alert holds the console back: the timers go on while it is open
    QCOMPARE(rearme, 1);
    QCOMPARE(w.desarmados().rowCount(), 0);
    QVERIFY(driver.isActive());
    QCOMPARE(driver.interval(), 1000);
    QVERIFY(j.sons.soundOn());
    QVERIFY(j.backend->log.contains("play"));
    QVERIFY(j.backend->log.filter("file:").last().endsWith("Sons/P1Sound.wav"));
    driver.stop();
}

void TestPrincipal::inactivityAlertSoundsWhileTheMessageIsOpen() {
    Janela j;
    j.s.addAccount("001234", "JOSE");
    exec(j.s.db(), "update CLIENTES set EVENTO_ATRASADO = 0, ULTIMO_EVENTO = :u",
         {{":u", kSegunda.addDays(-2)}});
    Form_Principal &w = j.openDialog(false);
    auto *paginas = j.filho<QTabWidget>("PageControl1");
    QTimer &scan = j.s.core->timerInactive();
    scan.start();
    QString pagina;
    bool parado = false, soundOn = false;
    j.s.prompt.onMessage = [&](const QString &) {
        pagina = paginas->currentWidget()->objectName();
        parado = !scan.isActive();
        soundOn = j.sons.soundOn();
    };
    QCOMPARE(w.silent().rowCount(), 0);
    j.s.core->TimerInativosTimer();
    QCOMPARE(j.s.prompt.shown.size(), 1);
    QVERIFY(j.s.prompt.shown[0].text.startsWith("Cliente 001234-JOSE Está inativo desde "));
    QCOMPARE(pagina, QString("TabSheet5"));
    QVERIFY(!parado); // no alert holds the console back: the timers go on while it is open
    QVERIFY(soundOn);
    // Closed: the indicator off, the player stopped, the list shows the account, with its
    // last event in the Brazilian format whatever the system's locale.
    QVERIFY(!j.sons.soundOn());
    QCOMPARE(j.backend->log.last(), QString("stop"));
    QCOMPARE(w.silent().rowCount(), 1);
    QCOMPARE(w.silent().index(0, w.silent().columnOf("ULTIMO_EVENTO")).data().toString(),
             kSegunda.addDays(-2).toString("dd/MM/yyyy HH:mm:ss"));
    QVERIFY(scan.isActive());

    // An alarm sounding before the alert sounds again once the alert is closed.
    j.sons.playRepeating(j.s.dir.path() + "/alarme.wav");
    exec(j.s.db(), "update CLIENTES set EVENTO_ATRASADO = 0");
    j.backend->log.clear();
    j.s.core->TimerInativosTimer();
    QCOMPARE(j.s.prompt.shown.size(), 2);
    QVERIFY(j.sons.soundOn());
    QVERIFY(j.sons.continuousPlaying());
    QCOMPARE(j.sons.currentFile(), j.s.dir.path() + "/alarme.wav");
    QCOMPARE(j.backend->log.last(), QString("play"));
    scan.stop();
}

// Many accounts falling silent in one tick: the alerts wait in line behind the open one and
// share one alert sound, which lasts until the last is closed.
void TestPrincipal::silentAccountsOfOneTickWaitInLineWithOneSound() {
    Janela j;
    for (const char *conta : {"000001", "000002", "000003"})
        j.s.addAccount(conta, "JOSE");
    exec(j.s.db(), "update CLIENTES set EVENTO_ATRASADO = 0, ULTIMO_EVENTO = :u",
         {{":u", kSegunda.addDays(-2)}});
    j.openDialog(false);
    j.s.prompt.holdAlerts = true;
    const QString alarme = j.s.dir.path() + "/alarme.wav";
    j.sons.playRepeating(alarme); // an event's alarm is sounding
    j.backend->log.clear();

    j.s.core->TimerInativosTimer();
    QCOMPARE(j.s.prompt.openAlerts.size(), 3);
    QCOMPARE(j.backend->log.count("play"), 1); // not restarted for each
    j.s.prompt.closeAlert();
    j.s.prompt.closeAlert();
    QVERIFY(j.sons.soundOn());
    QCOMPARE(j.backend->log.last(), QString("play")); // still sounding
    j.s.prompt.closeAlert(); // the last: the alarm it interrupted sounds again
    QVERIFY(j.sons.continuousPlaying());
    QCOMPARE(j.sons.currentFile(), alarme);

    // An event's alarm that starts while they wait goes on once they are closed.
    exec(j.s.db(), "update CLIENTES set EVENTO_ATRASADO = 0");
    j.s.core->TimerInativosTimer();
    QCOMPARE(j.s.prompt.openAlerts.size(), 3);
    const QString outro = j.s.dir.path() + "/outro.wav";
    j.sons.playRepeating(outro);
    j.backend->log.clear();
    while (!j.s.prompt.openAlerts.isEmpty())
        j.s.prompt.closeAlert();
    QVERIFY(j.backend->log.isEmpty());
    QCOMPARE(j.sons.currentFile(), outro);
    QVERIFY(j.sons.soundOn());
}

void TestPrincipal::statusBarShowsConnectionsAndTime() {
    Janela j;
    j.openDialog(false);
    auto paineis = j.w->statusBar()->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
    // The three panels, and beside them the database fault that holds recording back and the
    // storm mode, hidden while the station is not in it.
    QCOMPARE(paineis.size(), 6);
    auto *tempestade = j.w->statusBar()->findChild<QLabel *>("Lbl_Tempestade");
    QVERIFY(tempestade && tempestade->isHidden());
    paineis.removeOne(tempestade);
    QLabel *banco = paineis.takeLast();
    QCOMPARE(banco->objectName(), QString("databaseStatus"));
    QCOMPARE(banco->text(), QString());
    emit j.s.core->pump().databaseStatusChanged("Gravação de eventos aguardando o banco de dados");
    QCOMPARE(banco->text(), QString("Gravação de eventos aguardando o banco de dados"));
    QCOMPARE(paineis[0]->objectName(), QString("Panel0"));
    QCOMPARE(paineis[3]->text(), QString("Pendentes: 0"));
    QCOMPARE(paineis[0]->width(), 150);
    QCOMPARE(paineis[1]->width(), 150);
    // The clock panel is sized to its text (below), no longer a fixed 50 px that cut it.
    j.s.clock.set(QDateTime(kSegunda.date(), QTime(9, 41, 7)));
    emit j.s.core->timerUpdate().timeout({});
    QCOMPARE(paineis[1]->text(), QString("Conexoes TCP/IP: 0"));
    QCOMPARE(paineis[2]->text(), QString("09:41:07"));
    // The clock's panel holds its whole text.
    QVERIFY(paineis[2]->contentsRect().width() >=
            paineis[2]->fontMetrics().horizontalAdvance(paineis[2]->text()));
}

// Events left pending before a restart show at once; their count is always in the status
// bar; the console's dialogs block the main window only, never the pending window.
void TestPrincipal::pendingEventsStayInSight() {
    Janela j;
    j.s.addAccount("001234", "JOSE");
    j.s.addCode("1130", "ROUBO", 2, 0);
    QCOMPARE(j.s.record(eventline::build("01", "1", "1234", "1", "1130", "003", "09/03/26",
                                         "08:31:00"))
                 .status,
             RecordResult::Status::Stored);
    QCOMPARE(j.s.record(eventline::build("01", "1", "1234", "1", "1130", "004", "09/03/26",
                                         "08:32:00"))
                 .status,
             RecordResult::Status::Stored);
    Form_Principal &w = j.openDialog();
    j.s.core->stopTimer();
    QDialog *pendentes = &w.pendingForm();
    QTRY_VERIFY(pendentes->isVisible()); // once the main window is on the screen
    auto *contagem = j.filho<QLabel>("Panel3");
    QCOMPARE(contagem->text(), QString("Pendentes: 2"));
    QVERIFY(contagem->styleSheet().contains("background"));
    // A new pending event counts at once.
    QCOMPARE(j.s.record(eventline::build("01", "1", "1234", "1", "1130", "005", "09/03/26",
                                         "08:33:00"))
                 .status,
             RecordResult::Status::Stored);
    QCOMPARE(contagem->text(), QString("Pendentes: 3"));
    // Every dialog of the console is modal to the main window only; the pending window is a
    // window of its own, which those dialogs do not block.
    const QList<QDialog *> dialogos = w.findChildren<QDialog *>();
    QVERIFY(dialogos.size() >= 10);
    for (QDialog *d : dialogos)
        QVERIFY2(d->windowModality() == Qt::WindowModal, qPrintable(d->objectName()));
    QVERIFY(!pendentes->parentWidget());
    QVERIFY(!dialogos.contains(pendentes));
    QCOMPARE(pendentes->windowModality(), Qt::NonModal);
}

void TestPrincipal::recordedEventRestoresAMinimisedWindow() {
    Janela j;
    j.s.addAccount("001234", "JOSE");
    j.s.addCode("1602", "TESTE", 6);
    Form_Principal &w = j.openDialog();
    j.s.core->stopTimer();
    w.showMinimized();
    QVERIFY(w.isMinimized());
    QCOMPARE(w.receivedEvents().rowCount(), 0);
    QCOMPARE(
        j.s.record(eventline::build("01", "1", "1234", "1", "1602", "000", "09/03/26", "08:31:00"))
            .status,
        RecordResult::Status::Stored);
    QVERIFY(!w.isMinimized());
    QCOMPARE(w.receivedEvents().rowCount(), 1);
    QCOMPARE(w.receivedEvents().value(0, "TIPO").toString(), QString("PERIÓDICO"));

    // A maximised console comes back maximised; one that is not minimised is left as it is.
    w.showMaximized();
    w.showMinimized();
    QVERIFY(j.s.record(eventline::build("01", "1", "1234", "1", "1602", "000", "09/03/26",
                                        "08:32:00"))
                .status == RecordResult::Status::Stored);
    QVERIFY(!w.isMinimized());
    QVERIFY(w.isMaximized());
    QVERIFY(j.s.record(eventline::build("01", "1", "1234", "1", "1602", "000", "09/03/26",
                                        "08:33:00"))
                .status == RecordResult::Status::Stored);
    QVERIFY(w.isMaximized());
}

void TestPrincipal::deviceEventEndToEnd() {
    QTemporaryDir dir;
    ScriptedPrompt prompt;
    auto *backend = new FakeBackend;
    SoundState sons{std::unique_ptr<SoundBackend>(backend)};
    ConsoleCore core(dir.path(), SystemClock::instance(), &prompt, &sons);
    QString erro;
    QVERIFY2(core.start(&erro), qPrintable(erro));
    mapPort(core.dataDir(), 1, dir.path() + "/sem-porta");
    QSqlDatabase db = core.database().primary();
    const quint16 port = freePort();
    receptorTcp(db, port, 0);
    gprs(db, "123456");
    exec(db, "insert into CLIENTES (CONTA, NOME, DESARMADOS, REARME, EVENTO_ATRASADO, "
             "TEMPO_ATRASO, ULTIMO_EVENTO) values ('000042', 'JOSE', 0, 0, 0, 1440, "
             "CURRENT_TIMESTAMP)");
    exec(db, "update or insert into EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO, "
             "REGISTRO_AUTOMATICO, PRIORIDADE, SOM, SOM_CONTINUO, ENVIO_SMS) values ('1130', "
             "'ALARME ROUBO', 2, 1, 1, '', 0, 0) matching (CODIGO_EVENTO)");

    // Reception starts with the core: the receivers open and the real timers run before the
    // window exists, and showing it starts nothing more.
    core.startReception();
    QVERIFY(core.timerUpdate().isActive());
    QVERIFY(core.dm().slot(1).socketServer && core.dm().slot(1).socketServer->isListening());
    Form_Principal w(core.services(), &sons);
    w.resize(1200, 700);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(core.timerUpdate().isActive());

    QTcpSocket d;
    d.connectToHost(QHostAddress::LocalHost, port);
    QByteArray recebido;
    QTRY_COMPARE_WITH_TIMEOUT(recebido += d.readAll(), QByteArray("&"), 2000);
    d.write("&011234560042");
    d.flush();
    recebido.clear();
    QTRY_COMPARE_WITH_TIMEOUT(recebido += d.readAll(), QByteArray("+"), 2000);
    d.write("5011 180042E13001003");
    d.flush();
    QTRY_VERIFY_WITH_TIMEOUT(
        scalar(db, "select count(*) from EVENTOS where CONTA = '000042'").toInt() == 1, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(w.receivedEvents().rowCount(), 1, 2000);
    QCOMPARE(w.receivedEvents().value(0, "TIPO").toString(), QString("ALARME"));
    QCOMPARE(w.receivedEvents().index(0, 0).data().toString(), QString("000042"));
    auto *grade = w.findChild<QTableView *>("Grade_Eventos");
    QTRY_COMPARE(corDaCelula(grade, 0, 1), QColor(0xFF0000)); // once laid out and painted
    QCOMPARE(prompt.shown.size(), 0);
    core.stopTimer();
}

// The runaway list, open beside the console: an account flagged by the recording appears in it
// at once, and "Liberar" gives its events back to the operators.
void TestPrincipal::runawayListFollowsTheRecordingAndFreesAnAccount() {
    Janela j;
    j.s.addAccount("001234", "JOSE");
    j.s.addCode("1130", "ROUBO", 2, 0);
    j.s.core->recorder().runaway().setLimits({1, 10});
    j.openDialog();
    j.w->findChild<QAction *>("ContasDisparo1")->trigger();
    auto *f = j.w->findChild<Form_Contas_Disparo *>("Form_Contas_Disparo");
    QVERIFY(f && f->isVisible());
    auto *grid = f->findChild<QTableWidget *>("Grid_Disparos");
    QCOMPARE(grid->rowCount(), 0);
    const QString l = eventLine("1130", "07:05:00");
    QCOMPARE(j.s.record(l).status, RecordResult::Status::Stored);
    QCOMPARE(j.s.record(l).status, RecordResult::Status::Stored);
    QCOMPARE(grid->rowCount(), 1);
    QCOMPARE(grid->item(0, 0)->text(), QString("001234"));
    QCOMPARE(grid->item(0, 1)->text(), QString("JOSE"));
    auto *liberar = f->findChild<QPushButton *>("btnLiberar");
    QVERIFY(!liberar->isEnabled());
    grid->selectRow(0);
    QTest::mouseClick(liberar, Qt::LeftButton);
    QCOMPARE(grid->rowCount(), 0);
    QVERIFY(!j.s.core->recorder().runaway().isFlagged("001234"));
    QCOMPARE(f->findChild<QLabel *>("Lbl_Disparos")->text(), QString("Nenhuma conta em disparo."));
}

// An account put on test from its window, the storm declared and ended, the sound silenced:
// each shown where the operator looks, and each in the audit the administrator reads.
void TestPrincipal::testsStormAndTheAuditFromTheMenus() {
    Janela j;
    j.s.addAccount("001234", "JOSE");
    j.openDialog();
    QSqlDatabase db = j.s.db();
    CurrentOperator &op = j.s.core->currentOperator();
    op = CurrentOperator{"ana", Permissions::Testes | Permissions::Configuracoes};
    audit::setOperator("ana");

    QTest::mouseClick(j.filho<QLabel>("Som_Ligado"), Qt::LeftButton);
    j.w->findChild<QAction *>("ContasTeste1")->trigger();
    auto *f = j.w->findChild<Form_Contas_Teste *>("Form_Contas_Teste");
    QVERIFY(f && f->isVisible());
    QCOMPARE(f->findChild<QLabel *>("Lbl_Maximo")->text(),
             QString("Máximo permitido ao operador: 4 h."));
    auto *spin = f->findChild<QSpinBox *>("Spin_Minutos");
    QCOMPARE(spin->maximum(), 240);
    f->findChild<QLineEdit *>("Edit_Conta")->setText("1234");
    f->findChild<QLineEdit *>("Edit_Zonas")->setText("3, x");
    QTest::mouseClick(f->findChild<QPushButton *>("btnIniciar"), Qt::LeftButton);
    QVERIFY(j.s.prompt.shown.last().text.startsWith("Zonas inválidas"));
    f->findChild<QLineEdit *>("Edit_Zonas")->setText("3, 5");
    spin->setValue(30);
    QTest::mouseClick(f->findChild<QPushButton *>("btnIniciar"), Qt::LeftButton);
    auto *grid = f->findChild<QTableWidget *>("Grid_Testes");
    QCOMPARE(grid->rowCount(), 1);
    QCOMPARE(grid->item(0, 0)->text(), QString("001234"));
    QCOMPARE(grid->item(0, 1)->text(), QString("3,5"));
    QCOMPARE(grid->item(0, 3)->text(), j.s.clock.now().addSecs(1800).toString("dd/MM/yyyy HH:mm"));
    // Its time comes: the test ends by itself.
    j.s.clock.advanceSecs(1800);
    QVERIFY(waitFor([&] {
        tickAndSettle(*j.s.core);
        f->refresh();
        return grid->rowCount() == 0;
    }));
    f->close();

    // The storm, asked and shown in the status bar; refused without the settings permission.
    auto *storm = j.w->findChild<QAction *>("ModoTempestade1");
    auto *panel = j.w->findChild<QLabel *>("Lbl_Tempestade");
    QVERIFY(storm && panel && !panel->isVisible());
    j.s.prompt.answers = {true};
    storm->trigger();
    QVERIFY(storm->isChecked());
    QVERIFY(panel->isVisible());
    QVERIFY2(panel->text().startsWith("MODO TEMPESTADE desde") && panel->text().endsWith("(ana)"),
             qPrintable(panel->text()));
    op.permissoes = Permissions::Testes;
    storm->trigger();
    QVERIFY(j.s.prompt.shown.last().text.contains("não tem permissão"));
    QVERIFY(storm->isChecked());
    op.permissoes = Permissions::Configuracoes;
    j.s.prompt.answers = {true};
    storm->trigger();
    QVERIFY(!storm->isChecked());
    QVERIFY(!panel->isVisible());

    // The audit: the administrator's only.
    auto *auditAction = j.w->findChild<QAction *>("Auditoria1");
    QVERIFY(!auditAction->isEnabled());
    j.w->setOperatorFormEnabled(true);
    auditAction->trigger();
    auto *a = j.w->findChild<Form_Auditoria *>("Form_Auditoria");
    QVERIFY(a && a->isVisible());
    QVERIFY(a->search());
    QStringList actions;
    auto *rows = a->findChild<QTableWidget *>("Grid_Auditoria");
    for (int r = 0; r < rows->rowCount(); ++r)
        actions.prepend(rows->item(r, 3)->text());
    QCOMPARE(actions, QStringList({"Som silenciado", "Conta em teste", "Fim do teste",
                                   "Modo tempestade", "Modo tempestade"}));
    QCOMPARE(rows->item(rows->rowCount() - 1, 1)->text(), QString("ana"));
    QCOMPARE(a->findChild<QLabel *>("Lbl_Registros")->text(), QString("5 registros."));
    QTemporaryDir out;
    QVERIFY(a->exportTo(out.path() + "/a.csv"));
    QFile csv(out.path() + "/a.csv");
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QVERIFY(csv.readAll().startsWith(QByteArray("\xEF\xBB\xBF") + "Auditoria;"));
    a->close();
}

QTEST_MAIN(TestPrincipal)
#include "test_principal.moc"
