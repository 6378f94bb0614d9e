// Runs velkaro's own start (the route, the privilege drop, the windows) in a
// QEMU guest as a user in group lp without any privilege, on a kernel in
// lockdown, and looks from inside its event loop at what that user gets: the
// window opens on the port at 0x378 through ppdev, its port menu lists the card
// at 0xE010, and a click on pin D0 changes the port's data register. Prints
// TAP, as the port guest does.

#include "guest_report.h"
#include "pin_shape.h"
#include "popup_menu.h"
#include "port_probe.h"
#include "port_route.h"
#include "tform1.h"
#include "velkaro_start.h"

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <QtTest>


namespace {

Report report;
int dataAfterClick = -1;

TForm1* shownWindow()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* form = qobject_cast<TForm1*>(window); form && form->isVisible())
            return form;
    return nullptr;
}

QStringList portEntries(const QMenu* menu)
{
    QStringList entries;
    for (const QAction* action : menu->actions())
        entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return entries.mid(1); // after "&Bitsetzung..."
}

void checkWindow(TForm1& form)
{
    report.check(form.windowTitle() == QStringLiteral("Velkaro  (ppdev)"), "the window opens, through ppdev",
                 form.windowTitle().toStdString());
    report.check(form.PortBase == 0x378 && form.PortLabel[0]->caption() == QStringLiteral("378"),
                 "it shows the port at 0x378", form.PortLabel[0]->caption().toStdString());
    const QStringList entries = portEntries(form.PopupMenu3);
    report.check(entries == QStringList{"-", "378", "E010"}, "its port menu lists 378, then the card E010",
                 entries.join(' ').toStdString());
    report.check(form.PortDec[2]->toolTip().contains(QStringLiteral("Through ppdev")),
                 "the control row's hint says what ppdev cannot show", form.PortDec[2]->toolTip().toStdString());

    const int before = form.PortDec[0]->caption().toInt();
    QTest::mousePress(form.pin("D0"), Qt::LeftButton);
    dataAfterClick = form.PortDec[0]->caption().toInt();
    report.check(dataAfterClick == (before ^ 0x01), "a click on pin D0 toggles data bit 0 as the window reads it back",
                 std::to_string(before) + " -> " + std::to_string(dataAfterClick));
    form.close();
}

// Installed as the application starts: waits for the window, checks it, closes it.
void watchForTheWindow()
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll] {
        if (TForm1* form = shownWindow()) {
            poll->stop();
            checkWindow(*form);
        }
    });
    poll->start(50);
    QTimer::singleShot(60000, qApp, [] {
        report.check(false, "the window appears within a minute");
        QApplication::exit(2);
    });
}
Q_COREAPP_STARTUP_FUNCTION(watchForTheWindow)

}

int main(int argc, char** argv)
{
    report.check(becomeUserInGroupLp(), "the guest runs velkaro as a user in group lp");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", "/tmp/velkaro-user/config");
    qputenv("XDG_CACHE_HOME", "/tmp/velkaro-user/cache");

    const int status = runVelkaro(argc, argv);
    report.check(status == 0, "velkaro ends normally", "exit status " + std::to_string(status));

    // Through a route of its own, after velkaro has released the port: the click reached the hardware.
    PortRoute route = OpenLinuxPortRoute();
    const int data = route.kind == PortRoute::Kind::Ppdev ? route.channel->ReadPortByte(0x378) : -1;
    report.check(data == dataAfterClick, "the data register holds what the window showed after the click",
                 "reads " + std::to_string(data));
    route.channel->ClosePortChannel();
    return report.finish();
}
