#pragma once

#include <QString>

#include <cstdint>

// A time in nanoseconds with the unit that suits it, four significant digits: "104.2 µs".
QString DurationText(double nanoseconds);
// A frequency in hertz, likewise: "9.615 kHz".
QString FrequencyText(double hertz);
