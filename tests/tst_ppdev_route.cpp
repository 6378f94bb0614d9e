#include "fake_kernel_tree.h"
#include "fake_ppdev_driver.h"
#include "port_route.h"
#include "ppdev_port_platform.h"
#include "simulated_devices.h"
#include "simulated_port.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <ctime>

#include <sys/time.h>
#include <unistd.h>

namespace {

// The direct route's kernel: grants every ioperm, or refuses every one with an errno.
class FakeIopermPlatform : public LinuxPortPlatform {
public:
    FakeIopermPlatform(MessageSink sink, int refusal) : LinuxPortPlatform(std::move(sink)), m_refusal(refusal) {}
    QList<int> granted;

protected:
    int ioperm(unsigned long from, unsigned long, int turnOn) override
    {
        if (m_refusal) {
            errno = m_refusal;
            return -1;
        }
        if (turnOn)
            granted << static_cast<int>(from);
        return 0;
    }

private:
    int m_refusal;
};

// The real claim over a port that never comes free: the kernel's PPCLAIM
// sleeps until a signal arrives, so does this one.
class NeverFreePpdevCalls : public SystemPpdevCalls {
protected:
    int waitForClaim(int) override
    {
        pause();
        return -EINTR;
    }
};

volatile std::sig_atomic_t watchdogRang = 0;

// A machine's kernel ports and their /dev nodes over simulated hardware:
// parport0 a card at 0xE010, parport1 the port at 0x378 with a loopback plug.
struct PpdevMachine {
    PpdevMachine()
    {
        port378.attach(std::make_unique<LoopbackPlug>());
        tree.addPort(0, 0xE010);
        tree.addPort(1, 0x378);
        driver->nodes["/dev/parport0"] = {&portE010};
        driver->nodes["/dev/parport1"] = {&port378, true};
    }

    PortRoute open(int directRefusal)
    {
        return OpenLinuxPortRoute(
            tree.paths,
            [directRefusal](LinuxPortPlatform::MessageSink sink) {
                return std::make_unique<FakeIopermPlatform>(std::move(sink), directRefusal);
            },
            std::unique_ptr<PpdevCalls>(driver));
    }

    SimulatedParallelPort portE010{0xE010};
    SimulatedParallelPort port378{0x378};
    FakeKernelTree tree;
    FakePpdevDriver* driver = new FakePpdevDriver; // owned by the route from its opening on
};

}

class tst_ppdev_route : public QObject {
    Q_OBJECT

private slots:
    void directIoWhenTheKernelGrantsIt()
    {
        PpdevMachine machine;
        machine.tree.addPort(2, 0xDC00, "lp0");
        machine.tree.write("proc/parport0/base-addr", "57360\t58384\n"); // the card's ECP registers at E410
        PortRoute route = machine.open(0);
        QCOMPARE(route.kind, PortRoute::Kind::DirectIo);
        QCOMPARE(route.kernelPorts.size(), std::size_t(2)); // the held card is left out
        QCOMPARE(dynamic_cast<FakeIopermPlatform&>(*route.platform).granted,
                 (QList<int>{0x378 /* the opening check */, 0x378, 0x379, 0x37A, 0x37B, 0x278, 0x279, 0x27A, 0x27B, 0x3BC, 0x3BD, 0x3BE, 0x3BF,
                             0xE010, 0xE011, 0xE012, 0xE013, 0xE412 /* its ECR, for read */}));
        QCOMPARE(machine.portE010.controlLatch(), 0); // never claimed through ppdev
    }

    void ppdevWhenDirectIoIsRefused()
    {
        PpdevMachine machine;
        PortRoute route = machine.open(EPERM);
        QCOMPARE(route.kind, PortRoute::Kind::Ppdev);
        QVERIFY(route.failure.empty());
        QCOMPARE(route.kernelPorts.size(), std::size_t(2));
        // The first claim is not passive: the driver sets control to 0x0C (0x1C with an IRQ).
        QCOMPARE(machine.portE010.controlLatch(), 0x0C);
        QCOMPARE(machine.port378.controlLatch(), 0x1C);
    }

    // The driver counts the interrupts of ACK's rises (the claim set the IRQ
    // bit); a take hands them over and subtracts them. A port without an IRQ has no count.
    void interruptsCountedByTheDriver()
    {
        PpdevMachine machine;
        machine.tree.write("proc/parport0/irq", "-1\n");
        PortRoute route = machine.open(EPERM);
        PortChannel& channel = *route.channel;
        QCOMPARE(channel.TakeInterrupts(0xE010), std::nullopt);
        channel.TakeInterrupts(0x378);
        for (int rise = 0; rise < 3; ++rise) {
            channel.WritePortByte(0x378, 0x00);
            channel.WritePortByte(0x378, 0x08); // D3, and ACK through the plug
        }
        QCOMPARE(channel.TakeInterrupts(0x378), 3);
        QCOMPARE(channel.TakeInterrupts(0x378), 0);
        route.channel->ClosePortChannel();
        QCOMPARE(channel.TakeInterrupts(0x378), std::nullopt);
    }

