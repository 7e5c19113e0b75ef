#pragma once

#include <QObject>

namespace tulmo {

class Clock;
class Conectados;
class DM1;
class ReceptionSink;

// The text protocol of the devices connected over TCP (Decodifica_TCP).
class DeviceLink : public QObject {
    Q_OBJECT
public:
    DeviceLink(DM1 &dm, Conectados &conectados, ReceptionSink &sink, const Clock &clock,
               QObject *parent = nullptr);

private:
    DM1 &m_dm;
    Conectados &m_conectados;
    ReceptionSink &m_sink;
    const Clock &m_clock;
};

} // namespace tulmo
