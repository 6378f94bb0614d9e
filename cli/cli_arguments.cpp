#include "cli_arguments.h"

#include "argument_reading.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>
#include <string_view>

namespace {

using namespace ArgumentReading;
using Command = CliArguments::Command;
using RegisterModel::Line;

constexpr unsigned bit(Command command)
{
    return 1u << static_cast<unsigned>(command);
}

constexpr unsigned PortCommands = bit(Command::Read) | bit(Command::Write) | bit(Command::Set) |
                                  bit(Command::Toggle) | bit(Command::Pulse) | bit(Command::Watch) | bit(Command::Test);
constexpr unsigned AnyCommand = ~0u;

struct OptionInfo {
    std::string_view name;
    std::string_view shortName;
    bool takesValue;
    unsigned commands; // where the option belongs
};

constexpr OptionInfo Options[] = {
    {"--help", "-h", false, AnyCommand},
    {"--version", "", false, AnyCommand},
    {"--sim", "", false, AnyCommand},
    {"--no-probe", "", false, AnyCommand},
    {"--port", "-p", true, PortCommands},
    {"--json", "", false, bit(Command::List) | bit(Command::Read) | bit(Command::Write) | bit(Command::Set) |
                          bit(Command::Toggle) | bit(Command::Pulse) | bit(Command::Decoders) | bit(Command::Test)},
    {"--names", "", false, bit(Command::Read)},
    {"--for", "", true, bit(Command::Pulse)},
    {"--repeat", "", true, bit(Command::Pulse)},
    {"--period", "", true, bit(Command::Pulse)},
    {"--interval", "", true, bit(Command::Watch)},
    {"--duration", "", true, bit(Command::Watch)},
    {"--count", "-n", true, bit(Command::Watch)},
    {"--lines", "-l", true, bit(Command::Watch)},
    {"--edge", "", true, bit(Command::Watch)},
    {"--format", "-f", true, bit(Command::Watch)},
    {"--output", "-o", true, bit(Command::Watch)},
    {"--vcd-registers", "", false, bit(Command::Watch)},
    {"--until", "", true, bit(Command::Watch)},
    {"--timeout", "-t", true, bit(Command::Watch)},
    {"--decode", "-P", true, bit(Command::Watch)},
    {"--annotations", "-A", true, bit(Command::Watch)},
    {"--plug", "", true, bit(Command::Test)},
    {"--input-mode", "", false, bit(Command::Test)},
    {"--irq", "", false, bit(Command::Test)},
};

// Options that may be given more than once, each adding a condition.
bool repeatable(const OptionInfo& option)
{
    return option.name == "--until" || option.name == "--edge" || option.name == "--decode";
}

constexpr std::pair<std::string_view, Command> CommandNames[] = {
    {"list", Command::List},   {"read", Command::Read},   {"write", Command::Write}, {"set", Command::Set},
    {"toggle", Command::Toggle}, {"pulse", Command::Pulse}, {"watch", Command::Watch},  {"help", Command::Help},
    {"version", Command::Version}, {"decoders", Command::Decoders}, {"test", Command::Test},
};

struct GivenOption {
    const OptionInfo* option;
    std::string value;
};

}

std::string QuotedArgument(std::string_view text)
{
    return quoted(text);
}

namespace {

// The commands, as a refusal names them: "list, read, ..., pulse or watch".
std::string commandChoice(std::string_view lastJoin)
{
    std::vector<std::string_view> names;
    for (const auto& [text, command] : CommandNames)
        if (command != Command::Help && command != Command::Version)
            names.push_back(text);
    std::string choice;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            choice += i + 1 == names.size() ? lastJoin : ", ";
        choice += names[i];
    }
    return choice;
}

std::optional<Command> commandNamed(std::string_view name)
{
    for (const auto& [text, command] : CommandNames)
        if (text == name)
            return command;
    return std::nullopt;
}

const OptionInfo* optionNamed(std::string_view name)
{
    for (const OptionInfo& option : Options)
        if (option.name == name || (!option.shortName.empty() && option.shortName == name))
            return &option;
    return nullptr;
}

long long wholeNumber(const GivenOption& given, long long least, long long most)
{
    long long value = 0;
    const std::string& text = given.value;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < least || value > most)
        refuse(std::string(given.option->name) + " takes a whole number from " + std::to_string(least) + " to " +
               std::to_string(most) + ", not " + quoted(text));
    return value;
}

