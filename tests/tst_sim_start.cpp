#include "process_status.h"
#include "velkaro_start.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

// The real start-up of velkaro-sim, run once by this program's main() before
// any test: giving up privileges cannot be undone, so one process is one start.
namespace {

struct StartUp {
    ProcessStatus before;  // as the test program began
    ProcessStatus toolkit; // when the program created its QApplication
    bool windowShown = false;
    QString applicationName; // as the main window showed
    QString desktopFileName;
    QString configHome;
    int status = -1;
};
StartUp startUp;

// Runs inside the program's QApplication constructor: notes the privileges the
// toolkit starts with, then the names the shown window carries, and closes it.
void watchToolkit()
{
    startUp.toolkit = processStatus();
    auto* closer = new QTimer(qApp);
    QObject::connect(closer, &QTimer::timeout, [] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() == QLatin1String("Form1") && window->isVisible()) {
                startUp.windowShown = true;
                startUp.applicationName = QCoreApplication::applicationName();
                startUp.desktopFileName = QGuiApplication::desktopFileName();
                window->close();
            }
        }
    });
    closer->start(20);
}
Q_COREAPP_STARTUP_FUNCTION(watchToolkit)
}

class tst_sim_start : public QObject {
    Q_OBJECT

private slots:
    void toolkitStartsWithoutCapabilities()
    {
        if (capabilities(startUp.before, "CapEff") == 0)
            QSKIP("started without capabilities: there is none to give up");
        for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
            QVERIFY2(capabilities(startUp.toolkit, set) == 0, set);
        QCOMPARE(startUp.toolkit.value(QStringLiteral("NoNewPrivs")), QStringLiteral("1"));
    }

    // A dock matches a window to its desktop entry by the X11 window class (the
    // application name) or the Wayland app id (the desktop file name).
    void windowCarriesTheNamesOfItsDesktopEntry()
    {
        QCOMPARE(startUp.status, 0);
        QVERIFY(startUp.windowShown);
        const QString entryPath = QStringLiteral(VELKARO_SIM_DESKTOP_ENTRY);
        QSettings entry(entryPath, QSettings::IniFormat);
        entry.beginGroup(QStringLiteral("Desktop Entry"));
        QCOMPARE(entry.value(QStringLiteral("Exec")).toString(), QStringLiteral("velkaro-sim"));
        QCOMPARE(startUp.applicationName, entry.value(QStringLiteral("StartupWMClass")).toString());
        QCOMPARE(startUp.desktopFileName + QStringLiteral(".desktop"), QFileInfo(entryPath).fileName());
    }

    void settingsAreVelkarosOwn()
    {
        QVERIFY(startUp.windowShown);
        QVERIFY(QFileInfo::exists(startUp.configHome + QStringLiteral("/velkaro/parport.ini")));
    }
};

int main(int argc, char** argv)
{
    startUp.before = processStatus();
    // The settings the program writes at its end stay out of the user's configuration.
    QTemporaryDir config;
    startUp.configHome = config.path();
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    startUp.status = runVelkaroSim(argc, argv);

    tst_sim_start test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sim_start.moc"
