#pragma once

#include "realtime_scheduling.h"
#include "sampling_engine.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

// Runs a sampling engine on threads of its own, real-time where the machine
// allows it. At normal priority one thread samples without pause. Real-time,
// a thread must block now and then, or the kernel withdraws the processor
// (throttling) and at last kills the process (RLIMIT_RTTIME); so two threads
// on two processors take turns: one samples while the other sleeps, and the
// sleeper wakes a little early and waits, spinning, for the holder's offer at
// the end of its slice; the holder samples on until the other claims the
// engine, and hands it over at once. Where the other fails to come, the
// holder pauses briefly and the pause is handed on as a blind stretch. With one processor, sampling stays at
// normal priority: a real-time sampler would leave the desktop nothing.
//
// Only the thread whose turn it is touches the engine, its sink, the channel
// and the ports behind it; the turn passes with release and acquire, so each
// sees all that the one before did. The owner (the thread that starts and
// stops) touches them only while no sampling thread runs.
class SamplingThreads {
public:
    // A turn's length: far below the soft RLIMIT_RTTIME (100 ms), each
    // processor real-time about half the time, well within the throttling
    // budget; long enough that the hand-overs (the engine's data moving to the
    // other processor's cache) cost little, short enough that a task of normal
    // priority waiting on a processor gets it back soon.
    static constexpr std::int64_t Slice = 10'000'000;
    // How early a sleeper wakes to wait for its turn; waking late costs
    // nothing but a longer turn for the holder.
    static constexpr std::int64_t WakeEarly = 100'000;
    // A holder whose partner failed to come (its processor was taken) pauses
    // this long: a real block that starts the kernel's count of real-time
    // running anew.
    static constexpr std::int64_t Pause = 1'000'000;
    // How long a holder waits beyond its slice for the other to come.
    static constexpr std::int64_t Overrun = 5'000'000;

    SamplingThreads(SamplingEngine& engine, SampleSink& sink, const volatile std::sig_atomic_t* signalled = nullptr)
        : m_engine(engine), m_sink(sink), m_signalled(signalled)
    {
    }
    ~SamplingThreads() { stop(); }
    SamplingThreads(const SamplingThreads&) = delete;
    SamplingThreads& operator=(const SamplingThreads&) = delete;

    // Makes the threads and settles their scheduling; they sample once go() is
    // called, which also begins the engine's pace.
    Scheduling prepare(SchedulingKernel& kernel, RealtimeBroker* broker);
    void go();
    // Ends the sampling and joins the threads.
    void stop();
    // Whether the sampling ended by itself (the sink, or a signal).
    bool ended() const { return m_ended.load(std::memory_order_acquire); }
    // Blocks until it ended by itself, or until stop() from elsewhere.
    void waitUntilEnded() const { m_ended.wait(false, std::memory_order_acquire); }
    // As prepared, or as it is since the kernel's warning made the threads normal.
    Scheduling scheduling() const;

private:
    void sample(int self, SchedulingKernel& kernel);
    bool awaitTurn(int self);
    bool holdTurn(int self, SchedulingKernel& kernel);
    void dropToNormal(SchedulingKernel& kernel);
    void end();

    SamplingEngine& m_engine;
    SampleSink& m_sink;
    const volatile std::sig_atomic_t* m_signalled;

    std::stop_source m_stop;
    std::vector<std::jthread> m_threads;
    std::atomic<pid_t> m_ids[2]{};
    std::atomic<bool> m_go{false};
    // Set before go: the threads that take turns, and the kernel's warnings then.
    std::atomic<int> m_sampling{1};
    int m_warningsAtGrant = 0;
    std::atomic<bool> m_realtime{false};
    std::atomic<int> m_turn{0};              // whose the engine is
    std::atomic<bool> m_offered{false};      // the holder offers it; the other's claim clears it
    std::atomic<std::int64_t> m_turnEnds{0}; // when the holder's slice ends, on the monotonic clock
    std::atomic<bool> m_ended{false};

    mutable std::mutex m_schedulingMutex;
    Scheduling m_scheduling;
};
