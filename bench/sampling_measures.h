#pragma once

#include <functional>

struct BenchRig;

// The measures of the sampling cycle. Each builds a fresh window (BenchRig),
// runs it, and throws std::runtime_error when what it saw cannot be a valid
// measurement (no samples taken, another read path than the one measured).

enum class Registers {
    Unchanging, // no device: every step after the first finds nothing changed
    Counting,   // the data register changes on every read
};

struct IdleLoopRates {
    double ceilingLoops = 0;     // per second: the idle hook with nothing to do but count
    double unchangedSamples = 0; // per second: idle sampling, registers unchanged
    double countingSamples = 0;  // per second: idle sampling, data register counting
    double countingPaints = 0;   // per second: paints of Port1Dec while counting
};
// The three windows' idle hooks (item 0) run in turns within one event loop,
// so that a change in the machine's load falls on all three alike. A sampling
// step is counted by its one four-byte read.
IdleLoopRates idleLoopRates(double secondsEach, int turnsEach);

struct StepCost {
    double stepNs = 0; // one SampleRegisters that finds nothing changed
    double readNs = 0; // one bare ReadPortDword through the channel
};
StepCost stepCost(long calls);

// Percent of one core that the process uses while sampling by timer at a
// sample-rate item, with the data register changing on every read.
double cpuShare(int item, double seconds);

struct ClickDelays {
    double medianMs = 0;
    double p99Ms = 0;
};
// Delays from posting a left click on Port1Dec until its handler has run,
// while sampling at item 0 with the data register changing on every read,
// and whatever alongside starts on the window besides.
ClickDelays clickDelays(int clicks, const std::function<void(BenchRig&)>& alongside = {});

struct MemoryUse {
    double beforeMiB = 0;
    double afterMiB = 0;
};
// Resident size before and after idle sampling with the counting device.
MemoryUse memoryUse(double seconds);
