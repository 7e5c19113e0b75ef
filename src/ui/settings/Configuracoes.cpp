#include "Configuracoes.h"

#include "common/FileChooser.h"
#include "common/Paths.h"
#include "common/Prompt.h"
#include "common/Sound.h"
#include "console/ConsoleCore.h"
#include "settings/ConfigIni.h"
#include "settings/LiveSettings.h"

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

#include <functional>

namespace tulmo {

namespace {

const int kModoRole = Qt::UserRole + 1;

// The port monitor's colours: the classic scheme's active caption.
const QColor kCorLegendaAtiva(0x0A, 0x24, 0x6A);

// The desktop's file-open dialog.
class FileDialogChooser : public FileChooser {
public:
    explicit FileDialogChooser(QWidget *parent)
        : m_parent(parent) {}
    QString abrirArquivo(const QString &caption, const QString &pasta,
                         const QString &filter) override {
        return QFileDialog::getOpenFileName(m_parent, caption, pasta, filter);
    }

private:
    QWidget *m_parent;
};

template <typename W> W *nomeado(W *w, const char *nome) {
    w->setObjectName(QLatin1String(nome));
    return w;
}

QLineEdit *novoEdit(const char *nome) {
    return nomeado(new QLineEdit, nome);
}

QSpinBox *novoSpin(const char *nome, int min, int max, int valor) {
    auto *s = nomeado(new QSpinBox, nome);
    s->setRange(min, max);
    s->setValue(valor);
    return s;
}

// A spin box with its unit written after it ("Seg.", "Segundos", "Minutos").
QWidget *comUnidade(QWidget *campo, const QString &unidade) {
    auto *w = new QWidget;
    auto *l = new QHBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(campo);
    l->addWidget(new QLabel(unidade));
    l->addStretch(1);
    return w;
}

} // namespace

Form_Configuracoes::Form_Configuracoes(ConsoleCore &core, QWidget *parent)
    : QDialog(parent)
    , m_core(core)
    , m_settings(core.settings())
    , m_tabela(core.dm().banco().principal())
    , m_chooserPadrao(std::make_unique<FileDialogChooser>(this)) {
    setObjectName(QStringLiteral("Form_Configuracoes"));
    setWindowTitle(QStringLiteral("Configurações"));
    setModal(true);
    m_chooser = m_chooserPadrao.get();
    m_icones[DM1::Serial] = style()->standardIcon(QStyle::SP_DriveHDIcon);
    m_icones[DM1::TcpIp] = style()->standardIcon(QStyle::SP_DriveNetIcon);
    m_icones[DM1::UdpIp] = style()->standardIcon(QStyle::SP_BrowserReload);

    m_tree = nomeado(new QTreeWidget, "TreeView1");
    m_tree->setHeaderHidden(true);
    m_tree->setFixedWidth(170);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_raizReceiver = new QTreeWidgetItem(m_tree, {QStringLiteral("Receiver")});
    m_raizReceiver->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    m_raizOpcoes = new QTreeWidgetItem(m_tree, {QStringLiteral("Opções")});
    m_raizOpcoes->setIcon(0, style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    m_raizReceiver->setExpanded(true);
    m_menu = nomeado(new QMenu(this), "PopupMenu1");
    m_itemMenu = nomeado(m_menu->addAction(QStringLiteral("Item do TreeView: ")), "Item_TreeView");

    m_paineis = nomeado(new QStackedWidget, "Paineis");
    m_painelReceiver = criarPainelReceiver();
    m_painelSetar = criarPainelSetarComunicacao();
    m_painelOpcoes = criarPainelOpcoes();
    m_paineis->addWidget(m_painelReceiver);
    m_paineis->addWidget(m_painelSetar);
    m_paineis->addWidget(m_painelOpcoes);

    auto *cancelar = nomeado(new QPushButton(QStringLiteral("Cancelar")), "Botao_Cancelar");
    m_aplicar = nomeado(new QPushButton(QStringLiteral("Aplicar")), "Botao_Aplicar");
    m_aplicar->setEnabled(false);
    auto *fechar = nomeado(new QPushButton(QStringLiteral("Fechar")), "Botao_Fechar");
    for (QPushButton *b : {cancelar, m_aplicar, fechar})
        b->setAutoDefault(false);

    auto *topo = new QHBoxLayout;
    topo->addWidget(m_tree);
    topo->addWidget(m_paineis, 1);
    auto *botoes = new QHBoxLayout;
    botoes->addStretch(1);
    botoes->addWidget(cancelar);
    botoes->addWidget(m_aplicar);
    botoes->addWidget(fechar);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(topo, 1);
    layout->addLayout(botoes);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *atual) { TreeView1Change(atual); });
    connect(m_tree, &QWidget::customContextMenuRequested, this,
            &Form_Configuracoes::TreeView1ContextMenu);
    connect(cancelar, &QPushButton::clicked, this, &Form_Configuracoes::Botao_CancelarClick);
    connect(m_aplicar, &QPushButton::clicked, this, &Form_Configuracoes::Botao_AplicarClick);
    connect(fechar, &QPushButton::clicked, this, &Form_Configuracoes::Botao_FecharClick);
    connect(&m_core.dm(), &DM1::receptoraNaoEncontrada, this,
            &Form_Configuracoes::receptoraNaoEncontrada);

