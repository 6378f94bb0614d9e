#pragma once

#include "port_route.h"

#include <memory>
#include <string>
#include <vector>

class SimulatedPortPlatform;

// A route over simulated ports, whose kernel names the ports given; their ports
// and the standard ones are granted.
PortRoute OpenSimulatedPortRoute(std::unique_ptr<SimulatedPortPlatform> platform, std::vector<KernelPort> kernelPorts);
// The ports of velkaro-sim: 0x378 with a loopback plug, 0x278 with a device
// whose ACK line pulses once a second and which talks SPI on three others, and
// a card at 0xE010 that only the simulated kernel's port list names, with
// serial, step and I2C traffic. Their
// latches and clock are the simulated machine of that name, shared with every
// process that uses it (private where it cannot be shared: then notice says
// why; and with an empty name). The transfer log is off.
PortRoute OpenSimulatedPortRoute(const std::string& machineName, std::string& notice);
// The same on the user's machine (SimulatedMachine::defaultName), its notice on standard error.
PortRoute OpenSimulatedPortRoute();
