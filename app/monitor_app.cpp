#include "monitor_app.h"

#include "page_arrow.h"
#include "port_route.h"
#include "program_title.h"
#include "qt_desktop_services.h"
#include "settings_file.h"
#include "tform1.h"
#include "tform2.h"

#include <QApplication>
#include <QFont>

#include <memory>

namespace {
// The caption says how the ports are reached, except on the ordinary direct route.
QString windowTitle(PortRoute::Kind kind)
{
    switch (kind) {
    case PortRoute::Kind::Simulated:
        return ProgramTitle() + QStringLiteral(" (simulated ports)");
    case PortRoute::Kind::Ppdev:
        return ProgramTitle() + QStringLiteral(" (ppdev)");
    default:
        return ProgramTitle();
    }
}
}

void setUpProgramLook()
{
    // The windows are laid out for "MS Sans Serif" and "arial" at 8 points;
    // Liberation Sans has Arial's metrics.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    QApplication::setWindowIcon(programIcon());
}

int runMonitor(PortRoute& route)
{
    QtDesktopServices desktop;
    if (route.kind == PortRoute::Kind::None) {
        desktop.showMessage(nullptr, ProgramTitle(), QString::fromStdString(route.failure),
                            DesktopServices::Icon::Information);
        route.channel->ClosePortChannel();
        return 1;
    }

    setUpProgramLook();
    const SettingsFile settings(SettingsFile::defaultPath());
    auto form1 = std::make_unique<TForm1>(*route.channel, desktop, settings, NonStandardBases(route.kernelPorts));
    auto form2 = std::make_unique<TForm2>(*route.channel, desktop, settings);
    form1->setBitSettingWindow(form2.get());
    form1->setWindowTitle(windowTitle(route.kind));
    form1->setPortAccess([&route](std::uint16_t base) { return PortAccessText(route, base); });
    form1->setKernelPorts(route.kernelPorts);
    if (route.kind == PortRoute::Kind::Ppdev)
        form1->noteControlRowLimits(QStringLiteral(
            "Through ppdev: bits 0-3 as the driver holds them, bit 5 as set here; bits 4, 6 and 7 show 0"));
    // Qt lets no tool window end the program by itself; closing this one must.
    QObject::connect(form1.get(), &TForm1::closed, qApp, &QApplication::quit);
    form1->show();

    const int status = QApplication::exec();

    form1->stopSampling();
    route.channel->ClosePortChannel();
    form1->setBitSettingWindow(nullptr);
    form2.reset();
    form1.reset();
    return status;
}
