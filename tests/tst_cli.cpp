#include "change_writer.h"
#include "cli_machine.h"
#include "velkaro_cli.h"
#include "watch.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>

namespace {
using Access = SimulatedPortPlatform::Access;

const volatile std::sig_atomic_t noStop = 0;

// The kernel's 378 (IRQ 7) and a card at E010 with its ECP registers, IRQ 17 and DMA 3.
Machine withKernelPorts()
{
    Machine machine;
    machine.kernelPorts = {ListedPort(0, 0x378), ListedPort(2, 0xE010)};
    machine.kernelPorts[0].irq = 7;
    machine.kernelPorts[0].modes = "PCSPP,TRISTATE";
    machine.kernelPorts[1].extendedBase = 0xE410;
    machine.kernelPorts[1].irq = 17;
    machine.kernelPorts[1].dma = 3;
    machine.kernelPorts[1].modes = "PCSPP,TRISTATE,EPP,ECP";
    return machine;
}
}

class tst_cli : public QObject {
    Q_OBJECT

private slots:
    void refusedInputWritesNothing_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("value over 255") << "write data=256" << "'256' does not fit a register: its values are 0 to 255";
        QTest::newRow("negative value") << "write control=-1" << "'-1' does not fit a register: its values are 0 to 255";
        QTest::newRow("malformed number") << "write data=12x" << "'12x' is not a valid integer value.";
        QTest::newRow("one bad of several") << "write data=1 control=x" << "'x' is not a valid integer value.";
        QTest::newRow("status register") << "write status=0" << "status is the port's input register; it cannot be written";
        QTest::newRow("unknown line") << "set D8=1" << "'D8' is no line; the lines are D0 D1 D2 D3 D4 D5 D6 D7 Err "
                                                         "SlctOut PaperOut ACK Busy STB AFD Init SlctIn";
        QTest::newRow("input line") << "set D0=1 Busy=0" << "Busy is an input line (pin 11); it cannot be driven";
        QTest::newRow("toggled input") << "toggle Err" << "Err is an input line (pin 15); it cannot be driven";
        QTest::newRow("test: no plug for the interrupt") << "test --plug none --irq" << "--irq needs a plug that drives ACK: five-wire or control";
        QTest::newRow("test: unknown plug") << "test --plug six-wire"
                                            << "'six-wire' is no plug: five-wire, control or none (without --plug the test finds which)";
        QTest::newRow("test: nothing to test") << "test --plug none" << "--plug none leaves nothing to test: add --input-mode";
        QTest::newRow("level 2") << "set STB=2" << "'2' is no line level for STB: give 0 or 1";
        QTest::newRow("control character, one line") << "set STB=1\n" << "'1\\x0A' is no line level for STB: give 0 or 1";
        QTest::newRow("line twice") << "set D0=1 d0=0" << "D0 is given twice";
        QTest::newRow("no command") << "--no-probe"
                                    << "a command is missing: list, read, write, set, toggle, pulse, watch, decoders or test (velkaro-cli "
                                       "--help tells more)";
        QTest::newRow("unknown command") << "blink D0" << "unknown command 'blink'; the commands are list, read, write, set, "
                                                          "toggle, pulse, watch, decoders and test";
        QTest::newRow("help on no command") << "help blink" << "help takes one command name: list, read, write, set, toggle, "
                                                              "pulse, watch, decoders or test";
        QTest::newRow("unknown port") << "set D0=1 --port E800"
                                      << "unknown port E800: neither a standard base (3BC, 378, 278) nor a port the "
                                         "kernel lists (velkaro-cli list shows the ports)";
        QTest::newRow("malformed port") << "toggle D0 --port 37G"
                                        << "--port takes a port base in hexadecimal, such as 378 or E010, not '37G'";
        QTest::newRow("option of another command") << "write data=1 --count 3" << "--count is no option of write";
        QTest::newRow("unknown option") << "set D0=1 --force" << "unknown option '--force' (velkaro-cli --help lists the options)";
        QTest::newRow("DEL and ESC, one line") << "set D0=\x7F\x1B" << "'\\x7F\\x1B' is no line level for D0: give 0 or 1";
        QTest::newRow("a decoder's name with a line feed, one line")
            << "watch -P no\nsuch" << "--decode 'no\\x0Asuch': no decoder 'no\\x0Asuch' is installed (velkaro-cli decoders lists them)";
        QTest::newRow("timeout without until") << "watch --timeout 5" << "--timeout bounds --until: give a condition with --until";
        QTest::newRow("duration 0") << "watch --duration 0" << "--duration takes seconds, a number above 0 such as 2 or 0.5, not '0'";
        QTest::newRow("timeout 0") << "watch --until D0=1 --timeout 0"
                                   << "--timeout takes seconds, a number above 0 such as 2 or 0.5, not '0'";
        QTest::newRow("negative interval") << "watch --interval -5" << "--interval takes a whole number from 1 to 3600000, not '-5'";
        QTest::newRow("malformed interval") << "watch --interval 1.5" << "--interval takes a whole number from 1 to 3600000, not '1.5'";
    }

    void refusedInputWritesNothing()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, message);
        const CliRun run(arguments.split(QLatin1Char(' '), Qt::KeepEmptyParts));
        QCOMPARE(run.status, 2);
        QCOMPARE(run.errors, "velkaro-cli: " + message + "\n");
        QVERIFY(run.output.isEmpty());
        QCOMPARE(run.writes(), QList<Access>{});
    }

    // Line levels, not register bits: the port inverts STB, AFD and SlctIn.
    // The simulated control register reads bits 6 and 7 as set; they are written back as read.
    void linesAreDrivenByLevel_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("control"); // before
        QTest::addColumn<QList<int>>("written"); // port << 8 | value
        QTest::newRow("STB high") << "set STB=1" << 0x05 << QList<int>{0x37AC4};
        QTest::newRow("STB low") << "set STB=0" << 0x04 << QList<int>{0x37AC5};
        QTest::newRow("AFD low") << "set AFD=0" << 0x04 << QList<int>{0x37AC6};
        QTest::newRow("SlctIn high") << "set SlctIn=1" << 0x0C << QList<int>{0x37AC4};
        QTest::newRow("Init low") << "set Init=0" << 0x04 << QList<int>{0x37AC0};
        QTest::newRow("one write per register") << "set SlctIn=0 D7=1 STB=0 D0=1" << 0x04 << QList<int>{0x37881, 0x37ACD};
        QTest::newRow("toggle SlctIn") << "toggle SlctIn" << 0x04 << QList<int>{0x37ACC};
        QTest::newRow("write whole registers") << "write control=11 data=$A5" << 0x04 << QList<int>{0x37A0B, 0x378A5};
    }

    void linesAreDrivenByLevel()
    {
        QFETCH(QString, arguments);
        QFETCH(int, control);
        QFETCH(QList<int>, written);
        const CliRun run(arguments.split(QLatin1Char(' ')), static_cast<std::uint8_t>(control));
        QCOMPARE(run.status, 0);
        QList<int> writes; // the probe's come first
        for (const Access& access : run.writes())
            writes << (access.port << 8 | static_cast<int>(access.value));
        QCOMPARE(writes.mid(writes.size() - written.size()), written);
        QVERIFY2(run.output.contains(QStringLiteral("register  address")), qPrintable(run.output)); // read back
    }

    // The counting device changes the data register on every read: a watch
    // must record each value in turn.
    void watchMissesNoChange()
    {
        SimulatedPortPlatform platform;
        platform.setLogging(false);
        platform.addPort(0x378).attach(std::make_unique<CountingDevice>());
        PortChannel channel(platform);
        channel.OpenPortChannel();
        std::FILE* csv = std::tmpfile();
        const std::unique_ptr<ChangeWriter> writer = MakeChangeWriter(CliArguments::Format::Csv, false, csv, ChangeWriter::HandOn::InBlocks);
        WatchPlan plan;
        plan.ports = {{0x378, false}};
        plan.count = 4000;
        LinuxSchedulingKernel kernel;
        const WatchResult result =
            Watch(channel, plan, *writer, WatchHeader{{{"378", "simulated"}}, {}, {}}, {kernel, nullptr, stderr}, noStop);
        QCOMPARE(result.records, 4000);

        // Stretches the sampler lost (a comment each) say where, and hide no change.
        QList<QString> rows = WrittenText(csv).split(QLatin1Char('\n'));
        rows.removeIf([](const QString& row) { return row.startsWith(QStringLiteral("# not sampled from ")); });
        QCOMPARE(rows.size(), 4000 + 4); // comment, header, first sample, 4000 changes, end of file
        int previous = rows[2].split(QLatin1Char(','))[2].toInt();
        for (qsizetype i = 3; i < rows.size() - 1; ++i) {
            const int data = rows[i].split(QLatin1Char(','))[2].toInt();
            QCOMPARE(data, (previous + 1) % 256);
            previous = data;
        }
    }

    void watchEnds_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("lastRecord");
        QTest::newRow("until ACK rises") << "--port 278 --until ACK=1 --timeout 5" << 0 << "ACK=1";
        QTest::newRow("until times out") << "--until D0=1 --timeout 0.05" << 3 << "";
        QTest::newRow("count of changes") << "--port 278 --count 3" << 0 << "ACK=1";
        QTest::newRow("until holding at once") << "--until Busy=1" << 0 << "SlctIn=1";
        QTest::newRow("until on a line not recorded") << "--port 278 --lines Busy --until ACK=1 --timeout 5" << 0 << "Busy=1";
    }

    void watchEnds()
    {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QString, lastRecord);
        const CliRun run(("watch " + arguments).split(QLatin1Char(' ')));
        QCOMPARE(run.status, status);
        QStringList lines = run.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        lines.removeIf([](const QString& line) { return line.startsWith(QStringLiteral("# not sampled from ")); }); // a loaded machine's
        QVERIFY(lines.last().startsWith(QStringLiteral("# end ")));
        if (!lastRecord.isEmpty())
            QVERIFY2(lines[lines.size() - 2].endsWith(lastRecord), qPrintable(run.output));
    }

    // The self-test says what it drives before driving, gives a line per
    // connection and exits 1 when one failed.
    void selfTestExits_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("plug"); // 1 five-wire, 2 faulty
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line");
        QTest::newRow("good plug") << "test -p 378" << 1 << 0 << "pass  D3→ACK          good";
        QTest::newRow("faulty plug") << "test" << 2 << 1 << "FAIL  D3→ACK          ACK stays low: ACK stuck at 0, or shorted to ground";
        QTest::newRow("json") << "test --json --plug five-wire" << 2 << 1 << R"("check":"D3→ACK","passed":false)";
    }

    void selfTestExits()
    {
        QFETCH(QString, arguments);
        QFETCH(int, plug);
        QFETCH(int, status);
        QFETCH(QString, line);
        SimulatedDevice* const device = plug == 1 ? static_cast<SimulatedDevice*>(new LoopbackPlug) : new FaultyLoopbackPlug;
        const CliRun run(arguments.split(QLatin1Char(' ')), 0x04, device);
        QCOMPARE(run.status, status);
        QVERIFY2(run.output.contains(line), qPrintable(run.output));
        QVERIFY2(run.errors.startsWith(QStringLiteral("velkaro-cli: test of 378 drives D0, D1, D2, D3")), qPrintable(run.errors));
    }

    // Through ppdev the kernel counts ACK's rises as interrupts (the claim set
    // bit 4): the watch tells that count beside the rises it sampled.
    void watchTellsTheKernelsInterruptCount()
    {
        class AckEveryOtherRead : public SimulatedDevice {
        public:
            std::uint8_t statusLines(std::uint8_t, std::uint8_t) override { return (m_high = !m_high) ? 0xF8 : 0xB8; }

        private:
            bool m_high = false;
        };
        Machine machine = withDevice(0x14, 0x00, new AckEveryOtherRead);
        machine.kind = PortRoute::Kind::Ppdev;
        const CliRun run({"watch", "-p", "378", "--lines", "ACK", "--edge", "rising", "--count", "10"}, machine);
        QCOMPARE(run.status, 0);
        static const QRegularExpression told(QStringLiteral(
            "velkaro-cli: port 378: (\\d+) rises of ACK counted by the kernel's interrupt, (\\d+) seen by the sampling\n$"));
        const QRegularExpressionMatch match = told.match(run.errors);
        QVERIFY2(match.hasMatch(), qPrintable(run.errors));
        QVERIFY(match.captured(2).toInt() >= 10);
        const int beyond = match.captured(1).toInt() - match.captured(2).toInt();
        QVERIFY2(beyond == 0 || beyond == 1, qPrintable(run.errors)); // every rise lasted a sample; one may come before the first
    }

    // Every --until condition must hold at once.
    void repeatedUntilAllHold()
    {
        const CliRun run({"watch", "--port", "378", "--until", "D0=1", "--until", "D2=1", "--format", "csv"},
                         withDevice(0x04, 0x00, new CountingDevice));
        QCOMPARE(run.status, 0);
        const QStringList records = CsvRecords(run.output);
        QVERIFY(records.size() > 1);
        for (const QString& record : records.mid(0, records.size() - 1))
            QVERIFY2((CsvData(record) & 5) != 5, qPrintable(record));
        QCOMPARE(CsvData(records.last()) & 5, 5);
    }

    // A paced watch samples every interval and ends after its duration, not
    // many times later: the counting device changes on every sample.
    void pacedWatchEndsAfterItsDuration()
    {
        const CliRun run({"watch", "--port", "378", "--interval", "20", "--duration", "0.2"}, withDevice(0x04, 0x00, new CountingDevice));
        QCOMPARE(run.status, 0);
        const QStringList lines = run.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        // A pass held up beyond the interval is a comment of its own, not a record.
        const long long late = lines.filter(QRegularExpression(QStringLiteral("^# not sampled from "))).size();
        const long long records = lines.size() - late - 4; // comments, the first reading, the end
        QVERIFY2(records >= 7 && records <= 11, qPrintable(QString::number(records)));
        QVERIFY(lines.last().startsWith(QStringLiteral("# end ")));
        const long long end = lines.last().mid(6).toLongLong();
        QVERIFY2(end >= 200'000'000 && end < 2'000'000'000, qPrintable(lines.last()));
    }

    void listShowsPortsAndHolders_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("fourByteReads");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("listed");
        QTest::newRow("table") << int(PortRoute::Kind::Simulated) << true << "list"
                               << "PORT   ACCESS                   FOUR-BYTE READS  KERNEL    BASE_HI  IRQ  DMA  MODES\n"
                                  "378    simulated                yes              parport0  -        7    -    PCSPP,TRISTATE\n"
                                  "278    simulated                yes              -         -        -    -    -\n"
                                  "E010   simulated                yes              parport2  E410     17   3    PCSPP,TRISTATE,EPP,ECP\n"
                                  "D000   in use by lp\"0\\          -                parport1  -        -    -    -\n";
        QTest::newRow("json through ppdev") << int(PortRoute::Kind::Ppdev) << false << "list --json"
                                            << "{\"ports\":[{\"port\":\"378\",\"base\":888,\"access\":\"ppdev /dev/parport0\","
                                               "\"four_byte_reads\":false,\"kernel\":\"parport0\",\"device\":\"/dev/parport0\","
                                               "\"held_by\":null,\"base_hi\":null,\"irq\":7,\"dma\":null,\"modes\":\"PCSPP,TRISTATE\"},{\"port\":\"278\",\"base\":632,\"access\":\"ppdev\","
                                               "\"four_byte_reads\":false},{\"port\":\"E010\",\"base\":57360,\"access\":"
                                               "\"ppdev /dev/parport2\",\"four_byte_reads\":false,\"kernel\":\"parport2\","
                                               "\"device\":\"/dev/parport2\",\"held_by\":null,\"base_hi\":\"E410\",\"irq\":17,\"dma\":3,"
                                               "\"modes\":\"PCSPP,TRISTATE,EPP,ECP\"},{\"port\":\"D000\",\"base\":53248,"
                                               "\"kernel\":\"parport1\",\"device\":\"/dev/parport1\",\"held_by\":\"lp\\\"0\\\\\","
                                               "\"base_hi\":null,\"irq\":null,\"dma\":null,\"modes\":\"\"}]}\n";
        QTest::newRow("direct I/O, kernel's ports only") << int(PortRoute::Kind::DirectIo) << true << "--no-probe list"
                                                         << "PORT   ACCESS                   FOUR-BYTE READS  KERNEL    BASE_HI  IRQ  DMA  MODES\n"
                                                            "378    direct I/O               yes              parport0  -        7    -    PCSPP,TRISTATE\n"
                                                            "E010   direct I/O               yes              parport2  E410     17   3    PCSPP,TRISTATE,EPP,ECP\n"
                                                            "D000   in use by lp\"0\\          -                parport1  -        -    -    -\n";
    }

    // The ports found, how each is reached, and a port another program holds,
    // whose holder's name may hold anything.
    void listShowsPortsAndHolders()
    {
        QFETCH(int, kind);
        QFETCH(bool, fourByteReads);
        QFETCH(QString, arguments);
        QFETCH(QString, listed);
        Machine machine = withKernelPorts();
        machine.heldPorts = {ListedPort(1, 0xD000, "lp\"0\\")};
        machine.kind = PortRoute::Kind(kind);
        machine.dwordReads = fourByteReads ? SimulatedPortPlatform::DwordReads::FourRegisters
                                           : SimulatedPortPlatform::DwordReads::AllOnes;
        const CliRun run(arguments.split(QLatin1Char(' ')), machine);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.output, listed);
        if (arguments.contains(QStringLiteral("--json")))
            QVERIFY(QJsonDocument::fromJson(run.output.toUtf8()).isObject());
        // The probe tries only the standard bases the kernel does not list.
        QList<int> probed;
        for (const Access& access : run.writes())
            if (!probed.contains(access.port))
                probed << access.port;
        const QList<int> unlisted = {0x3BC, 0x278};
        QCOMPARE(probed, arguments.contains(QStringLiteral("--no-probe")) ? QList<int>() : unlisted);
    }

    // Registers in three radixes; the 17 lines with pin, direction and line
    // level, the loopback plug bringing D0-D4 back on the status lines.
    // What the kernel found of the port comes before the registers; on the
    // direct route the ECP chip's register is read (here nothing answers).
    void readTellsWhatTheKernelKnows()
    {
        Machine machine;
        KernelPort port = ListedPort(0, 0x378);
        port.extendedBase = 0x778;
        port.irq = 7;
        port.dma = 3;
        port.modes = "PCSPP,TRISTATE,ECP";
        machine.kernelPorts = {port};
        machine.kind = PortRoute::Kind::DirectIo;
        const CliRun run({"read", "-p", "378"}, machine);
        QCOMPARE(run.status, 0);
        QVERIFY2(run.output.startsWith(QStringLiteral("port 378, direct I/O\n"
                                                      "kernel: parport0, base_hi 778, IRQ 7, DMA 3, modes PCSPP,TRISTATE,ECP\n"
                                                      "ECR: FF, mode none answers (reads FF)\n\n")),
                 qPrintable(run.output));
    }

    void readShowsRegistersAndLines()
    {
        const Machine machine = withDevice(0x05, 0xA5, new LoopbackPlug);
        const CliRun table({"read", "--port", "378"}, machine);
        QCOMPARE(table.status, 0);
        QCOMPARE(table.output, QStringLiteral("port 378, simulated\n\n"
                                              "register  address   dec  hex  binary\n"
                                              "data      378       165   A5  10100101\n"
                                              "status    379       175   AF  10101111\n"
                                              "control   37A       197   C5  11000101\n\n"
                                              "line      pin  dir  bit        level\n"
                                              "D0          2  out  data.0     1\n"
                                              "D1          3  out  data.1     0\n"
                                              "D2          4  out  data.2     1\n"
                                              "D3          5  out  data.3     0\n"
                                              "D4          6  out  data.4     0\n"
                                              "D5          7  out  data.5     1\n"
                                              "D6          8  out  data.6     0\n"
                                              "D7          9  out  data.7     1\n"
                                              "Err        15  in   status.3   1\n"
                                              "SlctOut    13  in   status.4   0\n"
                                              "PaperOut   12  in   status.5   1\n"
                                              "ACK        10  in   status.6   0\n"
                                              "Busy       11  in   status.7   0  (the port inverts this line)\n"
                                              "STB         1  out  control.0  0  (the port inverts this line)\n"
                                              "AFD        14  out  control.1  1  (the port inverts this line)\n"
                                              "Init       16  out  control.2  1\n"
                                              "SlctIn     17  out  control.3  1  (the port inverts this line)\n"));

        const CliRun json({"read", "--port", "378", "--json"}, withDevice(0x05, 0xA5, new LoopbackPlug));
        QCOMPARE(json.status, 0);
        const QJsonObject object = QJsonDocument::fromJson(json.output.toUtf8()).object();
        QCOMPARE(object[QStringLiteral("port")].toString(), "378");
        QStringList registers;
        for (const char* name : {"data", "status", "control"}) {
            const QJsonObject reg = object[QStringLiteral("registers")].toObject()[QLatin1String(name)].toObject();
            registers << QStringLiteral("%1 %2 %3 %4 %5").arg(QLatin1String(name), reg[QStringLiteral("address")].toString(),
                                                               QString::number(reg[QStringLiteral("value")].toInt()),
                                                               reg[QStringLiteral("hex")].toString(), reg[QStringLiteral("binary")].toString());
        }
        QCOMPARE(registers, (QStringList{"data 378 165 A5 10100101", "status 379 175 AF 10101111", "control 37A 197 C5 11000101"}));
        QStringList lines;
        const QJsonObject lineObjects = object[QStringLiteral("lines")].toObject();
        for (const RegisterModel::Line& line : RegisterModel::Lines) {
            const QJsonObject l = lineObjects[QLatin1String(line.name)].toObject();
            lines << QStringLiteral("%1 %2 %3 %4").arg(QLatin1String(line.name), QString::number(l[QStringLiteral("pin")].toInt()),
                                                     l[QStringLiteral("direction")].toString(),
                                                     QString::number(l[QStringLiteral("level")].toInt(-1)));
        }
        QCOMPARE(lineObjects.size(), 17);
        QCOMPARE(lines.join(QStringLiteral(", ")),
                 "D0 2 output 1, D1 3 output 0, D2 4 output 1, D3 5 output 0, D4 6 output 0, D5 7 output 1, D6 8 output 0, "
                 "D7 9 output 1, Err 15 input 1, SlctOut 13 input 0, PaperOut 12 input 1, ACK 10 input 0, Busy 11 input 0, "
                 "STB 1 output 0, AFD 14 output 1, Init 16 output 1, SlctIn 17 output 1");
    }

    // Without the probe only the kernel's ports are used, and no standard base is written.
    void noProbeUsesTheKernelsPortsOnly_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown");
        QTest::newRow("watch") << "--no-probe watch --duration 0.05" << 0 << "port 378 (simulated), port E010 (simulated)";
        QTest::newRow("a port the kernel does not list")
            << "--no-probe read --port 278" << 2
            << "unknown port 278: not a port the kernel lists (velkaro-cli --no-probe list shows them)";
    }

    void noProbeUsesTheKernelsPortsOnly()
    {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QString, shown);
        Machine machine = withKernelPorts();
        const CliRun run(arguments.split(QLatin1Char(' ')), machine);
        QCOMPARE(run.status, status);
        QVERIFY2((run.output + run.errors).contains(shown), qPrintable(run.output + run.errors));
        QCOMPARE(run.writes(), QList<Access>{});
    }

    // A signal ends a watch with a complete file; during --until, with the
    // status 128 + the signal, since the condition was never seen. A pipe gets
    // each record as it happens, a file at the latest at the end.
    void signalEndsAWatch_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("until");
        QTest::addColumn<bool>("toPipe");
        QTest::addColumn<int>("status");
        QTest::newRow("SIGTERM") << int(SIGTERM) << "" << false << 0;
        QTest::newRow("SIGTERM, records to a pipe") << int(SIGTERM) << "" << true << 0;
        QTest::newRow("SIGTERM during --until") << int(SIGTERM) << "D0=1" << false << 128 + SIGTERM;
        QTest::newRow("Ctrl-C during --until") << int(SIGINT) << "D0=1" << false << 128 + SIGINT;
    }

    void signalEndsAWatch()
    {
        QFETCH(int, signal);
        QFETCH(QString, until);
        QFETCH(bool, toPipe);
        QFETCH(int, status);
        QTemporaryDir dir;
        const QString vcd = dir.filePath(QStringLiteral("stopped.vcd"));
        QStringList arguments{"--sim", "watch", "--port", "278", "--format", "vcd"};
        if (!toPipe)
            arguments << "-o" << vcd;
        if (!until.isEmpty())
            arguments << "--until" << until;
        QProcess cli;
        cli.start(QStringLiteral(VELKARO_CLI), arguments);
        QVERIFY(cli.waitForStarted());
        QByteArray piped;
        const auto written = [&] {
            if (toPipe)
                return piped += cli.readAllStandardOutput();
            QFile file(vcd);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        // The header is written once the watch samples, its signal handling in
        // place; a pipe has the first readings at once too.
        QTRY_VERIFY_WITH_TIMEOUT(written().contains(toPipe ? "$dumpvars" : "$enddefinitions $end"), 10000);
        ::kill(static_cast<pid_t>(cli.processId()), signal);
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), status);

        const QList<QByteArray> lines = written().split('\n');
        QCOMPARE(lines.last(), QByteArray());
        QVERIFY2(lines[lines.size() - 2].startsWith('#'), lines[lines.size() - 2].constData());
        if (!toPipe && !SigrokCli().isEmpty())
            QCOMPARE(QProcess::execute(SigrokCli(), {"-I", "vcd", "-i", vcd, "-O", "csv", "-o", dir.filePath("out.csv")}), 0);
    }
};

QTEST_MAIN(tst_cli)
#include "tst_cli.moc"
