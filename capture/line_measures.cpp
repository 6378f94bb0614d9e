#include "line_measures.h"

#include "change_ring.h"

#include <algorithm>

namespace {
void note(std::optional<std::int64_t>& shortest, std::optional<std::int64_t>& longest, std::int64_t time)
{
    shortest = std::min(shortest.value_or(time), time);
    longest = std::max(longest.value_or(time), time);
}
}

std::optional<double> LineMeasure::frequency() const
{
    if (risingEdges < 2 || lastRise == firstRise)
        return std::nullopt;
    return static_cast<double>(risingEdges - 1) * 1e9 / static_cast<double>(lastRise - firstRise);
}

LineMeasures MeasureLines(const ChangeRing& ring, std::int64_t from, std::int64_t to)
{
    LineMeasures measures;
    const std::uint64_t first = ring.firstAtOrAfter(from);
    const std::uint64_t end = ring.firstAtOrAfter(to);
    if (first == end)
        return measures;
    // The levels as the span begins come from the change before it; without
    // one, from its first change, which then is no edge.
    const bool stateBefore = first > ring.oldest();
    std::uint32_t levels = ring.registers(stateBefore ? first - 1 : first) ^ RegisterModel::packedInvertMask();
    std::array<int, 24> lineAtBit;
    lineAtBit.fill(-1);
    std::uint32_t lineBits = 0;
    for (std::size_t line = 0; line < RegisterModel::Lines.size(); ++line) {
        lineAtBit[static_cast<std::size_t>(__builtin_ctz(RegisterModel::packedBit(RegisterModel::Lines[line])))] = static_cast<int>(line);
        lineBits |= RegisterModel::packedBit(RegisterModel::Lines[line]);
    }
    std::array<std::optional<std::int64_t>, 24> lastEdge{};

    for (std::uint64_t change = stateBefore ? first : first + 1; change < end; ++change) {
        const std::uint32_t now = ring.registers(change) ^ RegisterModel::packedInvertMask();
        const std::int64_t time = ring.time(change);
        for (std::uint32_t edges = (now ^ levels) & lineBits; edges != 0; edges &= edges - 1) {
            const int bit = __builtin_ctz(edges);
            LineMeasure& measure = measures[static_cast<std::size_t>(lineAtBit[static_cast<std::size_t>(bit)])];
            const bool rising = (now >> bit) & 1u;
            ++measure.edges;
            if (rising) {
                if (measure.risingEdges++ == 0)
                    measure.firstRise = time;
                measure.lastRise = time;
            }
            std::optional<std::int64_t>& since = lastEdge[static_cast<std::size_t>(bit)];
            if (since) {
                if (rising)
                    note(measure.shortestLow, measure.longestLow, time - *since);
                else
                    note(measure.shortestHigh, measure.longestHigh, time - *since);
            }
            since = time;
        }
        levels = now;
    }
    return measures;
}
