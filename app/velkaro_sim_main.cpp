// velkaro-sim: the same program over simulated ports.
#include "monitor_app.h"
#include "port_channel.h"
#include "program_title.h"
#include "simulated_port_platform.h"
#include "velkaro_sim_ports.h"

#include <QApplication>

int main(int argc, char** argv)
{
    SimulatedPortPlatform platform;
    platform.setLogging(false);
    addVelkaroSimPorts(platform);
    PortChannel channel(platform);
    channel.OpenPortChannel();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velkaro"));
    return runMonitor(channel, {}, ProgramTitle() + QStringLiteral(" (simulated ports)"));
}
