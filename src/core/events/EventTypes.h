#pragma once

#include <QString>
#include <QStringView>

#include <optional>
#include <span>

namespace tulmo {

// The event types of the catalogue (EVENTOS_PADRAO.TIPO): the name the recording writes to
// EVENTOS.TIPO and the colours the two event lists and the catalogue paint it in. Colours are
// 0xRRGGBB; no text colour means the list's own (window text), left unchanged.
class EventTypes {
public:
    struct Colors {
        std::optional<unsigned> background; // none: the list's base colour
        std::optional<unsigned> text;       // none: the list's text colour
    };
    struct Type {
        int number;
        QStringView name;
        Colors grid;    // Grade_Eventos, the received-events grid of the main window
        Colors pending; // ST_Evento, the event of the pending-events window
        Colors catalogue; // a row of the event-code catalogue, by its TIPO number
    };

    // Every named type, by number.
    static std::span<const Type> all();
    static const Type *byNumber(int number);
    // Exact, case-sensitive and with its accents, as the recording wrote it.
    static const Type *byName(QStringView name);

    // EVENTOS.TIPO for the catalogue's type number as text: the type's name, or the text as
    // it is for a number without one (9, above 10, or empty for a code not in the catalogue).
    static QString typeName(const QString &typeNumber);

    // The colours of a row of Grade_Eventos: an empty TIPO is white, a TIPO that names no
    // type keeps the grid's base colour.
    static Colors gridColors(QStringView tipo);
    // The background of ST_Evento: white for an empty or unknown TIPO; the text colour is
    // never changed there.
    static Colors pendingColors(QStringView tipo);
    // The colours of a catalogue row from its TIPO number as text: white for an empty TIPO or
    // a number without a type (9, above 10), with the list's text colour.
    static Colors catalogueColors(QStringView tipoNumber);

    EventTypes() = delete;
};

} // namespace tulmo
