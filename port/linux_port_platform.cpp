#include "linux_port_platform.h"

#include <cerrno>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#define VELKARO_HAS_PORT_IO 1
#include <sys/io.h>
#endif

namespace {
constexpr std::uint16_t ProbePort = 0x378;
}

std::string LinuxPortPlatform::refusalText(int error)
{
    switch (error) {
    case ENOSYS:
        return "This Linux kernel was built without I/O port permission support "
               "(CONFIG_X86_IOPL_IOPERM), so no program can reach the parallel port here.\n\n"
               "Run Velkaro under a kernel built with that option (the distributions' standard kernels have it).";
    case EPERM:
        return "Velkaro needs permission to use the parallel port's I/O ports.\n\n"
               "Run it as root, or give the program the capability once:\n"
               "    sudo setcap cap_sys_rawio+ep build/velkaro\n\n"
               "If it already has that permission, the kernel is locked down (for example by Secure Boot) "
               "and refuses port access to every program.";
    default:
        return std::string("The kernel refused access to the I/O ports: ") + std::strerror(error) + ".";
    }
}

int LinuxPortPlatform::ioperm(unsigned long from, unsigned long count, int turnOn)
{
#ifdef VELKARO_HAS_PORT_IO
    return ::ioperm(from, count, turnOn);
#else
    (void)from; (void)count; (void)turnOn;
    errno = ENOTSUP;
    return -1;
#endif
}

PortPlatform::Handle LinuxPortPlatform::openDevice()
{
#ifndef VELKARO_HAS_PORT_IO
    m_showMessage("This processor has no port input and output instructions, "
                  "so Velkaro cannot reach a parallel port on it.");
    return InvalidHandle;
#else
    if (ioperm(ProbePort, 1, 1) != 0) {
        m_showMessage(refusalText(errno));
        return InvalidHandle;
    }
    ioperm(ProbePort, 1, 0); // the check itself grants nothing
    return 1;
#endif
}

bool LinuxPortPlatform::requestPortAccess(Handle, std::uint16_t port)
{
    // A refusal of a port granted earlier leaves the kernel's bit set, so the
    // port stays usable.
    if (ioperm(port, 1, 1) == 0)
        m_allowed.set(port);
    return m_allowed.test(port);
}

std::uint8_t LinuxPortPlatform::inByte(std::uint16_t port)
{
#ifdef VELKARO_HAS_PORT_IO
    if (m_allowed.test(port))
        return ::inb(port);
#endif
    (void)port;
    return 0xFF;
}

void LinuxPortPlatform::outByte(std::uint16_t port, std::uint8_t value)
{
#ifdef VELKARO_HAS_PORT_IO
    if (m_allowed.test(port))
        ::outb(value, port);
#endif
    (void)port; (void)value;
}

std::uint32_t LinuxPortPlatform::inDword(std::uint16_t port)
{
#ifdef VELKARO_HAS_PORT_IO
    bool all = port <= 0xFFFC;
    for (unsigned n = 0; all && n < 4; ++n)
        all = m_allowed.test(port + n);
    if (all)
        return ::inl(port);
#endif
    (void)port;
    return 0xFFFFFFFF;
}
