#pragma once

#include <QStringView>

namespace tulmo::DateFormats {

// The Brazilian forms the console shows and writes everywhere (grids, lists, reports, files,
// messages, devices), whatever the locale of the machine: QDateTime::toString with a format is
// numeric here and ignores it. Every date shown goes through these, so no two lists differ.
inline constexpr QStringView kDateTime = u"dd/MM/yyyy HH:mm:ss";
inline constexpr QStringView kDate = u"dd/MM/yyyy";
inline constexpr QStringView kTime = u"HH:mm:ss";
// The grids and the pending list once had forms of their own ("dd.MM.yyyy HH:mm"); they show
// the one form now. Kept as names for the places that say which list they format.
inline constexpr QStringView kGridDateTime = kDateTime;
inline constexpr QStringView kDateTimeMinutes = kDateTime;

} // namespace tulmo::DateFormats
