// velkaro-sim: the same program over simulated ports — 0x378 with a loopback
// plug, 0x278 with a device whose ACK line pulses once a second.
#include "monitor_app.h"
#include "port_channel.h"
#include "program_title.h"
#include "simulated_port_platform.h"

#include <QApplication>

int main(int argc, char** argv)
{
    SimulatedPortPlatform platform;
    platform.setLogging(false);
    platform.addPort(0x378).attach(std::make_unique<LoopbackPlug>());
    platform.addPort(0x278).attach(std::make_unique<PulsingAckDevice>());
    PortChannel channel(platform);
    channel.OpenPortChannel();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velkaro"));
    return runMonitor(channel, {}, ProgramTitle() + QStringLiteral(" (simulated ports)"));
}
