#include "simulated_port_platform.h"

SimulatedParallelPort& SimulatedPortPlatform::addPort(std::uint16_t base)
{
    m_ports.push_back(std::make_unique<SimulatedParallelPort>(base));
    return *m_ports.back();
}

SimulatedParallelPort& SimulatedPortPlatform::addPort(std::uint16_t base, SimulatedLatches& latches)
{
    m_ports.push_back(std::make_unique<SimulatedParallelPort>(base, latches));
    return *m_ports.back();
}

SimulatedParallelPort* SimulatedPortPlatform::port(std::uint16_t base)
{
    for (auto& port : m_ports)
        if (port->base() == base)
            return port.get();
    return nullptr;
}

std::vector<SimulatedPortPlatform::Access> SimulatedPortPlatform::writes() const
{
    std::vector<Access> result;
    for (const Access& access : m_log)
        if (access.kind == Access::Write)
            result.push_back(access);
    return result;
}

SimulatedParallelPort* SimulatedPortPlatform::portAt(std::uint16_t address, int& offset)
{
    for (auto& port : m_ports) {
        const int distance = address - port->base();
        if (distance >= 0 && distance < 4) {
            offset = distance;
            return port.get();
        }
    }
    return nullptr;
}

void SimulatedPortPlatform::record(Access::Kind kind, std::uint16_t port, int width, std::uint32_t value)
{
    if (m_logging)
        m_log.push_back({kind, port, width, value});
}

bool SimulatedPortPlatform::requestPortAccess(Handle, std::uint16_t port)
{
    record(Access::Grant, port, 0, 0);
    return true;
}

std::uint8_t SimulatedPortPlatform::inByte(std::uint16_t address)
{
    int offset = 0;
    SimulatedParallelPort* port = portAt(address, offset);
    const std::uint8_t value = port ? port->read(offset) : 0xFF;
    record(Access::Read, address, 8, value);
    return value;
}

void SimulatedPortPlatform::outByte(std::uint16_t address, std::uint8_t value)
{
    int offset = 0;
    if (SimulatedParallelPort* port = portAt(address, offset))
        port->write(offset, value);
    record(Access::Write, address, 8, value);
}

std::uint32_t SimulatedPortPlatform::inDword(std::uint16_t address)
{
    std::uint32_t value = 0xFFFFFFFF;
    if (m_dwordReads == DwordReads::FourRegisters) {
        int offset = 0;
        SimulatedParallelPort* port = portAt(address, offset);
        if (port && offset == 0) {
            value = port->readAll();
        } else {
            value = 0;
            for (int n = 0; n < 4; ++n) {
                int byteOffset = 0;
                const auto byteAddress = static_cast<std::uint16_t>(address + n);
                SimulatedParallelPort* bytePort = portAt(byteAddress, byteOffset);
                value |= static_cast<std::uint32_t>(bytePort ? bytePort->read(byteOffset) : 0xFF) << (8 * n);
            }
        }
    }
    record(Access::Read, address, 32, value);
    return value;
}

std::optional<int> SimulatedPortPlatform::takeInterrupts(std::uint16_t base)
{
    SimulatedParallelPort* simulated = port(base);
    if (!simulated)
        return std::nullopt;
    return simulated->takeInterrupts();
}
