#include "port_channel.h"
#include "port_probe.h"
#include "simulated_devices.h"
#include "simulated_port_platform.h"

#include <QtTest>

#include <memory>

using Access = SimulatedPortPlatform::Access;

namespace {
// The log in short form: G grant, R byte read, W byte write, D dword read,
// each followed by the port in hexadecimal.
QString traffic(const std::vector<Access>& log)
{
    QStringList items;
    for (const Access& access : log) {
        const char kind = access.kind == Access::Grant ? 'G'
                          : access.kind == Access::Write ? 'W'
                          : access.width == 32 ? 'D' : 'R';
        items << QChar(kind) + QString::number(access.port, 16).toUpper();
    }
    return items.join(' ');
}

// Runs channel operations written in the short form of traffic(); writes store 0x5A.
void run(PortChannel& channel, const QString& operations)
{
    for (const QString& operation : operations.split(' ', Qt::SkipEmptyParts)) {
        const auto port = static_cast<std::uint16_t>(operation.mid(1).toUInt(nullptr, 16));
        switch (operation.at(0).toLatin1()) {
        case 'G': channel.GrantPort(port); break;
        case 'R': channel.ReadPortByte(port); break;
        case 'W': channel.WritePortByte(port, 0x5A); break;
        case 'D': channel.ReadPortDword(port); break;
        default: QFAIL(qPrintable("unknown operation " + operation));
        }
    }
}

// Records the line levels the port drives towards an attached device.
class LineRecorder : public SimulatedDevice {
public:
    std::uint8_t statusLines(std::uint8_t dataLines, std::uint8_t controlLines) override
    {
        data = dataLines;
        control = controlLines;
        return 0xF8;
    }
    std::uint8_t data = 0;
    std::uint8_t control = 0;
};
}

class tst_port_channel : public QObject {
    Q_OBJECT

private slots:
    void init();

    void grantRequests_data();
    void grantRequests();
    void dwordByteOrder_data();
    void dwordByteOrder();
    void dwordAllOnesMode();

    void registerModel_data();
    void registerModel();
    void controlLinesSeenByDevice_data();
    void controlLinesSeenByDevice();
    void loopbackPlug_data();
    void loopbackPlug();

    void probe_data();
    void probe();

private:
    std::unique_ptr<SimulatedPortPlatform> m_platform;
    std::unique_ptr<PortChannel> m_channel;
};

void tst_port_channel::init()
{
    m_channel.reset();
    m_platform = std::make_unique<SimulatedPortPlatform>();
    m_channel = std::make_unique<PortChannel>(*m_platform);
    m_channel->OpenPortChannel();
    QVERIFY(m_channel->PortChannelReady());
}

void tst_port_channel::grantRequests_data()
{
    QTest::addColumn<QString>("operations");
    QTest::addColumn<QString>("expected");

    QTest::newRow("first read grants once") << "R378 R378 R378" << "G378 R378 R378 R378";
    QTest::newRow("first write grants once") << "W37A W37A" << "G37A W37A W37A";
    QTest::newRow("read and write share one grant") << "W378 R378" << "G378 W378 R378";
    QTest::newRow("each port granted on its own") << "R378 R379 R378 R379" << "G378 R378 G379 R379 R378 R379";
    QTest::newRow("GrantPort twice sends two requests") << "G378 G378" << "G378 G378";
    QTest::newRow("no request after GrantPort") << "G379 R379 W379" << "G379 R379 W379";
    QTest::newRow("dword read issues no grant") << "D378 D378" << "D378 D378";
    QTest::newRow("dword read does not count as first use") << "D378 R378" << "D378 G378 R378";
    QTest::newRow("last port number") << "RFFFF WFFFF" << "GFFFF RFFFF WFFFF";
    QTest::newRow("port zero") << "W0 R0" << "G0 W0 R0";
}

void tst_port_channel::grantRequests()
{
    QFETCH(QString, operations);
    QFETCH(QString, expected);

    run(*m_channel, operations);
    QCOMPARE(traffic(m_platform->log()), expected);
}

