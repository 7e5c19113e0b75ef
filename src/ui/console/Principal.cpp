#include "Principal.h"

#include "Cadastro_Operadores.h"
#include "ConnectedDevicesView.h"
#include "EventColorDelegate.h"
#include "Eventos_Pendentes.h"
#include "IniciarTurno.h"
#include "SoundState.h"
#include "core/common/Clock.h"
#include "core/common/DateFormats.h"
#include "core/common/Prompt.h"
#include "core/console/ReceptionControl.h"
#include "core/console/ReceptionStatus.h"
#include "core/events/AccountSupervisor.h"
#include "core/events/EventPump.h"
#include "core/events/EventQueue.h"
#include "core/events/EventRecorder.h"
#include "core/events/InterventionKinds.h"
#include "core/operators/AuditTrail.h"
#include "core/operators/CurrentOperator.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/DeviceLink.h"
#include "core/settings/LiveSettings.h"
#include "core/store/Database.h"
#include "core/events/AccountRepository.h"
#include "core/events/EventRepository.h"
#include "ui/import/Importar_Eventos.h"
#include "ui/modules/Acesso_GPRS.h"
#include "ui/modules/Form_QVN12.h"
#include "ui/modules/Form_QVN8.h"
#include "core/modules/ModuleExchange.h"
#include "core/reception/ConnectedDevicesModel.h"
#include "core/reception/ReplyQueueModel.h"
#include "ui/registry/Cadastro_Clientes.h"
#include "ui/registry/Cadastro_Eventos_Padrao.h"
#include "ui/registry/Cadastro_GPRS.h"
#include "ui/registry/Selecao_Clientes.h"
#include "ui/reports/Apagar_Eventos.h"
#include "ui/reports/Relatorio_Selecao.h"
#include "ui/console/Contas_Teste.h"
#include "ui/console/StormControl.h"
#include "ui/reports/Auditoria.h"
#include "ui/reports/Tempo_Atendimento.h"
#include "ui/console/Contas_Disparo.h"
#include "ui/settings/Configuracoes.h"
#include "core/store/SqlListModel.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace tulmo {

namespace {

// Base colours of the grids, as the desktop's classic scheme has them.
const QColor kInactiveCaptionText(0xD4, 0xD0, 0xC8); // inactive caption text
const QColor kHintBackground(0xFF, 0xFF, 0xE1);           // info background
const QColor kGrey(0x80, 0x80, 0x80);
const QColor kInactiveCaption(0xBF, 0xCD, 0xDB); // inactive caption

QList<SqlListModel::Column> accountColumns(bool withLastEvent) {
    QList<SqlListModel::Column> c{{"CONTA", {}},     {"NOME", {}},    {"TELEFONE1", {}},
                              {"TELEFONE2", {}}, {"CELULAR", {}}, {"ENDERECO1", {}},
                              {"ENDERECO2", {}}};
    if (withLastEvent) c.append(SqlListModel::Column{"ULTIMO_EVENTO", {}});
    return c;
}

void colors(QWidget *w, const QColor &base, const QColor &text = QColor()) {
    QPalette p = w->palette();
    p.setColor(QPalette::Base, base);
    if (text.isValid()) p.setColor(QPalette::Text, text);
    w->setPalette(p);
}

QTableView *newGrid(const QString &nome, QAbstractItemModel *model) {
    auto *g = new QTableView;
    g->setObjectName(nome);
    g->setModel(model);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setSelectionMode(QAbstractItemView::SingleSelection);
    g->verticalHeader()->setDefaultSectionSize(g->fontMetrics().height() + 6);
    g->verticalHeader()->hide();
    return g;
}

} // namespace

ImageButton::ImageButton(QFrame *panel, const QIcon &iconImage, const QString &hint)
    : QLabel(panel)
    , m_panel(panel) {
    setPixmap(iconImage.pixmap(32, 32));
    setAlignment(Qt::AlignCenter);
    setToolTip(hint);
    panel->setToolTip(hint);
    auto *l = new QHBoxLayout(panel);
    l->setContentsMargins(3, 3, 3, 3);
    l->addWidget(this);
}

void ImageButton::mousePressEvent(QMouseEvent *e) {
    m_panel->setFrameShadow(QFrame::Sunken);
    QLabel::mousePressEvent(e);
}

void ImageButton::mouseReleaseEvent(QMouseEvent *e) {
    m_panel->setFrameShadow(QFrame::Raised);
    QLabel::mouseReleaseEvent(e);
    emit clicked();
}

