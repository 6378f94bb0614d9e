#pragma once

#include <optional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/types.h>

// How the sampling threads are scheduled, and by which route they got it.
struct Scheduling {
    enum class Route { Normal, ProcessLimits, StartPrivilege, Rtkit };
    Route route = Route::Normal;
    int priority = 0; // SCHED_RR's, when real-time
    int threads = 1;  // sampling threads taking turns
    // Normal: why no real-time was had, or how it was lost.
    std::string why;
    bool realtime() const { return route != Route::Normal; }
};

// The kernel's side of scheduling a thread: a seam, so that tests can answer
// as a machine would. Errors are errno values, 0 for success.
class SchedulingKernel {
public:
    virtual ~SchedulingKernel() = default;
    // SCHED_RR at the priority, reset on fork: a child never inherits it.
    virtual int makeRealtime(pid_t thread, int priority) = 0;
    virtual int makeNormal(pid_t thread) = 0;
    virtual int getLimit(int resource, rlimit& limit) = 0;
    virtual int setLimit(int resource, const rlimit& limit) = 0;
    // The processors the process may run on.
    virtual std::vector<int> processors() = 0;
    virtual pid_t processId() = 0;
};

class LinuxSchedulingKernel : public SchedulingKernel {
public:
    int makeRealtime(pid_t thread, int priority) override;
    int makeNormal(pid_t thread) override;
    int getLimit(int resource, rlimit& limit) override;
    int setLimit(int resource, const rlimit& limit) override;
    std::vector<int> processors() override;
    pid_t processId() override;
};

// The desktop's broker of real-time scheduling (rtkit on the system bus).
class RealtimeBroker {
public:
    struct Offer {
        int maxPriority = 0;
        long long rtTimeUSecMax = 0; // it grants only to a process whose hard RLIMIT_RTTIME is no more
    };
    virtual ~RealtimeBroker() = default;
    // What it allows; none, with why, when it cannot be asked.
    virtual std::optional<Offer> offer(std::string& why) = 0;
    virtual bool makeThreadRealtime(pid_t process, pid_t thread, int priority, std::string& why) = 0;
};

// The priority asked for: below PipeWire's and PulseAudio's through rtkit
// (20 at most there), so that sampling never holds the sound off.
constexpr int SamplerPriority = 19;
// The hard RLIMIT_RTTIME set before any thread goes real-time (rtkit's own
// maximum): a real-time thread that runs this long without blocking is killed
// with the process. The soft limit, half of it, sends SIGXCPU first.
constexpr long long RealtimeRunLimitUsec = 200'000;

// Makes the threads real-time, each or none: the process's own limits first
// (RLIMIT_RTPRIO, or CAP_SYS_NICE, or a birth real-time), then the broker, if
// any; else they are made normal and the result says why. VELKARO_SCHEDULING=normal in the
// environment asks for normal priority (the test suite runs as root). Called
// by the thread that made them, before they sample.
Scheduling GrantRealtime(SchedulingKernel& kernel, RealtimeBroker* broker, const std::vector<pid_t>& threads);

// SIGXCPU: the kernel's warning that a real-time thread ran to the soft
// RLIMIT_RTTIME without blocking. The handler that GrantRealtime installs
// makes the threads it made real-time normal at once and counts the warning;
// the sampling threads tell the user when the count grows.
int RealtimeWarnings();
// A thread that GrantRealtime made real-time ends: the handler leaves it be.
void ForgetRealtimeThread(pid_t thread);

// What the user is told: the scheduling had, and, at normal priority, what to do for more.
std::string SchedulingText(const Scheduling& scheduling);
extern const char* const RealtimeAdvice;
