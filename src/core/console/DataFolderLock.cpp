#include "DataFolderLock.h"

#include "core/common/SystemError.h"

#include <QDir>
#include <QFile>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace tulmo {

namespace {
QString shownFolder() {
    return QDir::toNativeSeparators(QStringLiteral("Dados/"));
}
} // namespace

DataFolderLock::DataFolderLock(QString dataDir)
    : m_dataDir(std::move(dataDir)) {}

DataFolderLock::~DataFolderLock() {
    release();
}

QString DataFolderLock::describeHolder(const QByteArray &contents) {
    const QList<QByteArray> fields = contents.trimmed().split(' ');
    if (fields.size() != 2 || fields[0].isEmpty()) return QString();
    bool ok = false;
    const qint64 pid = fields[1].toLongLong(&ok);
    if (!ok || pid <= 0) return QString();
    return QStringLiteral("%1 (processo %2)").arg(QString::fromUtf8(fields[0])).arg(pid);
}

#ifdef Q_OS_UNIX
bool DataFolderLock::acquire(const QString &programName, QString *error) {
    if (held()) return true;
    if (!QDir().mkpath(m_dataDir)) {
        if (error)
            *error = QStringLiteral("Não foi possível criar a pasta de dados \"%1\".")
                         .arg(QDir::toNativeSeparators(m_dataDir));
        return false;
    }
    const QByteArray path = QFile::encodeName(m_dataDir + QLatin1Char('/') + fileName());
    // Close-on-exec: a program started from here (the mail client) must not keep the folder.
    // The umask decides who else may take it: the station's group, for the service and the
    // console of an installed station (UMask=0002).
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("Não foi possível travar a pasta %1 (%2): %3.")
                         .arg(shownFolder(), fileName(), fileErrorText(errno, FileAccess::Writing));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // The holder writes its name just after it takes the lock: a start in that instant
        // reads again before naming nobody.
        QString holder;
        for (int attempt = 0; attempt < 20 && holder.isEmpty(); ++attempt) {
            if (attempt) QThread::msleep(10);
            char buf[256];
            const ssize_t n = ::pread(fd, buf, sizeof buf, 0);
            if (n > 0) holder = describeHolder(QByteArray(buf, int(n)));
        }
        ::close(fd);
        if (error)
            *error = QStringLiteral("%1 já está em uso por %2.")
                         .arg(shownFolder(),
                              holder.isEmpty() ? QStringLiteral("outro processo") : holder);
        return false;
    }
    const QByteArray who =
        programName.toUtf8() + ' ' + QByteArray::number(qint64(::getpid())) + '\n';
    // What a killed holder wrote is replaced. Should that fail the folder is held all the
    // same; a refused start would only name nobody.
    [[maybe_unused]] const bool named =
        ::ftruncate(fd, 0) == 0 &&
        ::pwrite(fd, who.constData(), size_t(who.size()), 0) == ssize_t(who.size());
    m_fd = fd;
    return true;
}

void DataFolderLock::release() {
    if (m_fd < 0) return;
    // Emptied before it is let go: a later refusal never names a process that is gone. The
    // file stays: removing it could let two processes lock two different files.
    [[maybe_unused]] const int rc = ::ftruncate(m_fd, 0);
    ::close(m_fd);
    m_fd = -1;
}
#else
// Without flock the folder is not guarded; the per-session guard of the console still holds.
bool DataFolderLock::acquire(const QString &, QString *) {
    return true;
}
void DataFolderLock::release() {}
#endif

} // namespace tulmo
