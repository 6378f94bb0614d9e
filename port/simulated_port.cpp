#include "simulated_port.h"

#include "register_model.h"

#include <chrono>

using namespace RegisterModel;

std::uint8_t LoopbackPlug::statusLines(std::uint8_t dataLines, std::uint8_t)
{
    // D0 -> Err (S3), D1 -> SlctOut (S4), D2 -> PaperOut (S5), D3 -> ACK (S6), D4 -> Busy (S7)
    return static_cast<std::uint8_t>((dataLines & 0x1F) << 3);
}

PulsingAckDevice::PulsingAckDevice(Clock clock) : m_clock(std::move(clock))
{
    if (!m_clock)
        m_clock = [] {
            using namespace std::chrono;
            return static_cast<std::int64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
        };
}

std::uint8_t PulsingAckDevice::statusLines(std::uint8_t, std::uint8_t)
{
    const bool pulse = m_clock() % 1000 < 250;
    return pulse ? 0xB8 : 0xF8;
}

std::uint8_t SerialStepCard::statusLines(std::uint8_t, std::uint8_t)
{
    return linesAt(m_clock());
}

std::uint8_t SerialStepCard::linesAt(std::uint64_t nanoseconds)
{
    constexpr std::uint8_t Err = 0x08, SlctOut = 0x10, Ack = 0x40, Busy = 0x80;
    std::uint8_t lines = Err;

    // Bit n of the text's frames starts at n / 9600 s: start bit low, eight data bits
    // from the lowest, stop bit high, then idle high until the next text.
    const std::uint64_t inCycle = nanoseconds % TextEvery;
    const std::uint64_t bit = (inCycle - TextFrom) * BitsPerSecond / 1'000'000'000;
    const std::uint64_t frame = bit / 10;
    const std::uint64_t inFrame = bit % 10;
    bool serial = true;
    if (inCycle >= TextFrom && frame < Text.size() && inFrame < 9)
        serial = inFrame == 0 ? false : ((static_cast<unsigned char>(Text[frame]) >> (inFrame - 1)) & 1u) != 0;
    if (serial)
        lines |= Ack;

    const std::uint64_t burst = nanoseconds / BurstEvery;
    const std::uint64_t inBurst = nanoseconds % BurstEvery;
    if (burst % 2 == 1)
        lines |= SlctOut;
    if (inBurst < StepsPerBurst * StepEvery && inBurst % StepEvery < StepWidth)
        lines |= Busy;
    return lines;
}

std::uint8_t CountingDevice::statusLines(std::uint8_t, std::uint8_t)
{
    return 0xF8;
}

void CountingDevice::beforeRead(SimulatedParallelPort& port)
{
    port.setDataLatch(++m_count);
}

std::uint8_t SimulatedParallelPort::statusRegister(std::uint8_t data, std::uint8_t control)
{
    const std::uint8_t lines = m_device ? m_device->statusLines(data, levelsFromRegister(Control, control & 0x0F))
                                        : m_idleStatusLines;
    // Bits 0..2 have no line and read as set.
    return static_cast<std::uint8_t>(registerFromLevels(Status, lines & 0xF8) | 0x07);
}

std::uint8_t SimulatedParallelPort::controlRegister(std::uint8_t control)
{
    return static_cast<std::uint8_t>((control & 0x3F) | 0xC0); // bits 6 and 7 read as set
}

std::uint8_t SimulatedParallelPort::read(int offset)
{
    if (m_device)
        m_device->beforeRead(*this);
    return registerAt(offset);
}

std::uint32_t SimulatedParallelPort::readAll()
{
    if (m_device)
        m_device->beforeRead(*this);
    // The registers of one moment: a write by another process to the shared
    // latches shows in the next read, never between data and status of this one.
    const std::uint8_t data = dataLatch();
    const std::uint8_t control = controlLatch();
    return data | std::uint32_t{statusRegister(data, control)} << 8 | std::uint32_t{controlRegister(control)} << 16 |
           0xFFu << 24;
}

std::uint8_t SimulatedParallelPort::registerAt(int offset)
{
    switch (offset) {
    case 0:
        return dataLatch();
    case 1:
        return statusRegister(dataLatch(), controlLatch());
    case 2:
        return controlRegister(controlLatch());
    default:
        return 0xFF;
    }
}

void SimulatedParallelPort::write(int offset, std::uint8_t value)
{
    if (offset == 0)
        m_latches->data.store(value, std::memory_order_relaxed);
    else if (offset == 2)
        m_latches->control.store(value, std::memory_order_relaxed);
    // the status register and base + 3 ignore writes
}
