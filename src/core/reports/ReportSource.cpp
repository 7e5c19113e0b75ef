#include "core/reports/ReportSource.h"

#include "core/reports/ReportRepository.h"
#include "core/reports/ReportText.h"
#include "core/store/Database.h"

#include <QMutex>
#include <QSqlDatabase>
#include <QSqlError>

#include <algorithm>
#include <map>

namespace tulmo {

// Lives on the source's thread and owns the connection there.
class ReportSource::Worker : public QObject {
public:
    Worker(DatabaseLocation where, QString name)
        : m_where(std::move(where))
        , m_name(std::move(name)) {}
    ~Worker() override {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            if (db.isValid()) db.close();
        }
        if (QSqlDatabase::contains(m_name)) QSqlDatabase::removeDatabase(m_name);
    }

    QSqlDatabase db(QString *error) {
        QSqlDatabase d = QSqlDatabase::contains(m_name)
                             ? QSqlDatabase::database(m_name, false)
                             : Database::addConnection(m_name, m_where);
        if (d.isOpen()) return d;
        if (!d.open() && error)
            *error = Database::openFailureMessage(m_where.shown(), d.lastError().text());
        return d;
    }

    // The key after which page p starts: from the nearest page known, one pass over the keys
    // of the pages between, remembering where each starts.
    bool startOf(int p, QVariant *data, QVariant *seq, bool *beyond, QString *error) {
        *beyond = false;
        auto it = m_starts.upper_bound(p);
        --it; // page 0 is always known
        const int from = it->first;
        *data = it->second.first;
        *seq = it->second.second;
        if (from == p) return true;
        QSqlDatabase d = db(error);
        bool reached = false;
        const bool ok = ReportRepository::walkKeys(
            d, statement, *data, *seq, (p - from) * perPage,
            [&](int n, const QVariant &k, const QVariant &s) {
                if (n % perPage) return;
                m_starts[from + n / perPage] = {k, s};
                if (from + n / perPage == p) {
                    *data = k;
                    *seq = s;
                    reached = true;
                }
            },
            error);
        *beyond = !reached; // past the last event: the page is empty
        return ok;
    }

    void reset(const ReportStatement &st, int rowsPerPage) {
        statement = st;
        perPage = rowsPerPage;
        m_starts.clear();
        m_starts[0] = {QVariant(), QVariant()};
    }

    void remember(int p, const QList<ReportRow> &rows) {
        if (rows.size() == perPage) m_starts[p + 1] = {rows.last().data, rows.last().sequencia};
    }

    bool known(int p) const { return m_starts.count(p) != 0; }

    ReportStatement statement;
    int perPage = 1;
    qint64 total = 0; // events counted when the report was opened

private:
    DatabaseLocation m_where;
    QString m_name;
    std::map<int, QPair<QVariant, QVariant>> m_starts;
};

// Connection names are never reused: a source's thread may outlive it.
static std::atomic<quint64> s_connections{0};

// What the thread's jobs share with the source: whether it still exists, and the cancel flag
// of a running export.
struct ReportSource::Relay {
    QMutex mutex;
    ReportSource *target;
    std::atomic_bool cancel{false};
};

ReportSource::ReportSource(const Database &db, QObject *parent)
    : QObject(parent)
    , m_relay(std::make_shared<Relay>())
    , m_thread(new QThread)
    , m_worker(new Worker(db.location(),
                          QStringLiteral("tulmo-relatorio-%1").arg(++s_connections))) {
    m_relay->target = this;
    qRegisterMetaType<QList<tulmo::ReportRow>>();
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->setObjectName(QStringLiteral("relatorio"));
    m_thread->start();
}

// Closing a window never waits for the database: a thread still inside a long statement is
// left to end it on its own, and then cleans up after itself.
ReportSource::~ReportSource() {
    {
        QMutexLocker lock(&m_relay->mutex);
        m_relay->target = nullptr;
    }
    m_relay->cancel = true;
    m_thread->quit();
    if (m_thread->wait(50)) {
        delete m_thread;
        return;
    }
    QThread *t = m_thread;
    QObject::connect(t, &QThread::finished, t, &QObject::deleteLater);
    if (t->isFinished()) t->deleteLater();
}

