#include "change_ring.h"

#include <algorithm>

ChangeRing::ChangeRing(std::size_t capacity)
    : m_capacity(std::max<std::size_t>(1, (capacity + Granule - 1) / Granule) * Granule),
      m_times(m_capacity), m_registers(m_capacity), m_smallBlocks(m_capacity / SmallBlock),
      m_largeBlocks(m_capacity / LargeBlock)
{
}

std::size_t ChangeRing::capacityForMiB(std::size_t mib)
{
    const auto changes = static_cast<std::size_t>(static_cast<double>(mib) * 1024 * 1024 / BytesPerChange);
    return std::max<std::size_t>(1, changes / Granule) * Granule;
}

void ChangeRing::append(std::int64_t nanoseconds, std::uint32_t registers)
{
    // The capacity is a multiple of both block sizes, so a change's slot tells
    // its blocks' slots and whether it begins them.
    const std::size_t slot = m_next;
    m_times[slot] = nanoseconds;
    m_registers[slot] = registers;
    const auto summarise = [&](std::vector<Seen>& blocks, std::size_t blockSize) {
        Seen& block = blocks[slot / blockSize];
        if (slot % blockSize == 0)
            block = Seen{};
        block.add(registers);
    };
    summarise(m_smallBlocks, SmallBlock);
    summarise(m_largeBlocks, LargeBlock);
    ++m_end;
    m_next = slot + 1 == m_capacity ? 0 : slot + 1;
}

void ChangeRing::clear()
{
    m_end = 0;
    m_next = 0;
    m_blind.clear();
    m_briefGaps.clear();
}

void ChangeRing::Stretches::append(Blind stretch, std::int64_t oldestKept)
{
    m_stretches.push_back(stretch);
    while (m_stretches.size() > BlindKept || (!m_stretches.empty() && m_stretches.front().to < oldestKept))
        m_stretches.pop_front();
}

std::vector<ChangeRing::Blind> ChangeRing::Stretches::between(std::int64_t from, std::int64_t to) const
{
    std::vector<Blind> overlapping;
    const auto first = std::lower_bound(m_stretches.begin(), m_stretches.end(), from,
                                        [](const Blind& stretch, std::int64_t time) { return stretch.to <= time; });
    for (auto stretch = first; stretch != m_stretches.end() && stretch->from < to; ++stretch)
        overlapping.push_back(*stretch);
    return overlapping;
}

std::uint64_t ChangeRing::firstAtOrAfter(std::int64_t nanoseconds) const
{
    std::uint64_t low = oldest();
    std::uint64_t high = m_end;
    while (low < high) {
        const std::uint64_t middle = low + (high - low) / 2;
        if (time(middle) < nanoseconds)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

ChangeRing::Seen ChangeRing::seen(std::uint64_t from, std::uint64_t to) const
{
    Seen seen;
    from = std::max(from, oldest());
    to = std::min(to, m_end);
    // Whole blocks inside the stretch are complete and kept, so their summaries hold.
    while (from < to) {
        if (from % LargeBlock == 0 && to - from >= LargeBlock) {
            seen.add(m_largeBlocks[(from / LargeBlock) % m_largeBlocks.size()]);
            from += LargeBlock;
        } else if (from % SmallBlock == 0 && to - from >= SmallBlock) {
            seen.add(m_smallBlocks[(from / SmallBlock) % m_smallBlocks.size()]);
            from += SmallBlock;
        } else {
            seen.add(registers(from++));
        }
    }
    return seen;
}
