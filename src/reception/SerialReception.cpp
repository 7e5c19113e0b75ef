#include "SerialReception.h"

#include "common/Clock.h"
#include "reception/Data_Modulo2.h"
#include "reception/ReceptionSink.h"

namespace tulmo {

SerialReception::SerialReception(DM1 &dm, ReceptionSink &sink, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_dm(dm)
    , m_sink(sink)
    , m_clock(clock) {}

} // namespace tulmo
