#include "velkaro_cli.h"

#include "change_writer.h"
#include "cli_arguments.h"
#include "cli_help.h"
#include "port_address.h"
#include "port_probe.h"
#include "port_report.h"
#include "port_route.h"
#include "pulse.h"
#include "self_test_text.h"
#include "watch.h"
#include "decode_writer.h"
#include "decoder_list.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <variant>

#include <sys/stat.h>

namespace {

using Command = CliArguments::Command;
using RegisterModel::Line;

enum ExitStatus { Success = 0, NoAccess = 1, TestFailed = 1, BadInput = 2, TimedOut = 3 };

// A register's value with one line's bit set or cleared, the others as they were.
std::uint8_t withLineBit(std::uint8_t value, const Line& line, bool bit)
{
    return static_cast<std::uint8_t>(bit ? (value | line.mask()) : (value & ~line.mask()));
}

// The register bit that puts a line at the level: the opposite for a line the port inverts.
bool bitFor(const LineLevel& level)
{
    return level.level != level.line->inverted;
}

// Records that reach a file may wait for a whole block; a pipe or a terminal gets each at once.
bool isFile(std::FILE* stream)
{
    struct stat status {};
    return fstat(fileno(stream), &status) == 0 && S_ISREG(status.st_mode);
}

volatile std::sig_atomic_t stopSignal = 0;

void stopWatching(int signal)
{
    stopSignal = signal;
}

// While it lives, Ctrl-C and SIGTERM end a watch at its next sample; a second
// one ends the program as usual.
class StopOnSignals {
public:
    StopOnSignals()
    {
        stopSignal = 0;
        struct sigaction stop {};
        stop.sa_handler = stopWatching;
        sigemptyset(&stop.sa_mask);
        stop.sa_flags = SA_RESETHAND;
        sigaction(SIGINT, &stop, &m_interrupt);
        sigaction(SIGTERM, &stop, &m_terminate);
    }
    ~StopOnSignals()
    {
        sigaction(SIGINT, &m_interrupt, nullptr);
        sigaction(SIGTERM, &m_terminate, nullptr);
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    struct sigaction m_interrupt {};
    struct sigaction m_terminate {};
};

// A command at work: what it was asked, the route it has, where it writes.
struct Session {
    const CliArguments& arguments;
    PortRoute& route;
    std::FILE* out;
    std::FILE* err;
    RealtimeBroker* broker;

    PortChannel& channel() const { return *route.channel; }

    int refuse(int status, const std::string& text) const
    {
        std::fprintf(err, "velkaro-cli: %s\n", text.c_str());
        return status;
    }

    std::string accessOf(std::uint16_t base) const { return PortAccessText(route, base); }

    int refuseNoPort() const
    {
        return refuse(NoAccess, "no parallel port found (velkaro-cli list --help tells where ports are looked for)");
    }

    // The port list, in the window's order; with --no-probe, the kernel's ports
    // only. A standard base the kernel lists is not probed: the probe would flip
    // the eight data lines of a known port, whatever is wired to them.
    std::vector<FoundPort> foundPorts() const
    {
        std::vector<std::uint16_t> kernelBases;
        for (const KernelPort& port : route.kernelPorts)
            kernelBases.push_back(port.base);
        if (arguments.noProbe)
            return FindPorts(channel(), kernelBases, false);
        return FindPorts(channel(), NonStandardBases(route.kernelPorts), true, kernelBases);
    }

