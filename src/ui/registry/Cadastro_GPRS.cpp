#include "Cadastro_GPRS.h"

#include "ui/common/KeyboardHabits.h"
#include "core/common/Prompt.h"
#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/store/Database.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/registry/GprsTableModel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace tulmo {

namespace {

// Every cell in its row's status colour with window text, selected or not: the colour is
// what the operator reads in this grid.
class GprsColorDelegate : public QStyledItemDelegate {
public:
    GprsColorDelegate(const GprsTableModel &table, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_table(table) {}
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QColor background(QRgb(m_table.rowColor(index.row())));
        painter->fillRect(opt.rect, background);
        opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
        opt.backgroundBrush = background;
        const QColor text = opt.palette.color(QPalette::WindowText);
        opt.palette.setColor(QPalette::Text, text);
        QStyledItemDelegate::paint(painter, opt, index);
    }

private:
    const GprsTableModel &m_table;
};

} // namespace

Form_Cadastro_GPRS::Form_Cadastro_GPRS(CommonServices common, GprsDirectory &directory,
                                       ConnectionRegistry &connections, QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_connections(connections)
    , m_table(new GprsTableModel(common.database, directory, common.clock, this)) {
    setObjectName(QStringLiteral("Form_Cadastro_GPRS"));
    setWindowTitle(QStringLiteral("Cadastro de GPRS"));
    // Modal to the main window only: the pending-events window stays on top and usable.
    setWindowModality(Qt::WindowModal);

    m_grid = new QTableView;
    m_grid->setObjectName(QStringLiteral("Grid_GPRS"));
    m_grid->setModel(m_table);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::AnyKeyPressed);
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_grid->setItemDelegate(new GprsColorDelegate(*m_table, m_grid));
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &c, const QModelIndex &p) {
                currentRowChanged(c.row(), p.row());
            });

    auto button = [this](const char *nome, const QString &text, void (Form_Cadastro_GPRS::*f)()) {
        auto *b = new QPushButton(text);
        b->setObjectName(QLatin1String(nome));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, f);
        return b;
    };
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(
        button("Botao_Incluir", QStringLiteral("Incluir"), &Form_Cadastro_GPRS::IncluirClick));
    buttons->addWidget(
        button("Botao_Gravar", QStringLiteral("Gravar"), &Form_Cadastro_GPRS::GravarClick));
    buttons->addWidget(
        button("Botao_Excluir", QStringLiteral("Excluir"), &Form_Cadastro_GPRS::ExcluirClick));
    buttons->addStretch(1);
    auto *l = new QVBoxLayout(this);
    l->addWidget(m_grid, 1);
    l->addLayout(buttons);
    setFixedSize(720, 420);
    applyKeyboardHabits(this);
}

void Form_Cadastro_GPRS::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    reopen();
}

void Form_Cadastro_GPRS::hideEvent(QHideEvent *e) {
    m_table->close();
    QDialog::hideEvent(e);
}

void Form_Cadastro_GPRS::done(int result) {
    if (!leaveRow(currentRow())) return;
    QDialog::done(result);
}

bool Form_Cadastro_GPRS::leaveRow(int row) {
    if (row < 0 || row >= m_table->rowCount() || !m_table->isDirty(row)) return true;
    if (m_table->dropIfBlank(row)) return true;
    return m_table->post(row, m_common.prompt);
}

void Form_Cadastro_GPRS::reopen() {
    QString errorText;
    if (!m_table->reopen(&errorText) && m_common.prompt)
        m_common.prompt->message(QStringLiteral("Houve um erro ao abrir o cadastro de GPRS."),
                                 QStringLiteral("ERRO"), Prompt::Icon::Error);
    select(0);
}

void Form_Cadastro_GPRS::select(int row) {
    if (row < 0 || row >= m_table->rowCount()) return;
    m_grid->setCurrentIndex(m_table->index(row, 0));
    m_grid->selectRow(row);
}

int Form_Cadastro_GPRS::currentRow() const {
    const int r = m_grid->currentIndex().row();
    return r >= 0 && r < m_table->rowCount() ? r : -1;
}

QColor Form_Cadastro_GPRS::rowColor(int row) const {
    return QColor(QRgb(m_table->rowColor(row)));
}

void Form_Cadastro_GPRS::currentRowChanged(int current, int previous) {
    if (previous != current) leaveRow(previous);
}

void Form_Cadastro_GPRS::IncluirClick() {
    select(m_table->appendModule());
    m_grid->edit(m_table->index(currentRow(), GprsTableModel::ColImei));
}

void Form_Cadastro_GPRS::GravarClick() {
    const int r = currentRow();
    if (r < 0) return;
    m_table->post(r, m_common.prompt);
}

void Form_Cadastro_GPRS::ExcluirClick() {
    const int r = currentRow();
    if (r < 0) return;
    Prompt *p = m_common.prompt;
    if (!p ||
        !p->question(
            QStringLiteral("Deseja realmente excluir o módulo %1?").arg(m_table->module(r).imei),
            QStringLiteral("Cadastro de GPRS"), Prompt::Icon::Question, false))
        return;
    if (m_table->removeModule(r, &m_connections, p))
        select(qMin(r, m_table->rowCount() - 1));
}

void Form_Cadastro_GPRS::keyPressEvent(QKeyEvent *e) {
    // Enter saves the row, as in the table editors the operators know.
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && currentRow() >= 0) {
        GravarClick();
        return;
    }
    QDialog::keyPressEvent(e);
}

} // namespace tulmo
