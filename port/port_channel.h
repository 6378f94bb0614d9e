#pragma once

#include "channel_turns.h"
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
    std::uint8_t ReadPortByte(std::uint16_t port)
    {
        const OwnerTurn turn(m_turns);
        return readByte(port);
    }
    // Grant on first use, then one 8-bit output.
    void WritePortByte(std::uint16_t port, std::uint8_t value);
    // One 32-bit input: byte n of the result comes from port + n. No grant step.
    std::uint32_t ReadPortDword(std::uint16_t port)
    {
        const OwnerTurn turn(m_turns);
        return readDword(port);
    }
    // The data, status and control registers in bytes 0, 1 and 2: one 32-bit
    // input at the base, or three 8-bit inputs where 32-bit ones do not work.
    std::uint32_t ReadRegisters(std::uint16_t base, bool byteReads)
    {
        const OwnerTurn turn(m_turns);
        return readRegisters(base, byteReads);
    }
    // The interrupts counted on the port since the last take; none where the
    // route cannot count them, or once the channel is closed.
    std::optional<int> TakeInterrupts(std::uint16_t base)
    {
        const OwnerTurn turn(m_turns);
        return m_closed || !m_ready ? std::nullopt : m_platform.takeInterrupts(base);
    }
    // Runs once at exit: closes the device if one is open. No transfer reaches
    // a port after it: reads give all ones, writes are dropped.
    void ClosePortChannel();

    // While a second thread reads through the channel (a capture), the owner's
    // transfers take turns with it. Called on the owner's thread only: before
    // that thread starts, and after it has ended.
    void beginSharing(ChannelTurns& turns) { m_turns = &turns; }
    void endSharing() { m_turns = nullptr; }

    // A run of reads by the sharing thread, in one turn; the channel's own
    // state (grants, provider) is then touched by this thread alone.
    class CaptureRun {
    public:
        explicit CaptureRun(PortChannel& channel) : m_channel(channel) { channel.m_turns->captureTake(); }
        ~CaptureRun() { m_channel.m_turns->give(); }
        CaptureRun(const CaptureRun&) = delete;
        CaptureRun& operator=(const CaptureRun&) = delete;
        std::uint32_t readRegisters(std::uint16_t base, bool byteReads) { return m_channel.readRegisters(base, byteReads); }

    private:
        PortChannel& m_channel;
    };

    bool deviceOpen() const { return m_device != PortPlatform::InvalidHandle; }
    bool granted(std::uint16_t port) const { return m_grantedPorts[port] != 0; }

private:
    // The owner's turn while the channel is shared; nothing otherwise.
    class OwnerTurn {
    public:
        explicit OwnerTurn(ChannelTurns* turns) : m_turns(turns)
        {
            if (m_turns)
                m_turns->ownerTake();
        }
        ~OwnerTurn()
        {
            if (m_turns)
                m_turns->give();
        }
        OwnerTurn(const OwnerTurn&) = delete;
        OwnerTurn& operator=(const OwnerTurn&) = delete;

    private:
        ChannelTurns* m_turns;
    };

    std::uint8_t readByte(std::uint16_t port);
    std::uint32_t readDword(std::uint16_t port) { return m_closed ? 0xFFFFFFFF : m_platform.inDword(port); }
    std::uint32_t readRegisters(std::uint16_t base, bool byteReads);
    bool openSequence();
    bool ExtractDriverFile();
    bool startDriverService(PortPlatform::Handle manager);
    void grant(std::uint16_t port);
    void grantOnFirstUse(std::uint16_t port);

    PortPlatform& m_platform;
    PortPlatform::Handle m_device = PortPlatform::InvalidHandle;
    bool m_ready = false;
    bool m_closed = false;
    std::array<std::uint8_t, 65536> m_grantedPorts{};
    ChannelTurns* m_turns = nullptr; // set while a capture thread shares the channel
};
