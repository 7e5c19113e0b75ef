#pragma once

#include <QString>

namespace tulmo {

// One process at a time on a data folder: the console and the headless reception service
// each hold Dados/tulmo.lock, locked by the kernel for as long as the process lives, with the
// holder's program name and process number inside so that a refused start can name it. A
// holder that was killed leaves the file but not the lock.
class DataFolderLock {
public:
    static QString fileName() { return QStringLiteral("tulmo.lock"); }

    // dataDir is created when missing, as the console's start creates it.
    explicit DataFolderLock(QString dataDir);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock &) = delete;
    DataFolderLock &operator=(const DataFolderLock &) = delete;

    // Takes the folder for programName. False, with the operator's message in error, when
    // another process holds it ("Dados/ já está em uso por tulmo-recepcao (processo 1234).")
    // or the lock file cannot be made.
    bool acquire(const QString &programName, QString *error);
    bool held() const { return m_fd >= 0; }
    // Lets the folder go (the destructor does it too).
    void release();

    // Who holds the folder as its lock file says: "tulmo-recepcao (processo 1234)"; empty
    // when the file says nothing readable.
    static QString describeHolder(const QByteArray &contents);

private:
    QString m_dataDir;
    int m_fd = -1;
};

} // namespace tulmo
