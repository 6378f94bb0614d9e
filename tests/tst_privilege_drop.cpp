#include "linux_port_platform.h"
#include "process_status.h"
#include "velkaro_start.h"

#include <QApplication>
#include <QFile>
#include <QMap>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cerrno>

#if defined(__i386__) || defined(__x86_64__)
#include <sys/io.h>
#endif

// The real start-up of velkaro, run once by this program's main() before any
// test: giving up privileges cannot be undone, so one process is one start.
namespace {

bool holds(const ProcessStatus& status, const char* set, int capability)
{
    return capabilities(status, set) & (1ull << capability);
}

// The provider with its kernel call opened up, to ask the kernel before the start.
class KernelQuery : public LinuxPortPlatform {
public:
    KernelQuery() : LinuxPortPlatform([](const std::string&) {}) {}
    using LinuxPortPlatform::ioperm;
};

struct StartUp {
    ProcessStatus before;  // as the test program began
    ProcessStatus toolkit; // when the program created its QApplication
    QList<ProcessStatus> shown; // at each message box and at the main window
    QStringList messages;
    bool windowShown = false;
    int kernelRefusal = 0; // errno of a port grant before the start; 0 when granted
    int status = -1;
};
StartUp startUp;

// Runs inside the program's QApplication constructor: notes the privileges the
// toolkit starts with, then answers every message box and closes the main window.
void watchToolkit()
{
    startUp.toolkit = processStatus();
    auto* closer = new QTimer(qApp);
    QObject::connect(closer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            startUp.shown << processStatus();
            startUp.messages << box->text();
            box->accept();
            return;
        }
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() == QLatin1String("Form1") && window->isVisible()) {
                startUp.shown << processStatus();
                startUp.windowShown = true;
                window->close();
            }
        }
    });
    closer->start(20);
}
Q_COREAPP_STARTUP_FUNCTION(watchToolkit)

constexpr int SysRawio = 17;
constexpr int SetPcap = 8;
const char* const CapabilitySets[] = {"CapInh", "CapPrm", "CapEff", "CapAmb"};
}

class tst_privilege_drop : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        if (!holds(startUp.before, "CapEff", SysRawio))
            QSKIP("started without CAP_SYS_RAWIO: there is no privilege to give up");
    }

    void toolkitStartsWithoutCapabilities()
    {
        for (const char* set : CapabilitySets)
            QVERIFY2(startUp.toolkit.value(QLatin1String(set)).toULongLong(nullptr, 16) == 0, set);
        QCOMPARE(startUp.toolkit.value(QStringLiteral("NoNewPrivs")), QStringLiteral("1"));
        if (holds(startUp.before, "CapEff", SetPcap))
            QCOMPARE(startUp.toolkit.value(QStringLiteral("CapBnd")).toULongLong(nullptr, 16), 0ull);

        const ProcessStatus now = processStatus();
        for (const char* set : CapabilitySets)
            QVERIFY2(now.value(QLatin1String(set)).toULongLong(nullptr, 16) == 0, set);
        QVERIFY(!startUp.shown.isEmpty());
        for (const ProcessStatus& status : std::as_const(startUp.shown))
            QCOMPARE(status.value(QStringLiteral("CapEff")).toULongLong(nullptr, 16), 0ull);
    }

    void refusedGrantsAreReportedAfterTheDrop()
    {
        if (startUp.kernelRefusal == 0)
            QSKIP("this kernel grants I/O ports");
        QCOMPARE(startUp.status, 1);
        QVERIFY(!startUp.windowShown);
        QCOMPARE(startUp.messages.size(), 1);
        QVERIFY(startUp.messages[0].startsWith(QString::fromStdString(LinuxPortPlatform::refusalText(startUp.kernelRefusal))));
    }

    void portsGrantedAtStartStayUsable()
    {
        if (startUp.kernelRefusal != 0)
            QSKIP("this kernel grants no I/O ports");
        QCOMPARE(startUp.status, 0);
        QVERIFY(startUp.windowShown);
        QVERIFY(startUp.messages.isEmpty());
        // Unprivileged now: a new grant is refused, and the ports granted at start still work
        // (without their permission bits these reads would be a SIGSEGV).
        KernelQuery query;
        QCOMPARE(query.ioperm(0x3BC, 1, 1), -1);
#if defined(__i386__) || defined(__x86_64__)
        for (const unsigned port : {0x378u, 0x37Bu, 0x27Au, 0x3BFu})
            (void)inb(static_cast<unsigned short>(port));
#endif
    }
};

int main(int argc, char** argv)
{
    startUp.before = processStatus();
    KernelQuery query;
    if (query.ioperm(0x378, 1, 1) == 0)
        query.ioperm(0x378, 1, 0);
    else
        startUp.kernelRefusal = errno;

    // The settings the program writes at its end stay out of the user's configuration.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    startUp.status = runVelkaro(argc, argv);

    tst_privilege_drop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_privilege_drop.moc"
