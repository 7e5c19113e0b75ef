#include "Cadastro_Operadores.h"

#include "core/store/SqlListModel.h"
#include "ui/common/KeyboardHabits.h"
#include "core/common/Prompt.h"
#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/store/Database.h"
#include "core/operators/OperatorRepository.h"
#include "core/operators/Permissions.h"

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
    const char *text;
};
const PermissionBox kBoxes[kPermissionBoxes] = {
    {"CBoxClientes", Permissions::Clientes, "Permite incluir e alterar dados do cliente"},
    {"CBoxEventos", Permissions::Eventos, "Permite incluir e alterar códigos de eventos"},
    {"CBoxTcpIp", Permissions::TcpIp, "Permite controlar acesso de dispositivos TCP/IP"},
    {"CBoxRelatorios", Permissions::Relatorios, "Permite imprimir relatórios"},
    {"CBoxConfiguracoes", Permissions::Configuracoes, "Permite alterar as configurações do Tulmo"},
    {"CBoxFechar", Permissions::Fechar, "Permite fechar o Tulmo"},
    {"CBoxTestes", Permissions::Testes, "Permite colocar contas em teste por até 4 horas"},
    {"CBoxTestesLongos", Permissions::TestesLongos,
     "Permite colocar contas em teste por até 3 dias"},
};
} // namespace

FormCadastroOperadores::FormCadastroOperadores(CommonServices common, QWidget *parent)
    : QDialog(parent)
    , m_common(common) {
    setObjectName(QStringLiteral("FormCadastroOperadores"));
    setWindowTitle(QStringLiteral("Cadastro de Operadores"));
    // Modal to the main window only: the pending-events window stays on top and usable.
    setWindowModality(Qt::WindowModal);

    m_list = new SqlListModel(OperatorRepository::listSql(), {{"NOME", {}}}, this);
    m_grid = new QTableView;
    m_grid->setObjectName(QStringLiteral("GridOperadores"));
    m_grid->setModel(m_list);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setStretchLastSection(true);
    connect(m_grid, &QAbstractItemView::clicked, this,
            &FormCadastroOperadores::GridOperadoresClick);

    m_name = new QLineEdit;
    m_name->setObjectName(QStringLiteral("NomeOperador"));
    m_name->setMaxLength(20);
    m_password = new QLineEdit;
    m_password->setObjectName(QStringLiteral("Senha"));
    m_password->setMaxLength(8);
    m_password->setEchoMode(QLineEdit::Password);

    auto *rightSide = new QVBoxLayout;
    auto *fields = new QFormLayout;
    fields->addRow(QStringLiteral("Nome:"), m_name);
    fields->addRow(QStringLiteral("Senha:"), m_password);
    rightSide->addLayout(fields);
    for (int i = 0; i < kPermissionBoxes; ++i) {
        m_boxes[i] = new QCheckBox(QString::fromUtf8(kBoxes[i].text));
        m_boxes[i]->setObjectName(QLatin1String(kBoxes[i].nome));
        rightSide->addWidget(m_boxes[i]);
    }
    rightSide->addStretch(1);
    auto button = [this](const char *nome, const QString &text,
                        void (FormCadastroOperadores::*f)()) {
        auto *b = new QPushButton(text);
        b->setObjectName(QLatin1String(nome));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, f);
        return b;
    };
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(button("Botao_Novo", QStringLiteral("Novo Operador"),
                            &FormCadastroOperadores::NovoOperadorClick));
    buttons->addWidget(
        button("Botao_Alterar", QStringLiteral("Alterar"), &FormCadastroOperadores::AlterarClick));
    buttons->addWidget(button("Botao_Excluir", QStringLiteral("Excluir Operador"),
                            &FormCadastroOperadores::ExcluirOperadorClick));
    buttons->addWidget(
        button("Botao_Salvar", QStringLiteral("SALVAR"), &FormCadastroOperadores::SalvarClick));

    auto *body = new QHBoxLayout;
    body->addWidget(m_grid, 1);
    body->addLayout(rightSide, 2);
    auto *l = new QVBoxLayout(this);
    l->addLayout(body, 1);
    l->addLayout(buttons);
    resize(620, 360);

    m_name->setEnabled(false);
    enableBoxes(false);
    applyKeyboardHabits(this);
}

void FormCadastroOperadores::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    reopen();
}

void FormCadastroOperadores::reopen(const QString &nome) {
    m_list->reopen(m_common.database.secondary());
    while (m_list->canFetchMore())
        m_list->fetchMore();
    int row = m_list->rowCount() > 0 ? 0 : -1;
    for (int r = 0; !nome.isEmpty() && r < m_list->rowCount(); ++r)
        if (m_list->value(r, QStringLiteral("NOME")).toString() == nome) row = r;
    select(row);
}

void FormCadastroOperadores::select(int row) {
    if (row < 0 || row >= m_list->rowCount()) return;
    m_grid->setCurrentIndex(m_list->index(row, 0));
    m_grid->selectRow(row);
}

int FormCadastroOperadores::currentRow() const {
    const int r = m_grid->currentIndex().row();
    if (r >= 0 && r < m_list->rowCount()) return r;
    return m_list->rowCount() > 0 ? 0 : -1;
}

