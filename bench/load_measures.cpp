#include "load_measures.h"

#include "bench_rig.h"
#include "change_ring.h"
#include "rtkit_broker.h"
#include "sampling_measures.h"
#include "change_writer.h"
#include "port_capture.h"
#include "port_channel.h"
#include "process_usage.h"
#include "serial_step_card.h"
#include "simulated_devices.h"
#include "statistics.h"
#include "simulated_port_platform.h"
#include "watch.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint16_t CardBase = 0xE010;
const volatile std::sig_atomic_t neverStopped = 0;

// One spinning child process a core, for as long as it lives, each counting
// its loops where the parent sees them: how far the competition gets.
class BusyProcesses {
public:
    explicit BusyProcesses(int count)
    {
        void* shared = mmap(nullptr, sizeof(Counts), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        m_counts = shared == MAP_FAILED ? nullptr : new (shared) Counts{};
        for (int n = 0; n < count && m_counts; ++n) {
            const pid_t child = fork();
            if (child == 0) {
                std::atomic<std::uint64_t>& loops = m_counts->loops[n];
                for (;;)
                    loops.fetch_add(1, std::memory_order_relaxed);
            }
            if (child > 0)
                m_children.push_back(child);
        }
    }
    ~BusyProcesses()
    {
        for (const pid_t child : m_children)
            kill(child, SIGKILL);
        for (const pid_t child : m_children)
            waitpid(child, nullptr, 0);
        if (m_counts)
            munmap(m_counts, sizeof(Counts));
    }
    BusyProcesses(const BusyProcesses&) = delete;
    BusyProcesses& operator=(const BusyProcesses&) = delete;

    std::uint64_t loops() const
    {
        std::uint64_t all = 0;
        for (std::size_t n = 0; n < m_children.size(); ++n)
            all += m_counts->loops[n].load(std::memory_order_relaxed);
        return all;
    }

private:
    struct Counts {
        std::atomic<std::uint64_t> loops[64];
    };
    Counts* m_counts = nullptr;
    std::vector<pid_t> m_children;
};

// ACK's changes and the blind stretches of a record, on its clock.
struct AckRecord {
    std::vector<std::pair<std::int64_t, bool>> levels; // from the first reading on
    std::vector<ChangeRing::Blind> blind;
    std::int64_t end = 0;
    std::string scheduling;

    void add(std::int64_t time, std::uint32_t registers)
    {
        const bool level = RegisterModel::lineLevel(*RegisterModel::lineNamed("ACK"), registers);
        if (levels.empty() || levels.back().second != level)
            levels.emplace_back(time, level);
    }
    bool levelAt(std::int64_t time) const
    {
        const auto after = std::upper_bound(levels.begin(), levels.end(), time,
                                            [](std::int64_t t, const auto& change) { return t < change.first; });
        return after == levels.begin() ? true : std::prev(after)->second;
    }
    bool blindAt(std::int64_t time) const
    {
        return std::any_of(blind.begin(), blind.end(), [time](const auto& stretch) { return stretch.from < time && time < stretch.to; });
    }

