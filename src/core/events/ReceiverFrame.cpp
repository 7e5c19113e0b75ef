#include "ReceiverFrame.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace tulmo {

namespace receiverframe {

namespace {

// One class per position: 'h' a Contact ID digit, 'H' the same or a blank, 'q' a qualifier
// (digit or capital letter), 'Q' the same or a blank, 'p' printable, 'd' a decimal digit;
// any other character stands for itself.
constexpr const char *kFormat5[] = {
    "5hhhppphhhhqhhhhhhhh",
    "5hhhppphhhhqhhhhhhhhHHHHHHHHHHHHH",
    "5hhhppphhhhqhhhhhhhhHHHHHHHHHHHHHH",
    "5hhhppphhhhqhhhhhhhhdd:dd:ddpdd/dd/dd",
};
constexpr const char *kFormat1[] = {
    "1hhhpppppphhhhpQHHhh",
    "1hhhpppppphhhhpQHHhhdd:dd:ddpdd/dd/dd",
};

// The position of the heartbeat mark.
constexpr qsizetype kMarkAt = 16;

bool hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}
bool qualifier(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
}

bool fits(char cls, char c) {
    switch (cls) {
    case 'h':
        return hex(c);
    case 'H':
        return hex(c) || c == ' ';
    case 'q':
        return qualifier(c);
    case 'Q':
        return qualifier(c) || c == ' ';
    case 'p':
        return c >= 0x20 && c <= 0x7E;
    case 'd':
        return c >= '0' && c <= '9';
    default:
        return c == cls;
    }
}

// How many leading bytes of f fit the layout.
qsizetype fitting(const QByteArray &f, const char *layout) {
    const qsizetype n = std::min<qsizetype>(f.size(), qsizetype(std::strlen(layout)));
    qsizetype i = 0;
    while (i < n && fits(layout[i], f.at(i)))
        ++i;
    return i;
}

Shape refuse(Shape s, QString *why, const QString &text) {
    if (why) *why = text;
    return s;
}

} // namespace

Shape shapeOf(const QByteArray &f, QString *why) {
    if (f.isEmpty() || !startsFrame(f.front()))
        return refuse(Shape::Invalid, why, QStringLiteral("não é um quadro de receptora"));
    if (const qsizetype end = f.indexOf(kEnd); end >= 0)
        return refuse(Shape::Invalid, why,
                      QStringLiteral("0x14 no meio do quadro (posição %1)").arg(end + 1));
    if (f.size() >= kMarkAt && f.at(kMarkAt - 1) == '@') return Shape::Heartbeat;
    const std::span<const char *const> layouts = f.front() == '5'
                                                     ? std::span<const char *const>(kFormat5)
                                                     : std::span<const char *const>(kFormat1);
    bool prefix = f.size() < kMarkAt; // a heartbeat is free up to its mark
    bool tooLong = false;
    qsizetype bad = 0; // the most leading bytes a layout took before one did not fit
    for (const char *layout : layouts) {
        const qsizetype n = fitting(f, layout), length = qsizetype(std::strlen(layout));
        if (n == f.size()) {
            if (n == length) return Shape::Event;
            prefix = true;
        } else if (n == length) {
            tooLong = true;
        } else {
            bad = std::max(bad, n);
        }
    }
    if (prefix)
        return refuse(Shape::Partial, why,
                      QStringLiteral("quadro incompleto (%1 caracteres)").arg(f.size()));
    if (tooLong)
        return refuse(Shape::Invalid, why,
                      QStringLiteral("quadro longo demais (%1 caracteres)").arg(f.size()));
    return refuse(Shape::Invalid, why,
                  QStringLiteral("caractere inválido na posição %1").arg(bad + 1));
}

bool continues(const QByteArray &held, const QByteArray &bytes) {
    // A heartbeat is whole at its "@": a frame after it is not its tail.
    if (shapeOf(held) == Shape::Heartbeat) return bytes.isEmpty() || !startsFrame(bytes.front());
    const QByteArray joined = held + bytes;
    const qsizetype end = joined.indexOf(kEnd);
    return shapeOf(end < 0 ? joined : joined.left(end)) != Shape::Invalid;
}

} // namespace receiverframe

} // namespace tulmo
