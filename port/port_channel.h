#pragma once

#include "port_platform.h"

#include <array>
#include <cstdint>

// Makes port input and output possible for the process: the permission at
// start, the per-port grants, and the byte and four-byte transfers.
class PortChannel {
public:
    explicit PortChannel(PortPlatform& platform) : m_platform(platform) {}
    PortChannel(const PortChannel&) = delete;
    PortChannel& operator=(const PortChannel&) = delete;

    // Runs once at program start; on failure the platform has shown why.
    void OpenPortChannel();
    // Whether the program may go on.
    bool PortChannelReady() const { return m_ready; }
    // Sends the grant request for the port and marks it, whatever the outcome.
    void GrantPort(std::uint16_t port);
    // Grant on first use, then one 8-bit input.
    std::uint8_t ReadPortByte(std::uint16_t port);
    // Grant on first use, then one 8-bit output.
    void WritePortByte(std::uint16_t port, std::uint8_t value);
    // One 32-bit input: byte n of the result comes from port + n. No grant step.
    std::uint32_t ReadPortDword(std::uint16_t port) { return m_closed ? 0xFFFFFFFF : m_platform.inDword(port); }
    // Runs once at exit: closes the device if one is open. No transfer reaches
    // a port after it: reads give all ones, writes are dropped.
    void ClosePortChannel();

    bool deviceOpen() const { return m_device != PortPlatform::InvalidHandle; }
    bool granted(std::uint16_t port) const { return m_grantedPorts[port] != 0; }

private:
    bool openSequence();
    bool ExtractDriverFile();
    bool startDriverService(PortPlatform::Handle manager);
    void grantOnFirstUse(std::uint16_t port);

    PortPlatform& m_platform;
    PortPlatform::Handle m_device = PortPlatform::InvalidHandle;
    bool m_ready = false;
    bool m_closed = false;
    std::array<std::uint8_t, 65536> m_grantedPorts{};
};
