#pragma once

#include <QByteArray>
#include <QString>

namespace tulmo {

// The layouts of the receiver frames (formats "1" and "5"), so that reception acknowledges
// only a frame that makes a whole event: its exact length, each field in its alphabet.
// Positions count from 1, and a frame is looked at without its closing 0x14.
//
// Format "5" (Contact ID): 1 "5", 2–3 receiver, 4 line, 5–7 message type (" 18"), 8–11
// account, 12 qualifier (letter or digit), 13–15 event code, 16–17 partition, 18–20 zone or
// user; then nothing (20 characters), or the caller identification (21–22, flag at 23,
// number at 24–33, and at most one more character: 33 or 34 characters), or the receiver's
// clock (time "hh:mm:ss" at 21–28, date "dd/mm/yy" at 30–37: 37 characters).
// Format "1": 1 "1", 2–3 receiver, 4 line, 5–10 not used, 11–14 account, 15 not used,
// 16 qualifier or blank, 17 partition or blank, 18–20 event number (18 may be blank); then
// nothing (20 characters) or the receiver's clock (37 characters).
// Account, code, partition and zone digits are Contact ID digits: 0–9 and A–F ("A" is the
// telephone line's 0). Receiver and line are hex digits too; unused positions are printable.
// Either format with "@" at position 16 is a heartbeat, whatever else it holds.
namespace receiverframe {

enum class Shape {
    Partial,   // the beginning of a whole frame or heartbeat: more bytes may complete it
    Event,     // a whole event as it stands (a longer layout could still follow)
    Heartbeat, // "@" at position 16
    Invalid,   // no bytes added can make it a whole frame
};

// The longest layout, without its 0x14.
inline constexpr qsizetype kLongest = 37;
// A receiver frame ends with this byte.
inline constexpr char kEnd = 0x14;

// Whether a piece of data beginning with c is (the beginning of) a receiver frame.
inline bool startsFrame(char c) {
    return c == '1' || c == '5';
}

// What the bytes of a receiver frame make, given without their closing 0x14. A 0x14 inside
// makes it Invalid. why, when given, receives the reason of Partial and Invalid in Portuguese.
Shape shapeOf(const QByteArray &frame, QString *why = nullptr);

// Whether bytes, read after held (the beginning of a frame, or a heartbeat), go on with it:
// false when they begin another frame, so that held ends where it is.
bool continues(const QByteArray &held, const QByteArray &bytes);

// The frame without the one 0x14 that may close it.
inline QByteArray withoutEnd(const QByteArray &frame) {
    return frame.endsWith(kEnd) ? frame.chopped(1) : frame;
}

} // namespace receiverframe

} // namespace tulmo
