#include "Cadastro_Operadores.h"

#include "store/SqlListModel.h"
#include "common/Prompt.h"
#include "console/ConsoleCore.h"
#include "operators/OperatorRepository.h"
#include "operators/Permissions.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace tulmo {

namespace {
struct PermissionBox {
    const char *nome;
    quint32 bit;
    const char *texto;
};
const PermissionBox kMarcas[6] = {
    {"CBoxClientes", Permissions::Clientes, "Permite incluir e alterar dados do cliente"},
    {"CBoxEventos", Permissions::Eventos, "Permite incluir e alterar códigos de eventos"},
    {"CBoxTcpIp", Permissions::TcpIp, "Permite controlar acesso de dispositivos TCP/IP"},
    {"CBoxRelatorios", Permissions::Relatorios, "Permite imprimir relatórios"},
    {"CBoxConfiguracoes", Permissions::Configuracoes, "Permite alterar as configurações do Tulmo"},
    {"CBoxFechar", Permissions::Fechar, "Permite fechar o Tulmo"},
};
} // namespace

FormCadastroOperadores::FormCadastroOperadores(ConsoleCore &core, QWidget *parent)
    : QDialog(parent)
    , m_core(core) {
    setObjectName(QStringLiteral("FormCadastroOperadores"));
    setWindowTitle(QStringLiteral("Cadastro de Operadores"));
    setModal(true);

    m_lista = new SqlListModel(OperatorRepository::listSql(), {{"NOME", {}}}, this);
    m_grid = new QTableView;
    m_grid->setObjectName(QStringLiteral("GridOperadores"));
    m_grid->setModel(m_lista);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setStretchLastSection(true);
    connect(m_grid, &QAbstractItemView::clicked, this,
            &FormCadastroOperadores::GridOperadoresClick);

    m_nome = new QLineEdit;
    m_nome->setObjectName(QStringLiteral("NomeOperador"));
    m_nome->setMaxLength(20);
    m_senha = new QLineEdit;
    m_senha->setObjectName(QStringLiteral("Senha"));
    m_senha->setMaxLength(8);
    m_senha->setEchoMode(QLineEdit::Password);

    auto *direita = new QVBoxLayout;
    auto *campos = new QFormLayout;
    campos->addRow(QStringLiteral("Nome:"), m_nome);
    campos->addRow(QStringLiteral("Senha:"), m_senha);
    direita->addLayout(campos);
    for (int i = 0; i < 6; ++i) {
        m_marcas[i] = new QCheckBox(QString::fromUtf8(kMarcas[i].texto));
        m_marcas[i]->setObjectName(QLatin1String(kMarcas[i].nome));
        direita->addWidget(m_marcas[i]);
    }
    direita->addStretch(1);
    auto botao = [this](const char *nome, const QString &texto,
                        void (FormCadastroOperadores::*f)()) {
        auto *b = new QPushButton(texto);
        b->setObjectName(QLatin1String(nome));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, f);
        return b;
    };
    auto *botoes = new QHBoxLayout;
    botoes->addWidget(botao("Botao_Novo", QStringLiteral("Novo Operador"),
                            &FormCadastroOperadores::NovoOperadorClick));
    botoes->addWidget(
        botao("Botao_Alterar", QStringLiteral("Alterar"), &FormCadastroOperadores::AlterarClick));
    botoes->addWidget(botao("Botao_Excluir", QStringLiteral("Excluir Operador"),
                            &FormCadastroOperadores::ExcluirOperadorClick));
    botoes->addWidget(
        botao("Botao_Salvar", QStringLiteral("SALVAR"), &FormCadastroOperadores::SalvarClick));

    auto *corpo = new QHBoxLayout;
    corpo->addWidget(m_grid, 1);
    corpo->addLayout(direita, 2);
    auto *l = new QVBoxLayout(this);
    l->addLayout(corpo, 1);
    l->addLayout(botoes);
    resize(620, 360);

    m_nome->setEnabled(false);
    habilitarMarcas(false);
}

void FormCadastroOperadores::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    reabrir();
}

void FormCadastroOperadores::reabrir(const QString &nome) {
    m_lista->reabrir(m_core.dm().banco().secundaria());
    while (m_lista->canFetchMore())
        m_lista->fetchMore();
    int row = m_lista->rowCount() > 0 ? 0 : -1;
    for (int r = 0; !nome.isEmpty() && r < m_lista->rowCount(); ++r)
        if (m_lista->valor(r, QStringLiteral("NOME")).toString() == nome) row = r;
    selecionar(row);
}

void FormCadastroOperadores::selecionar(int row) {
    if (row < 0 || row >= m_lista->rowCount()) return;
    m_grid->setCurrentIndex(m_lista->index(row, 0));
    m_grid->selectRow(row);
}

int FormCadastroOperadores::linhaAtual() const {
    const int r = m_grid->currentIndex().row();
    if (r >= 0 && r < m_lista->rowCount()) return r;
    return m_lista->rowCount() > 0 ? 0 : -1;
}

QString FormCadastroOperadores::nomeAtual() const {
    const int r = linhaAtual();
    return r < 0 ? QString() : m_lista->valor(r, QStringLiteral("NOME")).toString();
}

