#pragma once

#include <atomic>

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
        m_ownerWaiting.notify_all();
    }
    void captureTake()
    {
        for (int spins = 0; m_ownerWaiting.load(std::memory_order_relaxed); ++spins)
            if (!spun(spins))
                m_ownerWaiting.wait(true, std::memory_order_relaxed);
        acquire();
    }
    void give()
    {
        m_held.store(false, std::memory_order_release);
        m_held.notify_all();
    }

private:
    void acquire()
    {
        for (int spins = 0; m_held.exchange(true, std::memory_order_acquire); ++spins)
            if (!spun(spins))
                m_held.wait(true, std::memory_order_relaxed);
    }
    // Spins briefly; after that the waiter blocks until the other gives way:
    // on a loaded machine the holder may have been preempted in its turn, and
    // a real-time capture must truly block to let a holder of normal priority
    // run. Yielding would not, nor would a short sleep under emulation, where
    // its timer runs out before the thread is set aside: the kernel would count
    // the whole wait as real-time running.
    static bool spun(int spins)
    {
#if defined(__x86_64__) || defined(__i386__)
        if (spins < 128) {
            _mm_pause();
            return true;
        }
#endif
        (void)spins;
        return false;
    }

    std::atomic<bool> m_held{false};
    std::atomic<bool> m_ownerWaiting{false};
};
