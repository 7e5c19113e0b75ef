#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tulmo::queuefile {

// How a queue file holds its lines: UTF-8, each ended by CR LF, no line break inside one.
QByteArray encodeLine(const QString &line);
QString clean(QString line);
// The whole file: the header (empty for a queue without numbers), then every line.
QByteArray contentOf(const QByteArray &header, const QList<QString> &lines);

// Writes every byte, going on after an interrupted or partial write; false with errno set.
bool writeAll(int fd, const QByteArray &bytes);
// Opens the file to add at its end (created when missing); -1 with errno set.
int openForAppend(const QString &path);

// Why a replacement failed: the error and the step ("criação do arquivo temporário",
// "escrita", "troca do arquivo").
struct Failure {
    int errnum = 0;
    QString what;
};
// Puts content in the file's place: written to "<path>.tmp", flushed to the disk and renamed
// over the file, then the folder flushed, so that a crash leaves the old content or the new,
// never part of either. The descriptor *appendFd (when open) is closed before the rename: it
// would point at the file being replaced.
bool replace(const QString &path, const QByteArray &content, int *appendFd, Failure *why);
// Cuts the file back to size bytes through a descriptor of its own, and flushes that: after a
// failed write, what it may have left at the end goes. False when that could not be done.
bool truncateTo(const QString &path, qint64 size);

} // namespace tulmo::queuefile
