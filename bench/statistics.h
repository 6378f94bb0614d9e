#pragma once

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

// The nearest-rank percentile of the values (fraction 0.5 is the median, 0.99 the 99th percentile).
inline double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        throw std::logic_error("percentile of no values");
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}
