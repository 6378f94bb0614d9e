#include "linux_port_platform.h"
#include "monitor_app.h"
#include "port_channel.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

// Starting the real program where the kernel grants no I/O ports: the reason
// is shown, and the program ends with a failure status and no window.
class tst_program_start : public QObject {
    Q_OBJECT

private slots:
    void withoutPortPermissionsTheProgramEndsWithItsMessage()
    {
        std::vector<std::string> messages;
        LinuxPortPlatform platform([&messages](const std::string& text) { messages.push_back(text); });
        PortChannel channel(platform);
        channel.OpenPortChannel();
        if (channel.PortChannelReady())
            QSKIP("this kernel grants I/O ports to the test");
        QCOMPARE(messages.size(), std::size_t(1));

        QStringList shown;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown << box->windowTitle() + "|" + box->text();
                box->accept();
            }
        });
        closer.start(10);

        const int status = runMonitor(channel, messages, QStringLiteral("Velkaro "));
        QCOMPARE(status, 1);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0], QStringLiteral("Velkaro |") + QString::fromStdString(messages[0]));
        for (QWidget* window : QApplication::topLevelWidgets())
            QVERIFY2(window->objectName() != QLatin1String("Form1"), "a main window was created");
        QVERIFY(!channel.deviceOpen());
    }
};

QTEST_MAIN(tst_program_start)
#include "tst_program_start.moc"