    ligarOpcoes();
    mostrarSettings();
    m_tree->setCurrentItem(m_raizReceiver);
    m_paineis->setCurrentWidget(m_painelReceiver);
}

Form_Configuracoes::~Form_Configuracoes() = default;

QWidget *Form_Configuracoes::criarPainelReceiver() {
    auto *p = nomeado(new QWidget, "Painel_Receiver");
    auto *l = new QVBoxLayout(p);
    auto *incluir = nomeado(new QPushButton(QStringLiteral("Incluir")), "Botao_Incluir");
    incluir->setAutoDefault(false);
    connect(incluir, &QPushButton::clicked, this, &Form_Configuracoes::Botao_IncluirClick);
    auto *linha = new QHBoxLayout;
    linha->addWidget(incluir);
    linha->addStretch(1);
    l->addLayout(linha);
    l->addStretch(1);
    return p;
}

QWidget *Form_Configuracoes::criarPainelSetarComunicacao() {
    auto *p = nomeado(new QWidget, "Painel_Setar_Comunicacao");
    auto *l = new QVBoxLayout(p);

    auto *registro = new QGridLayout;
    registro->addWidget(new QLabel(QStringLiteral("Numero: ")), 0, 0);
    m_numeroReceiver = nomeado(new QLabel, "Numero_Receiver");
    registro->addWidget(m_numeroReceiver, 0, 1);
    registro->addWidget(new QLabel(QStringLiteral("Nome:")), 1, 0);
    m_nome = novoEdit("Edit_Nome_Receiver");
    m_nome->setMaxLength(20);
    registro->addWidget(m_nome, 1, 1);
    registro->addWidget(new QLabel(QStringLiteral("Modo Comunicação:")), 2, 0);
    m_modo = nomeado(new QComboBox, "Combo_Modo_Comunicacao");
    m_modo->addItems(
        {QStringLiteral("SERIAL"), QStringLiteral("TCP/IP"), QStringLiteral("UDP/IP")});
    registro->addWidget(m_modo, 2, 1);
    m_ativo = nomeado(new QCheckBox(QStringLiteral("Receiver ativo")), "Check_Receiver_Ativo");
    registro->addWidget(m_ativo, 3, 1);
    m_excluir =
        nomeado(new QPushButton(QStringLiteral("Excluir Receiver")), "Botao_Excluir_Receiver");
    m_excluir->setAutoDefault(false);
    m_excluir->setEnabled(false);
    registro->addWidget(m_excluir, 0, 2);
    registro->setColumnStretch(3, 1);
    l->addLayout(registro);

    // Serial: the receiver's line, or the event output of a device slot.
    auto *serial = nomeado(new QGroupBox(QStringLiteral(" Configuração Serial ")), "Grupo_Serial");
    auto *gs = new QGridLayout(serial);
    gs->addWidget(new QLabel(QStringLiteral("Porta:")), 0, 0);
    m_serial = nomeado(new QComboBox, "Combo_Serial");
    for (int i = 0; i < 20; ++i)
        m_serial->addItem(DM1::nomePorta(i));
    gs->addWidget(m_serial, 0, 1);
    gs->addWidget(new QLabel(QStringLiteral("Velocidade:")), 1, 0);
    m_bauds = nomeado(new QComboBox, "Combo_Bauds");
    for (int i = 0; i < 10; ++i)
        m_bauds->addItem(QString::number(DM1::velocidade(i)));
    m_bauds->setCurrentIndex(3);
    gs->addWidget(comUnidade(m_bauds, QStringLiteral("Bauds")), 1, 1);
    m_enviaSms = nomeado(new QCheckBox(QStringLiteral("Envia SMS")), "CBEnviaSMS");
    gs->addWidget(m_enviaSms, 2, 1);
    auto *saida = nomeado(new QGroupBox(QStringLiteral("Saída de Eventos")), "Grupo_Saida_Eventos");
    auto *gsa = new QFormLayout(saida);
    m_tempoTentativas =
        novoSpin("SeTempoTentativas", ConfigIni::kTempoTentativasMin,
                 ConfigIni::kTempoTentativasMax, LiveSettings::kTempoTentativasPadrao);
    gsa->addRow(QStringLiteral("Intervalo"), comUnidade(m_tempoTentativas, QStringLiteral("Seg.")));
    m_tentativas = novoSpin("SeTentativasRepetidora", ConfigIni::kTentativasMin,
                            ConfigIni::kTentativasMax, LiveSettings::kTentativasRepetidoraPadrao);
    gsa->addRow(QStringLiteral("Tentativas"), m_tentativas);
    gs->addWidget(saida, 0, 2, 3, 1);
    gs->setColumnStretch(3, 1);

    auto *tcp = nomeado(new QGroupBox(QStringLiteral(" Configuração TCP/IP ")), "Grupo_TCP");
    auto *gt = new QFormLayout(tcp);
    m_portaTcp = novoSpin("Porta_TCP", 0, 65535, 3030);
    gt->addRow(QStringLiteral("Porta TCP:"), m_portaTcp);
    m_tempoResposta = novoSpin("Spin_Tempo_Resposta", 0, 3600, ReceiverRecord::kTempoPadrao);
    gt->addRow(QStringLiteral("Tempo Resposta"),
               comUnidade(m_tempoResposta, QStringLiteral("Segundos")));
    // A keep-alive of 0 minutes would drop every device at the next tick.
    m_tempoKeepAlive = novoSpin("Spin_Tempo_KeepAlive", 1, 1440, ReceiverRecord::kTempoPadrao);
    gt->addRow(QStringLiteral("Tempo Keep-Alive"),
               comUnidade(m_tempoKeepAlive, QStringLiteral("Minutos")));

    auto *udp = nomeado(new QGroupBox(QStringLiteral(" Configuração UDP/IP ")), "Grupo_UDP");
    auto *gu = new QFormLayout(udp);
    m_portaUdp = novoSpin("PORTA_UDP", 0, 65535, 3030);
    gu->addRow(QStringLiteral("Porta UDP:"), m_portaUdp);

    m_grupos = nomeado(new QStackedWidget, "Grupos_Modo");
    m_grupos->addWidget(serial);
    m_grupos->addWidget(tcp);
    m_grupos->addWidget(udp);
    l->addWidget(m_grupos);

    m_portaVisor = nomeado(new QPlainTextEdit, "Porta_Visor");
    m_portaVisor->setReadOnly(true);
    m_portaVisor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_portaVisor->setMinimumSize(520, 160);
    QPalette pal = m_portaVisor->palette();
    pal.setColor(QPalette::Base, kCorLegendaAtiva);
    pal.setColor(QPalette::Text, Qt::white);
    m_portaVisor->setPalette(pal);
    LineLog &visor = m_core.dm().portaVisor();
    m_portaVisor->setMaximumBlockCount(visor.maxLines());
    m_portaVisor->setPlainText(visor.lines().join(QLatin1Char('\n')));
    connect(&visor, &LineLog::lineAdded, m_portaVisor, &QPlainTextEdit::appendPlainText);
    connect(&visor, &LineLog::cleared, m_portaVisor, &QPlainTextEdit::clear);
    m_portaVisor->viewport()->installEventFilter(this);
    l->addWidget(m_portaVisor, 1);

    connect(m_excluir, &QPushButton::clicked, this,
            &Form_Configuracoes::Botao_Excluir_ReceiverClick);
    connect(m_modo, &QComboBox::currentIndexChanged, this,
            &Form_Configuracoes::Combo_Modo_ComunicacaoChange);
    connect(m_nome, &QLineEdit::textChanged, this, &Form_Configuracoes::habilitarAplicar);
    connect(m_serial, &QComboBox::currentIndexChanged, this, &Form_Configuracoes::habilitarAplicar);
    connect(m_bauds, &QComboBox::currentIndexChanged, this, &Form_Configuracoes::habilitarAplicar);
    connect(m_portaTcp, &QSpinBox::valueChanged, this, &Form_Configuracoes::habilitarAplicar);
    connect(m_portaUdp, &QSpinBox::valueChanged, this, &Form_Configuracoes::habilitarAplicar);
    connect(m_ativo, &QCheckBox::toggled, this, &Form_Configuracoes::habilitarAplicar);
    return p;
}

