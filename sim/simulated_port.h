#pragma once

#include <atomic>
#include <cstdint>
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
    // The interrupts since the last take: each rise of ACK while control bit 4
    // is set, as the port raises its IRQ; noticed at the port's reads and writes.
    int takeInterrupts() { return m_interrupts.exchange(0, std::memory_order_relaxed); }
    // A port without input mode (SPP only): control bit 5 leaves the data drivers on.
    void setSppOnly(bool sppOnly) { m_sppOnly = sppOnly; }
    // Status line levels used while no device is attached (bits 3..7).
    void setStatusLines(std::uint8_t lines) { m_idleStatusLines = lines; }

private:
    std::uint8_t registerAt(int offset);
    void noticeAck(std::uint8_t status, std::uint8_t control);
    std::uint8_t dataLines(std::uint8_t data, std::uint8_t control) const;
    std::uint8_t statusRegister(std::uint8_t data, std::uint8_t control);
    static std::uint8_t controlRegister(std::uint8_t control);

    std::uint16_t m_base;
    SimulatedLatches m_ownLatches;
    SimulatedLatches* m_latches;
    std::uint8_t m_idleStatusLines = 0xF8; // open lines float high
    bool m_sppOnly = false;
    std::atomic<bool> m_ackHigh{false};
    std::atomic<int> m_interrupts{0};
    std::unique_ptr<SimulatedDevice> m_device;
};
