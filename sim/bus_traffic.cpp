#include "bus_traffic.h"

namespace {
constexpr std::uint8_t Err = 0x08, SlctOut = 0x10, PaperOut = 0x20, Busy = 0x80;
}

std::uint8_t SpiTraffic::linesAt(std::uint64_t nanoseconds)
{
    const std::uint64_t in = nanoseconds % Every;
    const std::uint64_t bits = 8 * Bytes.size();
    // Chip select falls half a bit before the first clock and rises half a bit after the last.
    if (in < From || in >= From + (2 * bits + 2) * HalfBit)
        return Busy | SlctOut | PaperOut;
    const std::uint64_t half = (in - From) / HalfBit; // 0: select, then two halves a bit
    if (half == 0 || half > 2 * bits)
        return Busy | PaperOut; // selected, clock idle high, data high
    const std::uint64_t bit = (half - 1) / 2;
    const bool low = (half - 1) % 2 == 0; // the bit's first half: clock low, data set
    const auto byte = static_cast<unsigned char>(Bytes[bit / 8]);
    const bool data = (byte >> (7 - bit % 8)) & 1u;
    return static_cast<std::uint8_t>((data ? Busy : 0) | (low ? 0 : PaperOut));
}

std::uint8_t I2cTraffic::linesAt(std::uint64_t nanoseconds)
{
    const std::uint64_t in = nanoseconds % Every;
    // A start, then nine bits a byte (the ninth the device's acknowledge), then a stop;
    // each bit is a low half of the clock (data set in it) and a high half.
    const std::uint64_t bytes = 1 + Bytes.size();
    const std::uint64_t halves = 1 + 2 * 9 * bytes + 2;
    if (in < From || in >= From + halves * HalfBit)
        return Err | PaperOut;
    const std::uint64_t half = (in - From) / HalfBit;
    if (half == 0)
        return PaperOut; // start: data falls while the clock is high
    if (half >= halves - 2)
        return half == halves - 2 ? 0 : PaperOut; // stop: data low under a low clock, then the clock rises first
    const std::uint64_t bit = (half - 1) / 2;
    const bool clockHigh = (half - 1) % 2 == 1;
    bool data = false; // the acknowledge pulls data low
    if (bit % 9 < 8) {
        const std::uint64_t byte = bit / 9;
        const unsigned value = byte == 0 ? Address << 1 : static_cast<unsigned char>(Bytes[byte - 1]);
        data = (value >> (7 - bit % 9)) & 1u;
    }
    return static_cast<std::uint8_t>((data ? Err : 0) | (clockHigh ? PaperOut : 0));
}
