#include "port_route.h"

#include "port_probe.h"
#include "ppdev_port_platform.h"
#include "simulated_machine.h"
#include "simulated_port_platform.h"

#include <cerrno>
#include <cstdio>
#include <iterator>

namespace {

using MessageSink = LinuxPortPlatform::MessageSink;

// Collects what the providers say while the route is tried; shown only if no route opens.
MessageSink collectInto(const std::shared_ptr<std::string>& text)
{
    return [text](const std::string& message) { *text += message; };
}

std::vector<KernelPort> whereHeld(const std::vector<KernelPort>& ports, bool held)
{
    std::vector<KernelPort> chosen;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(chosen),
                 [held](const KernelPort& port) { return port.held() == held; });
    return chosen;
}

void grantRoutePorts(PortRoute& route)
{
    GrantStandardPorts(*route.channel);
    for (const std::uint16_t base : NonStandardBases(route.kernelPorts))
        GrantPortsOf(*route.channel, base);
}

// Simulated ports whose latches and clock are a simulated machine's, which it keeps.
class MachinePortPlatform : public SimulatedPortPlatform {
public:
    explicit MachinePortPlatform(std::unique_ptr<SimulatedMachine> machine) : m_machine(std::move(machine))
    {
        setLogging(false);
        SimulatedMachine* const clock = m_machine.get();
        const auto portOf = [this](std::size_t index) -> SimulatedParallelPort& {
            return addPort(SimulatedMachine::Bases[index], m_machine->latches(index));
        };
        portOf(0).attach(std::make_unique<LoopbackPlug>());
        portOf(1).attach(std::make_unique<PulsingAckDevice>(
            [clock] { return static_cast<std::int64_t>(clock->clockNanoseconds() / 1'000'000); }));
        portOf(2).attach(std::make_unique<SerialStepCard>([clock] { return clock->clockNanoseconds(); }));
    }

private:
    std::unique_ptr<SimulatedMachine> m_machine;
};

std::string lockdownText(const std::string& mode)
{
    if (mode.empty() || mode == "none")
        return {};
    return "\n\nThis kernel is locked down (" + mode + "), as it is under Secure Boot: it refuses direct port "
           "access to every program, root included.";
}

}

PortRoute OpenLinuxPortRoute(const KernelPortPaths& paths)
{
    return OpenLinuxPortRoute(
        paths, [](MessageSink sink) { return std::make_unique<LinuxPortPlatform>(std::move(sink)); },
        std::make_unique<SystemPpdevCalls>());
}

PortRoute OpenLinuxPortRoute(const KernelPortPaths& paths, const DirectPlatformFactory& makeDirect,
                             std::unique_ptr<PpdevCalls> ppdevCalls)
{
    const std::vector<KernelPort> known = ReadKernelPorts(paths);
    const auto said = std::make_shared<std::string>();

    PortRoute route;
    route.heldPorts = whereHeld(known, true);
    route.platform = makeDirect(collectInto(said));
    route.channel = std::make_unique<PortChannel>(*route.platform);
    route.channel->OpenPortChannel();
    if (route.channel->PortChannelReady()) {
        route.kind = PortRoute::Kind::DirectIo;
        route.kernelPorts = whereHeld(known, false);
        grantRoutePorts(route);
        return route;
    }

    const std::string directRefusal = *said;
    said->clear();
    route.channel.reset();
    auto ppdev = std::make_unique<PpdevPortPlatform>(known, collectInto(said), std::move(ppdevCalls));
    PpdevPortPlatform& ppdevPlatform = *ppdev;
    route.platform = std::move(ppdev);
    route.channel = std::make_unique<PortChannel>(*route.platform);
    route.channel->OpenPortChannel();
    if (route.channel->PortChannelReady()) {
        route.kind = PortRoute::Kind::Ppdev;
        route.kernelPorts = ppdevPlatform.claimedPorts();
        return route;
    }
    route.failure = directRefusal + lockdownText(ReadLockdownMode(paths)) + "\n\n" + *said;
    return route;
}

PortRoute OpenSimulatedPortRoute(std::unique_ptr<SimulatedPortPlatform> platform, std::vector<KernelPort> kernelPorts)
{
    PortRoute route;
    route.kind = PortRoute::Kind::Simulated;
    route.platform = std::move(platform);
    route.channel = std::make_unique<PortChannel>(*route.platform);
    route.channel->OpenPortChannel();
    route.kernelPorts = std::move(kernelPorts);
    grantRoutePorts(route);
    return route;
}

PortRoute OpenSimulatedPortRoute(const std::string& machineName, std::string& notice)
{
    auto machine = machineName.empty() ? SimulatedMachine::makePrivate()
                                       : SimulatedMachine::attach(machineName, std::chrono::milliseconds(500), notice);
    const auto kernelPort = [](int number, std::uint16_t base, std::uint16_t extendedBase, const char* modes) {
        KernelPort port;
        port.number = number;
        port.base = base;
        port.extendedBase = extendedBase;
        port.modes = modes;
        return port;
    };
    return OpenSimulatedPortRoute(std::make_unique<MachinePortPlatform>(std::move(machine)),
                                  {kernelPort(0, 0x378, 0, "PCSPP,TRISTATE"), kernelPort(1, 0x278, 0, "PCSPP,TRISTATE"),
                                   kernelPort(2, 0xE010, 0xE410, "PCSPP,TRISTATE,EPP,ECP")});
}

PortRoute OpenSimulatedPortRoute()
{
    std::string notice;
    PortRoute route = OpenSimulatedPortRoute(SimulatedMachine::defaultName(), notice);
    if (!notice.empty())
        std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, notice.c_str());
    return route;
}

std::string PortAccessText(const PortRoute& route, std::uint16_t base)
{
    switch (route.kind) {
    case PortRoute::Kind::Ppdev: {
        const KernelPort* port = KernelPortAt(route.kernelPorts, base);
        return port ? "ppdev " + port->devicePath : "ppdev";
    }
    case PortRoute::Kind::Simulated:
        return "simulated";
    default:
        return "direct I/O";
    }
}