    // The port the command works on: --port, or the first one found; else what is wrong.
    std::variant<FoundPort, int> chosenPort() const
    {
        if (!arguments.port) {
            const std::vector<FoundPort> found = foundPorts();
            if (found.empty())
                return refuseNoPort();
            return found.front();
        }
        const std::uint16_t base = *arguments.port;
        const std::string address = PortAddressText(base);
        if (KernelPortAt(route.kernelPorts, base))
            return CheckedPort(channel(), base);
        if (const KernelPort* held = KernelPortAt(route.heldPorts, base))
            return refuse(NoAccess, "port " + address + " is in use by " + held->activeDevice);
        const bool standard = std::find(StandardBases.begin(), StandardBases.end(), base) != StandardBases.end();
        if (arguments.noProbe)
            return refuse(BadInput, "unknown port " + address + ": not a port the kernel lists (velkaro-cli --no-probe "
                                                                "list shows them)");
        if (!standard)
            return refuse(BadInput, "unknown port " + address + ": neither a standard base (3BC, 378, 278) nor a port "
                                                                "the kernel lists (velkaro-cli list shows the ports)");
        if (!AnswersProbe(channel(), base))
            return refuse(BadInput, "unknown port " + address + ": no port answers the probe there");
        return CheckedPort(channel(), base);
    }

    int listPorts() const
    {
        std::vector<ListedPort> listed;
        for (const FoundPort& port : foundPorts())
            listed.push_back({port.base, accessOf(port.base), !port.byteReads, KernelPortAt(route.kernelPorts, port.base)});
        for (const KernelPort& port : route.heldPorts)
            listed.push_back({port.base, {}, false, &port});
        WritePortList(out, listed, arguments.json);
        return Success;
    }

    int showRegisters(const FoundPort& port, const PortFacts* facts = nullptr) const
    {
        WriteRegisterReport(out, port.base, accessOf(port.base), channel().ReadRegisters(port.base, port.byteReads),
                            arguments.json, facts);
        return Success;
    }

    // read: the registers after what the kernel knows of the port, and on the
    // direct route the ECP chip's mode (its register is only read).
    int showPort(const FoundPort& port) const
    {
        PortFacts facts{KernelPortAt(route.kernelPorts, port.base), std::nullopt};
        if (route.kind == PortRoute::Kind::DirectIo && facts.kernel && facts.kernel->extendedBase)
            facts.ecr = channel().ReadPortByte(static_cast<std::uint16_t>(facts.kernel->extendedBase + 2));
        return showRegisters(port, &facts);
    }

    // set and toggle: each register of the lines is read once, the lines' bits
    // changed, the others kept, and written once.
    void changeLines(const FoundPort& port) const
    {
        for (const RegisterModel::Register reg : {RegisterModel::Data, RegisterModel::Control}) {
            const auto address = static_cast<std::uint16_t>(port.base + reg);
            std::optional<std::uint8_t> value;
            const auto change = [&](const Line& line, auto&& newBit) {
                if (line.reg != reg)
                    return;
                if (!value)
                    value = channel().ReadPortByte(address);
                *value = withLineBit(*value, line, newBit(*value & line.mask()));
            };
            for (const LineLevel& level : arguments.lineLevels)
                change(*level.line, [&](std::uint8_t) { return bitFor(level); });
            for (const Line* line : arguments.toggledLines)
                change(*line, [](std::uint8_t bit) { return bit == 0; });
            if (value)
                channel().WritePortByte(address, *value);
        }
    }

    // read LINE...: each line's level or register's value, one to a line.
    int showItems(const FoundPort& port) const
    {
        const std::uint32_t registers = channel().ReadRegisters(port.base, port.byteReads);
        for (const ReadItem& item : arguments.readItems) {
            const std::string name = item.line ? item.line->name : std::string(RegisterModel::RegisterNames[item.reg]);
            const int value = item.line ? RegisterModel::lineLevel(*item.line, registers)
                                        : RegisterModel::registerByte(registers, item.reg);
            if (arguments.names)
                std::fprintf(out, "%s=%d\n", name.c_str(), value);
            else
                std::fprintf(out, "%d\n", value);
        }
        return Success;
    }