Form_Principal::Form_Principal(ConsoleServices services, SoundState *sons, QWidget *parent)
    : QMainWindow(parent)
    , m_s(std::move(services))
    , m_sounds(sons) {
    setObjectName(QStringLiteral("Form_Principal"));
    setWindowTitle(caption());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    if (QScreen *screen = QGuiApplication::primaryScreen()) setGeometry(screen->availableGeometry());

    createMenu();
    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    createButtons(central);
    createPages();
    layout->addWidget(m_pages, 1);
    // The raw device traffic, kept but not shown.
    m_memo1 = new QPlainTextEdit(central);
    m_memo1->setObjectName(QStringLiteral("Memo1"));
    m_memo1->setReadOnly(true);
    m_memo1->setMaximumBlockCount(m_s.dm.memo1().maxLines());
    m_memo1->hide();
    m_memo1->setPlainText(m_s.dm.memo1().lines().join(QLatin1Char('\n')));
    m_memo1->viewport()->installEventFilter(this);
    connect(&m_s.dm.memo1(), &LineLog::lineAdded, m_memo1, &QPlainTextEdit::appendPlainText);
    connect(&m_s.dm.memo1(), &LineLog::cleared, m_memo1, &QPlainTextEdit::clear);
    setCentralWidget(central);

    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    const int widths[3] = {150, 150, 0};
    for (int i = 0; i < 3; ++i) {
        m_panel[i] = new QLabel;
        m_panel[i]->setObjectName(QStringLiteral("Panel%1").arg(i));
        m_panel[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // The clock's panel is as wide as its widest time in the font in use, whatever it is.
        const int clock = m_panel[i]->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00")) +
                          2 * m_panel[i]->frameWidth() + 2 * m_panel[i]->margin() + 8;
        m_panel[i]->setFixedWidth(widths[i] > 0 ? widths[i] : clock);
        bar->addWidget(m_panel[i]);
    }
    // How many events wait for an intervention, always in sight (red while any does).
    m_pendingCount = new QLabel;
    m_pendingCount->setObjectName(QStringLiteral("Panel3"));
    m_pendingCount->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_pendingCount->setMinimumWidth(
        m_pendingCount->fontMetrics().horizontalAdvance(QStringLiteral("Pendentes: 00000")) + 12);
    bar->addWidget(m_pendingCount);
    updatePendingCount();
    // A fault that holds reception or recording back (the queue file that cannot be written,
    // the database file gone, a database error) stays in sight until it ends.
    auto *databaseStatus = new QLabel(m_s.status.text());
    databaseStatus->setObjectName(QStringLiteral("databaseStatus"));
    bar->addPermanentWidget(databaseStatus, 1);
    connect(&m_s.status, &ReceptionStatus::changed, databaseStatus, &QLabel::setText);
    // Several workstations: which one receives, and since when (a panel only where the
    // database is shared).
    auto showHolder = [this, bar](const QString &text) {
        auto *label = bar->findChild<QLabel *>(QStringLiteral("receivingStation"));
        if (!label) {
            if (text.isEmpty()) return;
            label = new QLabel;
            label->setObjectName(QStringLiteral("receivingStation"));
            bar->addPermanentWidget(label);
        }
        label->setText(text);
    };
    showHolder(m_s.status.holderText());
    connect(&m_s.status, &ReceptionStatus::holderChanged, this, showHolder);

    EventRecorder &g = m_s.recorder;
    connect(&g, &EventRecorder::receivedChanged, this, [this] {
        reopenReceived();
        // An arriving event brings a minimised console back, as it was (maximised stays so).
        if (isVisible() && isMinimized()) bringForward();
    });
    connect(&g, &EventRecorder::disarmedChanged, this, &Form_Principal::reopenDisarmed);
    connect(&g, &EventRecorder::awaitingArmChanged, this, &Form_Principal::reopenRearm);
    connect(&g, &EventRecorder::silentChanged, this,
            &Form_Principal::reopenSilent);
    connect(&g, &EventRecorder::pendingRecorded, this, &Form_Principal::updatePendingCount);
    connect(&g, &EventRecorder::pendingRecorded, this,
            [this] { m_pendingList->setEnabled(true); });
    AccountSupervisor &s = m_s.supervisor;
    connect(&s, &AccountSupervisor::disarmedChanged, this, &Form_Principal::reopenDisarmed);
    connect(&s, &AccountSupervisor::awaitingArmChanged, this, &Form_Principal::reopenRearm);
    connect(&s, &AccountSupervisor::silentChanged, this, &Form_Principal::reopenSilent);
    connect(&m_s.tick, &QTimer::timeout, this, &Form_Principal::updateStatus);
    // A new connection shows at once, not only at the next tick.
    connect(&m_s.connections, &ConnectionRegistry::peerShown, this, &Form_Principal::updateStatus);
    if (m_sounds) connect(m_sounds, &SoundState::indicatorChanged, this, &Form_Principal::showIndicator);
    m_s.alerts.setPresenter(this);
    m_settingsDialog = new Form_Configuracoes(m_s.common, m_s.settings, m_s.dm, m_s.reception,
                                              m_s.dc09Keys, m_s.sound,
                                              m_s.dataDir, this);

    reopenReceived();
    reopenDisarmed();
    reopenRearm();
    reopenSilent();
    updateStatus();
    createShiftWindows();
    createPurgeWindow();
    createModuleWindows();
}

void Form_Principal::createShiftWindows() {
    // A window of its own, not under this one: the dialogs modal to the main window would
    // block it too.
    m_pendingForm = new Form_Eventos_Pendentes(m_s.common, m_s.interventionKinds,
                                               m_s.recorder, *this);
    m_pendingForm->setSettings(&m_s.settings);
    m_operatorsForm = new FormCadastroOperadores(m_s.common, this);
    m_shiftForm = new Form_iniciar_turno(m_s.common, m_s.currentOperator, this);
    connect(m_shiftForm, &Form_iniciar_turno::permissionsChanged, this,
            &Form_Principal::applyPermissions);
    connect(m_shiftForm, &Form_iniciar_turno::operatorFormAllowed, this,
            &Form_Principal::setOperatorFormEnabled);
    connect(m_shiftForm, &Form_iniciar_turno::aboutToClose, this,
            &Form_Principal::menusFollowPanels);
    connect(m_pendingList, &QAction::triggered, this, &Form_Principal::showPending);
    connect(m_pendingImage, &ImageButton::clicked, this, &Form_Principal::showPending);
    connect(m_shiftChangeAction, &QAction::triggered, this, &Form_Principal::startShift);
    connect(m_operatorsAction, &QAction::triggered, m_operatorsForm, &QDialog::exec);
    createRegistryWindows();
    m_importForm = new Form_Importar_Eventos(m_s.common, m_s.recorder, m_s.eventQueue,
                                             m_s.pump, m_s.dataDir, this);
    connect(m_importAction, &QAction::triggered, m_importForm, &QDialog::exec);
}

// Accounts, event codes and GPRS modules: each opened by its menu command and its picture,
// both enabled by the same permission bit.
void Form_Principal::createRegistryWindows() {
    m_accountBrowser = new F_Selecao_Clientes(m_s.common, this);
    m_eventCodesForm = new Form_Eventos_Padrao(m_s.common, m_s.sound, this);
    m_gprsForm = new Form_Cadastro_GPRS(m_s.common, m_s.deviceLink.gprsDirectory(),
                                       m_s.connections, this);
    QDialog *const windows[] = {m_accountBrowser, m_eventCodesForm, m_gprsForm};
    const quint32 bits[] = {Permissions::Clientes, Permissions::Eventos, Permissions::TcpIp};
    for (int i = 0; i < 3; ++i) {
        QDialog *w = windows[i];
        connect(command(bits[i]).menu, &QAction::triggered, w, &QDialog::exec);
        connect(m_registryImage[i], &ImageButton::clicked, w, &QDialog::exec);
    }
    connect(m_accountBrowser, &F_Selecao_Clientes::newAccountRequested, this,
            [this] { openAccountForm(QString(), false, m_accountBrowser); });
    connect(m_accountBrowser, &F_Selecao_Clientes::editAccountRequested, this,
            [this](const QString &conta) { openAccountForm(conta, false, m_accountBrowser); });
    // A deleted account leaves every list it was on, its events with it.
    connect(m_accountBrowser, &F_Selecao_Clientes::accountDeleted, this, [this] {
        eventsRemoved();
        reopenDisarmed();
        reopenRearm();
        reopenSilent();
    });
}

// A new report window for each use, destroyed when it closes.
void Form_Principal::openReports() {
    if (!m_s.currentOperator.can(Permissions::Relatorios)) return;
    auto *f = new Form_Relatorio_Selecao(m_s.common, m_s.settings, this);
    f->exec();
}

void Form_Principal::showRunaway() {
    if (!m_runawayForm)
        m_runawayForm = new Form_Contas_Disparo(m_s.common.database, m_s.recorder,
                                                m_s.common.prompt, this);
    m_runawayForm->show();
    m_runawayForm->raise();
    m_runawayForm->activateWindow();
}

void Form_Principal::showTests() {
    if (!m_testsForm) {
        m_testsForm = new Form_Contas_Teste(m_s.common, m_s.currentOperator, this);
        // Tests end by themselves, or on another workstation: the open list follows.
        connect(&m_s.tick, &QTimer::timeout, m_testsForm, [f = m_testsForm] {
            if (f->isVisible()) f->refresh();
        });
    }
    m_testsForm->show();
    m_testsForm->raise();
    m_testsForm->activateWindow();
}

void Form_Principal::openAnswerTimes() {
    if (!m_s.currentOperator.can(Permissions::Relatorios)) return;
    auto *f = new Form_Tempo_Atendimento(m_s.common, m_s.settings, this);
    f->setAttribute(Qt::WA_DeleteOnClose);
    f->open();
}

void Form_Principal::openAudit() {
    if (!m_auditAction->isEnabled()) return;
    auto *f = new Form_Auditoria(m_s.common, m_s.settings, this);
    f->setAttribute(Qt::WA_DeleteOnClose);
    f->open();
}

Form_Principal::PermissionCommand &Form_Principal::command(quint32 bit) {
    for (PermissionCommand &c : m_commands)
        if (c.bit == bit) return c;
    Q_UNREACHABLE();
}

void Form_Principal::applyPermissions(quint32 bits) {
    for (const PermissionCommand &c : m_commands)
        c.panel->setEnabled((bits & c.bit) != 0);
}

void Form_Principal::menusFollowPanels() {
    // The panel's own flag, whatever the state of the window around it.
    for (const PermissionCommand &c : m_commands)
        c.menu->setEnabled(!c.panel->testAttribute(Qt::WA_ForceDisabled));
    // Erasing the station's history goes with the right to its reports.
    m_purgeAction->setEnabled(command(Permissions::Relatorios).menu->isEnabled());
    m_answerTimesAction->setEnabled(m_purgeAction->isEnabled());
}

void Form_Principal::createPurgeWindow() {
    m_purgeForm = new Form_Apagar_eventos(m_s.common, this);
    connect(m_purgeAction, &QAction::triggered, m_purgeForm, &QDialog::exec);
    connect(m_purgeForm, &Form_Apagar_eventos::eventsDeleted, this, &Form_Principal::eventsRemoved);
}

void Form_Principal::eventsRemoved() {
    reopenReceived();
    updatePendingCount();
    m_pendingList->setEnabled(EventRepository::hasPending(m_s.common.database.primary()));
    m_pendingForm->eventsRemoved();
}

QString Form_Principal::operatorName() const {
    return m_s.currentOperator.nome;
}

void Form_Principal::setOperatorFormEnabled(bool enabled) {
    m_operatorsAction->setEnabled(enabled);
    m_auditAction->setEnabled(enabled);
}

void Form_Principal::setPendingCommandEnabled(bool enabled) {
    m_pendingList->setEnabled(enabled);
}

void Form_Principal::startShift() {
    m_shiftForm->openDialog();
}

void Form_Principal::showPending() {
    m_pendingForm->show();
    m_pendingForm->raise();
    m_pendingForm->activateWindow();
}

Form_Principal::~Form_Principal() {
    m_s.alerts.setPresenter(nullptr);
    delete m_pendingForm;
}

void Form_Principal::createMenu() {
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto item = [this](QWidget *where, const char *nome, const QString &text) {
        auto *a = new QAction(text, this);
        a->setObjectName(QLatin1String(nome));
        where->addAction(a);
        return a;
    };
    QMenu *fileName = bar->addMenu(QStringLiteral("&Arquivo"));
    fileName->setObjectName(QStringLiteral("Arquivo1"));
    command(Permissions::Clientes).menu =
        item(fileName, "CadastrodeClientes1", QStringLiteral("&Clientes"));
    command(Permissions::Eventos).menu = item(fileName, "Eventos2", QStringLiteral("&Eventos"));
    command(Permissions::TcpIp).menu = item(fileName, "CadastrodeGPRS1", QStringLiteral("&GPRS"));
    m_operatorsAction = item(fileName, "Operadores1", QStringLiteral("&Operadores"));
    m_operatorsAction->setEnabled(false);
    m_shiftChangeAction = item(fileName, "rocadeTurno1", QStringLiteral("&Troca de Turno"));
    m_importAction = item(fileName, "Importar1", QStringLiteral("&Importar"));
    fileName->addSeparator();
    connect(item(fileName, "Sair1", QStringLiteral("&Sair")), &QAction::triggered, this,
            &Form_Principal::Exit1Click);
    m_pendingList = item(bar, "Pendentes1", QStringLiteral("&Pendentes"));
    m_pendingList->setEnabled(false);
    connect(item(bar, "ContasDisparo1", QStringLiteral("&Disparos")), &QAction::triggered, this,
            &Form_Principal::showRunaway);
    connect(item(bar, "ContasTeste1", QStringLiteral("Te&stes")), &QAction::triggered, this,
            &Form_Principal::showTests);
    m_storm = new StormControl(m_s.common, m_s.currentOperator, bar, statusBar(), this);
    command(Permissions::Relatorios).menu =
        item(bar, "Eventos1", QStringLiteral("&Relatorios"));
    connect(command(Permissions::Relatorios).menu, &QAction::triggered, this,
            &Form_Principal::openReports);
    m_answerTimesAction =
        item(bar, "TempoAtendimento1", QStringLiteral("&Tempo de Atendimento"));
    connect(m_answerTimesAction, &QAction::triggered, this, &Form_Principal::openAnswerTimes);
    m_purgeAction = item(bar, "ApagarEventos1", QStringLiteral("&Apagar Eventos"));
    // Who did what is the administrator's to read, like the operators themselves.
    m_auditAction = item(bar, "Auditoria1", QStringLiteral("A&uditoria"));
    m_auditAction->setEnabled(false);
    connect(m_auditAction, &QAction::triggered, this, &Form_Principal::openAudit);
    QAction *settingsDialog = item(bar, "Configuracoes", QStringLiteral("&Configurações"));
    command(Permissions::Configuracoes).menu = settingsDialog;
    connect(settingsDialog, &QAction::triggered, this, &Form_Principal::ConfiguracoesClick);
}

void Form_Principal::createButtons(QWidget *owner) {
    auto *buttons = new QFrame(owner);
    buttons->setObjectName(QStringLiteral("P_Botoes"));
    buttons->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto *l = new QHBoxLayout(buttons);
    l->setContentsMargins(4, 4, 4, 4);
    // bit: the permission that enables the panel, 0 for the ones always there.
    struct Botao {
        const char *panel, *image;
        QStyle::StandardPixmap iconImage;
        QString hint;
        quint32 bit;
    };
    const Botao table[] = {
        {"Pnl_Cadastro_Clientes", "Img_Cadastro_Clientes", QStyle::SP_DirHomeIcon,
         QStringLiteral("Cadastro de Clientes"), Permissions::Clientes},
        {"Pnl_Cadastro_Eventos", "Img_Cadastro_Eventos", QStyle::SP_FileDialogListView,
         QStringLiteral("Cadastro de Eventos"), Permissions::Eventos},
        {"Pnl_Cadastro_GPRS", "Img_Cadastro_GPRS", QStyle::SP_DriveNetIcon,
         QStringLiteral("Cadastro GPRS"), Permissions::TcpIp},
        {"Pnl_Eventos_Pendentes", "Img_Eventos_Pendentes", QStyle::SP_MessageBoxWarning,
         QStringLiteral("Eventos Pendentes"), 0},
        {"Pnl_Relatorio_Eventos", "Img_Relatorio_Eventos", QStyle::SP_FileDialogDetailedView,
         QStringLiteral("Relatório"), Permissions::Relatorios},
        {"Pnl_Configuracoes", "Img_Configuracoes", QStyle::SP_ComputerIcon,
         QStringLiteral("Configurações"), Permissions::Configuracoes},
        {"Pnl_Sair", "Image2", QStyle::SP_DialogCloseButton, QStringLiteral("Sair"), 0},
    };
    for (const Botao &b : table) {
        auto *panel = new QFrame(buttons);
        panel->setObjectName(QLatin1String(b.panel));
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        panel->setLineWidth(2);
        auto *img = new ImageButton(panel, style()->standardIcon(b.iconImage), b.hint);
        img->setObjectName(QLatin1String(b.image));
        l->addWidget(panel);
        if (b.bit) command(b.bit).panel = panel;
        if (qstrcmp(b.image, "Img_Eventos_Pendentes") == 0) m_pendingImage = img;
        if (qstrcmp(b.image, "Img_Cadastro_Clientes") == 0) m_registryImage[0] = img;
        if (qstrcmp(b.image, "Img_Cadastro_Eventos") == 0) m_registryImage[1] = img;
        if (qstrcmp(b.image, "Img_Cadastro_GPRS") == 0) m_registryImage[2] = img;
        if (qstrcmp(b.image, "Image2") == 0)
            connect(img, &ImageButton::clicked, this, &Form_Principal::Exit1Click);
        if (qstrcmp(b.image, "Img_Relatorio_Eventos") == 0)
            connect(img, &ImageButton::clicked, this, &Form_Principal::openReports);
        if (qstrcmp(b.image, "Img_Configuracoes") == 0)
            connect(img, &ImageButton::clicked, this, &Form_Principal::ConfiguracoesClick);
    }
    // The shift start enables the account browser by the operator's permissions.
    command(Permissions::Clientes).panel->setEnabled(false);
    l->addStretch(1);

    auto *som = new QFrame(buttons);
    som->setObjectName(QStringLiteral("Pnl_Sound"));
    auto *g = new QGridLayout(som);
    g->setContentsMargins(2, 2, 2, 2);
    m_soundOffPicture = new QLabel(som);
    m_soundOffPicture->setObjectName(QStringLiteral("Som_Desligado"));
    m_soundOffPicture->setToolTip(QStringLiteral("Sons Desligados"));
    m_soundOffPicture->setPixmap(style()->standardIcon(QStyle::SP_MediaVolumeMuted).pixmap(32, 32));
    m_soundOnPicture = new QLabel(som);
    m_soundOnPicture->setObjectName(QStringLiteral("Som_Ligado"));
    m_soundOnPicture->setToolTip(QStringLiteral("Sons Ligados"));
    m_soundOnPicture->setPixmap(style()->standardIcon(QStyle::SP_MediaVolume).pixmap(32, 32));
    m_soundOnPicture->setAutoFillBackground(true);
    // Both pictures in one place, "on" on top: at start the indicator is on.
    g->addWidget(m_soundOffPicture, 0, 0);
    g->addWidget(m_soundOnPicture, 0, 0);
    m_soundOnPicture->raise();
    m_soundOnPicture->installEventFilter(this);
    m_soundOffPicture->installEventFilter(this);
    if (m_sounds && !m_sounds->soundOn()) showIndicator(false);
    l->addWidget(som);
    static_cast<QVBoxLayout *>(owner->layout())->addWidget(buttons);
}

QTableView *Form_Principal::accountGrid(const QString &nome, SqlListModel *model, const QColor &base) {
    QTableView *g = newGrid(nome, model);
    colors(g, base);
    // A double-click opens the account on its schedule, for those allowed to edit accounts.
    connect(g, &QAbstractItemView::doubleClicked, this, [this, model](const QModelIndex &i) {
        if (!i.isValid() || !m_s.currentOperator.can(Permissions::Clientes)) return;
        const QString conta = model->value(i.row(), QStringLiteral("CONTA")).toString();
        if (!conta.isEmpty()) openAccountForm(conta, true);
    });
    return g;
}

// The account form, made for each use: for a new account (empty conta) or an existing one,
// on its schedule page when asked. What it saves reaches the lists and the browser.
void Form_Principal::openAccountForm(const QString &conta, bool onSchedule, QWidget *over) {
    // Over the browser when it asked: a form under it would wait behind its modality.
    auto *f = Form_Cadastro_Clientes::create(m_s.common, over ? over : this);
    connect(f, &Form_Cadastro_Clientes::accountSaved, this, [this](const QString &saved) {
        reopenDisarmed();
        reopenRearm();
        reopenSilent();
        if (m_accountBrowser) m_accountBrowser->reopen(saved);
    });
    if (conta.isEmpty())
        f->openNew();
    else
        f->openAccount(conta, onSchedule ? Form_Cadastro_Clientes::Page::Horarios
                                         : Form_Cadastro_Clientes::Page::Basico);
}

void Form_Principal::createPages() {
    m_pages = new QTabWidget;
    m_pages->setObjectName(QStringLiteral("PageControl1"));

    m_events = new SqlListModel(EventRepository::receivedListSql(),
                             {{"CONTA", {}},
                              {"CLIENTE", {}},
                              {"CODIGO_ALARME", QStringLiteral("CODIGO")},
                              {"ARGUMENTO", {}},
                              {"NUMERO_PARTICAO", QStringLiteral("PARTIÇÃO")},
                              {"NOME_PARTICAO", QStringLiteral("NOME PARTIÇÃO")},
                              {"DESCRICAO", QStringLiteral("DESCRIÇÃO")},
                              {"TIPO", {}},
                              {"DATA", {}, true},
                              {"DATA_INTERVENCAO", QStringLiteral("DATA INTERVENÇÃO"), true},
                              {"DETALHES", {}},
                              {"IDECALL", QStringLiteral("TELEFONE")}},
                             EventRepository::kReceivedListRows, this);
    m_disarmed =
        new SqlListModel(AccountRepository::disarmedListSql(), accountColumns(false),
                                 EventRepository::kListRows, this);
    m_rearm = new SqlListModel(AccountRepository::awaitingArmListSql(), accountColumns(false),
                                 EventRepository::kListRows, this);
    m_silent =
        new SqlListModel(AccountRepository::silentListSql(), accountColumns(true),
                                 EventRepository::kListRows, this);

    auto page = [this](const char *nome, const QString &title, QWidget *content) {
        auto *p = new QWidget;
        p->setObjectName(QLatin1String(nome));
        auto *l = new QVBoxLayout(p);
        l->setContentsMargins(0, 0, 0, 0);
        l->addWidget(content);
        m_pages->addTab(p, title);
        return p;
    };

    QTableView *eventsGrid = newGrid(QStringLiteral("Grade_Eventos"), m_events);
    colors(eventsGrid, kInactiveCaptionText);
    eventsGrid->setItemDelegate(new EventColorDelegate(m_events->columnOf("TIPO"), eventsGrid));
    for (const auto &[field, columnWidth] : {std::pair{"CLIENTE", 200},
                                         {"DESCRICAO", 220},
                                         {"NOME_PARTICAO", 120},
                                         {"IDECALL", 130}})
        eventsGrid->setColumnWidth(m_events->columnOf(QLatin1String(field)), columnWidth);
    // Dates are shown whole, seconds included, in the one form of every list.
    const int dateWidth =
        eventsGrid->fontMetrics().horizontalAdvance(
            QDateTime(QDate(2000, 12, 28), QTime(23, 59, 59)).toString(DateFormats::kDateTime)) +
        16;
    for (const char *field : {"DATA", "DATA_INTERVENCAO"})
        eventsGrid->setColumnWidth(m_events->columnOf(QLatin1String(field)), dateWidth);
    page("TabSheet1", QStringLiteral("Eventos Recebidos"), eventsGrid);

    m_connectedGrid = newGrid(QStringLiteral("Grid_Conectados"), nullptr);
    m_connectedView = new ConnectedDevicesView(
        new ConnectedDevicesModel(m_s.connections, this), m_connectedGrid);
    m_connectedGrid->setShowGrid(true);
    QFont fixedWidth(QStringLiteral("Courier New"));
    fixedWidth.setStyleHint(QFont::TypeWriter);
    fixedWidth.setPixelSize(13);
    m_connectedGrid->setFont(fixedWidth);
    sizeConnectedColumns(fixedWidth);
    connect(m_connectedGrid, &QAbstractItemView::doubleClicked, this,
            &Form_Principal::Grid_ConectadosDblClick);
    QWidget *gprs = page("TabSheet3", QStringLiteral("GPRS Conectados"), m_connectedView);
    QTableView *buffer =
        newGrid(QStringLiteral("Grid_Buffer"),
                  new ReplyQueueModel(m_s.connections.replies(), this));
    buffer->setParent(gprs);
    buffer->hide();

    page("TabSheet2", QStringLiteral("Alarmes Desarmados"),
           accountGrid(QStringLiteral("Grid_Desarmado"), m_disarmed, kHintBackground));
    QTableView *rearme = accountGrid(QStringLiteral("Grid_Rearme"), m_rearm, kGrey);
    colors(rearme, kGrey, Qt::white);
    m_rearmPage = page("TabSheet4", QStringLiteral("Aguardando Armar"), rearme);
    m_silentPage =
        page("TabSheet5", QStringLiteral("Sem comunicação"),
               accountGrid(QStringLiteral("DBGrid1"), m_silent, kInactiveCaption));
    // The account form opens from these grids once it exists; a double-click does nothing yet.

    m_pages->setCurrentIndex(0);
    connect(m_pages, &QTabWidget::currentChanged, this, &Form_Principal::pageShown);
}

void Form_Principal::pageShown(int connectionIndex) {
    const QString nome = m_pages->widget(connectionIndex)->objectName();
    if (nome == QLatin1String("TabSheet2"))
        reopenDisarmed();
    else if (nome == QLatin1String("TabSheet4"))
        reopenRearm();
    else if (nome == QLatin1String("TabSheet3"))
        tellWhereDevicesAre();
}

bool Form_Principal::tellWhereDevicesAre() {
    const QString elsewhere = m_s.reception.receivingElsewhere();
    if (elsewhere.isEmpty()) return false;
    if (Prompt *p = m_s.common.prompt)
        p->message(ReceptionControl::onlyWhereReceived(elsewhere), QStringLiteral("Tulmo"),
                   Prompt::Icon::Information);
    return true;
}

void Form_Principal::reopenReceived() {
    m_events->reopen(m_s.common.database.primary());
}
void Form_Principal::reopenDisarmed() {
    m_disarmed->reopen(m_s.common.database.primary());
}
void Form_Principal::reopenRearm() {
    m_rearm->reopen(m_s.common.database.primary());
}
void Form_Principal::reopenSilent() {
    m_silent->reopen(m_s.common.database.primary());
}

void Form_Principal::showEvent(QShowEvent *e) {
    QMainWindow::showEvent(e);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

// Reception has started with the core; the window only shows what waits for the operator.
void Form_Principal::FormShow() {
    const bool pending = EventRepository::hasPending(m_s.common.database.primary());
    m_pendingList->setEnabled(pending);
    updatePendingCount();
    // Events left pending before a restart are in sight from the start, without taking the
    // keyboard from the shift dialog that opens next; once this window is on the screen, or
    // it would cover them.
    if (pending) QTimer::singleShot(0, m_pendingForm, &Form_Eventos_Pendentes::comeForward);
}

void Form_Principal::updatePendingCount() {
    const int n = EventRepository::pendingCount(m_s.common.database.primary());
    m_pendingCount->setText(n > EventRepository::kListRows
                                ? QStringLiteral("Pendentes: mais de %1").arg(EventRepository::kListRows)
                                : QStringLiteral("Pendentes: %1").arg(n));
    m_pendingCount->setStyleSheet(n > 0 ? QStringLiteral("color: white; background: #C00000;")
                                        : QString());
}

void Form_Principal::updateStatus() {
    const ConnectionRegistry &c = m_s.connections;
    if (!c.lastPeer().isEmpty()) m_panel[0]->setText(QStringLiteral("Connected to: ") + c.lastPeer());
    m_panel[1]->setText(QStringLiteral("Conexoes TCP/IP: ") + QString::number(c.connectionCount()));
    m_panel[2]->setText(m_s.common.clock.now().toString(DateFormats::kTime));
}

void Form_Principal::closeEvent(QCloseEvent *e) {
    // The exit command is the only way out.
    e->ignore();
}

void Form_Principal::Exit1Click() {
    // Without the right to close, someone who has it may log in.
    if (!m_s.currentOperator.can(Permissions::Fechar)) {
        startShift();
        return;
    }
    Prompt *p = m_s.common.prompt;
    if (p && p->question(QStringLiteral("Tem certeza que deseja Sair?"),
                         QStringLiteral("Sair TULMO"), Prompt::Icon::Warning, false))
        emit exitRequested();
}

void Form_Principal::showIndicator(bool soundOn) {
    m_soundOnPicture->setVisible(soundOn);
    m_soundOffPicture->setVisible(!soundOn);
}

void Form_Principal::Som_LigadoClick() {
    if (m_sounds)
        m_sounds->Som_LigadoClick();
    else
        showIndicator(false);
}

void Form_Principal::Som_DesligadoClick() {
    if (m_sounds)
        m_sounds->Som_DesligadoClick();
    else
        showIndicator(true);
}

bool Form_Principal::eventFilter(QObject *o, QEvent *e) {
    if (e->type() == QEvent::MouseButtonRelease) {
        if (o == m_soundOnPicture) {
            const QString playing = m_sounds ? m_sounds->currentFile() : QString();
            Som_LigadoClick();
            audit::writeAlone(m_s.common.database.primary(),
                              {QString::fromUtf8(audit::kSilence),
                               playing.isEmpty() ? QStringLiteral("Som desligado")
                                                 : QStringLiteral("Som desligado: ") + playing,
                               QString(), QString(), QString()});
        }
        else if (o == m_soundOffPicture)
            Som_DesligadoClick();
    } else if (e->type() == QEvent::MouseButtonDblClick && o == m_memo1->viewport()) {
        Memo1DblClick();
        return true;
    }
    return QMainWindow::eventFilter(o, e);
}

void Form_Principal::Memo1DblClick() {
    m_s.dm.memo1().clear();
}

void Form_Principal::ConfiguracoesClick() {
    m_settingsDialog->openDialog();
}

// The remote access console and the parameter editor, created once and reused.
void Form_Principal::createModuleWindows() {
    m_moduleExchange = new ModuleExchange(m_s.dm, m_s.connections,
                                          m_s.deviceLink, this);
    m_accessForm = new Form_Acesso_GPRS(*m_moduleExchange, m_s.common.prompt, this);
    m_qvn12Form = new Form_QVN12(m_s.common.database, m_s.common.prompt, this);
    m_accessForm->setEditor(m_qvn12Form);
    connect(m_accessForm, &Form_Acesso_GPRS::moduleCommand, this, [this](const QString &acao) {
        audit::writeAlone(m_s.common.database.primary(),
                          {acao, QStringLiteral("Módulo GPRS ") + m_accessImei, QString(),
                           QString(), QString()});
    });
    // The second editor window of the console is never opened.
    new Form_QVN8(m_s.common.database, m_s.common.prompt, this);
}

void Form_Principal::Grid_ConectadosDblClick() {
    if (tellWhereDevicesAre()) return;
    const ConnectionRegistry &c = m_s.connections;
    const int current = m_connectedView->sourceRow(m_connectedGrid->currentIndex());
    if (c.rowCount() == 0 || current < 0 || current >= c.rowCount()) return;
    const ConnectionRegistry::Row &row = c.row(current);
    Prompt *p = m_s.common.prompt;
    // Busy only while a reply of this very device waits, not one of another device of its slot.
    if (c.replies().hasReplyFor(row.socket.data(), row.server, row.imei)) {
        if (p) p->message(QStringLiteral("Dispositivo ocupado!"));
        return;
    }
    if (row.imei.isEmpty()) {
        if (p) p->message(QStringLiteral("Falta receber o IMEI"));
        return;
    }
    m_accessImei = row.imei;
    m_accessForm->openFor(row.server, row.socketIndex, row.socket.data());
}

// The driver stays stopped while the operator reads the message, so the same account is not
// announced again meanwhile; reception goes on.
// The rearm sound plays from the start and repeats once the alert is closed, until the
// operator silences it.
void Form_Principal::rearmAlert(const QString &messageText) {
    if (m_sounds) m_sounds->playAlert(m_s.settings.rearmSound());
    m_pages->setCurrentWidget(m_rearmPage);
    Prompt *p = m_s.common.prompt;
    if (!p) return Som_DesligadoClick();
    p->alert(messageText, QStringLiteral("Tulmo"), Prompt::Icon::Warning,
             [w = QPointer<Form_Principal>(this)] {
                 if (w) w->Som_DesligadoClick();
             });
}

// Accounts fall silent in rows, many in one tick: their alerts wait in line behind each
// other, and one alert sound repeats from the first until the last is closed. An event's alarm
// that was sounding before the first then sounds again; one that started meanwhile goes on.
void Form_Principal::inactivityAlert(const QString &messageText) {
    if (m_s.alerts.silentAlertOpened()) {
        m_alarmBeforeSilence =
            m_sounds && m_sounds->continuousPlaying() ? m_sounds->currentFile() : QString();
        if (m_sounds) m_sounds->playAlert(m_s.settings.rearmSound());
        m_pages->setCurrentWidget(m_silentPage);
        Som_DesligadoClick();
    }
    auto closed = [w = QPointer<Form_Principal>(this), desk = &m_s.alerts] {
        const bool last = desk->silentAlertClosed();
        if (!w || !last) return;
        if (w->m_sounds && w->m_sounds->continuousPlaying()) return;
        w->Som_LigadoClick();
        if (!w->m_alarmBeforeSilence.isEmpty()) w->m_sounds->playRepeating(w->m_alarmBeforeSilence);
    };
    if (Prompt *p = m_s.common.prompt)
        p->alert(messageText, QStringLiteral("Tulmo"), Prompt::Icon::Warning, closed);
    else
        closed();
}

void Form_Principal::bringForward() {
    if (isMinimized()) setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

// Each column of Grid_Conectados as wide as the longest text it can hold (times, identifiers,
// addresses), measured once in the grid's font: measuring the rows themselves would cost a
// pass over every device at each change.
void Form_Principal::sizeConnectedColumns(const QFont &font) {
    const QFontMetrics fm(font);
    const QString dateTime = QDateTime(QDate(2000, 12, 28), QTime(23, 59, 59))
                                 .toString(DateFormats::kDateTime);
    const QString widest[ConnectedDevicesModel::ColCount] = {
        dateTime,                       // keep-alive
        // account or device caption
        QStringLiteral("Painel Alarme KX4 Conta:000000"),
        QStringLiteral("000000"),       // last packet
        dateTime,                       // last event
        QStringLiteral("00"),           // listener slot
        QStringLiteral("000000000000000"),
        QStringLiteral("000.000.000.000"),
        QStringLiteral("00000"),  // socket index
        QStringLiteral("000000"), // handle
        dateTime};
    QHeaderView *header = m_connectedGrid->horizontalHeader();
    const QAbstractItemModel *model = m_connectedGrid->model();
    for (int c = 0; c < ConnectedDevicesModel::ColCount; ++c) {
        const int title = header->fontMetrics().horizontalAdvance(
            model->headerData(c, Qt::Horizontal).toString());
        m_connectedGrid->setColumnWidth(c, std::max(fm.horizontalAdvance(widest[c]), title) + 16);
    }
}

} // namespace tulmo
