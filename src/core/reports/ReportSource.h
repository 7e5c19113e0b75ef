#pragma once

#include "core/reports/ReportLayout.h"
#include "core/reports/ReportQuery.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

namespace tulmo {

class Database;

// The events of one report, read on a thread and a connection of their own, so that neither a
// count over a million events nor a long text export holds the console's event loop.
// Requests are answered in order through the signals, on the thread that owns this object.
// Pages are read by key: the first and last event of every page read are remembered, so a
// page is one short indexed read, and a jump forward reads keys only.
class ReportSource : public QObject {
    Q_OBJECT
public:
    // A connection like db's (same file, same server).
    explicit ReportSource(const Database &db, QObject *parent = nullptr);
    ~ReportSource() override;

    // Counts the statement's events; answers opened with the first page's events too.
    void open(const ReportStatement &st, const ReportLayout &layout);
    void requestPage(int page);
    // ExportReportText on the source's thread; answers exported.
    void exportText(const ReportStatement &st, const ReportLayout &layout,
                    const ReportPageInfo &info, const QString &path);
    // The CONTA of every account, in the database's order; answers accountsRead.
    void readAccounts();
    // The CONTA of every account that has an e-mail; answers mailAccountsRead.
    void readMailAccounts();
    // Stops a running export (its file is left as it was).
    void cancel();

    qint64 rowCount() const { return m_rows; }
    int pageCount() const { return m_pages; }

signals:
    void opened(bool ok, const QString &error);
    void pageReady(int page, const QList<tulmo::ReportRow> &rows);
    void pageFailed(int page, const QString &error);
    void exported(bool ok, const QString &error);
    void accountsRead(const QStringList &accounts);
    void mailAccountsRead(bool ok, const QStringList &accounts, const QString &error);

private:
    class Worker;
    struct Relay;
    void post(std::function<void(Worker &)> job);
    // Runs answer on this object's thread, unless this object is gone by then.
    static void deliver(const std::shared_ptr<Relay> &relay,
                        std::function<void(ReportSource &)> answer);

    std::shared_ptr<Relay> m_relay;
    QThread *m_thread;
    Worker *m_worker;
    qint64 m_rows = 0;
    int m_pages = 1;
};

} // namespace tulmo
