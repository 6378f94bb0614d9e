#include "port_probe.h"

#include "port_channel.h"

#include <algorithm>

void GrantPortsOf(PortChannel& channel, std::uint16_t base)
{
    for (std::uint16_t offset = 0; offset < 4; ++offset)
        channel.GrantPort(static_cast<std::uint16_t>(base + offset));
}

void GrantStandardPorts(PortChannel& channel)
{
    static constexpr std::array<std::uint16_t, 3> grantOrder = {0x378, 0x278, 0x3BC};
    for (const std::uint16_t base : grantOrder)
        GrantPortsOf(channel, base);
}

bool AnswersProbe(PortChannel& channel, std::uint16_t base)
{
    const std::uint8_t before = channel.ReadPortByte(base);
    channel.WritePortByte(base, before ^ 0xFF);
    const std::uint8_t after = channel.ReadPortByte(base);
    channel.WritePortByte(base, before);
    return after != before;
}

std::uint16_t DetectPort(PortChannel& channel, int n, const std::vector<std::uint16_t>& listedBases)
{
    int found = 0;
    for (const std::uint16_t base : StandardBases) {
        const bool listed = std::find(listedBases.begin(), listedBases.end(), base) != listedBases.end();
        if ((listed || AnswersProbe(channel, base)) && ++found == n)
            return base;
    }
    return 0;
}

bool DwordReadsRegisters(PortChannel& channel, std::uint16_t base)
{
    const std::uint32_t all = channel.ReadPortDword(base);
    const std::uint8_t data = channel.ReadPortByte(base);
    const std::uint8_t control = channel.ReadPortByte(static_cast<std::uint16_t>(base + 2));
    return (all & 0xFF) == data && ((all >> 16) & 0xFF) == control;
}

FoundPort CheckedPort(PortChannel& channel, std::uint16_t base)
{
    return {base, !DwordReadsRegisters(channel, base)};
}

std::vector<FoundPort> FindPorts(PortChannel& channel, const std::vector<std::uint16_t>& otherBases, bool probe,
                                 const std::vector<std::uint16_t>& listedBases)
{
    std::vector<std::uint16_t> bases;
    for (int n = 1; probe && n <= static_cast<int>(StandardBases.size()); ++n)
        if (const std::uint16_t base = DetectPort(channel, n, listedBases))
            bases.push_back(base);
    bases.insert(bases.end(), otherBases.begin(), otherBases.end());

    std::vector<FoundPort> found;
    for (const std::uint16_t base : bases)
        found.push_back(CheckedPort(channel, base));
    return found;
}