QWidget *Form_Configuracoes::criarPainelOpcoes() {
    auto *p = nomeado(new QWidget, "Painel_Opcoes");
    auto *l = new QVBoxLayout(p);

    auto *relogio =
        nomeado(new QGroupBox(QStringLiteral(" Data dos eventos ")), "Grupo_Opcoes_relogio");
    auto *gr = new QGridLayout(relogio);
    m_relogio = new QButtonGroup(this);
    auto *computador =
        nomeado(new QRadioButton(QStringLiteral("Buscar do computador")), "Grupo_Opcoes_relogio0");
    auto *receiver =
        nomeado(new QRadioButton(QStringLiteral("Buscar do receiver")), "Grupo_Opcoes_relogio1");
    m_relogio->addButton(computador, 0);
    m_relogio->addButton(receiver, 1);
    gr->addWidget(computador, 0, 0);
    gr->addWidget(receiver, 0, 1);
    l->addWidget(relogio);

    auto *som = new QHBoxLayout;
    som->addWidget(new QLabel(QStringLiteral("Som Rearme:")));
    m_somRearme = novoEdit("SomRearme");
    som->addWidget(m_somRearme, 1);
    auto *escolher = nomeado(new QPushButton(QStringLiteral("...")), "Botao_SomRearme");
    escolher->setAutoDefault(false);
    escolher->setToolTip(QStringLiteral("Escolher o som"));
    connect(escolher, &QPushButton::clicked, this, &Form_Configuracoes::Botao_SomRearmeClick);
    som->addWidget(escolher);
    l->addLayout(som);

    auto *email = new QGridLayout;
    auto campo = [&](int linha, int coluna, const QString &rotulo, const char *nome) {
        email->addWidget(new QLabel(rotulo), linha, coluna);
        QLineEdit *e = novoEdit(nome);
        email->addWidget(e, linha, coluna + 1);
        return e;
    };
    m_nomeEmpresa = campo(0, 0, QStringLiteral("Nome da Empresa:"), "NomeDaEmpresa");
    m_nomeEmail = campo(1, 0, QStringLiteral("Nome: "), "NomeDeEmail");
    m_enderecoEmail = campo(2, 0, QStringLiteral("Endereço E-Mail: "), "EnderecoEmail");
    m_copiaCarbono = campo(3, 0, QStringLiteral("Cópia Carbono: "), "CopiaCarbono");
    m_smtp = campo(1, 2, QStringLiteral("SMTP: "), "Smtp");
    m_portaEmail = campo(2, 2, QStringLiteral("Porta: "), "Porta_Email");
    m_usuario = campo(3, 2, QStringLiteral("Nome de usuário: "), "NomeUsuario");
    m_senha = campo(4, 2, QStringLiteral("Senha: "), "Senha");
    m_senha->setEchoMode(QLineEdit::Password);
    l->addLayout(email);

    m_correioPadrao = nomeado(
        new QCheckBox(QStringLiteral("Usar o correio padrão (outlook, etc.)")), "ChkCorreioPadrao");
    l->addWidget(m_correioPadrao);
    auto *corpo = nomeado(new QGroupBox(QStringLiteral("Corpo do E-mail")), "Grupo_CorpoEmail");
    auto *gc = new QVBoxLayout(corpo);
    m_corpoEmail = nomeado(new QPlainTextEdit, "Memo_CorpoEmail");
    gc->addWidget(m_corpoEmail);
    l->addWidget(corpo, 1);
    return p;
}

