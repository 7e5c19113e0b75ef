#include "Configuracoes.h"

#include "core/operators/AuditTrail.h"

#include "core/common/FileChooser.h"
#include "ui/common/FileDialogChooser.h"
#include "ui/common/KeyboardHabits.h"
#include "core/common/Paths.h"
#include "core/common/Prompt.h"
#include "ui/common/RangeFields.h"
#include "core/common/Sound.h"
#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/common/Sound.h"
#include "core/console/ReceptionControl.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/Dc09Keys.h"
#include "core/settings/LiveSettings.h"
#include "core/store/Database.h"
#include "core/settings/ConfigIni.h"
#include "ui/settings/Dc09KeysDialog.h"
#include "core/settings/IniFile.h"
#include "core/settings/LiveSettings.h"
#include "ui/settings/PortMonitorView.h"
#include "core/settings/ReceiverPorts.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <utility>

namespace tulmo {

namespace {

const int kModeRole = Qt::UserRole + 1;
// The SMTP port of the e-mail options.
constexpr int kMailPortMin = 1, kMailPortMax = 65535;

QLineEdit *newEdit(const char *nome) {
    return named(new QLineEdit, nome);
}

// A number field that refuses, with its name and range, what it cannot hold.
BoundedSpinBox *newSpin(const char *nome, const QString &field, int min, int max, int value) {
    auto *s = named(new BoundedSpinBox(field, min, max), nome);
    s->setValue(value);
    return s;
}

// A spin box with its unit written after it ("Seg.", "Segundos", "Minutos").
QWidget *withUnit(QWidget *field, const QString &unit) {
    auto *w = new QWidget;
    auto *l = new QHBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(field);
    l->addWidget(new QLabel(unit));
    l->addStretch(1);
    return w;
}

} // namespace

Form_Configuracoes::Form_Configuracoes(CommonServices common, LiveSettings &settings, DM1 &dm,
                                       ReceptionControl &reception, Dc09Keys &keys,
                                       SoundOutput *sound, QString dataDir, QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_dm(dm)
    , m_reception(reception)
    , m_keys(keys)
    , m_sound(sound)
    , m_dataDir(std::move(dataDir))
    , m_settings(settings)
    , m_table(common.database.primary())
    , m_defaultChooser(std::make_unique<FileDialogChooser>(this)) {
    setObjectName(QStringLiteral("Form_Configuracoes"));
    setWindowTitle(QStringLiteral("Configurações"));
    // Modal to the main window only: the pending-events window stays on top and usable.
    setWindowModality(Qt::WindowModal);
    m_chooser = m_defaultChooser.get();
    m_icons[DM1::Serial] = style()->standardIcon(QStyle::SP_DriveHDIcon);
    m_icons[DM1::TcpIp] = style()->standardIcon(QStyle::SP_DriveNetIcon);
    m_icons[DM1::UdpIp] = style()->standardIcon(QStyle::SP_BrowserReload);

    m_tree = named(new QTreeWidget, "TreeView1");
    m_tree->setHeaderHidden(true);
    m_tree->setFixedWidth(170);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_receiverRoot = new QTreeWidgetItem(m_tree, {QStringLiteral("Receiver")});
    m_receiverRoot->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    m_optionsRoot = new QTreeWidgetItem(m_tree, {QStringLiteral("Opções")});
    m_optionsRoot->setIcon(0, style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    m_receiverRoot->setExpanded(true);
    m_menu = named(new QMenu(this), "PopupMenu1");
    m_menuItem = named(m_menu->addAction(QStringLiteral("Item do TreeView: ")), "Item_TreeView");

    m_panels = named(new QStackedWidget, "Paineis");
    m_receiverPanel = createReceiverPanel();
    m_communicationPanel = createCommunicationPanel();
    m_optionsPanel = createOptionsPanel();
    m_panels->addWidget(m_receiverPanel);
    m_panels->addWidget(m_communicationPanel);
    m_panels->addWidget(m_optionsPanel);

    auto *cancel = named(new QPushButton(QStringLiteral("Cancelar")), "Botao_Cancelar");
    m_apply = named(new QPushButton(QStringLiteral("Aplicar")), "Botao_Aplicar");
    m_apply->setEnabled(false);
    auto *closeSocket = named(new QPushButton(QStringLiteral("Fechar")), "Botao_Fechar");
    for (QPushButton *b : {cancel, m_apply, closeSocket})
        b->setAutoDefault(false);

    auto *top = new QHBoxLayout;
    top->addWidget(m_tree);
    top->addWidget(m_panels, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(m_apply);
    buttons->addWidget(closeSocket);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current) { TreeView1Change(current); });
    connect(m_tree, &QWidget::customContextMenuRequested, this,
            &Form_Configuracoes::TreeView1ContextMenu);
    connect(cancel, &QPushButton::clicked, this, &Form_Configuracoes::Botao_CancelarClick);
    connect(m_apply, &QPushButton::clicked, this, &Form_Configuracoes::Botao_AplicarClick);
    connect(closeSocket, &QPushButton::clicked, this, &Form_Configuracoes::Botao_FecharClick);
    connect(&m_dm, &DM1::receiverNotFound, this,
            &Form_Configuracoes::receiverNotFound);
    connect(&m_dm, &DM1::receiverRefused, this, &Form_Configuracoes::receiverRefused);
    // A value refused where it was typed is said after the field has let go of the focus.
    for (BoundedSpinBox *spin : findChildren<BoundedSpinBox *>())
        connect(spin, &BoundedSpinBox::refused, this, &Form_Configuracoes::valueRefused,
                Qt::QueuedConnection);

    bindOptions();
    showSettings();
    m_tree->setCurrentItem(m_receiverRoot);
    m_panels->setCurrentWidget(m_receiverPanel);
    applyKeyboardHabits(this);
}

Form_Configuracoes::~Form_Configuracoes() = default;

QWidget *Form_Configuracoes::createReceiverPanel() {
    auto *p = named(new QWidget, "Painel_Receiver");
    auto *l = new QVBoxLayout(p);
    auto *insert = named(new QPushButton(QStringLiteral("Incluir")), "Botao_Incluir");
    insert->setAutoDefault(false);
    connect(insert, &QPushButton::clicked, this, &Form_Configuracoes::Botao_IncluirClick);
    auto *row = new QHBoxLayout;
    row->addWidget(insert);
    row->addStretch(1);
    l->addLayout(row);
    l->addStretch(1);
    return p;
}

QWidget *Form_Configuracoes::createCommunicationPanel() {
    auto *p = named(new QWidget, "Painel_Setar_Comunicacao");
    auto *l = new QVBoxLayout(p);

    auto *recordLayout = new QGridLayout;
    recordLayout->addWidget(new QLabel(QStringLiteral("Numero: ")), 0, 0);
    m_receiverNumber = named(new QLabel, "Numero_Receiver");
    recordLayout->addWidget(m_receiverNumber, 0, 1);
    recordLayout->addWidget(new QLabel(QStringLiteral("Nome:")), 1, 0);
    m_name = newEdit("Edit_Nome_Receiver");
    m_name->setMaxLength(20);
    recordLayout->addWidget(m_name, 1, 1);
    recordLayout->addWidget(new QLabel(QStringLiteral("Modo Comunicação:")), 2, 0);
    m_mode = named(new QComboBox, "Combo_Modo_Comunicacao");
    m_mode->addItems(
        {QStringLiteral("SERIAL"), QStringLiteral("TCP/IP"), QStringLiteral("UDP/IP")});
    recordLayout->addWidget(m_mode, 2, 1);
    m_active = named(new QCheckBox(QStringLiteral("Receiver ativo")), "Check_Receiver_Ativo");
    recordLayout->addWidget(m_active, 3, 1);
    m_remove =
        named(new QPushButton(QStringLiteral("Excluir Receiver")), "Botao_Excluir_Receiver");
    m_remove->setAutoDefault(false);
    m_remove->setEnabled(false);
    recordLayout->addWidget(m_remove, 0, 2);
    auto *keys = named(new QPushButton(QStringLiteral("Chaves DC-09...")), "Botao_Chaves_DC09");
    keys->setAutoDefault(false);
    keys->setToolTip(QStringLiteral("Chaves de criptografia das contas que enviam DC-09"));
    connect(keys, &QPushButton::clicked, this, &Form_Configuracoes::Botao_Chaves_DC09Click);
    recordLayout->addWidget(keys, 1, 2);
    recordLayout->setColumnStretch(3, 1);
    l->addLayout(recordLayout);

    // Serial: the receiver's line, or the event output of a device slot.
    auto *serial = named(new QGroupBox(QStringLiteral(" Configuração Serial ")), "Grupo_Serial");
    auto *gs = new QGridLayout(serial);
    gs->addWidget(new QLabel(QStringLiteral("Porta:")), 0, 0);
    m_serial = named(new QComboBox, "Combo_Serial");
    for (int i = 0; i < 20; ++i)
        m_serial->addItem(DM1::portName(i));
    gs->addWidget(m_serial, 0, 1);
    gs->addWidget(new QLabel(QStringLiteral("Velocidade:")), 1, 0);
    m_bauds = named(new QComboBox, "Combo_Bauds");
    for (int i = 0; i < 10; ++i)
        m_bauds->addItem(QString::number(DM1::speed(i)));
    m_bauds->setCurrentIndex(3);
    gs->addWidget(withUnit(m_bauds, QStringLiteral("Bauds")), 1, 1);
    m_sendsSms = named(new QCheckBox(QStringLiteral("Envia SMS")), "CBEnviaSMS");
    gs->addWidget(m_sendsSms, 2, 1);
    auto *saida = named(new QGroupBox(QStringLiteral("Saída de Eventos")), "Grupo_Saida_Eventos");
    auto *gsa = new QFormLayout(saida);
    m_retryInterval =
        newSpin("SeTempoTentativas", QStringLiteral("Intervalo"), ConfigIni::kRetryIntervalMin,
                ConfigIni::kRetryIntervalMax, LiveSettings::kDefaultRetryInterval);
    gsa->addRow(QStringLiteral("Intervalo"), withUnit(m_retryInterval, QStringLiteral("Seg.")));
    m_attempts =
        newSpin("SeTentativasRepetidora", QStringLiteral("Tentativas"), ConfigIni::kAttemptsMin,
                ConfigIni::kAttemptsMax, LiveSettings::kDefaultRepeaterAttempts);
    gsa->addRow(QStringLiteral("Tentativas"), m_attempts);
    gs->addWidget(saida, 0, 2, 3, 1);
    gs->setColumnStretch(3, 1);

    auto *tcp = named(new QGroupBox(QStringLiteral(" Configuração TCP/IP ")), "Grupo_TCP");
    auto *gt = m_tcpForm = new QFormLayout(tcp);
    m_tcpPort = newSpin("Porta_TCP", QStringLiteral("Porta TCP"), 0, 65535, 3030);
    gt->addRow(QStringLiteral("Porta TCP:"), m_tcpPort);
    // The serial port the slot repeats its devices' frames to: none until the operator
    // names one, so that a new IP receiver never takes a serial receiver's line.
    m_output = named(new QComboBox, "Combo_Saida_Eventos");
    m_output->addItem(QStringLiteral("Desligada"));
    for (int i = 0; i < 20; ++i)
        m_output->addItem(DM1::portName(i));
    gt->addRow(QStringLiteral("Saída de Eventos:"), m_output);
    m_outputBauds = named(new QComboBox, "Combo_Bauds_Saida");
    for (int i = 0; i < 10; ++i)
        m_outputBauds->addItem(QString::number(DM1::speed(i)));
    m_outputBauds->setCurrentIndex(3);
    gt->addRow(QStringLiteral("Velocidade:"), withUnit(m_outputBauds, QStringLiteral("Bauds")));
    m_replyTime = newSpin("Spin_Tempo_Resposta", QStringLiteral("Tempo Resposta"), 0, 3600,
                          ReceiverConfig::kDefaultTime);
    gt->addRow(QStringLiteral("Tempo Resposta"),
               withUnit(m_replyTime, QStringLiteral("Segundos")));
    // A keep-alive of 0 minutes would drop every device at the next tick.
    m_keepAliveTime = newSpin("Spin_Tempo_KeepAlive", QStringLiteral("Tempo Keep-Alive"), 1, 1440,
                              ReceiverConfig::kDefaultTime);
    m_keepAliveRow = withUnit(m_keepAliveTime, QStringLiteral("Minutos"));
    gt->addRow(QStringLiteral("Tempo Keep-Alive"), m_keepAliveRow);

    auto *udp = named(new QGroupBox(QStringLiteral(" Configuração UDP/IP ")), "Grupo_UDP");
    auto *gu = m_udpForm = new QFormLayout(udp);
    m_udpPort = newSpin("PORTA_UDP", QStringLiteral("Porta UDP"), 0, 65535, 3030);
    gu->addRow(QStringLiteral("Porta UDP:"), m_udpPort);
    // DC-09 messages are not receiver frames: a UDP/IP receiver repeats nothing.
    auto *udpOutput = named(new QLabel(QStringLiteral("Desligada")), "Saida_Eventos_UDP");
    udpOutput->setToolTip(QStringLiteral("Os eventos DC-09 não são repetidos em porta serial"));
    gu->addRow(QStringLiteral("Saída de Eventos:"), udpOutput);

    m_groups = named(new QStackedWidget, "Grupos_Modo");
    m_groups->addWidget(serial);
    m_groups->addWidget(tcp);
    m_groups->addWidget(udp);
    l->addWidget(m_groups);

    m_monitorView = new PortMonitorView(m_dm.portMonitor());
    m_portMonitor = m_monitorView->text();
    m_portMonitor->viewport()->installEventFilter(this);
    l->addWidget(m_monitorView, 1);

    connect(m_remove, &QPushButton::clicked, this,
            &Form_Configuracoes::Botao_Excluir_ReceiverClick);
    connect(m_mode, &QComboBox::currentIndexChanged, this,
            &Form_Configuracoes::Combo_Modo_ComunicacaoChange);
    connect(m_name, &QLineEdit::textChanged, this, &Form_Configuracoes::enableApply);
    connect(m_serial, &QComboBox::currentIndexChanged, this, &Form_Configuracoes::enableApply);
    connect(m_bauds, &QComboBox::currentIndexChanged, this, &Form_Configuracoes::enableApply);
    connect(m_output, &QComboBox::currentIndexChanged, this, &Form_Configuracoes::enableApply);
    // One speed, BAUDS_COM, shown in the serial group and beside the event output.
    connect(m_bauds, &QComboBox::currentIndexChanged, m_outputBauds, &QComboBox::setCurrentIndex);
    connect(m_outputBauds, &QComboBox::currentIndexChanged, m_bauds, &QComboBox::setCurrentIndex);
    connect(m_tcpPort, &QSpinBox::valueChanged, this, &Form_Configuracoes::enableApply);
    connect(m_udpPort, &QSpinBox::valueChanged, this, &Form_Configuracoes::enableApply);
    connect(m_active, &QCheckBox::toggled, this, &Form_Configuracoes::enableApply);
    return p;
}

QWidget *Form_Configuracoes::createOptionsPanel() {
    auto *p = named(new QWidget, "Painel_Opcoes");
    auto *l = new QVBoxLayout(p);

    auto *clockBox =
        named(new QGroupBox(QStringLiteral(" Data dos eventos ")), "Grupo_Opcoes_relogio");
    auto *gr = new QGridLayout(clockBox);
    m_clockSource = new QButtonGroup(this);
    auto *computerButton =
        named(new QRadioButton(QStringLiteral("Buscar do computador")), "Grupo_Opcoes_relogio0");
    auto *receiver =
        named(new QRadioButton(QStringLiteral("Buscar do receiver")), "Grupo_Opcoes_relogio1");
    m_clockSource->addButton(computerButton, 0);
    m_clockSource->addButton(receiver, 1);
    gr->addWidget(computerButton, 0, 0);
    gr->addWidget(receiver, 0, 1);
    l->addWidget(clockBox);

    auto *som = new QHBoxLayout;
    som->addWidget(new QLabel(QStringLiteral("Som Rearme:")));
    m_rearmSound = newEdit("SomRearme");
    som->addWidget(m_rearmSound, 1);
    auto *choose = named(new QPushButton(QStringLiteral("...")), "Botao_SomRearme");
    choose->setAutoDefault(false);
    choose->setToolTip(QStringLiteral("Escolher o som"));
    connect(choose, &QPushButton::clicked, this, &Form_Configuracoes::Botao_SomRearmeClick);
    som->addWidget(choose);
    l->addLayout(som);

    auto *email = new QGridLayout;
    auto field = [&](int row, int column, const QString &label, const char *nome) {
        email->addWidget(new QLabel(label), row, column);
        QLineEdit *e = newEdit(nome);
        email->addWidget(e, row, column + 1);
        return e;
    };
    m_companyName = field(0, 0, QStringLiteral("Nome da Empresa:"), "NomeDaEmpresa");
    m_mailSenderName = field(1, 0, QStringLiteral("Nome: "), "NomeDeEmail");
    m_mailAddress = field(2, 0, QStringLiteral("Endereço E-Mail: "), "EnderecoEmail");
    m_carbonCopy = field(3, 0, QStringLiteral("Cópia Carbono: "), "CopiaCarbono");
    m_smtp = field(1, 2, QStringLiteral("SMTP: "), "Smtp");
    m_mailPort = field(2, 2, QStringLiteral("Porta: "), "Porta_Email");
    limitToRange(m_mailPort, QStringLiteral("Porta"), kMailPortMin, kMailPortMax);
    m_user = field(3, 2, QStringLiteral("Nome de usuário: "), "NomeUsuario");
    m_password = field(4, 2, QStringLiteral("Senha: "), "Senha");
    m_password->setEchoMode(QLineEdit::Password);
    l->addLayout(email);

    m_defaultMailClient = named(
        new QCheckBox(QStringLiteral("Usar o correio padrão (outlook, etc.)")), "ChkCorreioPadrao");
    l->addWidget(m_defaultMailClient);
    auto *body = named(new QGroupBox(QStringLiteral("Corpo do E-mail")), "Grupo_CorpoEmail");
    auto *gc = new QVBoxLayout(body);
    m_mailBody = named(new QPlainTextEdit, "Memo_CorpoEmail");
    gc->addWidget(m_mailBody);
    l->addWidget(body, 1);
    return p;
}

// Every option control writes its live setting at once; the consumers read nothing else.
void Form_Configuracoes::bindOptions() {
    LiveSettings *s = &m_settings;
    auto text = [this](QLineEdit *edit, std::function<void(const QString &)> set, bool apply) {
        connect(edit, &QLineEdit::textChanged, this, [this, set, apply](const QString &v) {
            set(v);
            if (apply) enableApply();
        });
    };
    text(
        m_rearmSound, [s](const QString &v) { s->setRearmSound(v); }, false);
    text(
        m_companyName, [s](const QString &v) { s->setCompanyName(v); }, true);
    text(
        m_mailSenderName, [s](const QString &v) { s->setMailSenderName(v); }, true);
    text(
        m_user, [s](const QString &v) { s->setUser(v); }, true);
    text(
        m_password, [s](const QString &v) { s->setPassword(v); }, true);
    text(
        m_mailAddress, [s](const QString &v) { s->setMailAddress(v); }, true);
    text(
        m_carbonCopy, [s](const QString &v) { s->setCarbonCopy(v); }, true);
    text(
        m_smtp, [s](const QString &v) { s->setSmtp(v); }, true);
    text(
        m_mailPort, [s](const QString &v) { s->setMailPort(v); }, true);
    connect(m_mailBody, &QPlainTextEdit::textChanged, this, [this] {
        m_settings.setMailBody(m_mailBody->toPlainText());
        enableApply();
    });
    connect(m_defaultMailClient, &QCheckBox::toggled, this, [s](bool v) { s->setDefaultMailClient(v); });
    connect(m_clockSource, &QButtonGroup::idToggled, this, [s](int id, bool marcado) {
        if (marcado) s->setEventTimeSource(LiveSettings::EventTimeSource(id));
    });
    connect(m_retryInterval, &QSpinBox::valueChanged, this,
            [s](int v) { s->setRetryInterval(v); });
    connect(m_attempts, &QSpinBox::valueChanged, this,
            [s](int v) { s->setRepeaterAttempts(v); });
}

void Form_Configuracoes::showSettings() {
    const bool before = m_loading;
    m_loading = true;
    const LiveSettings &s = m_settings;
    // Copies: setting a control writes its setting back while the next one is read.
    const QString som = s.rearmSound(), company = s.companyName(), mailSenderName = s.mailSenderName(),
                  usuario = s.usuario(), senha = s.senha(), address = s.mailAddress(),
                  copy = s.carbonCopy(), smtp = s.smtp(), port = s.mailPort(),
                  body = s.mailBody();
    const bool mail = s.defaultMailClient();
    const int retryTime = s.retryInterval(), attempts = s.repeaterAttempts();
    const int clockBox = int(s.eventTimeSource());
    m_rearmSound->setText(som);
    m_companyName->setText(company);
    m_mailSenderName->setText(mailSenderName);
    m_user->setText(usuario);
    m_password->setText(senha);
    m_mailAddress->setText(address);
    m_carbonCopy->setText(copy);
    m_smtp->setText(smtp);
    m_mailPort->setText(port);
    if (m_mailBody->toPlainText() != body) m_mailBody->setPlainText(body);
    m_defaultMailClient->setChecked(mail);
    m_retryInterval->setValue(retryTime);
    m_attempts->setValue(attempts);
    m_clockSource->button(clockBox)->setChecked(true);
    // The spin boxes hold a value of their range; so does the console.
    m_settings.setRetryInterval(m_retryInterval->value());
    m_settings.setRepeaterAttempts(m_attempts->value());
    m_loading = before;
}

void Form_Configuracoes::enableApply() {
    if (!m_loading) m_apply->setEnabled(true);
}

QIcon Form_Configuracoes::modeIcon(int modo) const {
    return m_icons[std::clamp(modo, 0, 2)];
}

void Form_Configuracoes::showMode(QTreeWidgetItem *item, int modo) {
    if (!item) return;
    item->setData(0, kModeRole, modo);
    item->setIcon(0, modeIcon(modo));
}

bool Form_Configuracoes::isReceiver(const QTreeWidgetItem *item) const {
    return item && item->parent() == m_receiverRoot;
}

int Form_Configuracoes::position(const QTreeWidgetItem *item) const {
    return m_receiverRoot->indexOfChild(const_cast<QTreeWidgetItem *>(item)) + 1;
}

void Form_Configuracoes::fillTree() {
    const auto rows = m_table.all();
    if (!rows || rows->isEmpty()) return;
    const bool before = m_loading;
    m_loading = true;
    m_tree->setCurrentItem(m_receiverRoot);
    qDeleteAll(m_receiverRoot->takeChildren());
    for (const ReceiverConfig &r : *rows) {
        if (m_receiverRoot->childCount() >= ReceiverTable::kMaxReceivers) break;
        auto *item = new QTreeWidgetItem(m_receiverRoot, {r.nome});
        showMode(item, r.modo);
    }
    m_receiverRoot->setExpanded(true);
    m_loading = before;
    updateMonitorReceivers();
}

void Form_Configuracoes::updateMonitorReceivers() {
    QList<QPair<int, QString>> receivers;
    for (int i = 0; i < m_receiverRoot->childCount(); ++i)
        receivers.append({i + 1, m_receiverRoot->child(i)->text(0)});
    m_monitorView->setReceivers(receivers);
}

void Form_Configuracoes::prepareOpen() {
    fillTree();
    showSettings();
    m_tree->setCurrentItem(m_receiverRoot);
    m_panels->setCurrentWidget(m_receiverPanel);
}

int Form_Configuracoes::openDialog() {
    prepareOpen();
    // The port monitor shows this workstation's ports: where another one receives, it says so.
    const QString elsewhere = m_reception.receivingElsewhere();
    m_portMonitor->setPlaceholderText(
        elsewhere.isEmpty() ? QString() : ReceptionControl::onlyWhereReceived(elsewhere));
    return exec();
}

void Form_Configuracoes::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    showSettings();
    m_apply->setEnabled(true);
}

void Form_Configuracoes::TreeView1Change(QTreeWidgetItem *item) {
    if (!item) return;
    if (item == m_receiverRoot) {
        m_panels->setCurrentWidget(m_receiverPanel);
    } else if (item == m_optionsRoot) {
        m_panels->setCurrentWidget(m_optionsPanel);
    } else if (isReceiver(item)) {
        m_panels->setCurrentWidget(m_communicationPanel);
        m_menuItem->setText(QStringLiteral("Item do TreeView: ") + item->text(0));
        showRecord(item);
        m_remove->setEnabled(true);
    }
}

void Form_Configuracoes::showRecord(QTreeWidgetItem *item) {
    const bool before = m_loading;
    m_loading = true;
    const std::optional<ReceiverConfig> r = m_table.readByName(item->text(0), position(item));
    // Without its row the panel shows no number, so nothing applied can reach another row.
    const ReceiverConfig reg = r.value_or(ReceiverConfig{});
    m_number = r ? reg.receiver : 0;
    m_receiverNumber->setText(r ? QString::number(reg.receiver) : QString());
    m_name->setText(r ? reg.nome : item->text(0));
    auto connectionIndex = [](QComboBox *c, int v) { c->setCurrentIndex(std::clamp(v, 0, c->count() - 1)); };
    connectionIndex(m_mode, reg.modo);
    m_active->setChecked(reg.ativo);
    m_sendsSms->setChecked(reg.sendsSms);
    connectionIndex(m_serial, reg.portaCom);
    // An IP receiver's PORTA_COM is its event output; a serial one has none.
    connectionIndex(m_output, reg.modo == DM1::TcpIp && reg.portaCom >= 0 ? reg.portaCom + 1 : 0);
    connectionIndex(m_bauds, reg.baudsCom);
    m_tcpPort->setValue(reg.portaTcp);
    m_udpPort->setValue(reg.portaUdp);
    m_replyTime->setValue(reg.tempoResposta);
    m_keepAliveTime->setValue(reg.tempoKeepAlive);
    m_groups->setCurrentIndex(m_mode->currentIndex());
    placeKeepAlive(m_mode->currentIndex());
    showMode(item, m_mode->currentIndex());
    m_loading = before;
}

void Form_Configuracoes::Combo_Modo_ComunicacaoChange(int modo) {
    if (modo < 0) return;
    m_groups->setCurrentIndex(modo);
    placeKeepAlive(modo);
    enableApply();
}

void Form_Configuracoes::placeKeepAlive(int modo) {
    QFormLayout *to = modo == DM1::UdpIp ? m_udpForm : m_tcpForm;
    QFormLayout *from = to == m_udpForm ? m_tcpForm : m_udpForm;
    int row = -1;
    QFormLayout::ItemRole role;
    from->getWidgetPosition(m_keepAliveRow, &row, &role);
    if (row < 0) return; // already there
    const QFormLayout::TakeRowResult taken = from->takeRow(row);
    QWidget *label = taken.labelItem ? taken.labelItem->widget() : nullptr;
    delete taken.labelItem; // the layout items only: the widgets move
    delete taken.fieldItem;
    to->addRow(label, m_keepAliveRow);
}

void Form_Configuracoes::Botao_Chaves_DC09Click() {
    auto *dialog = new Dc09KeysDialog(m_keys, m_common.prompt, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
}

void Form_Configuracoes::TreeView1ContextMenu(const QPoint &pos) {
    QTreeWidgetItem *item = m_tree->itemAt(pos);
    if (!item) return;
    m_tree->setCurrentItem(item);
    m_menuItem->setText(QStringLiteral("Item do TreeView: ") + item->text(0));
    m_menu->popup(m_tree->viewport()->mapToGlobal(pos));
}

void Form_Configuracoes::Botao_IncluirClick() {
    Prompt *prompt = m_common.prompt;
    if (m_receiverRoot->childCount() >= ReceiverTable::kMaxReceivers) {
        if (prompt) prompt->message(QStringLiteral("Número de Receiver Excedido!"));
        return;
    }
    const int n = m_receiverRoot->childCount() + 1;
    const QString nome = QStringLiteral("Receiver %1").arg(n);
    const bool before = m_loading;
    m_loading = true;
    m_name->setText(nome);
    m_active->setChecked(false);
    m_loading = before;
    if (!m_table.insert(n, nome)) {
        if (prompt)
            prompt->message(QStringLiteral("Houve um erro ao incluir o Receiver!"),
                            QStringLiteral("ERRO"), Prompt::Icon::Error);
        return;
    }
    showMode(new QTreeWidgetItem(m_receiverRoot, {nome}), DM1::Serial);
    m_receiverRoot->setExpanded(true);
    updateMonitorReceivers();
}

void Form_Configuracoes::Botao_Excluir_ReceiverClick() {
    QTreeWidgetItem *item = m_tree->currentItem();
    if (!isReceiver(item)) return;
    Prompt *prompt = m_common.prompt;
    if (!prompt || !prompt->question(QStringLiteral("Deseja realmente excluir o Receiver?"),
                                     QStringLiteral("Excluir Receiver"), Prompt::Icon::Question))
        return;
    // The row goes first: a node removed while its row stays would hide a receiver that
    // still opens its port.
    if (!m_table.remove(m_number)) {
        prompt->message(QStringLiteral("Houve um erro ao excluir o Receiver!"),
                        QStringLiteral("ERRO"), Prompt::Icon::Error);
        return;
    }
    {
        const bool before = m_loading;
        m_loading = true;
        const QSignalBlocker lock(m_tree);
        delete item;
        m_loading = before;
    }
    m_table.renumber();
    updateMonitorReceivers();
    m_reception.applyReceivers();
    m_apply->setEnabled(false);
    m_remove->setEnabled(false);
    TreeView1Change(m_tree->currentItem());
}

void Form_Configuracoes::Botao_AplicarClick() {
    Prompt *prompt = m_common.prompt;
    QTreeWidgetItem *item = m_tree->currentItem();
    const ConfigIni config(ConfigIni::pathIn(m_dataDir));
    bool recorded = true;
    m_refusedByApply = false;
    m_refusals.clear();
    m_applying = true;
    if (isReceiver(item)) {
        ReceiverConfig r;
        r.receiver = position(item);
        r.nome = m_name->text();
        r.modo = m_mode->currentIndex();
        r.ativo = m_active->isChecked();
        r.sendsSms = m_sendsSms->isChecked();
        r.portaCom = r.modo == DM1::Serial  ? m_serial->currentIndex()
                     : r.modo == DM1::TcpIp ? m_output->currentIndex() - 1
                                            : ReceiverConfig::kNoOutput;
        r.baudsCom = m_bauds->currentIndex();
        r.portaTcp = m_tcpPort->value();
        r.portaUdp = m_udpPort->value();
        r.tempoResposta = m_replyTime->value();
        r.tempoKeepAlive = m_keepAliveTime->value();
        if (const QString conflict = portConflict(r); !conflict.isEmpty()) {
            // Nothing is written: the other receiver keeps its port, and this record its edits.
            recorded = false;
            if (prompt)
                prompt->message(conflict, QStringLiteral("Configurações"), Prompt::Icon::Warning);
        } else if (m_number > 0 && m_table.apply(r, m_number)) {
            m_number = r.receiver;
            m_receiverNumber->setText(QString::number(r.receiver));
            item->setText(0, r.nome);
            showMode(item, r.modo);
            m_menuItem->setText(QStringLiteral("Item do TreeView: ") + r.nome);
            updateMonitorReceivers();
            m_reception.applyReceivers();
        } else {
            recorded = false;
            if (prompt)
                prompt->message(QStringLiteral("Houve um erro ao gravar o Receiver!"),
                                QStringLiteral("ERRO"), Prompt::Icon::Error);
        }
    } else if (item == m_optionsRoot &&
               !holdsNumberInRange(m_mailPort, kMailPortMin, kMailPortMax)) {
        // Config.ini keeps only a port the mail can use; the edits stay for correction.
        recorded = false;
        if (prompt)
            prompt->message(
                QStringLiteral("O valor \"%1\" não é uma porta válida.\n").arg(m_mailPort->text()) +
                    rangeText(QStringLiteral("Porta"), kMailPortMin, kMailPortMax),
                QStringLiteral("ATENÇÃO"), Prompt::Icon::Warning);
    } else if (item == m_optionsRoot) {
        const QString before = audit::iniSnapshot(config.path());
        recorded = config.saveOptions(m_settings);
        if (recorded) {
            const auto [antes, depois] =
                audit::difference(before, audit::iniSnapshot(config.path()));
            if (!antes.isEmpty() || !depois.isEmpty())
                audit::writeAlone(m_common.database.primary(),
                                  {QString::fromUtf8(audit::kSettings),
                                   QStringLiteral("Opções do Config.ini"), QString(), antes, depois});
        }
        showSettings();
        if (!recorded && prompt)
            prompt->message(QStringLiteral("Houve um erro ao gravar as configurações em \"%1\"!")
                                .arg(QDir::toNativeSeparators(config.path())),
                            QStringLiteral("ERRO"), Prompt::Icon::Error);
    }
    // With the root "Receiver" in front no record is shown, so none is written.
    // The repeater pair always; a failure here is not the operator's concern.
    config.saveRepeater(m_settings);
    m_applying = false;
    // Said once the receivers are all applied, not in the middle of it.
    if (prompt)
        for (const QString &text : std::exchange(m_refusals, {}))
            prompt->message(text, QStringLiteral("Receiver não ativado"), Prompt::Icon::Warning);
    // What could not be written, or a receiver refused while applying (a TCP port missing or
    // in use), can be applied again.
    m_apply->setEnabled(!recorded || m_refusedByApply);
}

QString Form_Configuracoes::portConflict(const ReceiverConfig &r) const {
    const std::optional<QList<ReceiverConfig>> stored = m_table.all();
    if (!stored) return QString();
    // The table as applying would read it once this record is written.
    QList<ReceiverConfig> rows = *stored;
    bool found = false;
    for (ReceiverConfig &row : rows) {
        if (row.receiver != m_number) continue;
        row = r;
        found = true;
    }
    if (!found) return QString();
    std::stable_sort(
        rows.begin(), rows.end(),
        [](const ReceiverConfig &a, const ReceiverConfig &b) { return a.receiver < b.receiver; });
    rows = rows.mid(0, ReceiverTable::kMaxReceivers);
    int edited = -1;
    for (int i = 0; i < rows.size(); ++i)
        if (rows[i].receiver == r.receiver) edited = i;
    const QString ini = ConfigIni::pathIn(m_dataDir);
    const QList<ReceiverPorts::Conflict> conflicts = ReceiverPorts::conflicts(
        rows, [&](int portaCom) { return serialDeviceFor(DM1::portName(portaCom), ini); });
    for (const ReceiverPorts::Conflict &c : conflicts)
        if (c.holder == edited || c.claimant == edited)
            return ReceiverPorts::refusalText(rows, c, edited);
    return QString();
}

void Form_Configuracoes::Botao_CancelarClick() {
    if (m_tree->currentItem() != m_optionsRoot) return;
    ConfigIni(ConfigIni::pathIn(m_dataDir)).readCompanyOnCancel(m_settings);
    showSettings();
}

void Form_Configuracoes::Botao_FecharClick() {
    accept();
}

void Form_Configuracoes::Botao_SomRearmeClick() {
    if (!m_chooser) return;
    const QString fileName = m_chooser->openFile(
        QStringLiteral("Som Rearme"), Paths::resolveStoredPath(QStringLiteral("C:\\Tulmo\\Sons")),
        QStringLiteral("Arquivos de som(*.wav)"));
    if (fileName.isEmpty()) return;
    m_rearmSound->setText(fileName);
    if (SoundOutput *som = m_sound) som->playOnce(fileName);
}

void Form_Configuracoes::Porta_VisorDblClick() {
    if (const QString elsewhere = m_reception.receivingElsewhere(); !elsewhere.isEmpty()) {
        if (Prompt *prompt = m_common.prompt)
            prompt->message(ReceptionControl::onlyWhereReceived(elsewhere),
                            QStringLiteral("Tulmo"), Prompt::Icon::Information);
        return;
    }
    m_dm.portMonitor().clear();
}

void Form_Configuracoes::receiverNotFound(int slot) {
    m_apply->setEnabled(true);
    m_refusedByApply = true;
    // Only the receiver of that slot loses its mark: the panel may show another one.
    if (m_panels->currentWidget() == m_communicationPanel && m_number == slot) m_active->setChecked(false);
}

// The operator learns which receiver did not open and why, in a message of its own: a line in
// the port monitor and a cleared mark were too easy to miss.
void Form_Configuracoes::receiverRefused(int slot, const QString &why) {
    const QTreeWidgetItem *node = slot >= 1 && slot <= m_receiverRoot->childCount()
                                      ? m_receiverRoot->child(slot - 1)
                                      : nullptr;
    QString reason = why;
    const QString prefix = QStringLiteral("Receiver %1: ").arg(slot);
    if (reason.startsWith(prefix)) reason = reason.mid(prefix.size());
    const QString text =
        node ? QStringLiteral("O Receiver \"%1\" (número %2) não foi ativado: %3.")
                   .arg(node->text(0))
                   .arg(slot)
                   .arg(reason)
             : QStringLiteral("O Receiver número %1 não foi ativado: %2.").arg(slot).arg(reason);
    if (m_applying) {
        m_refusals.append(text);
    } else if (Prompt *prompt = m_common.prompt) {
        prompt->alert(text, QStringLiteral("Receiver não ativado"), Prompt::Icon::Warning);
    }
}

void Form_Configuracoes::valueRefused(const QString &, const QString &reason) {
    if (Prompt *prompt = m_common.prompt)
        prompt->message(reason, QStringLiteral("Valor inválido"), Prompt::Icon::Warning);
}

bool Form_Configuracoes::eventFilter(QObject *o, QEvent *e) {
    if (e->type() == QEvent::MouseButtonDblClick && o == m_portMonitor->viewport()) {
        Porta_VisorDblClick();
        return true;
    }
    return QDialog::eventFilter(o, e);
}

} // namespace tulmo