void tst_port_channel::dwordByteOrder_data()
{
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("control");
    QTest::addColumn<int>("statusLines");
    QTest::addColumn<quint32>("expected");

    // Status reads its lines with bit 7 inverted and bits 0..2 set; control
    // bits 6 and 7 read as set; base + 3 reads all ones. Control bit 5 turns
    // the data drivers off: data then reads the open lines, all high.
    QTest::newRow("mixed registers") << 0xA5 << 0x05 << 0xF8 << 0xFFC57FA5u;
    QTest::newRow("data clear, control full, lines low") << 0x00 << 0x3F << 0x00 << 0xFFFF87FFu;
    QTest::newRow("only Busy high") << 0x01 << 0x20 << 0x80 << 0xFFE007FFu;
    QTest::newRow("drivers on") << 0x01 << 0x1F << 0x80 << 0xFFDF0701u;
}

void tst_port_channel::dwordByteOrder()
{
    QFETCH(int, data);
    QFETCH(int, control);
    QFETCH(int, statusLines);
    QFETCH(quint32, expected);

    SimulatedParallelPort& port = m_platform->addPort(0x378);
    port.setDataLatch(static_cast<std::uint8_t>(data));
    port.write(2, static_cast<std::uint8_t>(control));
    port.setStatusLines(static_cast<std::uint8_t>(statusLines));

    const std::uint32_t value = m_channel->ReadPortDword(0x378);
    QCOMPARE(value, expected);
    QCOMPARE(traffic(m_platform->log()), QString("D378"));
    for (int n = 0; n < 4; ++n)
        QCOMPARE(m_channel->ReadPortByte(static_cast<std::uint16_t>(0x378 + n)), static_cast<std::uint8_t>(value >> (8 * n)));
}

void tst_port_channel::dwordAllOnesMode()
{
    m_platform->addPort(0x378).setDataLatch(0x12);
    m_platform->setDwordReads(SimulatedPortPlatform::DwordReads::AllOnes);

    QCOMPARE(m_channel->ReadPortDword(0x378), 0xFFFFFFFFu);
    QCOMPARE(m_channel->ReadPortByte(0x378), std::uint8_t{0x12});
}

void tst_port_channel::registerModel_data()
{
    QTest::addColumn<int>("writeAt");   // -1: no write
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("statusLines");
    QTest::addColumn<int>("readAt");
    QTest::addColumn<int>("expected");

    QTest::newRow("data latch reads back") << 0x378 << 0x5A << 0xF8 << 0x378 << 0x5A;
    QTest::newRow("status: bits 0-2 set, Busy high reads 0") << -1 << 0 << 0xF8 << 0x379 << 0x7F;
    QTest::newRow("status: all lines low, bit 7 set") << -1 << 0 << 0x00 << 0x379 << 0x87;
    QTest::newRow("status: ACK low only") << -1 << 0 << 0xB8 << 0x379 << 0x3F;
    QTest::newRow("status ignores writes") << 0x379 << 0x00 << 0xF8 << 0x379 << 0x7F;
    QTest::newRow("control bits 0-5 read back, 6-7 set") << 0x37A << 0x15 << 0xF8 << 0x37A << 0xD5;
    QTest::newRow("control cleared reads C0") << 0x37A << 0x00 << 0xF8 << 0x37A << 0xC0;
    QTest::newRow("base + 3 reads FF") << 0x37B << 0x00 << 0xF8 << 0x37B << 0xFF;
    QTest::newRow("unknown address after the port reads FF") << 0x37C << 0x00 << 0xF8 << 0x37C << 0xFF;
    QTest::newRow("unknown address before the port reads FF") << 0x377 << 0x00 << 0xF8 << 0x377 << 0xFF;
    QTest::newRow("write to unknown address leaves data latch") << 0x37C << 0x00 << 0xF8 << 0x378 << 0x33;
}

void tst_port_channel::registerModel()
{
    QFETCH(int, writeAt);
    QFETCH(int, written);
    QFETCH(int, statusLines);
    QFETCH(int, readAt);
    QFETCH(int, expected);

    SimulatedParallelPort& port = m_platform->addPort(0x378);
    port.setDataLatch(0x33);
    port.setStatusLines(static_cast<std::uint8_t>(statusLines));
    if (writeAt >= 0)
        m_channel->WritePortByte(static_cast<std::uint16_t>(writeAt), static_cast<std::uint8_t>(written));

    QCOMPARE(int(m_channel->ReadPortByte(static_cast<std::uint16_t>(readAt))), expected);
}

