#include "watch.h"

#include "change_writer.h"
#include "port_channel.h"
#include "watch_clock.h"

#include <cerrno>
#include <limits>
#include <ctime>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t InvertedBits = RegisterModel::packedInvertMask();

// The bits whose line level rose, and those whose level fell, from one reading to the next.
std::uint32_t rose(std::uint32_t before, std::uint32_t now)
{
    return ~(before ^ InvertedBits) & (now ^ InvertedBits);
}
std::uint32_t fell(std::uint32_t before, std::uint32_t now)
{
    return (before ^ InvertedBits) & ~(now ^ InvertedBits);
}

bool levelsHold(const std::vector<LineLevel>& conditions, std::uint32_t registers)
{
    for (const LineLevel& condition : conditions)
        if (RegisterModel::lineLevel(*condition.line, registers) != condition.level)
            return false;
    return true;
}

// The plan's --until conditions from one reading to the next.
bool holds(const WatchPlan& plan, std::uint32_t before, std::uint32_t now)
{
    for (const LineEdge& condition : plan.untilEdges) {
        const std::uint32_t bit = RegisterModel::packedBit(*condition.line);
        const bool up = (rose(before, now) & bit) != 0 && (static_cast<unsigned>(condition.edge) & 1u);
        const bool down = (fell(before, now) & bit) != 0 && (static_cast<unsigned>(condition.edge) & 2u);
        if (!up && !down)
            return false;
    }
    return levelsHold(plan.until, now);
}

// The register bits of the lines the conditions name.
template <typename Condition>
std::uint32_t bitsOf(const std::vector<Condition>& conditions)
{
    std::uint32_t bits = 0;
    for (const Condition& condition : conditions)
        bits |= RegisterModel::packedBit(*condition.line);
    return bits;
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
    const bool untilGiven = !plan.until.empty() || !plan.untilEdges.empty();
    const bool edgesOnly = (plan.risingBits | plan.fallingBits) != 0;
    const long long recordLimit = plan.count.value_or(std::numeric_limits<long long>::max());
    const long long timeout = plan.timeout.value_or(std::chrono::nanoseconds::max()).count();
    const long long duration = plan.duration.value_or(std::chrono::nanoseconds::max()).count();
    const std::uint32_t recordedBits = plan.recordedBits;
    // A change of an --until line is looked at even where it is not recorded.
    const std::uint32_t watchedBits = recordedBits | bitsOf(plan.until) | bitsOf(plan.untilEdges);

    const std::size_t portCount = plan.ports.size();
    const FoundPort* const ports = plan.ports.data();
    std::vector<std::uint32_t> last(portCount);

    WatchClock clock;
    writer.begin(header);
    std::optional<WatchResult::End> end;
    for (std::size_t port = 0; port < portCount; ++port) {
        last[port] = channel.ReadRegisters(ports[port].base, ports[port].byteReads) & 0xFFFFFF;
        writer.record(0, port, last[port], plan.recordedBits);
        if (untilGiven && plan.untilEdges.empty() && levelsHold(plan.until, last[port]))
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
            const std::uint32_t now = channel.ReadRegisters(ports[port].base, ports[port].byteReads) & 0xFFFFFF;
            const std::uint32_t before = last[port];
            const std::uint32_t changed = (now ^ before) & watchedBits;
            last[port] = now;
            if (changed == 0) [[likely]]
                continue;
            const std::uint32_t recorded =
                edgesOnly ? (rose(before, now) & plan.risingBits) | (fell(before, now) & plan.fallingBits)
                          : changed & recordedBits;
            if (recorded != 0) {
                writer.record(clock.now(), port, now, recorded);
                ++records;
            }
            if (untilGiven && holds(plan, before, now)) {
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
