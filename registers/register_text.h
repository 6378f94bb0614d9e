#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// The texts of the register grid and the readings of what is typed over them.

// Decimal without leading zeros: "5", "255".
QString DecText(std::uint8_t value);
// Two upper-case hexadecimal digits: "05", "FF".
QString HexText(std::uint8_t value);
// Eight characters "1"/"0", most significant bit first: "00000101".
QString BinText(std::uint8_t value);
// A register address in upper-case hexadecimal with at least three digits: "378".
QString AddressText(std::uint16_t address);

// The texts of the ten sample rates, index 0 the fastest.
const QStringList& SampleRateItems();
// The interval of a sample-rate item: the text up to its first blank read as
// seconds with a full stop as decimal separator, in whole milliseconds.
int IntervalFromItem(const QString& item);

// Hexadecimal digits from the first character on, stopping at the first other
// character or before the value would pass 32 bits; the low eight bits.
std::uint8_t HexToByte(const QString& text);
// Each "1" among the last eight characters adds its weight (1 for the last);
// every other character adds nothing.
std::uint8_t BinToByte(const QString& text);
