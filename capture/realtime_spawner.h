#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <future>
#include <mutex>
#include <queue>
#include <string>
#include <thread>

// Real-time threads for a program that is granted CAP_SYS_NICE (a file
// capability, or root) but gives every privilege up at start: while it still
// may, it makes this thread real-time (SCHED_RR), which then gives up its own
// privileges and from then on starts the sampling threads, born real-time as
// its children. Kernel scheduling alone: the capability serves no other
// purpose and is gone before any window or command runs. The thread blocks
// between requests; nothing else runs on it.
class RealtimeSpawner {
public:
    // Made at start, while the process is privileged and has no other thread.
    // None (with why) where the process may not make a real-time thread.
    static std::unique_ptr<RealtimeSpawner> start(int priority, std::string& why);
    // The one of this process, while it lives; otherwise none.
    static RealtimeSpawner* running();

    ~RealtimeSpawner();
    RealtimeSpawner(const RealtimeSpawner&) = delete;
    RealtimeSpawner& operator=(const RealtimeSpawner&) = delete;

    // A thread running work, started from here: real-time like this one.
    std::jthread spawn(std::function<void()> work);

private:
    struct Request {
        std::function<void()> work;
        std::promise<std::jthread> started;
    };
    RealtimeSpawner() = default;
    static void* serve(void* self);

    pthread_t m_thread{};
    bool m_serving = false; // the thread was made, and is joined at the end
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::queue<Request> m_requests;
    bool m_stopping = false;
};

// At start, before the privileges go: what real-time sampling can keep without
// keeping a privilege. An RLIMIT_RTPRIO where the process may raise it (root);
// else, where it may make a real-time thread (CAP_SYS_NICE), the spawner.
std::unique_ptr<RealtimeSpawner> KeepRealtimeSampling();
