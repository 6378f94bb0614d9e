// velkaro-cli: read, drive and record a parallel port's lines from scripts.
#include "port_route.h"
#include "privilege_drop.h"
#include "realtime_spawner.h"
#include "rtkit_broker.h"
#include "simulated_port_route.h"
#include "velkaro_cli.h"

#include <cstdio>

namespace {
// The route velkaro takes, privileges given up as soon as it has granted its ports.
PortRoute openPorts(bool simulated)
{
    PortRoute route = simulated ? OpenSimulatedPortRoute() : OpenLinuxPortRoute();
    // What real-time sampling can have without a privilege, kept for the command's life.
    static const std::unique_ptr<RealtimeSpawner> spawner = KeepRealtimeSampling();
    std::string failure;
    if (!DropPrivileges(failure, spawner ? 1 : 0)) {
        route.channel->ClosePortChannel();
        route.kind = PortRoute::Kind::None;
        route.failure = failure;
    }
    return route;
}
}

int main(int argc, char** argv)
{
    RtkitBroker rtkit;
    return RunCli(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr, openPorts, &rtkit);
}
