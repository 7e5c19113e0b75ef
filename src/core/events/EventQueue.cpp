#include "EventQueue.h"

#include "common/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#define fdatasync _commit
#endif

namespace tulmo {

namespace {

QString sysError() {
    return QString::fromLocal8Bit(std::strerror(errno));
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

} // namespace

EventQueue::EventQueue(QString filePath)
    : m_path(std::move(filePath)) {}

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
        if (error)
            *error = QStringLiteral("Não foi possível gravar \"%1\": %2").arg(m_path, sysError());
        return false;
    }
    return true;
}

EventQueue::LoadStatus EventQueue::load(QString *error, RejectLog *tornLineLog,
                                        const QString &when) {
    closeAppend();
    m_lines.clear();
    QFile::remove(m_path + QStringLiteral(".tmp")); // a rewrite that never reached its rename
    QFile f(m_path);
    if (!f.exists()) {
        QDir().mkpath(QFileInfo(m_path).absolutePath());
        QString e;
        if (!rewrite(&e)) {
            if (error) *error = e;
            return LoadStatus::Unreadable;
        }
        return LoadStatus::CreatedEmpty;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Não foi possível ler a fila \"%1\": %2")
                         .arg(QDir::toNativeSeparators(m_path), f.errorString());
        return LoadStatus::Unreadable;
    }
    const QByteArray raw = f.readAll();
    f.close();
    // The tail after the last line end is decoded apart: a multi-byte character cut in two
    // there must not make the whole file read as Windows-1252.
    const qsizetype ended = raw.lastIndexOf('\n') + 1;
    const QByteArray tail = raw.mid(ended);
    const QStringList lines = windowsTextLines(tornLineLog ? raw.left(ended) : raw);
    const QString torn = tornLineLog ? windowsTextLines(tail).join(QLatin1Char(' ')) : QString();
    for (const QString &l : std::as_const(lines)) {
        if (!l.trimmed().isEmpty()) m_lines.append(l);
    }
    // Even when the rejects file cannot take it, the torn line is not queued: its device
    // was never answered and sends it again.
    if (!torn.trimmed().isEmpty())
        tornLineLog->append(torn, when,
                            QStringLiteral("linha incompleta no fim da fila (gravação interrompida)"));
    // Put the file in our own form (UTF-8, CR LF after every line, no blank lines) so that
    // appends land on a line of their own.
    QByteArray normal;
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
    if (!openForAppend(error)) return false;
    if (!writeAll(m_fd, encodeLine(l)) || ::fdatasync(m_fd) != 0) {
        if (error)
            *error = QStringLiteral("Não foi possível gravar \"%1\": %2").arg(m_path, sysError());
        // The file may now end in a partial line: put it back to the list as it was.
        rewrite(nullptr);
        return false;
    }
    m_lines.append(l);
    return true;
}

bool EventQueue::removeHead(QString *error) {
    if (m_lines.isEmpty()) return true;
    const QString first = m_lines.takeFirst();
    if (!rewrite(error)) {
        m_lines.prepend(first);
        return false;
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

bool EventQueue::rewrite(QString *error) {
    const QString tmp = m_path + QStringLiteral(".tmp");
    const QByteArray tmpName = QFile::encodeName(tmp);
    const int fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    auto fail = [&](const QString &what) {
        if (error)
            *error = QStringLiteral("Não foi possível gravar \"%1\": %2 (%3)")
                         .arg(m_path, what, sysError());
        return false;
    };
    if (fd < 0) return fail(QStringLiteral("criação do arquivo temporário"));
    QByteArray all;
    all.reserve(m_lines.size() * 64);
    for (const QString &l : std::as_const(m_lines))
        all += encodeLine(l);
    const bool ok = writeAll(fd, all) && ::fdatasync(fd) == 0;
    ::close(fd);
    if (!ok) {
        ::unlink(tmpName.constData());
        return fail(QStringLiteral("escrita"));
    }
    closeAppend(); // the descriptor would point at the file being replaced
#ifdef Q_OS_WIN
    if (!MoveFileExW(reinterpret_cast<LPCWSTR>(tmp.utf16()),
                     reinterpret_cast<LPCWSTR>(m_path.utf16()), MOVEFILE_REPLACE_EXISTING))
        return fail(QStringLiteral("troca do arquivo"));
#else
    if (::rename(tmpName.constData(), QFile::encodeName(m_path).constData()) != 0)
        return fail(QStringLiteral("troca do arquivo"));
#endif
    syncDirectoryOf(m_path);
    return true;
}

bool RejectLog::append(const QString &line, const QString &when, const QString &reason,
                       QString *error) {
    const QByteArray bytes =
        encodeLine(clean(line + QStringLiteral(" | ") + when + QStringLiteral(" | ") + reason));
    const int fd = ::open(QFile::encodeName(m_path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = sysError();
        return false;
    }
    const bool ok = writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    if (!ok && error) *error = sysError();
    ::close(fd);
    return ok;
}

} // namespace tulmo
