#include "linux_port_platform.h"
#include "port_channel.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <set>

namespace {
LinuxPortPlatform::MessageSink recordInto(QStringList& messages)
{
    return [&messages](const std::string& text) { messages << QString::fromStdString(text); };
}

// A kernel that refuses every port permission with one errno.
class RefusingKernelPlatform : public LinuxPortPlatform {
public:
    RefusingKernelPlatform(int error, QStringList& messages) : LinuxPortPlatform(recordInto(messages)), m_error(error) {}
    int requests = 0;

protected:
    int ioperm(unsigned long, unsigned long, int) override
    {
        ++requests;
        errno = m_error;
        return -1;
    }

private:
    int m_error;
};

// A kernel that grants each listed port once and refuses every later request,
// as it does once the process has given up its capabilities.
class OnceGrantingKernelPlatform : public LinuxPortPlatform {
public:
    OnceGrantingKernelPlatform(std::set<unsigned long> grantable, QStringList& messages)
        : LinuxPortPlatform(recordInto(messages)), m_grantable(std::move(grantable))
    {
    }

protected:
    int ioperm(unsigned long from, unsigned long count, int turnOn) override
    {
        if (turnOn && count == 1 && m_grantable.erase(from))
            return 0;
        errno = EPERM;
        return -1;
    }

private:
    std::set<unsigned long> m_grantable;
};

// The real provider with its kernel call opened up, to ask this machine's kernel directly.
class KernelQuery : public LinuxPortPlatform {
public:
    KernelQuery() : LinuxPortPlatform([](const std::string&) {}) {}
    using LinuxPortPlatform::ioperm;
};
}

class tst_linux_port_platform : public QObject {
    Q_OBJECT

private slots:
    void refusalIsExplained_data();
    void refusalIsExplained();
    void refusedPortIsNeverTouched_data();
    void refusedPortIsNeverTouched();
    void laterRefusalKeepsAnEarlierGrant();
    void dwordOverPartlyGrantedPortsIsNeverRead_data();
    void dwordOverPartlyGrantedPortsIsNeverRead();
    void realKernel();
};

void tst_linux_port_platform::refusalIsExplained_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QStringList>("fragments");

    QTest::newRow("kernel without port permission support names the kernel option")
        << ENOSYS << QStringList{"CONFIG_X86_IOPL_IOPERM", "kernel built with that option"};
    QTest::newRow("missing capability names the setcap command")
        << EPERM << QStringList{"sudo setcap cap_sys_rawio+ep", "root"};
    QTest::newRow("other refusal names the system's reason")
        << EINVAL << QStringList{QString::fromLocal8Bit(std::strerror(EINVAL))};
}

void tst_linux_port_platform::refusalIsExplained()
{
    QFETCH(int, error);
    QFETCH(QStringList, fragments);

    QStringList messages;
    RefusingKernelPlatform platform(error, messages);
    PortChannel channel(platform);
    channel.OpenPortChannel();

    QVERIFY(!channel.PortChannelReady());
    QVERIFY(!channel.deviceOpen());
    QCOMPARE(messages.size(), 1);
    for (const QString& fragment : fragments)
        QVERIFY2(messages.first().contains(fragment), qPrintable(messages.first()));

    // A caller that goes on regardless gets the floating bus, and no grant is asked.
    const int requestsAtOpen = platform.requests;
    QCOMPARE(channel.ReadPortByte(0x378), std::uint8_t{0xFF});
    channel.WritePortByte(0x378, 0x00);
    QCOMPARE(channel.ReadPortDword(0x378), 0xFFFFFFFFu);
    QCOMPARE(platform.requests, requestsAtOpen);
    channel.ClosePortChannel();
}

void tst_linux_port_platform::refusedPortIsNeverTouched_data()
{
    QTest::addColumn<int>("port");

    QTest::newRow("standard base") << 0x378;
    QTest::newRow("monochrome adapter base") << 0x3BC;
    QTest::newRow("last port") << 0xFFFF;
    QTest::newRow("dword reaching past the last port") << 0xFFFE;
}

