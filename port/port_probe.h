#pragma once

#include <array>
#include <cstdint>

class PortChannel;

// The standard parallel-port bases, in probe order.
inline constexpr std::array<std::uint16_t, 3> StandardBases = {0x3BC, 0x378, 0x278};

// The n-th (1, 2 or 3) standard base whose data register answers: a byte
// written as the complement of what it held reads back changed. The data lines
// are restored after each try. 0 when fewer than n bases answer.
std::uint16_t DetectPort(PortChannel& channel, int n);
