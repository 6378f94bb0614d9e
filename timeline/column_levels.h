#pragma once

#include "change_ring.h"

#include <cstdint>
#include <vector>

// What a span of the record looks like column by column: for each pixel
// column, the register bits that were set at some time in it and those set
// all through it. A line whose bit differs between the two took both levels
// there, however short its pulse, and is drawn so. Bounded by the columns,
// not by the changes in them.
struct ColumnLevels {
    std::vector<ChangeRing::Seen> seen;
    std::vector<bool> known; // false before the record's first change kept and after its newest time
    // Columns start at start + c * nanosecondsPerPixel; only times before newest are known.
    static ColumnLevels of(const ChangeRing& ring, std::int64_t start, double nanosecondsPerPixel, int columns,
                           std::int64_t newest);
};