    // The self-test: what it drives is said before it drives anything.
    int selfTest(const FoundPort& port) const
    {
        const KernelPort* kernel = KernelPortAt(route.kernelPorts, port.base);
        SelfTestPlan plan = arguments.selfTest;
        plan.base = port.base;
        plan.irq = kernel ? kernel->irq : -1;
        std::fprintf(err, "velkaro-cli: test of %s %s\n", PortAddressText(port.base).c_str(), SelfTestAnnouncement(plan).c_str());
        std::fflush(err);
        const SelfTestReport report = RunSelfTest(channel(), plan);
        const auto write = arguments.json ? SelfTestJson : SelfTestText;
        std::fputs(write(report, PortAddressText(port.base), accessOf(port.base)).c_str(), out);
        return report.passed() ? Success : TestFailed;
    }

    // pulse: the line's register read once; the pulse writes it with the line's
    // bit at the level and then as read.
    int pulse(const FoundPort& port) const
    {
        const LineLevel& level = arguments.lineLevels.front();
        const Line& line = *level.line;
        PulsePlan plan;
        plan.address = static_cast<std::uint16_t>(port.base + line.reg);
        plan.restored = channel().ReadPortByte(plan.address);
        plan.driven = withLineBit(plan.restored, line, bitFor(level));
        plan.hold = arguments.pulseFor;
        plan.repeat = arguments.repeat;
        plan.period = arguments.period.value_or(2 * arguments.pulseFor);
        PulseResult result;
        {
            const StopOnSignals stop;
            result = Pulse(channel(), plan, stopSignal);
        }
        writePulseReport(port, plan, result);
        return result.stopped ? 128 + stopSignal : Success;
    }

    void writePulseReport(const FoundPort& port, const PulsePlan& plan, const PulseResult& result) const
    {
        std::vector<double> widths;
        std::vector<double> periods;
        for (std::size_t i = 0; i < result.pulses.size(); ++i) {
            widths.push_back(static_cast<double>(result.pulses[i].restored - result.pulses[i].driven));
            if (i > 0)
                periods.push_back(static_cast<double>(result.pulses[i].driven - result.pulses[i - 1].driven));
        }
        const LineLevel& level = arguments.lineLevels.front();
        const std::string address = PortAddressText(port.base);
        if (arguments.json) {
            std::string object = "{\"port\":\"" + address + "\",\"line\":\"" + level.line->name +
                                 "\",\"pin\":" + std::to_string(level.line->pin) +
                                 ",\"level\":" + (level.level ? "1" : "0") +
                                 ",\"for_ns\":" + std::to_string(plan.hold.count()) +
                                 ",\"repeat\":" + std::to_string(plan.repeat) +
                                 (plan.repeat > 1 ? ",\"period_ns\":" + std::to_string(plan.period.count()) : "") +
                                 ",\"pulses\":" + std::to_string(result.pulses.size()) +
                                 ",\"width_ns\":" + spread(widths) +
                                 (periods.empty() ? "" : ",\"achieved_period_ns\":" + spread(periods)) +
                                 ",\"stopped\":" + (result.stopped ? "true" : "false") + "}";
            std::fprintf(out, "%s\n", object.c_str());
            return;
        }
        std::string text = "pulse " + std::string(level.line->name) + "=" + (level.level ? "1" : "0") + " on port " +
                           address + ": " + std::to_string(result.pulses.size()) +
                           (result.pulses.size() == 1 ? " pulse" : " pulses") + " of " + timeText(plan.hold.count());
        if (!widths.empty())
            text += ", held " + spreadText(widths);
        if (!periods.empty())
            text += ", every " + spreadText(periods) + " (asked " + timeText(plan.period.count()) + ")";
        if (result.stopped)
            text += ", stopped early";
        std::fprintf(out, "%s\n", text.c_str());
    }

    static void sortedStats(std::vector<double> values, double& least, double& median, double& most)
    {
        std::sort(values.begin(), values.end());
        least = values.front();
        median = values[(values.size() - 1) / 2];
        most = values.back();
    }

    // {"min":..,"median":..,"max":..}, or null for none.
    static std::string spread(const std::vector<double>& values)
    {
        if (values.empty())
            return "null";
        double least = 0, median = 0, most = 0;
        sortedStats(values, least, median, most);
        char text[128];
        std::snprintf(text, sizeof text, "{\"min\":%.0f,\"median\":%.0f,\"max\":%.0f}", least, median, most);
        return text;
    }

