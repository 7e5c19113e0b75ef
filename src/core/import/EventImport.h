#pragma once

#include "core/import/ImportListModel.h"

#include <QObject>
#include <QStringList>
#include <QThread>

#include <atomic>

namespace tulmo {

class Clock;
class Database;

// What one reading of a file came to, and what the operator must be told of it.
struct ImportSummary {
    QString fileName;
    int records = 0; // records read, a last one cut short included
    int events = 0;  // of them event records (type "4")
    int listed = 0;
    int duplicates = 0; // events the database already holds
    // "registro N (posição X): …" for the first records left out (kProblemsKept at most), and
    // how many were left out in all.
    static constexpr int kProblemsKept = 1000;
    QStringList problems;
    int problemCount = 0;
    QString error; // the file or the database failed: the run stopped there
    bool complete = false;

    // The message for the operator, or an empty text when everything was read.
    QString message() const;
};

// ProcessaArquivo: reads a receiver's event file and lists the events the database does not
// hold yet. The file is read, decoded and looked up block by block on a thread of its own,
// over a connection of its own, and each block's rows are handed back to the caller's thread:
// a large file, or a database slow to answer, never holds reception up. Listing changes
// nothing: neither the database nor the live event queue.
class EventImport : public QObject {
    Q_OBJECT
public:
    // " Usar Data/Hora ": "Atual" stamps the events with the time of the import, "Do arquivo"
    // with the record's own.
    enum class TimeSource { Current, FromFile };

    EventImport(Database &database, const Clock &clock, QObject *parent = nullptr);
    ~EventImport() override;

    // Starts reading fileName (a run in progress is abandoned first). The outcome comes with
    // finished, also when the file cannot be opened.
    void ProcessaArquivo(const QString &fileName, TimeSource source);
    bool running() const { return m_running; }
    // Abandons the run in progress: nothing more of it is listed.
    void cancel();
    // Runs the caller's event loop until the run is over (tests and benchmarks).
    void finishNow();

signals:
    // Records read of the file's records.
    void progress(int done, int total);
    // The rows listed from one block, at the end of that block.
    void rowsListed(const QList<ImportRow> &rows);
    void finished(const ImportSummary &summary);

private:
    struct Run;
    void runInWorker(Run run);

    Database &m_database;
    const Clock &m_clock;
    QThread m_thread;
    QObject *m_worker = nullptr; // lives in m_thread
    int m_generation = 0;        // what arrives from an abandoned run is dropped
    bool m_running = false;
    std::atomic<int> m_wanted{0}; // the run the worker should go on with
};

} // namespace tulmo
