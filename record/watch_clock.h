#pragma once

#include <chrono>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

// Sleeps until the time on the monotonic clock, in nanoseconds; a signal ends
// the sleep early.
void SleepUntilMonotonic(std::int64_t nanoseconds);

// A time of std::chrono::steady_clock (the monotonic clock) in nanoseconds, as
// SleepUntilMonotonic takes it.
inline std::int64_t MonotonicNanoseconds(std::chrono::steady_clock::time_point at)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

// A watch's clock: nanoseconds since its start on the monotonic clock. Where
// the kernel keeps that clock with the processor's time-stamp counter, the
// watch reads the counter itself (half the cost of a clock_gettime, which a
// record for every sample feels) and scales it by the rate it measures against
// the monotonic clock at each exact reading; elsewhere every reading is exact.
class WatchClock {
public:
    WatchClock();
    // Cheap, and never behind an earlier reading.
    std::int64_t now()
    {
        if (!m_counter)
            return exactNow();
        // Fixed point, 32 fraction bits: a multiplication instead of a conversion to floating point.
        const auto elapsedTicks = static_cast<unsigned __int128>(ticks() - m_anchorTicks);
        return later(m_anchorNanoseconds + static_cast<std::int64_t>((elapsedTicks * m_nanosecondsPerTick) >> 32));
    }
    // From the monotonic clock itself; the counter's rate is measured anew.
    std::int64_t exactNow();
    // Starts again from 0 now, the counter's rate kept.
    void restart();
    // The start, on the monotonic clock.
    std::chrono::steady_clock::time_point start() const { return m_start; }

private:
    using Clock = std::chrono::steady_clock;

    static std::uint64_t ticks()
    {
#if defined(__x86_64__) || defined(__i386__)
        return __rdtsc();
#else
        return 0;
#endif
    }
    std::int64_t later(std::int64_t nanoseconds)
    {
        m_last = nanoseconds > m_last ? nanoseconds : m_last;
        return m_last;
    }

    Clock::time_point m_start;
    bool m_counter = false; // the time-stamp counter serves
    std::uint64_t m_nanosecondsPerTick = 0; // times 2^32
    std::int64_t m_anchorNanoseconds = 0; // the last exact reading, and the counter then
    std::uint64_t m_anchorTicks = 0;
    std::int64_t m_rateNanoseconds = 0;   // where the rate was last measured from
    std::uint64_t m_rateTicks = 0;
    std::int64_t m_last = 0;
};