// Every option control writes its live setting at once; the consumers read nothing else.
void Form_Configuracoes::ligarOpcoes() {
    LiveSettings *s = &m_settings;
    auto texto = [this](QLineEdit *edit, std::function<void(const QString &)> set, bool aplicar) {
        connect(edit, &QLineEdit::textChanged, this, [this, set, aplicar](const QString &v) {
            set(v);
            if (aplicar) habilitarAplicar();
        });
    };
    texto(
        m_somRearme, [s](const QString &v) { s->setSomRearme(v); }, false);
    texto(
        m_nomeEmpresa, [s](const QString &v) { s->setNomeEmpresa(v); }, true);
    texto(
        m_nomeEmail, [s](const QString &v) { s->setNomeEmail(v); }, true);
    texto(
        m_usuario, [s](const QString &v) { s->setUsuario(v); }, true);
    texto(
        m_senha, [s](const QString &v) { s->setSenha(v); }, true);
    texto(
        m_enderecoEmail, [s](const QString &v) { s->setEnderecoEmail(v); }, true);
    texto(
        m_copiaCarbono, [s](const QString &v) { s->setCopiaCarbono(v); }, true);
    texto(
        m_smtp, [s](const QString &v) { s->setSmtp(v); }, true);
    texto(
        m_portaEmail, [s](const QString &v) { s->setPortaEmail(v); }, true);
    connect(m_corpoEmail, &QPlainTextEdit::textChanged, this, [this] {
        m_settings.setCorpoEmail(m_corpoEmail->toPlainText());
        habilitarAplicar();
    });
    connect(m_correioPadrao, &QCheckBox::toggled, this, [s](bool v) { s->setCorreioPadrao(v); });
    connect(m_relogio, &QButtonGroup::idToggled, this, [s](int id, bool marcado) {
        if (marcado) s->setDataEventos(LiveSettings::DataEventos(id));
    });
    connect(m_tempoTentativas, &QSpinBox::valueChanged, this,
            [s](int v) { s->setTempoTentativas(v); });
    connect(m_tentativas, &QSpinBox::valueChanged, this,
            [s](int v) { s->setTentativasRepetidora(v); });
}

