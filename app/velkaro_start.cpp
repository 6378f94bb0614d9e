#include "velkaro_start.h"

#include "linux_port_platform.h"
#include "monitor_app.h"
#include "port_channel.h"
#include "privilege_drop.h"
#include "program_title.h"

#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

int runVelkaro(int& argc, char** argv)
{
    std::vector<std::string> channelMessages; // shown once the toolkit exists, unprivileged
    LinuxPortPlatform platform([&](const std::string& text) { channelMessages.push_back(text); });
    PortChannel channel(platform);
    OpenChannelAndGrantStandardPorts(channel);

    std::string failure;
    if (!DropPrivileges(failure)) {
        // The toolkit never starts with a privilege; there is no window to say so in.
        std::fprintf(stderr, "velkaro: %s\n", failure.c_str());
        channel.ClosePortChannel();
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velkaro"));
    return runMonitor(channel, channelMessages, ProgramTitle());
}
