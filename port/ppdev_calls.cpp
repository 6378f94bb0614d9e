#include "ppdev_calls.h"

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
void interruptOnly(int) {}
}

int SystemPpdevCalls::open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
}

int SystemPpdevCalls::ioctl(int fd, unsigned long request, void* argument)
{
    return ::ioctl(fd, request, argument) == 0 ? 0 : -errno;
}

int SystemPpdevCalls::claim(int fd, std::chrono::milliseconds limit)
{
    // No SA_RESTART: the alarm must end the waiting claim with EINTR.
    struct sigaction interrupt {};
    interrupt.sa_handler = interruptOnly;
    sigemptyset(&interrupt.sa_mask);
    struct sigaction previous {};
    sigaction(SIGALRM, &interrupt, &previous);

    // A zero timer would be no timer at all, so the least limit is a microsecond.
    // The alarm repeats: one that rings before the claim starts to sleep would
    // otherwise leave it asleep for good.
    const auto microseconds = std::max<long long>(std::chrono::duration_cast<std::chrono::microseconds>(limit).count(), 1);
    itimerval alarm{};
    alarm.it_value.tv_sec = static_cast<time_t>(microseconds / 1000000);
    alarm.it_value.tv_usec = static_cast<suseconds_t>(microseconds % 1000000);
    alarm.it_interval.tv_usec = 10000;
    setitimer(ITIMER_REAL, &alarm, nullptr);
    const int result = waitForClaim(fd);
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);

    sigaction(SIGALRM, &previous, nullptr);
    return result;
}

int SystemPpdevCalls::waitForClaim(int fd)
{
    return ::ioctl(fd, PPCLAIM) == 0 ? 0 : -errno;
}

void SystemPpdevCalls::close(int fd)
{
    ::close(fd);
}
