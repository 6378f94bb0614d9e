#pragma once

#include "register_model.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The formats a recording can be written in.
enum class RecordFormat { Text, Csv, Jsonl, Vcd };

// What a recording is of.
struct WatchHeader {
    struct Port {
        std::string address; // "378"
        std::string access;  // "direct I/O", "ppdev /dev/parport0", "simulated"
    };
    std::vector<Port> ports; // in the order of the records' port indexes
    std::chrono::system_clock::time_point started;
    std::vector<const RegisterModel::Line*> lines; // the lines recorded, in the register model's order
    std::string recorder = "velkaro-cli watch";    // what made it, named in the header
    std::string scheduling{}; // how the sampling threads were scheduled, where told
};

// Writes a watch's records in one format. Registers come packed: data in bits
// 0-7, status in 8-15, control in 16-23.
class ChangeWriter {
public:
    // When records go to the stream: each at once, for a pipe or a terminal that
    // wants every line as it happens; or in blocks, for a file.
    enum class HandOn { EachRecord, InBlocks };

    ChangeWriter(std::FILE* out, HandOn handOn) : m_out(out), m_handOn(handOn) {}
    virtual ~ChangeWriter() = default;
    // Writes the header and hands it on at once: a file that has one is being recorded.
    void begin(const WatchHeader& header);
    // A reading of a port (its index in the header) that differs from the one
    // before it in the changed bits; a port's first comes with every recorded
    // bit changed.
    virtual void record(std::int64_t nanoseconds, std::size_t port, std::uint32_t registers, std::uint32_t changed) = 0;
    // A stretch in which no port was sampled, from the last sample before it
    // to the first after it: nothing is known of the lines there.
    virtual void blind(std::int64_t from, std::int64_t to) = 0;
    // A stretch too brief to be blind that may still hide a fast bus's edge:
    // for a writer that decodes. Records do not show it.
    virtual void briefGap(std::int64_t, std::int64_t) {}
    // Sampled up to this time with nothing recorded since the last record:
    // for a writer that follows the time itself. Called after each run of samples.
    virtual void progressed(std::int64_t) {}
    // The watch's end, on the same clock; everything is handed on.
    void end(std::int64_t nanoseconds);

protected:
    // A few characters kept for copying in one move, such as a VCD value change.
    struct ShortText {
        char text[15];
        std::uint8_t size;
    };

    // Builds one record (or header) at the end of what is pending, and hands
    // it on when it is complete, as the writer's hand-on rule says. Records are
    // written for every change a watch sees, so this is plain copying.
    class Record {
    public:
        explicit Record(ChangeWriter& writer)
            : m_writer(writer), m_at(writer.m_buffer.data() + writer.m_used),
              m_end(writer.m_buffer.data() + writer.m_buffer.size())
        {
        }
        ~Record()
        {
            m_writer.m_used = static_cast<std::size_t>(m_at - m_writer.m_buffer.data());
            if (m_writer.m_handOn == HandOn::EachRecord || m_writer.m_used >= PendingLimit)
                m_writer.handOn();
        }
        Record(const Record&) = delete;
        Record& operator=(const Record&) = delete;

        Record& operator<<(std::string_view text)
        {
            makeRoom(text.size());
            std::memcpy(m_at, text.data(), text.size());
            m_at += text.size();
            return *this;
        }
        Record& operator<<(char c)
        {
            makeRoom(1);
            *m_at++ = c;
            return *this;
        }
        Record& operator<<(const ShortText& text)
        {
            makeRoom(sizeof text.text);
            std::memcpy(m_at, text.text, sizeof text.text);
            m_at += text.size;
            return *this;
        }
        Record& operator<<(long long number)
        {
            makeRoom(20);
            m_at = std::to_chars(m_at, m_at + 20, number).ptr;
            return *this;
        }

    private:
        // Only a text longer than all the room left (a long header) goes out in parts.
        void makeRoom(std::size_t size)
        {
            if (static_cast<std::size_t>(m_end - m_at) >= size) [[likely]]
                return;
            m_writer.m_used = static_cast<std::size_t>(m_at - m_writer.m_buffer.data());
            m_writer.handOn();
            if (size > m_writer.m_buffer.size())
                m_writer.m_buffer.resize(size);
            m_at = m_writer.m_buffer.data();
            m_end = m_at + m_writer.m_buffer.size();
        }

        ChangeWriter& m_writer;
        char* m_at;
        char* m_end;
    };

    virtual void writeHeader() = 0;
    virtual void writeEnd(std::int64_t nanoseconds) = 0;
    // "# not sampled from 1500000 to 7300000": a blind stretch where comments are the way to say it.
    void writeBlindComment(std::int64_t from, std::int64_t to)
    {
        Record record(*this);
        record << "# not sampled from " << static_cast<long long>(from) << " to " << static_cast<long long>(to) << '\n';
    }
    // The recorded line of a register bit (0-23), or -1.
    int lineAt(int bit) const { return m_lineAt[static_cast<std::size_t>(bit)]; }
    // The register bits of the recorded lines.
    std::uint32_t recordedLineBits() const { return m_lineBits; }
    // Calls visit(line index, its level) for each recorded line among the
    // changed bits, in bit order.
    template <typename Visit>
    void forEachChangedLine(std::uint32_t changed, std::uint32_t registers, Visit visit) const
    {
        const std::uint32_t levels = registers ^ RegisterModel::packedInvertMask();
        for (std::uint32_t bits = changed & m_lineBits; bits != 0; bits &= bits - 1) {
            const int bit = __builtin_ctz(bits);
            visit(lineAt(bit), ((levels >> bit) & 1u) != 0);
        }
    }

    WatchHeader m_header;

private:
    // Pending records are handed on once they fill this much of the buffer.
    static constexpr std::size_t PendingLimit = 1 << 16;
    void handOn();

    std::FILE* m_out;
    HandOn m_handOn;
    std::vector<char> m_buffer = std::vector<char>(PendingLimit + 4096);
    std::size_t m_used = 0;
    std::array<int, 24> m_lineAt{};
    std::uint32_t m_lineBits = 0;
};

// A writer for the format, writing to the stream (which it does not close).
std::unique_ptr<ChangeWriter> MakeChangeWriter(RecordFormat format, bool vcdRegisters, std::FILE* out,
                                               ChangeWriter::HandOn handOn);

// "velkaro-cli watch: port 378 (direct I/O), started 2026-12-08T10:15:03.123456789Z, sampling at …":
// what a recording is of, in a line.
std::string DescribeRecording(const WatchHeader& header);

// The time as ISO 8601 in UTC with nanoseconds: "2026-12-08T10:15:03.123456789Z".
std::string IsoTime(std::chrono::system_clock::time_point time);
