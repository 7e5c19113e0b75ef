#include "EventQueue.h"

#include "core/common/RegularFile.h"
#include "core/events/QueueFile.h"
#include "core/common/SystemError.h"
#include "core/common/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <unistd.h>

#ifdef Q_OS_WIN
#include <io.h>
#define fdatasync _commit
#endif

namespace tulmo {

namespace {

QString writeText(int errnum) {
    return fileErrorText(errnum, FileAccess::Writing);
}

using queuefile::clean;
using queuefile::encodeLine;

const QLatin1String kHeaderTag("#TULMO-FILA ");

QString newIdentity() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

EventQueue::EventQueue(QString filePath, Numbering numbering)
    : m_path(std::move(filePath))
    , m_numbering(numbering) {
    if (m_numbering == Numbering::Numbered) m_identity = newIdentity();
}

QByteArray EventQueue::header() const {
    if (m_numbering != Numbering::Numbered) return {};
    return encodeLine(kHeaderTag + m_identity + QLatin1Char(' ') + QString::number(m_first));
}

// Takes the header off the lines read. A file without one (written before the queue was
// numbered) gets a new identity: no store has taken any of its lines under that one. So does a
// header whose number leaves no room to count on (a damaged or edited file): its lines are
// recorded, perhaps again, rather than numbered past the end of the counter.
bool EventQueue::readHeader(QStringList &lines) {
    constexpr qint64 kLargestFirst = std::numeric_limits<qint64>::max() / 2;
    m_identity = newIdentity();
    m_first = 1;
    if (lines.isEmpty() || !lines.first().startsWith(kHeaderTag)) return false;
    const QStringList parts = lines.takeFirst().mid(kHeaderTag.size()).split(QLatin1Char(' '));
    bool ok = false;
    const qint64 first = parts.size() == 2 ? parts[1].toLongLong(&ok) : 0;
    if (!ok || first < 1 || first > kLargestFirst || parts[0].isEmpty()) return false;
    m_identity = parts[0];
    m_first = first;
    return true;
}

EventQueue::~EventQueue() {
    m_writer.reset(); // what was asked of it is done first
    closeAppend();
}

void EventQueue::closeAppend() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool EventQueue::openForAppend(QString *error) {
    if (m_fd >= 0) return true;
    m_fd = queuefile::openForAppend(m_path);
    if (m_fd < 0) {
        m_appendErrno = errno;
        if (error)
            *error = QStringLiteral("Não foi possível gravar \"%1\": %2")
                         .arg(QDir::toNativeSeparators(m_path), writeText(m_appendErrno));
        return false;
    }
    return true;
}

QString EventQueue::writeFault() const {
    const int e = m_appendErrno != 0 ? m_appendErrno : m_rewriteErrno;
    return e != 0 ? writeText(e) : QString();
}

// A descriptor whose write or sync failed is never trusted again: a second sync of it may
// succeed although the data of the first is gone. The list is put back in the file as it was.
bool EventQueue::writeFailed(int errnum, QString *error) {
    closeAppend();
    m_needsRewrite = !rewrite(nullptr, false);
    m_appendErrno = errnum;
    if (error)
        *error = QStringLiteral("Não foi possível gravar \"%1\": %2")
                     .arg(QDir::toNativeSeparators(m_path), writeText(errnum));
    return false;
}

bool EventQueue::appendByRewrite(const QString &line, QString *error) {
    m_lines.append(line);
    if (rewrite(error)) return true;
    m_lines.removeLast();
    m_appendErrno = m_rewriteErrno;
    return false;
}

// The file is kept for whoever must look at it, under a name of its own, and the queue
// starts anew beside it.
bool EventQueue::setAside(const QString &why, QString *error) {
    QString aside = m_path + QStringLiteral(".recusado");
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = m_path + QStringLiteral(".recusado.%1").arg(n);
    const QString shown = QFileInfo(aside).fileName();
    if (::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(aside).constData()) !=
        0) {
        if (error)
            *error = why + QStringLiteral("\n\nNão foi possível renomeá-lo para \"%1\": %2")
                               .arg(shown, writeText(errno));
        return false;
    }
    QString e;
    if (!rewrite(&e)) {
        if (error) *error = why + QStringLiteral("\n\n") + e;
        return false;
    }
    if (error)
        *error =
            why +
            QStringLiteral("\n\nEle foi renomeado para \"%1\", e a fila começa vazia.").arg(shown);
    return true;
}

EventQueue::LoadStatus EventQueue::load(QString *error, RejectLog *tornLineLog,
                                        const QString &when) {
    if (!m_writer) return loadFile(error, tornLineLog, when);
    stopWriter();
    const LoadStatus status = loadFile(error, tornLineLog, when);
    writeInBackground();
    return status;
}

EventQueue::LoadStatus EventQueue::loadFile(QString *error, RejectLog *tornLineLog,
                                            const QString &when) {
    closeAppend();
    m_lines.clear();
    m_staged = 0;
    m_tornLine.clear();
    if (m_numbering == Numbering::Numbered) {
        m_identity = newIdentity();
        m_first = 1;
    }
    QFile::remove(m_path + QStringLiteral(".tmp")); // a rewrite that never reached its rename
    FileCheck check = checkReadable(m_path, FileLimits::kQueueFile);
    if (check.missing()) {
        QDir().mkpath(QFileInfo(m_path).absolutePath());
        QString e;
        if (!rewrite(&e)) {
            if (error) *error = e;
            return LoadStatus::Unreadable;
        }
        return LoadStatus::CreatedEmpty;
    }
    QByteArray raw;
    if (check.ok()) check = readReadable(m_path, FileLimits::kQueueFile, &raw);
    if (check.status == FileCheck::Status::NotRegular ||
        check.status == FileCheck::Status::TooLarge) {
        setAside(check.error, error);
        return LoadStatus::Unreadable;
    }
    if (!check.ok()) {
        if (error)
            *error = QStringLiteral("Não foi possível ler a fila \"%1\": %2")
                         .arg(QDir::toNativeSeparators(m_path), check.reason);
        return LoadStatus::Unreadable;
    }
    // The tail after the last line end is decoded apart: a multi-byte character cut in two
    // there must not make the whole file read as Windows-1252.
    const qsizetype ended = raw.lastIndexOf('\n') + 1;
    const QByteArray tail = raw.mid(ended);
    QStringList lines = windowsTextLines(tornLineLog ? raw.left(ended) : raw);
    if (m_numbering == Numbering::Numbered)
        readHeader(lines);
    else if (!lines.isEmpty() && lines.first().startsWith(kHeaderTag))
        lines.removeFirst(); // kept numbered while the station was on a server
    const QString torn = tornLineLog ? windowsTextLines(tail).join(QLatin1Char(' ')) : QString();
    for (const QString &l : std::as_const(lines)) {
        if (!l.trimmed().isEmpty()) m_lines.append(l);
    }
    // Even when the rejects file cannot take it, the torn line is not queued: its device
    // was never answered and sends it again.
    if (!torn.trimmed().isEmpty()) {
        m_tornLine = torn;
        tornLineLog->append(torn, when,
                            QStringLiteral("linha incompleta no fim da fila (gravação interrompida)"));
    }
    // Put the file in our own form (UTF-8, CR LF after every line, no blank lines) so that
    // appends land on a line of their own.
    QByteArray normal = header();
    for (const QString &l : std::as_const(m_lines))
        normal += encodeLine(l);
    if (normal != raw) {
        QString e;
        if (!rewrite(&e)) {
            if (error) *error = e;
            return LoadStatus::Unreadable;
        }
    }
    return LoadStatus::Loaded;
}

bool EventQueue::append(const QString &line, QString *error) {
    if (m_writer) return stage(line, error) && flush(error);
    const QString l = clean(line);
    if (m_needsRewrite) return appendByRewrite(l, error);
    if (!openForAppend(error)) return false;
    // The file may then end in a partial line: writeFailed puts the list back as it was.
    if (!queuefile::writeAll(m_fd, encodeLine(l)) || ::fdatasync(m_fd) != 0)
        return writeFailed(errno, error);
    m_lines.append(l);
    m_staged = 0; // the flush took every line staged before this one along
    m_appendErrno = 0;
    return true;
}

bool EventQueue::stage(const QString &line, QString *error) {
    const QString l = clean(line);
    if (m_writer) {
        m_lines.append(l);
        ++m_lineNumber;
        // After a write that may have left part of a line, the file is written whole.
        if (m_replaceNext)
            askReplace();
        else
            m_writer->append(l, m_lineNumber, m_epoch);
        return true;
    }
    if (m_needsRewrite) return appendByRewrite(l, error); // durable at once
    if (!openForAppend(error)) return false;
    if (!queuefile::writeAll(m_fd, encodeLine(l))) return writeFailed(errno, error);
    m_lines.append(l);
    ++m_staged;
    return true;
}

bool EventQueue::flush(QString *error) {
    if (m_writer) {
        const int failuresBefore = m_failures;
        m_writer->finish();
        // Whoever waits for what is now durable is answered here, not a turn later.
        dispatchWaiters();
        if (m_failures == failuresBefore) return true;
        if (error)
            *error = QStringLiteral("Não foi possível gravar \"%1\": %2")
                         .arg(QDir::toNativeSeparators(m_path), writeFault());
        return false;
    }
    if (m_staged == 0) return true;
    if (m_fd >= 0 && ::fdatasync(m_fd) == 0) {
        m_staged = 0;
        m_appendErrno = 0;
        return true;
    }
    if (m_fd >= 0) m_appendErrno = errno;
    closeAppend();
    if (rewrite(error)) return true;
    m_appendErrno = m_rewriteErrno;
    return false;
}

bool EventQueue::hasStaged() const {
    return m_writer ? m_lineNumber > m_resolved : m_staged > 0;
}

qsizetype EventQueue::durableCount() const {
    const qsizetype inFlight = m_writer ? qsizetype(m_lineNumber - m_resolved) : m_staged;
    return std::max<qsizetype>(0, m_lines.size() - inFlight);
}

void EventQueue::writeInBackground() {
    if (m_writer) return;
    if (m_staged > 0) flush();
    closeAppend();
    m_lineNumber = m_resolved = 0;
    m_epoch = 0;
    m_replaceNext = m_needsRewrite;
    m_writer = std::make_unique<QueueWriter>(
        m_path, [this](const QList<QueueWriter::Outcome> &o) { applyOutcomes(o); });
}

void EventQueue::stopWriter() {
    if (!m_writer) return;
    m_writer->finish();
    m_writer.reset();
    // What is still waiting has nothing in flight any more.
    m_resolved = m_lineNumber;
    dispatchWaiters();
}

void EventQueue::holdWrites(bool held) {
    if (m_writer) m_writer->setHeld(held);
}

int EventQueue::flushCount() const {
    return m_writer ? m_writer->flushCount() : 0;
}

// The whole list as it stands now, with every line staged so far: the replacement comes after
// the appends asked before it and makes durable what they had not.
void EventQueue::askReplace() {
    m_writer->replace(header(), m_lines, m_lineNumber, m_epoch, m_replaceNext);
    m_replaceNext = false;
}

void EventQueue::whenDurable(std::function<void(bool)> done) {
    if (!m_writer) {
        done(flush());
        return;
    }
    m_waiters.append({m_lineNumber, false, std::move(done)});
    if (m_lineNumber <= m_resolved) scheduleDispatch();
}

// Answered one event-loop turn later, not inside the caller's handling of its frame.
void EventQueue::scheduleDispatch() {
    if (m_dispatchPosted) return;
    m_dispatchPosted = true;
    QMetaObject::invokeMethod(
        m_writer.get(),
        [this] {
            m_dispatchPosted = false;
            dispatchWaiters();
        },
        Qt::QueuedConnection);
}

void EventQueue::dispatchWaiters() {
    // Taken one at a time: an answer may stage the next line or ask again.
    while (!m_waiters.isEmpty() && m_waiters.first().through <= m_resolved) {
        Waiter w = m_waiters.takeFirst();
        w.done(!w.failed);
    }
}

void EventQueue::applyOutcomes(const QList<QueueWriter::Outcome> &outcomes) {
    for (const QueueWriter::Outcome &o : outcomes) {
        m_appendErrno = o.appendErrno;
        m_rewriteErrno = o.rewriteErrno;
        if (o.kind == QueueWriter::Outcome::Kind::Durable) {
            m_resolved = std::max(m_resolved, std::min(o.through, m_lineNumber));
            dispatchWaiters();
            continue;
        }
        // A failed write: what was durable before it is answered as such; every line still in
        // flight leaves the list unanswered (its sender repeats it), and whoever waits for
        // one of them hears so.
        dispatchWaiters();
        const qsizetype inFlight = std::min(qsizetype(m_lineNumber - m_resolved), m_lines.size());
        m_lines.remove(m_lines.size() - inFlight, inFlight);
        m_resolved = m_lineNumber;
        m_epoch = o.epoch;
        m_replaceNext = o.dirty;
        ++m_failures;
        for (Waiter &w : m_waiters)
            w.failed = true;
        dispatchWaiters();
    }
    if (m_writeListener) m_writeListener();
}

bool EventQueue::removeHead(QString *error) {
    return removeFirst(1, error);
}

bool EventQueue::removeFirst(qsizetype n, QString *error) {
    n = std::min(n, m_lines.size());
    if (n <= 0) return true;
    if (m_writer) {
        // Lines still in flight may go too: the replacement comes after their appends. What is
        // left is then all in flight, which the count of the lines in flight still covers.
        m_lines.remove(0, n);
        m_first += n;
        askReplace();
        return true;
    }
    const QList<QString> before = m_lines;
    m_lines.remove(0, n);
    m_first += n;
    if (!rewrite(error)) {
        m_lines = before;
        m_first -= n;
        return false;
    }
    return true;
}

bool EventQueue::takeFirst(qsizetype n, QString *error) {
    // Only lines on the disk leave from the head: those in flight are the last ones.
    n = std::min(n, m_writer ? durableCount() : m_lines.size());
    if (n <= 0) return true;
    m_lines.remove(0, n);
    m_first += n;
    if (!m_writer) return rewrite(error);
    askReplace();
    return true;
}

bool EventQueue::dropThrough(qint64 last, QString *error) {
    const qint64 n = std::clamp<qint64>(last - m_first + 1, 0, m_lines.size());
    if (n > 0 && !removeFirst(n, error)) return false;
    if (m_lines.isEmpty() && m_first <= last) {
        m_first = last + 1;
        if (!m_writer) return rewrite(error);
        askReplace();
    }
    return true;
}

bool EventQueue::removeLast(QString *error) {
    if (m_writer && hasStaged() && !flush(error)) return false;
    if (m_lines.isEmpty()) return true;
    if (m_writer) {
        m_lines.removeLast();
        askReplace();
        return true;
    }
    const QString last = m_lines.takeLast();
    if (!rewrite(error)) {
        m_lines.append(last);
        return false;
    }
    return true;
}

bool EventQueue::rewrite(QString *error, bool clearsAppendFault) {
    queuefile::Failure why;
    if (!queuefile::replace(m_path, queuefile::contentOf(header(), m_lines), &m_fd, &why)) {
        m_rewriteErrno = why.errnum;
        if (error)
            *error = QStringLiteral("Não foi possível gravar \"%1\": %2 (%3)")
                         .arg(QDir::toNativeSeparators(m_path), writeText(m_rewriteErrno),
                              why.what);
        return false;
    }
    m_staged = 0;
    m_rewriteErrno = 0;
    m_needsRewrite = false;
    if (clearsAppendFault) m_appendErrno = 0;
    return true;
}

bool RejectLog::append(const QString &line, const QString &when, const QString &reason,
                       QString *error) {
    const QByteArray bytes =
        encodeLine(clean(line + QStringLiteral(" | ") + when + QStringLiteral(" | ") + reason));
    const int fd = queuefile::openForAppend(m_path);
    if (fd < 0) {
        if (error) *error = writeText(errno);
        return false;
    }
    const bool ok = queuefile::writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    if (!ok && error) *error = writeText(errno);
    ::close(fd);
    return ok;
}

} // namespace tulmo