void FormCadastroOperadores::marcar(quint32 permissoes) {
    for (int i = 0; i < 6; ++i)
        m_marcas[i]->setChecked((permissoes & kMarcas[i].bit) != 0);
}

void FormCadastroOperadores::habilitarMarcas(bool sim) {
    for (QCheckBox *c : m_marcas)
        c->setEnabled(sim);
}

quint32 FormCadastroOperadores::permissoesMarcadas() const {
    quint32 p = 0;
    for (int i = 0; i < 6; ++i)
        if (m_marcas[i]->isChecked()) p += kMarcas[i].bit;
    return p;
}

void FormCadastroOperadores::mostrarLinha() {
    const int r = linhaAtual();
    if (r < 0) return;
    m_nome->setText(m_lista->valor(r, QStringLiteral("NOME")).toString());
    marcar(m_lista->valor(r, QStringLiteral("PERMISSOES")).toUInt());
    m_senha->setText(m_lista->valor(r, QStringLiteral("SENHA")).toString());
    m_nome->setEnabled(false);
    habilitarMarcas(false);
}

void FormCadastroOperadores::GridOperadoresClick() {
    mostrarLinha();
}

void FormCadastroOperadores::AlterarClick() {
    if (linhaAtual() < 0) return;
    mostrarLinha();
    m_modo = 'A';
    m_nomeAnterior = m_nome->text();
    habilitarMarcas(true);
    m_nome->setEnabled(m_nomeAnterior != QLatin1String(OperatorRepository::kAdministrador));
}

void FormCadastroOperadores::NovoOperadorClick() {
    // The selected operator's permissions are where the new one starts from.
    if (linhaAtual() >= 0)
        marcar(m_lista->valor(linhaAtual(), QStringLiteral("PERMISSOES")).toUInt());
    m_modo = 'I';
    m_nomeAnterior.clear();
    m_nome->clear();
    m_senha->clear();
    m_nome->setEnabled(true);
    habilitarMarcas(true);
    m_nome->setFocus();
}

void FormCadastroOperadores::SalvarClick() {
    Prompt *p = m_core.prompt();
    QSqlDatabase db = m_core.dm().banco().secundaria();
    Operator op{m_nome->text(), permissoesMarcadas(), m_senha->text()};
    if (m_modo == 'I' || m_modo == 'A') {
        // A nameless operator could never be told apart, and an empty password never logs in.
        if (op.nome.trimmed().isEmpty()) {
            if (p) p->message(QStringLiteral("Informe o nome do Operador."));
            m_nome->setFocus();
            return;
        }
        if (op.senha.isEmpty()) {
            if (p) p->message(QStringLiteral("Informe a senha do Operador."));
            m_senha->setFocus();
            return;
        }
    }
    QString erro;
    if (m_modo == 'I') {
        if (!p || !p->question(QStringLiteral("Deseja realmente incluir um novo Operador?"),
                               QStringLiteral("INCLUSÃO"), Prompt::Icon::Question, true))
            return;
        if (!OperatorRepository::incluir(db, op, &erro)) {
            p->message(QStringLiteral("Houve um erro ao incluir um novo Operador."),
                       QStringLiteral("ERRO"), Prompt::Icon::Error);
            return;
        }
    } else if (m_modo == 'A') {
        if (!p || !p->question(QStringLiteral("Deseja realmente alterar os dados do Operador?"),
                               QStringLiteral("ALTERAÇÃO"), Prompt::Icon::Question, true))
            return;
        // The administrator keeps his name.
        if (m_nomeAnterior == QLatin1String(OperatorRepository::kAdministrador)) op.nome = m_nomeAnterior;
        if (!OperatorRepository::alterar(db, m_nomeAnterior, op, &erro)) {
            p->message(QStringLiteral("Houve um erro ao alterar dados do operador."),
                       QStringLiteral("ERRO"), Prompt::Icon::Error);
            return;
        }
    }
    const bool salvo = m_modo != 0;
    m_modo = 0;
    m_nomeAnterior.clear();
    reabrir(salvo ? op.nome : nomeAtual());
    mostrarLinha();
}

void FormCadastroOperadores::ExcluirOperadorClick() {
    if (m_lista->rowCount() == 0) return;
    Prompt *p = m_core.prompt();
    const QString nome = nomeAtual();
    if (nome == QLatin1String(OperatorRepository::kAdministrador)) {
        if (p) p->message(QStringLiteral("Não é possível excluir o operador Administrador!"));
        return;
    }
    if (!p || !p->question(QStringLiteral("Deseja realmente excluir o Operador"),
                           QStringLiteral("Excluir cliente"), Prompt::Icon::Question, false))
        return;
    QString erro;
    if (!OperatorRepository::excluir(m_core.dm().banco().secundaria(), nome, &erro)) {
        p->message(QStringLiteral("Houve um erro ao excluir o Operador."), QStringLiteral("ERRO"),
                   Prompt::Icon::Error);
        return;
    }
    m_modo = 0;
    reabrir();
    mostrarLinha();
}

} // namespace tulmo
