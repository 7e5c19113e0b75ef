#include "Selecao_Clientes.h"

#include "ui/common/ColumnWidths.h"
#include "ui/common/KeyboardHabits.h"
#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/store/Database.h"
#include "ui/console/EventColorDelegate.h"
#include "core/registry/AccountBrowser.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>

namespace tulmo {

namespace {
QTableView *grid(const char *nome, QAbstractItemModel *model) {
    auto *g = new QTableView;
    g->setObjectName(QLatin1String(nome));
    g->setModel(model);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setSelectionMode(QAbstractItemView::SingleSelection);
    g->verticalHeader()->hide();
    g->horizontalHeader()->setStretchLastSection(true);
    return g;
}
} // namespace

F_Selecao_Clientes::F_Selecao_Clientes(CommonServices common, QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_browser(new AccountBrowser(common.database, this)) {
    setObjectName(QStringLiteral("F_Selecao_Clientes"));
    setWindowTitle(QStringLiteral("Seleção Clientes"));
    // Modal to the main window only: the pending-events window stays on top and usable.
    setWindowModality(Qt::WindowModal);
    m_browser->setPrompt(common.prompt);

    m_accounts = grid("Grade_Clientes", &m_browser->accounts());
    m_events = grid("Grade_Eventos", &m_browser->events());
    const int tipo = m_browser->events().columnOf(QStringLiteral("TIPO"));
    m_events->setItemDelegate(new EventColorDelegate(tipo, m_events));
    // Each column as wide as its column holds: a whole name, a whole description, the time of
    // each date. The events of an account scroll sideways rather than cut what they say.
    fitColumns(m_accounts, {digits(6), capitals(40), digits(14), digits(14), digits(14)});
    fitColumns(m_events, {digits(4), digits(3), digits(3), capitals(16), capitals(60),
                          QStringLiteral("RESTAURAÇÃO"), dateTimeSample(), dateTimeSample()});
    connect(m_accounts->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &F_Selecao_Clientes::currentAccountChanged);
    connect(m_accounts, &QAbstractItemView::doubleClicked, this, &F_Selecao_Clientes::AlterarClick);

    m_number = new QLineEdit;
    m_number->setObjectName(QStringLiteral("Edit1"));
    m_number->setMaxLength(6);
    m_name = new QLineEdit;
    m_name->setObjectName(QStringLiteral("Edit2"));
    m_name->setMaxLength(40);
    connect(m_number, &QLineEdit::textChanged, this, &F_Selecao_Clientes::Edit1Change);
    connect(m_name, &QLineEdit::textChanged, this, &F_Selecao_Clientes::Edit2Change);
    auto *search = new QGroupBox(QStringLiteral(" Pesquisa Cliente "));
    auto *searchLayout = new QHBoxLayout(search);
    searchLayout->addWidget(new QLabel(QStringLiteral("Conta")));
    searchLayout->addWidget(m_number, 1);
    searchLayout->addWidget(new QLabel(QStringLiteral("Nome")));
    searchLayout->addWidget(m_name, 3);

    m_count = new QLabel(QStringLiteral("000000"));
    m_count->setObjectName(QStringLiteral("L_Clientes_Cadastrados"));
    connect(m_browser, &AccountBrowser::countChanged, m_count, &QLabel::setText);
    connect(m_browser, &AccountBrowser::accountDeleted, this, [this](const QString &conta) {
        select(0);
        emit accountDeleted(conta);
    });

    auto button = [this](const char *nome, const QString &text, void (F_Selecao_Clientes::*f)()) {
        auto *b = new QPushButton(text);
        b->setObjectName(QLatin1String(nome));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, f);
        return b;
    };
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("Clientes Cadastrados:")));
    bottom->addWidget(m_count);
    bottom->addStretch(1);
    bottom->addWidget(button("Botao_Novo", QStringLiteral("Novo Cliente"),
                             &F_Selecao_Clientes::NovoClienteClick));
    bottom->addWidget(button("Botao_Excluir", QStringLiteral("Excluir Cliente"),
                             &F_Selecao_Clientes::ExcluirClienteClick));
    bottom->addWidget(
        button("Botao_Alterar", QStringLiteral("Alterar"), &F_Selecao_Clientes::AlterarClick));

    auto *l = new QVBoxLayout(this);
    l->addWidget(search);
    l->addWidget(m_accounts, 3);
    l->addWidget(new QLabel(QStringLiteral("  Eventos do Cliente Selecionado:")));
    l->addWidget(m_events, 2);
    l->addLayout(bottom);
    setFixedSize(1000, 600);
    applyKeyboardHabits(this);
}

void F_Selecao_Clientes::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    reopen();
}

void F_Selecao_Clientes::hideEvent(QHideEvent *e) {
    m_browser->close();
    QDialog::hideEvent(e);
}

void F_Selecao_Clientes::clearSearches() {
    const QSignalBlocker b1(m_number);
    const QSignalBlocker b2(m_name);
    m_number->clear();
    m_name->clear();
}

void F_Selecao_Clientes::reopen(const QString &conta) {
    clearSearches();
    m_accounts->setUpdatesEnabled(false);
    m_browser->open();
    int row = m_browser->accounts().rowCount() > 0 ? 0 : -1;
    // The account saved may lie past the first page: read on until it is there.
    for (int r = 0; !conta.isEmpty() && r < m_browser->accounts().rowCount(); ++r) {
        if (m_browser->accounts().value(r, QStringLiteral("CONTA")).toString() == conta) {
            row = r;
            break;
        }
        if (r + 1 == m_browser->accounts().rowCount() && m_browser->accounts().canFetchMore())
            m_browser->accounts().fetchMore();
    }
    m_accounts->setUpdatesEnabled(true);
    select(row);
}

void F_Selecao_Clientes::select(int row) {
    if (row < 0 || row >= m_browser->accounts().rowCount()) return;
    m_accounts->setCurrentIndex(m_browser->accounts().index(row, 0));
    m_accounts->selectRow(row);
}

QString F_Selecao_Clientes::currentAccount() const {
    int r = m_accounts->currentIndex().row();
    if (r < 0 || r >= m_browser->accounts().rowCount()) r = 0;
    return m_browser->accounts().value(r, QStringLiteral("CONTA")).toString();
}

void F_Selecao_Clientes::currentAccountChanged() {
    m_browser->showEvents(currentAccount());
}

void F_Selecao_Clientes::Edit1Change() {
    m_browser->searchByNumber(m_number->text());
    select(0);
}

void F_Selecao_Clientes::Edit2Change() {
    m_browser->searchByName(m_name->text());
    select(0);
}

void F_Selecao_Clientes::NovoClienteClick() {
    emit newAccountRequested();
}

void F_Selecao_Clientes::AlterarClick() {
    const QString conta = currentAccount();
    if (!conta.isEmpty()) emit editAccountRequested(conta);
}

void F_Selecao_Clientes::ExcluirClienteClick() {
    const QString conta = currentAccount();
    if (conta.isEmpty()) return;
    m_browser->deleteAccount(conta, m_common.prompt);
}

} // namespace tulmo