    // "5.041 us" alone, or "5.041 us (4.998-5.310 us)" for several.
    static std::string spreadText(const std::vector<double>& values)
    {
        double least = 0, median = 0, most = 0;
        sortedStats(values, least, median, most);
        if (values.size() == 1)
            return timeText(static_cast<std::int64_t>(median));
        return timeText(static_cast<std::int64_t>(median)) + " median, " + timeText(static_cast<std::int64_t>(least)) +
               " to " + timeText(static_cast<std::int64_t>(most));
    }

    static std::string timeText(std::int64_t nanoseconds)
    {
        char text[48];
        if (nanoseconds < 1'000'000)
            std::snprintf(text, sizeof text, "%.3f us", static_cast<double>(nanoseconds) / 1e3);
        else if (nanoseconds < 1'000'000'000)
            std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(nanoseconds) / 1e6);
        else
            std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(nanoseconds) / 1e9);
        return text;
    }

    // Every port found, without --port; else the one it names.
    int watch(std::FILE* records, const std::string& recordsName) const
    {
        std::vector<FoundPort> ports;
        if (arguments.port) {
            const std::variant<FoundPort, int> chosen = chosenPort();
            if (const int* refused = std::get_if<int>(&chosen))
                return *refused;
            ports.push_back(std::get<FoundPort>(chosen));
        } else {
            ports = foundPorts();
            if (ports.empty())
                return refuseNoPort();
        }
        std::vector<const Line*> lines = arguments.watchedLines;
        if (lines.empty())
            for (const Line& line : RegisterModel::Lines)
                lines.push_back(&line);
        std::sort(lines.begin(), lines.end()); // the register model's order
        WatchPlan plan;
        plan.ports = ports;
        plan.recordedBits = arguments.watchedLines.empty() ? 0xFFFFFF : LineBits(lines);
        plan.interval = arguments.interval;
        plan.duration = arguments.duration;
        plan.count = arguments.count;
        plan.until = arguments.until;
        plan.untilEdges = arguments.untilEdges;
        for (const LineEdge& edge : arguments.edges) {
            const std::uint32_t bits = edge.line ? RegisterModel::packedBit(*edge.line) : LineBits(lines);
            if (static_cast<unsigned>(edge.edge) & 1u)
                plan.risingBits |= bits;
            if (static_cast<unsigned>(edge.edge) & 2u)
                plan.fallingBits |= bits;
        }
        plan.timeout = arguments.timeout;
        plan.countInterrupts = route.kind == PortRoute::Kind::Ppdev;
        WatchHeader header{{}, std::chrono::system_clock::now(), lines};
        for (const FoundPort& port : ports)
            header.ports.push_back({PortAddressText(port.base), accessOf(port.base)});

        // Decoding: every change of the decoders' lines goes to them.
        for (const DecoderStack& stack : arguments.decoders)
            for (const DecoderSetup& setup : stack)
                for (const auto& [channel, line] : setup.channels)
                    plan.recordedBits |= RegisterModel::packedBit(*line);
        const std::unique_ptr<ChangeWriter> writer =
            arguments.decoders.empty()
                ? MakeChangeWriter(arguments.format, arguments.vcdRegisters, records,
                                   isFile(records) ? ChangeWriter::HandOn::InBlocks : ChangeWriter::HandOn::EachRecord)
                : std::make_unique<DecodeWriter>(arguments.format, records, err, arguments.decoders,
                                                 arguments.shownAnnotations);
        WatchResult result{};
        {
            const StopOnSignals stop;
            LinuxSchedulingKernel kernel;
            result = Watch(channel(), plan, *writer, header, {kernel, broker, err}, stopSignal);
        }
        if (std::fflush(records) != 0 || std::ferror(records))
            return refuse(NoAccess, "writing " + recordsName + " failed: " + std::strerror(errno));
        switch (result.end) {
        case WatchResult::End::Timeout:
            return TimedOut;
        case WatchResult::End::Stopped:
            return plan.until.empty() && plan.untilEdges.empty() ? Success : 128 + stopSignal;
        default:
            return Success;
        }
    }
};

// The file a watch writes to; standard output unless -o names one.
class RecordsFile {
public:
    explicit RecordsFile(const std::string& path, std::FILE* out) : m_path(path)
    {
        m_file = path.empty() ? out : std::fopen(path.c_str(), "we");
        if (m_file && !path.empty())
            std::setvbuf(m_file, nullptr, _IOFBF, 1 << 20);
    }
    ~RecordsFile()
    {
        if (m_file && !m_path.empty())
            std::fclose(m_file);
    }
    RecordsFile(const RecordsFile&) = delete;
    RecordsFile& operator=(const RecordsFile&) = delete;