std::chrono::nanoseconds seconds(const GivenOption& given)
{
    double value = 0;
    const std::string& text = given.value;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value <= 0 || value > 1e7)
        refuse(std::string(given.option->name) + " takes seconds, a number above 0 such as 2 or 0.5, not " + quoted(text));
    return std::chrono::nanoseconds(static_cast<long long>(std::llround(value * 1e9)));
}

// A time for pulse: a number and a unit, ns, us, ms or s (seconds without one),
// such as 5us or 1.5ms; 0 where zero is allowed.
std::chrono::nanoseconds span(const GivenOption& given, bool zeroAllowed)
{
    static constexpr std::pair<std::string_view, double> units[] = {{"ns", 1}, {"us", 1e3}, {"ms", 1e6}, {"s", 1e9}};
    std::string_view text = given.value;
    double scale = 1e9;
    for (const auto& [unit, nanoseconds] : units)
        if (text.ends_with(unit)) {
            text.remove_suffix(unit.size());
            scale = nanoseconds;
            break;
        }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    const double total = value * scale;
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(total) ||
        total < 0 || (total == 0 && !zeroAllowed) || total > 1e16)
        refuse(std::string(given.option->name) + " takes a time such as 5us, 1.5ms or 2s (ns, us, ms, s; seconds " +
               "without a unit)" + (zeroAllowed ? ", or 0" : "") + ", not " + quoted(given.value));
    return std::chrono::nanoseconds(static_cast<long long>(std::llround(total)));
}

// Refuses a register or line named twice; name gives an item's name.
template <typename Item, typename Name>
void refuseRepeats(const std::vector<Item>& items, Name name)
{
    std::set<std::string_view> seen;
    for (const Item& item : items)
        if (!seen.insert(name(item)).second)
            refuse(std::string(name(item)) + " is given twice");
}

void takeOperands(CliArguments& result, const std::vector<std::string>& operands)
{
    const char* name = CommandName(result.command);
    switch (result.command) {
    case Command::Write:
    case Command::Set:
    case Command::Toggle:
        if (operands.empty())
            refuse(std::string(name) + " needs at least one " +
                   (result.command == Command::Write ? "REGISTER=VALUE" : result.command == Command::Set ? "LINE=LEVEL" : "LINE"));
        break;
    case Command::Pulse:
        if (operands.size() != 1)
            refuse("pulse takes one LINE=LEVEL, such as STB=0");
        break;
    case Command::Read:
        for (const std::string& operand : operands)
            result.readItems.push_back(readItem(operand));
        return;
    case Command::Decoders:
        for (const std::string& operand : operands) {
            const DecoderInfo* decoder = DecoderLibrary::instance().decoder(operand);
            if (!decoder)
                refuse(DecoderLibrary::instance().failure().empty()
                           ? "no decoder " + quoted(operand) + " is installed (velkaro-cli decoders lists them)"
                           : DecoderLibrary::instance().failure());
            result.listedDecoders.push_back(decoder);
        }
        return;
    default:
        if (!operands.empty())
            refuse(std::string(name) + " takes no argument such as " + quoted(operands.front()));
        return;
    }
    for (const std::string& operand : operands) {
        if (result.command == Command::Write)
            result.registerValues.push_back(registerValue(operand));
        else if (result.command == Command::Set || result.command == Command::Pulse)
            result.lineLevels.push_back(lineLevel(operand, true));
        else
            result.toggledLines.push_back(&outputLineNamed(operand));
    }
    refuseRepeats(result.registerValues, [](const RegisterValue& value) { return RegisterModel::RegisterNames[value.reg]; });
    refuseRepeats(result.lineLevels, [](const LineLevel& level) { return std::string_view(level.line->name); });
    refuseRepeats(result.toggledLines, [](const Line* line) { return std::string_view(line->name); });
}

DecoderStack decoderStack(std::string_view text)
{
    std::variant<DecoderStack, std::string> stack = ReadDecoderStack(text, DecoderLibrary::instance());
    if (const auto* fault = std::get_if<std::string>(&stack))
        refuse("--decode " + quoted(text) + ": " + printable(*fault)); // the fault may quote the text
    return std::get<DecoderStack>(std::move(stack));
}

void choosePlug(CliArguments& result, const std::string& value)
{
    SelfTestPlan& plan = result.selfTest;
    plan.plug = PlugNamed(value);
    if (plan.plug)
        plan.plugChoice = SelfTestPlan::PlugChoice::Given;
    else if (value == "none")
        plan.plugChoice = SelfTestPlan::PlugChoice::None;
    else
        refuse(quoted(value) + " is no plug: five-wire, control or none (without --plug the test finds which)");
}

