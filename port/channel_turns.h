#pragma once

#include <atomic>
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
        wake(m_ownerWaiting);
    }
    void captureTake()
    {
        for (int spins = 0; m_ownerWaiting.load(std::memory_order_relaxed); ++spins)
            if (!spun(spins))
                block(m_ownerWaiting);
        acquire();
    }
    void give()
    {
        m_held.store(false, std::memory_order_release);
        wake(m_held);
    }

private:
    void acquire()
    {
        for (int spins = 0; m_held.exchange(true, std::memory_order_acquire); ++spins)
            if (!spun(spins))
                block(m_held);
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
    // Until the flag is cleared (or a spurious wake). Where the library has no
    // atomic waits (MinGW's), a yield: Windows has no real-time sampling here.
    static void block(const std::atomic<bool>& flag)
    {
#ifdef __cpp_lib_atomic_wait
        flag.wait(true, std::memory_order_relaxed);
#else
        (void)flag;
        std::this_thread::yield();
#endif
    }
    static void wake(std::atomic<bool>& flag)
    {
#ifdef __cpp_lib_atomic_wait
        flag.notify_all();
#else
        (void)flag;
#endif
    }

    std::atomic<bool> m_held{false};
    std::atomic<bool> m_ownerWaiting{false};
};
