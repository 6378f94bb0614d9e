#include "port_channel.h"
#include "port_self_test.h"
#include "simulated_devices.h"
#include "simulated_port_platform.h"

#include <QtTest>

#include <functional>

namespace {
// Plugs wired wrong, each as the five-wire one would be (status bits 3-7: Err, SlctOut, PaperOut, ACK, Busy).
class WiredPlug : public SimulatedDevice {
public:
    using Wiring = std::function<std::uint8_t(std::uint8_t)>;
    explicit WiredPlug(Wiring wiring) : m_wiring(std::move(wiring)) {}
    std::uint8_t statusLines(std::uint8_t data, std::uint8_t) override { return static_cast<std::uint8_t>(m_wiring(data) << 3); }

private:
    Wiring m_wiring;
};

std::uint8_t bit(std::uint8_t data, int n)
{
    return (data >> n) & 1;
}

// ACK rises at every look at the lines: more interrupts than any plug makes.
class NoisyAck : public SimulatedDevice {
public:
    std::uint8_t statusLines(std::uint8_t data, std::uint8_t) override
    {
        m_high = !m_high;
        return static_cast<std::uint8_t>(((data & 0x17) << 3) | (m_high ? 0x40 : 0));
    }

private:
    bool m_high = false;
};

enum class Device { FiveWire, Control, Faulty, None, Reversed, InvertedAck, SwappedD1D2, NoisyAck, OnlyD0 };

std::unique_ptr<SimulatedDevice> make(Device device)
{
    switch (device) {
    case Device::FiveWire:
        return std::make_unique<LoopbackPlug>();
    case Device::Control:
        return std::make_unique<ControlLoopbackPlug>();
    case Device::Faulty:
        return std::make_unique<FaultyLoopbackPlug>();
    case Device::Reversed: // D0..D4 reach Busy..Err
        return std::make_unique<WiredPlug>([](std::uint8_t d) {
            return static_cast<std::uint8_t>(bit(d, 4) | bit(d, 3) << 1 | bit(d, 2) << 2 | bit(d, 1) << 3 | bit(d, 0) << 4);
        });
    case Device::InvertedAck:
        return std::make_unique<WiredPlug>([](std::uint8_t d) { return static_cast<std::uint8_t>((d & 0x17) | (~d & 0x08)); });
    case Device::SwappedD1D2:
        return std::make_unique<WiredPlug>([](std::uint8_t d) {
            return static_cast<std::uint8_t>((d & 0x19) | bit(d, 2) << 1 | bit(d, 1) << 2);
        });
    case Device::NoisyAck:
        return std::make_unique<NoisyAck>();
    case Device::OnlyD0: // the one connection both plugs share; the other inputs open
        return std::make_unique<WiredPlug>([](std::uint8_t d) { return static_cast<std::uint8_t>(0x1E | bit(d, 0)); });
    case Device::None:
        break;
    }
    return nullptr;
}

// The registers as a user left them: bit 5 set (input mode), so the test must turn the drivers on and back off.
constexpr std::uint8_t DataBefore = 0x5A, ControlBefore = 0x2B;

struct Rig {
    SimulatedPortPlatform platform;
    SimulatedParallelPort& port;
    PortChannel channel{platform};
    explicit Rig(Device device) : port(platform.addPort(0x378))
    {
        platform.setLogging(false);
        port.attach(make(device));
        port.write(0, DataBefore);
        port.write(2, ControlBefore);
        channel.OpenPortChannel();
    }
};

QStringList verdictTexts(const SelfTestReport& report)
{
    QStringList texts;
    for (const Verdict& verdict : report.verdicts)
        texts << QString::fromStdString((verdict.passed ? "pass " : "FAIL ") + verdict.subject + ": " + verdict.text);
    return texts;
}
}

