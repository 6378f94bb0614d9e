#include "watch.h"

#include "change_writer.h"
#include "port_address.h"
#include "port_channel.h"
#include "sampling_engine.h"
#include "sampling_threads.h"

#include <limits>

namespace {

using RegisterModel::fellLevels;
using RegisterModel::roseLevels;

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
        const bool up = (roseLevels(before, now) & bit) != 0 && (static_cast<unsigned>(condition.edge) & 1u);
        const bool down = (fellLevels(before, now) & bit) != 0 && (static_cast<unsigned>(condition.edge) & 2u);
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

}

std::uint32_t LineBits(const std::vector<const RegisterModel::Line*>& lines)
{
    std::uint32_t bits = 0;
    for (const RegisterModel::Line* line : lines)
        bits |= RegisterModel::packedBit(*line);
    return bits;
}

namespace {

// What a watch makes of the engine's changes: records of the recorded lines'
// changes (or only of the edges asked for), and its ends.
class WatchSink : public SampleSink {
public:
    WatchSink(const WatchPlan& plan, ChangeWriter& writer) : m_plan(plan), m_writer(writer) {}

    bool changed(std::int64_t nanoseconds, std::size_t port, std::uint32_t before, std::uint32_t now) override
    {
        if (RegisterModel::ackRose(before, now))
            ++m_ackRises[port];
        if (before == now) {
            // A port's first reading: recorded, not counted.
            m_writer.record(nanoseconds, port, now, m_plan.recordedBits);
            if (m_untilGiven && m_plan.untilEdges.empty() && levelsHold(m_plan.until, now))
                m_end = WatchResult::End::Until;
            return !m_end;
        }
        const std::uint32_t changed = (now ^ before) & m_watchedBits;
        if (changed == 0) [[likely]]
            return true;
        const std::uint32_t recorded =
            m_edgesOnly ? (roseLevels(before, now) & m_plan.risingBits) | (fellLevels(before, now) & m_plan.fallingBits)
                        : changed & m_plan.recordedBits;
        if (recorded != 0) {
            m_writer.record(nanoseconds, port, now, recorded);
            ++m_records;
        }
        if (m_untilGiven && holds(m_plan, before, now))
            m_end = WatchResult::End::Until;
        else if (m_records >= m_recordLimit)
            m_end = WatchResult::End::Count;
        return !m_end;
    }
    void blind(std::int64_t from, std::int64_t to) override { m_writer.blind(from, to); }
    void briefGap(std::int64_t from, std::int64_t to) override { m_writer.briefGap(from, to); }
    bool runDone(std::int64_t nanoseconds, long long) override
    {
        m_writer.progressed(nanoseconds);
        if (nanoseconds >= m_timeout)
            m_end = WatchResult::End::Timeout;
        else if (nanoseconds >= m_duration)
            m_end = WatchResult::End::Duration;
        return !m_end;
    }

    std::optional<WatchResult::End> end() const { return m_end; }
    long long records() const { return m_records; }
    long long ackRises(std::size_t port) const { return m_ackRises[port]; }

private:
    const WatchPlan& m_plan;
    ChangeWriter& m_writer;
    // A change of an --until line is looked at even where it is not recorded.
    const std::uint32_t m_watchedBits = m_plan.recordedBits | bitsOf(m_plan.until) | bitsOf(m_plan.untilEdges);
    const bool m_untilGiven = !m_plan.until.empty() || !m_plan.untilEdges.empty();
    const bool m_edgesOnly = (m_plan.risingBits | m_plan.fallingBits) != 0;
    const long long m_recordLimit = m_plan.count.value_or(std::numeric_limits<long long>::max());
    const long long m_timeout = m_plan.timeout.value_or(std::chrono::nanoseconds::max()).count();
    const long long m_duration = m_plan.duration.value_or(std::chrono::nanoseconds::max()).count();
    std::optional<WatchResult::End> m_end;
    long long m_records = 0;
    std::vector<long long> m_ackRises = std::vector<long long>(m_plan.ports.size());
};

// The kernel's count of each port's interrupts (ACK's rises) over the watch.
class InterruptTally {
public:
    InterruptTally(PortChannel& channel, const WatchPlan& plan) : m_channel(channel), m_plan(plan)
    {
        if (plan.countInterrupts)
            for (const FoundPort& port : plan.ports)
                m_counting.push_back(channel.TakeInterrupts(port.base).has_value()); // taken: the count starts now
    }
    // After the sampling threads ended: nothing else touches the channel.
    void tell(const WatchSink& sink, std::FILE* err)
    {
        for (std::size_t port = 0; port < m_counting.size(); ++port) {
            const std::optional<int> counted = m_channel.TakeInterrupts(m_plan.ports[port].base);
            if (!m_counting[port] || !counted)
                continue;
            const long long sampled = sink.ackRises(port);
            std::fprintf(err, "velkaro-cli: port %s: %d rises of ACK counted by the kernel's interrupt, %lld seen by the sampling%s\n",
                         PortAddressText(m_plan.ports[port].base).c_str(), *counted, sampled,
                         *counted > sampled ? "; the others were shorter than a sample or fell into a blind stretch" : "");
        }
    }

private:
    PortChannel& m_channel;
    const WatchPlan& m_plan;
    std::vector<bool> m_counting;
};

}

WatchResult Watch(PortChannel& channel, const WatchPlan& plan, ChangeWriter& writer, WatchHeader header,
                  const WatchScheduling& scheduling, const volatile std::sig_atomic_t& stop)
{
    SamplingEngine engine(channel, plan.ports);
    engine.setInterval(plan.interval);
    WatchSink sink(plan, writer);
    // The sampling threads alone touch the engine, the sink and the writer from
    // go() until they are stopped; this thread waits meanwhile.
    SamplingThreads threads(engine, sink, &stop);
    const Scheduling got = threads.prepare(scheduling.kernel, scheduling.broker);
    header.scheduling = SchedulingText(got);
    std::fprintf(scheduling.err, "velkaro-cli: sampling at %s%s%s\n", header.scheduling.c_str(), got.realtime() ? "" : "; ",
                 got.realtime() ? "" : RealtimeAdvice);
    writer.begin(header);
    InterruptTally interrupts(channel, plan);
    threads.go();
    threads.waitUntilEnded();
    threads.stop();
    writer.end(engine.clock().exactNow());
    interrupts.tell(sink, scheduling.err);
    if (const Scheduling now = threads.scheduling(); got.realtime() && !now.realtime())
        std::fprintf(scheduling.err, "velkaro-cli: sampled on at %s\n", SchedulingText(now).c_str());
    return {sink.end().value_or(WatchResult::End::Stopped), engine.samples(), sink.records()};
}
