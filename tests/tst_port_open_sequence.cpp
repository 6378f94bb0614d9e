#include "port_channel.h"
#include "scripted_port_platform.h"

#include <QtTest>

#include <functional>

using Step = ScriptedPortPlatform::Step;
using Script = std::function<void(ScriptedPortPlatform&)>;
Q_DECLARE_METATYPE(Script)

namespace {
const QString ExtractFailed = "Unable to extract XUD.SYS. Log in as a user who has such permission.";
const QString ServiceFailed = "Unable to extract XUD.SYS. Log in as a user who has such permission";
const QString DeviceFailed = "The XUD.SYS service is present, but the driver cannot be connected to.";
const QString DriversDir = QString(ScriptedPortPlatform::SystemDir) + "\\drivers";
const QString DriverFile = DriversDir + "\\xud.sys";

// The driver is not running, so the first device open fails.
void stopped(ScriptedPortPlatform& platform)
{
    platform.failOn(Step::OpenDevice);
}

// Writing the driver file with the drivers directory made writable meanwhile.
QStringList extraction()
{
    return {"driverImage", "setFileAttributes(" + DriversDir + ", 0x20)", "writeFile(" + DriverFile + ")",
            "setFileAttributes(" + DriversDir + ", 0x11)", "releaseDriverImage"};
}
}

class tst_port_open_sequence : public QObject {
    Q_OBJECT

private slots:
    void failureTable_data();
    void failureTable();
    void callSequence_data();
    void callSequence();
    void driverFileHoldsImage();
    void transfersAfterOpen_data();
    void transfersAfterOpen();
};

void tst_port_open_sequence::failureTable_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("ready");

    QTest::newRow("device opens at once") << Script([](ScriptedPortPlatform&) {}) << QString() << true;
    QTest::newRow("registered but stopped driver is started") << Script(stopped) << QString() << true;
    QTest::newRow("driver file cannot be written")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.failOn(Step::WriteFile); }) << ExtractFailed << false;
    QTest::newRow("driver image resource missing")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.imageMissing = true; }) << ExtractFailed << false;
    QTest::newRow("driver file written short")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.shortWrite = true; }) << ExtractFailed << false;
    QTest::newRow("service manager cannot be opened")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.failOn(Step::OpenServiceManager); }) << QString() << false;
    QTest::newRow("unregistered service is created and started")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.failOn(Step::OpenService); }) << QString() << true;
    QTest::newRow("service neither opened nor created")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.failOn(Step::OpenService); p.failOn(Step::CreateService); })
        << ServiceFailed << false;
    QTest::newRow("start failed, second start succeeds")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.failOn(Step::StartService); }) << QString() << true;
    QTest::newRow("start failed, service cannot be created again")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.failOn(Step::StartService); p.failOn(Step::CreateService); })
        << ServiceFailed << false;
    QTest::newRow("created service fails to start and cannot be created again")
        << Script([](ScriptedPortPlatform& p) {
               stopped(p);
               p.failOn(Step::OpenService);
               p.failOn(Step::StartService);
               p.failOn(Step::CreateService, {2});
           })
        << ServiceFailed << false;
    QTest::newRow("start failed twice")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.failOn(Step::StartService, {1, 2}); p.errorCode = 1056; })
        << "Unable to start the XUD.SYS service. Error code = 1056" << false;
    QTest::newRow("service started, device still cannot be opened")
        << Script([](ScriptedPortPlatform& p) { p.failOn(Step::OpenDevice, {1, 2}); }) << DeviceFailed << false;
}

void tst_port_open_sequence::failureTable()
{
    QFETCH(Script, script);
    QFETCH(QString, message);
    QFETCH(bool, ready);

    ScriptedPortPlatform platform;
    script(platform);
    PortChannel channel(platform);
    channel.OpenPortChannel();

    QCOMPARE(channel.PortChannelReady(), ready);
    QCOMPARE(channel.deviceOpen(), ready);
    QCOMPARE(platform.messages, message.isEmpty() ? QStringList() : QStringList{message});
    // Every service and manager handle is closed; only a ready channel keeps its device.
    QCOMPARE(platform.openHandles(), ready ? 1 : 0);
    QVERIFY(!platform.imageLoaded());

    const qsizetype callsBeforeClose = platform.calls.size();
    channel.ClosePortChannel();
    const QStringList closing = platform.calls.mid(callsBeforeClose);
    QCOMPARE(closing.size(), ready ? 1 : 0);
    if (ready)
        QVERIFY(closing.first().startsWith("closeDevice("));
    QCOMPARE(platform.openHandles(), 0);
    QCOMPARE(platform.misuses, QStringList());
}

