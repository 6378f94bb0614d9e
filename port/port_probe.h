#pragma once

#include <array>
#include <cstdint>
#include <vector>

class PortChannel;

// The standard parallel-port bases, in probe order.
inline constexpr std::array<std::uint16_t, 3> StandardBases = {0x3BC, 0x378, 0x278};

// Grants the four ports of a base: the sampling step reads four bytes at once.
void GrantPortsOf(PortChannel& channel, std::uint16_t base);
// Grants the four ports of each standard base (0x378, 0x278, 0x3BC, in this order).
void GrantStandardPorts(PortChannel& channel);

// Whether a port's data register answers: a byte written as the complement of
// what it held reads back changed. The data lines are restored after the try.
bool AnswersProbe(PortChannel& channel, std::uint16_t base);
// The n-th (1, 2 or 3) standard base that answers the probe; 0 when fewer than n do.
// Bases in listedBases, ports the kernel lists, count as answering untried.
std::uint16_t DetectPort(PortChannel& channel, int n, const std::vector<std::uint16_t>& listedBases = {});

// Whether a four-byte read at a found port's base returns its registers. Some
// add-in cards and emulators answer 0xFFFFFFFF instead of splitting the read
// into four byte cycles; the check compares it with byte reads of the data and
// control registers, which do not change by themselves.
bool DwordReadsRegisters(PortChannel& channel, std::uint16_t base);

// A port of the port list, and how its registers are sampled.
struct FoundPort {
    std::uint16_t base;
    bool byteReads; // four-byte reads do not return its registers
};

// A port found at the base, its four-byte reads checked.
FoundPort CheckedPort(PortChannel& channel, std::uint16_t base);

// The port list: with the probe, the standard bases that answer it (DetectPort
// 1, 2 and 3; those in listedBases untried), then the given bases of the
// kernel's other ports, in their order. Each port's four-byte reads are checked once.
std::vector<FoundPort> FindPorts(PortChannel& channel, const std::vector<std::uint16_t>& otherBases, bool probe = true,
                                 const std::vector<std::uint16_t>& listedBases = {});
