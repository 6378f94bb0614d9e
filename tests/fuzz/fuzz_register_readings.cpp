// Arbitrary texts through the three readings of typed register values — the
// decimal cell's integer, HexToByte and BinToByte — each checked against a
// plain reference written from its grammar. The bytes are taken both as UTF-8
// and as raw UTF-16 code units, so that every character can occur.
#include "integer_text.h"
#include "register_text.h"

#include <QString>

#include <algorithm>
#include <bitset>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

bool isDecimalDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool isHexDigit(char16_t c)
{
    return isDecimalDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Blanks, then [+-]? decimal digits, or one of the prefixes and hexadecimal
// digits; nothing after. The value must fit a signed 32-bit integer; a
// hexadecimal one may use all 32 bits.
std::optional<std::int32_t> referenceInteger(std::u16string_view text)
{
    const std::size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string_view::npos)
        return std::nullopt;
    text.remove_prefix(first);
    // Every character of the grammar is ASCII.
    if (!std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; }))
        return std::nullopt;
    std::string ascii(text.begin(), text.end());

    for (const std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (!ascii.starts_with(prefix))
            continue;
        const std::string_view digits = std::string_view(ascii).substr(prefix.size());
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isHexDigit))
            return std::nullopt;
        std::uint64_t value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        if (error != std::errc() || end != digits.data() + digits.size() || value > 0xFFFFFFFFu)
            return std::nullopt;
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }

    std::string_view digits = ascii;
    const bool negative = digits.starts_with('-');
    if (negative || digits.starts_with('+'))
        digits.remove_prefix(1);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDecimalDigit))
        return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, 10);
    if (error != std::errc() || end != digits.data() + digits.size() || magnitude > (negative ? 0x80000000u : 0x7FFFFFFFu))
        return std::nullopt;
    return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude));
}

// The leading hexadecimal digits are read while the value has fewer than eight
// significant digits; the byte is the last two digits read.
std::uint8_t referenceHex(std::u16string_view text)
{
    const std::size_t digits = std::find_if_not(text.begin(), text.end(), isHexDigit) - text.begin();
    const std::size_t zeros = std::find_if(text.begin(), text.begin() + digits, [](char16_t c) { return c != u'0'; })
                              - text.begin();
    const std::size_t read = zeros + std::min<std::size_t>(digits - zeros, 8);
    const std::size_t from = read >= 2 ? read - 2 : 0;
    const std::string last(text.begin() + from, text.begin() + read);
    return last.empty() ? 0 : static_cast<std::uint8_t>(std::stoul(last, nullptr, 16));
}

// The last eight characters as a binary number in which only '1' counts.
std::uint8_t referenceBinary(std::u16string_view text)
{
    const std::u16string_view last = text.substr(text.size() - std::min<std::size_t>(text.size(), 8));
    std::string bits(8 - last.size(), '0');
    for (const char16_t c : last)
        bits += c == u'1' ? '1' : '0';
    return static_cast<std::uint8_t>(std::bitset<8>(bits).to_ulong());
}

void expect(bool holds, const char* what, const QString& text)
{
    if (holds)
        return;
    std::fprintf(stderr, "%s differs from its reference for \"%s\"\n", what, text.toUtf8().constData());
    std::abort();
}

void check(const QString& text)
{
    const std::u16string_view units(reinterpret_cast<const char16_t*>(text.utf16()), text.size());
    expect(ParseInteger(text) == referenceInteger(units), "ParseInteger", text);
    expect(HexToByte(text) == referenceHex(units), "HexToByte", text);
    expect(BinToByte(text) == referenceBinary(units), "BinToByte", text);
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    check(QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    check(QString(reinterpret_cast<const QChar*>(data), static_cast<qsizetype>(size / 2)));
    return 0;
}
