#include "change_writer.h"

#include "json_text.h"
#include "register_text.h"

#include <ctime>

// velkaro-cli watch: port 378 (direct I/O), port 278 (direct I/O), started 2026-12-08T10:15:03.123456789Z
std::string DescribeRecording(const WatchHeader& header)
{
    std::string text = header.recorder + ":";
    for (const WatchHeader::Port& port : header.ports)
        text += (&port == &header.ports.front() ? " port " : ", port ") + port.address + " (" + port.access + ")";
    text += ", started " + IsoTime(header.started);
    return header.scheduling.empty() ? text : text + ", sampling at " + header.scheduling;
}

namespace {

using RegisterModel::Line;

class TextWriter : public ChangeWriter {
public:
    using ChangeWriter::ChangeWriter;

    void writeHeader() override
    {
        const WatchHeader& header = m_header;
        Record record(*this);
        record << "# " << DescribeRecording(header) << "\n# nanoseconds since the start (monotonic clock), the port, its "
                  "registers in hexadecimal, the lines that changed with their level on the pin\n";
    }

    void record(std::int64_t nanoseconds, std::size_t port, std::uint32_t registers, std::uint32_t changed) override
    {
        Record record(*this);
        record << static_cast<long long>(nanoseconds) << " port=" << m_header.ports[port].address;
        for (int reg = 0; reg < 3; ++reg)
            record << ' ' << RegisterModel::RegisterNames[reg] << '='
                   << HexText(RegisterModel::registerByte(registers, reg)).toStdString();
        forEachChangedLine(changed, registers, [&](int index, bool level) {
            record << ' ' << m_header.lines[index]->name << '=' << (level ? '1' : '0');
        });
        record << '\n';
    }

    void blind(std::int64_t from, std::int64_t to) override { writeBlindComment(from, to); }

    void writeEnd(std::int64_t nanoseconds) override
    {
        Record record(*this);
        record << "# end " << static_cast<long long>(nanoseconds) << '\n';
    }
};

class CsvWriter : public ChangeWriter {
public:
    using ChangeWriter::ChangeWriter;

    void writeHeader() override
    {
        const WatchHeader& header = m_header;
        Record record(*this);
        // The column names first, as CSV readers expect; what the file is follows as a comment.
        record << "time_ns,port,data,status,control,changed";
        for (const Line* line : header.lines)
            record << ',' << line->name;
        record << "\n# " << DescribeRecording(header) << "; time_ns on the monotonic clock since the start\n";
    }

    void record(std::int64_t nanoseconds, std::size_t port, std::uint32_t registers, std::uint32_t changed) override
    {
        Record record(*this);
        record << static_cast<long long>(nanoseconds) << ',' << m_header.ports[port].address;
        for (int reg = 0; reg < 3; ++reg)
            record << ',' << static_cast<long long>(RegisterModel::registerByte(registers, reg));
        record << ',';
        bool first = true;
        forEachChangedLine(changed, registers, [&](int index, bool) {
            record << (first ? "" : " ") << m_header.lines[index]->name;
            first = false;
        });
        for (const Line* line : m_header.lines)
            record << ',' << (RegisterModel::lineLevel(*line, registers) ? '1' : '0');
        record << '\n';
    }

    void blind(std::int64_t from, std::int64_t to) override { writeBlindComment(from, to); }

    void writeEnd(std::int64_t) override {}
};

class JsonLinesWriter : public ChangeWriter {
public:
    using ChangeWriter::ChangeWriter;

    void writeHeader() override
    {
        const WatchHeader& header = m_header;
        Record record(*this);
        record << R"({"watch":{"ports":[)";
        for (const WatchHeader::Port& port : header.ports)
            record << (&port == &header.ports.front() ? "" : ",") << R"({"port":)" << JsonString(port.address)
                   << R"(,"access":)" << JsonString(port.access) << '}';
        record << R"(],"started":")" << IsoTime(header.started) << '"';
        if (!header.scheduling.empty())
            record << R"(,"scheduling":)" << JsonString(header.scheduling);
        record << R"(,"clock":"monotonic","lines":[)";
        for (std::size_t i = 0; i < header.lines.size(); ++i)
            record << (i ? ",\"" : "\"") << header.lines[i]->name << '"';
        record << "]}}\n";
    }