class TestSelfTest : public QObject {
    Q_OBJECT

private slots:
    void judgesEachConnection_data()
    {
        QTest::addColumn<Device>("device");
        QTest::addColumn<QString>("plugAsked"); // empty: found by what follows
        QTest::addColumn<QString>("plugTested");
        QTest::addColumn<QStringList>("verdicts");
        QTest::addColumn<QStringList>("findings");
        const QStringList fiveGood{"pass D0→Err: good", "pass D1→SlctOut: good", "pass D2→PaperOut: good",
                                   "pass D3→ACK: good", "pass D4→Busy: good"};
        QTest::newRow("five-wire plug, found") << Device::FiveWire << "" << "five-wire" << fiveGood << QStringList();
        QTest::newRow("control plug, found")
            << Device::Control << "" << "control"
            << QStringList{"pass STB→SlctOut: good", "pass D0→Err: good", "pass Init→ACK: good", "pass SlctIn→Busy: good",
                           "pass AFD→PaperOut: good"}
            << QStringList();
        QTest::newRow("faulty plug: a short and a stuck line")
            << Device::Faulty << "" << "five-wire"
            << QStringList{"pass D0→Err: good", "FAIL D1→SlctOut: D1 shorted to D2: SlctOut reads D1 and D2 together",
                           "FAIL D2→PaperOut: D2 shorted to D1: PaperOut reads D1 and D2 together",
                           "FAIL D3→ACK: ACK stays low: ACK stuck at 0, or shorted to ground", "pass D4→Busy: good"}
            << QStringList();
        const QString noPlug = "no plug: no input follows any output (or every connection is open or stuck)";
        QTest::newRow("no plug, none asked") << Device::None << "" << "" << QStringList() << QStringList{noPlug};
        QTest::newRow("no plug, five-wire asked")
            << Device::None << "five-wire" << "five-wire"
            << QStringList{"FAIL D0→Err: Err stays high: open, or Err stuck at 1",
                           "FAIL D1→SlctOut: SlctOut stays high: open, or SlctOut stuck at 1",
                           "FAIL D2→PaperOut: PaperOut stays high: open, or PaperOut stuck at 1",
                           "FAIL D3→ACK: ACK stays high: open, or ACK stuck at 1",
                           "FAIL D4→Busy: Busy stays high: open, or Busy stuck at 1"}
            << QStringList{noPlug};
        QTest::newRow("reversed cable")
            << Device::Reversed << "" << "five-wire"
            << QStringList{"FAIL D0→Err: Err follows D4 instead of D0: wired to the wrong line",
                           "FAIL D1→SlctOut: SlctOut follows D3 instead of D1: wired to the wrong line", "pass D2→PaperOut: good",
                           "FAIL D3→ACK: ACK follows D1 instead of D3: wired to the wrong line",
                           "FAIL D4→Busy: Busy follows D0 instead of D4: wired to the wrong line"}
            << QStringList{"all connections swapped end for end: a reversed ribbon cable?"};
        QStringList inverted = fiveGood;
        inverted[3] = "FAIL D3→ACK: ACK reads D3 inverted";
        QTest::newRow("inverted line") << Device::InvertedAck << "five-wire" << "five-wire" << inverted << QStringList();
        QStringList swapped = fiveGood;
        swapped[1] = "FAIL D1→SlctOut: SlctOut follows D2 instead of D1: wired to the wrong line";
        swapped[2] = "FAIL D2→PaperOut: PaperOut follows D1 instead of D2: wired to the wrong line";
        QTest::newRow("as good for either plug: the five-wire one")
            << Device::OnlyD0 << "" << "five-wire"
            << QStringList{"pass D0→Err: good", "FAIL D1→SlctOut: SlctOut stays high: open, or SlctOut stuck at 1",
                           "FAIL D2→PaperOut: PaperOut stays high: open, or PaperOut stuck at 1",
                           "FAIL D3→ACK: ACK stays high: open, or ACK stuck at 1",
                           "FAIL D4→Busy: Busy stays high: open, or Busy stuck at 1"}
            << QStringList();
        QTest::newRow("two lines swapped") << Device::SwappedD1D2 << "" << "five-wire" << swapped << QStringList();
        // D1-D4 hold what the user left on them (5A).
        QTest::newRow("the wrong plug asked")
            << Device::FiveWire << "control" << "control"
            << QStringList{"FAIL STB→SlctOut: SlctOut stays high: open, or SlctOut stuck at 1", "pass D0→Err: good",
                           "FAIL Init→ACK: ACK stays high: open, or ACK stuck at 1",
                           "FAIL SlctIn→Busy: Busy stays high: open, or Busy stuck at 1",
                           "FAIL AFD→PaperOut: PaperOut stays low: PaperOut stuck at 0, or shorted to ground"}
            << QStringList();
    }