    // Register ioctls fail (EINVAL) without a claim, so every right value below
    // also shows that the claim came first.
    void registersThroughTheDriver()
    {
        PpdevMachine machine;
        PortRoute route = machine.open(EPERM);
        PortChannel& channel = *route.channel;
        FakePpdevDriver& driver = *machine.driver;
        const auto ioctlsOf = [&driver](const auto& transfer) {
            driver.calls.clear();
            transfer();
            QStringList calls;
            for (const std::string& call : driver.calls)
                calls << QString::fromStdString(call);
            return calls;
        };

        QCOMPARE(ioctlsOf([&] { channel.WritePortByte(0x378, 0x15); }), QStringList{"PPWDATA"});
        QCOMPARE(machine.port378.dataLatch(), 0x15);
        QCOMPARE(channel.ReadPortByte(0x378), 0x15);
        // The loopback plug brings D0, D2 and D4 back on Err, PaperOut and Busy (inverted).
        QCOMPARE(channel.ReadPortByte(0x379), 0x2F);
        QCOMPARE(ioctlsOf([&] { channel.WritePortByte(0x379, 0x00); }), QStringList{});
        // Control: the driver's copy of bits 0-3; its IRQ bit 4 and bits 6-7 show 0.
        // The copy changes only through this program's writes: asked for once, then kept.
        QCOMPARE(ioctlsOf([&] { QCOMPARE(channel.ReadPortByte(0x37A), 0x0C); }), QStringList{"PPRCONTROL"});
        QCOMPARE(ioctlsOf([&] { QCOMPARE(channel.ReadPortByte(0x37A), 0x0C); }), QStringList{});
        QCOMPARE(ioctlsOf([&] { channel.WritePortByte(0x37A, 0xFB); }), (QStringList{"PPWCONTROL", "PPDATADIR"}));
        QCOMPARE(machine.port378.controlLatch(), 0x3B);
        QCOMPARE(ioctlsOf([&] { QCOMPARE(channel.ReadPortByte(0x37A), 0x2B); }), QStringList{});
        QCOMPARE(ioctlsOf([&] { channel.WritePortByte(0x37A, 0x24); }), QStringList{"PPWCONTROL"});
        QCOMPARE(ioctlsOf([&] { channel.WritePortByte(0x37A, 0x04); }), (QStringList{"PPWCONTROL", "PPDATADIR"}));
        QCOMPARE(machine.port378.controlLatch(), 0x14);
        QCOMPARE(channel.ReadPortByte(0x37A), 0x04);
        QCOMPARE(ioctlsOf([&] { QCOMPARE(channel.ReadPortByte(0x37B), 0xFF); }), QStringList{});
        // A sample asks the hardware for data and status only.
        QCOMPARE(ioctlsOf([&] { QCOMPARE(channel.ReadPortDword(0x378), 0xFF042F15u); }), (QStringList{"PPRDATA", "PPRSTATUS"}));
        QCOMPARE(ioctlsOf([&] { QCOMPARE(channel.ReadPortByte(0x278), 0xFF); }), QStringList{});

        channel.WritePortByte(0xE010, 0xA5);
        QCOMPARE(machine.portE010.dataLatch(), 0xA5);
        QCOMPARE(machine.port378.dataLatch(), 0x15);

        QCOMPARE(ioctlsOf([&] { channel.ClosePortChannel(); }),
                 (QStringList{"PPRELEASE", "close", "PPRELEASE", "close"}));
        QCOMPARE(driver.openFiles(), 0);
        QCOMPARE(ioctlsOf([&] { QCOMPARE(channel.ReadPortDword(0x378), 0xFFFFFFFFu); }), QStringList{});
    }

    // A port listed free that another program takes before the claim: the
    // claim waits no longer than the provider's limit, and the port is left out.
    void portTakenMeanwhileIsLeftOut()
    {
        PpdevMachine machine;
        machine.driver->nodes["/dev/parport1"].heldElsewhere = true;
        QElapsedTimer opening;
        opening.start();
        PortRoute route = machine.open(EPERM);
        QVERIFY2(opening.elapsed() < 5000, qPrintable(QString::number(opening.elapsed())));
        QCOMPARE(route.kind, PortRoute::Kind::Ppdev);
        QCOMPARE(route.kernelPorts.size(), std::size_t(1));
        QCOMPARE(route.kernelPorts[0].base, 0xE010);
        QCOMPARE(machine.driver->claimLimits.size(), std::size_t(2));
        for (const std::chrono::milliseconds limit : machine.driver->claimLimits)
            QVERIFY2(limit.count() > 0 && limit.count() <= 1000, qPrintable(QString::number(limit.count())));
        QCOMPARE(machine.port378.controlLatch(), 0); // never claimed
        QCOMPARE(route.channel->ReadPortByte(0x378), 0xFF);
        QCOMPARE(machine.driver->openFiles(), 1);
    }

