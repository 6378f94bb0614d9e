#include "pulse.h"

#include "port_channel.h"
#include "watch_clock.h"

#include <algorithm>
#include <ctime>

namespace {

std::int64_t now()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// Waits until the time on the monotonic clock. The kernel wakes a sleeper up to
// some tens of microseconds late, so the last stretch is spent watching the clock.
void waitUntil(std::int64_t when, const volatile std::sig_atomic_t& stop)
{
    constexpr std::int64_t Spin = 1'000'000; // ns
    for (std::int64_t at = now(); at < when && !stop; at = now()) {
        if (when - at > 2 * Spin) {
            SleepUntilMonotonic(when - Spin);
        }
    }
}

}

PulseResult Pulse(PortChannel& channel, const PulsePlan& plan, const volatile std::sig_atomic_t& stop)
{
    PulseResult result;
    result.pulses.reserve(static_cast<std::size_t>(std::min<long long>(plan.repeat, 1000000)));
    const std::int64_t hold = plan.hold.count();
    const std::int64_t period = plan.period.count();
    for (long long n = 0; n < plan.repeat; ++n) {
        // From the start of the pulse before, so that one held up late is not
        // followed by a short gap that would merge the two.
        if (n > 0) {
            waitUntil(result.pulses.back().driven + period, stop);
            if (stop)
                break;
        }
        channel.WritePortByte(plan.address, plan.driven);
        const std::int64_t driven = now();
        if (hold > 0)
            waitUntil(driven + hold, stop);
        channel.WritePortByte(plan.address, plan.restored);
        result.pulses.push_back({driven, now()});
        if (stop)
            break;
    }
    result.stopped = stop != 0;
    return result;
}
