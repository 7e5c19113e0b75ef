#pragma once

#include "core/reports/EventPurgeRepository.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace tulmo {

class Database;

// Runs the event purge on a thread and a database connection of its own, in one transaction,
// so that deleting hundreds of thousands of events never holds the console's event loop:
// reception, recording and the lists go on meanwhile. Nothing is deleted unless all of it is.
// The count that comes before it (how many would go, how many of them untreated) runs the
// same way: over a year of events it is a read of all of them.
class EventPurger : public QObject {
    Q_OBJECT
public:
    explicit EventPurger(Database &database, QObject *parent = nullptr);
    // Cancels a purge in progress (the engine rolls it back: nothing deleted) and joins it.
    ~EventPurger() override;

    // Starts counting what the filter takes; false while a count or a purge runs.
    bool survey(const PurgeFilter &filter);
    // Starts the purge; false while a count or a purge runs.
    bool start(const PurgeFilter &filter);
    bool isRunning() const { return m_thread != nullptr; }

signals:
    // The count, or the reason it could not be read.
    void surveyed(bool ok, const PurgeSurvey &survey, const QString &error);
    // After the commit, or after the rollback with the reason.
    void finished(bool ok, int deleted, const QString &error);

private:
    // Runs work on a thread and connection of its own; then, back on this thread, report.
    using Work = std::function<bool(QSqlDatabase db, QString *error)>;
    using Report = std::function<void(bool ok, const QString &error)>;
    bool launch(Work work, Report report);
    void done(bool ok, const QString &error, const Report &report);

    Database &m_database;
    QThread *m_thread = nullptr;
    // The worker's attachment, for a cancel from this thread (0: none).
    std::shared_ptr<std::atomic<quintptr>> m_attachment;
};

} // namespace tulmo
