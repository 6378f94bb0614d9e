#include "ppdev_calls.h"

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

    const auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(limit).count();
    itimerval alarm{};
    alarm.it_value.tv_sec = static_cast<time_t>(microseconds / 1000000);
    alarm.it_value.tv_usec = static_cast<suseconds_t>(microseconds % 1000000);
    setitimer(ITIMER_REAL, &alarm, nullptr);
    const int result = ::ioctl(fd, PPCLAIM) == 0 ? 0 : -errno;
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);

    sigaction(SIGALRM, &previous, nullptr);
    return result;
}

void SystemPpdevCalls::close(int fd)
{
    ::close(fd);
}