void tst_linux_port_platform::refusedPortIsNeverTouched()
{
    QFETCH(int, port);
    const auto address = static_cast<std::uint16_t>(port);

    QStringList messages;
    RefusingKernelPlatform platform(EPERM, messages);
    QVERIFY(!platform.requestPortAccess(1, address));
    QVERIFY(!platform.portAllowed(address));

    // Each of these would be a SIGSEGV if it reached the port instruction.
    QCOMPARE(platform.inByte(address), std::uint8_t{0xFF});
    platform.outByte(address, 0x00);
    QCOMPARE(platform.inDword(address), 0xFFFFFFFFu);
    QCOMPARE(messages, QStringList());
}

void tst_linux_port_platform::laterRefusalKeepsAnEarlierGrant()
{
    // The grants at start-up come first, the main window's after the privileges are gone.
    QStringList messages;
    OnceGrantingKernelPlatform platform({0x378}, messages);
    PortChannel channel(platform);
    channel.GrantPort(0x378);
    QVERIFY(platform.portAllowed(0x378));
    channel.GrantPort(0x378);
    QVERIFY(platform.portAllowed(0x378));
    QVERIFY(platform.requestPortAccess(1, 0x378));
    QVERIFY(!platform.requestPortAccess(1, 0x379));
    QVERIFY(!platform.portAllowed(0x379));
    QCOMPARE(messages, QStringList());
}

void tst_linux_port_platform::dwordOverPartlyGrantedPortsIsNeverRead_data()
{
    QTest::addColumn<QList<int>>("granted");

    QTest::newRow("only the base") << QList<int>{0x378};
    QTest::newRow("all but the last of four") << QList<int>{0x378, 0x379, 0x37A};
    QTest::newRow("all but the base") << QList<int>{0x379, 0x37A, 0x37B};
    QTest::newRow("a gap in the middle") << QList<int>{0x378, 0x37A, 0x37B};
}

void tst_linux_port_platform::dwordOverPartlyGrantedPortsIsNeverRead()
{
    QFETCH(QList<int>, granted);

    QStringList messages;
    OnceGrantingKernelPlatform platform(std::set<unsigned long>(granted.begin(), granted.end()), messages);
    for (int port = 0x378; port < 0x37C; ++port)
        QCOMPARE(platform.requestPortAccess(1, static_cast<std::uint16_t>(port)), granted.contains(port));
    // The fake grants are not the kernel's: any port instruction here is a SIGSEGV.
    QCOMPARE(platform.inDword(0x378), 0xFFFFFFFFu);
    for (int port = 0x378; port < 0x37C; ++port) {
        if (!granted.contains(port)) {
            QCOMPARE(platform.inByte(static_cast<std::uint16_t>(port)), std::uint8_t{0xFF});
            platform.outByte(static_cast<std::uint16_t>(port), 0);
        }
    }
}

void tst_linux_port_platform::realKernel()
{
    KernelQuery query;
    errno = 0;
    if (query.ioperm(0x378, 1, 1) == 0) {
        query.ioperm(0x378, 1, 0);
        QSKIP("this kernel grants port access to the process");
    }
    const int refusal = errno;

    QStringList messages;
    LinuxPortPlatform platform(recordInto(messages));
    PortChannel channel(platform);
    channel.OpenPortChannel();
    QVERIFY(!channel.PortChannelReady());
    QCOMPARE(messages, QStringList{QString::fromStdString(LinuxPortPlatform::refusalText(refusal))});

    // The channel marks the port whatever the kernel answers; the provider keeps
    // the instruction from running.
    channel.GrantPort(0x378);
    QVERIFY(channel.granted(0x378));
    QVERIFY(!platform.portAllowed(0x378));
    QCOMPARE(channel.ReadPortByte(0x378), std::uint8_t{0xFF});
    channel.WritePortByte(0x378, 0x55);
    QCOMPARE(channel.ReadPortDword(0x378), 0xFFFFFFFFu);
    QVERIFY(!platform.requestPortAccess(PortPlatform::InvalidHandle, 0x379));
    QCOMPARE(platform.inByte(0x379), std::uint8_t{0xFF});
}

QTEST_APPLESS_MAIN(tst_linux_port_platform)
#include "tst_linux_port_platform.moc"
