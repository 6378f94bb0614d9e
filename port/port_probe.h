#pragma once

#include <array>
#include <cstdint>

class PortChannel;

// The standard parallel-port bases, in probe order.
inline constexpr std::array<std::uint16_t, 3> StandardBases = {0x3BC, 0x378, 0x278};

// Grants the four ports of each standard base (0x378, 0x278, 0x3BC, in this
// order): the sampling step reads four bytes at a base at once.
void GrantStandardPorts(PortChannel& channel);

// The n-th (1, 2 or 3) standard base whose data register answers: a byte
// written as the complement of what it held reads back changed. The data lines
// are restored after each try. 0 when fewer than n bases answer.
std::uint16_t DetectPort(PortChannel& channel, int n);

// Whether a four-byte read at a found port's base returns its registers. Some
// add-in cards and emulators answer 0xFFFFFFFF instead of splitting the read
// into four byte cycles; the check compares it with byte reads of the data and
// control registers, which do not change by themselves.
bool DwordReadsRegisters(PortChannel& channel, std::uint16_t base);

// The data, status and control registers in bytes 0, 1 and 2: one four-byte
// read at the base, or three byte reads where four-byte reads do not work.
std::uint32_t ReadRegisters(PortChannel& channel, std::uint16_t base, bool byteReads);
