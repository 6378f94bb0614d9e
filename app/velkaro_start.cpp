#include "velkaro_start.h"

#include "monitor_app.h"
#include "port_route.h"
#include "privilege_drop.h"

#include <QApplication>

#include <cstdio>
#include <string>

int runVelkaro(int& argc, char** argv)
{
    // The route's grants need the privileges that are given up right after.
    PortRoute route = OpenLinuxPortRoute();

    std::string failure;
    if (!DropPrivileges(failure)) {
        // The toolkit never starts with a privilege; there is no window to say so in.
        std::fprintf(stderr, "velkaro: %s\n", failure.c_str());
        route.channel->ClosePortChannel();
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velkaro"));
    return runMonitor(route);
}
