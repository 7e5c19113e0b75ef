#pragma once

#include "core/store/Database.h"

#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tulmo {

// The connection a recording runs on, and how to bring it back after a fault: the main one,
// on the event loop's thread, or the recording thread's own (a connection serves only the
// thread that opened it).
class RecordingLink {
public:
    explicit RecordingLink(Database &database, QString connection = QString())
        : m_database(database)
        , m_connection(std::move(connection)) {}
    QSqlDatabase db() const;
    Database::State ensureAlive() const;
    Database::State restart() const;
    Database &database() const { return m_database; }

private:
    Database &m_database;
    QString m_connection; // empty: the main connection
};

// Recordings that run and commit on a thread of their own, with a database connection of its
// own (the engine takes several in one process), so that no commit holds the event loop. Jobs
// run one at a time, in the order asked; what each leaves for the owner's thread (the effects
// of what it stored) runs there, in the same order.
class RecordingWorker : public QObject {
    Q_OBJECT
public:
    // Runs on the recording thread; returns what then runs on the owner's.
    using Job = std::function<std::function<void()>(RecordingLink &)>;

    explicit RecordingWorker(Database &database, QObject *parent = nullptr);
    // Finishes the jobs asked (what they leave here is dropped) and closes the connection.
    ~RecordingWorker() override;

    void post(Job job);
    // Waits for the jobs asked so far and runs what they left here at once, in order.
    void finish();
    // Jobs asked whose part here has not run yet.
    int pending() const { return m_pending; }

private:
    void run();
    void deliverNow();

    Database &m_database;
    const QString m_connection;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    QList<Job> m_jobs;
    QList<std::function<void()>> m_done;
    bool m_stop = false;
    bool m_busy = false;
    bool m_deliveryPosted = false;
    int m_pending = 0; // owner's thread only

    std::thread m_thread;
};

} // namespace tulmo
