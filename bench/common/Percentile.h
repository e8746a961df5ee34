#pragma once

// The p-quantile (0 … 1) of `values` by the nearest lower rank; 0 for none.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace velmarin::bench {

inline double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

} // namespace velmarin::bench
