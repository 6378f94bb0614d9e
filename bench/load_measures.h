#pragma once

// The simulated card's 9600-baud text on ACK at 0xE010, sampled at normal
// priority while as many busy processes run beside it as the machine has
// cores: how much of it survives, and how blind the sampler was.
struct LoadedLine {
    double intactPercent = 0;  // of the messages sent while sampling, those decoded whole
    double longestBlindMs = 0; // the longest stretch without a sample
    double blindPercent = 0;   // the share of the time without samples
};

struct LoadedLines {
    int busyProcesses = 0;
    LoadedLine capture; // the timeline's capture
    LoadedLine watch;   // velkaro-cli watch
};

LoadedLines loadedLines(double secondsEach);
