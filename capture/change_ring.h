#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// The changes a capture stored, oldest first, in bounded memory: once full,
// each new change pushes out the oldest, never the other way round. A change is
// a time (nanoseconds on the capture's clock) and the three registers packed as
// a four-byte read gives them. Changes are numbered from the first ever stored,
// so a number stays valid while its change is kept. Summaries over blocks of
// 64 and 4096 changes let a reader tell which levels the lines took over any
// stretch without visiting every change in it. Not safe for two threads by
// itself: its owner serialises the writer and the readers.
class ChangeRing {
public:
    // What one change costs, summaries included.
    static constexpr double BytesPerChange = 12.0 + 8.0 / 64 + 8.0 / 4096;
    static constexpr std::size_t Granule = 4096;

    // Room for at least one granule; rounded up to whole granules.
    explicit ChangeRing(std::size_t capacity);
    // The capacity that fits in the given number of MiB.
    static std::size_t capacityForMiB(std::size_t mib);

    std::size_t capacity() const { return m_capacity; }
    void append(std::int64_t nanoseconds, std::uint32_t registers);
    void clear();

    // The numbers of the oldest change kept and one past the newest.
    std::uint64_t oldest() const { return m_end > m_capacity ? m_end - m_capacity : 0; }
    std::uint64_t end() const { return m_end; }
    bool empty() const { return m_end == oldest(); }
    // Changes pushed out at the old end.
    std::uint64_t dropped() const { return oldest(); }

    std::int64_t time(std::uint64_t change) const { return m_times[change % m_capacity]; }
    // The time of the oldest change kept; 0 while none is.
    std::int64_t oldestTime() const { return empty() ? 0 : time(oldest()); }
    std::uint32_t registers(std::uint64_t change) const { return m_registers[change % m_capacity]; }
    // The first kept change at or after the time; end() when there is none.
    std::uint64_t firstAtOrAfter(std::int64_t nanoseconds) const;

    // The register bits over a stretch of kept changes [from, to): set in any
    // of them, and set in all of them.
    struct Seen {
        std::uint32_t anySet = 0;
        std::uint32_t allSet = 0xFFFFFFFF;
        void add(std::uint32_t registers)
        {
            anySet |= registers;
            allSet &= registers;
        }
        void add(const Seen& other)
        {
            anySet |= other.anySet;
            allSet &= other.allSet;
        }
    };
    Seen seen(std::uint64_t from, std::uint64_t to) const;

    // A stretch in which the port was not sampled: from the last sample before
    // it to the first after it. Nothing is known of the lines there.
    struct Blind {
        std::int64_t from;
        std::int64_t to;
    };
    // Kept, oldest first, while they reach the oldest change kept; the oldest
    // go first beyond BlindKept.
    static constexpr std::size_t BlindKept = 1 << 16;
    void appendBlind(std::int64_t from, std::int64_t to) { m_blind.append({from, to}, oldestTime()); }
    // Those that overlap [from, to), oldest first.
    std::vector<Blind> blindBetween(std::int64_t from, std::int64_t to) const { return m_blind.between(from, to); }
    // Stretches too brief to be blind that may hide a fast bus's edge (for the
    // decoders, not drawn), kept as blind ones are.
    void appendBriefGap(std::int64_t from, std::int64_t to) { m_briefGaps.append({from, to}, oldestTime()); }
    std::vector<Blind> briefGapsBetween(std::int64_t from, std::int64_t to) const { return m_briefGaps.between(from, to); }

private:
    // Stretches, oldest first, bounded as blind ones are.
    class Stretches {
    public:
        void append(Blind stretch, std::int64_t oldestKept);
        std::vector<Blind> between(std::int64_t from, std::int64_t to) const;
        void clear() { m_stretches.clear(); }

    private:
        std::deque<Blind> m_stretches;
    };

    static constexpr std::uint64_t SmallBlock = 64;
    static constexpr std::uint64_t LargeBlock = Granule;

    std::size_t m_capacity;
    std::uint64_t m_end = 0;
    std::size_t m_next = 0; // the slot of change m_end: appending divides nothing
    std::vector<std::int64_t> m_times;
    std::vector<std::uint32_t> m_registers;
    std::vector<Seen> m_smallBlocks;
    std::vector<Seen> m_largeBlocks;
    Stretches m_blind;
    Stretches m_briefGaps;
};
