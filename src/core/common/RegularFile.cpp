#include "RegularFile.h"

#include "SystemError.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tulmo {

namespace {

QString shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

QString kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return QStringLiteral("uma pasta");
#ifndef Q_OS_WIN
    if (S_ISFIFO(mode)) return QStringLiteral("um FIFO");
    if (S_ISSOCK(mode)) return QStringLiteral("um socket");
    if (S_ISBLK(mode)) return QStringLiteral("um dispositivo");
#endif
    if (S_ISCHR(mode)) return QStringLiteral("um dispositivo");
    return QStringLiteral("de um tipo desconhecido");
}

// What the status of a file's stat data says, given its size limit.
FileCheck judge(const QString &path, mode_t mode, qint64 size, qint64 maxBytes) {
    FileCheck c;
    c.size = size;
    if (!S_ISREG(mode)) {
        c.status = FileCheck::Status::NotRegular;
        c.error = QStringLiteral("\"%1\" não é um arquivo comum (é %2) e não foi lido.")
                      .arg(shown(path), kindOf(mode));
    } else if (size > maxBytes) {
        c.status = FileCheck::Status::TooLarge;
        c.error = QStringLiteral("O arquivo \"%1\" não foi lido: tem %2, e um arquivo desse tipo "
                                 "tem no máximo %3.")
                      .arg(shown(path), fileSizeText(size), fileSizeText(maxBytes));
    } else {
        c.status = FileCheck::Status::Ok;
    }
    return c;
}

FileCheck failure(const QString &path, int errnum) {
    FileCheck c;
    c.status = errnum == ENOENT ? FileCheck::Status::Missing : FileCheck::Status::Unreadable;
    c.reason = fileErrorText(errnum, FileAccess::Reading);
    c.error = errnum == ENOENT ? QStringLiteral("O arquivo \"%1\" não existe.").arg(shown(path))
                               : QStringLiteral("Não foi possível ler o arquivo \"%1\": %2")
                                     .arg(shown(path), c.reason);
    return c;
}

} // namespace

QString fileSizeText(qint64 bytes) {
    if (bytes < 1024) return QStringLiteral("%1 bytes").arg(bytes);
    const bool inKb = bytes < (qint64(1) << 20);
    const qint64 unit = inKb ? 1024 : qint64(1) << 20;
    const QString name = inKb ? QStringLiteral("KB") : QStringLiteral("MB");
    if (bytes % unit == 0) return QStringLiteral("%1 %2").arg(bytes / unit).arg(name);
    return QStringLiteral("%1 %2").arg(QString::number(double(bytes) / double(unit), 'f', 1)
                                           .replace(QLatin1Char('.'), QLatin1Char(',')),
                                       name);
}

FileCheck checkReadable(const QString &path, qint64 maxBytes) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (path.isEmpty() || ::stat(name.constData(), &st) != 0)
        return failure(path, path.isEmpty() ? ENOENT : errno);
    return judge(path, st.st_mode, qint64(st.st_size), maxBytes);
}

FileCheck openReadable(QFile &file, const QString &path, qint64 maxBytes) {
    FileCheck c = checkReadable(path, maxBytes);
    if (!c.ok()) return c;
#ifdef Q_OS_WIN
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) return failure(path, EACCES);
    return c;
#else
    // Without waiting: a FIFO opened for reading waits for a writer, unless told not to.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failure(path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return failure(path, e);
    }
    c = judge(path, st.st_mode, qint64(st.st_size), maxBytes);
    if (!c.ok()) {
        ::close(fd);
        return c;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failure(path, EIO);
    }
    return c;
#endif
}

FileCheck readReadable(const QString &path, qint64 maxBytes, QByteArray *bytes) {
    bytes->clear();
    QFile f;
    FileCheck c = openReadable(f, path, maxBytes);
    if (!c.ok()) return c;
    // The file may have grown since it was looked at: no more than the limit is read.
    *bytes = f.read(maxBytes + 1);
    if (f.error() != QFileDevice::NoError) {
        bytes->clear();
        return failure(path, EIO);
    }
    if (bytes->size() > maxBytes) {
        bytes->clear();
        return judge(path, S_IFREG, std::max(f.size(), maxBytes + 1), maxBytes);
    }
    c.size = bytes->size();
    return c;
}

} // namespace tulmo
