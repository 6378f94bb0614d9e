#pragma once

#include "register_model.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

class ChangeRing;

// What a trigger asks of one line.
enum class LineCondition : std::uint8_t { DontCare, Low, High, Rising, Falling, Either };

// Conditions on the port's lines (by their place in the register model), all
// of which must hold at one change for the trigger to fire.
class Trigger {
public:
    LineCondition condition(std::size_t line) const { return m_conditions[line]; }
    void setCondition(std::size_t line, LineCondition condition);
    bool active() const { return (m_low | m_high | m_rising | m_falling | m_either) != 0; }

    // Whether the change from one reading to the next (packed registers) fires
    // it: every level holds after the change and every edge happens in it. A
    // trigger of levels alone fires where they come to hold together, not at
    // each change while they hold.
    bool firesAt(std::uint32_t before, std::uint32_t after) const;
    // The first change in [from, to) of the ring that fires it, or to.
    std::uint64_t next(const ChangeRing& ring, std::uint64_t from, std::uint64_t to) const;

    // One letter per line in the register model's order ("xlhrfe"), for the settings file.
    std::string text() const;
    // The text's conditions; unknown letters and missing lines don't care.
    static Trigger fromText(std::string_view text);

private:
    std::array<LineCondition, RegisterModel::Lines.size()> m_conditions{};
    // The conditions as masks of packed register bits.
    std::uint32_t m_low = 0, m_high = 0, m_rising = 0, m_falling = 0, m_either = 0;
};
