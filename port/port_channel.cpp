#include "port_channel.h"

#include <string>

namespace {
const char* const ExtractFailedText = "Unable to extract XUD.SYS. Log in as a user who has such permission.";
// The same text without its full stop, as the service steps show it.
const char* const ServiceFailedText = "Unable to extract XUD.SYS. Log in as a user who has such permission";
const char* const DeviceFailedText = "The XUD.SYS service is present, but the driver cannot be connected to.";
constexpr std::uint32_t FileAttributeArchive = 0x20;
}

void PortChannel::OpenPortChannel()
{
    m_ready = true;
    switch (m_platform.systemFamily()) {
    case PortPlatform::Family::Unrestricted:
        return;
    case PortPlatform::Family::Kernel:
        m_device = m_platform.openDevice();
        m_ready = deviceOpen();
        return;
    case PortPlatform::Family::Driver:
        m_ready = openSequence();
        return;
    }
}

bool PortChannel::openSequence()
{
    m_device = m_platform.openDevice();
    if (deviceOpen())
        return true;

    if (!ExtractDriverFile()) {
        m_platform.showMessage(ExtractFailedText);
        return false;
    }

    const PortPlatform::Handle manager = m_platform.openServiceManager();
    if (manager == PortPlatform::InvalidHandle)
        return false;
    if (!startDriverService(manager))
        return false;

    m_device = m_platform.openDevice();
    if (!deviceOpen()) {
        m_platform.showMessage(DeviceFailedText);
        return false;
    }
    return true;
}

// Steps 4 to 7 of the open sequence: a registered, running driver service, with
// the service and manager handles closed on every path.
bool PortChannel::startDriverService(PortPlatform::Handle manager)
{
    const std::string driverPath = m_platform.systemDirectory() + "\\drivers\\xud.sys";
    const auto serviceFailed = [this, manager] {
        m_platform.closeServiceHandle(manager);
        m_platform.showMessage(ServiceFailedText);
        return false;
    };
    PortPlatform::Handle service = m_platform.openService(manager);
    if (service == PortPlatform::InvalidHandle)
        service = m_platform.createService(manager, driverPath);
    if (service == PortPlatform::InvalidHandle)
        return serviceFailed();

    if (!m_platform.startService(service)) {
        m_platform.deleteService(service);
        m_platform.closeServiceHandle(service);
        service = m_platform.createService(manager, driverPath);
        if (service == PortPlatform::InvalidHandle)
            return serviceFailed();
        if (!m_platform.startService(service)) {
            const std::uint32_t code = m_platform.lastError();
            m_platform.closeServiceHandle(service);
            m_platform.closeServiceHandle(manager);
            m_platform.showMessage("Unable to start the XUD.SYS service. Error code = " + std::to_string(static_cast<int>(code)));
            return false;
        }
    }

    m_platform.closeServiceHandle(service);
    m_platform.closeServiceHandle(manager);
    return true;
}

// A missing image or a short write counts as a failed extraction, so that a
// truncated driver file is never reported as installed.
bool PortChannel::ExtractDriverFile()
{
    std::vector<std::uint8_t> image;
    if (!m_platform.driverImage(image))
        return false;

    const std::string directory = m_platform.systemDirectory() + "\\drivers";
    const std::uint32_t attributes = m_platform.fileAttributes(directory);
    m_platform.setFileAttributes(directory, FileAttributeArchive);
    const long long written = m_platform.writeFile(directory + "\\xud.sys", image);
    m_platform.setFileAttributes(directory, attributes);
    m_platform.releaseDriverImage();
    return written >= 0 && static_cast<unsigned long long>(written) == image.size();
}

void PortChannel::GrantPort(std::uint16_t port)
{
    const OwnerTurn turn(m_turns);
    grant(port);
}

void PortChannel::grant(std::uint16_t port)
{
    m_platform.requestPortAccess(m_device, port);
    m_grantedPorts[port] = 1;
}

void PortChannel::grantOnFirstUse(std::uint16_t port)
{
    if (deviceOpen() && !m_grantedPorts[port])
        grant(port);
}

std::uint8_t PortChannel::readByte(std::uint16_t port)
{
    if (m_closed)
        return 0xFF;
    grantOnFirstUse(port);
    return m_platform.inByte(port);
}

std::uint32_t PortChannel::readRegisters(std::uint16_t base, bool byteReads)
{
    if (!byteReads)
        return readDword(base);
    std::uint32_t registers = 0;
    for (std::uint16_t offset = 0; offset < 3; ++offset)
        registers |= static_cast<std::uint32_t>(readByte(static_cast<std::uint16_t>(base + offset))) << (8 * offset);
    return registers;
}

void PortChannel::WritePortByte(std::uint16_t port, std::uint8_t value)
{
    const OwnerTurn turn(m_turns);
    if (m_closed)
        return;
    grantOnFirstUse(port);
    m_platform.outByte(port, value);
}

void PortChannel::ClosePortChannel()
{
    const OwnerTurn turn(m_turns);
    m_closed = true;
    if (!deviceOpen())
        return;
    m_platform.closeDevice(m_device);
    m_device = PortPlatform::InvalidHandle;
}
