#pragma once

#include "change_writer.h"
#include "register_model.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// A line and a level on its pin (not the register bit: the model handles the
// inverted lines).
struct LineLevel {
    const RegisterModel::Line* line;
    bool level;
};

struct RegisterValue {
    RegisterModel::Register reg;
    std::uint8_t value;
};

// Everything a command line asks for, read and checked before any port is
// touched: a refused command line writes nothing anywhere.
struct CliArguments {
    enum class Command { Help, Version, List, Read, Write, Set, Toggle, Watch };
    using Format = RecordFormat;

    Command command = Command::Help;
    std::string helpTopic; // help: the command asked about, empty for the overview
    bool sim = false;
    bool noProbe = false;
    bool json = false;
    std::optional<std::uint16_t> port;

    std::vector<RegisterValue> registerValues; // write
    std::vector<LineLevel> lineLevels;         // set
    std::vector<const RegisterModel::Line*> toggledLines;

    // watch
    std::chrono::milliseconds interval{0}; // 0: as fast as the port answers
    std::optional<std::chrono::nanoseconds> duration;
    std::optional<long long> count; // change records
    std::vector<const RegisterModel::Line*> watchedLines; // empty: every register bit
    Format format = Format::Text;
    std::string output; // empty: standard output
    bool vcdRegisters = false;
    std::vector<LineLevel> until;
    std::optional<std::chrono::nanoseconds> timeout;
};

// The arguments after the program name; on bad usage or input, the one-line
// message that says what was wrong.
std::variant<CliArguments, std::string> ParseCliArguments(const std::vector<std::string>& arguments);

// An argument quoted for a one-line message, its control characters as \xHH.
std::string QuotedArgument(std::string_view text);

// The command's name as typed ("watch").
const char* CommandName(CliArguments::Command command);
