#include "simulated_port_route.h"

#include "serial_step_card.h"
#include "simulated_devices.h"
#include "simulated_machine.h"
#include "simulated_port_platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The plug in 378: the five-wire one, or another chosen by VELKARO_SIM_PLUG
// (for trying the self-test on a control-line plug, a faulty one or none).
// An unknown choice keeps the five-wire plug and says so.
std::unique_ptr<SimulatedDevice> plugIn378(std::string& notice)
{
    const char* chosen = std::getenv("VELKARO_SIM_PLUG");
    if (!chosen || !*chosen || std::strcmp(chosen, "five-wire") == 0)
        return std::make_unique<LoopbackPlug>();
    if (std::strcmp(chosen, "control") == 0)
        return std::make_unique<ControlLoopbackPlug>();
    if (std::strcmp(chosen, "faulty") == 0)
        return std::make_unique<FaultyLoopbackPlug>();
    if (std::strcmp(chosen, "none") != 0)
        notice += std::string(notice.empty() ? "" : "; ") + "VELKARO_SIM_PLUG=" + chosen +
                  " is no plug (five-wire, control, faulty or none): the five-wire plug is in 378";
    return std::strcmp(chosen, "none") == 0 ? nullptr : std::make_unique<LoopbackPlug>();
}

// Simulated ports whose latches and clock are a simulated machine's, which it keeps.
class MachinePortPlatform : public SimulatedPortPlatform {
public:
    MachinePortPlatform(std::unique_ptr<SimulatedMachine> machine, std::string& notice) : m_machine(std::move(machine))
    {
        setLogging(false);
        SimulatedMachine* const clock = m_machine.get();
        const auto portOf = [this](std::size_t index) -> SimulatedParallelPort& {
            return addPort(SimulatedMachine::Bases[index], m_machine->latches(index));
        };
        portOf(0).attach(plugIn378(notice));
        portOf(1).attach(std::make_unique<SpiSensor>([clock] { return clock->clockNanoseconds(); }));
        portOf(2).attach(std::make_unique<SerialStepCard>([clock] { return clock->clockNanoseconds(); }));
    }

private:
    std::unique_ptr<SimulatedMachine> m_machine;
};

}

PortRoute OpenSimulatedPortRoute(std::unique_ptr<SimulatedPortPlatform> platform, std::vector<KernelPort> kernelPorts)
{
    PortRoute route;
    route.kind = PortRoute::Kind::Simulated;
    route.platform = std::move(platform);
    route.channel = std::make_unique<PortChannel>(*route.platform);
    route.channel->OpenPortChannel();
    route.kernelPorts = std::move(kernelPorts);
    GrantRoutePorts(route);
    return route;
}

PortRoute OpenSimulatedPortRoute(const std::string& machineName, std::string& notice)
{
    auto machine = machineName.empty() ? SimulatedMachine::makePrivate()
                                       : SimulatedMachine::attach(machineName, std::chrono::milliseconds(500), notice);
    const auto kernelPort = [](int number, std::uint16_t base, std::uint16_t extendedBase, int irq, const char* modes) {
        KernelPort port;
        port.number = number;
        port.base = base;
        port.extendedBase = extendedBase;
        port.irq = irq;
        port.modes = modes;
        return port;
    };
    return OpenSimulatedPortRoute(std::make_unique<MachinePortPlatform>(std::move(machine), notice),
                                  {kernelPort(0, 0x378, 0, 7, "PCSPP,TRISTATE"), kernelPort(1, 0x278, 0, 5, "PCSPP,TRISTATE"),
                                   kernelPort(2, 0xE010, 0xE410, 17, "PCSPP,TRISTATE,EPP,ECP")});
}

PortRoute OpenSimulatedPortRoute()
{
    std::string notice;
    PortRoute route = OpenSimulatedPortRoute(SimulatedMachine::defaultName(), notice);
    if (!notice.empty())
        std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, notice.c_str());
    return route;
}
