#include "EventQueue.h"

#include "common/RegularFile.h"
#include "common/SystemError.h"
#include "common/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <unistd.h>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#define fdatasync _commit
#endif

namespace tulmo {

namespace {

QString writeText(int errnum) {
    return fileErrorText(errnum, FileAccess::Writing);
}

bool writeAll(int fd, const QByteArray &bytes) {
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const auto n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

void syncDirectoryOf(const QString &path) {
#ifndef Q_OS_WIN
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
#else
    Q_UNUSED(path);
#endif
}

QByteArray encodeLine(const QString &line) {
    return line.toUtf8() + "\r\n";
}

QString clean(QString line) {
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

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
    closeAppend();
}

void EventQueue::closeAppend() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool EventQueue::openForAppend(QString *error) {
    if (m_fd >= 0) return true;
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                  0644);
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
    if (m_numbering == Numbering::Numbered) readHeader(lines);
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
    const QString l = clean(line);
    if (m_needsRewrite) return appendByRewrite(l, error);
    if (!openForAppend(error)) return false;
    // The file may then end in a partial line: writeFailed puts the list back as it was.
    if (!writeAll(m_fd, encodeLine(l)) || ::fdatasync(m_fd) != 0) return writeFailed(errno, error);
    m_lines.append(l);
    m_staged = 0; // the flush took every line staged before this one along
    m_appendErrno = 0;
    return true;
}

bool EventQueue::stage(const QString &line, QString *error) {
    const QString l = clean(line);
    if (m_needsRewrite) return appendByRewrite(l, error); // durable at once
    if (!openForAppend(error)) return false;
    if (!writeAll(m_fd, encodeLine(l))) return writeFailed(errno, error);
    m_lines.append(l);
    ++m_staged;
    return true;
}

bool EventQueue::flush(QString *error) {
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

bool EventQueue::removeHead(QString *error) {
    return removeFirst(1, error);
}

bool EventQueue::removeFirst(qsizetype n, QString *error) {
    n = std::min(n, m_lines.size());
    if (n <= 0) return true;
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
    n = std::min(n, m_lines.size());
    if (n <= 0) return true;
    m_lines.remove(0, n);
    m_first += n;
    return rewrite(error);
}

bool EventQueue::dropThrough(qint64 last, QString *error) {
    const qint64 n = std::clamp<qint64>(last - m_first + 1, 0, m_lines.size());
    if (n > 0 && !removeFirst(n, error)) return false;
    if (m_lines.isEmpty() && m_first <= last) {
        m_first = last + 1;
        return rewrite(error);
    }
    return true;
}

bool EventQueue::removeLast(QString *error) {
    if (m_lines.isEmpty()) return true;
    const QString last = m_lines.takeLast();
    if (!rewrite(error)) {
        m_lines.append(last);
        return false;
    }
    return true;
}

bool EventQueue::rewrite(QString *error, bool clearsAppendFault) {
    const QString tmp = m_path + QStringLiteral(".tmp");
    const QByteArray tmpName = QFile::encodeName(tmp);
    const int fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    auto fail = [&](const QString &what, int errnum) {
        m_rewriteErrno = errnum != 0 ? errnum : EIO;
        if (error)
            *error = QStringLiteral("Não foi possível gravar \"%1\": %2 (%3)")
                         .arg(QDir::toNativeSeparators(m_path), writeText(m_rewriteErrno), what);
        return false;
    };
    if (fd < 0) return fail(QStringLiteral("criação do arquivo temporário"), errno);
    QByteArray all = header();
    all.reserve(all.size() + m_lines.size() * 64);
    for (const QString &l : std::as_const(m_lines))
        all += encodeLine(l);
    const bool ok = writeAll(fd, all) && ::fdatasync(fd) == 0;
    const int writeErrno = errno;
    ::close(fd);
    if (!ok) {
        ::unlink(tmpName.constData());
        return fail(QStringLiteral("escrita"), writeErrno);
    }
    closeAppend(); // the descriptor would point at the file being replaced
#ifdef Q_OS_WIN
    if (!MoveFileExW(reinterpret_cast<LPCWSTR>(tmp.utf16()),
                     reinterpret_cast<LPCWSTR>(m_path.utf16()), MOVEFILE_REPLACE_EXISTING))
        return fail(QStringLiteral("troca do arquivo"), EACCES);
#else
    if (::rename(tmpName.constData(), QFile::encodeName(m_path).constData()) != 0) {
        const int renameErrno = errno;
        ::unlink(tmpName.constData());
        return fail(QStringLiteral("troca do arquivo"), renameErrno);
    }
#endif
    syncDirectoryOf(m_path);
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
    const int fd = ::open(QFile::encodeName(m_path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = writeText(errno);
        return false;
    }
    const bool ok = writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    if (!ok && error) *error = writeText(errno);
    ::close(fd);
    return ok;
}

} // namespace tulmo
