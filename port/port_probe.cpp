#include "port_probe.h"

#include "port_channel.h"

std::uint16_t DetectPort(PortChannel& channel, int n)
{
    int found = 0;
    for (const std::uint16_t base : StandardBases) {
        const std::uint8_t before = channel.ReadPortByte(base);
        channel.WritePortByte(base, before ^ 0xFF);
        const std::uint8_t after = channel.ReadPortByte(base);
        channel.WritePortByte(base, before);
        if (after != before && ++found == n)
            return base;
    }
    return 0;
}
