#pragma once

#include <QByteArray>
#include <QString>

namespace tulmo {

// Files written by the Windows version are in Windows-1252; ours are UTF-8.
QString decodeWindowsText(const QByteArray &bytes);
QString fromWindows1252(const QByteArray &bytes);
// Characters outside Windows-1252 become '?'.
QByteArray toWindows1252(const QString &text);

} // namespace tulmo
