#pragma once

#include "port_self_test.h"
#include "annotation_text.h"
#include "change_writer.h"
#include "decoder_setup.h"
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

// Which change of a line's level counts: to 1, to 0, or either.
enum class Edge : std::uint8_t { Rising = 1, Falling = 2, Both = 3 };

// An edge of a line; no line: of every line watched.
struct LineEdge {
    const RegisterModel::Line* line;
    Edge edge;
};

// What read prints on its own: a line's level, or a register's value.
struct ReadItem {
    const RegisterModel::Line* line; // nullptr: the register
    RegisterModel::Register reg;
};

struct RegisterValue {
    RegisterModel::Register reg;
    std::uint8_t value;
};

// Everything a command line asks for, read and checked before any port is
// touched: a refused command line writes nothing anywhere.
struct CliArguments {
    enum class Command { Help, Version, List, Read, Write, Set, Toggle, Pulse, Watch, Decoders, Test };
    using Format = RecordFormat;

    Command command = Command::Help;
    std::string helpTopic; // help: the command asked about, empty for the overview
    bool sim = false;
    bool noProbe = false;
    bool json = false;
    std::optional<std::uint16_t> port;

    std::vector<ReadItem> readItems;           // read; empty: the whole report
    bool names = false;                        // read: NAME=VALUE rather than the bare value
    std::vector<RegisterValue> registerValues; // write
    std::vector<LineLevel> lineLevels;         // set; pulse: its one line
    std::vector<const RegisterModel::Line*> toggledLines;

    // pulse
    std::chrono::nanoseconds pulseFor{0};
    long long repeat = 1;
    std::optional<std::chrono::nanoseconds> period; // start to start

    // watch
    std::chrono::milliseconds interval{0}; // 0: as fast as the port answers
    std::optional<std::chrono::nanoseconds> duration;
    std::optional<long long> count; // change records
    std::vector<const RegisterModel::Line*> watchedLines; // empty: every register bit
    Format format = Format::Text;
    std::string output; // empty: standard output
    bool vcdRegisters = false;
    std::vector<LineEdge> edges; // the changes that make records; none: every change
    std::vector<LineLevel> until;
    std::vector<LineEdge> untilEdges; // each with a line
    std::optional<std::chrono::nanoseconds> timeout;
    // watch --decode: stacks of decoders fed with the first port's changes,
    // whose annotations are written instead of records
    std::vector<DecoderStack> decoders;
    AnnotationChoice shownAnnotations;

    std::vector<const DecoderInfo*> listedDecoders; // decoders ID...; empty: all installed

    // test: the plug and the checks; the port's base and IRQ are filled in once it is chosen
    SelfTestPlan selfTest;
};

// The arguments after the program name; on bad usage or input, the one-line
// message that says what was wrong.
std::variant<CliArguments, std::string> ParseCliArguments(const std::vector<std::string>& arguments);

// An argument quoted for a one-line message, its control characters as \xHH.
std::string QuotedArgument(std::string_view text);

// The command's name as typed ("watch").
const char* CommandName(CliArguments::Command command);
