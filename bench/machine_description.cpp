#include "machine_description.h"

#include <QAbstractEventDispatcher>
#include <QGuiApplication>

#include <sys/utsname.h>

#include <fstream>
#include <thread>

namespace {
// The value of the first line of a file that starts with the key, after the
// separator, without blanks and quotes around it; "unknown" when none.
std::string fileValue(const char* file, const std::string& key, char separator = ':')
{
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key, 0) != 0)
            continue;
        const std::size_t start = line.find_first_not_of(" \t\"", line.find(separator) + 1);
        const std::size_t end = line.find_last_not_of(" \t\"");
        return start == std::string::npos ? std::string() : line.substr(start, end + 1 - start);
    }
    return "unknown";
}

std::string processorLine()
{
    const std::string flags = fileValue("/proc/cpuinfo", "flags");
    const bool guest = (" " + flags + " ").find(" hypervisor ") != std::string::npos;
    return "cpu:      " + fileValue("/proc/cpuinfo", "model name") + ", " +
           std::to_string(std::thread::hardware_concurrency()) + " logical CPUs" + (guest ? ", virtual machine" : "") +
           ", memory " + fileValue("/proc/meminfo", "MemTotal");
}

std::string systemLine()
{
    utsname name{};
    uname(&name);
    return std::string("system:   ") + name.sysname + " " + name.release + " " + name.machine + ", " +
           fileValue("/etc/os-release", "PRETTY_NAME", '=');
}

std::string toolkitLine()
{
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    return std::string("toolkit:  Qt ") + qVersion() + ", platform " + QGuiApplication::platformName().toStdString() +
           ", event dispatcher " + (dispatcher ? dispatcher->metaObject()->className() : "none");
}
}

std::vector<std::string> machineDescription()
{
    return {processorLine(), systemLine(), toolkitLine(),
            std::string("build:    g++ ") + __VERSION__ + ", " + VELKARO_BUILD_TYPE};
}

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string oneMinute = "unknown";
    in >> oneMinute;
    return oneMinute;
}
