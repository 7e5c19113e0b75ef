#pragma once

// Order statistics of the benchmarks' samples, and their clock.

#include <algorithm>
#include <cstdint>
#include <time.h>
#include <vector>

namespace tulmo::bench {

// The sample at fraction p (0 … 1) of the sorted samples; v must not be empty.
inline double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// Monotonic nanoseconds, comparable across the benchmark's threads.
inline int64_t monoNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace tulmo::bench
