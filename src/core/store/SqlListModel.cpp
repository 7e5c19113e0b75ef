#include "SqlListModel.h"
#include "common/DateFormats.h"

#include <QDateTime>
#include <QLocale>
#include <QSqlQuery>
#include <QSqlRecord>

namespace tulmo {

SqlListModel::SqlListModel(QString sql, QList<Column> columns, QObject *parent)
    : QSqlQueryModel(parent)
    , m_sql(std::move(sql))
    , m_columns(std::move(columns)) {
    m_source.fill(-1, m_columns.size());
}

void SqlListModel::reopen(QSqlDatabase db) {
    // Clearing first ends the old cursor (and its transaction) before the new one starts.
    clear();
    QSqlQuery q(db);
    q.exec(m_sql);
    setQuery(std::move(q));
}

void SqlListModel::queryChange() {
    const QSqlRecord rec = record();
    for (qsizetype i = 0; i < m_columns.size(); ++i)
        m_source[i] = rec.indexOf(m_columns[i].field);
}

int SqlListModel::columnOf(const QString &field) const {
    for (qsizetype i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].field.compare(field, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

QVariant SqlListModel::value(int row, const QString &field) const {
    const int c = record().indexOf(field);
    if (c < 0 || row < 0 || row >= rowCount()) return {};
    return QSqlQueryModel::data(createIndex(row, c), Qt::DisplayRole);
}

int SqlListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant SqlListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.column() >= m_columns.size()) return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    const int c = m_source[index.column()];
    if (c < 0) return {};
    const QVariant v = QSqlQueryModel::data(createIndex(index.row(), c), role);
    if (role != Qt::DisplayRole) return v;
    if (m_columns[index.column()].data) {
        const QDateTime t = v.toDateTime();
        return t.isValid() ? t.toString(DateFormats::kGridDateTime) : QString();
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
        return QSqlQueryModel::headerData(section, orientation, role);
    const Column &c = m_columns[section];
    return c.title.isEmpty() ? c.field : c.title;
}

} // namespace tulmo