void Form_Configuracoes::mostrarSettings() {
    const bool antes = m_carregando;
    m_carregando = true;
    const LiveSettings &s = m_settings;
    // Copies: setting a control writes its setting back while the next one is read.
    const QString som = s.somRearme(), empresa = s.nomeEmpresa(), nomeEmail = s.nomeEmail(),
                  usuario = s.usuario(), senha = s.senha(), endereco = s.enderecoEmail(),
                  copia = s.copiaCarbono(), smtp = s.smtp(), porta = s.portaEmail(),
                  corpo = s.corpoEmail();
    const bool correio = s.correioPadrao();
    const int tempo = s.tempoTentativas(), tentativas = s.tentativasRepetidora();
    const int relogio = int(s.dataEventos());
    m_somRearme->setText(som);
    m_nomeEmpresa->setText(empresa);
    m_nomeEmail->setText(nomeEmail);
    m_usuario->setText(usuario);
    m_senha->setText(senha);
    m_enderecoEmail->setText(endereco);
    m_copiaCarbono->setText(copia);
    m_smtp->setText(smtp);
    m_portaEmail->setText(porta);
    if (m_corpoEmail->toPlainText() != corpo) m_corpoEmail->setPlainText(corpo);
    m_correioPadrao->setChecked(correio);
    m_tempoTentativas->setValue(tempo);
    m_tentativas->setValue(tentativas);
    m_relogio->button(relogio)->setChecked(true);
    // The spin boxes hold a value of their range; so does the console.
    m_settings.setTempoTentativas(m_tempoTentativas->value());
    m_settings.setTentativasRepetidora(m_tentativas->value());
    m_carregando = antes;
}

