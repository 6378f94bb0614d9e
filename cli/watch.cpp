#include "watch.h"

#include "change_writer.h"
#include "port_probe.h"
#include "watch_clock.h"

#include <cerrno>
#include <limits>
#include <ctime>

namespace {

using Clock = std::chrono::steady_clock;

bool holds(const std::vector<LineLevel>& conditions, std::uint32_t registers)
{
    for (const LineLevel& condition : conditions)
        if (RegisterModel::lineLevel(*condition.line, registers) != condition.level)
            return false;
    return !conditions.empty();
}

// Sleeps until the time on the monotonic clock, or until a signal arrives.
void sleepUntil(Clock::time_point when)
{
    const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    const timespec at{static_cast<time_t>(since / 1000000000), static_cast<long>(since % 1000000000)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
}

}

std::uint32_t LineBits(const std::vector<const RegisterModel::Line*>& lines)
{
    std::uint32_t bits = 0;
    for (const RegisterModel::Line* line : lines)
        bits |= RegisterModel::packedBit(*line);
    return bits;
}

WatchResult Watch(PortChannel& channel, const WatchPlan& plan, ChangeWriter& writer, const WatchHeader& header,
                  const volatile std::sig_atomic_t& stop)
{
    // How many samples pass between two exact readings of the clock, which
    // also keep the cheap ones true and serve the duration and the timeout.
    constexpr long long ClockEvery = 1024;
    const bool paced = plan.interval.count() > 0;
    const bool untilGiven = !plan.until.empty();
    const long long recordLimit = plan.count.value_or(std::numeric_limits<long long>::max());
    const long long timeout = plan.timeout.value_or(std::chrono::nanoseconds::max()).count();
    const long long duration = plan.duration.value_or(std::chrono::nanoseconds::max()).count();
    const std::uint32_t recordedBits = plan.recordedBits;
    // A change of an --until line ends the watch even where it is not recorded.
    std::uint32_t sampledBits = recordedBits;
    for (const LineLevel& condition : plan.until)
        sampledBits |= RegisterModel::packedBit(*condition.line);

    const std::size_t portCount = plan.ports.size();
    const FoundPort* const ports = plan.ports.data();
    std::vector<std::uint32_t> last(portCount);

    WatchClock clock;
    writer.begin(header);
    std::optional<WatchResult::End> end;
    for (std::size_t port = 0; port < portCount; ++port) {
        last[port] = ReadRegisters(channel, ports[port].base, ports[port].byteReads) & 0xFFFFFF;
        writer.record(0, port, last[port], plan.recordedBits);
        if (untilGiven && holds(plan.until, last[port]))
            end = WatchResult::End::Until;
    }
    long long samples = 1;
    long long records = 0;

    while (!end) {
        if (stop) {
            end = WatchResult::End::Stopped;
            break;
        }
        if (paced)
            sleepUntil(clock.start() + plan.interval * samples);
        ++samples;
        for (std::size_t port = 0; port < portCount; ++port) {
            const std::uint32_t now = ReadRegisters(channel, ports[port].base, ports[port].byteReads) & 0xFFFFFF;
            const std::uint32_t changed = (now ^ last[port]) & sampledBits;
            last[port] = now;
            if (changed == 0) [[likely]]
                continue;
            if (changed & recordedBits) {
                writer.record(clock.now(), port, now, changed & recordedBits);
                ++records;
            }
            if (untilGiven && holds(plan.until, now)) {
                end = WatchResult::End::Until;
                break;
            }
            if (records >= recordLimit) {
                end = WatchResult::End::Count;
                break;
            }
        }
        if (!end && (paced || samples % ClockEvery == 0)) {
            const long long elapsed = clock.exactNow();
            if (elapsed >= timeout)
                end = WatchResult::End::Timeout;
            else if (elapsed >= duration)
                end = WatchResult::End::Duration;
        }
    }
    writer.end(clock.exactNow());
    return {*end, samples, records};
}
