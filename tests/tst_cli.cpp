#include "change_writer.h"
#include "port_route.h"
#include "simulated_port_platform.h"
#include "velkaro_cli.h"
#include "watch.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {
using Access = SimulatedPortPlatform::Access;

// Simulated ports whose transfer log outlives the route that owns them.
class KeptLogPlatform : public SimulatedPortPlatform {
public:
    explicit KeptLogPlatform(std::vector<Access>& keep) : m_keep(keep) {}
    ~KeptLogPlatform() override { m_keep = log(); }

private:
    std::vector<Access>& m_keep;
};

// One run of velkaro-cli over simulated ports: 0x378 and 0x278 answer the probe.
struct CliRun {
    explicit CliRun(const QStringList& arguments, std::uint8_t control = 0x04, SimulatedDevice* device378 = nullptr)
    {
        std::vector<std::string> args;
        for (const QString& argument : arguments)
            args.push_back(argument.toStdString());
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        status = RunCli(args, out, err, [&](bool) {
            auto platform = std::make_unique<KeptLogPlatform>(log);
            SimulatedParallelPort& port = platform->addPort(0x378);
            port.write(2, control);
            if (device378)
                port.attach(std::unique_ptr<SimulatedDevice>(device378));
            platform->addPort(0x278).attach(std::make_unique<PulsingAckDevice>(clock));
            return OpenSimulatedPortRoute(std::move(platform), {});
        });
        output = contents(out);
        errors = contents(err);
    }

    static QString contents(std::FILE* file)
    {
        std::rewind(file);
        QByteArray bytes;
        char buffer[4096];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, file))
            bytes.append(buffer, static_cast<qsizetype>(n));
        std::fclose(file);
        return QString::fromUtf8(bytes);
    }

    QList<Access> writes() const
    {
        QList<Access> written;
        for (const Access& access : log)
            if (access.kind == Access::Write)
                written << access;
        return written;
    }

    // A clock for the pulsing ACK line that moves a millisecond per read.
    std::int64_t now = 0;
    PulsingAckDevice::Clock clock = [this] { return now++; };
    std::vector<Access> log;
    int status = -1;
    QString output;
    QString errors;
};

const volatile std::sig_atomic_t noStop = 0;

QString sigrokCli()
{
    return QStandardPaths::findExecutable(QStringLiteral("sigrok-cli"));
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
        QTest::newRow("level 2") << "set STB=2" << "'2' is no line level for STB: give 0 or 1";
        QTest::newRow("control character, one line") << "set STB=1\n" << "'1\\x0A' is no line level for STB: give 0 or 1";
        QTest::newRow("line twice") << "set D0=1 d0=0" << "D0 is given twice";
        QTest::newRow("unknown port") << "set D0=1 --port E800"
                                      << "unknown port E800: neither a standard base (3BC, 378, 278) nor a port the "
                                         "kernel lists (velkaro-cli list shows the ports)";
        QTest::newRow("malformed port") << "toggle D0 --port 37G"
                                        << "--port takes a port base in hexadecimal, such as 378 or E010, not '37G'";
        QTest::newRow("option of another command") << "write data=1 --count 3" << "--count is no option of write";
        QTest::newRow("unknown option") << "set D0=1 --force" << "unknown option '--force' (velkaro-cli --help lists the options)";
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
        const WatchResult result = Watch(channel, plan, *writer, WatchHeader{{{"378", "simulated"}}, {}, {}}, noStop);
        QCOMPARE(result.records, 4000);

        const QList<QString> rows = CliRun::contents(csv).split(QLatin1Char('\n'));
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
    }

    void watchEnds()
    {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QString, lastRecord);
        const CliRun run(("watch " + arguments).split(QLatin1Char(' ')));
        QCOMPARE(run.status, status);
        const QStringList lines = run.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(lines.last().startsWith(QStringLiteral("# end ")));
        if (!lastRecord.isEmpty())
            QVERIFY2(lines[lines.size() - 2].endsWith(lastRecord), qPrintable(run.output));
    }

    // sigrok's VCD reader, which PulseView uses, reads the same transitions
    // back; a watch of every port names each port's wires apart.
    void vcdOpensInSigrok()
    {
        if (sigrokCli().isEmpty())
            QSKIP("sigrok-cli is not installed (Debian package sigrok-cli)");
        QTemporaryDir dir;
        const QString vcd = dir.filePath(QStringLiteral("ack.vcd"));
        // ACK on port 278 is low for the first 250 of each 1000 reads; its Busy
        // stays high, and so do the open lines of port 378.
        const CliRun run({"watch", "--lines", "ACK,Busy", "--count", "5", "--format", "vcd", "-o", vcd});
        QCOMPARE(run.status, 0);

        QProcess sigrok;
        sigrok.start(sigrokCli(), {"-I", "vcd", "-i", vcd, "-O", "csv"});
        QVERIFY(sigrok.waitForFinished(30000));
        QCOMPARE(sigrok.exitCode(), 0);
        QStringList channels;
        QStringList levels; // of the channels, at each change
        for (const QByteArray& row : sigrok.readAllStandardOutput().split('\n')) {
            if (row.startsWith("; Channels"))
                channels = QString::fromLatin1(row.mid(row.indexOf(':') + 2)).split(QStringLiteral(", "));
            else if (!row.isEmpty() && (row[0] == '0' || row[0] == '1') && (levels.isEmpty() || levels.last() != row))
                levels << QString::fromLatin1(row);
        }
        QCOMPARE(channels, (QStringList{"ACK_378", "Busy_378", "ACK_278", "Busy_278"}));
        QCOMPARE(levels, (QStringList{"1,1,0,1", "1,1,1,1", "1,1,0,1", "1,1,1,1", "1,1,0,1", "1,1,1,1"}));
    }

    void sigtermLeavesACompleteFile()
    {
        QTemporaryDir dir;
        const QString vcd = dir.filePath(QStringLiteral("stopped.vcd"));
        QProcess cli;
        cli.start(QStringLiteral(VELKARO_CLI), {"--sim", "watch", "--port", "278", "--format", "vcd", "-o", vcd});
        QVERIFY(cli.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile(vcd).size() > 0, 10000); // the header: the watch runs
        QTest::qWait(300);
        cli.terminate();
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 0);

        QFile file(vcd);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.last(), QByteArray());
        QVERIFY2(lines[lines.size() - 2].startsWith('#'), lines[lines.size() - 2].constData());
        QVERIFY(lines.contains("$enddefinitions $end"));
        if (!sigrokCli().isEmpty())
            QCOMPARE(QProcess::execute(sigrokCli(), {"-I", "vcd", "-i", vcd, "-O", "csv", "-o", dir.filePath("out.csv")}), 0);
    }
};

QTEST_MAIN(tst_cli)
#include "tst_cli.moc"
