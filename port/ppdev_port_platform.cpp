#include "ppdev_port_platform.h"

#include "port_address.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace {

constexpr std::uint8_t DriverControlBits = 0x0F; // STB, AFD, Init, SlctIn
constexpr std::uint8_t DirectionBit = 0x20;

std::string describe(const KernelPort& port)
{
    return "parport" + std::to_string(port.number) + " (" + PortAddressText(port.base) + ")";
}

// The group that owns a device node, which a user joins to open it; udev
// gives parallel ports to "lp". Read from /etc/group itself: device groups are
// local, and the library's lookup would tie the program to the C library's plugins.
std::string groupOf(const std::string& path)
{
    struct stat node {};
    std::string name = "lp";
    if (stat(path.c_str(), &node) != 0 || node.st_gid == 0)
        return name;
    if (std::FILE* groups = std::fopen("/etc/group", "re")) {
        char line[1024];
        while (std::fgets(line, sizeof line, groups)) {
            const std::string entry(line);
            const std::size_t first = entry.find(':');
            const std::size_t second = entry.find(':', first + 1);
            if (second != std::string::npos && std::strtoul(entry.c_str() + second + 1, nullptr, 10) == node.st_gid) {
                name = entry.substr(0, first);
                break;
            }
        }
        std::fclose(groups);
    }
    return name;
}

}

PpdevPortPlatform::PpdevPortPlatform(std::vector<KernelPort> ports, MessageSink showMessage,
                                     std::unique_ptr<PpdevCalls> calls)
    : m_ports(std::move(ports)), m_showMessage(std::move(showMessage)), m_calls(std::move(calls))
{
}

PpdevPortPlatform::~PpdevPortPlatform()
{
    closeDevice(InvalidHandle);
}

PortPlatform::Handle PpdevPortPlatform::openDevice()
{
    m_outcomes.clear();
    for (const KernelPort& port : m_ports) {
        // A claim of a held port would wait, and stall every ppdev user meanwhile.
        if (port.held()) {
            m_outcomes.push_back({port, Outcome::Held});
            continue;
        }
        if (port.devicePath.empty()) {
            m_outcomes.push_back({port, Outcome::NoDeviceNode});
            continue;
        }
        const int fd = m_calls->open(port.devicePath);
        if (fd < 0) {
            m_outcomes.push_back({port, Outcome::OpenFailed, -fd});
            continue;
        }
        if (const int claimed = m_calls->claim(fd, ClaimLimit); claimed != 0) {
            m_calls->close(fd);
            m_outcomes.push_back({port, Outcome::ClaimFailed, -claimed});
            continue;
        }
        m_claimed.push_back({port, fd, false, std::nullopt});
        m_outcomes.push_back({port, Outcome::Claimed});
    }
    if (m_claimed.empty()) {
        m_showMessage(failureText(m_outcomes));
        return InvalidHandle;
    }
    return 1;
}

void PpdevPortPlatform::closeDevice(Handle)
{
    for (const ClaimedPort& port : m_claimed) {
        m_calls->ioctl(port.fd, PPRELEASE, nullptr);
        m_calls->close(port.fd);
    }
    m_claimed.clear();
}

std::vector<KernelPort> PpdevPortPlatform::claimedPorts() const
{
    std::vector<KernelPort> ports;
    for (const ClaimedPort& port : m_claimed)
        ports.push_back(port.port);
    return ports;
}

PpdevPortPlatform::ClaimedPort* PpdevPortPlatform::claimedAt(std::uint16_t address, int& offset)
{
    for (ClaimedPort& port : m_claimed) {
        const int distance = address - port.port.base;
        if (distance >= 0 && distance < 4) {
            offset = distance;
            return &port;
        }
    }
    return nullptr;
}

bool PpdevPortPlatform::requestPortAccess(Handle, std::uint16_t port)
{
    int offset = 0;
    return claimedAt(port, offset) != nullptr;
}

std::optional<std::uint8_t> PpdevPortPlatform::readRegister(ClaimedPort& port, unsigned long request)
{
    unsigned char value = 0xFF;
    if (m_calls->ioctl(port.fd, request, &value) != 0)
        return std::nullopt;
    return value;
}

