#include "time_text.h"

#include <algorithm>
#include <cmath>

namespace {
struct Unit {
    double size;
    const char* name;
};

QString withUnit(double value, std::initializer_list<Unit> units)
{
    const Unit* chosen = units.begin();
    for (const Unit& unit : units)
        if (std::fabs(value) >= unit.size * 0.9995)
            chosen = &unit;
    const double scaled = value / chosen->size;
    const double magnitude = std::fabs(scaled);
    // Nanoseconds are the clock's own grain: no fractions of them.
    const bool whole = chosen == units.begin() && units.begin()->size == 1;
    const int decimals = whole ? 0 : magnitude >= 100 ? 1 : magnitude >= 10 ? 2 : 3;
    return QStringLiteral("%1 %2").arg(scaled, 0, 'f', decimals).arg(QString::fromUtf8(chosen->name));
}
}

QString DurationText(double nanoseconds)
{
    return withUnit(nanoseconds, {{1, "ns"}, {1e3, "µs"}, {1e6, "ms"}, {1e9, "s"}});
}

QString FrequencyText(double hertz)
{
    return withUnit(hertz, {{1e-3, "mHz"}, {1, "Hz"}, {1e3, "kHz"}, {1e6, "MHz"}});
}

QString AxisTimeText(double nanoseconds, double step)
{
    const Unit units[] = {{1, "ns"}, {1e3, "µs"}, {1e6, "ms"}, {1e9, "s"}};
    const Unit* chosen = &units[0];
    for (const Unit& unit : units)
        if (std::fabs(nanoseconds) >= unit.size)
            chosen = &unit;
    const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step / chosen->size) - 1e-9)), 0, 9);
    return QStringLiteral("%1 %2").arg(nanoseconds / chosen->size, 0, 'f', decimals).arg(QString::fromUtf8(chosen->name));
}
