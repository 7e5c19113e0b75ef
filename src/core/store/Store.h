#pragma once

#include "core/store/Database.h"

#include <QString>

namespace tulmo {

class Clock;

// The station's database as a service: its connections and its schema. Whoever opens it finds
// every table, column, index and mark the console needs, a new installation included; reception,
// recording, the registry and the reports all use this one store.
class Store {
public:
    // dataDir holds TULMO.FDB.
    explicit Store(const QString &dataDir);
    // The database where Config.ini's [Banco] says.
    explicit Store(DatabaseLocation where);
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    Database &database() { return m_database; }
    const Database &database() const { return m_database; }

    // Opens the connections (a new installation's file is created) and brings the schema up
    // to date. False with the operator's message in error when the database cannot be used.
    // A new database is given the standard event codes; when that fails, catalogueError
    // holds why (the console runs on without them).
    bool open(const Clock &clock, QString *error, QString *catalogueError);

private:
    Database m_database;
};

} // namespace tulmo
