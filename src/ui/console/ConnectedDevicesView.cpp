#include "ConnectedDevicesView.h"

#include "core/reception/ConnectedDevicesModel.h"
#include "core/reception/ConnectionRegistry.h"

#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace tulmo {

namespace {

using State = ConnectedDevicesModel::State;

struct StateColors {
    QColor background, text;
};

// Green for a device on line, red for one gone whose row waits for the keep-alive, blue for a
// DC-09 sender over UDP, which has no connection to lose.
StateColors colorsOf(State s) {
    switch (s) {
    case State::Connected:
        return {QColor(0xD8, 0xF0, 0xD8), QColor(Qt::black)};
    case State::Disconnected:
        return {QColor(0xF4, 0xD0, 0xD0), QColor(0x60, 0x60, 0x60)};
    case State::Datagram:
        break;
    }
    return {QColor(0xE0, 0xEA, 0xF6), QColor(Qt::black)};
}

State stateAt(const QModelIndex &sourceIndex) {
    return State(sourceIndex.data(ConnectedDevicesModel::StateRole).toInt());
}

} // namespace

ConnectedDevicesFilter::ConnectedDevicesFilter(QObject *parent)
    : QSortFilterProxyModel(parent) {
    setSortRole(ConnectedDevicesModel::SortRole);
    setDynamicSortFilter(true);
}

void ConnectedDevicesFilter::setText(const QString &text) {
    if (text.trimmed() == m_text) return;
    m_text = text.trimmed();
    invalidateFilter();
}

void ConnectedDevicesFilter::setConnectedOnly(bool only) {
    if (only == m_connectedOnly) return;
    m_connectedOnly = only;
    invalidateFilter();
}

bool ConnectedDevicesFilter::filterAcceptsRow(int sourceRow,
                                              const QModelIndex &sourceParent) const {
    const QAbstractItemModel *m = sourceModel();
    const QModelIndex first = m->index(sourceRow, 0, sourceParent);
    if (m_connectedOnly && stateAt(first) != State::Connected) return false;
    if (m_text.isEmpty()) return true;
    if (first.data(ConnectedDevicesModel::StateTextRole)
            .toString()
            .contains(m_text, Qt::CaseInsensitive))
        return true;
    for (int c = 0; c < m->columnCount(sourceParent); ++c)
        if (m->index(sourceRow, c, sourceParent)
                .data()
                .toString()
                .contains(m_text, Qt::CaseInsensitive))
            return true;
    return false;
}

QVariant ConnectedDevicesFilter::data(const QModelIndex &index, int role) const {
    if (role != Qt::BackgroundRole && role != Qt::ForegroundRole)
        return QSortFilterProxyModel::data(index, role);
    const StateColors c = colorsOf(stateAt(mapToSource(index)));
    return QBrush(role == Qt::BackgroundRole ? c.background : c.text);
}

ConnectedDevicesView::ConnectedDevicesView(ConnectedDevicesModel *model, QTableView *grid,
                                           QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_filter(new ConnectedDevicesFilter(this))
    , m_grid(grid) {
    setObjectName(QStringLiteral("Painel_Conectados"));
    m_filter->setSourceModel(model);
    m_grid->setModel(m_filter);
    // Acceptance order until the operator sorts by a column.
    m_grid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_grid->setSortingEnabled(true);

    m_text = new QLineEdit;
    m_text->setObjectName(QStringLiteral("Edit_Filtro_Conectados"));
    m_text->setPlaceholderText(QStringLiteral("Texto em qualquer coluna ou no estado"));
    m_text->setClearButtonEnabled(true);
    m_connectedOnly = new QCheckBox(QStringLiteral("Somente conectados"));
    m_connectedOnly->setObjectName(QStringLiteral("Check_Somente_Conectados"));
    m_counts = new QLabel;
    m_counts->setObjectName(QStringLiteral("Label_Estado_Conectados"));
    connect(m_text, &QLineEdit::textChanged, m_filter, &ConnectedDevicesFilter::setText);
    connect(m_connectedOnly, &QCheckBox::toggled, m_filter,
            &ConnectedDevicesFilter::setConnectedOnly);

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Filtrar:")));
    bar->addWidget(m_text, 1);
    bar->addWidget(m_connectedOnly);
    bar->addWidget(m_counts);
    auto *l = new QVBoxLayout(this);
    l->setContentsMargins(0, 2, 0, 0);
    l->addLayout(bar);
    l->addWidget(m_grid, 1);

    // Thousands of rows change together after a network failure: counted once after them.
    auto *later = new QTimer(this);
    later->setSingleShot(true);
    later->setInterval(200);
    connect(later, &QTimer::timeout, this, &ConnectedDevicesView::updateCounts);
    auto soon = [later] {
        if (!later->isActive()) later->start();
    };
    connect(model, &QAbstractItemModel::rowsInserted, later, soon);
    connect(model, &QAbstractItemModel::rowsRemoved, later, soon);
    connect(model, &QAbstractItemModel::dataChanged, later, soon);
    connect(model, &QAbstractItemModel::modelReset, later, soon);
    updateCounts();
}

int ConnectedDevicesView::sourceRow(const QModelIndex &gridIndex) const {
    if (!gridIndex.isValid()) return -1;
    const QModelIndex i =
        gridIndex.model() == m_filter ? m_filter->mapToSource(gridIndex) : gridIndex;
    return i.isValid() ? i.row() : -1;
}

void ConnectedDevicesView::updateCounts() {
    const ConnectionRegistry &registry = m_model->registry();
    int n[3] = {};
    for (int r = 0; r < registry.rowCount(); ++r)
        ++n[int(ConnectedDevicesModel::stateOf(registry, r))];
    auto part = [](State s, const QString &text, int count) {
        return QStringLiteral("<span style=\"background:%1; color:%2\">&nbsp;%3: %4&nbsp;</span>")
            .arg(colorsOf(s).background.name(), colorsOf(s).text.name(), text)
            .arg(count);
    };
    m_counts->setText(part(State::Connected, QStringLiteral("Conectados"), n[0]) +
                      QLatin1Char(' ') +
                      part(State::Disconnected, QStringLiteral("Desconectados"), n[1]) +
                      QLatin1Char(' ') + part(State::Datagram, QStringLiteral("UDP"), n[2]));
}

} // namespace tulmo