    void record(std::int64_t nanoseconds, std::size_t port, std::uint32_t registers, std::uint32_t changed) override
    {
        Record record(*this);
        record << R"({"t_ns":)" << static_cast<long long>(nanoseconds) << R"(,"port":")" << m_header.ports[port].address
               << '"';
        for (int reg = 0; reg < 3; ++reg)
            record << ",\"" << RegisterModel::RegisterNames[reg]
                   << "\":" << static_cast<long long>(RegisterModel::registerByte(registers, reg));
        record << R"(,"changed":{)";
        bool first = true;
        forEachChangedLine(changed, registers, [&](int index, bool level) {
            record << (first ? "\"" : ",\"") << m_header.lines[index]->name << "\":" << (level ? '1' : '0');
            first = false;
        });
        record << "}}\n";
    }

    void blind(std::int64_t from, std::int64_t to) override
    {
        Record record(*this);
        record << R"({"not_sampled":{"from_ns":)" << static_cast<long long>(from) << R"(,"to_ns":)"
               << static_cast<long long>(to) << "}}\n";
    }

    void writeEnd(std::int64_t nanoseconds) override
    {
        Record record(*this);
        record << R"({"end_ns":)" << static_cast<long long>(nanoseconds) << "}\n";
    }
};

// A Value Change Dump with one 1-bit wire per line carrying the line level, as
// a logic analyser on the pins would see it. The time unit is a microsecond, so
// that PulseView, which expands a capture into samples of that unit, opens a
// long one; a change that falls into the microsecond of the one before is put
// one microsecond later, so that no recorded transition disappears. Register
// vectors, which sigrok's reader refuses, come only on request.
class VcdWriter : public ChangeWriter {
public:
    VcdWriter(std::FILE* out, HandOn handOn, bool registers) : ChangeWriter(out, handOn), m_registers(registers) {}

    // One scope per port. With several ports the wires' names carry the port
    // too ("ACK_278"), for readers such as sigrok's that drop the scopes.
    void writeHeader() override
    {
        const WatchHeader& header = m_header;
        m_variables = header.lines.size() + (m_registers ? 3 : 0);
        for (std::size_t n = 0; n < header.ports.size() * m_variables; ++n)
            m_identifiers.push_back(identifier(n));
        // What a line's change writes, ready made: "0!\n", "1!\n", ...
        for (std::size_t port = 0; port < header.ports.size(); ++port)
            for (std::size_t line = 0; line < header.lines.size(); ++line)
                for (const char level : {'0', '1'}) {
                    const std::string change = level + std::string(variable(port, line)) + '\n';
                    ShortText text{};
                    change.copy(text.text, sizeof text.text);
                    text.size = static_cast<std::uint8_t>(change.size());
                    m_changes.push_back(text);
                }
        m_dumping = !header.ports.empty();
        Record record(*this);
        record << "$date " << IsoTime(header.started) << " $end\n$version velkaro-cli " << VELKARO_VERSION
               << " $end\n$comment " << DescribeRecording(header) << "; the wires carry the line levels on the pins $end\n"
               << "$timescale 1 us $end\n";
        for (std::size_t port = 0; port < header.ports.size(); ++port) {
            const std::string& address = header.ports[port].address;
            const std::string suffix = header.ports.size() > 1 ? "_" + address : std::string();
            record << "$scope module port" << address << " $end\n";
            for (std::size_t i = 0; i < header.lines.size(); ++i)
                record << "$var wire 1 " << variable(port, i) << ' ' << header.lines[i]->name << suffix << " $end\n";
            for (int reg = 0; m_registers && reg < 3; ++reg)
                record << "$var wire 8 " << variable(port, header.lines.size() + reg) << ' '
                       << RegisterModel::RegisterNames[reg] << suffix << " $end\n";
            record << "$upscope $end\n";
        }
        // 1 while the ports are sampled, 0 where nothing is known of the lines.
        m_sampledWire = identifier(header.ports.size() * m_variables);
        record << "$scope module capture $end\n$var wire 1 " << m_sampledWire << " sampled $end\n$upscope $end\n"
               << "$enddefinitions $end\n";
    }

