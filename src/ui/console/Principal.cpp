#include "Principal.h"

#include "Cadastro_Operadores.h"
#include "EventColorDelegate.h"
#include "Eventos_Pendentes.h"
#include "IniciarTurno.h"
#include "SoundState.h"
#include "common/AlertPause.h"
#include "common/Clock.h"
#include "common/DateFormats.h"
#include "common/Prompt.h"
#include "events/AccountRepository.h"
#include "events/EventRepository.h"
#include "reception/ConnectedDevicesModel.h"
#include "reception/ReplyQueueModel.h"
#include "settings/Configuracoes.h"
#include "store/SqlListModel.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace tulmo {

namespace {

// Base colours of the grids, as the desktop's classic scheme has them.
const QColor kCorLegendaInativaTexto(0xD4, 0xD0, 0xC8); // inactive caption text
const QColor kCorFundoDica(0xFF, 0xFF, 0xE1);           // info background
const QColor kCorCinza(0x80, 0x80, 0x80);
const QColor kCorLegendaInativa(0xBF, 0xCD, 0xDB); // inactive caption

QList<SqlListModel::Column> colunasConta(bool comUltimoEvento) {
    QList<SqlListModel::Column> c{{"CONTA", {}},     {"NOME", {}},    {"TELEFONE1", {}},
                              {"TELEFONE2", {}}, {"CELULAR", {}}, {"ENDERECO1", {}},
                              {"ENDERECO2", {}}};
    if (comUltimoEvento) c.append(SqlListModel::Column{"ULTIMO_EVENTO", {}});
    return c;
}

void cores(QWidget *w, const QColor &base, const QColor &texto = QColor()) {
    QPalette p = w->palette();
    p.setColor(QPalette::Base, base);
    if (texto.isValid()) p.setColor(QPalette::Text, texto);
    w->setPalette(p);
}

QTableView *novaGrade(const QString &nome, QAbstractItemModel *modelo) {
    auto *g = new QTableView;
    g->setObjectName(nome);
    g->setModel(modelo);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setSelectionMode(QAbstractItemView::SingleSelection);
    g->verticalHeader()->setDefaultSectionSize(g->fontMetrics().height() + 6);
    g->verticalHeader()->hide();
    return g;
}

} // namespace

ImageButton::ImageButton(QFrame *painel, const QIcon &icone, const QString &dica)
    : QLabel(painel)
    , m_painel(painel) {
    setPixmap(icone.pixmap(32, 32));
    setAlignment(Qt::AlignCenter);
    setToolTip(dica);
    painel->setToolTip(dica);
    auto *l = new QHBoxLayout(painel);
    l->setContentsMargins(3, 3, 3, 3);
    l->addWidget(this);
}

void ImageButton::mousePressEvent(QMouseEvent *e) {
    m_painel->setFrameShadow(QFrame::Sunken);
    QLabel::mousePressEvent(e);
}

void ImageButton::mouseReleaseEvent(QMouseEvent *e) {
    m_painel->setFrameShadow(QFrame::Raised);
    QLabel::mouseReleaseEvent(e);
    emit clicked();
}

