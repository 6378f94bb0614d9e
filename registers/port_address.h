#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A port address as the program shows it: upper-case hexadecimal with at least
// three digits ("378", "3BC", "E010").
inline std::string PortAddressText(std::uint16_t address)
{
    char text[8];
    std::snprintf(text, sizeof text, "%03X", static_cast<unsigned>(address));
    return text;
}
