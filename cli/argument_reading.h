#pragma once

#include "cli_arguments.h"

#include <cstdint>
#include <string>
#include <string_view>

// The reading of the values that command lines name — ports, lines, levels,
// edges, registers — and the refusal a bad one gets. For the argument parser
// alone: a refusal is thrown, and ParseCliArguments catches it.
namespace ArgumentReading {

// The reason an argument is refused.
struct Refusal {
    std::string text;
};

[[noreturn]] void refuse(std::string text);
// The text with its control characters written as \xHH, so that a message
// that quotes an argument stays one line.
std::string printable(std::string_view text);
// The text in single quotes, printable.
std::string quoted(std::string_view text);

// A port base as the port list shows it: hexadecimal, "378", "E010", or with 0x.
std::uint16_t portBase(const std::string& text);
// A line by its name, in any case, or by its pin number ("2" is D0).
const RegisterModel::Line& lineNamed(std::string_view name);
const RegisterModel::Line& outputLineNamed(std::string_view name);
// --until's LINE=LEVEL or LINE=EDGE.
void untilCondition(CliArguments& result, std::string_view text);
// --edge's EDGE (every line watched) or LINE=EDGE.
LineEdge lineEdge(std::string_view text);
// read's LINE or REGISTER.
ReadItem readItem(std::string_view name);
LineLevel lineLevel(std::string_view text, bool outputsOnly);
RegisterValue registerValue(std::string_view text);

}
