#include "realtime_spawner.h"

#include "privilege_drop.h"
#include "realtime_scheduling.h"

#include <cstring>

#include <linux/capability.h>

#include <pthread.h>
#include <sched.h>

namespace {
RealtimeSpawner* current = nullptr;

// What the new thread tells the one that made it: whether it gave up its privileges.
struct Birth {
    RealtimeSpawner* spawner;
    std::promise<std::string> dropped; // empty, or why not
};
}

std::unique_ptr<RealtimeSpawner> RealtimeSpawner::start(int priority, std::string& why)
{
    std::unique_ptr<RealtimeSpawner> spawner(new RealtimeSpawner);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    // Explicit, not inherited: the thread is made real-time as it is born,
    // which only CAP_SYS_NICE (or an RLIMIT_RTPRIO) allows.
    pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attributes, SCHED_RR);
    const sched_param parameter{priority};
    pthread_attr_setschedparam(&attributes, &parameter);
    Birth birth{spawner.get(), {}};
    std::future<std::string> dropped = birth.dropped.get_future();
    const int error = pthread_create(&spawner->m_thread, &attributes, &RealtimeSpawner::serve, &birth);
    pthread_attr_destroy(&attributes);
    if (error) {
        why = std::string("no real-time thread at start: ") + std::strerror(error);
        return nullptr;
    }
    spawner->m_serving = true;
    why = dropped.get();
    // Where it could not give up its privileges it ends at once (the destructor
    // joins it); the process then refuses to go on with a privilege held.
    if (!why.empty())
        return nullptr;
    current = spawner.get();
    return spawner;
}

RealtimeSpawner* RealtimeSpawner::running()
{
    return current;
}

RealtimeSpawner::~RealtimeSpawner()
{
    if (current == this)
        current = nullptr;
    if (!m_serving)
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    pthread_join(m_thread, nullptr);
}

std::jthread RealtimeSpawner::spawn(std::function<void()> work)
{
    std::future<std::jthread> started;
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push({std::move(work), {}});
        started = m_requests.back().started.get_future();
    }
    m_wake.notify_one();
    return started.get();
}

void* RealtimeSpawner::serve(void* argument)
{
    Birth& birth = *static_cast<Birth*>(argument);
    RealtimeSpawner& self = *birth.spawner;
    std::string why;
    const bool dropped = DropThreadPrivileges(why);
    birth.dropped.set_value(why);
    if (!dropped)
        return nullptr;
    std::unique_lock lock(self.m_mutex);
    for (;;) {
        self.m_wake.wait(lock, [&self] { return self.m_stopping || !self.m_requests.empty(); });
        if (self.m_stopping)
            return nullptr;
        Request request = std::move(self.m_requests.front());
        self.m_requests.pop();
        request.started.set_value(std::jthread(std::move(request.work)));
    }
}

std::unique_ptr<RealtimeSpawner> KeepRealtimeSampling()
{
    // Without CAP_SYS_NICE no thread is even tried: a refused one may linger
    // a moment, and the drop refuses to run beside another thread.
    if (KeepRealtimeLimit(SamplerPriority) || !HasCapability(CAP_SYS_NICE))
        return nullptr;
    std::string why;
    return RealtimeSpawner::start(SamplerPriority, why);
}