    // The real claim ends at its limit even when the limit is 0, or when the
    // alarm rings before the claim starts to sleep; no alarm is left running.
    void claimEndsAtItsLimit_data()
    {
        QTest::addColumn<int>("limit");
        QTest::newRow("limit 0") << 0;
        QTest::newRow("limit 20 ms") << 20;
    }

    void claimEndsAtItsLimit()
    {
        QFETCH(int, limit);
        // A watchdog on another signal and clock, so that a claim that never
        // ends fails here instead of hanging the suite.
        struct sigaction ring {};
        ring.sa_handler = [](int) { watchdogRang = 1; };
        sigemptyset(&ring.sa_mask);
        struct sigaction previous {};
        sigaction(SIGUSR1, &ring, &previous);
        sigevent event{};
        event.sigev_notify = SIGEV_SIGNAL;
        event.sigev_signo = SIGUSR1;
        timer_t watchdog{};
        QCOMPARE(timer_create(CLOCK_MONOTONIC, &event, &watchdog), 0);
        const itimerspec fiveSeconds{{}, {5, 0}};
        timer_settime(watchdog, 0, &fiveSeconds, nullptr);
        watchdogRang = 0;

        NeverFreePpdevCalls calls;
        const int result = calls.claim(-1, std::chrono::milliseconds(limit));
        const bool rang = watchdogRang;
        timer_delete(watchdog);
        sigaction(SIGUSR1, &previous, nullptr);
        QCOMPARE(result, -EINTR);
        QVERIFY(!rang);
        itimerval left{};
        getitimer(ITIMER_REAL, &left);
        QCOMPARE(left.it_value.tv_sec + left.it_value.tv_usec + left.it_interval.tv_sec + left.it_interval.tv_usec, 0);
    }

    void noRouteNamesEveryWayOut_data()
    {
        QTest::addColumn<QString>("machine");
        QTest::addColumn<QString>("advice");
        QTest::addColumn<QString>("unsaid");
        QTest::newRow("no port known") << "none" << "sudo modprobe parport_pc ppdev" << "This kernel is locked down";
        QTest::newRow("ppdev not loaded") << "no node" << "parport1 (378) has no device node: load the ppdev driver" << "";
        QTest::newRow("not in group lp") << "EACCES" << "sudo usermod -aG lp $USER" << "This kernel is locked down";
        QTest::newRow("node without a port") << "ENXIO" << "/dev/parport1 does not open: No such device or address." << "usermod";
        QTest::newRow("held by the printer driver") << "held" << "parport1 (378) is in use by lp0" << "";
        QTest::newRow("taken while claiming") << "taken" << "parport1 (378) was taken by another program meanwhile" << "";
        QTest::newRow("locked down") << "lockdown" << "This kernel is locked down (integrity)" << "";
        QTest::newRow("lockdown none is no lockdown") << "lockdown none" << "sudo usermod -aG lp $USER" << "This kernel is locked down";
    }

    void noRouteNamesEveryWayOut()
    {
        QFETCH(QString, machine);
        QFETCH(QString, advice);
        QFETCH(QString, unsaid);
        SimulatedParallelPort hardware(0x378);
        FakeKernelTree tree;
        auto* driver = new FakePpdevDriver;
        if (machine != "none")
            tree.addPort(1, 0x378, machine == "held" ? "lp0" : "none", machine != "no node");
        driver->nodes["/dev/parport1"] = {&hardware, false, machine == "EACCES" || machine.startsWith("lockdown") ? EACCES
                                          : machine == "ENXIO"                                    ? ENXIO
                                                                                                  : 0,
                                          machine == "taken"};
        if (machine == "lockdown")
            tree.write("lockdown", "none [integrity] confidentiality\n");
        if (machine == "lockdown none")
            tree.write("lockdown", "[none] integrity confidentiality\n");

        PortRoute route = OpenLinuxPortRoute(
            tree.paths, [](auto sink) { return std::make_unique<FakeIopermPlatform>(std::move(sink), EPERM); },
            std::unique_ptr<PpdevCalls>(driver));
        QCOMPARE(route.kind, PortRoute::Kind::None);
        QVERIFY(!route.channel->PortChannelReady());
        const QString text = QString::fromStdString(route.failure);
        QVERIFY2(text.startsWith(QString::fromStdString(LinuxPortPlatform::refusalText(EPERM))), qPrintable(text));
        QVERIFY2(text.contains(advice), qPrintable(text));
        if (!unsaid.isEmpty())
            QVERIFY2(!text.contains(unsaid), qPrintable(text));
        QCOMPARE(driver->openFiles(), 0);
        if (machine == "held")
            QCOMPARE(driver->calls, std::vector<std::string>{}); // never opened, never claimed
    }
};

QTEST_MAIN(tst_ppdev_route)
#include "tst_ppdev_route.moc"
