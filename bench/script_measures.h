#pragma once

#include <string>

// velkaro-cli's pulse on a private simulated port: the achieved widths.
struct PulseWidths {
    double shortestMedianNs = 0; // --for 0: the two writes back to back
    double shortestP99Ns = 0;
    double fiveMicrosecondsMedianNs = 0; // --for 5us
    double fiveMicrosecondsP99Ns = 0;
};
PulseWidths pulseWidths(int pulses);

// Two processes on one shared simulated machine (of the bench's own): this one
// toggles D0 at 0x378, a velkaro-cli watch started from cliPath records it to a
// pipe; the time from the write until the record is read here.
struct WatchDelay {
    double medianUs = 0;
    double p99Us = 0;
};
WatchDelay sharedWatchDelay(const std::string& cliPath, int changes);