void Form_Configuracoes::habilitarAplicar() {
    if (!m_carregando) m_aplicar->setEnabled(true);
}

QIcon Form_Configuracoes::iconeModo(int modo) const {
    return m_icones[std::clamp(modo, 0, 2)];
}

void Form_Configuracoes::mostrarModo(QTreeWidgetItem *item, int modo) {
    if (!item) return;
    item->setData(0, kModoRole, modo);
    item->setIcon(0, iconeModo(modo));
}

bool Form_Configuracoes::ehReceiver(const QTreeWidgetItem *item) const {
    return item && item->parent() == m_raizReceiver;
}

int Form_Configuracoes::posicao(const QTreeWidgetItem *item) const {
    return m_raizReceiver->indexOfChild(const_cast<QTreeWidgetItem *>(item)) + 1;
}

void Form_Configuracoes::preencherArvore() {
    const auto linhas = m_tabela.todos();
    if (!linhas || linhas->isEmpty()) return;
    const bool antes = m_carregando;
    m_carregando = true;
    m_tree->setCurrentItem(m_raizReceiver);
    qDeleteAll(m_raizReceiver->takeChildren());
    for (const ReceiverRecord &r : *linhas) {
        if (m_raizReceiver->childCount() >= ReceiverTable::kMaxReceivers) break;
        auto *item = new QTreeWidgetItem(m_raizReceiver, {r.nome});
        mostrarModo(item, r.modo);
    }
    m_raizReceiver->setExpanded(true);
    m_carregando = antes;
}

void Form_Configuracoes::prepararAbertura() {
    preencherArvore();
    mostrarSettings();
    m_tree->setCurrentItem(m_raizReceiver);
    m_paineis->setCurrentWidget(m_painelReceiver);
}

int Form_Configuracoes::abrir() {
    prepararAbertura();
    return exec();
}

void Form_Configuracoes::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    mostrarSettings();
    m_aplicar->setEnabled(true);
}

void Form_Configuracoes::TreeView1Change(QTreeWidgetItem *item) {
    if (!item) return;
    if (item == m_raizReceiver) {
        m_paineis->setCurrentWidget(m_painelReceiver);
    } else if (item == m_raizOpcoes) {
        m_paineis->setCurrentWidget(m_painelOpcoes);
    } else if (ehReceiver(item)) {
        m_paineis->setCurrentWidget(m_painelSetar);
        m_itemMenu->setText(QStringLiteral("Item do TreeView: ") + item->text(0));
        mostrarRegistro(item);
        m_excluir->setEnabled(true);
    }
}

