#include "integer_text.h"

#include <QString>

int HexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

std::optional<std::int32_t> ParseInteger(const QString& text, bool binaryPrefix)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;

    int base = 10;
    bool negative = false;
    if (i < n && text[i] == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i < n && (text[i] == QLatin1Char('x') || text[i] == QLatin1Char('X'))) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == QLatin1Char('0') && (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    } else if (binaryPrefix && i + 1 < n && text[i] == QLatin1Char('0') &&
               (text[i + 1] == QLatin1Char('b') || text[i + 1] == QLatin1Char('B'))) {
        base = 2;
        i += 2;
    } else if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }

    if (i == n)
        return std::nullopt;
    const std::uint64_t limit = base != 10 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    std::uint64_t value = 0;
    for (; i < n; ++i) {
        const int digit = HexDigitValue(text[i]);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * base + digit;
        if (value > limit)
            return std::nullopt;
    }
    if (negative)
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(value));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

QString InvalidIntegerText(const QString& text)
{
    return QStringLiteral("'%1' is not a valid integer value.").arg(text);
}
