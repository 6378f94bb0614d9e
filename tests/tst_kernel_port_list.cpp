#include "fake_kernel_tree.h"
#include "kernel_port_list.h"

#include <QtTest>

namespace {
QString describe(const KernelPort& port)
{
    return QStringLiteral("parport%1 %2/%3 irq %4 dma %8 [%5] %6 %7")
        .arg(port.number)
        .arg(port.base, 0, 16)
        .arg(port.extendedBase, 0, 16)
        .arg(port.irq)
        .arg(QString::fromStdString(port.modes), QString::fromStdString(port.activeDevice),
             QString::fromStdString(port.devicePath))
        .arg(port.dma);
}
}

class tst_kernel_port_list : public QObject {
    Q_OBJECT

private slots:
    void recordedTexts_data()
    {
        QTest::addColumn<QByteArray>("baseAddr");
        QTest::addColumn<QByteArray>("irq");
        QTest::addColumn<QByteArray>("active");
        QTest::addColumn<QString>("port"); // "" for none

        QTest::newRow("on-board port") << QByteArray("888\t0\n") << QByteArray("7\n") << QByteArray("none\n")
                                       << "parport0 378/0 irq 7 dma 7 [PCSPP,TRISTATE] none ";
        QTest::newRow("PCIe card with ECP registers")
            << QByteArray("57360\t58384\n") << QByteArray("-1\n") << QByteArray("none\n")
            << "parport0 e010/e410 irq -1 dma -1 [PCSPP,TRISTATE] none ";
        QTest::newRow("held by the printer driver") << QByteArray("632\t0\n") << QByteArray("5\n")
                                                    << QByteArray("lp0\n") << "parport0 278/0 irq 5 dma 5 [PCSPP,TRISTATE] lp0 ";
        QTest::newRow("held through ppdev") << QByteArray("888\t0\n") << QByteArray("7\n") << QByteArray("ppdev1\n")
                                            << "parport0 378/0 irq 7 dma 7 [PCSPP,TRISTATE] ppdev1 ";
        QTest::newRow("no base: not a port") << QByteArray("") << QByteArray("7\n") << QByteArray("none\n") << "";
        QTest::newRow("base 0") << QByteArray("0\t0\n") << QByteArray("7\n") << QByteArray("none\n") << "";
        QTest::newRow("memory-mapped base") << QByteArray("4026531840\t0\n") << QByteArray("-1\n")
                                            << QByteArray("none\n") << "";
        QTest::newRow("garbage") << QByteArray("0x378\n") << QByteArray("x\n") << QByteArray("\n") << "";
        QTest::newRow("unreadable irq and holder") << QByteArray("888\n") << QByteArray("") << QByteArray("")
                                                   << "parport0 378/0 irq -1 dma -1 [PCSPP,TRISTATE] none ";
    }

    void recordedTexts()
    {
        QFETCH(QByteArray, baseAddr);
        QFETCH(QByteArray, irq);
        QFETCH(QByteArray, active);
        QFETCH(QString, port);
        const std::optional<KernelPort> parsed = ParseKernelPort(
            0, {baseAddr.toStdString(), irq.toStdString(), "PCSPP,TRISTATE\n", active.toStdString(), irq.toStdString()}); // the DMA file reads as the IRQ's
        QCOMPARE(parsed ? describe(*parsed) : QString(), port);
    }

    // As a QEMU guest with ports at 0x378 and 0xE010 shows them: N is not address order.
    void fakeTreeInTheKernelsOrder()
    {
        FakeKernelTree tree;
        tree.addPort(10, 0x278, "lp0");
        tree.addPort(0, 0xE010);
        tree.write("proc/parport0/base-addr", "57360\t58384\n");
        tree.addPort(1, 0x378);
        tree.addPort(4, 0x3BC, "none", false);          // ppdev not loaded for it
        tree.write("proc/default/timeslice", "200\n");
        tree.write("proc/parport2/base-addr", "");      // a port without an I/O base
        tree.write("proc/parport3x/base-addr", "956\t0\n"); // not a port directory
        tree.write("sys/parport7/dev", "99:7\n");        // a node without a /proc entry

        QStringList ports;
        for (const KernelPort& port : ReadKernelPorts(tree.paths))
            ports << describe(port);
        QCOMPARE(ports, (QStringList{
                            "parport0 e010/e410 irq 7 dma 3 [PCSPP,TRISTATE] none /dev/parport0",
                            "parport1 378/0 irq 7 dma 3 [PCSPP,TRISTATE] none /dev/parport1",
                            "parport4 3bc/0 irq 7 dma 3 [PCSPP,TRISTATE] none ",
                            "parport10 278/0 irq 7 dma 3 [PCSPP,TRISTATE] lp0 /dev/parport10",
                        }));

        tree.paths.procParport += "/missing";
        QVERIFY(ReadKernelPorts(tree.paths).empty());
    }

    void lockdownMode_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("mode");
        QTest::newRow("off") << QByteArray("[none] integrity confidentiality\n") << "none";
        QTest::newRow("Secure Boot") << QByteArray("none [integrity] confidentiality\n") << "integrity";
        QTest::newRow("unreadable") << QByteArray() << "";
    }

    void lockdownMode()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, mode);
        QCOMPARE(QString::fromStdString(ParseLockdownMode(text.toStdString())), mode);
    }
};

QTEST_MAIN(tst_kernel_port_list)
#include "tst_kernel_port_list.moc"
