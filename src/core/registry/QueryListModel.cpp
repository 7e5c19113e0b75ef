#include "QueryListModel.h"

#include "core/common/DateFormats.h"

#include <QDateTime>

namespace tulmo {

QueryListModel::QueryListModel(QList<Column> columns, QObject *parent)
    : QAbstractTableModel(parent)
    , m_columns(std::move(columns)) {
    m_source.fill(-1, m_columns.size());
}

void QueryListModel::reset(ReadRows rows, bool more) {
    beginResetModel();
    m_record = std::move(rows.record);
    m_rows = std::move(rows.rows);
    m_more = more;
    for (qsizetype i = 0; i < m_columns.size(); ++i)
        m_source[i] = m_record.indexOf(m_columns[i].field);
    endResetModel();
}

void QueryListModel::append(const ReadRows &rows, bool more) {
    m_more = more;
    if (rows.rows.isEmpty()) return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + rows.rows.size() - 1));
    m_rows += rows.rows;
    endInsertRows();
}

void QueryListModel::clear() {
    reset(ReadRows{}, false);
}

QVariant QueryListModel::value(int row, const QString &field) const {
    const int c = m_record.indexOf(field);
    if (c < 0 || row < 0 || row >= m_rows.size()) return {};
    return m_rows[row].value(c);
}

int QueryListModel::columnOf(const QString &field) const {
    for (qsizetype i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].field.compare(field, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

int QueryListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int QueryListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant QueryListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.column() >= m_columns.size() || index.row() >= m_rows.size())
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    const int c = m_source[index.column()];
    if (c < 0) return {};
    const QVariant v = m_rows[index.row()].value(c);
    if (role == Qt::DisplayRole && m_columns[index.column()].dateTime) {
        const QDateTime t = v.toDateTime();
        return t.isValid() ? t.toString(DateFormats::kDateTime) : QString();
    }
    return v;
}

QVariant QueryListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= m_columns.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    const Column &c = m_columns[section];
    return c.title.isEmpty() ? c.field : c.title;
}

bool QueryListModel::canFetchMore(const QModelIndex &parent) const {
    return !parent.isValid() && m_more && m_fetcher;
}

void QueryListModel::fetchMore(const QModelIndex &parent) {
    if (canFetchMore(parent)) m_fetcher();
}

} // namespace tulmo