    // 8N1 at 9600 baud from each falling edge of an idle line, sampled in the
    // middle of each bit; a bit in a blind stretch spoils its byte.
    std::string decoded() const
    {
        constexpr double Bit = 1e9 / SerialStepCard::BitsPerSecond;
        std::string bytes;
        std::int64_t from = 0;
        for (std::size_t n = 1; n < levels.size(); ++n) {
            const std::int64_t start = levels[n].first;
            if (levels[n].second || start < from)
                continue;
            const auto at = [&](double bits) { return start + static_cast<std::int64_t>(bits * Bit); };
            int byte = 0;
            bool whole = levelAt(at(9.5)) && at(9.5) < end;
            for (int bit = 0; bit < 8 && whole; ++bit) {
                whole = !blindAt(at(1.5 + bit));
                byte |= levelAt(at(1.5 + bit)) << bit;
            }
            bytes += whole && !blindAt(at(0.5)) && !blindAt(at(9.5)) ? static_cast<char>(byte) : '\0';
            from = at(9.5);
        }
        return bytes;
    }
};

// The messages that the card sent entirely within [0, end) of a clock that
// started with the card's, and the share of them found whole.
double intactPercent(const AckRecord& record)
{
    const std::string decoded = record.decoded();
    const std::string text(SerialStepCard::Text);
    long found = 0;
    for (std::size_t at = decoded.find(text); at != std::string::npos; at = decoded.find(text, at + text.size()))
        ++found;
    constexpr double TextLength = 1e9 * 10 * SerialStepCard::Text.size() / SerialStepCard::BitsPerSecond;
    const auto sent = static_cast<long>((static_cast<double>(record.end) - SerialStepCard::TextFrom - TextLength) /
                                        SerialStepCard::TextEvery) + 1;
    return sent > 0 ? 100.0 * static_cast<double>(found) / static_cast<double>(sent) : 0;
}

LoadedLine blindOf(const AckRecord& record)
{
    LoadedLine line;
    std::int64_t blind = 0, longest = 0;
    for (const ChangeRing::Blind& stretch : record.blind) {
        blind += stretch.to - stretch.from;
        longest = std::max(longest, stretch.to - stretch.from);
    }
    line.longestBlindMs = static_cast<double>(longest) / 1e6;
    line.blindPercent = record.end > 0 ? 100.0 * static_cast<double>(blind) / static_cast<double>(record.end) : 0;
    line.intactPercent = intactPercent(record);
    return line;
}

// The card at 0xE010, its clock started now.
struct CardPort {
    CardPort()
    {
        platform.setLogging(false);
        const Clock::time_point origin = Clock::now();
        platform.addPort(CardBase).attach(std::make_unique<SerialStepCard>([origin] {
            return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - origin).count());
        }));
        channel.OpenPortChannel();
    }
    SimulatedPortPlatform platform;
    PortChannel channel{platform};
};

LoadedLine captureUnderLoad(double seconds, RealtimeBroker& rtkit)
{
    const ProcessorTicks ticksBefore = processorTicks();
    CardPort card;
    LinuxSchedulingKernel kernel;
    PortCapture capture(card.channel, ChangeRing::capacityForMiB(64));
    capture.setScheduling(kernel, &rtkit);
    capture.start({CardBase, false});
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    capture.stop();
    AckRecord record;
    record.end = capture.sampledUntil();
    capture.read([&](const ChangeRing& ring) {
        for (std::uint64_t change = ring.oldest(); change < ring.end(); ++change)
            record.add(ring.time(change), ring.registers(change));
        record.blind = ring.blindBetween(0, record.end);
    });
    LoadedLine line = blindOf(record);
    line.stolenPercent = stolenPercent(ticksBefore, processorTicks());
    line.scheduling = SchedulingText(capture.scheduling());
    return line;
}

// Keeps a watch's records of ACK instead of writing them.
class KeptRecords : public ChangeWriter {
public:
    KeptRecords(AckRecord& record, std::FILE* nowhere) : ChangeWriter(nowhere, HandOn::InBlocks), m_record(record) {}
    void record(std::int64_t nanoseconds, std::size_t, std::uint32_t registers, std::uint32_t) override
    {
        m_record.add(nanoseconds, registers);
    }
    void blind(std::int64_t from, std::int64_t to) override { m_record.blind.push_back({from, to}); }

private:
    void writeHeader() override { m_record.scheduling = m_header.scheduling; }
    void writeEnd(std::int64_t nanoseconds) override { m_record.end = nanoseconds; }
    AckRecord& m_record;
};

LoadedLine watchUnderLoad(double seconds, RealtimeBroker& rtkit)
{
    const ProcessorTicks ticksBefore = processorTicks();
    CardPort card;
    WatchPlan plan;
    plan.ports = {{CardBase, false}};
    plan.recordedBits = RegisterModel::packedBit(*RegisterModel::lineNamed("ACK"));
    plan.duration = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds));
    AckRecord record;
    std::FILE* nowhere = std::fopen("/dev/null", "w");
    {
        KeptRecords writer(record, nowhere);
        LinuxSchedulingKernel kernel;
        Watch(card.channel, plan, writer, WatchHeader{{{"E010", "simulated"}}, std::chrono::system_clock::now(), {}},
              {kernel, &rtkit, nowhere}, neverStopped);
    }
    std::fclose(nowhere);
    LoadedLine line = blindOf(record);
    line.stolenPercent = stolenPercent(ticksBefore, processorTicks());
    line.scheduling = record.scheduling;
    return line;
}

