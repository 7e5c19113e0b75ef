#include "RecordingWorker.h"

#include <QAtomicInt>
#include <QMetaObject>

namespace tulmo {

namespace {
QString connectionName() {
    static QAtomicInt counter;
    return QStringLiteral("tulmo_gravacao_%1").arg(counter.fetchAndAddRelaxed(1));
}
} // namespace

QSqlDatabase RecordingLink::db() const {
    return m_connection.isEmpty() ? m_database.primary()
                                  : QSqlDatabase::database(m_connection, false);
}

Database::State RecordingLink::ensureAlive() const {
    return m_connection.isEmpty() ? m_database.ensureAlive() : m_database.ensureAlive(m_connection);
}

Database::State RecordingLink::restart() const {
    return m_connection.isEmpty() ? m_database.restartPrimary() : m_database.restart(m_connection);
}

RecordingWorker::RecordingWorker(Database &database, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_connection(connectionName())
    , m_thread([this] { run(); }) {}

RecordingWorker::~RecordingWorker() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void RecordingWorker::post(Job job) {
    ++m_pending;
    {
        std::lock_guard lock(m_mutex);
        m_jobs.append(std::move(job));
    }
    m_wake.notify_one();
}

void RecordingWorker::finish() {
    {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_jobs.isEmpty() && !m_busy; });
    }
    deliverNow();
}

void RecordingWorker::deliverNow() {
    QList<std::function<void()>> done;
    {
        std::lock_guard lock(m_mutex);
        done = std::exchange(m_done, {});
        m_deliveryPosted = false;
    }
    for (const auto &d : done) {
        --m_pending;
        if (d) d();
    }
}

void RecordingWorker::run() {
    {
        // Opened here: a connection serves only the thread that opened it. One that cannot be
        // opened now is opened again by the first recording's check.
        QString reason;
        m_database.openOwnConnection(m_connection, &reason);
        RecordingLink link(m_database, m_connection);
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || !m_jobs.isEmpty(); });
            if (m_jobs.isEmpty()) break; // stopping, and nothing left
            Job job = m_jobs.takeFirst();
            m_busy = true;
            lock.unlock();
            std::function<void()> here = job(link);
            lock.lock();
            m_busy = false;
            m_done.append(std::move(here));
            if (!m_deliveryPosted) {
                m_deliveryPosted = true;
                QMetaObject::invokeMethod(this, [this] { deliverNow(); }, Qt::QueuedConnection);
            }
            m_idle.notify_all();
        }
        lock.unlock();
        QSqlDatabase::database(m_connection, false).close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

} // namespace tulmo
