#include "script_measures.h"

#include "port_channel.h"
#include "port_route.h"
#include "pulse.h"
#include "simulated_port_platform.h"
#include "simulated_port_route.h"
#include "statistics.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
const volatile std::sig_atomic_t neverStopped = 0;

std::vector<double> widths(PortChannel& channel, std::chrono::nanoseconds hold, int pulses)
{
    PulsePlan plan;
    plan.address = 0x37A;
    plan.driven = 0x05;
    plan.restored = 0x04;
    plan.hold = hold;
    plan.repeat = pulses;
    plan.period = hold + std::chrono::microseconds(2);
    const PulseResult result = Pulse(channel, plan, neverStopped);
    std::vector<double> values;
    for (const PulseResult::Pulse& pulse : result.pulses)
        values.push_back(static_cast<double>(pulse.restored - pulse.driven));
    return values;
}

// A line of the child's output, or an error once it has ended.
std::string nextLine(std::FILE* from)
{
    char line[4096];
    if (!std::fgets(line, sizeof line, from))
        throw std::runtime_error("the watch in the other process ended early");
    return line;
}

}

PulseWidths pulseWidths(int pulses)
{
    SimulatedPortPlatform platform;
    platform.setLogging(false);
    platform.addPort(0x378);
    PortChannel channel(platform);
    channel.OpenPortChannel();
    const std::vector<double> shortest = widths(channel, std::chrono::nanoseconds(0), pulses);
    const std::vector<double> five = widths(channel, std::chrono::microseconds(5), pulses);
    return {percentile(shortest, 0.5), percentile(shortest, 0.99), percentile(five, 0.5), percentile(five, 0.99)};
}

WatchDelay sharedWatchDelay(const std::string& cliPath, int changes)
{
    const std::string machine = "/velkaro-bench-" + std::to_string(getpid());
    std::string notice;
    PortRoute route = OpenSimulatedPortRoute(machine, notice);
    if (!notice.empty())
        throw std::runtime_error(notice);

    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        throw std::runtime_error("no pipe for the watch");
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        setenv("VELKARO_SIM_MACHINE", machine.c_str(), 1);
        execl(cliPath.c_str(), cliPath.c_str(), "--sim", "watch", "-p", "378", "-l", "D0", "-f", "jsonl",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    std::FILE* records = fdopen(pipeEnds[0], "r");

    std::vector<double> delays;
    std::string failure;
    try {
        nextLine(records); // the header
        nextLine(records); // the state at the start
        std::mt19937 random(21);
        std::uniform_int_distribution<int> pause(500, 1500); // us between changes
        std::uint8_t data = 0;
        for (int i = 0; i < changes; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
            data ^= 1;
            route.channel->WritePortByte(0x378, data);
            const Clock::time_point written = Clock::now();
            nextLine(records);
            delays.push_back(std::chrono::duration<double, std::micro>(Clock::now() - written).count());
        }
    } catch (const std::exception& error) {
        failure = error.what();
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    std::fclose(records);
    shm_unlink(machine.c_str());
    if (!failure.empty())
        throw std::runtime_error(failure);
    return {percentile(delays, 0.5), percentile(delays, 0.99)};
}
