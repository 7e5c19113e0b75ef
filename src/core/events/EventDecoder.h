#pragma once

#include <QString>

namespace tulmo {

class Clock;
class LiveSettings;

// Turns raw receiver messages (formats "1" and "5") into event lines.
class EventDecoder {
public:
    EventDecoder(const Clock &clock, const LiveSettings &settings)
        : m_clock(clock)
        , m_settings(settings) {}

    // The event line of message, or an empty text when the message carries no event
    // (shorter than 10 characters, another format, "@" at position 16).
    QString Decodifica_Eventos(const QString &message) const;

private:
    const Clock &m_clock;
    const LiveSettings &m_settings;
};

} // namespace tulmo
