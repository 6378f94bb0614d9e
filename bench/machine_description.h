#pragma once

#include <string>
#include <vector>

// Lines that say on which machine, system, toolkit and build the benchmark ran.
std::vector<std::string> machineDescription();
// The one-minute load average of the machine: other work that competes for its cores.
std::string loadAverage();
