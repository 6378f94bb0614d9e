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

ProcessorTicks processorTicks()
{
    // cpu user nice system idle iowait irq softirq steal ...
    std::ifstream stat("/proc/stat");
    std::string label;
    stat >> label;
    ProcessorTicks ticks;
    for (int field = 0; field < 8; ++field) {
        unsigned long long value = 0;
        if (!(stat >> value))
            throw std::runtime_error("no processor times in /proc/stat");
        ticks.all += value;
        if (field == 7)
            ticks.stolen = value;
    }
    return ticks;
}

double stolenPercent(const ProcessorTicks& from, const ProcessorTicks& to)
{
    const unsigned long long all = to.all - from.all;
    return all > 0 ? 100.0 * static_cast<double>(to.stolen - from.stolen) / static_cast<double>(all) : 0;
}
