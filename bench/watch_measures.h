#pragma once

#include "port_channel.h"
#include "simulated_port_platform.h"

#include <cstdint>

// One simulated port at 0x378, transfer log off, with or without a device that
// changes the data register on every read.
struct WatchedPort {
    static constexpr std::uint16_t Base = 0x378;
    explicit WatchedPort(bool counting);
    SimulatedPortPlatform platform;
    PortChannel channel{platform};
};

// Reads the registers at 0x378 through the channel for the time given, as a
// watch does, looking at the clock as seldom as it does; the reads per second.
double bareLoop(PortChannel& channel, double seconds);

// The command line tool's watch against a bare loop of the same reads through
// the channel, on a simulated port with its transfer log off.
struct WatchRates {
    double unchangedBare = 0;     // reads per second, registers unchanged
    double unchangedSamples = 0;  // watch samples per second, registers unchanged
    double countingBare = 0;      // reads per second, the data register changing on every read
    double countingVcdSamples = 0; // watch samples per second, a VCD record for each, to a file
};
// Bare loops and watches take turns, so that a change in the machine's load
// falls on both alike.
WatchRates watchRates(double secondsEach, int turnsEach);
