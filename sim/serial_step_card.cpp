#include "serial_step_card.h"

#include "bus_traffic.h"

std::uint8_t SerialStepCard::statusLines(std::uint8_t, std::uint8_t)
{
    return linesAt(m_clock());
}

std::uint8_t SerialStepCard::linesAt(std::uint64_t nanoseconds)
{
    constexpr std::uint8_t SlctOut = 0x10, Ack = 0x40, Busy = 0x80;
    std::uint8_t lines = I2cTraffic::linesAt(nanoseconds); // Err and PaperOut

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
