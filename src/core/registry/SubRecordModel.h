#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

namespace tulmo {

// One of the account form's sub-record tables (USUARIOS, ZONAS, PARTICOES) as its grid edits
// it, on the second connection: the account's rows read at once when the page is shown, and
// one row at a time in edition, as a dataset keeps it. Columns: CONTA (the grid hides it), the
// key number and the description.
//
// A row is written when it is posted (the grid leaves it, "SALVAR" posts it), each post
// committed on its own; the account form discards the rows of an account it never saved. A
// row posted without its key is taken out of the grid and writes nothing: a new row is
// dropped, and a stored row keeps its stored values (in the original the post and the
// deletion that followed were both rolled back). A key the column cannot hold, or a
// description with a character the database cannot store, is refused at the post with the
// row kept as typed, for correction.
class SubRecordModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class Kind { Usuarios, Zonas, Particoes };
    enum Columns { ContaColumn = 0, KeyColumn = 1, DescriptionColumn = 2 };
    // The greatest key a SMALLINT holds.
    static constexpr int kMaxKey = 32767;

    explicit SubRecordModel(Kind kind, QObject *parent = nullptr);

    Kind kind() const { return m_kind; }
    // "USUARIOS", "ZONAS" or "PARTICOES".
    QString table() const;
    // "USUARIO", "ZONA" or "PARTICAO".
    QString keyColumn() const;
    // "DESCRICAO" or "NOME_PARTICAO".
    QString descriptionColumn() const;
    // The grid's titles of the key and the description.
    QString keyTitle() const;
    QString descriptionTitle() const;
    // 20, or 16 for a partition's name.
    int descriptionWidth() const;

    // The account's rows read again from db, any row in edition dropped first. A table
    // without rows shows one blank row to type into, which writes nothing unless typed into.
    bool reopen(QSqlDatabase db, const QString &conta, QString *errorText = nullptr);
    // Empties the model, any row in edition dropped (closing the form closes the tables).
    void close();
    const QString &conta() const { return m_conta; }

    // A new row keyed by the account, appended after posting the row in edition; its index, or
    // -1 when that post failed.
    int appendRow();
    // Posts the row in edition. False when the database refused it: the row stays in edition
    // and postFailed says why.
    bool post();
    // Drops the edition: a new row goes, an altered one gets its stored values back.
    void cancel();
    // The row in edition (new or altered), or -1.
    int editingRow() const { return m_editing; }
    bool isEditing() const { return m_editing >= 0; }

    QVariant key(int row) const;
    QVariant description(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // Editing a row other than the one in edition posts that one first (refused when its post
    // fails). The key takes digits only, or nothing (a number past kMaxKey is kept, for the
    // post to refuse with a message); the description is cut to its column's width.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    // The post could not be written. errorText is the database's text; reason, in
    // Portuguese, says which field and why when a field's value is at fault (empty otherwise).
    void postFailed(const QString &errorText, const QString &reason);
    // The key is outside what its column holds; message names the field and the range.
    void postRefused(const QString &message);

private:
    enum class State { Stored, Inserted, Edited };
    struct Row {
        QVariant chave, descricao;
        QVariant storedChave, storedDescricao;
        State state = State::Stored;
        bool modified = false;
    };
    void removeRowAt(int row);
    void keepOneRow();
    bool write(Row &r, QString *errorText, QString *reason);

    Kind m_kind;
    QSqlDatabase m_db;
    QString m_conta;
    QList<Row> m_rows;
    int m_editing = -1;
    bool m_posting = false;
};

} // namespace tulmo
