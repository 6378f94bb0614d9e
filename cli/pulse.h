#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <vector>

class PortChannel;

// What a pulse drives: a register, its value while the pulse lasts and the
// value it is given back afterwards.
struct PulsePlan {
    std::uint16_t address = 0;
    std::uint8_t driven = 0;
    std::uint8_t restored = 0;
    std::chrono::nanoseconds hold{0}; // 0: the restoring write follows at once
    long long repeat = 1;
    std::chrono::nanoseconds period{0}; // start to start
};

struct PulseResult {
    // Per pulse, on the monotonic clock in ns: after the driving write, after the restoring one.
    struct Pulse {
        std::int64_t driven;
        std::int64_t restored;
    };
    std::vector<Pulse> pulses;
    bool stopped = false; // a signal ended it early; the register was given back all the same
};

// Drives the register, holds it for the time asked (sleeping while the end is
// far, then watching the clock), writes it back, as often as asked, each pulse
// starting no sooner than a period after the one before. A pulse is two port writes: nothing
// else happens between them. Stops early, still restoring, when stop becomes
// non-zero.
PulseResult Pulse(PortChannel& channel, const PulsePlan& plan, const volatile std::sig_atomic_t& stop);
