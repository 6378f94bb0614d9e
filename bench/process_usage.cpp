#include "process_usage.h"

#include <ctime>
#include <fstream>
#include <stdexcept>
#include <string>

double processCpuSeconds()
{
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) * 1e-9;
}

double residentMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string key; status >> key;) {
        if (key == "VmRSS:") {
            double kib = 0;
            status >> kib;
            return kib / 1024.0;
        }
        status.ignore(1 << 16, '\n');
    }
    throw std::runtime_error("no VmRSS in /proc/self/status");
}