void tst_port_channel::controlLinesSeenByDevice_data()
{
    QTest::addColumn<int>("control");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("data"); // the data lines' levels

    QTest::newRow("cleared register drives STB, AFD, SlctIn high") << 0x00 << 0x0B << 0xC3;
    QTest::newRow("inverted bits set drive their lines low") << 0x0B << 0x00 << 0xC3;
    QTest::newRow("Init follows its bit") << 0x04 << 0x0F << 0xC3;
    QTest::newRow("bits 4-5 reach no control line; 5 lets the data lines float") << 0x30 << 0x0B << 0xFF;
}

void tst_port_channel::controlLinesSeenByDevice()
{
    QFETCH(int, control);
    QFETCH(int, lines);
    QFETCH(int, data);

    auto recorder = std::make_unique<LineRecorder>();
    LineRecorder& seen = *recorder;
    m_platform->addPort(0x378).attach(std::move(recorder));
    m_channel->WritePortByte(0x378, 0xC3);
    m_channel->WritePortByte(0x37A, static_cast<std::uint8_t>(control));
    m_channel->ReadPortByte(0x379);

    QCOMPARE(int(seen.control), lines);
    QCOMPARE(int(seen.data), data);
}

void tst_port_channel::loopbackPlug_data()
{
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("status");

    QTest::newRow("no line high") << 0x00 << 0x87;
    QTest::newRow("D0 drives Err") << 0x01 << 0x8F;
    QTest::newRow("D1 drives SlctOut") << 0x02 << 0x97;
    QTest::newRow("D2 drives PaperOut") << 0x04 << 0xA7;
    QTest::newRow("D3 drives ACK") << 0x08 << 0xC7;
    QTest::newRow("D4 drives Busy, read inverted") << 0x10 << 0x07;
    QTest::newRow("D0-D4 all high") << 0x1F << 0x7F;
    QTest::newRow("D5-D7 reach nothing") << 0xE0 << 0x87;
}

void tst_port_channel::loopbackPlug()
{
    QFETCH(int, data);
    QFETCH(int, status);

    m_platform->addPort(0x378).attach(std::make_unique<LoopbackPlug>());
    m_channel->WritePortByte(0x378, static_cast<std::uint8_t>(data));
    QCOMPARE(int(m_channel->ReadPortByte(0x379)), status);
}

void tst_port_channel::probe_data()
{
    QTest::addColumn<QList<int>>("bases");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("expected");

    const QList<int> usual = {0x378, 0x278};
    QTest::newRow("first of 0x378 and 0x278") << usual << 1 << 0x378;
    QTest::newRow("second of 0x378 and 0x278") << usual << 2 << 0x278;
    QTest::newRow("no third of two") << usual << 3 << 0;
    QTest::newRow("probe order, not installation order") << QList<int>{0x278, 0x3BC, 0x378} << 2 << 0x378;
    QTest::newRow("third of all three") << QList<int>{0x278, 0x3BC, 0x378} << 3 << 0x278;
    QTest::newRow("no port at all") << QList<int>{} << 1 << 0;
}

void tst_port_channel::probe()
{
    QFETCH(QList<int>, bases);
    QFETCH(int, n);
    QFETCH(int, expected);

    for (const int base : bases)
        m_platform->addPort(static_cast<std::uint16_t>(base)).setDataLatch(static_cast<std::uint8_t>(base >> 2));

    QCOMPARE(int(DetectPort(*m_channel, n)), expected);

    // Each data register probed ends holding what it held before.
    for (const std::uint16_t base : StandardBases) {
        const Access* firstRead = nullptr;
        const Access* lastWrite = nullptr;
        for (const Access& access : m_platform->log()) {
            if (access.port != base)
                continue;
            if (access.kind == Access::Read && !firstRead)
                firstRead = &access;
            if (access.kind == Access::Write)
                lastWrite = &access;
        }
        QCOMPARE(!firstRead, !lastWrite);
        if (lastWrite)
            QCOMPARE(lastWrite->value, firstRead->value);
        if (SimulatedParallelPort* port = m_platform->port(base))
            QCOMPARE(int(port->dataLatch()), base >> 2);
    }
}

QTEST_APPLESS_MAIN(tst_port_channel)
#include "tst_port_channel.moc"