void Form_Configuracoes::mostrarRegistro(QTreeWidgetItem *item) {
    const bool antes = m_carregando;
    m_carregando = true;
    const std::optional<ReceiverRecord> r = m_tabela.lerPorNome(item->text(0), posicao(item));
    // Without its row the panel shows no number, so nothing applied can reach another row.
    const ReceiverRecord reg = r.value_or(ReceiverRecord{});
    m_numero = r ? reg.receiver : 0;
    m_numeroReceiver->setText(r ? QString::number(reg.receiver) : QString());
    m_nome->setText(r ? reg.nome : item->text(0));
    auto indice = [](QComboBox *c, int v) { c->setCurrentIndex(std::clamp(v, 0, c->count() - 1)); };
    indice(m_modo, reg.modo);
    m_ativo->setChecked(reg.ativo);
    m_enviaSms->setChecked(reg.enviaSms);
    indice(m_serial, reg.portaCom);
    indice(m_bauds, reg.baudsCom);
    m_portaTcp->setValue(reg.portaTcp);
    m_portaUdp->setValue(reg.portaUdp);
    m_tempoResposta->setValue(reg.tempoResposta);
    m_tempoKeepAlive->setValue(reg.tempoKeepAlive);
    m_grupos->setCurrentIndex(m_modo->currentIndex());
    mostrarModo(item, m_modo->currentIndex());
    m_carregando = antes;
}

void Form_Configuracoes::Combo_Modo_ComunicacaoChange(int modo) {
    if (modo < 0) return;
    m_grupos->setCurrentIndex(modo);
    habilitarAplicar();
}

void Form_Configuracoes::TreeView1ContextMenu(const QPoint &pos) {
    QTreeWidgetItem *item = m_tree->itemAt(pos);
    if (!item) return;
    m_tree->setCurrentItem(item);
    m_itemMenu->setText(QStringLiteral("Item do TreeView: ") + item->text(0));
    m_menu->popup(m_tree->viewport()->mapToGlobal(pos));
}

void Form_Configuracoes::Botao_IncluirClick() {
    Prompt *prompt = m_core.prompt();
    if (m_raizReceiver->childCount() >= ReceiverTable::kMaxReceivers) {
        if (prompt) prompt->message(QStringLiteral("Número de Receiver Excedido!"));
        return;
    }
    const int n = m_raizReceiver->childCount() + 1;
    const QString nome = QStringLiteral("Receiver %1").arg(n);
    const bool antes = m_carregando;
    m_carregando = true;
    m_nome->setText(nome);
    m_ativo->setChecked(false);
    m_carregando = antes;
    if (!m_tabela.incluir(n, nome)) {
        if (prompt)
            prompt->message(QStringLiteral("Houve um erro ao incluir o Receiver!"),
                            QStringLiteral("ERRO"), Prompt::Icon::Error);
        return;
    }
    mostrarModo(new QTreeWidgetItem(m_raizReceiver, {nome}), DM1::Serial);
    m_raizReceiver->setExpanded(true);
}

void Form_Configuracoes::Botao_Excluir_ReceiverClick() {
    QTreeWidgetItem *item = m_tree->currentItem();
    if (!ehReceiver(item)) return;
    Prompt *prompt = m_core.prompt();
    if (!prompt || !prompt->question(QStringLiteral("Deseja realmente excluir o Receiver?"),
                                     QStringLiteral("Excluir Receiver"), Prompt::Icon::Question))
        return;
    // The row goes first: a node removed while its row stays would hide a receiver that
    // still opens its port.
    if (!m_tabela.excluir(m_numero)) {
        prompt->message(QStringLiteral("Houve um erro ao excluir o Receiver!"),
                        QStringLiteral("ERRO"), Prompt::Icon::Error);
        return;
    }
    {
        const bool antes = m_carregando;
        m_carregando = true;
        const QSignalBlocker bloqueio(m_tree);
        delete item;
        m_carregando = antes;
    }
    m_tabela.renumerar();
    m_core.dm().Realizar_Atualizacoes();
    m_aplicar->setEnabled(false);
    m_excluir->setEnabled(false);
    TreeView1Change(m_tree->currentItem());
}

