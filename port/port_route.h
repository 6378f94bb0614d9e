#pragma once

#include "kernel_port_list.h"
#include "linux_port_platform.h"
#include "port_channel.h"
#include "ppdev_calls.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// How the program reaches the parallel ports: decided once at start, the same
// for the window and the command line tool.
struct PortRoute {
    enum class Kind { None, DirectIo, Ppdev, Simulated };

    Kind kind = Kind::None;
    std::unique_ptr<PortPlatform> platform;
    // Opened; ready unless the kind is None. Declared after the platform it uses.
    std::unique_ptr<PortChannel> channel;
    // The kernel's ports this route reaches, in the kernel's order; a port that
    // another program holds is left out.
    std::vector<KernelPort> kernelPorts;
    // The kernel's ports that another program or driver held at start.
    std::vector<KernelPort> heldPorts;
    // Kind None: the one text that names every way out on this machine.
    std::string failure;
};

// How the route reaches the port at the base: "direct I/O", "ppdev /dev/parport0", "simulated".
std::string PortAccessText(const PortRoute& route, std::uint16_t base);

// Makes the direct-I/O provider with the sink for its refusal text.
using DirectPlatformFactory = std::function<std::unique_ptr<LinuxPortPlatform>(LinuxPortPlatform::MessageSink)>;

// Direct port I/O when the kernel grants ioperm (root or CAP_SYS_RAWIO, no
// lockdown): the only route that sees the real control register; the twelve
// standard ports and the four of every other usable kernel port are granted
// here, while the process may still do so. Otherwise ppdev, when at least one
// /dev/parportN opens and claims. Otherwise none.
PortRoute OpenLinuxPortRoute(const KernelPortPaths& paths = {});
// The same with the providers given; tests pass fakes.
PortRoute OpenLinuxPortRoute(const KernelPortPaths& paths, const DirectPlatformFactory& makeDirect,
                             std::unique_ptr<PpdevCalls> ppdevCalls);

class SimulatedPortPlatform;

// A route over simulated ports, whose kernel names the ports given; their ports
// and the standard ones are granted.
PortRoute OpenSimulatedPortRoute(std::unique_ptr<SimulatedPortPlatform> platform, std::vector<KernelPort> kernelPorts);
// The ports of velkaro-sim: 0x378 with a loopback plug, 0x278 with a device
// whose ACK line pulses once a second, and a card at 0xE010 that only the
// simulated kernel's port list names, with serial and step traffic. Their
// latches and clock are the simulated machine of that name, shared with every
// process that uses it (private where it cannot be shared: then notice says
// why; and with an empty name). The transfer log is off.
PortRoute OpenSimulatedPortRoute(const std::string& machineName, std::string& notice);
// The same on the user's machine (SimulatedMachine::defaultName), its notice on standard error.
PortRoute OpenSimulatedPortRoute();
