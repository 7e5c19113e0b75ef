#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlRecord>
#include <QString>
#include <QVariant>

namespace tulmo {

// A list of the main window over one select text: the columns shown, in their order and with
// their titles, picked by field name from the rows the select returns. Reopening runs the
// select again and reads its rows into memory at once; no cursor, and so no transaction, stays
// open while the list is only shown: an open one would keep Firebird from collecting the old
// record versions that every recorded event leaves in CLIENTES and EVENTOS.
class SqlListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Column {
        QString field;
        QString title;     // the field name when empty
        bool data = false; // shown as DateFormats::kDateTime
    };

    // rowLimit > 0 reads only that many rows, the first in the select's order.
    SqlListModel(QString sql, QList<Column> columns, int rowLimit = 0, QObject *parent = nullptr);
    SqlListModel(QString sql, QList<Column> columns, QObject *parent)
        : SqlListModel(std::move(sql), std::move(columns), 0, parent) {}

    // Reads the list again from db.
    void reopen(QSqlDatabase db);
    // Empties the list.
    void clear();
    const QString &sql() const { return m_sql; }
    const QList<Column> &columns() const { return m_columns; }
    int rowLimit() const { return m_rowLimit; }
    // Why the last reopen read nothing; invalid when it succeeded.
    const QSqlError &lastError() const { return m_error; }
    // The fields the select returned, without values.
    const QSqlRecord &record() const { return m_record; }
    // The shown column of a field, or -1.
    int columnOf(const QString &field) const;
    // A field of a read row, whether shown or not.
    QVariant value(int row, const QString &field) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Every row is read at reopen: there is never more to fetch.
    bool canFetchMore(const QModelIndex & = QModelIndex()) const override { return false; }
    void fetchMore(const QModelIndex & = QModelIndex()) override {}

private:
    bool read(QSqlDatabase db);

    QString m_sql;
    QList<Column> m_columns;
    int m_rowLimit;
    QSqlRecord m_record;
    QList<QVariantList> m_rows;
    QList<int> m_source; // position of each shown column in the select's record
    QSqlError m_error;
};

} // namespace tulmo