void tst_port_open_sequence::callSequence_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QStringList>("actions");

    const QStringList start = QStringList{"openDevice"} + extraction() + QStringList{"openServiceManager", "openService(#1)"};
    const QStringList finish = {"closeServiceHandle(#1)", "openDevice"};

    QTest::newRow("already running: no file, no service call")
        << Script([](ScriptedPortPlatform&) {}) << QStringList{"openDevice"};
    QTest::newRow("stopped: file rewritten, service found and started")
        << Script(stopped) << start + QStringList{"startService(#2)", "closeServiceHandle(#2)"} + finish;
    QTest::newRow("not registered: service created")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.failOn(Step::OpenService); })
        << start + QStringList{"createService(#1, " + DriverFile + ")", "startService(#2)", "closeServiceHandle(#2)"} + finish;
    QTest::newRow("start failed: deleted, recreated, started again")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.failOn(Step::StartService); })
        << start + QStringList{"startService(#2)", "deleteService(#2)", "closeServiceHandle(#2)",
                               "createService(#1, " + DriverFile + ")", "startService(#3)", "closeServiceHandle(#3)"} + finish;
    QTest::newRow("start failed twice: error code taken before closing")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.failOn(Step::StartService, {1, 2}); })
        << start + QStringList{"startService(#2)", "deleteService(#2)", "closeServiceHandle(#2)",
                               "createService(#1, " + DriverFile + ")", "startService(#3)", "lastError",
                               "closeServiceHandle(#3)", "closeServiceHandle(#1)", "showMessage"};
    QTest::newRow("manager refused: no service call, no message")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.failOn(Step::OpenServiceManager); })
        << QStringList{"openDevice"} + extraction() + QStringList{"openServiceManager"};
    QTest::newRow("file not written: no service call")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.failOn(Step::WriteFile); })
        << QStringList{"openDevice"} + extraction() + QStringList{"showMessage"};
    QTest::newRow("image missing: directory and file untouched")
        << Script([](ScriptedPortPlatform& p) { stopped(p); p.imageMissing = true; })
        << QStringList{"openDevice", "driverImage", "showMessage"};
}

void tst_port_open_sequence::callSequence()
{
    QFETCH(Script, script);
    QFETCH(QStringList, actions);

    ScriptedPortPlatform platform;
    script(platform);
    PortChannel channel(platform);
    channel.OpenPortChannel();

    QCOMPARE(platform.actions(), actions);
}

void tst_port_open_sequence::driverFileHoldsImage()
{
    ScriptedPortPlatform platform;
    stopped(platform);
    PortChannel channel(platform);
    channel.OpenPortChannel();

    QVERIFY(channel.PortChannelReady());
    QVERIFY(platform.written == platform.image);
    QCOMPARE(platform.directoryAttributes, 0x11u);
}

void tst_port_open_sequence::transfersAfterOpen_data()
{
    QTest::addColumn<PortPlatform::Family>("family");
    QTest::addColumn<bool>("deviceOpen");
    QTest::addColumn<QStringList>("actions");

    QTest::newRow("driver: first use of each port is granted through the device")
        << PortPlatform::Family::Driver << true
        << QStringList{"openDevice", "requestPortAccess(#1, 0x378)", "inByte(0x378)", "requestPortAccess(#1, 0x379)",
                       "inByte(0x379)", "requestPortAccess(#1, 0x37A)", "outByte(0x37A, 0x5A)", "inDword(0x378)"};
    QTest::newRow("unrestricted: no device, explicit grant still sent, none on first use")
        << PortPlatform::Family::Unrestricted << false
        << QStringList{"requestPortAccess(none, 0x378)", "inByte(0x378)", "inByte(0x379)", "outByte(0x37A, 0x5A)",
                       "inDword(0x378)"};
}

void tst_port_open_sequence::transfersAfterOpen()
{
    QFETCH(PortPlatform::Family, family);
    QFETCH(bool, deviceOpen);
    QFETCH(QStringList, actions);

    ScriptedPortPlatform platform;
    platform.family = family;
    PortChannel channel(platform);
    channel.OpenPortChannel();
    QVERIFY(channel.PortChannelReady());
    QCOMPARE(channel.deviceOpen(), deviceOpen);

    channel.GrantPort(0x378);
    channel.ReadPortByte(0x378);
    channel.ReadPortByte(0x379);
    channel.WritePortByte(0x37A, 0x5A);
    channel.ReadPortDword(0x378);

    QCOMPARE(platform.actions(), actions);
    QVERIFY(channel.granted(0x378));
    QCOMPARE(channel.granted(0x379), deviceOpen);
    QCOMPARE(platform.messages, QStringList());

    channel.ClosePortChannel();
    QCOMPARE(platform.openHandles(), 0);
    QCOMPARE(platform.misuses, QStringList());
}

QTEST_APPLESS_MAIN(tst_port_open_sequence)
#include "tst_port_open_sequence.moc"
