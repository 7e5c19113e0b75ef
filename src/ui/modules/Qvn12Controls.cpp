#include "Qvn12Controls.h"

#include "RadioGroup.h"
#include "ui/common/FileDialogChooser.h"
#include "core/modules/ModuleSettingsRepository.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tulmo {

void ClickableLabel::mousePressEvent(QMouseEvent *e) {
    if (e->button() == Qt::LeftButton) emit clicked();
    QLabel::mousePressEvent(e);
}

namespace {

QString numbered(const char *name, int n) {
    return QLatin1String(name) + QString::number(n);
}

QLineEdit *edit(const QString &name, int maxLength) {
    auto *e = new QLineEdit;
    e->setObjectName(name);
    if (maxLength > 0) e->setMaxLength(maxLength);
    // Wide enough to read a server name or an APN whole.
    if (maxLength >= 14) e->setMinimumWidth(maxLength >= 20 ? 200 : 130);
    return e;
}

QSpinBox *spin(const char *name, int minimum, int maximum) {
    auto *s = named(new QSpinBox, name);
    s->setRange(minimum, maximum);
    return s;
}

QLabel *valueLabel(const char *name) {
    auto *l = named(new QLabel(QStringLiteral("0")), name);
    l->setFrameShape(QFrame::StyledPanel);
    l->setMinimumWidth(60);
    return l;
}

// Caption and control, one row of a grid.
void row(QGridLayout *g, int r, int c, const QString &caption, QWidget *w) {
    g->addWidget(new QLabel(caption), r, c);
    g->addWidget(w, r, c + 1);
}

} // namespace

std::array<Qvn12Controls::TextControl, 15> Qvn12Controls::textControls() const {
    using B = ModuleParameterBlock;
    return {{{&B::IMEI, IMEI},
             {&B::IP_Primario, IP_Primario},
             {&B::IP_Secundario1, IP_Secundario1},
             {&B::IP_Secundario2, IP_Secundario2},
             {&B::APN_Operadora, APN_Operadora},
             {&B::Usuario_Operadora, Usuario_Operadora},
             {&B::Senha_Operadora, Senha_Operadora},
             {&B::DNS_Remoto, DNS_Remoto},
             {&B::DNS_Operadora, DNS_Operadora},
             {&B::Porta_Remota, Porta_Remota},
             {&B::Senha_Acesso, Senha_Acesso},
             {&B::Senha_SMS, Senha_SMS},
             {&B::Telefone_SMS, Telefone_SMS},
             {&B::Telefone_UDP, Telefone_UDP},
             {&B::Conta_Interna, Conta_Interna}}};
}

