#include "QueueWriter.h"

#include "core/events/QueueFile.h"

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#ifdef Q_OS_WIN
#include <io.h>
#define fdatasync _commit
#endif

namespace tulmo {

QueueWriter::QueueWriter(QString path, Deliver deliver, QObject *parent)
    : QObject(parent)
    , m_path(std::move(path))
    , m_deliver(std::move(deliver))
    , m_thread([this] { run(); }) {}

QueueWriter::~QueueWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_held = false;
    }
    m_wake.notify_all();
    m_thread.join();
}

void QueueWriter::push(Request r) {
    {
        std::lock_guard lock(m_mutex);
        m_requests.append(std::move(r));
    }
    m_wake.notify_one();
}

void QueueWriter::append(const QString &line, quint64 number, quint64 epoch) {
    Request r;
    r.line = line;
    r.number = number;
    r.epoch = epoch;
    push(std::move(r));
}

void QueueWriter::replace(const QByteArray &header, const QList<QString> &lines, quint64 through,
                          quint64 epoch, bool resume) {
    Request r;
    r.replace = true;
    r.resume = resume;
    r.header = header;
    r.lines = lines; // shared: the owner's next change copies its own list
    r.number = through;
    r.epoch = epoch;
    push(std::move(r));
}

void QueueWriter::setHeld(bool held) {
    {
        std::lock_guard lock(m_mutex);
        m_held = held;
    }
    m_wake.notify_all();
}

void QueueWriter::waitWhileHeld() {
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return !m_held || m_stop; });
}

void QueueWriter::finish() {
    {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_requests.isEmpty() && !m_busy; });
    }
    deliverNow();
}

void QueueWriter::deliverNow() {
    QList<Outcome> outcomes;
    {
        std::lock_guard lock(m_mutex);
        outcomes = std::exchange(m_outcomes, {});
        m_deliveryPosted = false;
    }
    if (!outcomes.isEmpty() && m_deliver) m_deliver(outcomes);
}

void QueueWriter::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_requests.isEmpty(); });
        if (m_requests.isEmpty()) {
            if (m_stop) break;
            continue;
        }
        // Everything asked while the last batch ran goes in this one.
        const QList<Request> batch = std::exchange(m_requests, {});
        m_busy = true;
        lock.unlock();
        QList<Outcome> out;
        process(batch, out);
        lock.lock();
        m_busy = false;
        m_outcomes += out;
        if (!out.isEmpty() && !m_deliveryPosted) {
            m_deliveryPosted = true;
            QMetaObject::invokeMethod(this, [this] { deliverNow(); }, Qt::QueuedConnection);
        }
        m_idle.notify_all();
    }
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

QueueWriter::Outcome QueueWriter::state(Outcome::Kind kind) const {
    Outcome o;
    o.kind = kind;
    o.through = m_durable;
    o.epoch = m_epoch;
    o.dirty = m_dirty;
    o.appendErrno = m_appendErrno;
    o.rewriteErrno = m_rewriteErrno;
    return o;
}

void QueueWriter::process(const QList<Request> &batch, QList<Outcome> &out) {
    QByteArray run;
    quint64 runThrough = 0;
    for (const Request &r : batch) {
        // Asked before the owner heard of a failure: the owner has dropped those lines.
        if (r.epoch < m_epoch) continue;
        if (!r.replace) {
            run += queuefile::encodeLine(r.line);
            runThrough = r.number;
            continue;
        }
        writeRun(run, runThrough, out);
        if (r.epoch < m_epoch) continue; // that run failed
        replaceFile(r, out);
    }
    writeRun(run, runThrough, out);
}

// A write or flush that fails leaves the descriptor untrusted (a second fdatasync of it may
// succeed although the data of the first is gone); what it may have added is cut off again.
void QueueWriter::writeRun(QByteArray &run, quint64 through, QList<Outcome> &out) {
    if (run.isEmpty()) return;
    const QByteArray bytes = std::exchange(run, {});
    // After a failed write only a whole replacement may follow: the owner asks for one first.
    if (m_dirty) return failed(EIO, true, out);
    if (m_fd < 0) {
        m_fd = queuefile::openForAppend(m_path);
        struct stat st {};
        if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
            const int e = errno;
            if (m_fd >= 0) ::close(m_fd);
            m_fd = -1;
            return failed(e, false, out); // nothing was written
        }
        m_goodSize = qint64(st.st_size);
    }
    const bool written = queuefile::writeAll(m_fd, bytes);
    waitWhileHeld();
    if (!written || ::fdatasync(m_fd) != 0) {
        const int e = errno;
        ::close(m_fd);
        m_fd = -1;
        return failed(e, !queuefile::truncateTo(m_path, m_goodSize), out);
    }
    ++m_flushes;
    m_goodSize += bytes.size();
    m_durable = through;
    m_appendErrno = 0;
    out.append(state(Outcome::Kind::Durable));
}

void QueueWriter::failed(int errnum, bool dirty, QList<Outcome> &out) {
    m_appendErrno = errnum != 0 ? errnum : EIO;
    m_dirty = m_dirty || dirty;
    ++m_epoch;
    out.append(state(Outcome::Kind::Failed));
}

void QueueWriter::replaceFile(const Request &r, QList<Outcome> &out) {
    const QByteArray content = queuefile::contentOf(r.header, r.lines);
    queuefile::Failure why;
    if (queuefile::replace(m_path, content, &m_fd, &why)) {
        m_goodSize = content.size();
        m_dirty = false;
        m_appendErrno = 0;
        m_rewriteErrno = 0;
        m_durable = std::max(m_durable, r.number);
        out.append(state(Outcome::Kind::Durable));
        return;
    }
    m_rewriteErrno = why.errnum;
    // A removal that cannot replace the file leaves it as it was, whole: lines go on being
    // added to it. Lines that only this replacement was to write are not durable.
    if (r.resume || m_dirty) return failed(m_rewriteErrno, m_dirty, out);
    out.append(state(Outcome::Kind::Durable));
}

} // namespace tulmo
