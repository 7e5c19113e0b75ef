#include "SqlListModel.h"
#include "common/DateFormats.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QSqlRecord>

namespace tulmo {

SqlListModel::SqlListModel(QString sql, QList<Column> colunas, QObject *parent)
    : QSqlQueryModel(parent)
    , m_sql(std::move(sql))
    , m_colunas(std::move(colunas)) {
    m_fonte.fill(-1, m_colunas.size());
}

void SqlListModel::reabrir(QSqlDatabase db) {
    // Clearing first ends the old cursor (and its transaction) before the new one starts.
    clear();
    QSqlQuery q(db);
    q.exec(m_sql);
    setQuery(std::move(q));
}

void SqlListModel::queryChange() {
    const QSqlRecord rec = record();
    for (qsizetype i = 0; i < m_colunas.size(); ++i)
        m_fonte[i] = rec.indexOf(m_colunas[i].campo);
}

int SqlListModel::colunaDe(const QString &campo) const {
    for (qsizetype i = 0; i < m_colunas.size(); ++i)
        if (m_colunas[i].campo.compare(campo, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

QVariant SqlListModel::valor(int row, const QString &campo) const {
    const int c = record().indexOf(campo);
    if (c < 0 || row < 0 || row >= rowCount()) return {};
    return QSqlQueryModel::data(createIndex(row, c), Qt::DisplayRole);
}

int SqlListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_colunas.size());
}

QVariant SqlListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.column() >= m_colunas.size()) return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    const int c = m_fonte[index.column()];
    if (c < 0) return {};
    const QVariant v = QSqlQueryModel::data(createIndex(index.row(), c), role);
    if (role == Qt::DisplayRole && m_colunas[index.column()].data) {
        const QDateTime t = v.toDateTime();
        return t.isValid() ? t.toString(DateFormats::kGridDateTime) : QString();
    }
    return v;
}

QVariant SqlListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= m_colunas.size())
        return QSqlQueryModel::headerData(section, orientation, role);
    const Column &c = m_colunas[section];
    return c.titulo.isEmpty() ? c.campo : c.titulo;
}

} // namespace tulmo
