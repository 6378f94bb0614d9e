#include "port_capture.h"

#include "port_channel.h"

namespace {
// Samples read in one turn at the channel: long enough that taking the turn
// costs little, short enough that the window's thread never waits long for
// its own (64 reads take about 64 µs on real hardware).
constexpr int RunLength = 64;
// Changes sampled but not yet in the ring, before the sampler waits for a reader.
constexpr std::size_t SampledLimit = std::size_t{1} << 20;
}

void PortCapture::start(FoundPort port)
{
    stop();
    m_port = port;
    {
        const std::lock_guard lock(m_ringMutex);
        m_ring.clear();
    }
    m_samples = 0;
    m_gaps = 0;
    m_longestGap = 0;
    m_anyStored = false;
    m_clock = WatchClock();
    m_began = std::chrono::system_clock::now();
    resume();
}

void PortCapture::resume()
{
    if (running() || m_port.base == 0)
        return;
    // The thread below reads the port while the owner's transfers take turns
    // with it through the channel: the channel, its provider and the
    // simulated ports and devices behind it are touched by one thread at a
    // time. The ring is shared under m_ringMutex, the sample count is atomic,
    // and the clock and the last stored change belong to the thread until it
    // is joined. Port permissions granted with ioperm() belong to a thread and
    // pass to the threads it creates later: this one is created after every
    // grant the process will ever get, so it reaches the same ports.
    m_channel.beginSharing(m_turns);
    m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
}

void PortCapture::stop()
{
    if (!running())
        return;
    m_thread.request_stop();
    m_thread.join();
    m_thread = {};
    m_newest = 0;
    m_channel.endSharing();
}

PortCapture::Counters PortCapture::counters() const
{
    return read([this](const ChangeRing& ring) {
        return Counters{m_samples.load(std::memory_order_relaxed), ring.end(), ring.dropped(),
                        m_gaps.load(std::memory_order_relaxed), m_longestGap.load(std::memory_order_relaxed)};
    });
}

std::int64_t PortCapture::now() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - m_clock.start()).count();
}

void PortCapture::run(std::stop_token stop)
{
    const FoundPort port = m_port;
    const auto interval = m_interval;
    const bool paced = interval.count() > 0;
    const int runLength = paced ? 1 : RunLength;
    std::uint32_t last = m_lastStored;
    bool anyStored = m_anyStored;
    std::vector<Stamped> sampled;
    sampled.reserve(4096);
    auto nextSample = std::chrono::steady_clock::now();
    const std::int64_t gapLimit = GapLimit + std::chrono::nanoseconds(interval).count();
    std::int64_t lastRunEnd = m_clock.exactNow();

    while (!stop.stop_requested()) {
        if (paced) {
            nextSample += interval;
            waitForNextSample(stop, nextSample);
        }
        {
            PortChannel::CaptureRun turn(m_channel);
            for (int n = 0; n < runLength; ++n) {
                const std::uint32_t registers = turn.readRegisters(port.base, port.byteReads) & 0xFFFFFF;
                if (registers != last || !anyStored) [[unlikely]] {
                    sampled.push_back({m_clock.now(), registers});
                    last = registers;
                    anyStored = true;
                }
            }
        }
        m_samples.fetch_add(runLength, std::memory_order_relaxed);
        m_newest.store(last | NewestValid, std::memory_order_relaxed);
        const std::int64_t runEnd = m_clock.exactNow();
        if (runEnd - lastRunEnd > gapLimit) [[unlikely]] {
            m_gaps.fetch_add(1, std::memory_order_relaxed);
            if (runEnd - lastRunEnd > m_longestGap.load(std::memory_order_relaxed))
                m_longestGap.store(runEnd - lastRunEnd, std::memory_order_relaxed);
        }
        lastRunEnd = runEnd;
        if (!sampled.empty())
            publish(sampled, sampled.size() >= SampledLimit);
    }
    publish(sampled, true);
    m_lastStored = last;
    m_anyStored = anyStored;
}

void PortCapture::publish(std::vector<Stamped>& sampled, bool mayWait)
{
    std::unique_lock lock(m_ringMutex, std::defer_lock);
    if (mayWait)
        lock.lock();
    else if (!lock.try_lock())
        return;
    for (const Stamped& change : sampled)
        m_ring.append(change.nanoseconds, change.registers);
    sampled.clear();
}

void PortCapture::waitForNextSample(std::stop_token& stop, std::chrono::steady_clock::time_point when)
{
    std::unique_lock lock(m_sleepMutex);
    m_sleep.wait_until(lock, stop, when, [] { return false; });
}
