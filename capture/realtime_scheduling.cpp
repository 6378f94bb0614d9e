#include "realtime_scheduling.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
std::atomic<int> warnings{0};
static_assert(std::atomic<int>::is_always_lock_free, "counted in a signal handler");

// The threads made real-time, until each ends: slots a signal handler can read.
std::atomic<pid_t> realtimeThreads[16]{};
static_assert(std::atomic<pid_t>::is_always_lock_free, "read in a signal handler");

bool rememberRealtime(pid_t thread)
{
    for (std::atomic<pid_t>& slot : realtimeThreads) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, thread))
            return true;
    }
    return false;
}

// The warning comes once, 100 ms of real-time running before the kill, and
// may land on any thread of the process, while a sampling thread may be far
// from the place where it looks at the count: in a virtual machine whose host
// is loaded, one read can take 100 ms and more, and the guest's kernel charges
// the time its host took away to the thread that ran then. So the handler
// itself makes every real-time thread normal, which stops the kernel's count
// before it reaches the hard limit.
void warned(int)
{
    const int savedErrno = errno;
    warnings.fetch_add(1, std::memory_order_relaxed);
    const sched_param normal{0};
    for (const std::atomic<pid_t>& slot : realtimeThreads)
        if (const pid_t thread = slot.load(std::memory_order_relaxed))
            syscall(SYS_sched_setscheduler, thread, SCHED_OTHER | SCHED_RESET_ON_FORK, &normal);
    errno = savedErrno;
}

// Without a handler SIGXCPU ends the process with a core dump.
bool watchForWarnings(std::string& why)
{
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] {
        struct sigaction action{};
        action.sa_handler = warned;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        installed = sigaction(SIGXCPU, &action, nullptr) == 0;
    });
    if (!installed)
        why = std::string("SIGXCPU could not be caught: ") + std::strerror(errno);
    return installed;
}

// The hard RLIMIT_RTTIME no more than at most (lowering it needs no privilege),
// the soft one half of it: the kernel warns long before it kills.
bool limitRealtimeRuns(SchedulingKernel& kernel, long long atMost, std::string& why)
{
    rlimit limit{};
    int error = kernel.getLimit(RLIMIT_RTTIME, limit);
    if (!error) {
        const rlim_t hard = limit.rlim_max == RLIM_INFINITY ? static_cast<rlim_t>(atMost)
                                                            : std::min(limit.rlim_max, static_cast<rlim_t>(atMost));
        limit = {std::min(limit.rlim_cur, hard / 2), hard};
        error = kernel.setLimit(RLIMIT_RTTIME, limit);
    }
    if (error)
        why = std::string("RLIMIT_RTTIME could not be set: ") + std::strerror(error);
    return !error;
}

// Each thread made so, up to the first refusal: its error, or 0. (Where the
// result is normal priority, all are made normal at the end.)
int makeEach(const std::vector<pid_t>& threads, const auto& make)
{
    for (const pid_t thread : threads)
        if (const int error = make(thread))
            return error;
    return 0;
}

Scheduling normal(std::string why)
{
    return {Scheduling::Route::Normal, 0, 1, std::move(why)};
}
}

int LinuxSchedulingKernel::makeRealtime(pid_t thread, int priority)
{
    const sched_param parameter{priority};
    return sched_setscheduler(thread, SCHED_RR | SCHED_RESET_ON_FORK, &parameter) == 0 ? 0 : errno;
}

int LinuxSchedulingKernel::makeNormal(pid_t thread)
{
    const sched_param parameter{0};
    return sched_setscheduler(thread, SCHED_OTHER | SCHED_RESET_ON_FORK, &parameter) == 0 ? 0 : errno;
}

int LinuxSchedulingKernel::getLimit(int resource, rlimit& limit)
{
    return getrlimit(static_cast<__rlimit_resource>(resource), &limit) == 0 ? 0 : errno;
}

int LinuxSchedulingKernel::setLimit(int resource, const rlimit& limit)
{
    return setrlimit(static_cast<__rlimit_resource>(resource), &limit) == 0 ? 0 : errno;
}

std::vector<int> LinuxSchedulingKernel::processors()
{
    cpu_set_t set;
    std::vector<int> allowed;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        for (int processor = 0; processor < CPU_SETSIZE; ++processor)
            if (CPU_ISSET(processor, &set))
                allowed.push_back(processor);
    return allowed;
}

pid_t LinuxSchedulingKernel::processId()
{
    return getpid();
}

