#pragma once

#include "register_model.h"

#include <array>
#include <cstddef>
#include <string_view>

// One pin of the 25-pin connector in the "Buchse" layout: where it stands in
// the connector panel, its hint and, for the output pins, the tag that names
// the bit it drives (register offset in the upper 16 bits, mask in the lower 8).
struct ConnectorPin {
    const char* name;
    int x;
    int y;
    const char* hint;
    int tag; // 0: not clickable
};

inline constexpr std::array<ConnectorPin, 25> ConnectorPins = {{
    {"SlctOut", 4, 4, "Pin 13 S4 Input", 0},
    {"PaperOut", 16, 4, "Pin 12 S5 Input", 0},
    {"Busy", 28, 4, "Pin 11 \\S7 Input", 0},
    {"ACK", 40, 4, "Pin 10 S6 Input", 0},
    {"D7", 52, 4, "Pin 9 D7 Output", 0x80},
    {"D6", 64, 4, "Pin 8 D6 Output", 0x40},
    {"D5", 76, 4, "Pin 7 D5 Output", 0x20},
    {"D4", 88, 4, "Pin 6 D4 Output", 0x10},
    {"D3", 100, 4, "Pin 5 D3 Output", 0x08},
    {"D2", 112, 4, "Pin 4 D2 Output", 0x04},
    {"D1", 124, 4, "Pin 3 D1 Output", 0x02},
    {"D0", 136, 4, "Pin 2 D0 Output", 0x01},
    {"STB", 148, 4, "Pin 1 /C0 Output", 0x20001},
    {"Gnd1", 12, 16, "Pin 25 Gnd", 0},
    {"Gnd2", 24, 16, "Pin 24 Gnd", 0},
    {"Gnd3", 36, 16, "Pin 23 Gnd", 0},
    {"Gnd4", 48, 16, "Pin 22 Gnd", 0},
    {"Gnd5", 60, 16, "Pin 21 Gnd", 0},
    {"Gnd6", 72, 16, "Pin 20 Gnd", 0},
    {"Gnd7", 84, 16, "Pin 19 Gnd", 0},
    {"Gnd8", 96, 16, "Pin 18 Gnd", 0},
    {"SlctIn", 108, 16, "Pin 17 \\C3 Output", 0x20008},
    {"Init", 120, 16, "Pin 16 C2 Output", 0x20004},
    {"Err", 132, 16, "Pin 15 S3 Input", 0},
    {"AFD", 144, 16, "Pin 14 \\C1 Output", 0x20002},
}};

// The pairs that change places between "Buchse" and its mirror image "Stec".
inline constexpr std::array<std::array<const char*, 2>, 12> MirroredPinPairs = {{
    {"SlctOut", "STB"}, {"PaperOut", "D0"}, {"Busy", "D1"}, {"ACK", "D2"}, {"D7", "D3"}, {"D6", "D4"},
    {"Gnd1", "AFD"}, {"Gnd2", "Err"}, {"Gnd3", "Init"}, {"Gnd4", "SlctIn"}, {"Gnd5", "Gnd8"}, {"Gnd6", "Gnd7"},
}};

constexpr bool isGround(const ConnectorPin& pin)
{
    return pin.name[0] == 'G';
}

// The place of a pin in ConnectorPins; used in constant expressions.
constexpr std::size_t pinIndex(std::string_view name)
{
    for (std::size_t i = 0; i < ConnectorPins.size(); ++i)
        if (name == ConnectorPins[i].name)
            return i;
    return ConnectorPins.size();
}

// Every signal pin is a line of the register model, by name, and a clickable
// pin's tag names that line's register and bit.
constexpr bool pinsMatchRegisterModel()
{
    for (const ConnectorPin& pin : ConnectorPins) {
        if (isGround(pin))
            continue;
        const int index = RegisterModel::lineIndex(pin.name);
        if (index < 0)
            return false;
        const RegisterModel::Line& line = RegisterModel::Lines[static_cast<std::size_t>(index)];
        if ((pin.tag != 0) != line.output || (pin.tag != 0 && pin.tag != ((line.reg << 16) | line.mask())))
            return false;
    }
    return true;
}
static_assert(pinsMatchRegisterModel());