    void record(std::int64_t nanoseconds, std::size_t port, std::uint32_t registers, std::uint32_t changed) override
    {
        // The ports' first readings are the initial values, all at time 0.
        const bool first = m_dumping;
        if (!first && (m_registers ? changed : changed & recordedLineBits()) == 0)
            return;
        Record record(*this);
        if (m_portsDumped == 0) {
            m_time = 0;
            record << "#0\n$dumpvars\n";
        } else if (!first) {
            const long long time = std::max<long long>(nanoseconds / 1000, m_time + 1);
            setTime(time);
            record << m_timeText;
        }
        const ShortText* changes = m_changes.data() + 2 * port * m_header.lines.size();
        forEachChangedLine(changed, registers, [&](int index, bool level) { record << changes[2 * index + level]; });
        for (int reg = 0; m_registers && reg < 3; ++reg)
            if (first || RegisterModel::registerByte(changed, reg))
                record << 'b' << BinText(RegisterModel::registerByte(registers, reg)).toStdString() << ' '
                       << variable(port, m_header.lines.size() + reg) << '\n';
        if (first && ++m_portsDumped == m_header.ports.size()) {
            m_dumping = false;
            record << '1' << m_sampledWire << "\n$end\n";
        }
    }
    void blind(std::int64_t from, std::int64_t to) override
    {
        Record record(*this);
        for (const auto& [time, level] : {std::pair{from, '0'}, std::pair{to, '1'}}) {
            setTime(std::max<long long>(time / 1000, m_time + 1));
            record << m_timeText << level << m_sampledWire << '\n';
        }
    }

    void writeEnd(std::int64_t nanoseconds) override
    {
        Record record(*this);
        record << '#' << std::max<long long>(nanoseconds / 1000, m_time + 1) << '\n';
    }

private:
    // The "#time\n" line: where changes come faster than one a microsecond, each
    // is a microsecond after the one before, and its text is counted up in place.
    void setTime(long long time)
    {
        char* digits = m_timeText.text + 1;
        const std::size_t count = m_timeText.size - 2u;
        if (time == m_time + 1 && m_time > 0) {
            std::size_t at = count;
            while (at > 0 && digits[at - 1] == '9')
                digits[--at] = '0';
            if (at > 0) {
                ++digits[at - 1];
                m_time = time;
                return;
            }
        }
        m_timeText.text[0] = '#';
        char* end = std::to_chars(digits, m_timeText.text + sizeof m_timeText.text - 1, time).ptr;
        *end = '\n';
        m_timeText.size = static_cast<std::uint8_t>(end + 1 - m_timeText.text);
        m_time = time;
    }

    // Printable characters from '!' on: one for each of the first 94 variables, then more.
    static std::string identifier(std::size_t n)
    {
        std::string text(1, static_cast<char>('!' + n % 94));
        for (n /= 94; n > 0; n /= 94)
            text += static_cast<char>('!' + n % 94);
        return text;
    }

    std::string_view variable(std::size_t port, std::size_t index) const
    {
        return m_identifiers[port * m_variables + index];
    }

    bool m_registers;
    std::size_t m_variables = 0; // per port: its lines, then its registers when asked for
    std::vector<std::string> m_identifiers;
    std::string m_sampledWire;
    std::vector<ShortText> m_changes; // per port and line: its change to 0, then to 1
    bool m_dumping = false;             // the ports' first readings are still coming
    std::size_t m_portsDumped = 0;
    long long m_time = -1; // the time last written, in microseconds
    ShortText m_timeText{{'#', '0', '\n'}, 3};
};

}

void ChangeWriter::handOn()
{
    std::fwrite(m_buffer.data(), 1, m_used, m_out);
    m_used = 0;
    if (m_handOn == HandOn::EachRecord)
        std::fflush(m_out);
}

void ChangeWriter::end(std::int64_t nanoseconds)
{
    writeEnd(nanoseconds);
    handOn();
    std::fflush(m_out);
}

void ChangeWriter::begin(const WatchHeader& header)
{
    m_header = header;
    m_lineAt.fill(-1);
    m_lineBits = 0;
    for (std::size_t i = 0; i < header.lines.size(); ++i) {
        const std::uint32_t bit = RegisterModel::packedBit(*header.lines[i]);
        m_lineAt[static_cast<std::size_t>(__builtin_ctz(bit))] = static_cast<int>(i);
        m_lineBits |= bit;
    }
    writeHeader();
    handOn();
    std::fflush(m_out);
}

std::unique_ptr<ChangeWriter> MakeChangeWriter(RecordFormat format, bool vcdRegisters, std::FILE* out,
                                               ChangeWriter::HandOn handOn)
{
    switch (format) {
    case RecordFormat::Csv:
        return std::make_unique<CsvWriter>(out, handOn);
    case RecordFormat::Jsonl:
        return std::make_unique<JsonLinesWriter>(out, handOn);
    case RecordFormat::Vcd:
        return std::make_unique<VcdWriter>(out, handOn, vcdRegisters);
    default:
        return std::make_unique<TextWriter>(out, handOn);
    }
}

std::string IsoTime(std::chrono::system_clock::time_point time)
{
    const auto since = time.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    const std::time_t whole = seconds.count();
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char text[48];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%09lldZ",
                  static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count()));
    return text;
}
