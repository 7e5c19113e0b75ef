#include "SqlListModel.h"
#include "core/common/DateFormats.h"

#include <QDateTime>
#include <QLocale>
#include <QSqlQuery>

namespace tulmo {

SqlListModel::SqlListModel(QString sql, QList<Column> columns, int rowLimit, QObject *parent)
    : QAbstractTableModel(parent)
    , m_sql(std::move(sql))
    , m_columns(std::move(columns))
    , m_rowLimit(rowLimit) {
    m_source.fill(-1, m_columns.size());
}

void SqlListModel::reopen(QSqlDatabase db) {
    beginResetModel();
    m_rows.clear();
    m_record = QSqlRecord();
    m_error = QSqlError();
    if (!read(db)) m_rows.clear();
    for (qsizetype i = 0; i < m_columns.size(); ++i)
        m_source[i] = m_record.indexOf(m_columns[i].field);
    endResetModel();
}

bool SqlListModel::read(QSqlDatabase db) {
    // On a connection with no transaction of its own, the driver runs each select in one it
    // starts for that query alone and commits when the query is dropped, so the query lives
    // only here: the transaction ends as soon as the rows are read. (Qt's driver takes no
    // transaction parameters, so it cannot be made read-committed read-only; being over within
    // the reopen is what lets the old versions go.) Inside a transaction the caller began, the
    // select joins it and the caller ends it.
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(m_sql)) {
        m_error = q.lastError();
        return false;
    }
    m_record = q.record();
    const int fields = m_record.count();
    while ((m_rowLimit <= 0 || m_rows.size() < m_rowLimit) && q.next()) {
        QVariantList row;
        row.reserve(fields);
        for (int f = 0; f < fields; ++f)
            row.append(q.value(f));
        m_rows.append(std::move(row));
    }
    if (q.lastError().isValid()) {
        m_error = q.lastError();
        return false;
    }
    q.finish();
    return true;
}

void SqlListModel::clear() {
    beginResetModel();
    m_rows.clear();
    m_record = QSqlRecord();
    m_error = QSqlError();
    m_source.fill(-1, m_columns.size());
    endResetModel();
}

int SqlListModel::columnOf(const QString &field) const {
    for (qsizetype i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].field.compare(field, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

QVariant SqlListModel::value(int row, const QString &field) const {
    const int c = m_record.indexOf(field);
    if (c < 0 || row < 0 || row >= m_rows.size()) return {};
    return m_rows[row].value(c);
}

int SqlListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int SqlListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant SqlListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.column() >= m_columns.size()) return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    const int c = m_source[index.column()];
    if (c < 0 || index.row() >= m_rows.size()) return {};
    const QVariant v = m_rows[index.row()].value(c);
    if (role != Qt::DisplayRole) return v;
    if (m_columns[index.column()].data) {
        const QDateTime t = v.toDateTime();
        return t.isValid() ? t.toString(DateFormats::kDateTime) : QString();
    }
    // Every other date, time and number in the Brazilian way, whatever the system's locale.
    switch (v.typeId()) {
    case QMetaType::QDateTime:
        return v.toDateTime().toString(DateFormats::kDateTime);
    case QMetaType::QDate:
        return v.toDate().toString(DateFormats::kDate);
    case QMetaType::QTime:
        return v.toTime().toString(DateFormats::kTime);
    case QMetaType::Double:
    case QMetaType::Float:
        return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(v.toDouble());
    default:
        return v;
    }
}

QVariant SqlListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= m_columns.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    const Column &c = m_columns[section];
    return c.title.isEmpty() ? c.field : c.title;
}

} // namespace tulmo