namespace {
Scheduling grant(SchedulingKernel& kernel, RealtimeBroker* broker, const std::vector<pid_t>& threads)
{
    const char* asked = std::getenv("VELKARO_SCHEDULING");
    if (asked && std::strcmp(asked, "normal") == 0)
        return normal("VELKARO_SCHEDULING=normal asks for normal priority");
    std::string why;
    if (!watchForWarnings(why) || !limitRealtimeRuns(kernel, RealtimeRunLimitUsec, why))
        return normal(why);
    const int count = static_cast<int>(threads.size());

    rlimit ownLimit{};
    kernel.getLimit(RLIMIT_RTPRIO, ownLimit);
    // Beyond RLIMIT_RTPRIO only with CAP_SYS_NICE, which asking for the full priority tries.
    const int ownPriority = ownLimit.rlim_cur > 0 ? static_cast<int>(std::min<rlim_t>(ownLimit.rlim_cur, SamplerPriority))
                                                  : SamplerPriority;
    const int ownError = makeEach(threads, [&](pid_t thread) { return kernel.makeRealtime(thread, ownPriority); });
    if (!ownError)
        return {Scheduling::Route::ProcessLimits, ownPriority, count, {}};
    why = "the process's own limits allow none (RLIMIT_RTPRIO " + std::to_string(ownLimit.rlim_cur) +
          ", no CAP_SYS_NICE: " + std::strerror(ownError) + ")";

    if (!broker)
        return normal(why + "; rtkit is not asked here");
    std::string brokerWhy;
    const std::optional<RealtimeBroker::Offer> offer = broker->offer(brokerWhy);
    if (!offer)
        return normal(why + "; rtkit: " + brokerWhy);
    const int priority = std::min(SamplerPriority, offer->maxPriority);
    if (priority < 1)
        return normal(why + "; rtkit allows no real-time priority");
    if (!limitRealtimeRuns(kernel, offer->rtTimeUSecMax, brokerWhy))
        return normal(why + "; " + brokerWhy);
    const pid_t process = kernel.processId();
    const int brokerError = makeEach(threads, [&](pid_t thread) {
        return broker->makeThreadRealtime(process, thread, priority, brokerWhy) ? 0 : EPERM;
    });
    if (brokerError)
        return normal(why + "; rtkit refused: " + brokerWhy);
    return {Scheduling::Route::Rtkit, priority, count, {}};
}
}

Scheduling GrantRealtime(SchedulingKernel& kernel, RealtimeBroker* broker, const std::vector<pid_t>& threads)
{
    Scheduling scheduling = grant(kernel, broker, threads);
    if (scheduling.realtime())
        for (const pid_t thread : threads)
            if (!rememberRealtime(thread)) {
                scheduling = normal("more real-time sampling threads than the kernel's warning can reach");
                break;
            }
    // Threads born real-time (from the spawner) are normal only once made so.
    if (!scheduling.realtime())
        for (const pid_t thread : threads)
            kernel.makeNormal(thread);
    return scheduling;
}

void ForgetRealtimeThread(pid_t thread)
{
    for (std::atomic<pid_t>& slot : realtimeThreads) {
        pid_t remembered = thread;
        slot.compare_exchange_strong(remembered, 0);
    }
}

int RealtimeWarnings()
{
    return warnings.load(std::memory_order_relaxed);
}

std::string SchedulingText(const Scheduling& scheduling)
{
    const std::string turns = scheduling.threads > 1 ? ", " + std::to_string(scheduling.threads) + " threads taking turns" : "";
    switch (scheduling.route) {
    case Scheduling::Route::ProcessLimits:
        return "real-time (SCHED_RR " + std::to_string(scheduling.priority) + ", the process's own limits" + turns + ")";
    case Scheduling::Route::StartPrivilege:
        return "real-time (SCHED_RR " + std::to_string(scheduling.priority) + ", CAP_SYS_NICE at start" + turns + ")";
    case Scheduling::Route::Rtkit:
        return "real-time (SCHED_RR " + std::to_string(scheduling.priority) + ", through rtkit" + turns + ")";
    case Scheduling::Route::Normal:
        break;
    }
    return "normal priority (" + scheduling.why + ")";
}

const char* const RealtimeAdvice = "under load some stretches go unsampled, each marked; for real-time sampling run "
                                   "it in a desktop session where rtkit runs, or give the user an RLIMIT_RTPRIO (see "
                                   "REAL-TIME SAMPLING in the manual page)";
