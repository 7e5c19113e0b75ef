#include "QueueFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#define fdatasync _commit
#endif

namespace tulmo::queuefile {

namespace {

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

} // namespace

QByteArray encodeLine(const QString &line) {
    return line.toUtf8() + "\r\n";
}

QString clean(QString line) {
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

QByteArray contentOf(const QByteArray &header, const QList<QString> &lines) {
    QByteArray all = header;
    all.reserve(all.size() + lines.size() * 64);
    for (const QString &l : lines)
        all += encodeLine(l);
    return all;
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

// The modes are the umask's to narrow: the station's group writes the queues of an installed
// station (the service and its operators' consoles, UMask=0002).
int openForAppend(const QString &path) {
    return ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                  0666);
}

bool replace(const QString &path, const QByteArray &content, int *appendFd, Failure *why) {
    const QString tmp = path + QStringLiteral(".tmp");
    const QByteArray tmpName = QFile::encodeName(tmp);
    auto fail = [why](const char *what, int errnum) {
        why->errnum = errnum != 0 ? errnum : EIO;
        why->what = QString::fromUtf8(what);
        return false;
    };
    const int fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return fail("criação do arquivo temporário", errno);
    const bool ok = writeAll(fd, content) && ::fdatasync(fd) == 0;
    const int writeErrno = errno;
    ::close(fd);
    if (!ok) {
        ::unlink(tmpName.constData());
        return fail("escrita", writeErrno);
    }
    if (appendFd && *appendFd >= 0) {
        ::close(*appendFd);
        *appendFd = -1;
    }
#ifdef Q_OS_WIN
    if (!MoveFileExW(reinterpret_cast<LPCWSTR>(tmp.utf16()),
                     reinterpret_cast<LPCWSTR>(path.utf16()), MOVEFILE_REPLACE_EXISTING))
        return fail("troca do arquivo", EACCES);
#else
    if (::rename(tmpName.constData(), QFile::encodeName(path).constData()) != 0) {
        const int renameErrno = errno;
        ::unlink(tmpName.constData());
        return fail("troca do arquivo", renameErrno);
    }
#endif
    syncDirectoryOf(path);
    return true;
}

bool truncateTo(const QString &path, qint64 size) {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    Q_UNUSED(size);
    return false;
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::ftruncate(fd, off_t(size)) == 0 && ::fdatasync(fd) == 0;
    ::close(fd);
    return ok;
#endif
}

} // namespace tulmo::queuefile
