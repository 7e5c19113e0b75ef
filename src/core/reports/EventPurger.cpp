#include "core/reports/EventPurger.h"

#include "core/store/Database.h"

#include <ibase.h>

#include <QAtomicInt>
#include <QSqlDriver>
#include <QThread>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#endif

namespace tulmo {

namespace {

QString connectionName() {
    static QAtomicInt counter;
    return QStringLiteral("tulmo_apagar_%1").arg(counter.fetchAndAddRelaxed(1));
}

quintptr attachmentOf(const QSqlDatabase &db) {
    const QVariant h = db.driver()->handle();
    // The driver hands its isc_db_handle over under whatever type name that has here.
    if (!h.isValid() || h.metaType().sizeOf() != qsizetype(sizeof(isc_db_handle))) return 0;
    return quintptr(*static_cast<const isc_db_handle *>(h.constData()));
}

constexpr quintptr kCancelled = ~quintptr(0);

// Work on a connection of the calling thread; false with the reason when it failed or was
// cancelled.
bool runOn(Database &database, const QString &name, std::atomic<quintptr> &attachment,
           const std::function<bool(QSqlDatabase, QString *)> &work, QString *error) {
#ifdef Q_OS_LINUX
    // Below the event loop's thread when both want the processor (here the priority of the
    // calling thread alone; QThread's priorities do nothing under the default scheduler).
    setpriority(PRIO_PROCESS, 0, 10);
#endif
    if (!database.openOwnConnection(name, error)) return false;
    QSqlDatabase db = QSqlDatabase::database(name, false);
    quintptr none = 0;
    bool ok = false;
    if (attachment.compare_exchange_strong(none, attachmentOf(db))) ok = work(db, error);
    attachment.store(kCancelled);
    db.close();
    return ok;
}

} // namespace

EventPurger::EventPurger(Database &database, QObject *parent)
    : QObject(parent)
    , m_database(database) {}

EventPurger::~EventPurger() {
    if (!m_thread) return;
    // Ending the program does not wait for the purge: the engine stops the statement and
    // rolls the transaction back.
    const quintptr a = m_attachment->exchange(kCancelled);
    if (a != 0 && a != kCancelled) {
        ISC_STATUS_ARRAY status;
        isc_db_handle handle = isc_db_handle(a);
        fb_cancel_operation(status, &handle, fb_cancel_raise);
    }
    m_thread->wait();
    delete m_thread;
}

bool EventPurger::survey(const PurgeFilter &filter) {
    auto result = std::make_shared<PurgeSurvey>();
    return launch(
        [filter, result](QSqlDatabase db, QString *error) {
            const std::optional<PurgeSurvey> s = EventPurgeRepository::survey(db, filter, error);
            if (s) *result = *s;
            return s.has_value();
        },
        [this, result](bool ok, const QString &error) {
            emit surveyed(ok, ok ? *result : PurgeSurvey(), error);
        });
}

bool EventPurger::start(const PurgeFilter &filter) {
    auto deleted = std::make_shared<int>(0);
    return launch(
        [filter, deleted](QSqlDatabase db, QString *error) {
            // The old versions of the deleted rows are left to the engine's own collector
            // thread: reading them here to collect them cooperatively took longer and held the
            // console's recording back more (measured by bench_purge).
            *deleted = EventPurgeRepository::purge(db, filter, error);
            return *deleted >= 0;
        },
        [this, deleted](bool ok, const QString &error) {
            emit finished(ok, ok ? *deleted : 0, error);
        });
}

bool EventPurger::launch(Work work, Report report) {
    if (m_thread) return false;
    m_attachment = std::make_shared<std::atomic<quintptr>>(0);
    Database *database = &m_database;
    m_thread = QThread::create([this, database, work = std::move(work), report = std::move(report),
                                attachment = m_attachment] {
        const QString name = connectionName();
        QString error;
        const bool ok = runOn(*database, name, *attachment, work, &error);
        QSqlDatabase::removeDatabase(name);
        QMetaObject::invokeMethod(
            this, [this, ok, error, report] { done(ok, error, report); }, Qt::QueuedConnection);
    });
    m_thread->setObjectName(QStringLiteral("ApagarEventos"));
    m_thread->start(QThread::LowPriority);
    return true;
}

void EventPurger::done(bool ok, const QString &error, const Report &report) {
    m_thread->wait(); // its last act was to post this
    delete m_thread;
    m_thread = nullptr;
    report(ok, error);
}

} // namespace tulmo
