#include "change_writer.h"

#include "json_text.h"
#include "register_text.h"

#include <ctime>

namespace {

using RegisterModel::Line;

std::uint8_t registerOf(std::uint32_t registers, int reg)
{
    return static_cast<std::uint8_t>(registers >> (8 * reg));
}

// # velkaro-cli watch: port 378 (direct I/O), started 2026-12-08T10:15:03.123456789Z
std::string describe(const WatchHeader& header)
{
    return "velkaro-cli watch: port " + header.port + " (" + header.access + "), started " + IsoTime(header.started);
}

class TextWriter : public ChangeWriter {
public:
    using ChangeWriter::ChangeWriter;

    void writeHeader() override
    {
        const WatchHeader& header = m_header;
        Record record(*this);
        record << "# " << describe(header) << "\n# nanoseconds since the start (monotonic clock), the registers in "
                  "hexadecimal, the lines that changed with their level on the pin\n";
    }

    void record(std::int64_t nanoseconds, std::uint32_t registers, std::uint32_t changed) override
    {
        Record record(*this);
        record << static_cast<long long>(nanoseconds);
        for (int reg = 0; reg < 3; ++reg)
            record << ' ' << RegisterModel::RegisterNames[reg] << '=' << HexText(registerOf(registers, reg)).toStdString();
        forEachChangedLine(changed, registers, [&](int index, bool level) {
            record << ' ' << m_header.lines[index]->name << '=' << (level ? '1' : '0');
        });
        record << '\n';
    }

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
        record << "# " << describe(header) << "; time_ns on the monotonic clock since the start\n"
               << "time_ns,data,status,control,changed";
        for (const Line* line : header.lines)
            record << ',' << line->name;
        record << '\n';
    }

    void record(std::int64_t nanoseconds, std::uint32_t registers, std::uint32_t changed) override
    {
        Record record(*this);
        record << static_cast<long long>(nanoseconds);
        for (int reg = 0; reg < 3; ++reg)
            record << ',' << static_cast<long long>(registerOf(registers, reg));
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

    void writeEnd(std::int64_t) override {}

};

class JsonLinesWriter : public ChangeWriter {
public:
    using ChangeWriter::ChangeWriter;

    void writeHeader() override
    {
        const WatchHeader& header = m_header;
        Record record(*this);
        record << R"({"watch":{"port":)" << JsonString(header.port) << R"(,"access":)" << JsonString(header.access)
               << R"(,"started":")" << IsoTime(header.started) << R"(","clock":"monotonic","lines":[)";
        for (std::size_t i = 0; i < header.lines.size(); ++i)
            record << (i ? ",\"" : "\"") << header.lines[i]->name << '"';
        record << "]}}\n";
    }

    void record(std::int64_t nanoseconds, std::uint32_t registers, std::uint32_t changed) override
    {
        Record record(*this);
        record << R"({"t_ns":)" << static_cast<long long>(nanoseconds);
        for (int reg = 0; reg < 3; ++reg)
            record << ",\"" << RegisterModel::RegisterNames[reg]
                   << "\":" << static_cast<long long>(registerOf(registers, reg));
        record << R"(,"changed":{)";
        bool first = true;
        forEachChangedLine(changed, registers, [&](int index, bool level) {
            record << (first ? "\"" : ",\"") << m_header.lines[index]->name << "\":" << (level ? '1' : '0');
            first = false;
        });
        record << "}}\n";
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

    void writeHeader() override
    {
        const WatchHeader& header = m_header;
        Record record(*this);
        record << "$date " << IsoTime(header.started) << " $end\n$version velkaro-cli " << VELKARO_VERSION
               << " $end\n$comment " << describe(header) << "; the wires carry the line levels on the pins $end\n"
               << "$timescale 1 us $end\n$scope module port" << header.port << " $end\n";
        for (std::size_t i = 0; i < header.lines.size(); ++i)
            record << "$var wire 1 " << Identifiers[i] << ' ' << header.lines[i]->name << " $end\n";
        for (int reg = 0; m_registers && reg < 3; ++reg)
            record << "$var wire 8 " << RegisterIdentifiers[reg] << ' ' << RegisterModel::RegisterNames[reg] << " $end\n";
        record << "$upscope $end\n$enddefinitions $end\n";
    }

    void record(std::int64_t nanoseconds, std::uint32_t registers, std::uint32_t changed) override
    {
        const bool first = m_time < 0;
        if (!first && (m_registers ? changed : changed & recordedLineBits()) == 0)
            return;
        Record record(*this);
        if (first) {
            m_time = 0;
            record << "#0\n$dumpvars\n";
        } else {
            m_time = std::max<long long>(nanoseconds / 1000, m_time + 1);
            record << '#' << m_time << '\n';
        }
        forEachChangedLine(changed, registers, [&](int index, bool level) {
            const char change[] = {level ? '1' : '0', Identifiers[index], '\n'};
            record << std::string_view(change, sizeof change);
        });
        for (int reg = 0; m_registers && reg < 3; ++reg)
            if (first || registerOf(changed, reg))
                record << 'b' << BinText(registerOf(registers, reg)).toStdString() << ' ' << RegisterIdentifiers[reg] << '\n';
        if (first)
            record << "$end\n";
    }

    void writeEnd(std::int64_t nanoseconds) override
    {
        Record record(*this);
        record << '#' << std::max<long long>(nanoseconds / 1000, m_time + 1) << '\n';
    }

private:
    static constexpr std::string_view RegisterIdentifiers[] = {"d", "s", "c"};

    // "!", "\"", "#", ...: one printable character per line.
    static constexpr char Identifiers[] = "!\"#$%&'()*+,-./01";

    bool m_registers;
    long long m_time = -1; // the time last written, in microseconds
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
    m_lineBits = m_invertedBits = 0;
    for (std::size_t i = 0; i < header.lines.size(); ++i) {
        const std::uint32_t bit = RegisterModel::packedBit(*header.lines[i]);
        m_lineAt[static_cast<std::size_t>(__builtin_ctz(bit))] = static_cast<int>(i);
        m_lineBits |= bit;
        if (header.lines[i]->inverted)
            m_invertedBits |= bit;
    }
    writeHeader();
    handOn();
    std::fflush(m_out);
}

std::unique_ptr<ChangeWriter> MakeChangeWriter(CliArguments::Format format, bool vcdRegisters, std::FILE* out,
                                               ChangeWriter::HandOn handOn)
{
    switch (format) {
    case CliArguments::Format::Csv:
        return std::make_unique<CsvWriter>(out, handOn);
    case CliArguments::Format::Jsonl:
        return std::make_unique<JsonLinesWriter>(out, handOn);
    case CliArguments::Format::Vcd:
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
