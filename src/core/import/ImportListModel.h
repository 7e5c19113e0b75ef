#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>

namespace tulmo {

// One event of an imported file that the database does not hold yet.
struct ImportRow {
    QString conta;   // six characters
    QString cliente; // CLIENTES.NOME, empty without a client
    QString descricao;
    QString data; // dd/MM/yyyy HH:mm:ss
    QString codigo;
    QString argumento; // zone or user
    QString particao;
    QString nomeParticao;
    QString tipo;
    QString string1; // the receiver frame and its 0x14
    QString string2; // the event line
    QString ideCall;
    bool checked = true;
};

// Grid_Eventos_Importados: the listed events, each with its check box in the "Conta" column.
class ImportListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Conta,
        Cliente,
        Descricao,
        Data,
        Codigo,
        Argumento,
        Particao,
        NomeParticao,
        Tipo,
        String1,
        String2,
        IdeCall,
        ColumnCount
    };
    static const QStringList &titles();

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation o, int role = Qt::DisplayRole) const override;

    void clear();
    void append(const QList<ImportRow> &rows);
    // Takes the given rows out of the list.
    void removeRowsAt(QList<int> rows);
    const ImportRow &row(int i) const { return m_rows.at(i); }
    // Every check box turned over (a click on the "Conta" title).
    void invertChecks();
    // The checked rows in list order.
    QList<int> checkedRows() const;

private:
    QList<ImportRow> m_rows;
};

} // namespace tulmo
