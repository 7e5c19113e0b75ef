#include "DeviceLink.h"

#include "common/Clock.h"
#include "reception/Conectados.h"
#include "reception/Data_Modulo2.h"
#include "reception/ReceptionSink.h"

namespace tulmo {

DeviceLink::DeviceLink(DM1 &dm, Conectados &conectados, ReceptionSink &sink, const Clock &clock,
                       QObject *parent)
    : QObject(parent)
    , m_dm(dm)
    , m_conectados(conectados)
    , m_sink(sink)
    , m_clock(clock) {}

} // namespace tulmo
