#pragma once

#include <QChar>
#include <QString>

namespace tulmo::field {

// Frames and records are laid out by 1-based positions, as the receiver and module manuals
// count them. Reading past the end gives nothing, never a fault.

// The character at position pos; a null QChar out of range.
inline QChar charAt(const QString &s, int pos) {
    return pos >= 1 && pos <= s.size() ? s.at(pos - 1) : QChar();
}
// len characters from position pos (fewer at the end of the text).
inline QString take(const QString &s, int pos, int len = 1) {
    return pos >= 1 ? s.mid(pos - 1, len) : QString();
}
// Positions first to last, both included.
inline QString span(const QString &s, int first, int last) {
    return take(s, first, last - first + 1);
}

} // namespace tulmo::field