void takeOption(CliArguments& result, const GivenOption& given)
{
    const std::string_view name = given.option->name;
    const std::string& value = given.value;
    if (name == "--sim")
        result.sim = true;
    else if (name == "--no-probe")
        result.noProbe = true;
    else if (name == "--json")
        result.json = true;
    else if (name == "--names")
        result.names = true;
    else if (name == "--for")
        result.pulseFor = span(given, true);
    else if (name == "--period")
        result.period = span(given, false);
    else if (name == "--repeat")
        result.repeat = wholeNumber(given, 1, 1000000); // each pulse's times are kept for the report
    else if (name == "--edge")
        result.edges.push_back(lineEdge(value));
    else if (name == "--port")
        result.port = portBase(value);
    else if (name == "--interval")
        result.interval = std::chrono::milliseconds(wholeNumber(given, 1, 3600000));
    else if (name == "--duration")
        result.duration = seconds(given);
    else if (name == "--timeout")
        result.timeout = seconds(given);
    else if (name == "--count")
        result.count = wholeNumber(given, 1, 1000000000000000LL);
    else if (name == "--output")
        result.output = value == "-" ? std::string() : value;
    else if (name == "--vcd-registers")
        result.vcdRegisters = true;
    else if (name == "--until")
        untilCondition(result, value);
    else if (name == "--decode")
        result.decoders.push_back(decoderStack(value));
    else if (name == "--plug")
        choosePlug(result, value);
    else if (name == "--input-mode")
        result.selfTest.inputMode = true;
    else if (name == "--irq")
        result.selfTest.interrupt = true;
    else if (name == "--format") {
        static constexpr std::pair<std::string_view, CliArguments::Format> formats[] = {
            {"text", CliArguments::Format::Text}, {"csv", CliArguments::Format::Csv},
            {"jsonl", CliArguments::Format::Jsonl}, {"vcd", CliArguments::Format::Vcd}};
        bool known = false;
        for (const auto& [text, format] : formats)
            if (text == value) {
                result.format = format;
                known = true;
            }
        if (!known)
            refuse("--format takes text, csv, jsonl or vcd, not " + quoted(value));
    } else if (name == "--lines") {
        std::string_view rest = value;
        while (true) {
            const std::size_t comma = rest.find(',');
            result.watchedLines.push_back(&lineNamed(rest.substr(0, comma)));
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
        refuseRepeats(result.watchedLines, [](const Line* line) { return std::string_view(line->name); });
    }
}

// --annotations, once the stacks are known; the top decoders' where it is not given.
void takeAnnotationChoice(CliArguments& result, const std::vector<GivenOption>& options)
{
    if (result.decoders.empty()) {
        for (const GivenOption& given : options)
            if (given.option->name == "--annotations")
                refuse("--annotations chooses among the annotations of --decode: give a decoder with it");
        return;
    }
    if (result.format != CliArguments::Format::Text && result.format != CliArguments::Format::Jsonl)
        refuse("--decode writes annotations as text or jsonl, not as records in another format");
    result.shownAnnotations = TopDecodersChoice(result.decoders);
    for (const GivenOption& given : options) {
        if (given.option->name != "--annotations")
            continue;
        std::variant<AnnotationChoice, std::string> choice = ReadAnnotationChoice(given.value, result.decoders);
        if (const auto* fault = std::get_if<std::string>(&choice))
            refuse(*fault);
        result.shownAnnotations = std::get<AnnotationChoice>(std::move(choice));
    }
}

CliArguments parse(const std::vector<std::string>& arguments)
{
    std::optional<Command> command;
    std::vector<GivenOption> options;
    std::vector<std::string> operands;
    bool onlyOperands = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!onlyOperands && argument == "--") {
            onlyOperands = true;
        } else if (!onlyOperands && argument.size() > 1 && argument[0] == '-') {
            const bool longForm = argument.starts_with("--");
            const std::size_t equals = longForm ? argument.find('=') : std::string::npos;
            std::string name = argument.substr(0, equals);
            const OptionInfo* option = optionNamed(name);
            // A short option's value may follow it at once: -p278.
            std::optional<std::string> attached;
            if (!option && !longForm && argument.size() > 2) {
                const OptionInfo* shortOption = optionNamed(argument.substr(0, 2));
                if (shortOption && shortOption->takesValue) {
                    option = shortOption;
                    attached = argument.substr(2);
                }
            }
            if (!option)
                refuse("unknown option " + quoted(name) + " (velkaro-cli --help lists the options)");
            GivenOption given{option, {}};
            if (attached) {
                given.value = *attached;
            } else if (equals != std::string::npos) {
                if (!option->takesValue)
                    refuse(std::string(option->name) + " takes no value");
                given.value = argument.substr(equals + 1);
            } else if (option->takesValue) {
                if (i + 1 == arguments.size())
                    refuse(std::string(option->name) + " needs a value");
                given.value = arguments[++i];
            }
            for (const GivenOption& earlier : options)
                if (earlier.option == option && !repeatable(*option))
                    refuse(std::string(option->name) + " is given twice");
            options.push_back(given);
        } else if (!command) {
            command = commandNamed(argument);
            if (!command)
                refuse("unknown command " + quoted(argument) + "; the commands are " + commandChoice(" and "));
        } else {
            operands.push_back(argument);
        }
    }

    CliArguments result;
    for (const GivenOption& given : options) {
        if (given.option->name == "--help") {
            result.command = Command::Help;
            result.helpTopic = command && *command != Command::Help ? CommandName(*command) : "";
            return result;
        }
        if (given.option->name == "--version") {
            result.command = Command::Version;
            return result;
        }
    }
    if (!command)
        refuse("a command is missing: " + commandChoice(" or ") + " (velkaro-cli --help tells more)");
    result.command = *command;
    if (result.command == Command::Help) {
        if (operands.size() > 1 || (operands.size() == 1 && !commandNamed(operands[0])))
            refuse("help takes one command name: " + commandChoice(" or "));
        result.helpTopic = operands.empty() ? "" : operands[0];
        return result;
    }

    for (const GivenOption& given : options) {
        if (!(given.option->commands & bit(result.command)))
            refuse(std::string(given.option->name) + " is no option of " + CommandName(result.command));
        takeOption(result, given);
    }
    takeOperands(result, operands);
    if (result.duration && result.count)
        refuse("--duration and --count both end a watch: give one of them");
    if (result.timeout && result.until.empty() && result.untilEdges.empty())
        refuse("--timeout bounds --until: give a condition with --until");
    if (!result.edges.empty() && result.format == CliArguments::Format::Vcd)
        refuse("--edge picks records, and a VCD file holds every change: watch --lines with --format vcd");
    for (const LineEdge& edge : result.edges)
        if (edge.line && !result.watchedLines.empty() &&
            std::find(result.watchedLines.begin(), result.watchedLines.end(), edge.line) == result.watchedLines.end())
            refuse(std::string("--edge ") + edge.line->name + ": " + edge.line->name + " is not among --lines");
    refuseRepeats(result.edges, [](const LineEdge& edge) { return std::string_view(edge.line ? edge.line->name : "--edge EDGE"); });
    if (result.json && !result.readItems.empty())
        refuse("--json gives the whole report; read LINE... gives bare values (--names: NAME=VALUE)");
    if (result.names && result.readItems.empty())
        refuse("--names belongs to read LINE...: give the lines or registers to read");
    if (result.command == Command::Pulse) {
        bool forGiven = false;
        for (const GivenOption& given : options)
            forGiven = forGiven || given.option->name == "--for";
        if (!forGiven)
            refuse("pulse needs --for: how long the line holds its level, such as --for 5us");
        if (result.period && result.repeat == 1)
            refuse("--period is the time from one pulse's start to the next: give --repeat N too");
        if (result.period && *result.period < result.pulseFor)
            refuse("--period must be at least --for: the line comes back between two pulses");
    }
    if (result.selfTest.plugChoice == SelfTestPlan::PlugChoice::None && result.selfTest.interrupt)
        refuse("--irq needs a plug that drives ACK: five-wire or control");
    if (!result.selfTest.testsSomething())
        refuse("--plug none leaves nothing to test: add --input-mode");
    if (result.vcdRegisters && result.format != CliArguments::Format::Vcd)
        refuse("--vcd-registers belongs to --format vcd");
    takeAnnotationChoice(result, options);
    return result;
}

}

const char* CommandName(CliArguments::Command command)
{
    for (const auto& [text, named] : CommandNames)
        if (named == command)
            return text.data();
    return "";
}

std::variant<CliArguments, std::string> ParseCliArguments(const std::vector<std::string>& arguments)
{
    try {
        return parse(arguments);
    } catch (const Refusal& refusal) {
        return refusal.text;
    }
}
