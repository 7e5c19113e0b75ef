#include "SubRecordGrid.h"

#include "DigitsOnly.h"
#include "ui/common/ColumnWidths.h"
#include "core/registry/SubRecordModel.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QStyledItemDelegate>

namespace tulmo {

namespace {
// The key's editor takes digits only; the description's stops at its column's width.
class SubRecordDelegate : public QStyledItemDelegate {
public:
    SubRecordDelegate(SubRecordModel *model, DigitsOnly *digits, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_model(model)
        , m_digits(digits) {}
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &,
                          const QModelIndex &index) const override {
        auto *e = new QLineEdit(parent);
        e->setFrame(false);
        if (index.column() == SubRecordModel::KeyColumn) {
            e->setObjectName(QStringLiteral("EditorChave"));
            e->setMaxLength(5);
            e->setValidator(
                new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,5}")), e));
            if (m_digits) m_digits->guard(e);
        } else {
            e->setObjectName(QStringLiteral("EditorDescricao"));
            e->setMaxLength(m_model->descriptionWidth());
        }
        return e;
    }

private:
    SubRecordModel *m_model;
    DigitsOnly *m_digits;
};
} // namespace

SubRecordGrid::SubRecordGrid(SubRecordModel *model, DigitsOnly *digits, QWidget *parent)
    : QTableView(parent)
    , m_model(model) {
    setModel(model);
    setItemDelegate(new SubRecordDelegate(model, digits, this));
    setColumnHidden(SubRecordModel::ContaColumn, true);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    verticalHeader()->setDefaultSectionSize(22);
    horizontalHeader()->setStretchLastSection(true);
    fitColumns(this, {QString(), tulmo::digits(5), capitals(model->descriptionWidth())});
}

void SubRecordGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous) {
    QTableView::currentChanged(current, previous);
    // Leaving a row posts it, as the data grid did; a row refused stays current, as typed, for
    // the operator to correct.
    if (m_returning || !previous.isValid() || current.row() == previous.row() ||
        m_model->editingRow() != previous.row() || m_model->post())
        return;
    m_returning = true;
    setCurrentIndex(m_model->index(m_model->editingRow(), previous.column()));
    m_returning = false;
}

void SubRecordGrid::appendAndEdit() {
    const int row = m_model->appendRow();
    if (row < 0) return;
    setCurrentIndex(m_model->index(row, SubRecordModel::KeyColumn));
}

void SubRecordGrid::keyPressEvent(QKeyEvent *e) {
    const QModelIndex i = currentIndex();
    if (e->key() == Qt::Key_Insert ||
        (e->key() == Qt::Key_Down && i.isValid() && i.row() == m_model->rowCount() - 1)) {
        appendAndEdit();
        return;
    }
    if (e->key() == Qt::Key_Escape && m_model->isEditing()) {
        m_model->cancel();
        return;
    }
    QTableView::keyPressEvent(e);
}

} // namespace tulmo
