#include "DescriptorLimit.h"

#include <QtGlobal>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace tulmo {

long long raiseDescriptorLimit() {
#ifdef Q_OS_UNIX
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) return -1;
    if (lim.rlim_cur == lim.rlim_max) return static_cast<long long>(lim.rlim_cur);
    rlimit raised = lim;
    raised.rlim_cur = lim.rlim_max;
    // An unlimited hard limit is refused by the kernel (fs.nr_open caps it): take a
    // high one that it accepts.
    if (lim.rlim_max == RLIM_INFINITY) raised.rlim_cur = 1 << 20;
    while (::setrlimit(RLIMIT_NOFILE, &raised) != 0) {
        if (raised.rlim_cur <= lim.rlim_cur) return static_cast<long long>(lim.rlim_cur);
        raised.rlim_cur = std::max<rlim_t>(lim.rlim_cur, raised.rlim_cur / 2);
    }
    return static_cast<long long>(raised.rlim_cur);
#else
    return -1;
#endif
}

} // namespace tulmo
