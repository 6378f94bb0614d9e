#pragma once

#include "register_model.h"

#include <array>
#include <cstdint>
#include <optional>

class ChangeRing;

// What a user otherwise measures by hand on one line over a span: its edges,
// its frequency, and its shortest and longest high and low times. Times are
// nanoseconds; a high or low time counts only when both its edges lie in the span.
struct LineMeasure {
    long long edges = 0;
    long long risingEdges = 0;
    std::int64_t firstRise = 0;
    std::int64_t lastRise = 0;
    std::optional<std::int64_t> shortestHigh, longestHigh, shortestLow, longestLow;

    // Rising edges per second between the first and the last; none below two edges.
    std::optional<double> frequency() const;
};

using LineMeasures = std::array<LineMeasure, RegisterModel::Lines.size()>;

// Measures every line over the changes of the ring in [from, to) nanoseconds.
LineMeasures MeasureLines(const ChangeRing& ring, std::int64_t from, std::int64_t to);