// Normal priority asked for while it lives, or the user's environment as it
// was (real-time where allowed, unless it asks otherwise).
class ScopedScheduling {
public:
    explicit ScopedScheduling(bool normal)
    {
        if (normal)
            setenv("VELKARO_SCHEDULING", "normal", 1);
        else if (m_asked)
            setenv("VELKARO_SCHEDULING", m_kept.c_str(), 1);
        else
            unsetenv("VELKARO_SCHEDULING");
    }
    ~ScopedScheduling()
    {
        if (m_asked)
            setenv("VELKARO_SCHEDULING", m_kept.c_str(), 1);
        else
            unsetenv("VELKARO_SCHEDULING");
    }
    ScopedScheduling(const ScopedScheduling&) = delete;
    ScopedScheduling& operator=(const ScopedScheduling&) = delete;

private:
    const char* const m_asked = std::getenv("VELKARO_SCHEDULING");
    const std::string m_kept = m_asked ? m_asked : "";
};

// Samples per second of a capture on its own (no window) over the time given.
double captureRate(bool counting, double seconds)
{
    SimulatedPortPlatform platform;
    platform.setLogging(false);
    SimulatedParallelPort& port = platform.addPort(0x378);
    if (counting)
        port.attach(std::make_unique<CountingDevice>());
    PortChannel channel(platform);
    channel.OpenPortChannel();
    PortCapture capture(channel, ChangeRing::capacityForMiB(256));
    capture.start({0x378, false});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const long long before = capture.counters().samples;
    const Clock::time_point from = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const long long samples = capture.counters().samples - before;
    const double elapsed = std::chrono::duration<double>(Clock::now() - from).count();
    capture.stop();
    return static_cast<double>(samples) / elapsed;
}

// Both samplers and the clicks, at the scheduling the environment leaves them.
LoadedHalf halfUnderLoad(const BusyProcesses& busy, double seconds, int clicks)
{
    RtkitBroker rtkit;
    LoadedHalf half;
    const std::uint64_t loopsBefore = busy.loops();
    const Clock::time_point from = Clock::now();
    half.capture = captureUnderLoad(seconds, rtkit);
    half.watch = watchUnderLoad(seconds, rtkit);
    half.busyLoopsPerSecond =
        static_cast<double>(busy.loops() - loopsBefore) / std::chrono::duration<double>(Clock::now() - from).count();
    half.clickP99Ms = clickDelays(clicks, [](BenchRig& rig) { rig.form->TimelineClick(); }).p99Ms;
    return half;
}

}

LoadedLines loadedLines(double secondsEach, int clicks)
{
    LoadedLines lines;
    lines.busyProcesses = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 64u));
    const BusyProcesses busy(lines.busyProcesses);
    for (const bool normal : {true, false}) {
        const ScopedScheduling scheduling(normal);
        (normal ? lines.normal : lines.realtime) = halfUnderLoad(busy, secondsEach, clicks);
    }
    return lines;
}

TurnCost turnCost(double secondsEach, int turnsEach)
{
    TurnCost cost;
    for (const bool counting : {false, true}) {
        std::vector<double> normal, realtime;
        for (int turn = 0; turn < 2 * turnsEach; ++turn) {
            const bool normalTurn = turn % 2 == 0;
            const ScopedScheduling scheduling(normalTurn);
            (normalTurn ? normal : realtime).push_back(captureRate(counting, secondsEach / turnsEach));
        }
        (counting ? cost.countingNormal : cost.unchangedNormal) = percentile(normal, 0.5);
        (counting ? cost.countingRealtime : cost.unchangedRealtime) = percentile(realtime, 0.5);
    }
    return cost;
}
