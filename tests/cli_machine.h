#pragma once

// One run of velkaro-cli inside the test over a simulated machine of the
// test's making, and readings of what it printed.
#include "cli_run.h"
#include "port_route.h"
#include "simulated_devices.h"
#include "simulated_port_platform.h"
#include "simulated_port_route.h"

#include <QStandardPaths>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

// The machine a run of velkaro-cli sees: 0x378 and 0x278 answer the probe;
// the kernel's list may name those and others.
struct Machine {
    std::uint8_t control = 0x04; // of 0x378
    std::uint8_t data = 0x00;    // of 0x378
    SimulatedDevice* device378 = nullptr;
    std::vector<KernelPort> kernelPorts; // those not at 0x378 or 0x278 get a simulated port
    std::vector<KernelPort> heldPorts;
    PortRoute::Kind kind = PortRoute::Kind::Simulated;
    SimulatedPortPlatform::DwordReads dwordReads = SimulatedPortPlatform::DwordReads::FourRegisters;
};

// 0x378 with its control and data registers and a device on it.
inline Machine withDevice(std::uint8_t control, std::uint8_t data, SimulatedDevice* device)
{
    Machine machine;
    machine.control = control;
    machine.data = data;
    machine.device378 = device;
    return machine;
}

// One run of velkaro-cli over a simulated machine.
struct CliRun : CliOutcome {
    explicit CliRun(const QStringList& arguments, std::uint8_t control = 0x04, SimulatedDevice* device378 = nullptr)
        : CliRun(arguments, withDevice(control, 0x00, device378))
    {
    }

    CliRun(const QStringList& arguments, const Machine& machine)
    {
        std::vector<std::string> args;
        for (const QString& argument : arguments)
            args.push_back(argument.toStdString());
        static_cast<CliOutcome&>(*this) = RunCliCaptured(args, [&](bool) {
            auto platform = std::make_unique<KeptLogPlatform>(log);
            platform->setDwordReads(machine.dwordReads);
            SimulatedParallelPort& port = platform->addPort(0x378);
            port.write(0, machine.data);
            port.write(2, machine.control);
            if (machine.device378)
                port.attach(std::unique_ptr<SimulatedDevice>(machine.device378));
            platform->addPort(0x278).attach(std::make_unique<PulsingAckDevice>(clock));
            for (const KernelPort& kernel : machine.kernelPorts)
                if (kernel.base != 0x378 && kernel.base != 0x278)
                    platform->addPort(kernel.base);
            platform->clearLog();
            PortRoute route = OpenSimulatedPortRoute(std::move(platform), machine.kernelPorts);
            route.heldPorts = machine.heldPorts;
            route.kind = machine.kind;
            return route;
        });
    }

    QList<SimulatedPortPlatform::Access> writes() const { return WritesIn(log); }

    // A clock for the pulsing ACK line that moves a millisecond per read.
    std::int64_t now = 0;
    PulsingAckDevice::Clock clock = [this] { return now++; };
    std::vector<SimulatedPortPlatform::Access> log;
};

// The records of a watch's CSV: its rows after the comment and the column names.
inline QStringList CsvRecords(const QString& output)
{
    QStringList rows = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    rows.removeIf([](const QString& row) { return row.startsWith(QStringLiteral("# not sampled from ")); }); // a loaded machine's
    return rows.mid(2);
}

// The data register of a CSV record.
inline int CsvData(const QString& row)
{
    return row.section(QLatin1Char(','), 2, 2).toInt();
}

// sigrok-cli, where it is installed.
inline QString SigrokCli()
{
    return QStandardPaths::findExecutable(QStringLiteral("sigrok-cli"));
}
