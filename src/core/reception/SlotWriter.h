#pragma once

#include <QByteArray>

namespace tulmo {

// Writes to the serial port of a receiver slot (1 to 10): SMS commands, acknowledgements,
// repeated frames. False when the port is closed or the write failed.
class SlotWriter {
public:
    virtual ~SlotWriter() = default;
    virtual bool writeToSlot(int slot, const QByteArray &bytes) = 0;
};

} // namespace tulmo
