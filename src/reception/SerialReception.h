#pragma once

#include <QObject>

namespace tulmo {

class Clock;
class DM1;
class ReceptionSink;

// Bytes arriving on the serial ports of the ten slots: framing by quiet time, the receiver
// identification reply, acknowledgements, heartbeats and caller identification.
class SerialReception : public QObject {
    Q_OBJECT
public:
    SerialReception(DM1 &dm, ReceptionSink &sink, const Clock &clock, QObject *parent = nullptr);

private:
    DM1 &m_dm;
    ReceptionSink &m_sink;
    const Clock &m_clock;
};

} // namespace tulmo