std::uint8_t PpdevPortPlatform::inByte(std::uint16_t address)
{
    int offset = 0;
    ClaimedPort* port = claimedAt(address, offset);
    if (!port)
        return 0xFF;
    switch (offset) {
    case 0:
        return readRegister(*port, PPRDATA).value_or(0xFF);
    case 1:
        return readRegister(*port, PPRSTATUS).value_or(0xFF);
    case 2:
        if (!port->control)
            if (const std::optional<std::uint8_t> control = readRegister(*port, PPRCONTROL))
                port->control = *control & DriverControlBits;
        return port->control.value_or(DriverControlBits) | (port->reverse ? DirectionBit : 0);
    default:
        return 0xFF;
    }
}

void PpdevPortPlatform::outByte(std::uint16_t address, std::uint8_t value)
{
    int offset = 0;
    ClaimedPort* port = claimedAt(address, offset);
    if (!port)
        return;
    unsigned char byte = value;
    if (offset == 0) {
        m_calls->ioctl(port->fd, PPWDATA, &byte);
    } else if (offset == 2) {
        // The driver takes only bits 0-3 here; the direction has an ioctl of its own.
        byte &= DriverControlBits;
        if (m_calls->ioctl(port->fd, PPWCONTROL, &byte) == 0)
            port->control = byte;
        else
            port->control.reset(); // asked for anew at the next read
        const bool reverse = (value & DirectionBit) != 0;
        int direction = reverse ? 1 : 0;
        if (reverse != port->reverse && m_calls->ioctl(port->fd, PPDATADIR, &direction) == 0)
            port->reverse = reverse;
    }
}

std::optional<int> PpdevPortPlatform::takeInterrupts(std::uint16_t base)
{
    int offset = 0;
    ClaimedPort* port = claimedAt(base, offset);
    int count = 0;
    if (!port || offset != 0 || port->port.irq < 0 || m_calls->ioctl(port->fd, PPCLRIRQ, &count) != 0)
        return std::nullopt;
    return count;
}

std::uint32_t PpdevPortPlatform::inDword(std::uint16_t address)
{
    std::uint32_t value = 0;
    for (unsigned n = 0; n < 4; ++n)
        value |= static_cast<std::uint32_t>(inByte(static_cast<std::uint16_t>(address + n))) << (8 * n);
    return value;
}

std::string PpdevPortPlatform::failureText(const std::vector<Outcome>& outcomes)
{
    if (outcomes.empty())
        return "The kernel knows no parallel port, so there is none to reach through /dev/parport* either. "
               "Load the kernel's driver for PC parallel ports:\n"
               "    sudo modprobe parport_pc ppdev\n"
               "An add-in card that /proc/sys/dev/parport still does not list then is not detected by "
               "the kernel (see sudo dmesg; a card with serial and parallel ports needs parport_serial).";

    std::string text = "Without privileges Velkaro reaches a port through the kernel's ppdev driver, but here:";
    std::string joinGroup;
    for (const Outcome& outcome : outcomes) {
        const KernelPort& port = outcome.port;
        text += "\n- " + describe(port);
        switch (outcome.kind) {
        case Outcome::Claimed:
            text += " is reached.";
            break;
        case Outcome::Held:
            text += " is in use by " + port.activeDevice + "; Velkaro leaves a port alone while another program "
                    "or driver holds it.";
            break;
        case Outcome::NoDeviceNode:
            text += " has no device node: load the ppdev driver (sudo modprobe ppdev).";
            break;
        case Outcome::OpenFailed:
            if (outcome.error == EACCES || outcome.error == EPERM) {
                joinGroup = groupOf(port.devicePath);
                text += ": you may not open " + port.devicePath + ".";
            } else {
                text += ": " + port.devicePath + " does not open: " + std::strerror(outcome.error) + ".";
            }
            break;
        case Outcome::ClaimFailed:
            text += outcome.error == EINTR ? std::string(" was taken by another program meanwhile.")
                                           : ": " + port.devicePath + " cannot be claimed: " +
                                                 std::strerror(outcome.error) + ".";
            break;
        }
    }
    if (!joinGroup.empty())
        text += "\n\nJoin the group that may use the ports, then log out and in again:\n"
                "    sudo usermod -aG " + joinGroup + " $USER";
    return text;
}
