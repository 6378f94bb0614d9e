#include "velkaro_start.h"

#include "monitor_app.h"
#include "port_route.h"
#include "privilege_drop.h"
#include "realtime_spawner.h"
#include "simulated_port_route.h"

#include <QApplication>

#include <cstdio>
#include <string>

namespace {

// False, with the reason on stderr, when a privilege could not be given up:
// the toolkit never starts with one, and there is no window to say so in.
// What real-time sampling can have without a privilege is kept, for the
// program's life.
bool dropPrivileges(const char* program)
{
    static const std::unique_ptr<RealtimeSpawner> spawner = KeepRealtimeSampling();
    std::string failure;
    if (DropPrivileges(failure, spawner ? 1 : 0))
        return true;
    std::fprintf(stderr, "%s: %s\n", program, failure.c_str());
    return false;
}

// The toolkit and the windows under the program's own name. Qt on X11 takes
// the window class from the application name (and the instance from argv[0]);
// Wayland's app id is the desktop file name. The desktop entries name the same,
// so a dock tells velkaro and velkaro-sim apart.
int runWindows(int& argc, char** argv, const char* program, const char* desktopFile, PortRoute& route)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(program));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(desktopFile));
    return runMonitor(route);
}

}

int runVelkaro(int& argc, char** argv)
{
    // The route's grants need the privileges that are given up right after.
    PortRoute route = OpenLinuxPortRoute();
    if (!dropPrivileges("velkaro")) {
        route.channel->ClosePortChannel();
        return 1;
    }
    return runWindows(argc, argv, "velkaro", VELKARO_APP_ID, route);
}

int runVelkaroSim(int& argc, char** argv)
{
    if (!dropPrivileges("velkaro-sim"))
        return 1;
    PortRoute route = OpenSimulatedPortRoute();
    return runWindows(argc, argv, "velkaro-sim", VELKARO_APP_ID "-sim", route);
}
