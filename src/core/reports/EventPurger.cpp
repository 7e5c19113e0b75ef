#include "reports/EventPurger.h"

#include "store/Database.h"

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

// The purge on a connection of the calling thread; -1 with the reason when nothing went.
int purgeOn(Database &database, const QString &name, const PurgeFilter &filter,
            std::atomic<quintptr> &attachment, QString *error) {
#ifdef Q_OS_LINUX
    // Below the event loop's thread when both want the processor (here the priority of the
    // calling thread alone; QThread's priorities do nothing under the default scheduler).
    setpriority(PRIO_PROCESS, 0, 10);
#endif
    if (!database.openOwnConnection(name, error)) return -1;
    QSqlDatabase db = QSqlDatabase::database(name, false);
    quintptr none = 0;
    int deleted = -1;
    if (attachment.compare_exchange_strong(none, attachmentOf(db))) {
        // The old versions of the deleted rows are left to the engine's own collector thread:
        // reading them here to collect them cooperatively took longer and held the console's
        // recording back more (measured by bench_purge).
        deleted = EventPurgeRepository::purge(db, filter, error);
    }
    attachment.store(kCancelled);
    db.close();
    return deleted;
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

bool EventPurger::start(const PurgeFilter &filter) {
    if (m_thread) return false;
    m_attachment = std::make_shared<std::atomic<quintptr>>(0);
    Database *database = &m_database;
    m_thread = QThread::create([this, database, filter, attachment = m_attachment] {
        const QString name = connectionName();
        QString error;
        const int deleted = purgeOn(*database, name, filter, *attachment, &error);
        QSqlDatabase::removeDatabase(name);
        QMetaObject::invokeMethod(
            this, [this, deleted, error] { done(deleted >= 0, deleted, error); },
            Qt::QueuedConnection);
    });
    m_thread->setObjectName(QStringLiteral("ApagarEventos"));
    m_thread->start(QThread::LowPriority);
    return true;
}

void EventPurger::done(bool ok, int deleted, const QString &error) {
    m_thread->wait(); // its last act was to post this
    delete m_thread;
    m_thread = nullptr;
    emit finished(ok, ok ? deleted : 0, error);
}

} // namespace tulmo