namespace {

QWidget *optionsPage(Qvn12Controls &c) {
    auto *page = new QWidget;
    auto *module = new QGroupBox(QStringLiteral(" Módulo "));
    auto *g = new QGridLayout(module);
    row(g, 0, 0, QStringLiteral("Numero do Equipamento:"),
        c.Numero_Equipamento = valueLabel("Numero_Equipamento"));
    row(g, 1, 0, QStringLiteral("Equipamento:"), c.Equipamento = valueLabel("Equipamento"));
    row(g, 2, 0, QStringLiteral("Data Atual"), c.Data = valueLabel("Data"));
    row(g, 3, 0, QStringLiteral("Velocidade Com"), c.Velocidade_Com = valueLabel("Velocidade_Com"));
    row(g, 4, 0, QStringLiteral("IP Local:"), c.IP_Local = valueLabel("IP_Local"));
    row(g, 5, 0, QStringLiteral("IMEI"), c.IMEI = edit(QStringLiteral("IMEI"), 6));
    row(g, 6, 0, QStringLiteral("Conta Interna:"),
        c.Conta_Interna = edit(QStringLiteral("Conta_Interna"), 4));
    row(g, 7, 0, QStringLiteral("Senha Acesso"),
        c.Senha_Acesso = edit(QStringLiteral("Senha_Acesso"), 8));
    c.IP_Local->setText(QString());

    auto *net = new QGroupBox(QStringLiteral(" Servidor e GPRS "));
    auto *n = new QGridLayout(net);
    row(n, 0, 0, QStringLiteral("Primario"),
        c.IP_Primario = edit(QStringLiteral("IP_Primario"), 15));
    row(n, 1, 0, QStringLiteral("Secundario 1"),
        c.IP_Secundario1 = edit(QStringLiteral("IP_Secundario1"), 15));
    row(n, 2, 0, QStringLiteral("Secundario 2"),
        c.IP_Secundario2 = edit(QStringLiteral("IP_Secundario2"), 15));
    row(n, 3, 0, QStringLiteral("Porta"), c.Porta_Remota = edit(QStringLiteral("Porta_Remota"), 5));
    row(n, 4, 0, QStringLiteral("DNS"), c.DNS_Remoto = edit(QStringLiteral("DNS_Remoto"), 30));
    row(n, 5, 0, QStringLiteral("APN"),
        c.APN_Operadora = edit(QStringLiteral("APN_Operadora"), 30));
    row(n, 6, 0, QStringLiteral("Usuario"),
        c.Usuario_Operadora = edit(QStringLiteral("Usuario_Operadora"), 30));
    row(n, 7, 0, QStringLiteral("Senha"),
        c.Senha_Operadora = edit(QStringLiteral("Senha_Operadora"), 30));
    row(n, 8, 0, QStringLiteral("DNS Operadora"),
        c.DNS_Operadora = edit(QStringLiteral("DNS_Operadora"), 15));

    auto *sms = new QGroupBox(QStringLiteral(" SMS "));
    auto *s = new QGridLayout(sms);
    row(s, 0, 0, QStringLiteral("Telefone SMS"),
        c.Telefone_SMS = edit(QStringLiteral("Telefone_SMS"), 14));
    row(s, 1, 0, QStringLiteral("Telefone UDP"),
        c.Telefone_UDP = edit(QStringLiteral("Telefone_UDP"), 10));
    row(s, 2, 0, QStringLiteral("Senha SMS"), c.Senha_SMS = edit(QStringLiteral("Senha_SMS"), 4));
    c.SMS_Modo = named(new RadioGroup(QStringLiteral(" SMS Modo "),
                                      {QStringLiteral("Numerico"), QStringLiteral("Texto")},
                                      nullptr, Qt::Horizontal),
                       "SMS_Modo");
    s->addWidget(c.SMS_Modo, 3, 0, 1, 2);

    auto *times = new QGroupBox(QStringLiteral(" Tentativas e tempos "));
    auto *t = new QGridLayout(times);
    row(t, 0, 0, QStringLiteral("Tempo Keep-Alive"),
        c.Spin_Keep_Alive = spin("Spin_Keep_Alive", 1, 255));
    row(t, 1, 0, QStringLiteral("Tempo Chamadas Externas"),
        c.Spin_Chamadas_Externas = spin("Spin_Chamadas_Externas", 10, 999));
    row(t, 2, 0, QStringLiteral("Tentativas de conexão"),
        c.Tentativas_Conexao = spin("Tentativas_Conexao", 1, 255));
    row(t, 3, 0, QStringLiteral("Intervalo entre tentativas"),
        c.Tempo_Tentativas = spin("Tempo_Tentativas", 1, 255));
    row(t, 4, 0, QStringLiteral("Tentativas para enviar IMEI"),
        c.Tentativas_IMEI = spin("Tentativas_IMEI", 1, 255));
    row(t, 5, 0, QStringLiteral("Tentativas para enviar Evento"),
        c.Tentativas_Evento = spin("Tentativas_Evento", 1, 255));
    c.Spin_Keep_Alive->setSuffix(QStringLiteral(" min"));
    c.Spin_Chamadas_Externas->setSuffix(QStringLiteral(" s"));
    c.Tempo_Tentativas->setSuffix(QStringLiteral(" s"));

    auto *modes = new QVBoxLayout;
    c.Modo_Reportagem =
        named(new RadioGroup(QStringLiteral(" Modo de Reportagem "),
                             {QStringLiteral("Desativado"), QStringLiteral("Linha + GPRS"),
                              QStringLiteral("Somente GPRS")}),
              "Modo_Reportagem");
    c.RadioGroup2 = named(new RadioGroup(QStringLiteral(" Modo de Comunicação "),
                                         {QStringLiteral("TCP"), QStringLiteral("UDP")}),
                          "RadioGroup2");
    c.RadioGroup3 =
        named(new RadioGroup(QStringLiteral(" Modo de Conexão "),
                             {QStringLiteral("IP Fixo"), QStringLiteral("IP Dinâmico-DNS")}),
              "RadioGroup3");
    modes->addWidget(c.Modo_Reportagem);
    modes->addWidget(c.RadioGroup2);
    modes->addWidget(c.RadioGroup3);
    const char *checks[] = {"Habilita busca de IP SMS", "Habilita eventos GPRS",
                            "Habilita discagem doméstica", "Habilita eventos SMS",
                            "Habilita Alarmes p/ Canais"};
    for (int i = 0; i < 5; ++i) {
        c.CheckBox[i] = new QCheckBox(QString::fromUtf8(checks[i]));
        c.CheckBox[i]->setObjectName(numbered("CheckBox", i + 1));
        modes->addWidget(c.CheckBox[i]);
    }
    modes->addStretch(1);

    auto *grid = new QGridLayout(page);
    grid->addWidget(module, 0, 0);
    grid->addWidget(times, 1, 0);
    grid->addWidget(net, 0, 1);
    grid->addWidget(sms, 1, 1);
    grid->addLayout(modes, 0, 2, 2, 1);
    return page;
}

QWidget *levelsPage(Qvn12Controls &c) {
    auto *page = new QWidget;
    auto *g = new QGridLayout(page);
    const char *titles[] = {"Nivel Baixo ", "", "Nivel Alto ", "", "Tempo Baixo ", "Tempo Alto"};
    for (int i = 0; i < 6; ++i)
        g->addWidget(new QLabel(QString::fromUtf8(titles[i])), 0, i + 1);
    for (int n = 1; n <= kChannels; ++n) {
        const int i = n - 1;
        g->addWidget(new QLabel(QStringLiteral("Canal %1").arg(n)), n, 0);
        g->addWidget(c.Nivel_Baixo[i] = edit(numbered("Nivel_Baixo", n), 4), n, 1);
        g->addWidget(new QLabel(QStringLiteral("Volts")), n, 2);
        g->addWidget(c.Nivel_Alto[i] = edit(numbered("Nivel_Alto", n), 4), n, 3);
        g->addWidget(new QLabel(QStringLiteral("Volts")), n, 4);
        g->addWidget(c.Tempo_Baixo[i] = edit(numbered("Tempo_Baixo", n), 3), n, 5);
        g->addWidget(c.Tempo_Alto[i] = edit(numbered("Tempo_Alto", n), 3), n, 6);
        for (QLineEdit *e : {c.Nivel_Baixo[i], c.Nivel_Alto[i], c.Tempo_Baixo[i], c.Tempo_Alto[i]})
            e->setMaximumWidth(70);
        c.Nivel_Baixo[i]->setText(QStringLiteral("0"));
        c.Nivel_Alto[i]->setText(QStringLiteral("0"));
        c.Tempo_Baixo[i]->setText(QStringLiteral("1"));
        c.Tempo_Alto[i]->setText(QStringLiteral("1"));
    }
    g->setColumnStretch(7, 1);
    g->setRowStretch(kChannels + 1, 1);
    return page;
}

QWidget *smsPage(Qvn12Controls &c) {
    auto *page = new QWidget;
    auto *high = new QGroupBox(QStringLiteral(" SMS Nível Alto "));
    auto *low = new QGroupBox(QStringLiteral(" SMS Nível Baixo"));
    auto *h = new QGridLayout(high);
    auto *l = new QGridLayout(low);
    for (int n = 1; n <= kChannels; ++n) {
        row(h, n, 0, QStringLiteral("Canal %1").arg(n),
            c.SMS_Alto[n - 1] = edit(numbered("SMS_Alto", n), 20));
        row(l, n, 0, QStringLiteral("Canal %1").arg(n),
            c.SMS_Baixo[n - 1] = edit(numbered("SMS_Baixo", n), 20));
    }
    auto *box = new QHBoxLayout(page);
    box->addWidget(high);
    box->addWidget(low);
    return page;
}

QWidget *commandsPage(Qvn12Controls &c) {
    auto *page = new QWidget;
    auto *pgms = new QGroupBox(QStringLiteral(" Saídas PGM "));
    auto *p = new QGridLayout(pgms);
    for (int k = 1; k <= kPgmOutputs; ++k) {
        const int i = k - 1;
        p->addWidget(new QLabel(QStringLiteral("PGM %1").arg(k)), i, 0);
        c.Botao_PGM[i] = new QPushButton(QStringLiteral("OFF"));
        c.Botao_PGM[i]->setObjectName(numbered("Botao_PGM", k));
        c.Botao_PGM[i]->setAutoDefault(false);
        p->addWidget(c.Botao_PGM[i], i, 1);
        c.RadioGroup_PGM[i] = new RadioGroup(
            QStringLiteral(" Tipo PGM "),
            {QStringLiteral("Direta"), QStringLiteral("Pulso"), QStringLiteral("Intermitente")},
            nullptr, Qt::Horizontal);
        c.RadioGroup_PGM[i]->setObjectName(numbered("RadioGroup_PGM", k));
        c.RadioGroup_PGM[i]->setItemIndex(0);
        p->addWidget(c.RadioGroup_PGM[i], i, 2);
        c.SpinPGM[i] = new QSpinBox;
        c.SpinPGM[i]->setObjectName(numbered("SpinPGM", k));
        // TEMPO_PGMn is a SMALLINT: longer times could not be kept.
        c.SpinPGM[i]->setRange(1, ModuleSettingsRepository::kLargestStored);
        c.SpinPGM[i]->setValue(2);
        c.SpinPGM[i]->setSuffix(QStringLiteral(" s"));
        p->addWidget(c.SpinPGM[i], i, 3);
    }
    auto *channels = new QGroupBox(QStringLiteral(" Canais "));
    auto *ch = new QGridLayout(channels);
    for (int n = 1; n <= kChannels; ++n) {
        const int i = n - 1;
        ch->addWidget(new QLabel(QStringLiteral("Canal %1").arg(n)), i, 0);
        // No length limit here: a reading such as 12,954 is shown whole.
        c.Mostrador_Canal[i] = edit(numbered("Mostrador_Canal", n), 0);
        c.Mostrador_Canal[i]->setReadOnly(true);
        c.Mostrador_Canal[i]->setText(QStringLiteral("12,7"));
        c.Mostrador_Canal[i]->setMaximumWidth(80);
        ch->addWidget(c.Mostrador_Canal[i], i, 1);
        ch->addWidget(c.readingUnit[i] = new QLabel(QStringLiteral("Volts")), i, 2);
    }
    c.Botao_Ler_Canais = named(new QPushButton(QStringLiteral("Ler Canais")), "Botao_Ler_Canais");
    c.Botao_Ler_Canais->setAutoDefault(false);
    ch->addWidget(c.Botao_Ler_Canais, kChannels, 0, 1, 3);
    auto *box = new QHBoxLayout(page);
    box->addWidget(pgms, 2);
    box->addWidget(channels, 1);
    return page;
}

QWidget *rangePage(Qvn12Controls &c) {
    auto *page = new QWidget;
    auto *g = new QGridLayout(page);
    g->addWidget(new QLabel(QStringLiteral(" Nível Mínimo de Entrada ")), 0, 1);
    g->addWidget(new QLabel(QStringLiteral(" Nível Máximo de Entrada ")), 0, 2);
    g->addWidget(new QLabel(QStringLiteral("Unidade")), 0, 3);
    for (int n = 1; n <= kChannels; ++n) {
        const int i = n - 1;
        g->addWidget(new QLabel(QStringLiteral("Canal %1").arg(n)), n, 0);
        g->addWidget(c.Nivel_Minimo[i] = edit(numbered("Nivel_Minimo", n), 5), n, 1);
        g->addWidget(c.Nivel_Maximo[i] = edit(numbered("Nivel_Maximo", n), 5), n, 2);
        c.Nivel_Minimo[i]->setText(QStringLiteral("0"));
        c.Nivel_Maximo[i]->setText(QStringLiteral("0"));
        c.Unidade_Canal[i] = new ClickableLabel(QStringLiteral("Volts"));
        c.Unidade_Canal[i]->setObjectName(numbered("Unidade_Canal", n));
        c.Unidade_Canal[i]->setToolTip(QStringLiteral("Clique para alterar a unidade"));
        c.Unidade_Canal[i]->setCursor(Qt::PointingHandCursor);
        c.Unidade_Canal[i]->setFrameShape(QFrame::StyledPanel);
        g->addWidget(c.Unidade_Canal[i], n, 3);
    }
    c.Botao_Salvar = named(new QPushButton(QStringLiteral("Salvar")), "Botao_Salvar");
    c.Botao_Salvar->setAutoDefault(false);
    g->addWidget(c.Botao_Salvar, kChannels + 1, 3);
    g->setColumnStretch(4, 1);
    g->setRowStretch(kChannels + 2, 1);
    return page;
}

} // namespace

void Qvn12Controls::build(QWidget *window) {
    pages = named(new QTabWidget, "pages");
    pages->addTab(optionsPage(*this), QStringLiteral(" Opções "));
    pages->addTab(levelsPage(*this), QStringLiteral(" Configurações dos Canais"));
    pages->addTab(smsPage(*this), QStringLiteral("Mensagens SMS"));
    pages->addTab(commandsPage(*this), QStringLiteral("Comandos Remotos"));
    pages->addTab(rangePage(*this), QStringLiteral("Configurar Canais"));
    Botao_Fechar = named(new QPushButton(QStringLiteral("Fechar")), "Botao_Fechar");
    Botao_Fechar->setAutoDefault(false);
    auto *bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(Botao_Fechar);
    auto *l = new QVBoxLayout(window);
    l->addWidget(pages, 1);
    l->addLayout(bottom);
}

} // namespace tulmo
