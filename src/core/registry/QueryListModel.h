#pragma once

#include "core/registry/AccountBrowserRepository.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>

#include <functional>

namespace tulmo {

// A read-only list of rows read by a repository: the columns shown, by field name and with
// their titles, over whatever fields the rows hold. The rows are read elsewhere (a page at a
// time when the list is long); the list only keeps them, so no cursor and no transaction stays
// open while it is shown. When the reader says more rows follow, the view asks for them as it
// scrolls (fetchMore).
class QueryListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Column {
        QString field;
        QString title;         // the field name when empty
        bool dateTime = false; // shown as DateFormats::kDateTime
    };

    explicit QueryListModel(QList<Column> columns, QObject *parent = nullptr);

    // Replaces the rows; more: whether further rows follow.
    void reset(ReadRows rows, bool more);
    void append(const ReadRows &rows, bool more);
    void clear();
    // Reads the next page when the view scrolls to the end.
    void setFetcher(std::function<void()> fetcher) { m_fetcher = std::move(fetcher); }

    QVariant value(int row, const QString &field) const;
    const QList<Column> &columns() const { return m_columns; }
    int columnOf(const QString &field) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent = QModelIndex()) const override;
    void fetchMore(const QModelIndex &parent = QModelIndex()) override;

private:
    QList<Column> m_columns;
    QSqlRecord m_record;
    QList<QVariantList> m_rows;
    QList<int> m_source; // field of each shown column, -1 when absent
    bool m_more = false;
    std::function<void()> m_fetcher;
};

} // namespace tulmo
