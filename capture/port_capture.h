#pragma once

#include "change_ring.h"
#include "channel_turns.h"
#include "port_probe.h"
#include "realtime_scheduling.h"
#include "sampling_engine.h"
#include "sampling_threads.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class PortChannel;

// Samples one port's three registers on threads of its own (real-time where
// the machine allows it), as fast as the port answers or at a fixed interval,
// and keeps every change in a bounded ring: a change that lasts one sample is
// stored like any other. Started, stopped and read from one thread, its owner
// (the window's).
class PortCapture {
public:
    struct Counters {
        long long samples = 0;      // readings of the three registers
        std::uint64_t stored = 0;   // changes stored since the record began
        std::uint64_t dropped = 0;  // of those, pushed out at the old end
        // Stretches in which the port was not sampled, the engine's blind ones (the
        // thread was set aside by the system, or the window held the port):
        // a change in one is seen late, a pulse in one may be missed.
        long long gaps = 0;
        std::int64_t longestGap = 0; // nanoseconds
        long long ackRises = 0;      // rises of ACK sampled since the record began
    };

    PortCapture(PortChannel& channel, std::size_t capacity);
    ~PortCapture();
    PortCapture(const PortCapture&) = delete;
    PortCapture& operator=(const PortCapture&) = delete;

    // Begins a new record of the port, the old one cleared, and samples it.
    void start(FoundPort port);
    // Samples on into the same record after a stop.
    void resume();
    // Ends the sampling thread; the record stays.
    void stop();
    bool running() const { return m_session != nullptr; }
    FoundPort port() const { return m_port; }
    // 0: as fast as the port answers. Takes effect at the next start or resume.
    void setInterval(std::chrono::nanoseconds interval) { m_interval = interval; }
    // Who schedules the sampling threads real-time; the kernel's own calls and
    // no broker unless set. Takes effect at the next start or resume.
    void setScheduling(SchedulingKernel& kernel, RealtimeBroker* broker)
    {
        m_kernel = &kernel;
        m_broker = broker;
    }
    // What the sampling threads got at the last start or resume.
    Scheduling scheduling() const;

    // Calls read(ring) while no change is added to the ring.
    template <typename Read>
    auto read(Read&& read) const
    {
        const std::lock_guard lock(m_ringMutex);
        return read(static_cast<const ChangeRing&>(m_ring));
    }
    Counters counters() const;
    // The rises of ACK that the kernel counted as the port's interrupts since
    // the record began (through ppdev, which enables the interrupt while it
    // holds the port); none where the route does not count them. The owner's
    // thread only: it takes the count through the channel.
    std::optional<long long> kernelAckRises();
    // The registers of the newest sample while the capture runs, at most one
    // run of samples old; none before its first run.
    std::optional<std::uint32_t> newest() const
    {
        const std::uint32_t newest = m_newest.load(std::memory_order_relaxed);
        return newest & NewestValid ? std::optional<std::uint32_t>(newest & 0xFFFFFF) : std::nullopt;
    }
    // Nanoseconds since the record began, on the clock that stamps its changes.
    std::int64_t now() const;
    // How far the record reaches: now while the capture runs, its last sample
    // once it is stopped (the levels after that are not known).
    std::int64_t sampledUntil() const;
    // How far the ring is complete: every change and every blind stretch up to
    // this time is in it (a reader that follows the record, such as a decoder,
    // takes this as final); -1 before the first sample.
    std::int64_t recordedUntil() const { return m_recordedUntil.load(std::memory_order_acquire); }
    // When the record began (its first sample), on the wall clock.
    std::chrono::system_clock::time_point began() const;

private:
    class RingSink;
    struct Session;

    PortChannel& m_channel;
    ChannelTurns m_turns;
    FoundPort m_port{0, false};
    std::chrono::nanoseconds m_interval{0};
    LinuxSchedulingKernel m_linuxKernel;
    SchedulingKernel* m_kernel = &m_linuxKernel;
    RealtimeBroker* m_broker = nullptr;
    Scheduling m_scheduling;

    mutable std::mutex m_ringMutex;
    ChangeRing m_ring;
    std::atomic<long long> m_samples{0};
    std::atomic<long long> m_gaps{0};
    std::atomic<long long> m_ackRises{0};
    // The kernel's count of the port's interrupts, where the route counts them; the owner's.
    bool m_interruptsCounted = false;
    long long m_kernelAckRises = 0;
    std::atomic<std::int64_t> m_longestGap{0};
    static constexpr std::uint32_t NewestValid = 1u << 31;
    std::atomic<std::uint32_t> m_newest{0};
    std::atomic<std::int64_t> m_recordedUntil{-1};

    // Touched by the sampling threads while they run, by the owner otherwise;
    // made anew for each record, so its clock starts with it.
    std::unique_ptr<SamplingEngine> m_engine;
    // The record's clock starts at its first sample, on the sampling thread,
    // which publishes it here (monotonic nanoseconds); the start's call until then.
    std::atomic<std::int64_t> m_clockStart{0};
    // The wall clock and the monotonic clock at the start's call, to place the first sample.
    std::chrono::system_clock::time_point m_startedWall;
    std::chrono::steady_clock::time_point m_startedSteady;

    std::unique_ptr<Session> m_session; // while sampling
};
