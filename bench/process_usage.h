#pragma once

// What this process uses of the machine.

// CPU seconds used so far, all threads, user and system.
double processCpuSeconds();
// Resident set size in MiB.
double residentMiB();
// The machine's processor time so far, all processors, in clock ticks; and of
// it what the host of a virtual machine gave to others (steal), which no
// scheduling inside the machine can win back.
struct ProcessorTicks {
    unsigned long long all = 0;
    unsigned long long stolen = 0;
};
ProcessorTicks processorTicks();
// The share of the machine's processor time between two readings that the host took.
double stolenPercent(const ProcessorTicks& from, const ProcessorTicks& to);
