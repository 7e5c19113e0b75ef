#include "EventTypes.h"

#include <array>

namespace tulmo {

namespace {

constexpr unsigned kWhite = 0xFFFFFF;
using C = EventTypes::Colors;

// The two lists differ on purpose: the main grid writes white on its dark rows (ARMADO,
// ALARME, FALHAS) and paints PERIÓDICO light grey (#D6D6D6), while the pending window
// never changes its text colour and paints PERIÓDICO darker (#808080). The catalogue has
// its own scheme: white on every dark row, FALHAS aqua like INTERNO, PERIÓDICO #808080.
constexpr std::array<EventTypes::Type, 10> kTypes{{
    // clang-format off
    //  n   EVENTOS.TIPO     Grade_Eventos            pending window       catalogue
    {0,  u"DESARMADO",   C{0x00FF00, {}},     C{0x00FF00, {}}, C{0x00FF00, {}}},
    {1,  u"ARMADO",      C{0x008080, kWhite}, C{0x008080, {}}, C{0x008080, kWhite}},
    {2,  u"ALARME",      C{0xFF0000, kWhite}, C{0xFF0000, {}}, C{0xFF0000, kWhite}},
    {3,  u"RESTAURAÇÃO", C{0xFFFF00, {}},     C{0xFFFF00, {}}, C{0xFFFF00, {}}},
    {4,  u"EMERGENCIA",  C{0xFF00FF, {}},     C{0xFF00FF, {}}, C{0xFF00FF, kWhite}},
    {5,  u"PANICO",      C{0xFF00FF, {}},     C{0xFF00FF, {}}, C{0xFF00FF, kWhite}},
    {6,  u"PERIÓDICO",   C{0xD6D6D6, {}},     C{0x808080, {}}, C{0x808080, kWhite}},
    {7,  u"REGISTRO",    C{0xC0C0C0, {}},     C{0xC0C0C0, {}}, C{0xC0C0C0, {}}},
    {8,  u"FALHAS",      C{0x800080, kWhite}, C{0x800080, {}}, C{0x00FFFF, {}}},
    {10, u"INTERNO",     C{0x00FFFF, {}},     C{0x00FFFF, {}}, C{0x00FFFF, {}}},
    // clang-format on
}};

} // namespace

std::span<const EventTypes::Type> EventTypes::all() {
    return kTypes;
}

const EventTypes::Type *EventTypes::byNumber(int number) {
    for (const Type &t : kTypes)
        if (t.number == number) return &t;
    return nullptr;
}

const EventTypes::Type *EventTypes::byName(QStringView name) {
    for (const Type &t : kTypes)
        if (t.name == name) return &t;
    return nullptr;
}

QString EventTypes::typeName(const QString &typeNumber) {
    // Only the plain digits of a number name a type ("06" or " 6" are no type number).
    bool ok = false;
    const int n = typeNumber.toInt(&ok);
    const Type *t = ok && QString::number(n) == typeNumber ? byNumber(n) : nullptr;
    return t ? t->name.toString() : typeNumber;
}

EventTypes::Colors EventTypes::gridColors(QStringView tipo) {
    if (tipo.isEmpty()) return {kWhite, {}};
    const Type *t = byName(tipo);
    return t ? t->grid : Colors{};
}

EventTypes::Colors EventTypes::pendingColors(QStringView tipo) {
    const Type *t = tipo.isEmpty() ? nullptr : byName(tipo);
    return t ? t->pending : Colors{kWhite, {}};
}

EventTypes::Colors EventTypes::catalogueColors(QStringView tipoNumber) {
    bool ok = false;
    const int n = tipoNumber.trimmed().toInt(&ok);
    const Type *t = ok ? byNumber(n) : nullptr;
    return t ? t->catalogue : Colors{kWhite, {}};
}

} // namespace tulmo
