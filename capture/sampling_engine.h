#pragma once

#include "port_probe.h"
#include "watch_clock.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <stop_token>
#include <vector>

class PortChannel;

// What the sampling engine hands on, on the thread that samples.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    // A port's reading (its index in the engine's list) that differs from the
    // one before, or its first (then before equals now). False ends the sampling.
    virtual bool changed(std::int64_t nanoseconds, std::size_t port, std::uint32_t before, std::uint32_t now) = 0;
    // A stretch in which no port was sampled, from the last sample before it
    // to the first after it: the system set the sampler aside, or another
    // thread held the port. Only those longer than the engine's limit.
    virtual void blind(std::int64_t from, std::int64_t to) = 0;
    // A stretch shorter than that limit in which the sampler stood still well
    // beyond its own rhythm (a timer tick on a virtual machine takes tens of
    // microseconds): too short to be a blind stretch of the record, long
    // enough to hide an edge of a fast bus from a decoder.
    virtual void briefGap(std::int64_t, std::int64_t) {}
    // After each run of samples, at the exact time then, with the passes made
    // so far. False ends the sampling.
    virtual bool runDone(std::int64_t nanoseconds, long long samples) = 0;
};

// The one sampling loop of the timeline's capture and of velkaro-cli watch:
// reads one or more ports' registers through the channel, as fast as they
// answer (in runs of many passes, the clock read exactly once a run) or one
// pass per interval, and hands every change and every blind stretch to its
// sink. Its clock and the last readings carry over from one run of the engine
// to the next, so a pause between two is a blind stretch like any other.
class SamplingEngine {
public:
    // Passes over the ports in one run: long enough that taking a turn at a
    // shared channel and reading the exact clock cost little, short enough that
    // the owner of a shared channel never waits long for its own turn (64 reads
    // take about 64 µs on real hardware).
    static constexpr int RunLength = 64;
    // Stretches without a sample longer than this (beyond the interval when
    // paced) are blind: a change in one is seen late, a pulse in one may be missed.
    static constexpr std::int64_t BlindLimit = 1'000'000;
    // Once the sampler's rhythm is known, a stall is blind from twice a brief
    // gap's limit, but no sooner than this: a 9600-baud bit lasts 104 µs, and a
    // virtual machine whose host withholds its processors stops the sampler for
    // a few hundred microseconds, which would otherwise corrupt a byte unmarked.
    // A slow rhythm (several ports through ppdev) keeps BlindLimit.
    static constexpr std::int64_t ShortestBlind = 100'000;
    // A brief gap is longer than this and than three times the usual time
    // between two readings of the clock (sixteen passes, or less at changes).
    static constexpr std::int64_t BriefGapLimit = 10'000;

    SamplingEngine(PortChannel& channel, std::vector<FoundPort> ports) : m_channel(channel), m_ports(std::move(ports)) {}

    // 0: as fast as the ports answer.
    void setInterval(std::chrono::nanoseconds interval) { m_interval = interval; }
    // Whether another thread shares the channel (it then reads in turns with it).
    void setShared(bool shared) { m_shared = shared; }

    // Samples until the sink or the stop token ends it, or stop becomes non-zero
    // (set from a signal handler, which also cuts a paced wait short).
    void run(SampleSink& sink, std::stop_token stop, const volatile std::sig_atomic_t* signalled = nullptr);
    // The same in steps, for threads that take turns: the pace starts anew at
    // begin(). Each step is one run (one pass when paced, after its wait).
    // False when it ended.
    void begin() { m_nextPass = std::chrono::steady_clock::now(); }
    bool step(SampleSink& sink, const std::stop_token& stop, const volatile std::sig_atomic_t* signalled = nullptr);
    // The sampler pauses on purpose: the stretch until the next sample is
    // blind however short it is.
    void pausing() { m_pausing = true; }

    // The engine's clock: nanoseconds since the first sample (it starts again
    // there, on the sampling thread, whatever came between the engine's making
    // and it).
    WatchClock& clock() { return m_clock; }
    // The time of the last sample stamped; -1 before the first run.
    std::int64_t lastStamped() const { return m_stamped; }
    // Passes over the ports so far.
    long long samples() const { return m_samples; }
    // The ports' last readings, in their order; none before the first run.
    const std::vector<std::uint32_t>& lastReadings() const { return m_last; }

private:
    // Passes between two readings of the cheap clock within a run: a blind
    // stretch is found to within this many passes at no cost worth naming.
    static constexpr int StampEvery = 16;

    template <typename Reads>
    bool sampleRun(Reads& reads, SampleSink& sink, int passes, std::int64_t blindLimit);
    // The time of a sample; since the one before, longer than the limit was
    // blind, and longer than the sampler's rhythm allows a brief gap.
    // The rhythm is kept at the stamps every StampEvery passes: a change's
    // stamp leaves it be, which spares the sampling loop a write at every change.
    enum class Rhythm { Kept, Left };
    void stamp(SampleSink& sink, std::int64_t now, std::int64_t blindLimit, Rhythm rhythm = Rhythm::Left);
    [[gnu::noinline]] void stampLate(SampleSink& sink, std::int64_t now, std::int64_t since, std::int64_t blindLimit);
    bool waitUntil(std::chrono::steady_clock::time_point when, const std::stop_token& stop,
                   const volatile std::sig_atomic_t* signalled);

    PortChannel& m_channel;
    std::vector<FoundPort> m_ports;
    std::chrono::nanoseconds m_interval{0};
    bool m_shared = false;
    std::chrono::steady_clock::time_point m_nextPass;
    bool m_pausing = false;

    WatchClock m_clock;
    std::vector<std::uint32_t> m_last;
    std::int64_t m_stamped = -1; // the time of the last sample stamped, -1 before the first
    std::int64_t m_rhythm = 0;   // the usual time between two stamps, smoothed
    static constexpr int RhythmLearnt = 64; // stamps
    int m_rhythmStamps = 0;
    std::int64_t m_gapLimit = -1; // beyond it a stamp is weighed apart; none until the rhythm is learnt
    void learnGapLimit();
    long long m_samples = 0;
};
