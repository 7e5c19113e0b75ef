#pragma once

#include "reports/EventPurgeRepository.h"

#include <QObject>

#include <atomic>
#include <memory>

class QThread;

namespace tulmo {

class Database;

// Runs the event purge on a thread and a database connection of its own, in one transaction,
// so that deleting hundreds of thousands of events never holds the console's event loop:
// reception, recording and the lists go on meanwhile. Nothing is deleted unless all of it is.
class EventPurger : public QObject {
    Q_OBJECT
public:
    explicit EventPurger(Database &database, QObject *parent = nullptr);
    // Cancels a purge in progress (the engine rolls it back: nothing deleted) and joins it.
    ~EventPurger() override;

    // Starts the purge; false while another one runs.
    bool start(const PurgeFilter &filter);
    bool isRunning() const { return m_thread != nullptr; }

signals:
    // After the commit, or after the rollback with the reason.
    void finished(bool ok, int deleted, const QString &error);

private:
    void done(bool ok, int deleted, const QString &error);

    Database &m_database;
    QThread *m_thread = nullptr;
    // The worker's attachment, for a cancel from this thread (0: none).
    std::shared_ptr<std::atomic<quintptr>> m_attachment;
};

} // namespace tulmo
