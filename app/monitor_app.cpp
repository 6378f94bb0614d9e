#include "monitor_app.h"

#include "page_arrow.h"
#include "port_channel.h"
#include "program_title.h"
#include "qt_desktop_services.h"
#include "settings_file.h"
#include "tform1.h"
#include "tform2.h"

#include <QApplication>
#include <QFont>

#include <memory>

void setUpProgramLook()
{
    // The windows are laid out for "MS Sans Serif" and "arial" at 8 points;
    // Liberation Sans has Arial's metrics.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    QApplication::setWindowIcon(programIcon());
}

int runMonitor(PortChannel& channel, const std::vector<std::string>& channelMessages, const QString& windowTitle)
{
    QtDesktopServices desktop;
    for (const std::string& text : channelMessages)
        desktop.showMessage(nullptr, ProgramTitle(), QString::fromStdString(text),
                            DesktopServices::Icon::Information);
    if (!channel.PortChannelReady()) {
        channel.ClosePortChannel();
        return 1;
    }

    setUpProgramLook();
    const SettingsFile settings(SettingsFile::defaultPath());
    auto form1 = std::make_unique<TForm1>(channel, desktop, settings);
    auto form2 = std::make_unique<TForm2>(channel, desktop, settings);
    form1->setBitSettingWindow(form2.get());
    form1->setWindowTitle(windowTitle);
    // Qt lets no tool window end the program by itself; closing this one must.
    QObject::connect(form1.get(), &TForm1::closed, qApp, &QApplication::quit);
    form1->show();

    const int status = QApplication::exec();

    channel.ClosePortChannel();
    form1->setBitSettingWindow(nullptr);
    form2.reset();
    form1.reset();
    return status;
}
