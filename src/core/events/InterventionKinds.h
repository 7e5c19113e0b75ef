#pragma once

#include <QString>
#include <QStringList>

namespace tulmo {

// The kinds of intervention the pending-events window offers: the lines of Dados/int.txt in
// file order, or the built-in list while there is no such file. The file is read once, and
// again only when it has changed (another file in its place, another size or time of
// modification), not at every activation of the window: the window is activated again after
// every message, and a long file would cost that time each time.
class InterventionKinds {
public:
    static const QStringList &defaults();

    explicit InterventionKinds(QString filePath);
    const QString &filePath() const { return m_path; }

    // Looks at the file and reads it again when it changed. True when the kinds or the
    // problem may differ from before.
    bool refresh();
    const QStringList &kinds() const { return m_kinds; }
    // Why the file was not read, for the operator (no regular file, larger than
    // FileLimits::kInterventionKinds, unreadable); empty when it was read or is missing.
    const QString &problem() const { return m_problem; }

    // The kinds a file gives when read now; the built-in list when it is missing, cannot be
    // read, or has no kind in it.
    static QStringList read(const QString &path, QString *problem = nullptr);

private:
    struct Stamp {
        bool exists = false;
        quint64 device = 0, inode = 0;
        qint64 size = 0, modifiedNs = 0;
        int mode = 0;
        bool operator==(const Stamp &) const = default;
    };
    static Stamp stampOf(const QString &path);

    QString m_path;
    Stamp m_stamp;
    bool m_read = false;
    QStringList m_kinds;
    QString m_problem;
};

} // namespace tulmo
