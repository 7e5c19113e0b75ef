#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tulmo {

// The thread that writes a queue file for its EventQueue, so that no flush to the disk holds
// the caller's event loop. It owns the file: every operation on it is a request, done in the
// order asked. Lines asked for while a flush runs are written together by the next one: one
// write and one fdatasync for all of them (group commit).
//
// Lines carry a number, one more for each line staged since the queue began writing in the
// background. What became of them comes back on the owner's thread, in order: durable up to
// a number, or a write that failed. A failed write drops every line in flight: the writer
// skips every request asked before the owner heard of the failure (an older epoch), and
// the owner takes those lines out of its list, so the file and the list never part.
class QueueWriter : public QObject {
    Q_OBJECT
public:
    struct Outcome {
        enum class Kind { Durable, Failed };
        Kind kind = Kind::Durable;
        quint64 through = 0; // Durable: every line numbered up to this is flushed to the disk
        quint64 epoch = 0;   // Failed: the writer's count of failures, this one included
        // Failed: the file may end in part of what failed, so the next request must replace
        // the file whole.
        bool dirty = false;
        // The faults as this outcome leaves them (0: none): of adding lines, of replacing the
        // file.
        int appendErrno = 0;
        int rewriteErrno = 0;
    };
    using Deliver = std::function<void(const QList<Outcome> &)>;

    QueueWriter(QString path, Deliver deliver, QObject *parent = nullptr);
    // Finishes what was asked, then ends the thread.
    ~QueueWriter() override;

    void append(const QString &line, quint64 number, quint64 epoch);
    // The file replaced by header and lines, the list up to line number through. With resume,
    // the lines of the list that are not in the file yet are made durable by this replacement
    // alone (no append of them was asked), so its failure is a failed write of them.
    void replace(const QByteArray &header, const QList<QString> &lines, quint64 through,
                 quint64 epoch, bool resume);
    // Waits until everything asked so far is done and delivers the outcomes at once.
    void finish();

    // Tests hold the writer between the write of appended lines and their fdatasync, since the
    // disk cannot be slowed on demand.
    void setHeld(bool held);
    // fdatasync calls made for appended lines.
    int flushCount() const { return m_flushes.load(); }

private:
    struct Request {
        bool replace = false;
        bool resume = false;
        QString line;
        QByteArray header;
        QList<QString> lines;
        quint64 number = 0;
        quint64 epoch = 0;
    };

    void run();
    void process(const QList<Request> &batch, QList<Outcome> &out);
    void writeRun(QByteArray &run, quint64 through, QList<Outcome> &out);
    void replaceFile(const Request &r, QList<Outcome> &out);
    void failed(int errnum, bool dirty, QList<Outcome> &out);
    void waitWhileHeld();
    Outcome state(Outcome::Kind kind) const;
    void push(Request r);
    void deliverNow();

    QString m_path;
    Deliver m_deliver;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    QList<Request> m_requests;
    QList<Outcome> m_outcomes;
    bool m_stop = false;
    bool m_held = false;
    bool m_busy = false;
    bool m_deliveryPosted = false;
    std::atomic<int> m_flushes{0};

    // The writer thread's own.
    int m_fd = -1;
    qint64 m_goodSize = 0; // the file's size after its last flushed write
    quint64 m_durable = 0;
    quint64 m_epoch = 0;
    bool m_dirty = false;
    int m_appendErrno = 0;
    int m_rewriteErrno = 0;

    std::thread m_thread;
};

} // namespace tulmo
