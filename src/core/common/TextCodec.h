#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tulmo {

// Files written by the Windows version are in Windows-1252; ours are UTF-8.
QString decodeWindowsText(const QByteArray &bytes);
QString fromWindows1252(const QByteArray &bytes);
// Characters outside Windows-1252 become '?'.
QByteArray toWindows1252(const QString &text);

// The lines of a file of the Windows version (queues, int.txt, Config.ini): UTF-8 when valid,
// otherwise Windows-1252; a leading byte-order mark dropped; CR LF, LF or a lone CR ends a
// line, and the break after the last line does not start another one.
QStringList windowsTextLines(const QByteArray &bytes);
// The same, read from path: a regular file of at most maxBytes (RegularFile.h). ok is false
// (and the list empty) when it is missing, is no such file or cannot be read, with the
// operator's message in error.
QStringList readWindowsTextLines(const QString &path, qint64 maxBytes, bool *ok = nullptr,
                                 QString *error = nullptr);

} // namespace tulmo
