#pragma once

// Order statistics of the benchmarks' samples.

#include <algorithm>
#include <vector>

namespace tulmo::bench {

// The sample at fraction p (0 … 1) of the sorted samples; v must not be empty.
inline double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

} // namespace tulmo::bench
