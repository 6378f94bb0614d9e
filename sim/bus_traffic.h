#pragma once

#include <cstdint>
#include <string_view>

// Traffic of two buses on a port's input lines, as pure functions of the
// machine's clock (nanoseconds), for the decoders to read without hardware.
// Each gives the levels of its lines as status line bits (Err 0x08, SlctOut
// 0x10, PaperOut 0x20, Busy 0x80: the line level, not the register bit);
// every line idles high.

// SPI in mode 3 (clock idle high, data set on the falling edge, sampled on
// the rising one), 100 kHz, most significant bit first: chip select on
// SlctOut (pin 13, active low), clock on PaperOut (pin 12), data on Busy
// (pin 11). It sends Bytes 50 ms into every 100 ms.
struct SpiTraffic {
    static constexpr std::string_view Bytes = "SPI";
    static constexpr std::uint64_t Every = 100'000'000;
    static constexpr std::uint64_t From = 50'000'000;
    static constexpr std::uint64_t HalfBit = 5'000;
    static std::uint8_t linesAt(std::uint64_t nanoseconds);
};

// An I2C write at 100 kHz of Bytes to the device at Address, acknowledged by
// it, 40 ms into every 100 ms: data (SDA) on Err (pin 15), clock (SCL) on
// PaperOut (pin 12).
struct I2cTraffic {
    static constexpr std::uint8_t Address = 0x50;
    static constexpr std::string_view Bytes = "I2C";
    static constexpr std::uint64_t Every = 100'000'000;
    static constexpr std::uint64_t From = 40'000'000;
    static constexpr std::uint64_t HalfBit = 5'000;
    static std::uint8_t linesAt(std::uint64_t nanoseconds);
};
