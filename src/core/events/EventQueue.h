#pragma once

#include "core/events/QueueWriter.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace tulmo {

class RejectLog;

// A first-in, first-out list of text lines mirrored to a file (one line each, CR LF).
// Serves the event queue (Dados/Eventos_Log.dat) and the repeater queue.
//
// What the file holds is always complete: an append is written at the end of the file and
// flushed to the disk before it returns, so whatever the caller acknowledges afterwards
// is on disk; a removal writes the whole list to a temporary file, flushes it and renames
// it over the queue, so a crash leaves either the old or the new list, never a truncated one.
//
// A numbered queue gives every line a number, one more than the line before it, never
// reused: the file's first line is a header with the queue's identity and the number of its
// first line ("#TULMO-FILA <identity> <number>"). The store that records the lines keeps
// the number of the last one it has taken in the same transaction, so after a crash between
// that commit and the removal from the file, the lines already taken are known and dropped.
//
// Written in the background (writeInBackground), the file belongs to a thread of its own and
// the list stays on the caller's: stage() returns at once, the lines staged meanwhile share
// one flush, and whenDurable() tells when they are on the disk. A removal replaces the file on
// that thread too, in order with the appends, so a replacement holds every line staged before
// it and none after.
class EventQueue {
public:
    enum class LoadStatus { Loaded, CreatedEmpty, Unreadable };
    enum class Numbering { None, Numbered };

    explicit EventQueue(QString filePath, Numbering numbering = Numbering::None);
    ~EventQueue();
    EventQueue(const EventQueue &) = delete;
    EventQueue &operator=(const EventQueue &) = delete;

    const QString &filePath() const { return m_path; }

    // Reads the file. A missing file is created empty; an unreadable one leaves the queue
    // empty and the reason in error. What is no regular file, or is larger than
    // FileLimits::kQueueFile, is never read: it is set aside under another name (the reason
    // and that name in error) and the queue starts empty in a new file. With tornLineLog, a last
    // line without its CR LF (an append cut short by a power failure, so never acknowledged) goes
    // there with the moment when, and out of the file, rather than being queued as a shortened
    // line.
    LoadStatus load(QString *error = nullptr, RejectLog *tornLineLog = nullptr,
                    const QString &when = QString());

    // Adds the line at the end and flushes it to the disk. Line breaks inside the line
    // become blanks. False when the line could not be made durable (it is then not queued).
    // In the background it waits for the writer.
    bool append(const QString &line, QString *error = nullptr);
    // Adds the line at the end without waiting for the disk: frames that arrive together
    // share one flush(). Whatever is acknowledged for a staged line waits for that flush.
    // In the background it always queues the line; a write that then fails takes it out
    // again, with every line staged after it, before whenDurable() answers for them.
    bool stage(const QString &line, QString *error = nullptr);
    // Makes every staged line durable. On failure the whole list is written anew; false
    // only when that failed too (the staged lines stay queued, but must not be acknowledged).
    // In the background it waits for the writer, and answers whoever waits for what is now
    // durable; false when a write of a line staged before failed (those lines are then not
    // queued).
    bool flush(QString *error = nullptr);
    bool hasStaged() const;
    // The lines at the head that are on the disk: the ones that may be recorded.
    qsizetype durableCount() const;

    // From now on the file is written by a thread of its own (see above). Removals then
    // always succeed at once in the list; a replacement of the file that fails is told by
    // writeFault() as before, and the lines stay in the file until one succeeds.
    void writeInBackground();
    bool writesInBackground() const { return m_writer != nullptr; }
    // Calls done on this thread once every line staged so far is on the disk (true), or a
    // write failed before they were (false: they are no longer queued). Never before the
    // flush that covers them; the calls come in the order asked, one event-loop turn later
    // at the earliest. Without the background writer, flush() answers at once.
    void whenDurable(std::function<void(bool)> done);
    // Called on this thread whenever the writer's outcomes change writeFault() or the list.
    void setWriteListener(std::function<void()> listener) { m_writeListener = std::move(listener); }
    // Tests: hold the writer between writing appended lines and flushing them (held), and let
    // it go on; and how many fdatasync calls it made for appended lines.
    void holdWrites(bool held);
    int flushCount() const;

