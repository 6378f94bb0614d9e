#pragma once

#include "simulated_port.h"

#include <chrono>
#include <cstdint>
#include <map>

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

// Holds the sampler up, as the system may: each read of the stalls listed (by
// its number) takes that long.
class StallingDevice : public SimulatedDevice {
public:
    explicit StallingDevice(std::map<long long, std::chrono::microseconds> stalls) : m_stalls(std::move(stalls)) {}
    std::uint8_t statusLines(std::uint8_t, std::uint8_t) override { return 0xF8; }
    void beforeRead(SimulatedParallelPort&) override
    {
        // Spinning, since a sleep would last its timer's slack beyond a short stall.
        if (const auto stall = m_stalls.find(++m_reads); stall != m_stalls.end())
            for (const auto until = std::chrono::steady_clock::now() + stall->second; std::chrono::steady_clock::now() < until;) {
            }
    }

private:
    std::map<long long, std::chrono::microseconds> m_stalls;
    long long m_reads = 0;
};
