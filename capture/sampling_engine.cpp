#include "sampling_engine.h"

#include "port_channel.h"

#include <algorithm>

namespace {
// The reads of a channel that no other thread uses.
struct OwnReads {
    PortChannel& channel;
    std::uint32_t readRegisters(std::uint16_t base, bool byteReads) { return channel.ReadRegisters(base, byteReads); }
};

// Longest nap of a paced wait: a stop is seen this late at most.
constexpr auto NapLimit = std::chrono::milliseconds(20);
}

void SamplingEngine::run(SampleSink& sink, std::stop_token stop, const volatile std::sig_atomic_t* signalled)
{
    begin();
    while (step(sink, stop, signalled)) {
    }
}

bool SamplingEngine::step(SampleSink& sink, const std::stop_token& stop, const volatile std::sig_atomic_t* signalled)
{
    if (stop.stop_requested() || (signalled && *signalled))
        return false;
    const bool paced = m_interval.count() > 0;
    const std::int64_t blindLimit = BlindLimit + m_interval.count();
    if (paced && m_last.size() == m_ports.size()) {
        m_nextPass += m_interval;
        if (!waitUntil(m_nextPass, stop, signalled))
            return false;
    }
    const int passes = paced ? 1 : RunLength;
    bool more;
    if (m_shared) {
        PortChannel::CaptureRun turn(m_channel);
        more = sampleRun(turn, sink, passes, blindLimit);
    } else {
        OwnReads reads{m_channel};
        more = sampleRun(reads, sink, passes, blindLimit);
    }
    if (!more)
        return false; // the sink ended it at its last sample: nothing is blind after that
    const std::int64_t end = m_clock.exactNow();
    stamp(sink, end, blindLimit);
    return sink.runDone(end, m_samples);
}

template <typename Reads>
bool SamplingEngine::sampleRun(Reads& reads, SampleSink& sink, int passes, std::int64_t blindLimit)
{
    const std::size_t count = m_ports.size();
    const FoundPort* const ports = m_ports.data();
    if (m_last.size() != count) {
        // The first readings, at the clock's start; every one is handed on.
        m_clock.restart();
        m_last.resize(count);
        ++m_samples;
        bool more = true;
        for (std::size_t port = 0; port < count; ++port) {
            m_last[port] = reads.readRegisters(ports[port].base, ports[port].byteReads) & 0xFFFFFF;
            const bool goOn = sink.changed(0, port, m_last[port], m_last[port]);
            more = more && goOn;
        }
        m_stamped = 0;
        if (!more)
            return false;
        --passes;
    } else {
        // Once this run has the port: a wait for a shared channel's turn is blind too.
        stamp(sink, m_clock.now(), blindLimit);
    }
    // Kept in locals through the run: each read is a call the compiler cannot see into.
    std::uint32_t* const last = m_last.data();
    long long samples = m_samples;
    bool more = true;
    for (int pass = 0; pass < passes && more; ++pass) {
        if (pass % StampEvery == StampEvery - 1) [[unlikely]]
            stamp(sink, m_clock.now(), blindLimit, Rhythm::Kept);
        ++samples;
        for (std::size_t port = 0; port < count; ++port) {
            const std::uint32_t now = reads.readRegisters(ports[port].base, ports[port].byteReads) & 0xFFFFFF;
            if (now != last[port]) [[unlikely]] {
                // A change's time stamps its sample: a blind stretch before it is handed on first.
                const std::int64_t at = m_clock.now();
                stamp(sink, at, blindLimit);
                const std::uint32_t before = last[port];
                last[port] = now;
                if (!sink.changed(at, port, before, now)) {
                    more = false;
                    break;
                }
            }
        }
    }
    m_samples = samples;
    return more;
}

void SamplingEngine::stamp(SampleSink& sink, std::int64_t now, std::int64_t blindLimit, Rhythm rhythm)
{
    const std::int64_t since = now - m_stamped;
    // Most stamps come at the sampler's rhythm, which they keep up to date;
    // the rest, rare, are weighed out of the sampling loop.
    if (since <= m_gapLimit && !m_pausing) [[likely]] {
        if (rhythm == Rhythm::Kept) {
            m_rhythm += (since - m_rhythm) >> 4;
            learnGapLimit();
        }
    } else {
        stampLate(sink, now, since, blindLimit);
    }
    m_stamped = now;
    m_pausing = false;
}

void SamplingEngine::stampLate(SampleSink& sink, std::int64_t now, std::int64_t since, std::int64_t blindLimit)
{
    if (m_stamped < 0)
        return;
    const bool paced = m_interval.count() > 0;
    // Once the rhythm is learnt, from twice a brief gap's limit.
    const std::int64_t unpacedLimit = m_gapLimit < 0 ? BlindLimit : std::clamp(2 * m_gapLimit, ShortestBlind, BlindLimit);
    if (since > blindLimit || m_pausing || (!paced && since > unpacedLimit)) {
        sink.blind(m_stamped, now);
    } else if (paced) {
        // Paced: the interval is the rhythm.
    } else if (m_rhythmStamps < RhythmLearnt) {
        // The rhythm is learnt from the first stamps, then from those that are no gap.
        m_rhythm += (since - m_rhythm) / ++m_rhythmStamps;
        if (m_rhythmStamps == RhythmLearnt)
            learnGapLimit();
    } else {
        sink.briefGap(m_stamped, now);
    }
}

void SamplingEngine::learnGapLimit()
{
    m_gapLimit = std::max(BriefGapLimit, 3 * m_rhythm);
}

bool SamplingEngine::waitUntil(std::chrono::steady_clock::time_point when, const std::stop_token& stop,
                               const volatile std::sig_atomic_t* signalled)
{
    using Clock = std::chrono::steady_clock;
    for (Clock::time_point now = Clock::now(); now < when; now = Clock::now()) {
        if (stop.stop_requested() || (signalled && *signalled))
            return false;
        SleepUntilMonotonic(MonotonicNanoseconds(std::min(when, now + NapLimit)));
    }
    return !stop.stop_requested() && !(signalled && *signalled);
}
