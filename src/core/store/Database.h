#pragma once

#include <atomic>

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

namespace tulmo {

// Where the station's database is: the embedded engine on a file beside the program, or a
// Firebird server (Config.ini [Banco]).
struct DatabaseLocation {
    static constexpr int kDefaultPort = 3050;
    QString server; // host name or address; empty: the embedded engine on file
    int port = kDefaultPort;
    QString file;   // the path (or alias) on the server, or the embedded file
    QString user;
    QString password;
    // The embedded engine on file, with the station's own user and password.
    static DatabaseLocation embedded(QString file);
    bool onServer() const { return !server.isEmpty(); }
    // "servidor/porta:arquivo" on a server, the file otherwise: what the engine attaches to.
    QString connectionString() const;
    // How the operator is told where it is: "arquivo no servidor servidor:porta", or the file.
    QString shown() const;
};

// The database connections of the console. The main connection carries every statement of
// reception, recording, supervision and the upgrade; the second one serves the table
// editors and the caller-identification look-up. Both reach the same file, through the
// embedded engine when no server is given, or through a Firebird server.
//
// Each statement runs in a transaction of its own that is committed as soon as it has
// run, so every change is durable and visible to the other connections at once.
class Database {
public:
    static constexpr const char *kUser = "SYSDBA";
    static constexpr const char *kPassword = "pelmorank";

    explicit Database(QString databaseFile);
    explicit Database(DatabaseLocation location);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    const QString &databaseFile() const { return m_location.file; }
    const QString &host() const { return m_location.server; }
    const DatabaseLocation &location() const { return m_location; }
    // A connection of the driver named name, set to the database at where (not opened).
    static QSqlDatabase addConnection(const QString &name, const DatabaseLocation &where);
    // Opens both connections. A missing database is created first with the base tables, on
    // the embedded engine or on the server alike. On failure error holds the clear message
    // for the operator, which names the database and, on a server, the server.
    bool open(QString *error);
    void close();
    bool isOpen() const;

    QSqlDatabase primary() const;
    QSqlDatabase secondary() const;
    // One more connection to the same database under name, for long work on a thread of its
    // own: call it from that thread (a connection serves only the thread that opened it); the
    // caller closes and removes it.
    bool openOwnConnection(const QString &name, QString *reason) { return openConnection(name, reason); }

    // A cheap round trip on the main connection; reopens it when the trip fails.
    enum class State { Alive, Reconnected, Unreachable };
    State ensureAlive() { return ensureAlive(m_mainName); }
    // Ends the main connection together with any transaction of it that the driver no longer
    // holds, and opens it again. Qt's QIBASE driver forgets a transaction whose commit failed;
    // closing alone cannot end it (the engine keeps an attachment with open transactions), so
    // its locks would stay until the process ends.
    State restartPrimary() { return restart(m_mainName); }
    // The same for a connection of openOwnConnection, from the thread that opened it.
    State ensureAlive(const QString &name);
    State restart(const QString &name);
    // How many times a connection of this database, on any thread, found its attachment gone
    // and was opened again: a server that went away and came back. What lives on an
    // attachment alone (the main connection, its subscriptions to database events) is then
    // set up again by whoever watches this.
    quint64 reopenings() const { return m_reopenings.load(); }

    // Whether the database turned a statement away for the values it was given, so that it
    // would turn the same values away again; any other error is the database's own state.
    static bool isDataError(const QSqlError &error);

    // Whether the file at the database's path is still the one the engine opened (the same
    // device and inode). A file deleted while the console runs stays open in the engine, and
    // whatever is committed into it is lost when the console stops; a file put in its place
    // is not the one the engine writes to. False then, with the operator's text in error.
    // Always true on a server, whose files this process cannot see.
    bool fileStillOpen(QString *error) const;
    // "O banco de dados Dados/TULMO.FDB foi apagado ou substituído …".
    QString fileGoneMessage() const;

    // Whether this open created the file (a new installation).
    bool created() const { return m_created; }

    // Stops the embedded engine of this process (after every connection is closed).
    static void shutdownEngine();
    // The embedded engine takes SIGINT and SIGTERM for itself as it starts, and on either ends
    // every attachment at once, under whatever the process is doing then. With this it leaves
    // them alone and calls onSignal instead (from a thread of its own, so onSignal must only
    // wake the process), which ends in its own time and stops the engine last.
    static void leaveSignalsToProcess(void (*onSignal)());

    // "Não foi possível abrir o banco de dados …" with where it is, as the operator is shown it
    // (DatabaseLocation::shown: a server's path keeps its own separators), and the reason.
    static QString openFailureMessage(const QString &shown, const QString &reason);

private:
    bool openConnection(const QString &name, QString *reason);
    static void tellStation(QSqlDatabase db);
    bool createOnServer();
    void rememberFile();

    DatabaseLocation m_location;
    QString m_mainName;
    QString m_secondName;
    bool m_created = false;
    std::atomic<quint64> m_reopenings{0};
    // The device and inode of the file opened; unknown (0, 0) on a server or before open.
    quint64 m_device = 0;
    quint64 m_inode = 0;
};

} // namespace tulmo
