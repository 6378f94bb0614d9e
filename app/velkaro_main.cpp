// velkaro: the monitor on the machine's real parallel ports.
#include "linux_port_platform.h"
#include "monitor_app.h"
#include "port_channel.h"

#include <QApplication>

int main(int argc, char** argv)
{
    std::vector<std::string> channelMessages; // shown once the toolkit exists
    LinuxPortPlatform platform([&](const std::string& text) { channelMessages.push_back(text); });
    PortChannel channel(platform);
    channel.OpenPortChannel();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velkaro"));
    return runMonitor(channel, channelMessages, QStringLiteral("Velkaro "));
}
