#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class SimulatedParallelPort;

// Something plugged into a simulated port's connector.
class SimulatedDevice {
public:
    virtual ~SimulatedDevice() = default;
    // The levels the device drives on the status lines, as bits 3..7 of a byte
    // (bit 7 the Busy line level), given the data and control line levels.
    virtual std::uint8_t statusLines(std::uint8_t dataLines, std::uint8_t controlLines) = 0;
    // Called before every read of one of the port's registers.
    virtual void beforeRead(SimulatedParallelPort& port) { (void)port; }
};

// Test plug wiring D0..D4 back to Err, SlctOut, PaperOut, ACK and Busy.
class LoopbackPlug : public SimulatedDevice {
public:
    std::uint8_t statusLines(std::uint8_t dataLines, std::uint8_t controlLines) override;
};

// A device that holds every status line high except ACK, which it pulls low
// for a quarter of each second.
class PulsingAckDevice : public SimulatedDevice {
public:
    using Clock = std::function<std::int64_t()>; // milliseconds
    explicit PulsingAckDevice(Clock clock = {});
    std::uint8_t statusLines(std::uint8_t dataLines, std::uint8_t controlLines) override;

private:
    Clock m_clock;
};

// A device that drives the data lines with a count that goes up on every read.
class CountingDevice : public SimulatedDevice {
public:
    std::uint8_t statusLines(std::uint8_t dataLines, std::uint8_t controlLines) override;
    void beforeRead(SimulatedParallelPort& port) override;

private:
    std::uint8_t m_count = 0;
};

// One parallel port: the data latch, the status lines and the control latch.
class SimulatedParallelPort {
public:
    explicit SimulatedParallelPort(std::uint16_t base) : m_base(base) {}

    std::uint16_t base() const { return m_base; }
    void attach(std::unique_ptr<SimulatedDevice> device) { m_device = std::move(device); }
    SimulatedDevice* device() const { return m_device.get(); }

    // The register at offset 0..3 as the processor reads it.
    std::uint8_t read(int offset);
    // The four registers in one access, byte n from offset n.
    std::uint32_t readAll();
    void write(int offset, std::uint8_t value);

    // What the far side sees and drives, for tests.
    std::uint8_t dataLatch() const { return m_data; }
    void setDataLatch(std::uint8_t value) { m_data = value; }
    std::uint8_t controlLatch() const { return m_control; }
    // Status line levels used while no device is attached (bits 3..7).
    void setStatusLines(std::uint8_t lines) { m_idleStatusLines = lines; }

private:
    std::uint8_t registerAt(int offset);
    std::uint8_t statusRegister();

    std::uint16_t m_base;
    std::uint8_t m_data = 0;
    std::uint8_t m_control = 0;
    std::uint8_t m_idleStatusLines = 0xF8; // open lines float high
    std::unique_ptr<SimulatedDevice> m_device;
};