Form_Principal::Form_Principal(ConsoleCore &core, SoundState *sons, QWidget *parent)
    : QMainWindow(parent)
    , m_core(core)
    , m_sons(sons) {
    setObjectName(QStringLiteral("Form_Principal"));
    setWindowTitle(caption());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    if (QScreen *tela = QGuiApplication::primaryScreen()) setGeometry(tela->availableGeometry());

    criarMenu();
    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    criarBotoes(central);
    criarPaginas();
    layout->addWidget(m_paginas, 1);
    // The raw device traffic, kept but not shown.
    m_memo1 = new QPlainTextEdit(central);
    m_memo1->setObjectName(QStringLiteral("Memo1"));
    m_memo1->setReadOnly(true);
    m_memo1->setMaximumBlockCount(m_core.dm().memo1().maxLines());
    m_memo1->hide();
    m_memo1->setPlainText(m_core.dm().memo1().lines().join(QLatin1Char('\n')));
    m_memo1->viewport()->installEventFilter(this);
    connect(&m_core.dm().memo1(), &LineLog::lineAdded, m_memo1, &QPlainTextEdit::appendPlainText);
    connect(&m_core.dm().memo1(), &LineLog::cleared, m_memo1, &QPlainTextEdit::clear);
    setCentralWidget(central);

    QStatusBar *barra = statusBar();
    barra->setObjectName(QStringLiteral("StatusBar1"));
    const int larguras[3] = {150, 150, 50};
    for (int i = 0; i < 3; ++i) {
        m_painel[i] = new QLabel;
        m_painel[i]->setObjectName(QStringLiteral("Panel%1").arg(i));
        m_painel[i]->setFixedWidth(larguras[i]);
        m_painel[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        barra->addWidget(m_painel[i]);
    }

    EventRecorder &g = m_core.gravador();
    connect(&g, &EventRecorder::recebidosChanged, this, [this] {
        reabrirEventosRecebidos();
        // An arriving event brings a minimised console back.
        if (isVisible()) showNormal();
    });
    connect(&g, &EventRecorder::desarmadosChanged, this, &Form_Principal::reabrirDesarmados);
    connect(&g, &EventRecorder::aguardandoArmarChanged, this, &Form_Principal::reabrirRearme);
    connect(&g, &EventRecorder::semComunicacaoChanged, this,
            &Form_Principal::reabrirSemComunicacao);
    connect(&g, &EventRecorder::pendenteRegistrado, this,
            [this] { m_pendentes->setEnabled(true); });
    AccountSupervisor &s = m_core.supervisao();
    connect(&s, &AccountSupervisor::desarmadosChanged, this, &Form_Principal::reabrirDesarmados);
    connect(&s, &AccountSupervisor::aguardandoArmarChanged, this, &Form_Principal::reabrirRearme);
    connect(&s, &AccountSupervisor::semComunicacaoChanged, this, &Form_Principal::reabrirSemComunicacao);
    connect(&m_core.timerAtualizar(), &QTimer::timeout, this, &Form_Principal::atualizarStatus);
    // A new connection shows at once, not only at the next tick.
    connect(&m_core.connectionRegistry(), &ConnectionRegistry::statusTextChanged, m_painel[0],
            &QLabel::setText);
    if (m_sons) connect(m_sons, &SoundState::indicadorMudou, this, &Form_Principal::mostrarIndicador);
    m_core.setAlertas(this);
    m_configuracoes = new Form_Configuracoes(m_core, this);

    reabrirEventosRecebidos();
    reabrirDesarmados();
    reabrirRearme();
    reabrirSemComunicacao();
    atualizarStatus();
    criarJanelasTurno();
}

void Form_Principal::criarJanelasTurno() {
    m_formPendentes = new Form_Eventos_Pendentes(m_core, *this, this);
    m_formOperadores = new FormCadastroOperadores(m_core, this);
    m_formTurno = new Form_iniciar_turno(m_core, this);
    connect(m_formTurno, &Form_iniciar_turno::permissionsChanged, this,
            &Form_Principal::applyPermissions);
    connect(m_formTurno, &Form_iniciar_turno::operatorFormAllowed, this,
            &Form_Principal::setOperatorFormEnabled);
    connect(m_formTurno, &Form_iniciar_turno::aboutToClose, this,
            &Form_Principal::menusFollowPanels);
    connect(m_pendentes, &QAction::triggered, this, &Form_Principal::abrirPendentes);
    connect(m_imgPendentes, &ImageButton::clicked, this, &Form_Principal::abrirPendentes);
    connect(m_trocaTurno, &QAction::triggered, this, &Form_Principal::iniciarTurno);
    connect(m_operadores, &QAction::triggered, m_formOperadores, &QDialog::exec);
}

Form_Principal::PermissionCommand &Form_Principal::comando(quint32 bit) {
    for (PermissionCommand &c : m_comandos)
        if (c.bit == bit) return c;
    Q_UNREACHABLE();
}

void Form_Principal::applyPermissions(quint32 bits) {
    for (const PermissionCommand &c : m_comandos)
        c.painel->setEnabled((bits & c.bit) != 0);
}

void Form_Principal::menusFollowPanels() {
    // The panel's own flag, whatever the state of the window around it.
    for (const PermissionCommand &c : m_comandos)
        c.menu->setEnabled(!c.painel->testAttribute(Qt::WA_ForceDisabled));
}

void Form_Principal::setOperatorFormEnabled(bool enabled) {
    m_operadores->setEnabled(enabled);
}

void Form_Principal::setPendingCommandEnabled(bool enabled) {
    m_pendentes->setEnabled(enabled);
}

void Form_Principal::iniciarTurno() {
    m_formTurno->abrir();
}

void Form_Principal::abrirPendentes() {
    m_formPendentes->show();
    m_formPendentes->raise();
    m_formPendentes->activateWindow();
}

Form_Principal::~Form_Principal() {
    m_core.setAlertas(nullptr);
}

void Form_Principal::criarMenu() {
    QMenuBar *barra = menuBar();
    barra->setObjectName(QStringLiteral("MainMenu1"));
    auto item = [this](QWidget *onde, const char *nome, const QString &texto) {
        auto *a = new QAction(texto, this);
        a->setObjectName(QLatin1String(nome));
        onde->addAction(a);
        return a;
    };
    QMenu *arquivo = barra->addMenu(QStringLiteral("&Arquivo"));
    arquivo->setObjectName(QStringLiteral("Arquivo1"));
    // The registry and import windows come with their own work; until then
    // their entries are there and do nothing.
    comando(Permissions::Clientes).menu =
        item(arquivo, "CadastrodeClientes1", QStringLiteral("&Clientes"));
    comando(Permissions::Eventos).menu = item(arquivo, "Eventos2", QStringLiteral("&Eventos"));
    comando(Permissions::TcpIp).menu = item(arquivo, "CadastrodeGPRS1", QStringLiteral("&GPRS"));
    m_operadores = item(arquivo, "Operadores1", QStringLiteral("&Operadores"));
    m_operadores->setEnabled(false);
    m_trocaTurno = item(arquivo, "rocadeTurno1", QStringLiteral("&Troca de Turno"));
    item(arquivo, "Importar1", QStringLiteral("&Importar"));
    arquivo->addSeparator();
    connect(item(arquivo, "Sair1", QStringLiteral("&Sair")), &QAction::triggered, this,
            &Form_Principal::Exit1Click);
    m_pendentes = item(barra, "Pendentes1", QStringLiteral("&Pendentes"));
    m_pendentes->setEnabled(false);
    comando(Permissions::Relatorios).menu =
        item(barra, "Eventos1", QStringLiteral("&Relatorios"));
    item(barra, "ApagarEventos1", QStringLiteral("&Apagar Eventos"));
    QAction *configuracoes = item(barra, "Configuracoes", QStringLiteral("&Configurações"));
    comando(Permissions::Configuracoes).menu = configuracoes;
    connect(configuracoes, &QAction::triggered, this, &Form_Principal::ConfiguracoesClick);
}

void Form_Principal::criarBotoes(QWidget *pai) {
    auto *botoes = new QFrame(pai);
    botoes->setObjectName(QStringLiteral("P_Botoes"));
    botoes->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto *l = new QHBoxLayout(botoes);
    l->setContentsMargins(4, 4, 4, 4);
    // bit: the permission that enables the panel, 0 for the ones always there.
    struct Botao {
        const char *painel, *imagem;
        QStyle::StandardPixmap icone;
        QString dica;
        quint32 bit;
    };
    const Botao tabela[] = {
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
    for (const Botao &b : tabela) {
        auto *painel = new QFrame(botoes);
        painel->setObjectName(QLatin1String(b.painel));
        painel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        painel->setLineWidth(2);
        auto *img = new ImageButton(painel, style()->standardIcon(b.icone), b.dica);
        img->setObjectName(QLatin1String(b.imagem));
        l->addWidget(painel);
        if (b.bit) comando(b.bit).painel = painel;
        if (qstrcmp(b.imagem, "Img_Eventos_Pendentes") == 0) m_imgPendentes = img;
        if (qstrcmp(b.imagem, "Image2") == 0)
            connect(img, &ImageButton::clicked, this, &Form_Principal::Exit1Click);
        if (qstrcmp(b.imagem, "Img_Configuracoes") == 0)
            connect(img, &ImageButton::clicked, this, &Form_Principal::ConfiguracoesClick);
    }
    // The shift start enables the account browser by the operator's permissions.
    comando(Permissions::Clientes).painel->setEnabled(false);
    l->addStretch(1);

    auto *som = new QFrame(botoes);
    som->setObjectName(QStringLiteral("Pnl_Sound"));
    auto *g = new QGridLayout(som);
    g->setContentsMargins(2, 2, 2, 2);
    m_somDesligado = new QLabel(som);
    m_somDesligado->setObjectName(QStringLiteral("Som_Desligado"));
    m_somDesligado->setToolTip(QStringLiteral("Sons Desligados"));
    m_somDesligado->setPixmap(style()->standardIcon(QStyle::SP_MediaVolumeMuted).pixmap(32, 32));
    m_somLigado = new QLabel(som);
    m_somLigado->setObjectName(QStringLiteral("Som_Ligado"));
    m_somLigado->setToolTip(QStringLiteral("Sons Ligados"));
    m_somLigado->setPixmap(style()->standardIcon(QStyle::SP_MediaVolume).pixmap(32, 32));
    m_somLigado->setAutoFillBackground(true);
    // Both pictures in one place, "on" on top: at start the indicator is on.
    g->addWidget(m_somDesligado, 0, 0);
    g->addWidget(m_somLigado, 0, 0);
    m_somLigado->raise();
    m_somLigado->installEventFilter(this);
    m_somDesligado->installEventFilter(this);
    if (m_sons && !m_sons->ligado()) mostrarIndicador(false);
    l->addWidget(som);
    static_cast<QVBoxLayout *>(pai->layout())->addWidget(botoes);
}

QTableView *Form_Principal::gradeConta(const QString &nome, SqlListModel *modelo, const QColor &base) {
    QTableView *g = novaGrade(nome, modelo);
    cores(g, base);
    return g;
}

void Form_Principal::criarPaginas() {
    m_paginas = new QTabWidget;
    m_paginas->setObjectName(QStringLiteral("PageControl1"));

    m_eventos = new SqlListModel(EventRepository::receivedListSql(),
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
                             this);
    m_desarmados =
        new SqlListModel(AccountRepository::disarmedListSql(), colunasConta(false), this);
    m_rearme = new SqlListModel(AccountRepository::awaitingArmListSql(), colunasConta(false), this);
    m_semComunicacao =
        new SqlListModel(AccountRepository::silentListSql(), colunasConta(true), this);

    auto pagina = [this](const char *nome, const QString &titulo, QWidget *conteudo) {
        auto *p = new QWidget;
        p->setObjectName(QLatin1String(nome));
        auto *l = new QVBoxLayout(p);
        l->setContentsMargins(0, 0, 0, 0);
        l->addWidget(conteudo);
        m_paginas->addTab(p, titulo);
        return p;
    };

    QTableView *eventos = novaGrade(QStringLiteral("Grade_Eventos"), m_eventos);
    cores(eventos, kCorLegendaInativaTexto);
    eventos->setItemDelegate(new EventColorDelegate(m_eventos->colunaDe("TIPO"), eventos));
    eventos->setColumnWidth(m_eventos->colunaDe("DATA_INTERVENCAO"), 90);
    for (const auto &[campo, largura] : {std::pair{"CLIENTE", 200},
                                         {"DESCRICAO", 220},
                                         {"NOME_PARTICAO", 120},
                                         {"DATA", 125},
                                         {"IDECALL", 130}})
        eventos->setColumnWidth(m_eventos->colunaDe(QLatin1String(campo)), largura);
    pagina("TabSheet1", QStringLiteral("Eventos Recebidos"), eventos);

    m_gridConectados = novaGrade(QStringLiteral("Grid_Conectados"),
                                 new ConnectedDevicesModel(m_core.connectionRegistry(), this));
    m_gridConectados->setShowGrid(true);
    QFont fixa(QStringLiteral("Courier New"));
    fixa.setStyleHint(QFont::TypeWriter);
    fixa.setPixelSize(13);
    m_gridConectados->setFont(fixa);
    connect(m_gridConectados, &QAbstractItemView::doubleClicked, this,
            &Form_Principal::Grid_ConectadosDblClick);
    QWidget *gprs = pagina("TabSheet3", QStringLiteral("GPRS Conectados"), m_gridConectados);
    QTableView *buffer =
        novaGrade(QStringLiteral("Grid_Buffer"),
                  new ReplyQueueModel(m_core.connectionRegistry().replies(), this));
    buffer->setParent(gprs);
    buffer->hide();

    pagina("TabSheet2", QStringLiteral("Alarmes Desarmados"),
           gradeConta(QStringLiteral("Grid_Desarmado"), m_desarmados, kCorFundoDica));
    QTableView *rearme = gradeConta(QStringLiteral("Grid_Rearme"), m_rearme, kCorCinza);
    cores(rearme, kCorCinza, Qt::white);
    m_paginaRearme = pagina("TabSheet4", QStringLiteral("Aguardando Armar"), rearme);
    m_paginaSemComunicacao =
        pagina("TabSheet5", QStringLiteral("Sem comunicação"),
               gradeConta(QStringLiteral("DBGrid1"), m_semComunicacao, kCorLegendaInativa));
    // The account form opens from these grids once it exists; a double-click does nothing yet.

    m_paginas->setCurrentIndex(0);
    connect(m_paginas, &QTabWidget::currentChanged, this, &Form_Principal::paginaMostrada);
}

void Form_Principal::paginaMostrada(int indice) {
    const QString nome = m_paginas->widget(indice)->objectName();
    if (nome == QLatin1String("TabSheet2"))
        reabrirDesarmados();
    else if (nome == QLatin1String("TabSheet4"))
        reabrirRearme();
}

void Form_Principal::reabrirEventosRecebidos() {
    m_eventos->reabrir(m_core.dm().banco().principal());
}
void Form_Principal::reabrirDesarmados() {
    m_desarmados->reabrir(m_core.dm().banco().principal());
}
void Form_Principal::reabrirRearme() {
    m_rearme->reabrir(m_core.dm().banco().principal());
}
void Form_Principal::reabrirSemComunicacao() {
    m_semComunicacao->reabrir(m_core.dm().banco().principal());
}

void Form_Principal::showEvent(QShowEvent *e) {
    QMainWindow::showEvent(e);
    if (!m_mostrado) {
        m_mostrado = true;
        FormShow();
    }
}

void Form_Principal::FormShow() {
    m_core.connectionRegistry().replies().clear();
    m_core.dm().Realizar_Atualizacoes();
    m_core.startTimer();
    m_pendentes->setEnabled(EventRepository::hasPending(m_core.dm().banco().principal()));
}

void Form_Principal::atualizarStatus() {
    const ConnectionRegistry &c = m_core.connectionRegistry();
    m_painel[0]->setText(c.statusText());
    m_painel[1]->setText(c.connectionCountText());
    m_painel[2]->setText(m_core.clock().now().toString(DateFormats::kTime));
}

void Form_Principal::closeEvent(QCloseEvent *e) {
    // The exit command is the only way out.
    e->ignore();
}

void Form_Principal::Exit1Click() {
    // Without the right to close, someone who has it may log in.
    if (!m_core.operador().pode(Permissions::Fechar)) {
        iniciarTurno();
        return;
    }
    Prompt *p = m_core.prompt();
    if (p && p->question(QStringLiteral("Tem certeza que deseja Sair?"),
                         QStringLiteral("Sair TULMO"), Prompt::Icon::Warning, false))
        emit sairSolicitado();
}

void Form_Principal::mostrarIndicador(bool ligado) {
    m_somLigado->setVisible(ligado);
    m_somDesligado->setVisible(!ligado);
}

void Form_Principal::Som_LigadoClick() {
    if (m_sons)
        m_sons->Som_LigadoClick();
    else
        mostrarIndicador(false);
}

void Form_Principal::Som_DesligadoClick() {
    if (m_sons)
        m_sons->Som_DesligadoClick();
    else
        mostrarIndicador(true);
}

bool Form_Principal::eventFilter(QObject *o, QEvent *e) {
    if (e->type() == QEvent::MouseButtonRelease) {
        if (o == m_somLigado)
            Som_LigadoClick();
        else if (o == m_somDesligado)
            Som_DesligadoClick();
    } else if (e->type() == QEvent::MouseButtonDblClick && o == m_memo1->viewport()) {
        Memo1DblClick();
        return true;
    }
    return QMainWindow::eventFilter(o, e);
}

void Form_Principal::Memo1DblClick() {
    m_core.dm().memo1().clear();
}

void Form_Principal::ConfiguracoesClick() {
    m_configuracoes->abrir();
}

void Form_Principal::Grid_ConectadosDblClick() {
    const ConnectionRegistry &c = m_core.connectionRegistry();
    const QModelIndex atual = m_gridConectados->currentIndex();
    if (c.rowCount() == 0 || !atual.isValid() || atual.row() >= c.rowCount()) return;
    const ConnectionRegistry::Row &linha = c.row(atual.row());
    Prompt *p = m_core.prompt();
    if (c.replies().hasReplyFor(linha.servidor)) {
        if (p) p->message(QStringLiteral("Dispositivo ocupado!"));
        return;
    }
    if (linha.imei.isEmpty()) {
        if (p) p->message(QStringLiteral("Falta receber o IMEI"));
        return;
    }
    // The remote access console opens here once it exists.
}

// The driver stays stopped while the operator reads the message, so the same account is not
// announced again meanwhile; reception goes on.
void Form_Principal::alertaRearme(const QString &mensagem) {
    if (m_sons) m_sons->tocarAlerta(m_core.settings().somRearme());
    m_paginas->setCurrentWidget(m_paginaRearme);
    const AlertPause pausa(m_core.timerAtualizar());
    if (Prompt *p = m_core.prompt())
        p->message(mensagem, QStringLiteral("Tulmo"), Prompt::Icon::Warning);
    Som_DesligadoClick();
}

// The alert sound repeats while the message is open and stops when it is closed.
void Form_Principal::alertaInativo(const QString &mensagem) {
    const AlertPause pausa(m_core.timerInativos());
    if (m_sons) m_sons->tocarAlerta(m_core.settings().somRearme());
    m_paginas->setCurrentWidget(m_paginaSemComunicacao);
    Som_DesligadoClick();
    if (Prompt *p = m_core.prompt())
        p->message(mensagem, QStringLiteral("Tulmo"), Prompt::Icon::Warning);
    Som_LigadoClick();
}

} // namespace tulmo
