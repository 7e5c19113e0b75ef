#include "Clock.h"

namespace tulmo {

SystemClock &SystemClock::instance() {
    static SystemClock clock;
    return clock;
}

} // namespace tulmo
