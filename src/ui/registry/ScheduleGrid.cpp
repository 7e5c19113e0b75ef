#include "ScheduleGrid.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QStyledItemDelegate>

namespace tulmo {

namespace {
const char *const kDayNames[WeeklySchedule::kDays] = {"Domingo", "Segunda", "Terça", "Quarta",
                                                      "Quinta",  "Sexta",   "Sabado"};
const QColor kMarked(0xFF, 0x00, 0x00);
} // namespace

// The cells of SGrid_Horarios over a schedule: titles in row 0 and column 0, flags elsewhere.
class ScheduleModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    WeeklySchedule schedule;

    static bool isTitle(const QModelIndex &i) { return i.row() == 0 || i.column() == 0; }
    void changed() {
        emit dataChanged(index(1, 1), index(ScheduleGrid::kRows - 1, ScheduleGrid::kColumns - 1));
    }

    int rowCount(const QModelIndex &p = QModelIndex()) const override {
        return p.isValid() ? 0 : ScheduleGrid::kRows;
    }
    int columnCount(const QModelIndex &p = QModelIndex()) const override {
        return p.isValid() ? 0 : ScheduleGrid::kColumns;
    }
    QVariant data(const QModelIndex &i, int role) const override {
        if (!i.isValid()) return {};
        if (role == ScheduleGrid::kMarkedRole)
            return isTitle(i) ? QVariant() : QVariant(schedule.marked(i.row() - 1, i.column() - 1));
        if (role != Qt::DisplayRole || !isTitle(i)) return {};
        if (i.row() == 0 && i.column() == 0) return QStringLiteral("Dia / Hora");
        if (i.row() == 0) return QStringLiteral("%1").arg(i.column() - 1, 2, 10, QLatin1Char('0'));
        return QString::fromUtf8(kDayNames[i.row() - 1]);
    }
    Qt::ItemFlags flags(const QModelIndex &i) const override {
        if (!i.isValid()) return Qt::NoItemFlags;
        // Titles are fixed: never selected, never marked.
        return isTitle(i) ? Qt::ItemIsEnabled : (Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    }
};

namespace {
// Draws each cell as SGrid_HorariosDrawCell did.
class ScheduleDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *p, const QStyleOptionViewItem &option,
               const QModelIndex &i) const override {
        const QRect r = option.rect;
        const QPalette &pal = option.palette;
        p->save();
        if (ScheduleModel::isTitle(i)) {
            p->fillRect(r, pal.color(QPalette::Button));
            p->setPen(pal.color(QPalette::ButtonText));
            // The titles were drawn in an 8-point face: "Dia / Hora" and "Domingo" fit the
            // 54 px column only in a small one.
            QFont small = option.font;
            small.setPixelSize(10);
            p->setFont(small);
            const QString text = i.data().toString();
            // Day names centred, 2 px below the top; the other titles where the grid writes them.
            const Qt::Alignment a =
                (i.column() == 0 && i.row() > 0) ? Qt::AlignHCenter : Qt::AlignLeft;
            p->drawText(r.adjusted(2, 2, -1, 0), int(a | Qt::AlignTop), text);
        } else if (option.state & QStyle::State_Selected) {
            p->fillRect(r, pal.color(QPalette::Highlight));
        } else {
            p->fillRect(r,
                        i.data(ScheduleGrid::kMarkedRole).toBool() ? kMarked : QColor(Qt::white));
        }
        p->restore();
    }
};
} // namespace

ScheduleGrid::ScheduleGrid(QWidget *parent)
    : QTableView(parent)
    , m_model(new ScheduleModel(this)) {
    setObjectName(QStringLiteral("SGrid_Horarios"));
    setModel(m_model);
    setItemDelegate(new ScheduleDelegate(this));
    horizontalHeader()->hide();
    verticalHeader()->hide();
    for (QHeaderView *h : {horizontalHeader(), verticalHeader()}) {
        h->setMinimumSectionSize(1);
        h->setSectionResizeMode(QHeaderView::Fixed);
        h->setDefaultSectionSize(kCell);
    }
    setColumnWidth(0, kFirstColumn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setShowGrid(true);
    setFocusPolicy(Qt::StrongFocus);
    setAutoScroll(false);
    const int frame = 2 * frameWidth();
    setFixedSize(kFirstColumn + (kColumns - 1) * kCell + frame, kRows * kCell + frame);
}

void ScheduleGrid::setSchedule(const WeeklySchedule &schedule) {
    m_model->schedule = schedule;
    m_model->changed();
    viewport()->update();
}

const WeeklySchedule &ScheduleGrid::schedule() const {
    return m_model->schedule;
}

void ScheduleGrid::markSelection(bool marked) {
    const QModelIndexList cells = selectionModel()->selectedIndexes();
    for (const QModelIndex &i : cells)
        if (!ScheduleModel::isTitle(i)) m_model->schedule.set(i.row() - 1, i.column() - 1, marked);
    m_model->changed();
    viewport()->update();
}

void ScheduleGrid::selectCells(int row1, int column1, int row2, int column2) {
    const QItemSelection s(m_model->index(row1, column1), m_model->index(row2, column2));
    selectionModel()->select(s, QItemSelectionModel::ClearAndSelect);
    selectionModel()->setCurrentIndex(m_model->index(row2, column2), QItemSelectionModel::NoUpdate);
    viewport()->update();
}

QString ScheduleGrid::cellText(int row, int column) const {
    return m_model->data(m_model->index(row, column), Qt::DisplayRole).toString();
}

QRect ScheduleGrid::cellRect(int row, int column) const {
    return visualRect(m_model->index(row, column));
}

} // namespace tulmo
