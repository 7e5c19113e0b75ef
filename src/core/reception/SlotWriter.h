#pragma once

#include <QByteArray>

namespace tulmo {

// Writes to the serial port of a receiver slot (1 to 10): SMS commands, acknowledgements,
// repeated frames. False when the port is closed or the write failed.
class SlotWriter {
public:
    virtual ~SlotWriter() = default;
    virtual bool writeToSlot(int slot, const QByteArray &bytes) = 0;
    // The same, opening the slot's port first when it is closed (an adapter plugged in late,
    // a [Portas] entry mended since): the repeater's attempts do this. False when it cannot.
    virtual bool openAndWrite(int slot, const QByteArray &bytes) { return writeToSlot(slot, bytes); }
    // Whether the slot repeats its devices' frames at all: an IP receiver's event output is
    // off until configured, and frames for it have nowhere to go.
    virtual bool hasEventOutput(int /*slot*/) const { return true; }
};

} // namespace tulmo
