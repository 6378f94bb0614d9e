#include "trigger.h"

#include "change_ring.h"

namespace {
constexpr std::string_view Letters = "xlhrfe";
}

void Trigger::setCondition(std::size_t line, LineCondition condition)
{
    m_conditions[line] = condition;
    const std::uint32_t bit = RegisterModel::packedBit(RegisterModel::Lines[line]);
    for (std::uint32_t* mask : {&m_low, &m_high, &m_rising, &m_falling, &m_either})
        *mask &= ~bit;
    switch (condition) {
    case LineCondition::Low: m_low |= bit; break;
    case LineCondition::High: m_high |= bit; break;
    case LineCondition::Rising: m_rising |= bit; break;
    case LineCondition::Falling: m_falling |= bit; break;
    case LineCondition::Either: m_either |= bit; break;
    case LineCondition::DontCare: break;
    }
}

bool Trigger::firesAt(std::uint32_t before, std::uint32_t after) const
{
    const auto levelsHold = [this](std::uint32_t registers) {
        const std::uint32_t levels = registers ^ RegisterModel::packedInvertMask();
        return (levels & m_high) == m_high && (~levels & m_low) == m_low;
    };
    if (!levelsHold(after))
        return false;
    if ((m_rising | m_falling | m_either) == 0)
        return !levelsHold(before);
    return (RegisterModel::roseLevels(before, after) & m_rising) == m_rising &&
           (RegisterModel::fellLevels(before, after) & m_falling) == m_falling && ((before ^ after) & m_either) == m_either;
}

std::uint64_t Trigger::next(const ChangeRing& ring, std::uint64_t from, std::uint64_t to) const
{
    // The first change kept has no reading before it to compare with.
    for (std::uint64_t change = std::max(from, ring.oldest() + 1); change < to; ++change)
        if (firesAt(ring.registers(change - 1), ring.registers(change)))
            return change;
    return to;
}

std::string Trigger::text() const
{
    std::string text;
    for (const LineCondition condition : m_conditions)
        text += Letters[static_cast<std::size_t>(condition)];
    return text;
}

Trigger Trigger::fromText(std::string_view text)
{
    Trigger trigger;
    for (std::size_t line = 0; line < text.size() && line < RegisterModel::Lines.size(); ++line) {
        const std::size_t letter = Letters.find(text[line]);
        if (letter != std::string_view::npos)
            trigger.setCondition(line, static_cast<LineCondition>(letter));
    }
    return trigger;
}
