#include "sampling_threads.h"

#include "realtime_spawner.h"
#include "watch_clock.h"

#include <algorithm>
#include <thread>

#include <unistd.h>

namespace {
std::int64_t monotonicNow()
{
    return MonotonicNanoseconds(std::chrono::steady_clock::now());
}

// Longest sleep of a waiting thread: a stop is seen this late at most.
constexpr std::int64_t NapLimit = 20'000'000;

// Relative, so that it blocks however late the thread gets here: a sleep
// until a time already past would return at once and block nothing.
void pauseBriefly()
{
    std::this_thread::sleep_for(std::chrono::nanoseconds(SamplingThreads::Pause));
}

void spinPause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}
}

Scheduling SamplingThreads::prepare(SchedulingKernel& kernel, RealtimeBroker* broker)
{
    // Two only where each can have a processor of its own.
    const std::vector<int> processors = kernel.processors();
    const int count = processors.size() >= 2 ? 2 : 1;
    // Born real-time where a privileged start left a spawner.
    RealtimeSpawner* const spawner = RealtimeSpawner::running();
    for (int self = 0; self < count; ++self) {
        auto work = [this, self, &kernel] { sample(self, kernel); };
        m_threads.push_back(spawner ? spawner->spawn(work) : std::jthread(work));
    }
    std::vector<pid_t> ids;
    for (int self = 0; self < count; ++self) {
        m_ids[self].wait(0);
        ids.push_back(m_ids[self].load());
    }
    Scheduling scheduling =
        count == 2 ? GrantRealtime(kernel, broker, ids)
                   : Scheduling{Scheduling::Route::Normal, 0, 1,
                                "one processor: a real-time sampler would leave the rest of the machine none"};
    if (spawner && scheduling.route == Scheduling::Route::ProcessLimits)
        scheduling.route = Scheduling::Route::StartPrivilege;
    // Not pinned: two captures at once (the timeline and a watch) would stack
    // on the same processors, while the kernel places a waking real-time
    // thread on a processor where it can run; pinning measured no faster.
    m_sampling = scheduling.threads;
    m_realtime = scheduling.realtime();
    m_warningsAtGrant = RealtimeWarnings();
    const std::lock_guard lock(m_schedulingMutex);
    m_scheduling = scheduling;
    return scheduling;
}

void SamplingThreads::go()
{
    m_engine.begin();
    m_turnEnds = monotonicNow() + Slice;
    m_go = true;
    m_go.notify_all();
}

void SamplingThreads::stop()
{
    m_stop.request_stop();
    m_go = true; // threads that never had the word end at once
    m_go.notify_all();
    m_threads.clear();
    end();
}

Scheduling SamplingThreads::scheduling() const
{
    const std::lock_guard lock(m_schedulingMutex);
    return m_scheduling;
}

void SamplingThreads::sample(int self, SchedulingKernel& kernel)
{
    const auto id = static_cast<pid_t>(gettid());
    const struct Forgotten {
        pid_t id;
        ~Forgotten() { ForgetRealtimeThread(id); }
    } forgottenAtEnd{id};
    m_ids[self] = id;
    m_ids[self].notify_all();
    m_go.wait(false);
    if (self >= m_sampling.load())
        return;
    for (;;) {
        if (m_turn.load(std::memory_order_acquire) != self && !awaitTurn(self))
            return;
        if (!holdTurn(self, kernel)) {
            end();
            return;
        }
    }
}

bool SamplingThreads::awaitTurn(int self)
{
    const std::stop_token stop = m_stop.get_token();
    const auto over = [&] { return stop.stop_requested() || ended() || !m_realtime.load(std::memory_order_relaxed); };
    const auto given = [&] { return m_turn.load(std::memory_order_acquire) == self; };
    for (;;) {
        if (over())
            return false;
        const std::int64_t now = monotonicNow();
        const std::int64_t wake = m_turnEnds.load(std::memory_order_relaxed) - WakeEarly;
        if (now < wake) {
            SleepUntilMonotonic(std::min(wake, now + NapLimit));
            continue;
        }
        // The holder offers the turn at its slice's end and samples on until
        // this thread claims it: a claim proves this thread runs right then,
        // so the hand-over leaves no stretch unsampled even where the system
        // (or a virtual machine's host) set a spinning waiter aside.
        const std::int64_t giveUp = now + WakeEarly + Overrun;
        for (;;) {
            bool offered = true;
            if (m_offered.compare_exchange_weak(offered, false, std::memory_order_acq_rel)) {
                while (!given() && !over())
                    spinPause();
                return given();
            }
            if (over() || monotonicNow() > giveUp) {
                pauseBriefly(); // a real block before it tries again
                break;
            }
            spinPause();
        }
    }
}

bool SamplingThreads::holdTurn(int self, SchedulingKernel& kernel)
{
    const std::stop_token stop = m_stop.get_token();
    const int other = 1 - self;
    // Set for this turn by go(), or by the holder before.
    std::int64_t sliceEnds = m_turnEnds.load(std::memory_order_relaxed);
    bool offering = false;
    const auto handOver = [&](std::int64_t now) {
        // The next turn's end, before the other looks at it to plan its sleep.
        m_turnEnds.store(now + Slice, std::memory_order_relaxed);
        m_turn.store(other, std::memory_order_release);
        return true;
    };
    for (;;) {
        if (RealtimeWarnings() != m_warningsAtGrant && m_realtime.load(std::memory_order_relaxed))
            dropToNormal(kernel);
        if (!m_engine.step(m_sink, stop, m_signalled))
            return false;
        if (!m_realtime.load(std::memory_order_relaxed))
            continue;
        // The engine's time, read at the end of each step anyway (its clock starts at the first sample).
        const std::int64_t now = MonotonicNanoseconds(m_engine.clock().start()) + m_engine.lastStamped();
        if (now < sliceEnds)
            continue;
        if (!offering) {
            m_offered.store(true, std::memory_order_release);
            offering = true;
            continue;
        }
        if (!m_offered.load(std::memory_order_acquire))
            return handOver(now); // claimed
        if (now < sliceEnds + Overrun)
            continue;
        // The other did not come: withdrawn, unless it claims the turn this moment.
        bool offered = true;
        if (!m_offered.compare_exchange_strong(offered, false, std::memory_order_acq_rel))
            return handOver(now);
        offering = false;
        m_engine.pausing();
        pauseBriefly();
        sliceEnds = monotonicNow() + Slice;
        m_turnEnds.store(sliceEnds, std::memory_order_relaxed);
    }
}

// The kernel warned that a thread ran real-time to its limit without
// blocking: both go back to normal priority before the hard limit kills the
// process, and this one samples on alone.
void SamplingThreads::dropToNormal(SchedulingKernel& kernel)
{
    m_realtime = false;
    for (int self = 0; self < m_sampling.load(); ++self)
        kernel.makeNormal(m_ids[self].load());
    const std::lock_guard lock(m_schedulingMutex);
    m_scheduling = {Scheduling::Route::Normal, 0, 1,
                    "the kernel withdrew real-time (SIGXCPU: a sampling thread ran to the soft RLIMIT_RTTIME "
                    "without blocking)"};
}

void SamplingThreads::end()
{
    m_ended.store(true, std::memory_order_release);
    m_ended.notify_all();
}