void Form_Configuracoes::Botao_AplicarClick() {
    Prompt *prompt = m_core.prompt();
    QTreeWidgetItem *item = m_tree->currentItem();
    const ConfigIni config(ConfigIni::caminho(m_core.dataDir()));
    bool gravado = true;
    if (ehReceiver(item)) {
        ReceiverRecord r;
        r.receiver = posicao(item);
        r.nome = m_nome->text();
        r.modo = m_modo->currentIndex();
        r.ativo = m_ativo->isChecked();
        r.enviaSms = m_enviaSms->isChecked();
        r.portaCom = m_serial->currentIndex();
        r.baudsCom = m_bauds->currentIndex();
        r.portaTcp = m_portaTcp->value();
        r.portaUdp = m_portaUdp->value();
        r.tempoResposta = m_tempoResposta->value();
        r.tempoKeepAlive = m_tempoKeepAlive->value();
        if (m_numero > 0 && m_tabela.aplicar(r, m_numero)) {
            m_numero = r.receiver;
            m_numeroReceiver->setText(QString::number(r.receiver));
            item->setText(0, r.nome);
            mostrarModo(item, r.modo);
            m_itemMenu->setText(QStringLiteral("Item do TreeView: ") + r.nome);
            m_core.dm().Realizar_Atualizacoes();
        } else {
            gravado = false;
            if (prompt)
                prompt->message(QStringLiteral("Houve um erro ao gravar o Receiver!"),
                                QStringLiteral("ERRO"), Prompt::Icon::Error);
        }
    } else if (item == m_raizOpcoes) {
        gravado = config.gravarOpcoes(m_settings);
        mostrarSettings();
        if (!gravado && prompt)
            prompt->message(QStringLiteral("Houve um erro ao gravar as configurações em \"%1\"!")
                                .arg(QDir::toNativeSeparators(config.path())),
                            QStringLiteral("ERRO"), Prompt::Icon::Error);
    }
    // With the root "Receiver" in front no record is shown, so none is written.
    // The repeater pair always; a failure here is not the operator's concern.
    config.gravarRepetidora(m_settings);
    // What could not be written can still be applied again.
    m_aplicar->setEnabled(!gravado);
}

void Form_Configuracoes::Botao_CancelarClick() {
    if (m_tree->currentItem() != m_raizOpcoes) return;
    ConfigIni(ConfigIni::caminho(m_core.dataDir())).lerEmpresaCancelar(m_settings);
    mostrarSettings();
}

void Form_Configuracoes::Botao_FecharClick() {
    accept();
}

void Form_Configuracoes::Botao_SomRearmeClick() {
    if (!m_chooser) return;
    const QString arquivo = m_chooser->abrirArquivo(
        QStringLiteral("Som Rearme"), Paths::resolveStoredPath(QStringLiteral("C:\\Tulmo\\Sons")),
        QStringLiteral("Arquivos de som(*.wav)"));
    if (arquivo.isEmpty()) return;
    m_somRearme->setText(arquivo);
    if (SoundOutput *som = m_core.sound()) som->playOnce(arquivo);
}

void Form_Configuracoes::Porta_VisorDblClick() {
    m_core.dm().portaVisor().clear();
}

void Form_Configuracoes::receptoraNaoEncontrada(int slot) {
    m_aplicar->setEnabled(true);
    // Only the receiver of that slot loses its mark: the panel may show another one.
    if (m_paineis->currentWidget() == m_painelSetar && m_numero == slot) m_ativo->setChecked(false);
}

bool Form_Configuracoes::eventFilter(QObject *o, QEvent *e) {
    if (e->type() == QEvent::MouseButtonDblClick && o == m_portaVisor->viewport()) {
        Porta_VisorDblClick();
        return true;
    }
    return QDialog::eventFilter(o, e);
}

} // namespace tulmo
