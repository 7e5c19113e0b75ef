#pragma once

#include <QStringView>

namespace tulmo::DateFormats {

// The Brazilian forms the console has always shown and written, whatever the locale of the
// machine: QDateTime::toString with a format is numeric here and ignores it.
inline constexpr QStringView kDateTime = u"dd/MM/yyyy HH:mm:ss"; // files, messages, devices
inline constexpr QStringView kDate = u"dd/MM/yyyy";
inline constexpr QStringView kTime = u"HH:mm:ss";
inline constexpr QStringView kDateTimeMinutes = u"dd/MM/yyyy HH:mm"; // the pending list
inline constexpr QStringView kGridDateTime = u"dd.MM.yyyy HH:mm";    // the main window's grids

} // namespace tulmo::DateFormats
