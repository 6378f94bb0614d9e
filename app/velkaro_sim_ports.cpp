#include "velkaro_sim_ports.h"

#include "simulated_port_platform.h"

#include <memory>

void addVelkaroSimPorts(SimulatedPortPlatform& platform)
{
    platform.addPort(0x378).attach(std::make_unique<LoopbackPlug>());
    platform.addPort(0x278).attach(std::make_unique<PulsingAckDevice>());
}
