#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

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

// The add-in card of velkaro-sim: traffic for a logic analyser, a pure function
// of the machine's clock so that every process sharing the machine sees the
// same lines. ACK (pin 10) carries a serial line, 9600 baud 8N1, idle high: the
// text "Velkaro 9600 8N1\r\n" 10 ms into every 100 ms (a decoder finds the line
// idle before the first start bit). Busy (pin 11)
// steps a motor: bursts of 200 step pulses, 5 us high, one every millisecond,
// then 200 ms still; SlctOut (pin 13) gives the direction, which flips with each
// burst. Err (pin 15) stays high (no error), PaperOut (pin 12) low.
class SerialStepCard : public SimulatedDevice {
public:
    using Clock = std::function<std::uint64_t()>; // nanoseconds
    static constexpr std::string_view Text = "Velkaro 9600 8N1\r\n";
    static constexpr std::uint64_t BitsPerSecond = 9600;
    static constexpr std::uint64_t TextEvery = 100'000'000;  // ns
    static constexpr std::uint64_t TextFrom = 10'000'000;    // ns into each of those
    static constexpr std::uint64_t StepEvery = 1'000'000;    // ns
    static constexpr std::uint64_t StepWidth = 5'000;        // ns
    static constexpr std::uint64_t StepsPerBurst = 200;
    static constexpr std::uint64_t BurstEvery = 400'000'000; // ns: 200 ms of steps, 200 ms still

    explicit SerialStepCard(Clock clock) : m_clock(std::move(clock)) {}
    std::uint8_t statusLines(std::uint8_t dataLines, std::uint8_t controlLines) override;
    // The status lines at a time on the clock.
    static std::uint8_t linesAt(std::uint64_t nanoseconds);

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

// A port's two latches. Atomics, lock-free and address-free, since the shared
// simulated machine keeps them in memory that several processes write at once.
struct SimulatedLatches {
    std::atomic<std::uint8_t> data{0};
    std::atomic<std::uint8_t> control{0};
};
static_assert(std::atomic<std::uint8_t>::is_always_lock_free);

// One parallel port: the data latch, the status lines and the control latch.
class SimulatedParallelPort {
public:
    // A port with latches of its own.
    explicit SimulatedParallelPort(std::uint16_t base) : m_base(base), m_latches(&m_ownLatches) {}
    // A port over latches kept elsewhere, which must outlive it.
    SimulatedParallelPort(std::uint16_t base, SimulatedLatches& latches) : m_base(base), m_latches(&latches) {}

    std::uint16_t base() const { return m_base; }
    void attach(std::unique_ptr<SimulatedDevice> device) { m_device = std::move(device); }
    SimulatedDevice* device() const { return m_device.get(); }

    // The register at offset 0..3 as the processor reads it.
    std::uint8_t read(int offset);
    // The four registers in one access, byte n from offset n.
    std::uint32_t readAll();
    void write(int offset, std::uint8_t value);

    // What the far side sees and drives, for tests.
    std::uint8_t dataLatch() const { return m_latches->data.load(std::memory_order_relaxed); }
    void setDataLatch(std::uint8_t value) { m_latches->data.store(value, std::memory_order_relaxed); }
    std::uint8_t controlLatch() const { return m_latches->control.load(std::memory_order_relaxed); }
    // Status line levels used while no device is attached (bits 3..7).
    void setStatusLines(std::uint8_t lines) { m_idleStatusLines = lines; }

private:
    std::uint8_t registerAt(int offset);
    std::uint8_t statusRegister(std::uint8_t data, std::uint8_t control);
    static std::uint8_t controlRegister(std::uint8_t control);

    std::uint16_t m_base;
    SimulatedLatches m_ownLatches;
    SimulatedLatches* m_latches;
    std::uint8_t m_idleStatusLines = 0xF8; // open lines float high
    std::unique_ptr<SimulatedDevice> m_device;
};