QString FormCadastroOperadores::currentName() const {
    const int r = currentRow();
    return r < 0 ? QString() : m_list->value(r, QStringLiteral("NOME")).toString();
}

void FormCadastroOperadores::checkBoxes(quint32 permissoes) {
    for (int i = 0; i < kPermissionBoxes; ++i)
        m_boxes[i]->setChecked((permissoes & kBoxes[i].bit) != 0);
}

void FormCadastroOperadores::enableBoxes(bool on) {
    for (QCheckBox *c : m_boxes)
        c->setEnabled(on);
}

quint32 FormCadastroOperadores::checkedPermissions() const {
    quint32 p = 0;
    for (int i = 0; i < kPermissionBoxes; ++i)
        if (m_boxes[i]->isChecked()) p += kBoxes[i].bit;
    return p;
}

void FormCadastroOperadores::showRow() {
    const int r = currentRow();
    if (r < 0) return;
    m_name->setText(m_list->value(r, QStringLiteral("NOME")).toString());
    checkBoxes(m_list->value(r, QStringLiteral("PERMISSOES")).toUInt());
    m_password->setText(m_list->value(r, QStringLiteral("SENHA")).toString());
    m_name->setEnabled(false);
    enableBoxes(false);
}

void FormCadastroOperadores::GridOperadoresClick() {
    showRow();
}

void FormCadastroOperadores::AlterarClick() {
    if (currentRow() < 0) return;
    showRow();
    m_mode = 'A';
    m_previousName = m_name->text();
    enableBoxes(true);
    m_name->setEnabled(m_previousName != QLatin1String(OperatorRepository::kAdministrator));
}

void FormCadastroOperadores::NovoOperadorClick() {
    // The selected operator's permissions are where the new one starts from.
    if (currentRow() >= 0)
        checkBoxes(m_list->value(currentRow(), QStringLiteral("PERMISSOES")).toUInt());
    m_mode = 'I';
    m_previousName.clear();
    m_name->clear();
    m_password->clear();
    m_name->setEnabled(true);
    enableBoxes(true);
    m_name->setFocus();
}

void FormCadastroOperadores::SalvarClick() {
    Prompt *p = m_common.prompt;
    QSqlDatabase db = m_common.database.secondary();
    Operator op{m_name->text(), checkedPermissions(), m_password->text()};
    if (m_mode == 'I' || m_mode == 'A') {
        // A nameless operator could never be told apart, and an empty password never logs in.
        if (op.nome.trimmed().isEmpty()) {
            if (p) p->message(QStringLiteral("Informe o nome do Operador."));
            m_name->setFocus();
            return;
        }
        if (op.senha.isEmpty()) {
            if (p) p->message(QStringLiteral("Informe a senha do Operador."));
            m_password->setFocus();
            return;
        }
    }
    QString errorText;
    if (m_mode == 'I') {
        if (!p || !p->question(QStringLiteral("Deseja realmente incluir um novo Operador?"),
                               QStringLiteral("INCLUSÃO"), Prompt::Icon::Question, true))
            return;
        if (!OperatorRepository::insert(db, op, &errorText)) {
            p->message(QStringLiteral("Houve um erro ao incluir um novo Operador."),
                       QStringLiteral("ERRO"), Prompt::Icon::Error);
            return;
        }
    } else if (m_mode == 'A') {
        if (!p || !p->question(QStringLiteral("Deseja realmente alterar os dados do Operador?"),
                               QStringLiteral("ALTERAÇÃO"), Prompt::Icon::Question, true))
            return;
        // The administrator keeps his name.
        if (m_previousName == QLatin1String(OperatorRepository::kAdministrator)) op.nome = m_previousName;
        if (!OperatorRepository::update(db, m_previousName, op, &errorText)) {
            p->message(QStringLiteral("Houve um erro ao alterar dados do operador."),
                       QStringLiteral("ERRO"), Prompt::Icon::Error);
            return;
        }
    }
    const bool saved = m_mode != 0;
    m_mode = 0;
    m_previousName.clear();
    reopen(saved ? op.nome : currentName());
    showRow();
}

void FormCadastroOperadores::ExcluirOperadorClick() {
    if (m_list->rowCount() == 0) return;
    Prompt *p = m_common.prompt;
    const QString nome = currentName();
    if (nome == QLatin1String(OperatorRepository::kAdministrator)) {
        if (p) p->message(QStringLiteral("Não é possível excluir o operador Administrador!"));
        return;
    }
    if (!p || !p->question(QStringLiteral("Deseja realmente excluir o Operador"),
                           QStringLiteral("Excluir cliente"), Prompt::Icon::Question, false))
        return;
    QString errorText;
    if (!OperatorRepository::remove(m_common.database.secondary(), nome, &errorText)) {
        p->message(QStringLiteral("Houve um erro ao excluir o Operador."), QStringLiteral("ERRO"),
                   Prompt::Icon::Error);
        return;
    }
    m_mode = 0;
    reopen();
    showRow();
}

} // namespace tulmo
