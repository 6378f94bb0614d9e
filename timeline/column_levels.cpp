#include "column_levels.h"

#include <cmath>

ColumnLevels ColumnLevels::of(const ChangeRing& ring, std::int64_t start, double nanosecondsPerPixel, int columns,
                              std::int64_t newest)
{
    ColumnLevels levels;
    const auto count = static_cast<std::size_t>(std::max(columns, 0));
    levels.seen.resize(count);
    levels.known.assign(count, false);
    if (ring.empty())
        return levels;
    const auto columnStart = [&](std::size_t column) {
        return start + static_cast<std::int64_t>(std::floor(static_cast<double>(column) * nanosecondsPerPixel));
    };
    std::uint64_t from = ring.firstAtOrAfter(columnStart(0));
    for (std::size_t column = 0; column < count; ++column) {
        const std::int64_t begins = columnStart(column);
        const std::uint64_t to = ring.firstAtOrAfter(std::max(columnStart(column + 1), begins + 1));
        if (begins < newest && (from > ring.oldest() || to > from)) {
            ChangeRing::Seen& seen = levels.seen[column];
            if (from > ring.oldest())
                seen.add(ring.registers(from - 1));
            seen.add(ring.seen(from, to));
            levels.known[column] = true;
        }
        from = to;
    }
    return levels;
}
