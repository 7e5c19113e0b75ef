#include "InterventionKinds.h"

#include "core/common/RegularFile.h"
#include "core/common/TextCodec.h"

#include <QFile>

#include <sys/stat.h>

namespace tulmo {

const QStringList &InterventionKinds::defaults() {
    static const QStringList kinds{QStringLiteral("Disparo Falso"), QStringLiteral("Teste"),
                                   QStringLiteral("Técnico Enviado"),
                                   QStringLiteral("Tático Enviado")};
    return kinds;
}

InterventionKinds::InterventionKinds(QString filePath)
    : m_path(std::move(filePath))
    , m_kinds(defaults()) {}

InterventionKinds::Stamp InterventionKinds::stampOf(const QString &path) {
    Stamp s;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return s;
    s.exists = true;
    s.device = quint64(st.st_dev);
    s.inode = quint64(st.st_ino);
    s.size = qint64(st.st_size);
    s.mode = int(st.st_mode);
#ifdef Q_OS_LINUX
    s.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#else
    s.modifiedNs = qint64(st.st_mtime) * 1000000000;
#endif
    return s;
}

bool InterventionKinds::refresh() {
    const Stamp now = stampOf(m_path);
    if (m_read && now == m_stamp) return false;
    m_stamp = now;
    m_read = true;
    m_problem.clear();
    m_kinds = read(m_path, &m_problem);
    return true;
}

QStringList InterventionKinds::read(const QString &path, QString *problem) {
    bool wasRead = false;
    QString error;
    const QStringList rows =
        readWindowsTextLines(path, FileLimits::kInterventionKinds, &wasRead, &error);
    if (!wasRead) {
        if (problem && !checkReadable(path, FileLimits::kInterventionKinds).missing())
            *problem = error;
        return defaults();
    }
    QStringList kinds;
    for (const QString &row : rows)
        if (!row.trimmed().isEmpty()) kinds << row;
    // A file with no kind in it would leave the operator nothing to choose.
    return kinds.isEmpty() ? defaults() : kinds;
}

} // namespace tulmo
