#pragma once

#include <QString>

#include <cstdint>

// A time in nanoseconds with the unit that suits it, four significant digits: "104.2 µs".
QString DurationText(double nanoseconds);
// A time on an axis whose ticks are step apart, with as many decimals as the
// step needs in the unit that suits the time: "2.0011 s" for a 100 µs step.
QString AxisTimeText(double nanoseconds, double step);
// A frequency in hertz, likewise: "9.615 kHz".
QString FrequencyText(double hertz);
