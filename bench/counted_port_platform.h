#pragma once

#include "simulated_port_platform.h"

// Simulated ports that count the reads made on them: one 32-bit read is one
// sampling step on the normal path, three byte reads one on the fallback path.
class CountedPortPlatform : public SimulatedPortPlatform {
public:
    struct Reads {
        long long dword = 0;
        long long byte = 0;
    };

    std::uint32_t inDword(std::uint16_t port) override
    {
        ++m_reads.dword;
        return SimulatedPortPlatform::inDword(port);
    }
    std::uint8_t inByte(std::uint16_t port) override
    {
        ++m_reads.byte;
        return SimulatedPortPlatform::inByte(port);
    }

    Reads reads() const { return m_reads; }

private:
    Reads m_reads;
};
