#pragma once

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
