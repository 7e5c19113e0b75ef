#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

namespace tulmo {

class Database;
struct GprsModule;

// The GPRS rows as identification reads them, kept in memory. A module identifying itself is
// answered without a statement: each transaction the engine starts writes the database header
// through to the disk, and a region's modules reconnecting at once would otherwise wait for
// one such write each.
//
// Every row is read in one select at the first identification. The console's own writes
// (the device link's registrations, the registry's saves and deletions, all through
// GprsRepository) are told to it once committed. A module it does not hold is read from the
// table before it is called unknown, so a row another writer added is found; a change another
// workstation makes to a row it holds is seen once that workstation's notice calls refresh()
// or reload().
class GprsDirectory {
public:
    // What identification needs of a row.
    struct Entry {
        QString conta;
        QString status; // "A" reviewed by an operator, "P" pending
        QDateTime data;
        bool blocked = false; // LISTA_NEGRA 1
    };
    enum class Found { Yes, No, Failed };

    explicit GprsDirectory(Database &database);

    // The module with identifier imei; Failed when the table had to be read and could not be.
    Found find(const QString &imei, Entry *entry = nullptr);

    // Reads every row again in place of what is held. False when the table could not be read:
    // what was held stays.
    bool reload(QString *errorText = nullptr);
    // Reads one module's row again: the row as it is now, or its absence.
    Found refresh(const QString &imei);

    // A row this console committed: written, or deleted.
    void put(const GprsModule &m);
    void remove(const QString &imei);

    bool isLoaded() const { return m_loaded; }
    qsizetype size() const { return m_rows.size(); }

private:
    static Entry entryOf(const GprsModule &m);

    Database &m_database;
    QHash<QString, Entry> m_rows;
    bool m_loaded = false;
};

} // namespace tulmo
