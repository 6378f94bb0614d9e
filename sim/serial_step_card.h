#pragma once

#include "simulated_port.h"

#include <cstdint>
#include <functional>
#include <string_view>

// The add-in card of velkaro-sim: traffic for a logic analyser, a pure function
// of the machine's clock so that every process sharing the machine sees the
// same lines. ACK (pin 10) carries a serial line, 9600 baud 8N1, idle high: the
// text "Velkaro 9600 8N1\r\n" 10 ms into every 100 ms (a decoder finds the line
// idle before the first start bit). Busy (pin 11)
// steps a motor: bursts of 200 step pulses, 5 us high, one every millisecond,
// then 200 ms still; SlctOut (pin 13) gives the direction, which flips with each
// burst. Err (pin 15) and PaperOut (pin 12) carry an I2C write, data and clock
// (I2cTraffic), and idle high.
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
