#include "linux_port_platform.h"
#include "monitor_app.h"
#include "port_route.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

// Starting the real program where the kernel grants no I/O ports and knows no
// parallel port: the ways out are shown, and the program ends with a failure
// status and no window.
class tst_program_start : public QObject {
    Q_OBJECT

private slots:
    void withoutAnyRouteTheProgramEndsWithItsMessage()
    {
        QTemporaryDir emptyKernel;
        KernelPortPaths paths;
        paths.procParport = paths.sysPpdev = paths.lockdown = emptyKernel.path().toStdString();
        PortRoute route = OpenLinuxPortRoute(paths);
        if (route.kind != PortRoute::Kind::None)
            QSKIP("this kernel grants I/O ports to the test");

        QStringList shown;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown << box->windowTitle() + "|" + box->text();
                box->accept();
            }
        });
        closer.start(10);

        QCOMPARE(runMonitor(route), 1);
        QCOMPARE(shown, QStringList{QStringLiteral("Velkaro |") + QString::fromStdString(route.failure)});
        QVERIFY(shown[0].contains(QStringLiteral("sudo modprobe parport_pc ppdev")));
        for (QWidget* window : QApplication::topLevelWidgets())
            QVERIFY2(window->objectName() != QLatin1String("Form1"), "a main window was created");
        QVERIFY(!route.channel->deviceOpen());
    }
};

QTEST_MAIN(tst_program_start)
#include "tst_program_start.moc"
