#pragma once

#include <cstdint>
#include <optional>

class QChar;
class QString;

// The value of a hexadecimal digit (0-9, a-f, A-F), or -1 for any other character.
int HexDigitValue(QChar c);

// Reads a whole text as one signed 32-bit integer: optional leading blanks,
// then an optional '+' or '-' and decimal digits, or hexadecimal digits after
// "$", "x", "X", "0x" or "0X". Nothing may follow the number. A hexadecimal
// number may use all 32 bits (FFFFFFFF is -1). With binaryPrefix, binary
// digits after "0b" or "0B" too, up to 32 of them (the command line's values;
// the window's decimal cells refuse that form). Anything else: no value.
std::optional<std::int32_t> ParseInteger(const QString& text, bool binaryPrefix = false);

// The refusal of a text that is no such integer: "'12 ' is not a valid integer value."
QString InvalidIntegerText(const QString& text);
