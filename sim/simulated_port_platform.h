#pragma once

#include "port_platform.h"
#include "simulated_port.h"

#include <cstdint>
#include <memory>
#include <vector>

// Port platform over simulated parallel ports. Every other I/O address reads
// 0xFF like a floating bus and ignores writes. Keeps a log of every grant and
// transfer so that tests can assert the exact traffic.
class SimulatedPortPlatform : public PortPlatform {
public:
    struct Access {
        enum Kind { Grant, Read, Write } kind;
        std::uint16_t port;
        int width;            // 8 or 32 bits; 0 for a grant
        std::uint32_t value;  // what was read or written
        bool operator==(const Access&) const = default;
    };

    // How a 32-bit read at a port base behaves.
    enum class DwordReads {
        FourRegisters, // split into four byte cycles, as on a PC's LPC bus
        AllOnes,       // 0xFFFFFFFF, as on emulators and some add-in cards
    };

    SimulatedParallelPort& addPort(std::uint16_t base);
    // A port over latches kept elsewhere, which must outlive the platform.
    SimulatedParallelPort& addPort(std::uint16_t base, SimulatedLatches& latches);
    SimulatedParallelPort* port(std::uint16_t base);

    void setDwordReads(DwordReads mode) { m_dwordReads = mode; }
    void setLogging(bool on) { m_logging = on; }
    const std::vector<Access>& log() const { return m_log; }
    void clearLog() { m_log.clear(); }
    // The writes in the log, for assertions that care only about those.
    std::vector<Access> writes() const;

    Family systemFamily() override { return Family::Kernel; }
    Handle openDevice() override { return 1; }
    void closeDevice(Handle) override {}
    bool requestPortAccess(Handle device, std::uint16_t port) override;
    void showMessage(const std::string&) override {}
    std::uint8_t inByte(std::uint16_t port) override;
    void outByte(std::uint16_t port, std::uint8_t value) override;
    // Counted by the simulated port, as the kernel's ppdev driver counts them.
    std::optional<int> takeInterrupts(std::uint16_t base) override;
    std::uint32_t inDword(std::uint16_t port) override;

private:
    // The simulated port owning the address, with the address's offset in it.
    SimulatedParallelPort* portAt(std::uint16_t address, int& offset);
    void record(Access::Kind kind, std::uint16_t port, int width, std::uint32_t value);

    std::vector<std::unique_ptr<SimulatedParallelPort>> m_ports;
    std::vector<Access> m_log;
    DwordReads m_dwordReads = DwordReads::FourRegisters;
    bool m_logging = true;
};
