#pragma once

#include <string>

// The simulated card's 9600-baud text on ACK at 0xE010, sampled while as many
// busy processes run beside it as the machine has cores, once at normal
// priority and once as real-time as the machine allows: how much of it
// survives, how blind the sampler was, how the main window answered clicks
// meanwhile, and how far the busy processes got.
struct LoadedLine {
    double intactPercent = 0;  // of the messages sent while sampling, those decoded whole
    double longestBlindMs = 0; // the longest stretch without a sample
    double blindPercent = 0;   // the share of the time without samples
    double stolenPercent = 0;  // of the machine's processor time meanwhile, what its host took
    std::string scheduling;    // what the sampler got
};

struct LoadedHalf {
    LoadedLine capture; // the timeline's capture
    LoadedLine watch;   // velkaro-cli watch
    double clickP99Ms = 0; // the main window's, its timeline capturing
    double busyLoopsPerSecond = 0; // of all busy processes together, while the samplers ran
};

struct LoadedLines {
    int busyProcesses = 0;
    LoadedHalf normal;
    LoadedHalf realtime;
};

LoadedLines loadedLines(double secondsEach, int clicks);

// What the turns of two real-time threads cost a capture on a quiet machine:
// samples per second of a capture alone, in turns of normal priority and of
// real-time as allowed, interleaved; the medians.
struct TurnCost {
    double unchangedNormal = 0;
    double unchangedRealtime = 0;
    double countingNormal = 0; // the data register changing on every read
    double countingRealtime = 0;
};
TurnCost turnCost(double secondsEach, int turnsEach);
