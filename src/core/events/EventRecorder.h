#pragma once

#include "core/events/RunawayWatch.h"

#include "core/events/EventLine.h"
#include "core/events/InternalEvent.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace tulmo {

struct BatchEffects;
class Database;
class RecordingWorker;
class Clock;
class SoundOutput;
class SlotWriter;
class RecordingLink;
class RejectLog;

// The outcome of recording one event line.
struct RecordResult {
    enum class Status {
        Ignored,  // 10 characters or fewer: nothing to record
        Stored,   // the EVENTOS row is committed
        Rejected, // the line can never be stored: reason says why
        Retry,    // the database's own trouble (unreachable, a conflict, a failed commit):
                  // try the same line again later
    };
    Status status = Status::Ignored;
    QString reason;
    // The schedule warning to show once the event is stored ("Cliente … Entrou fora do horário").
    QString warning;
    // Retry: what the status bar shows while this holds the queue back, when the reason is
    // to be shown as it is rather than as a database error.
    QString statusText;
};

// Queued lines recorded in one transaction, in queue order. Each line is recorded under a
// savepoint: a line whose own data is refused is turned away alone, and a fault of the database
// stops the batch there, the lines before it still committed. With a queue identity the same
// transaction stores the number of the last line taken, so that a crash after the commit
// cannot record those lines a second time.
struct RecordBatch {
    QStringList lines;
    QString queueId; // empty: no mark is stored
    qint64 firstNumber = 0;
    // No line begins once it has expired (the first always does).
    QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever);
    // Keeps a turned-away line with its reason before it leaves the queue; false when it
    // could not, and that line and those after it stay queued. Each line so kept is also
    // stored, in the same transaction, as a pending internal event that names the fault and
    // carries the line, since nobody reads the rejects file.
    std::function<bool(const QString &line, const QString &reason)> reject;

    // Lines that leave the queue (stored or turned away), counted from the first.
    int taken = 0;
    // One per line taken; then, when the database held the next line back, its Retry.
    QList<RecordResult> results;
    // On a station of several workstations: the epoch of the reception lease this process
    // holds, renewed in the same transaction (kNoLease: one workstation, no lease; kNotHeld:
    // this process does not receive and records nothing); and whether the lines taken also
    // leave the shared queue (FILA_EVENTOS) there.
    static constexpr qint64 kNoLease = -1;
    static constexpr qint64 kNotHeld = -2;
    static constexpr qint64 kRecorderDefault = -3; // the recorder's own setting
    qint64 leaseEpoch = kRecorderDefault;
    bool sharedQueue = false;

    // A backlog: the durable lines that follow the batch, with their numbers, those recorded
    // ahead before left out. Their alarms, emergencies and panics are recorded in the same
    // transaction, each with the lines of its account before it, and kept in FILA_ADIANTADAS.
    QStringList window;
    QList<qint64> windowNumbers;
    // Numbers of lines of the batch recorded ahead before: they are taken without being
    // recorded again.
    QList<qint64> ahead;
    // The lines of the window recorded ahead (stored or turned away), with their results.
    QList<qint64> jumped;
    QList<RecordResult> jumpedResults;
};

// Turns one event line into a row of EVENTOS: looks the account, the code, the partition
// and the zone or user up, keeps the account's supervision columns, classifies the event and
// stores it, all in one transaction. Only once that is committed does it play the event's
// sound, send its SMS and announce the changed lists, so a line that is turned away or tried
// again later plays and sends nothing, and plays and sends once when it is finally stored.
class EventRecorder : public QObject {
    Q_OBJECT
public:
    EventRecorder(Database &database, const Clock &clock, SoundOutput *sound, SlotWriter *slotWriter,
                  QObject *parent = nullptr);
    ~EventRecorder() override;

    RecordResult Grava_Evento_Banco_Dados(const QString &line);
    // Records as many lines of the batch as its deadline allows. The sounds and SMS of the
    // stored events come after the commit, each event's own, in order; the lists are told
    // once per batch.
    void recordBatch(RecordBatch &batch);

