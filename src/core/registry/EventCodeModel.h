#pragma once

#include "core/registry/EventCodeRepository.h"

#include <QAbstractTableModel>
#include <QList>
#include <QSqlDatabase>

namespace tulmo {

class Prompt;

// The catalogue as the grid edits it, the way a table editor always has: typing into a row
// puts that row in edit state; the row is posted (defaults, then saved and committed) when
// the operator leaves it or the window closes; a row that cannot be saved stays in edit state
// with everything typed, and the operator is told why. At most one row is in edit state.
class EventCodeModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit EventCodeModel(Prompt *prompt, QObject *parent = nullptr);

    // Reads every row again from db, which the model then writes to. Any row in edit state
    // is dropped. False (with the operator told) when the catalogue could not be read.
    bool reopen(QSqlDatabase db);

    const EventCode &row(int r) const;
    // The row in edit state, or -1.
    int editRow() const { return m_editRow; }
    bool isInserting() const { return m_inserting; }

    // Saves the row in edit state; true when none is in edit state or it was saved.
    bool post();
    // Drops the changes of the row in edit state (a new row goes away).
    void cancel();
    // A new empty row at position r (the end when r is out of range), in edit state. The row
    // being edited is posted first; false when that failed.
    bool insertAt(int r);
    // Deletes row r from the catalogue (a new row not yet saved is just dropped).
    bool removeAt(int r);
    // The question before removeAt(r), naming what it deletes: "Excluir o código 1100 -
    // EMERGÊNCIA MÉDICA?" (the code as stored, whatever was typed over it since).
    QString deletionQuestion(int r) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // A number column takes digits only (an empty cell is null); a text is cut to its width.
    // Bad input is refused with a message and changes nothing.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

private:
    void message(const QString &text, bool error = false) const;
    void beginEdit(int r);

    Prompt *m_prompt;
    QSqlDatabase m_db;
    QList<EventCode> m_rows;
    int m_editRow = -1;
    bool m_inserting = false;
    EventCode m_saved;   // the row as it was before the edit
    QString m_savedCode; // its code in the catalogue
};

} // namespace tulmo
