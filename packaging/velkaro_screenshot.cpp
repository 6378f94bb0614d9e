// velkaro-screenshot FILE.png: the picture the AppStream metainfo shows. It is
// velkaro-sim's main window, drawn by the program as built on the offscreen
// platform at twice its size, so that it never falls behind the program.
#include "monitor_app.h"
#include "port_route.h"
#include "qt_desktop_services.h"
#include "settings_file.h"
#include "simulated_port_platform.h"
#include "tform1.h"

#include <QApplication>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: velkaro-screenshot FILE.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "2");

    std::string notice;
    PortRoute route = OpenSimulatedPortRoute({}, notice); // private: a running velkaro-sim keeps its state
    // D0, D2 and D4 high: the loopback plug lights Err, PaperOut and Busy with them.
    static_cast<SimulatedPortPlatform&>(*route.platform).port(0x378)->setDataLatch(0x15);

    QApplication app(argc, argv);
    setUpProgramLook();
    QtDesktopServices desktop;
    const QTemporaryDir settingsDir; // the default settings, never the user's
    const SettingsFile settings(settingsDir.filePath(QStringLiteral("parport.ini")));
    TForm1 form(*route.channel, desktop, settings, NonStandardBases(route.kernelPorts));
    const bool saved = form.grab().save(QString::fromLocal8Bit(argv[1]));
    route.channel->ClosePortChannel();
    return saved ? 0 : 1;
}