    // From now on the batches and internal events given to the ...InBackground calls are
    // recorded and committed on a thread of their own, with a database connection of its own,
    // so that no commit holds the event loop. The synchronous calls keep the main connection.
    void startWorker();
    // Finishes what was asked (with its effects here) and ends the thread.
    void stopWorker();
    bool recordsInBackground() const { return m_worker != nullptr; }
    // The same as recordBatch, on the recording thread; then, on this thread, the effects of
    // the events stored and done with the batch as it came out. Batches are recorded in the
    // order given. Without the thread, at once. The batch's reject callback runs on the
    // recording thread, and every line of the batch takes the moment of this call.
    void recordBatchInBackground(RecordBatch batch, std::function<void(RecordBatch &)> done);
    // Batches and internal events given to the background whose effects have not come yet.
    int backgroundPending() const;
    // Waits for them, and brings their effects and done calls at once.
    void finishBackground();
    // The number of the last line of the queue that the store has taken (-1: none), and with
    // ahead the numbers above it of the lines recorded ahead of the head. False, with why as a
    // Retry, while the database cannot tell.
    bool readQueueMark(const QString &queueId, qint64 *last, RecordResult *why,
                       QList<qint64> *ahead = nullptr);

    // The lease every batch confirms from now on (RecordBatch::kNoLease, kNotHeld or an
    // epoch), and whether recorded lines leave the shared queue.
    void setLease(qint64 epoch, bool sharedQueue);
    qint64 leaseEpoch() const { return m_leaseEpoch; }
    // Holder of a shared station: records what FILA_EVENTOS holds of other queues than own
    // (a workstation that died or gave reception up), the oldest queue first, up to 500 lines,
    // on the recording thread; and drops rows that a queue mark shows recorded already. done
    // comes here with the lines taken and whether more may be left.
    // Own lines numbered below ownFirst (they left the local queue once on the server, while
    // this process did not record) are taken too.
    void recordSharedInBackground(const QString &ownQueue, qint64 ownFirst, RejectLog *rejects,
                                  std::function<void(int taken, bool more)> done);
    // Runs job on the recording thread, in order with the batches; without the thread, here.
    void runInBackground(std::function<std::function<void()>(RecordingLink &)> job);

    // An internal event to store: kept in order until the database takes it.
    void raiseInternal(const InternalEvent &event);
    bool hasInternalPending() const { return !m_internal.isEmpty(); }
    // Stores the raised internal events in one transaction. Stored when they are committed;
    // Retry, and kept, while the database cannot take them.
    RecordResult recordInternal();
    // The same on the recording thread (at once without it); one such transaction at a time.
    void recordInternalInBackground();

    // While held, the list signals of stored events are gathered, and raised once each by
    // releaseAnnouncements(): a burst refreshes the lists once per tick, not once per batch.
    // Sounds and SMS never wait.
    void holdAnnouncements() { m_held = true; }
    void releaseAnnouncements();
    // Every list is told to refresh: another workstation recorded or treated events.
    void announceAll();

    // "SMS:" + mobile + "," + description + " " + partition, NUL-filled to 257 bytes.
    static QByteArray smsCommand(const QString &celular, const QString &descricao,
                                 const QString &nomeParticao);
    // Weekday codes of the arming schedule, Sunday first.
    static QString weekdayCode(const QDate &d);

    // Accounts that send far more than they should: their events are recorded without being
    // raised or sounded.
    RunawayWatch &runaway() { return *m_runaway; }
    // An operator clears an account's runaway flag: its events are raised again, counted
    // afresh (on a server, by the workstation that receives, on the table's event). False
    // with error (Portuguese) when the database did not take it.
    bool clearRunaway(const QString &conta, QString *error);

signals:
    void silentChanged(); // ULTIMO_EVENTO / EVENTO_ATRASADO touched
    void disarmedChanged();
    void awaitingArmChanged();
    void pendingRecorded(); // an event stored as pending (TRATADO = 0)
    void receivedChanged();   // an event stored: reopen the received-events list
    void runawayChanged();    // an account flagged runaway (CONTAS_DISPARADAS)

private:
    enum Announcement : unsigned {
        kSilent = 1,
        kDisarmed = 2,
        kAwaitingArm = 4,
        kPending = 8,
        kReceived = 16,
        kRunaway = 32,
    };
    void announce(unsigned which);
    void applyEffects(const BatchEffects &effects);
    void internalStored(qsizetype n);

    Database &m_database;
    const Clock &m_clock;
    SoundOutput *m_sound;
    SlotWriter *m_slots;
    bool m_held = false;
    unsigned m_gathered = 0;
    QList<InternalEvent> m_internal;
    bool m_internalInFlight = false;
    std::unique_ptr<RunawayWatch> m_runaway; // before the worker, whose jobs use it
    std::unique_ptr<RecordingWorker> m_worker;
    qint64 m_leaseEpoch = RecordBatch::kNoLease;
    bool m_sharedQueue = false;
};

} // namespace tulmo
