// The command line tool's script verbs: bare reads, pulses, edges, lines by
// pin, short options and binary values, over private simulated ports.
#include "cli_run.h"
#include "port_route.h"
#include "simulated_devices.h"
#include "simulated_port_platform.h"
#include "simulated_port_route.h"
#include "velkaro_cli.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {
using Access = SimulatedPortPlatform::Access;

// ACK and Busy low for the first 250 of every 1000 reads, high for the rest:
// Busy, which the port inverts, changes with ACK.
class AckAndBusyDevice : public SimulatedDevice {
public:
    explicit AckAndBusyDevice(std::int64_t& clock) : m_clock(clock) {}
    std::uint8_t statusLines(std::uint8_t, std::uint8_t) override { return m_clock++ % 1000 < 250 ? 0x38 : 0xF8; }

private:
    std::int64_t& m_clock;
};

// One run of velkaro-cli: 0x378 with a loopback plug, data 0x05 and control
// 0x04; 0x278 with ACK and Busy low for the first 250 of every 1000 reads. Both are the
// kernel's ports and found without the probe, so every write is the command's.
struct Run : CliOutcome {
    explicit Run(const QString& commandLine)
    {
        static_cast<CliOutcome&>(*this) = RunCliCaptured(KernelPortsCommandLine(commandLine), [this](bool) {
            auto platform = std::make_unique<KeptLogPlatform>(log);
            SimulatedParallelPort& port = platform->addPort(0x378);
            port.attach(std::make_unique<LoopbackPlug>());
            port.write(0, 0x05);
            port.write(2, 0x04);
            platform->addPort(0x278).attach(std::make_unique<AckAndBusyDevice>(now));
            return OpenSimulatedPortRoute(std::move(platform), {ListedPort(0, 0x378), ListedPort(1, 0x278)});
        });
    }

    // The writes, as port << 8 | value.
    QList<int> writes() const
    {
        QList<int> written;
        for (const Access& access : WritesIn(log))
            written << (access.port << 8 | static_cast<int>(access.value));
        return written;
    }

    bool wroteAnything() const { return !WritesIn(log).isEmpty(); }

    // The records of a text watch, each as its changed lines ("ACK=1").
    QStringList changes() const
    {
        QStringList result;
        for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (line.startsWith(QLatin1Char('#')))
                continue;
            QStringList fields = line.split(QLatin1Char(' '));
            result << fields.mid(5).join(QLatin1Char(' ')); // after time, port and the three registers
        }
        return result;
    }

    std::int64_t now = 0;
    std::vector<Access> log;
};
}

