#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// Which bit of which parallel-port register reaches which connector pin, and
// the four lines the port hardware inverts. Read by the register grid, the
// connector, the bit-setting window and the simulated port alike.
namespace RegisterModel {

enum Register : std::uint8_t { Data = 0, Status = 1, Control = 2 };

// "data", "status", "control": the registers as the command line names them.
inline constexpr std::array<std::string_view, 3> RegisterNames = {"data", "status", "control"};

struct Line {
    const char* name; // the line's name on the connector
    Register reg;
    int bit;
    int pin;
    bool output;
    bool inverted; // the line level is the complement of the register bit
    constexpr std::uint8_t mask() const { return static_cast<std::uint8_t>(1u << bit); }
};

inline constexpr std::array<Line, 17> Lines = {{
    {"D0", Data, 0, 2, true, false}, {"D1", Data, 1, 3, true, false}, {"D2", Data, 2, 4, true, false},
    {"D3", Data, 3, 5, true, false}, {"D4", Data, 4, 6, true, false}, {"D5", Data, 5, 7, true, false},
    {"D6", Data, 6, 8, true, false}, {"D7", Data, 7, 9, true, false},
    {"Err", Status, 3, 15, false, false}, {"SlctOut", Status, 4, 13, false, false},
    {"PaperOut", Status, 5, 12, false, false}, {"ACK", Status, 6, 10, false, false},
    {"Busy", Status, 7, 11, false, true},
    {"STB", Control, 0, 1, true, true}, {"AFD", Control, 1, 14, true, true}, {"Init", Control, 2, 16, true, false},
    {"SlctIn", Control, 3, 17, true, true},
}};

constexpr bool sameNameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// The place in Lines of the line of that name, in any case ("d0", "Busy"), or -1.
constexpr int lineIndex(std::string_view name)
{
    for (std::size_t i = 0; i < Lines.size(); ++i)
        if (sameNameIgnoringCase(Lines[i].name, name))
            return static_cast<int>(i);
    return -1;
}

// The line of that name, in any case, or nullptr.
inline const Line* lineNamed(std::string_view name)
{
    const int index = lineIndex(name);
    return index < 0 ? nullptr : &Lines[static_cast<std::size_t>(index)];
}

// The line on a connector pin (1-17), or nullptr: pins 18-25 are ground.
constexpr const Line* lineOnPin(int pin)
{
    for (const Line& line : Lines)
        if (line.pin == pin)
            return &line;
    return nullptr;
}

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

// The three registers packed in one number, as a four-byte read at the base
// gives them: data in bits 0-7, status in 8-15, control in 16-23.
// One register's byte there, a line's bit there, and the level on its pin.
constexpr std::uint8_t registerByte(std::uint32_t registers, int reg)
{
    return static_cast<std::uint8_t>(registers >> (8 * reg));
}
constexpr std::uint32_t packedBit(const Line& line)
{
    return 1u << (8 * line.reg + line.bit);
}
constexpr bool lineLevel(const Line& line, std::uint32_t registers)
{
    return ((registers & packedBit(line)) != 0) != line.inverted;
}

// Line levels from a register value, and the register value from line levels.
constexpr std::uint8_t levelsFromRegister(Register reg, std::uint8_t value) { return value ^ invertMask(reg); }
constexpr std::uint8_t registerFromLevels(Register reg, std::uint8_t levels) { return levels ^ invertMask(reg); }

// The packed register bits whose line level is the complement of the bit.
constexpr std::uint32_t packedInvertMask()
{
    return invertMask(Data) | std::uint32_t{invertMask(Status)} << 8 | std::uint32_t{invertMask(Control)} << 16;
}

// The packed bits whose line level rose, and those whose level fell, from one reading to the next.
constexpr std::uint32_t roseLevels(std::uint32_t before, std::uint32_t now)
{
    return ~(before ^ packedInvertMask()) & (now ^ packedInvertMask());
}
constexpr std::uint32_t fellLevels(std::uint32_t before, std::uint32_t now)
{
    return (before ^ packedInvertMask()) & ~(now ^ packedInvertMask());
}
// Whether ACK rose: what the port raises its interrupt on.
inline constexpr std::uint32_t AckPackedBit = packedBit(Lines[lineIndex("ACK")]);
constexpr bool ackRose(std::uint32_t before, std::uint32_t now)
{
    return (roseLevels(before, now) & AckPackedBit) != 0;
}

static_assert(wiredMask(Data) == 0xFF && wiredMask(Status) == 0xF8 && wiredMask(Control) == 0x0F);
static_assert(invertMask(Data) == 0x00 && invertMask(Status) == 0x80 && invertMask(Control) == 0x0B);

} // namespace RegisterModel
