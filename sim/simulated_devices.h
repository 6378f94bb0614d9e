#pragma once

#include "simulated_port.h"

#include <cstdint>
#include <functional>

// Test plug wiring D0..D4 back to Err, SlctOut, PaperOut, ACK and Busy.
class LoopbackPlug : public SimulatedDevice {
public:
    std::uint8_t statusLines(std::uint8_t dataLines, std::uint8_t controlLines) override;
};

// Test plug wiring the control lines back: STB to SlctOut, D0 to Err, Init to
// ACK, SlctIn to Busy, AFD to PaperOut.
class ControlLoopbackPlug : public SimulatedDevice {
public:
    std::uint8_t statusLines(std::uint8_t dataLines, std::uint8_t controlLines) override;
};

// A five-wire plug gone bad: D1 and D2 shorted together (the low one wins on
// both), ACK stuck low.
class FaultyLoopbackPlug : public SimulatedDevice {
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

// velkaro-sim's device at 0x278: ACK low for the first quarter of each
// second, as PulsingAckDevice's, and an SPI bus on SlctOut, PaperOut and Busy
// (SpiTraffic); Err high.
class SpiSensor : public SimulatedDevice {
public:
    using Clock = std::function<std::uint64_t()>; // nanoseconds
    explicit SpiSensor(Clock clock) : m_clock(std::move(clock)) {}
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