    // Whatever it finds, the registers are as the user left them.
    void judgesEachConnection()
    {
        QFETCH(Device, device);
        QFETCH(QString, plugAsked);
        QFETCH(QString, plugTested);
        QFETCH(QStringList, verdicts);
        QFETCH(QStringList, findings);
        Rig rig(device);
        SelfTestPlan plan;
        if (!plugAsked.isEmpty()) {
            plan.plugChoice = SelfTestPlan::PlugChoice::Given;
            plan.plug = PlugNamed(plugAsked.toStdString());
        }
        const SelfTestReport report = RunSelfTest(rig.channel, plan);
        QCOMPARE(report.plug ? QString::fromUtf8(report.plug->name.data(), report.plug->name.size()) : QString(), plugTested);
        QCOMPARE(verdictTexts(report), verdicts);
        QStringList found;
        for (const std::string& finding : report.findings)
            found << QString::fromStdString(finding);
        QCOMPARE(found, findings);
        QVERIFY2(report.restored, report.restoration.c_str());
        QCOMPARE(rig.port.dataLatch(), DataBefore);
        QCOMPARE(rig.port.controlLatch(), ControlBefore);
        QCOMPARE(report.passed(), verdicts == QStringList(verdicts).filter(QStringLiteral("pass ")) && findings.isEmpty());
    }

    void countsInterrupts_data()
    {
        QTest::addColumn<Device>("device");
        QTest::addColumn<int>("irq");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<bool>("enabledBefore"); // the user left bit 4 set: the plug's walk raised interrupts too
        QTest::newRow("each rise counted") << Device::FiveWire << 7 << "pass interrupt: 8 rises of ACK made, 8 interrupts counted on IRQ 7" << false;
        QTest::newRow("interrupt enabled before") << Device::FiveWire << 7
                                                  << "pass interrupt: 8 rises of ACK made, 8 interrupts counted on IRQ 7" << true;
        QTest::newRow("through the control plug") << Device::Control << 7 << "pass interrupt: 8 rises of ACK made, 8 interrupts counted on IRQ 7" << false;
        QTest::newRow("ACK stuck") << Device::Faulty << 7 << "FAIL interrupt: 8 rises of ACK made, no interrupt counted: IRQ 7 does not "
                                                              "reach the kernel (the firmware's setting, or the interrupt is taken by another device?)" << false;
        QTest::newRow("noisy ACK") << Device::NoisyAck << 7 << "FAIL interrupt: 8 rises of ACK made, " << false;
        QTest::newRow("no IRQ") << Device::FiveWire << -1 << "FAIL interrupt: the kernel knows no IRQ for this port (a legacy port's is only probed with parport_pc irq=auto)" << false;
        QTest::newRow("no plug") << Device::None << 7 << "FAIL interrupt: needs a plug that drives ACK (five-wire: D3, control: Init)" << false;
    }

    void countsInterrupts()
    {
        QFETCH(Device, device);
        QFETCH(int, irq);
        QFETCH(QString, verdict);
        QFETCH(bool, enabledBefore);
        Rig rig(device);
        const std::uint8_t controlBefore = enabledBefore ? ControlBefore | 0x10 : ControlBefore;
        rig.port.write(2, controlBefore);
        SelfTestPlan plan;
        plan.interrupt = true;
        plan.irq = irq;
        const QStringList verdicts = verdictTexts(RunSelfTest(rig.channel, plan)).filter(QStringLiteral(" interrupt: "));
        QCOMPARE(verdicts.size(), 1);
        QVERIFY2(verdicts.front().startsWith(verdict), qPrintable(verdicts.front()));
        if (device == Device::NoisyAck)
            QVERIFY2(verdicts.front().contains(QStringLiteral("more than the rises")), qPrintable(verdicts.front()));
        QCOMPARE(rig.port.controlLatch(), controlBefore); // the interrupt's enable as it was
    }

    void inputMode_data()
    {
        QTest::addColumn<bool>("sppOnly");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("bidirectional") << false << "pass input mode: bit 5 turns the data drivers off: the data lines read FF (open lines float high)";
        QTest::newRow("SPP only")
            << true
            << "FAIL input mode: the data lines still read what was written with bit 5 set: an SPP-only port, or an ECP chip in "
               "its mode 000 (choose PS/2 or ECP for the port in the firmware's setup)";
    }

    void inputMode()
    {
        QFETCH(bool, sppOnly);
        QFETCH(QString, verdict);
        Rig rig(Device::FiveWire);
        rig.port.setSppOnly(sppOnly);
        SelfTestPlan plan;
        plan.plugChoice = SelfTestPlan::PlugChoice::None;
        plan.inputMode = true;
        const SelfTestReport report = RunSelfTest(rig.channel, plan);
        QCOMPARE(verdictTexts(report), QStringList{verdict});
        QCOMPARE(rig.port.dataLatch(), DataBefore);
        QCOMPARE(rig.port.controlLatch(), ControlBefore);
    }
};

QTEST_GUILESS_MAIN(TestSelfTest)
#include "tst_self_test.moc"