    // Removes the first line (the file is replaced atomically).
    bool removeHead(QString *error = nullptr);
    // Removes the first n lines with one replacement of the file (in the background, lines
    // still in flight included).
    bool removeFirst(qsizetype n, QString *error = nullptr);
    // The same for lines a store has taken under its mark: they leave the list even when the
    // file cannot be replaced now (false then); the mark drops them from the file at the next
    // load, and the next replacement writes the list as it is. In the background only lines
    // already on the disk leave.
    bool takeFirst(qsizetype n, QString *error = nullptr);
    // Removes the last line (the file import takes back the line it has just added).
    bool removeLast(QString *error = nullptr);

    // Why the file could not be written the last time it was tried ("disco cheio", "sem
    // permissão de escrita"); empty once it has been written again. A failed append or flush
    // is cleared by the next one that succeeds; a failed replacement of the file by the next
    // replacement that succeeds, which also clears the first.
    QString writeFault() const;
    // The torn last line that the last load moved to the rejects file; empty when none.
    const QString &tornLine() const { return m_tornLine; }

    bool isEmpty() const { return m_lines.isEmpty(); }
    qsizetype size() const { return m_lines.size(); }
    QString head() const { return m_lines.isEmpty() ? QString() : m_lines.first(); }
    const QList<QString> &lines() const { return m_lines; }

    // Numbered queues: the identity kept in the header, and the number of the line at index i.
    const QString &identity() const { return m_identity; }
    qint64 numberAt(qsizetype i) const { return m_first + i; }
    // Drops the lines numbered up to last (a store has taken them); a queue emptied so
    // goes on numbering after last.
    bool dropThrough(qint64 last, QString *error = nullptr);

private:
    struct Waiter {
        quint64 through = 0; // the lines staged when it was asked
        bool failed = false;
        std::function<void(bool)> done;
    };
    LoadStatus loadFile(QString *error, RejectLog *tornLineLog, const QString &when);
    // Background writing: the outcomes of the writer applied to the list, in order.
    void applyOutcomes(const QList<QueueWriter::Outcome> &outcomes);
    void dispatchWaiters();
    void scheduleDispatch();
    void askReplace();
    void stopWriter();
    QString faultText(int errnum) const;

    // Writes the whole list to a new file and puts it in the queue's place. A success clears
    // the write faults, the one of appends only when clearsAppendFault.
    bool rewrite(QString *error, bool clearsAppendFault = true);
    bool openForAppend(QString *error);
    void closeAppend();
    // After a write that failed, the file may end in part of a line: the next line is added by
    // writing the whole list anew, never appended after that part.
    bool appendByRewrite(const QString &line, QString *error);
    bool writeFailed(int errnum, QString *error);
    bool setAside(const QString &why, QString *error);

    QByteArray header() const;
    bool readHeader(QStringList &lines);

    QString m_path;
    Numbering m_numbering;
    QList<QString> m_lines;
    QString m_identity;
    qint64 m_first = 1;
    int m_staged = 0;
    int m_fd = -1;
    int m_appendErrno = 0;
    int m_rewriteErrno = 0;
    bool m_needsRewrite = false;
    QString m_tornLine;

    // Background writing.
    std::unique_ptr<QueueWriter> m_writer;
    quint64 m_lineNumber = 0; // lines staged since the writer started
    quint64 m_resolved = 0;   // lines up to this one are on the disk, or were dropped
    quint64 m_epoch = 0;      // failures heard of
    bool m_replaceNext = false; // the file must be written whole before anything is added
    int m_failures = 0;
    bool m_dispatchPosted = false;
    QList<Waiter> m_waiters;
    std::function<void()> m_writeListener;
};

// Appends lines that can never be recorded, each with the moment and the reason, to
// Dados/Eventos_Rejeitados.dat: "<line> | <dd/MM/yyyy HH:mm:ss> | <reason>".
class RejectLog {
public:
    explicit RejectLog(QString filePath)
        : m_path(std::move(filePath)) {}
    const QString &filePath() const { return m_path; }
    bool append(const QString &line, const QString &when, const QString &reason,
                QString *error = nullptr);

private:
    QString m_path;
};

} // namespace tulmo
