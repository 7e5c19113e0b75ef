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
        QString campo;
        QString titulo;    // the field name when empty
        bool data = false; // shown as "dd.MM.yyyy HH:mm"
    };

    SqlListModel(QString sql, QList<Column> colunas, QObject *parent = nullptr);

    // Closes the list and opens it again on db.
    void reabrir(QSqlDatabase db);
    const QString &sql() const { return m_sql; }
    const QList<Column> &colunas() const { return m_colunas; }
    // The shown column of a field, or -1.
    int colunaDe(const QString &campo) const;
    // A field of a fetched row, whether shown or not.
    QVariant valor(int row, const QString &campo) const;

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

protected:
    void queryChange() override;

private:
    QString m_sql;
    QList<Column> m_colunas;
    QList<int> m_fonte; // position of each shown column in the select's record
};

} // namespace tulmo
