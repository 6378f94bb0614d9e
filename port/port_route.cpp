#include "port_route.h"

#include "port_probe.h"
#include "ppdev_port_platform.h"

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
        GrantRoutePorts(route);
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

void GrantRoutePorts(PortRoute& route)
{
    GrantStandardPorts(*route.channel);
    for (const std::uint16_t base : NonStandardBases(route.kernelPorts))
        GrantPortsOf(*route.channel, base);
    // An ECP chip's extended control register, which read reports (and never writes).
    for (const KernelPort& port : route.kernelPorts)
        if (port.extendedBase)
            route.channel->GrantPort(static_cast<std::uint16_t>(port.extendedBase + 2));
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
