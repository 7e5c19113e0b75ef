#pragma once

#include "core/registry/GprsRepository.h"

#include <QAbstractTableModel>
#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace tulmo {

class Clock;
class ConnectionRegistry;
class Database;
class GprsDirectory;
class Prompt;

// Table_GPRS: the registered modules, edited in place. Edits stay in the row until it is
// posted; posting applies the rules of an operator's save and commits the row at once.
//
// The registry reads through a connection of its own, made again on every reopen, so the rows
// the device link inserted meanwhile are there. Its saves and deletions are told to the
// directory identification answers from, so they hold from a module's next identification.
class GprsTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Col {
        ColImei,
        ColConta,
        ColStatus,
        ColData,
        ColListaNegra,
        ColEquipamento,
        ColSenha,
        ColumnCount
    };

    GprsTableModel(Database &database, GprsDirectory &directory, const Clock &clock,
                   QObject *parent = nullptr);
    ~GprsTableModel() override;

    // Connects again and reads every module. False when the database could not be read.
    bool reopen(QString *errorText = nullptr);
    // Drops the rows and the connection.
    void close();
    QSqlDatabase connection() const;

    const GprsModule &module(int row) const { return m_rows[row].module; }
    // Whether the row holds edits not saved yet.
    bool isDirty(int row) const { return m_rows[row].dirty; }
    // A blank row at the end, saved when posted.
    int appendModule();
    // Drops a new row nothing was typed into, as leaving it untouched cancels it. True when
    // it was dropped.
    bool dropIfBlank(int row);
    // Saves the row; a refusal or failure is told through prompt and leaves the edits there.
    bool post(int row, Prompt *prompt);
    // Deletes the module, then closes its live connection (if any) and drops its row from
    // the connected devices. An unsaved new row is only dropped.
    bool removeModule(int row, ConnectionRegistry *devices, Prompt *prompt);
    // The row's background as 0xRRGGBB.
    unsigned rowColor(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    struct Entry {
        GprsModule module;
        QString original; // IMEI of the saved row; empty for a new one
        bool dirty = false;
    };

    Database &m_database;
    GprsDirectory &m_directory;
    const Clock &m_clock;
    QString m_connectionName;
    QList<Entry> m_rows;
};

} // namespace tulmo
