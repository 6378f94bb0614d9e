#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

// Two threads taking turns at one port channel: its owner (the window's
// thread), whose transfers are few and must never wait long, and a capture
// thread that reads in runs of many samples. A turn lasts a few port transfers,
// far less than putting a thread to sleep and waking it costs, so waiting
// spins at first; the capture gives way between two runs whenever the owner waits.
class ChannelTurns {
public:
    void ownerTake()
    {
        m_ownerWaiting.store(true, std::memory_order_relaxed);
        acquire();
        m_ownerWaiting.store(false, std::memory_order_relaxed);
    }
    void captureTake()
    {
        for (int spins = 0; m_ownerWaiting.load(std::memory_order_relaxed); ++spins)
            relax(spins);
        acquire();
    }
    void give() { m_held.store(false, std::memory_order_release); }

private:
    void acquire()
    {
        for (int spins = 0; m_held.exchange(true, std::memory_order_acquire); ++spins)
            relax(spins);
    }
    // Spins briefly, then sleeps a little: on a loaded machine the holder may
    // have been preempted in its turn, and a real-time capture must truly
    // block to let a holder of normal priority run (yielding would not).
    static void relax(int spins)
    {
#if defined(__x86_64__) || defined(__i386__)
        if (spins < 128) {
            _mm_pause();
            return;
        }
#endif
        (void)spins;
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }

    std::atomic<bool> m_held{false};
    std::atomic<bool> m_ownerWaiting{false};
};
