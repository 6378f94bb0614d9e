#pragma once

// What this process uses of the machine.

// CPU seconds used so far, all threads, user and system.
double processCpuSeconds();
// Resident set size in MiB.
double residentMiB();
