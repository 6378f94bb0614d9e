#include "simulated_devices.h"

#include "bus_traffic.h"

#include <chrono>

std::uint8_t LoopbackPlug::statusLines(std::uint8_t dataLines, std::uint8_t)
{
    // D0 -> Err (S3), D1 -> SlctOut (S4), D2 -> PaperOut (S5), D3 -> ACK (S6), D4 -> Busy (S7)
    return static_cast<std::uint8_t>((dataLines & 0x1F) << 3);
}

std::uint8_t ControlLoopbackPlug::statusLines(std::uint8_t dataLines, std::uint8_t controlLines)
{
    const auto level = [](std::uint8_t lines, int bit) { return (lines >> bit) & 1; };
    // STB (C0) -> SlctOut (S4), D0 -> Err (S3), Init (C2) -> ACK (S6), SlctIn (C3) -> Busy (S7), AFD (C1) -> PaperOut (S5)
    return static_cast<std::uint8_t>(level(dataLines, 0) << 3 | level(controlLines, 0) << 4 | level(controlLines, 1) << 5 |
                                     level(controlLines, 2) << 6 | level(controlLines, 3) << 7);
}

std::uint8_t FaultyLoopbackPlug::statusLines(std::uint8_t dataLines, std::uint8_t)
{
    const std::uint8_t shorted = (dataLines >> 1) & (dataLines >> 2) & 1;
    const std::uint8_t lines = static_cast<std::uint8_t>((dataLines & 0x1F) << 3);
    // SlctOut (S4) and PaperOut (S5) both read the shorted pair; ACK (S6) low.
    return static_cast<std::uint8_t>((lines & ~0x70) | shorted << 4 | shorted << 5);
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

std::uint8_t SpiSensor::statusLines(std::uint8_t, std::uint8_t)
{
    constexpr std::uint8_t Err = 0x08, Ack = 0x40;
    const std::uint64_t now = m_clock();
    const bool pulse = now / 1'000'000 % 1000 < 250;
    return static_cast<std::uint8_t>(SpiTraffic::linesAt(now) | Err | (pulse ? 0 : Ack));
}

std::uint8_t CountingDevice::statusLines(std::uint8_t, std::uint8_t)
{
    return 0xF8;
}

void CountingDevice::beforeRead(SimulatedParallelPort& port)
{
    port.setDataLatch(++m_count);
}
