#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

namespace tulmo {

class EventPump;
class EventQueue;
class EventRecorder;
struct RecordBatch;
class Prompt;

// What the recording of the checked rows came to.
struct ImportRecordSummary {
    int total = 0;
    int stored = 0;
    QList<int> storedLines; // indexes of the stored lines, in order
    QStringList rejected;   // "<event line>: <reason>", lines whose own data cannot be stored
    QString heldBack;       // the database's trouble that stopped the recording; empty when none
    bool cancelled = false;

    // The message for the operator, or an empty text when every line was stored.
    QString message() const;
};

// Records the event lines of an import through Grava_Evento_Banco_Dados, with every effect of
// a live event (sign of life, disarm and arm flags, sound, SMS, pending window), in small
// batches committed one after the other on the recorder's thread, so the window and reception
// go on meanwhile. Live events
// come first: the live queue's backlog is recorded ahead of the import's next batch (at most
// every kLivePassEveryMs, besides the console's own tick), so an import never holds a live
// event back. Nothing of the import passes through the live queue.
class ImportRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr int kBatchLines = 50;
    static constexpr int kSliceMs = 15;
    static constexpr int kLiveBudgetMs = 30;
    // Live lines are taken ahead of the import at most this often: each pass of the live queue
    // costs its own commit and queue rewrite, and the console's tick records them anyway.
    static constexpr int kLivePassEveryMs = 250;
    // The lists hear of the imported events this often, not once per batch.
    static constexpr int kAnnounceEveryMs = 1000;

    ImportRecorder(EventRecorder &recorder, Prompt *prompt, QObject *parent = nullptr);
    // The console's live queue and its pump; without them only the import is recorded.
    void setLiveQueue(EventQueue *queue, EventPump *pump);

    void start(const QStringList &lines);
    bool running() const { return m_running; }
    void cancel();
    void finishNow(); // tests and benchmarks

signals:
    void progress(int done, int total);
    void finished(const ImportRecordSummary &summary);

private:
    void slice();
    void take(const RecordBatch &batch);
    void recordLiveBacklog();
    void finish();

    EventRecorder &m_recorder;
    Prompt *m_prompt;
    EventQueue *m_liveQueue = nullptr;
    EventPump *m_pump = nullptr;
    QTimer m_timer;
    bool m_running = false;
    bool m_inFlight = false; // a batch being committed on the recorder's thread
    QStringList m_lines;
    qsizetype m_next = 0;
    ImportRecordSummary m_summary;
    QSet<QString> m_warned; // a schedule warning is shown once per import
    QElapsedTimer m_sinceAnnounce;
    QElapsedTimer m_sinceLivePass; // invalid: no live pass yet in this import
};

} // namespace tulmo
