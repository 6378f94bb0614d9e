#include "argument_reading.h"

#include "integer_text.h"

#include <QString>

#include <charconv>
#include <cstdio>
#include <optional>

namespace ArgumentReading {

using RegisterModel::Line;

[[noreturn]] void refuse(std::string text)
{
    throw Refusal{std::move(text)};
}

// The text with its control characters written as \xHH, so that a message
// that quotes an argument stays one line.
std::string printable(std::string_view text)
{
    std::string shown;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string quoted(std::string_view text)
{
    return "'" + printable(text) + "'";
}

namespace {

// "NAME=VALUE" split at its first '='.
std::pair<std::string_view, std::string_view> assignment(std::string_view text, const char* form)
{
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        refuse(quoted(text) + " is not of the form " + form);
    return {text.substr(0, equals), text.substr(equals + 1)};
}

std::optional<Edge> edgeNamed(std::string_view name)
{
    static constexpr std::pair<std::string_view, Edge> edges[] = {
        {"rising", Edge::Rising}, {"falling", Edge::Falling}, {"both", Edge::Both}};
    for (const auto& [text, edge] : edges)
        if (text == name)
            return edge;
    return std::nullopt;
}

}

// A port base as the port list shows it: hexadecimal, "378", "E010", or with 0x.
std::uint16_t portBase(const std::string& text)
{
    std::string_view digits = text;
    if (digits.starts_with("0x") || digits.starts_with("0X"))
        digits.remove_prefix(2);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value == 0 || value > 0xFFFF)
        refuse("--port takes a port base in hexadecimal, such as 378 or E010, not " + quoted(text));
    return static_cast<std::uint16_t>(value);
}

// A line by its name, in any case, or by its pin number ("2" is D0).
const Line& lineNamed(std::string_view name)
{
    if (const Line* line = RegisterModel::lineNamed(name))
        return *line;
    if (!name.empty() && name.size() <= 3 && name.find_first_not_of("0123456789") == std::string_view::npos) {
        const int pin = std::stoi(std::string(name));
        if (const Line* line = RegisterModel::lineOnPin(pin))
            return *line;
        if (pin >= 18 && pin <= 25)
            refuse("pin " + std::to_string(pin) + " is a ground pin; the lines are on pins 1 to 17");
        refuse("there is no pin " + std::to_string(pin) + ": the connector has pins 1 to 25, its lines 1 to 17");
    }
    std::string names;
    for (const Line& line : RegisterModel::Lines) {
        if (!names.empty())
            names += ' ';
        names += line.name;
    }
    refuse(quoted(name) + " is no line; the lines are " + names);
}

const Line& outputLineNamed(std::string_view name)
{
    const Line& line = lineNamed(name);
    if (!line.output)
        refuse(std::string(line.name) + " is an input line (pin " + std::to_string(line.pin) + "); it cannot be driven");
    return line;
}

// --until's LINE=LEVEL or LINE=EDGE.
void untilCondition(CliArguments& result, std::string_view text)
{
    const auto [name, condition] = assignment(text, "LINE=LEVEL or LINE=EDGE, such as Busy=0 or ACK=rising");
    const Line& line = lineNamed(name);
    if (condition == "0" || condition == "1")
        result.until.push_back({&line, condition == "1"});
    else if (const std::optional<Edge> edge = edgeNamed(condition))
        result.untilEdges.push_back({&line, *edge});
    else
        refuse(quoted(condition) + " is no level or edge for " + line.name + ": give 0, 1, rising, falling or both");
}

// --edge's EDGE (every line watched) or LINE=EDGE.
LineEdge lineEdge(std::string_view text)
{
    const std::size_t equals = text.find('=');
    const std::string_view edgeText = equals == std::string_view::npos ? text : text.substr(equals + 1);
    const Line* line = equals == std::string_view::npos ? nullptr : &lineNamed(text.substr(0, equals));
    const std::optional<Edge> edge = edgeNamed(edgeText);
    if (!edge)
        refuse("--edge takes rising, falling or both, for every line watched or as LINE=EDGE, not " + quoted(text));
    return {line, *edge};
}

// read's LINE or REGISTER.
ReadItem readItem(std::string_view name)
{
    for (std::size_t i = 0; i < RegisterModel::RegisterNames.size(); ++i)
        if (RegisterModel::sameNameIgnoringCase(RegisterModel::RegisterNames[i], name))
            return {nullptr, static_cast<RegisterModel::Register>(i)};
    const Line& line = lineNamed(name);
    return {&line, line.reg};
}

LineLevel lineLevel(std::string_view text, bool outputsOnly)
{
    const auto [name, level] = assignment(text, "LINE=LEVEL, such as D0=1");
    const Line& line = outputsOnly ? outputLineNamed(name) : lineNamed(name);
    if (level != "0" && level != "1")
        refuse(quoted(level) + " is no line level for " + line.name + ": give 0 or 1");
    return {&line, level == "1"};
}

RegisterValue registerValue(std::string_view text)
{
    const auto [name, valueText] = assignment(text, "REGISTER=VALUE, such as data=0x55");
    std::optional<RegisterModel::Register> reg;
    for (std::size_t i = 0; i < RegisterModel::RegisterNames.size(); ++i)
        if (RegisterModel::sameNameIgnoringCase(RegisterModel::RegisterNames[i], name))
            reg = static_cast<RegisterModel::Register>(i);
    if (!reg)
        refuse(quoted(name) + " is no register; the registers are data, status and control");
    if (*reg == RegisterModel::Status)
        refuse("status is the port's input register; it cannot be written");
    const std::optional<std::int32_t> value = ParseInteger(QString::fromUtf8(valueText.data(), valueText.size()), true);
    if (!value)
        refuse(InvalidIntegerText(QString::fromStdString(printable(valueText))).toStdString());
    if (*value < 0 || *value > 255)
        refuse(quoted(valueText) + " does not fit a register: its values are 0 to 255");
    return {*reg, static_cast<std::uint8_t>(*value)};
}

}
