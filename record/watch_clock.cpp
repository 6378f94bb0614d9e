#include "watch_clock.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#if defined(__x86_64__) || defined(__i386__)
#define VELKARO_HAS_TSC 1
#endif

namespace {

using namespace std::chrono_literals;

// The counter's rate is measured over at least this long, for precision.
constexpr std::int64_t RateSpan = 10'000'000;

// Whether the kernel's monotonic clock runs on the time-stamp counter, which
// it does only where the counter is constant and synchronised across cores.
bool kernelClockIsCounter()
{
#ifdef VELKARO_HAS_TSC
    char source[32] = {};
    if (std::FILE* file = std::fopen("/sys/devices/system/clocksource/clocksource0/current_clocksource", "re")) {
        if (!std::fgets(source, sizeof source, file))
            source[0] = '\0';
        std::fclose(file);
    }
    return std::strcmp(source, "tsc\n") == 0;
#else
    return false;
#endif
}

std::int64_t nanoseconds(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
}

// Nanoseconds per tick, times 2^32.
std::uint64_t rate(std::int64_t nanoseconds, std::uint64_t ticks)
{
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(nanoseconds) << 32) / ticks);
}

}

WatchClock::WatchClock()
{
    if (kernelClockIsCounter()) {
        // A first rate, measured over a millisecond before the watch starts.
        const Clock::time_point from = Clock::now();
        const std::uint64_t fromTicks = ticks();
        Clock::time_point to = from;
        while (to - from < 1ms)
            to = Clock::now();
        const std::uint64_t toTicks = ticks();
        if (toTicks > fromTicks) {
            m_counter = true;
            m_nanosecondsPerTick = rate(nanoseconds(to - from), toTicks - fromTicks);
        }
    }
    restart();
}

void WatchClock::restart()
{
    m_start = Clock::now();
    m_anchorTicks = m_rateTicks = ticks();
    m_anchorNanoseconds = m_rateNanoseconds = m_last = 0;
}

std::int64_t WatchClock::exactNow()
{
    const std::int64_t elapsed = nanoseconds(Clock::now() - m_start);
    if (m_counter) {
        const std::uint64_t at = ticks();
        if (elapsed - m_rateNanoseconds >= RateSpan && at > m_rateTicks) {
            m_nanosecondsPerTick = rate(elapsed - m_rateNanoseconds, at - m_rateTicks);
            m_rateNanoseconds = elapsed;
            m_rateTicks = at;
        }
        m_anchorNanoseconds = elapsed;
        m_anchorTicks = at;
    }
    return later(elapsed);
}

void SleepUntilMonotonic(std::int64_t nanoseconds)
{
    const timespec at{static_cast<time_t>(nanoseconds / 1'000'000'000), static_cast<long>(nanoseconds % 1'000'000'000)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
}
