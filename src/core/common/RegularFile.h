#pragma once

#include <QByteArray>
#include <QString>

class QFile;

namespace tulmo {

// How large each kind of file the console reads may be. Each is far above what the console or
// a receiver ever writes, and low enough that a wrong file chosen by mistake is refused at
// once instead of being read into memory.
namespace FileLimits {
inline constexpr qint64 kConfigIni = qint64(1) << 20;         // a few dozen keys
inline constexpr qint64 kInterventionKinds = qint64(1) << 20; // int.txt: a short list
inline constexpr qint64 kQueueFile = qint64(256) << 20;       // millions of event lines
inline constexpr qint64 kCfgFile = qint64(64) << 10;          // one block is 1,602 bytes
inline constexpr qint64 kReceiverFile = qint64(64) << 20;     // two million 32-byte records
} // namespace FileLimits

// Whether a file may be read: a regular file (or a link to one) of a bounded size. A FIFO, a
// folder, a device or a socket is never opened: reading a FIFO waits for a writer that may
// never come, and a device may never end.
struct FileCheck {
    enum class Status { Ok, Missing, NotRegular, TooLarge, Unreadable };
    Status status = Status::Unreadable;
    qint64 size = 0;
    // For the operator, in Portuguese, whenever status is not Ok.
    QString error;
    // Missing and Unreadable: the system's reason alone ("sem permissão de leitura").
    QString reason;
    bool ok() const { return status == Status::Ok; }
    bool missing() const { return status == Status::Missing; }
};

// Looks at path without opening it.
FileCheck checkReadable(const QString &path, qint64 maxBytes);
// Opens path for reading when the check passes. What is opened is checked again, so a FIFO
// put in the file's place meanwhile is refused rather than waited on.
FileCheck openReadable(QFile &file, const QString &path, qint64 maxBytes);
// The whole file, read through openReadable.
FileCheck readReadable(const QString &path, qint64 maxBytes, QByteArray *bytes);

// "512 bytes", "64 KB", "10,0 MB".
QString fileSizeText(qint64 bytes);

} // namespace tulmo
