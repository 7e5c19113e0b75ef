#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QSqlQueryModel>
#include <QString>

namespace tulmo {

// A live list of the main window over one select text: the columns shown, in their order and
// with their titles, picked by field name from the rows the select returns. Rows are fetched
// as the grid shows them; reopening runs the select again.
class SqlListModel : public QSqlQueryModel {
    Q_OBJECT
public:
    struct Column {
        QString field;
        QString title;    // the field name when empty
        bool data = false; // shown as "dd.MM.yyyy HH:mm"
    };

    SqlListModel(QString sql, QList<Column> columns, QObject *parent = nullptr);

    // Closes the list and opens it again on db.
    void reopen(QSqlDatabase db);
    const QString &sql() const { return m_sql; }
    const QList<Column> &columns() const { return m_columns; }
    // The shown column of a field, or -1.
    int columnOf(const QString &field) const;
    // A field of a fetched row, whether shown or not.
    QVariant value(int row, const QString &field) const;

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

protected:
    void queryChange() override;

private:
    QString m_sql;
    QList<Column> m_columns;
    QList<int> m_source; // position of each shown column in the select's record
};

} // namespace tulmo
