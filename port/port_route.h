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

// Grants what a route reaches: the standard ports, the four of each other
// kernel port, and each ECP chip's extended control register (base_hi + 2).
void GrantRoutePorts(PortRoute& route);
