#include "port_capture.h"

#include "port_channel.h"
#include "register_model.h"
#include "watch_clock.h"

#include <algorithm>

namespace {
// Changes sampled but not yet in the ring, before the sampler waits for a reader.
constexpr std::size_t SampledLimit = std::size_t{1} << 20;
}

// What the engine samples goes into the ring: between two runs, unless a
// reader holds it and there is room to wait; no change is ever discarded.
class PortCapture::RingSink : public SampleSink {
public:
    explicit RingSink(PortCapture& capture) : m_capture(capture) { m_sampled.reserve(4096); }
    ~RingSink() override { publish(true); }

    bool changed(std::int64_t nanoseconds, std::size_t, std::uint32_t before, std::uint32_t now) override
    {
        if (RegisterModel::ackRose(before, now))
            m_capture.m_ackRises.fetch_add(1, std::memory_order_relaxed);
        if (nanoseconds == 0) // the record's first sample: its clock starts here
            m_capture.m_clockStart.store(MonotonicNanoseconds(m_capture.m_engine->clock().start()), std::memory_order_release);
        m_sampled.push_back({nanoseconds, now});
        return true;
    }
    void blind(std::int64_t from, std::int64_t to) override
    {
        m_blind.push_back({from, to});
        m_capture.m_gaps.fetch_add(1, std::memory_order_relaxed);
        if (to - from > m_capture.m_longestGap.load(std::memory_order_relaxed))
            m_capture.m_longestGap.store(to - from, std::memory_order_relaxed);
    }
    void briefGap(std::int64_t from, std::int64_t to) override { m_briefGaps.push_back({from, to}); }
    bool runDone(std::int64_t nanoseconds, long long samples) override
    {
        m_capture.m_samples.store(samples, std::memory_order_relaxed);
        m_capture.m_newest.store(m_capture.m_engine->lastReadings()[0] | NewestValid, std::memory_order_relaxed);
        m_runEnd = nanoseconds;
        if (!m_sampled.empty() || !m_blind.empty() || !m_briefGaps.empty())
            publish(m_sampled.size() >= SampledLimit);
        else
            m_capture.m_recordedUntil.store(m_runEnd, std::memory_order_release);
        return true;
    }

private:
    struct Stamped {
        std::int64_t nanoseconds;
        std::uint32_t registers;
    };
    void publish(bool mayWait)
    {
        std::unique_lock lock(m_capture.m_ringMutex, std::defer_lock);
        if (mayWait)
            lock.lock();
        else if (!lock.try_lock())
            return;
        for (const Stamped& change : m_sampled)
            m_capture.m_ring.append(change.nanoseconds, change.registers);
        for (const ChangeRing::Blind& stretch : m_blind)
            m_capture.m_ring.appendBlind(stretch.from, stretch.to);
        for (const ChangeRing::Blind& gap : m_briefGaps)
            m_capture.m_ring.appendBriefGap(gap.from, gap.to);
        m_sampled.clear();
        m_blind.clear();
        m_briefGaps.clear();
        if (m_runEnd >= 0)
            m_capture.m_recordedUntil.store(m_runEnd, std::memory_order_release);
    }

    PortCapture& m_capture;
    std::int64_t m_runEnd = -1; // the last run's end, up to which all was sampled
    std::vector<Stamped> m_sampled;
    std::vector<ChangeRing::Blind> m_blind;
    std::vector<ChangeRing::Blind> m_briefGaps;
};

// One stretch of sampling, from a start or resume to the stop: the threads
// end before the sink, which then hands the rest on to the ring.
struct PortCapture::Session {
    explicit Session(PortCapture& capture) : sink(capture), threads(*capture.m_engine, sink) {}
    RingSink sink;
    SamplingThreads threads;
};

PortCapture::PortCapture(PortChannel& channel, std::size_t capacity) : m_channel(channel), m_ring(capacity) {}

PortCapture::~PortCapture()
{
    stop();
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
    m_ackRises = 0;
    m_interruptsCounted = port.base != 0 && m_channel.TakeInterrupts(port.base).has_value(); // taken: the count starts now
    m_kernelAckRises = 0;
    m_engine.reset();
    m_startedWall = std::chrono::system_clock::now();
    m_startedSteady = std::chrono::steady_clock::now();
    m_clockStart = MonotonicNanoseconds(m_startedSteady);
    m_recordedUntil = -1;
    if (port.base == 0)
        return;
    m_engine = std::make_unique<SamplingEngine>(m_channel, std::vector<FoundPort>{port});
    m_engine->setShared(true);
    resume();
}

void PortCapture::resume()
{
    if (running() || !m_engine)
        return;
    // The sampling threads read the port while the owner's transfers take
    // turns with them through the channel: the channel, its provider and the
    // simulated ports and devices behind it are touched by one thread at a
    // time (of the sampling threads, the one whose turn it is). The ring is
    // shared under m_ringMutex, the counters are atomic, and the engine (its
    // clock, the last readings) belongs to the sampling threads until they are
    // joined. Port permissions granted with ioperm() belong to a thread and
    // pass to the threads it creates later: these are created after every
    // grant the process will ever get, so they reach the same ports.
    m_engine->setInterval(m_interval);
    m_channel.beginSharing(m_turns);
    m_session = std::make_unique<Session>(*this);
    m_scheduling = m_session->threads.prepare(*m_kernel, m_broker);
    m_session->threads.go();
}

void PortCapture::stop()
{
    if (!running())
        return;
    m_scheduling = m_session->threads.scheduling();
    m_session.reset();
    m_newest = 0;
    m_channel.endSharing();
}

Scheduling PortCapture::scheduling() const
{
    return m_session ? m_session->threads.scheduling() : m_scheduling;
}

PortCapture::Counters PortCapture::counters() const
{
    return read([this](const ChangeRing& ring) {
        return Counters{m_samples.load(std::memory_order_relaxed), ring.end(), ring.dropped(),
                        m_gaps.load(std::memory_order_relaxed), m_longestGap.load(std::memory_order_relaxed),
                        m_ackRises.load(std::memory_order_relaxed)};
    });
}

std::optional<long long> PortCapture::kernelAckRises()
{
    if (!m_interruptsCounted)
        return std::nullopt;
    m_kernelAckRises += m_channel.TakeInterrupts(m_port.base).value_or(0);
    return m_kernelAckRises;
}

std::int64_t PortCapture::sampledUntil() const
{
    if (running())
        return now();
    return m_engine ? std::max<std::int64_t>(0, m_engine->lastStamped()) : 0;
}

std::int64_t PortCapture::now() const
{
    return std::max<std::int64_t>(0, MonotonicNanoseconds(std::chrono::steady_clock::now()) -
                                         m_clockStart.load(std::memory_order_acquire));
}

std::chrono::system_clock::time_point PortCapture::began() const
{
    const auto first = std::chrono::nanoseconds(m_clockStart.load(std::memory_order_acquire) -
                                                MonotonicNanoseconds(m_startedSteady));
    return m_startedWall + std::chrono::duration_cast<std::chrono::system_clock::duration>(first);
}