    std::FILE* file() const { return m_file; }
    std::string name() const { return m_path.empty() ? "standard output" : QuotedArgument(m_path); }

private:
    std::string m_path;
    std::FILE* m_file;
};

}

int RunCli(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err, const RouteOpener& openRoute,
           RealtimeBroker* broker)
{
    const std::variant<CliArguments, std::string> parsed = ParseCliArguments(arguments);
    if (const auto* refusal = std::get_if<std::string>(&parsed)) {
        std::fprintf(err, "velkaro-cli: %s\n", refusal->c_str());
        return BadInput;
    }
    const CliArguments& asked = std::get<CliArguments>(parsed);
    if (asked.command == Command::Help) {
        std::fputs(CliHelp(asked.helpTopic).c_str(), out);
        return Success;
    }
    if (asked.command == Command::Version) {
        std::fprintf(out, "velkaro-cli %s\n", VELKARO_VERSION);
        return Success;
    }
    if (asked.command == Command::Decoders) {
        DecoderLibrary& library = DecoderLibrary::instance();
        if (!library.failure().empty()) {
            std::fprintf(err, "velkaro-cli: %s\n", library.failure().c_str());
            return NoAccess;
        }
        const std::vector<const DecoderInfo*> listed = asked.listedDecoders.empty() ? library.all() : asked.listedDecoders;
        std::fputs((asked.json ? DecoderListJson(listed) : DecoderListText(listed)).c_str(), out);
        return Success;
    }

    // Before any port is touched: the records cannot be written (status 1, as for a write that fails later).
    const RecordsFile records(asked.command == Command::Watch ? asked.output : std::string(), out);
    if (!records.file()) {
        std::fprintf(err, "velkaro-cli: cannot write %s: %s\n", records.name().c_str(), std::strerror(errno));
        return NoAccess;
    }

    PortRoute route = openRoute(asked.sim);
    const Session session{asked, route, out, err, broker};
    if (route.kind == PortRoute::Kind::None)
        return session.refuse(NoAccess, route.failure);

    int status = Success;
    if (asked.command == Command::List) {
        status = session.listPorts();
    } else if (asked.command == Command::Watch) {
        status = session.watch(records.file(), records.name());
    } else {
        const std::variant<FoundPort, int> chosen = session.chosenPort();
        if (const int* refused = std::get_if<int>(&chosen)) {
            status = *refused;
        } else {
            const FoundPort& port = std::get<FoundPort>(chosen);
            switch (asked.command) {
            case Command::Write:
                for (const RegisterValue& value : asked.registerValues)
                    session.channel().WritePortByte(static_cast<std::uint16_t>(port.base + value.reg), value.value);
                status = session.showRegisters(port);
                break;
            case Command::Set:
            case Command::Toggle:
                session.changeLines(port);
                status = session.showRegisters(port);
                break;
            case Command::Pulse:
                status = session.pulse(port);
                break;
            case Command::Test:
                status = session.selfTest(port);
                break;
            default:
                status = asked.readItems.empty() ? session.showPort(port) : session.showItems(port);
                break;
            }
        }
    }
    route.channel->ClosePortChannel();
    return status;
}
