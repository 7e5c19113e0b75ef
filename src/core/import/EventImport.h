#pragma once

#include "common/Clock.h"
#include "events/EventDecoder.h"
#include "events/RecordingRepository.h"
#include "import/ImportListModel.h"
#include "import/ReceiverFile.h"
#include "settings/LiveSettings.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <optional>

namespace tulmo {

class Database;
class ImportRepository;

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
// hold yet. The file is read a block at a time and the records are decoded and looked up in
// slices of a few milliseconds, driven by a zero timer, so reception goes on while a large
// file is read. Listing changes nothing: neither the database nor the live event queue.
class EventImport : public QObject {
    Q_OBJECT
public:
    // " Usar Data/Hora ": "Atual" stamps the events with the current time, "Do arquivo" with
    // the record's own.
    enum class TimeSource { Current, FromFile };
    static constexpr int kSliceMs = 10;

    EventImport(Database &database, const Clock &clock, QObject *parent = nullptr);

    // Starts reading fileName (a run in progress is abandoned). The file is opened at once:
    // false when it cannot be, and finished has been raised with the reason.
    bool ProcessaArquivo(const QString &fileName, TimeSource source);
    bool running() const { return m_timer.isActive(); }
    void cancel();
    // Runs the slices until the file is done (tests and benchmarks).
    void finishNow();

signals:
    // Records read of the file's records.
    void progress(int done, int total);
    // The rows listed from one block, at the end of that block.
    void rowsListed(const QList<ImportRow> &rows);
    void finished(const ImportSummary &summary);

private:
    // The console clock, or the record's moment while "Do arquivo" decodes it.
    class RecordClock : public Clock {
    public:
        explicit RecordClock(const Clock &base)
            : m_base(base) {}
        QDateTime now() const override { return m_fixed ? *m_fixed : m_base.now(); }
        std::optional<QDateTime> m_fixed;

    private:
        const Clock &m_base;
    };

    void slice();
    // false: the database failed (m_summary.error says why).
    bool listRecord(const ReceiverFile::Record &r, ImportRepository &repo);
    bool describe(ImportRepository &lookups, ImportRow &row);
    void endBlock();
    void leaveOut(const ReceiverFile::Record &r, const QString &why);
    void finish(bool complete);

    Database &m_database;
    RecordClock m_clock;
    LiveSettings m_settings; // the import's own: decoding never reads the receiver's clock
    EventDecoder m_decoder;
    TimeSource m_source = TimeSource::Current;
    QTimer m_timer;
    ReceiverFile m_file;
    QList<ReceiverFile::Record> m_block;
    qsizetype m_next = 0;
    QList<ImportRow> m_blockRows;
    ImportSummary m_summary;
    // Look-ups of one run.
    QHash<QString, QString> m_clients;
    QHash<QString, EventCodeRow> m_codes;
    QHash<QString, QString> m_partitions, m_users, m_zones;
};

} // namespace tulmo