class tst_cli_verbs : public QObject {
    Q_OBJECT

private slots:
    // Data 0x05 on the loopback plug: Err (D0) and PaperOut (D2) high, the
    // rest low; Busy is a line level, the opposite of its register bit.
    void readPrintsBareValues_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("output");
        QTest::newRow("a line") << "read Err" << "1\n";
        QTest::newRow("an inverted line by its level") << "read Busy" << "0\n";
        QTest::newRow("lines by pin, in the order given") << "read 12 13 15" << "1\n0\n1\n";
        QTest::newRow("a register in decimal") << "read data" << "5\n";
        QTest::newRow("unwired bits as read") << "read control" << "196\n";
        QTest::newRow("names, any case") << "read --names stb DATA" << "STB=1\ndata=5\n";
        QTest::newRow("short port option") << "read -p378 D2" << "1\n";
    }

    void readPrintsBareValues()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, output);
        const Run run(arguments);
        QCOMPARE(run.errors, QString());
        QCOMPARE(run.output, output);
        QCOMPARE(run.status, 0);
    }

    void refusalsWriteNothing_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("json with lines") << "read --json Busy"
                                         << "--json gives the whole report; read LINE... gives bare values (--names: NAME=VALUE)";
        QTest::newRow("names without lines") << "read --names" << "--names belongs to read LINE...: give the lines or registers to read";
        QTest::newRow("no such pin") << "read 26" << "there is no pin 26: the connector has pins 1 to 25, its lines 1 to 17";
        QTest::newRow("ground pin") << "read 25" << "pin 25 is a ground pin; the lines are on pins 1 to 17";
        QTest::newRow("input by pin") << "set 11=1" << "Busy is an input line (pin 11); it cannot be driven";
        QTest::newRow("binary over 255") << "write data=0b100000000" << "'0b100000000' does not fit a register: its values are 0 to 255";
        QTest::newRow("binary digit 2") << "write data=0b102" << "'0b102' is not a valid integer value.";
        QTest::newRow("pulse without --for") << "pulse STB=0" << "pulse needs --for: how long the line holds its level, such as --for 5us";
        QTest::newRow("pulse of two lines") << "pulse STB=0 D0=1 --for 1us" << "pulse takes one LINE=LEVEL, such as STB=0";
        QTest::newRow("pulse on an input") << "pulse ACK=0 --for 1us" << "ACK is an input line (pin 10); it cannot be driven";
        QTest::newRow("period shorter than pulse") << "pulse STB=0 --for 5us --repeat 2 --period 4us"
                                                   << "--period must be at least --for: the line comes back between two pulses";
        QTest::newRow("period of one pulse") << "pulse STB=0 --for 5us --period 1ms"
                                             << "--period is the time from one pulse's start to the next: give --repeat N too";
        QTest::newRow("unknown unit") << "pulse STB=0 --for 5min"
                                      << "--for takes a time such as 5us, 1.5ms or 2s (ns, us, ms, s; seconds without a "
                                         "unit), or 0, not '5min'";
        QTest::newRow("edges in a VCD") << "watch --edge rising -f vcd"
                                        << "--edge picks records, and a VCD file holds every change: watch --lines with --format vcd";
        QTest::newRow("edge of a line not watched") << "watch -l ACK --edge Busy=rising" << "--edge Busy: Busy is not among --lines";
        QTest::newRow("no such edge") << "watch --until ACK=up" << "'up' is no level or edge for ACK: give 0, 1, rising, falling or both";
        QTest::newRow("short timeout without until") << "watch -t 1" << "--timeout bounds --until: give a condition with --until";
    }

    void refusalsWriteNothing()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, message);
        const Run run(arguments);
        QCOMPARE(run.errors, "velkaro-cli: " + message + "\n");
        QCOMPARE(run.status, 2);
        QVERIFY(!run.wroteAnything());
    }

    void linesByPinAndBinaryValues_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QList<int>>("written");
        QTest::newRow("pin 2 is D0") << "set 2=0" << QList<int>{0x37804};
        QTest::newRow("pin 1 is STB, inverted") << "set 1=0" << QList<int>{0x37AC5};
        QTest::newRow("toggle pin 9") << "toggle 9" << QList<int>{0x37885};
        QTest::newRow("binary value") << "write data=0b1010" << QList<int>{0x3780A};
        QTest::newRow("binary value, upper case") << "write control=0B1011" << QList<int>{0x37A0B};
        QTest::newRow("short port option, other port") << "-p 278 set 9=1" << QList<int>{0x27880};
    }

    void linesByPinAndBinaryValues()
    {
        QFETCH(QString, arguments);
        QFETCH(QList<int>, written);
        const Run run(arguments);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.writes(), written);
    }

    // ACK and Busy on 0x278 are low at the start and rise after 250 reads: an edge is a
    // change seen from one sample to the next, never the state at the start.
    void watchEdges_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("changes"); // the first is the state at the start
        QTest::newRow("rising only") << "-l ACK --edge rising -n 2" << 0 << QStringList{"ACK=0", "ACK=1", "ACK=1"};
        QTest::newRow("falling only") << "-l ACK --edge falling -n 2" << 0 << QStringList{"ACK=0", "ACK=0", "ACK=0"};
        QTest::newRow("both") << "-l ACK --edge both -n 3" << 0 << QStringList{"ACK=0", "ACK=1", "ACK=0", "ACK=1"};
        QTest::newRow("per line") << "-l ACK,Busy --edge ACK=falling -n 1" << 0 << QStringList{"ACK=0 Busy=0", "ACK=0"};
        QTest::newRow("a line the port inverts, by its level") << "-l Busy --edge rising -n 1" << 0
                                                               << QStringList{"Busy=0", "Busy=1"};
        QTest::newRow("until a level that holds at once") << "--until ACK=0" << 0 << QStringList{"ACK=0"};
        QTest::newRow("until an edge") << "--until ACK=falling" << 0 << QStringList{"ACK=0", "ACK=1", "ACK=0"};
        QTest::newRow("until a line not recorded") << "-l D0 --until ACK=rising -t 5" << 0 << QStringList{"D0=0"};
        QTest::newRow("until both, where the edge comes first") << "--until ACK=rising --until Busy=1" << 0
                                                                << QStringList{"ACK=0", "ACK=1"};
    }

    void watchEdges()
    {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, changes);
        const Run run("watch -p 278 " + (arguments.contains(QLatin1String("-l")) ? arguments : "-l ACK " + arguments));
        QCOMPARE(run.errors, NormalSamplingNote);
        QCOMPARE(run.changes(), changes);
        QCOMPARE(run.status, status);
    }

    // A pulse writes the line's register with the level and then as it was,
    // holding at least as long as asked, as often as asked.
    void pulseDrivesAndRestores_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QList<int>>("written");
        QTest::addColumn<int>("pulses");
        QTest::newRow("STB low, inverted, bits 6 and 7 as read") << "pulse STB=0 --for 0" << QList<int>{0x37AC5, 0x37AC4} << 1;
        QTest::newRow("by pin, repeated") << "pulse 2=0 --for 2us --repeat 3"
                                         << QList<int>{0x37804, 0x37805, 0x37804, 0x37805, 0x37804, 0x37805} << 3;
        QTest::newRow("with a period") << "pulse D7=1 --for 1us --repeat 2 --period 1ms"
                                       << QList<int>{0x37885, 0x37805, 0x37885, 0x37805} << 2;
    }

    void pulseDrivesAndRestores()
    {
        QFETCH(QString, arguments);
        QFETCH(QList<int>, written);
        QFETCH(int, pulses);
        const Run run(arguments + " --json");
        QCOMPARE(run.errors, QString());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.writes(), written);
        const QJsonObject report = QJsonDocument::fromJson(run.output.toUtf8()).object();
        QCOMPARE(report.value(QLatin1String("pulses")).toInt(), pulses);
        const double asked = report.value(QLatin1String("for_ns")).toDouble();
        QVERIFY2(report.value(QLatin1String("width_ns")).toObject().value(QLatin1String("min")).toDouble() >= asked,
                 qPrintable(run.output));
        if (pulses > 1)
            QVERIFY2(report.value(QLatin1String("achieved_period_ns")).toObject().value(QLatin1String("min")).toDouble() >=
                         report.value(QLatin1String("period_ns")).toDouble(),
                     qPrintable(run.output));
    }

    // The period runs from one pulse's start to the next, not from each end:
    // a 200 ms pulse every 250 ms starts again 250 ms after the last, long
    // before 450 ms.
    void pulsePeriodRunsFromStartToStart()
    {
        const Run run(QStringLiteral("pulse D7=1 --for 200ms --repeat 2 --period 250ms --json"));
        QCOMPARE(run.status, 0);
        const QJsonObject period =
            QJsonDocument::fromJson(run.output.toUtf8()).object().value(QLatin1String("achieved_period_ns")).toObject();
        QVERIFY2(period.value(QLatin1String("min")).toDouble() >= 250e6, qPrintable(run.output));
        QVERIFY2(period.value(QLatin1String("max")).toDouble() < 400e6, qPrintable(run.output));
    }

    void csvStartsWithItsHeader()
    {
        const Run run(QStringLiteral("watch -p 278 -l ACK -f csv -n 1"));
        const QStringList lines = run.output.split(QLatin1Char('\n'));
        QCOMPARE(lines.value(0), QStringLiteral("time_ns,port,data,status,control,changed,ACK"));
        QVERIFY2(lines.value(1).startsWith(QLatin1String("# velkaro-cli watch: port 278")), qPrintable(run.output));
        QVERIFY(lines.value(2).startsWith(QLatin1String("0,278,")));
    }

    void outputThatCannotBeOpenedIsStatus1()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("missing/records.vcd"));
        const Run run("watch -n 1 -o " + path);
        QCOMPARE(run.status, 1);
        QCOMPARE(run.errors, "velkaro-cli: cannot write '" + path + "': No such file or directory\n");
        QVERIFY(run.log.empty()); // no port touched
    }
};

QTEST_MAIN(tst_cli_verbs)
#include "tst_cli_verbs.moc"