void ReportSource::deliver(const std::shared_ptr<Relay> &relay,
                           std::function<void(ReportSource &)> answer) {
    QMutexLocker lock(&relay->mutex);
    ReportSource *s = relay->target;
    if (!s) return;
    // An answer still queued when the source goes is dropped with it.
    QMetaObject::invokeMethod(
        s, [s, answer = std::move(answer)] { answer(*s); }, Qt::QueuedConnection);
}

void ReportSource::cancel() {
    m_relay->cancel = true;
}

void ReportSource::post(std::function<void(Worker &)> job) {
    Worker *w = m_worker;
    QMetaObject::invokeMethod(
        w, [w, job = std::move(job)] { job(*w); }, Qt::QueuedConnection);
}

void ReportSource::open(const ReportStatement &st, const ReportLayout &layout) {
    const int perPage = layout.rowsPerPage();
    const ReportLayout *l = &layout;
    post([relay = m_relay, st, perPage, l](Worker &w) {
        w.reset(st, perPage);
        QString error;
        QSqlDatabase d = w.db(&error);
        const std::optional<qint64> n =
            d.isOpen() ? ReportRepository::count(d, st, &error) : std::nullopt;
        QList<ReportRow> first;
        const bool ok = n && ReportRepository::page(d, st, {}, {}, perPage, &first, &error);
        if (ok) {
            w.remember(0, first);
            w.total = *n;
        }
        deliver(relay, [ok, error, first, rows = n.value_or(0), l](ReportSource &s) {
            s.m_rows = rows;
            s.m_pages = l->pageCount(rows);
            emit s.opened(ok, error);
            if (ok) emit s.pageReady(0, first);
        });
    });
}

void ReportSource::requestPage(int page) {
    post([relay = m_relay, page](Worker &w) {
        QString error;
        QVariant data, seq;
        QList<ReportRow> rows;
        bool ok = true;
        const qint64 before = qint64(page) * w.perPage; // events on the pages before
        if (page > 0 && !w.known(page) && before < w.total && before + w.perPage >= w.total) {
            // The last page of events, far away: read from the other end, at once.
            ReportStatement reversed = w.statement;
            reversed.descending = !reversed.descending;
            QSqlDatabase d = w.db(&error);
            ok = ReportRepository::page(d, reversed, {}, {}, int(w.total - before), &rows, &error);
            std::reverse(rows.begin(), rows.end());
        } else if (page > 0 && before >= w.total) {
            // The summary's own page: no events.
        } else {
            bool beyond = false;
            ok = w.startOf(page, &data, &seq, &beyond, &error);
            if (ok && !beyond) {
                QSqlDatabase d = w.db(&error);
                ok = ReportRepository::page(d, w.statement, data, seq, w.perPage, &rows, &error);
            }
        }
        if (ok) w.remember(page, rows);
        deliver(relay, [ok, page, rows, error](ReportSource &s) {
            if (ok)
                emit s.pageReady(page, rows);
            else
                emit s.pageFailed(page, error);
        });
    });
}

void ReportSource::readAccounts() {
    post([relay = m_relay](Worker &w) {
        QString error;
        QSqlDatabase d = w.db(&error);
        const QStringList accounts =
            d.isOpen() ? ReportRepository::accounts(d, &error).value_or(QStringList())
                       : QStringList();
        deliver(relay, [accounts](ReportSource &s) { emit s.accountsRead(accounts); });
    });
}

void ReportSource::readMailAccounts() {
    post([relay = m_relay](Worker &w) {
        QString error;
        QSqlDatabase d = w.db(&error);
        const std::optional<QStringList> accounts =
            d.isOpen() ? ReportRepository::accountsWithEmail(d, &error) : std::nullopt;
        deliver(relay, [ok = accounts.has_value(), list = accounts.value_or(QStringList()),
                        error](ReportSource &s) { emit s.mailAccountsRead(ok, list, error); });
    });
}

void ReportSource::exportText(const ReportStatement &st, const ReportLayout &layout,
                              const ReportPageInfo &info, const QString &path) {
    m_relay->cancel = false;
    const ReportLayout *l = &layout;
    post([relay = m_relay, st, l, info, path](Worker &w) {
        QString error;
        QSqlDatabase d = w.db(&error);
        const bool ok =
            d.isOpen() && ExportReportText(d, st, *l, info, path, &error, &relay->cancel);
        deliver(relay, [ok, error](ReportSource &s) { emit s.exported(ok, error); });
    });
}

} // namespace tulmo
