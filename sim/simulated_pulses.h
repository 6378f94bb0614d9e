#pragma once

#include "simulated_port.h"

#include <cstdint>

// A device that pulls ACK low for exactly one read in every period reads, and
// counts the pulses it made: what a sampler must not miss.
class OneSamplePulses : public SimulatedDevice {
public:
    explicit OneSamplePulses(unsigned period) : m_period(period) {}
    std::uint8_t statusLines(std::uint8_t, std::uint8_t) override { return m_reads % m_period == 0 ? 0xB8 : 0xF8; }
    void beforeRead(SimulatedParallelPort&) override
    {
        if (++m_reads % m_period == 0)
            ++m_pulses;
    }
    long long pulsesMade() const { return m_pulses; }

private:
    unsigned m_period;
    unsigned long long m_reads = 0;
    long long m_pulses = 0;
};
