#pragma once

#include "color_ref.h"

#include <array>

// The 18 named colours of the colour drop-down, in list order. Names keep their
// trailing blanks; two values occur twice (Silber/Hellgrau, Grau/Dunkelgra).
struct NamedColor {
    const char* name; // UTF-8
    ColorRef value;
};

inline constexpr std::array<NamedColor, 18> ColorTable = {{
    {"Schwa", 0x000000},     {"Braun ", 0x000080},  {"Grün ", 0x008000},    {"Olive", 0x008080},
    {"Köni", 0x800000},      {"Purpur", 0x800080},  {"Teak", 0x808000},     {"Grau", 0x808080},
    {"Silber", 0xC0C0C0},    {"Rot", 0x0000FF},     {"Lind", 0x00FF00},     {"Gelb  ", 0x00FFFF},
    {"Blau", 0xFF0000},      {"Fuchsia", 0xFF00FF}, {"Türk", 0xFFFF00},     {"Hellgrau  ", 0xC0C0C0},
    {"Dunkelgra", 0x808080}, {"Weiß ", 0xFFFFFF},
}};

// The first entry with the value, or -1 when the value is not in the table.
constexpr int colorTableIndex(ColorRef value)
{
    for (int i = 0; i < static_cast<int>(ColorTable.size()); ++i)
        if (ColorTable[i].value == value)
            return i;
    return -1;
}
