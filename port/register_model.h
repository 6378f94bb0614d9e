#pragma once

#include <array>
#include <cstdint>

// Which bit of which parallel-port register reaches which connector pin, and
// the four lines the port hardware inverts. Read by the register grid, the
// connector, the bit-setting window and the simulated port alike.
namespace RegisterModel {

enum Register : std::uint8_t { Data = 0, Status = 1, Control = 2 };

struct Line {
    Register reg;
    int bit;
    int pin;
    bool output;
    bool inverted; // the line level is the complement of the register bit
    constexpr std::uint8_t mask() const { return static_cast<std::uint8_t>(1u << bit); }
};

inline constexpr std::array<Line, 17> Lines = {{
    {Data, 0, 2, true, false}, {Data, 1, 3, true, false}, {Data, 2, 4, true, false},
    {Data, 3, 5, true, false}, {Data, 4, 6, true, false}, {Data, 5, 7, true, false},
    {Data, 6, 8, true, false}, {Data, 7, 9, true, false},
    {Status, 3, 15, false, false}, {Status, 4, 13, false, false}, {Status, 5, 12, false, false},
    {Status, 6, 10, false, false}, {Status, 7, 11, false, true},
    {Control, 0, 1, true, true}, {Control, 1, 14, true, true}, {Control, 2, 16, true, false},
    {Control, 3, 17, true, true},
}};

// The line of a register bit, or nullptr when the bit reaches no pin.
constexpr const Line* lineOf(Register reg, int bit)
{
    for (const Line& line : Lines)
        if (line.reg == reg && line.bit == bit)
            return &line;
    return nullptr;
}

constexpr std::uint8_t maskOf(Register reg, bool Line::*property)
{
    std::uint8_t mask = 0;
    for (const Line& line : Lines)
        if (line.reg == reg && (property == nullptr || line.*property))
            mask |= line.mask();
    return mask;
}

// Bit b set: register bit b reaches a connector pin.
constexpr std::uint8_t wiredMask(Register reg) { return maskOf(reg, nullptr); }
// Bit b set: the pin level is the inverse of register bit b.
constexpr std::uint8_t invertMask(Register reg) { return maskOf(reg, &Line::inverted); }

// Line levels from a register value, and the register value from line levels.
constexpr std::uint8_t levelsFromRegister(Register reg, std::uint8_t value) { return value ^ invertMask(reg); }
constexpr std::uint8_t registerFromLevels(Register reg, std::uint8_t levels) { return levels ^ invertMask(reg); }

static_assert(wiredMask(Data) == 0xFF && wiredMask(Status) == 0xF8 && wiredMask(Control) == 0x0F);
static_assert(invertMask(Data) == 0x00 && invertMask(Status) == 0x80 && invertMask(Control) == 0x0B);

} // namespace RegisterModel
