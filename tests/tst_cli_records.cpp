// What velkaro-cli watch records: line levels, each format's layout, VCD that
// sigrok reads back, and the lines chosen.
#include "change_writer.h"
#include "cli_machine.h"
#include "simulated_pulses.h"
#include "velkaro_cli.h"
#include "watch.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {
// What a writer of the format makes of the calls on it, past the header's first lines.
template <typename Calls>
QString Written(int format, int headerLines, const std::vector<const RegisterModel::Line*>& lines, Calls calls)
{
    std::FILE* file = std::tmpfile();
    const auto writer = MakeChangeWriter(CliArguments::Format(format), false, file, ChangeWriter::HandOn::InBlocks);
    writer->begin(WatchHeader{{{"378", "simulated"}}, {}, lines});
    calls(*writer);
    return WrittenText(file).split(QLatin1Char('\n')).mid(headerLines).join(QLatin1Char('\n'));
}
}

class tst_cli_records : public QObject {
    Q_OBJECT

private slots:
    // sigrok's VCD reader, which PulseView uses, reads the same transitions
    // back; a watch of every port names each port's wires apart, and the wire
    // that says where the ports were sampled comes last.
    void vcdOpensInSigrok()
    {
        if (SigrokCli().isEmpty())
            QSKIP("sigrok-cli is not installed (Debian package sigrok-cli)");
        QTemporaryDir dir;
        const QString vcd = dir.filePath(QStringLiteral("ack.vcd"));
        // ACK on port 278 is low for the first 250 of each 1000 reads; its Busy
        // stays high, and so do the open lines of port 378.
        const CliRun run({"watch", "--lines", "ACK,Busy", "--count", "5", "--format", "vcd", "-o", vcd});
        QCOMPARE(run.status, 0);

        QProcess sigrok;
        sigrok.start(SigrokCli(), {"-I", "vcd", "-i", vcd, "-O", "csv"});
        QVERIFY(sigrok.waitForFinished(30000));
        QCOMPARE(sigrok.exitCode(), 0);
        QStringList channels;
        QStringList levels; // of the channels, at each change
        for (const QByteArray& row : sigrok.readAllStandardOutput().split('\n')) {
            if (row.startsWith("; Channels"))
                channels = QString::fromLatin1(row.mid(row.indexOf(':') + 2)).split(QStringLiteral(", "));
            else if (!row.isEmpty() && (row[0] == '0' || row[0] == '1')) {
                // The lines' levels; a loaded machine may add blind stretches.
                const QString lines = QString::fromLatin1(row.left(row.lastIndexOf(',')));
                if (levels.isEmpty() || levels.last() != lines)
                    levels << lines;
            }
        }
        QCOMPARE(channels, (QStringList{"ACK_378", "Busy_378", "ACK_278", "Busy_278", "sampled"}));
        QCOMPARE(levels, (QStringList{"1,1,0,1", "1,1,1,1", "1,1,0,1", "1,1,1,1", "1,1,0,1", "1,1,1,1"}));
    }

    // The same changes in every format: the inverted lines Busy, STB, AFD and
    // SlctIn give their line levels, not their register bits; a VCD puts a change
    // inside the microsecond of the one before a microsecond later.
    void recordsGiveLineLevels_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("headerLines");
        QTest::addColumn<QString>("records");
        QTest::newRow("text") << int(CliArguments::Format::Text) << 2
                              << "0 port=378 data=01 status=7F control=05 D0=1 Busy=1 STB=0 AFD=1 Init=1 SlctIn=1\n"
                                 "1500 port=378 data=01 status=FF control=04 Busy=0 STB=1\n"
                                 "1800 port=378 data=00 status=FF control=0E D0=0 AFD=0 SlctIn=0\n"
                                 "1900 port=378 data=00 status=FE control=0E\n"
                                 "# end 2000\n";
        QTest::newRow("csv") << int(CliArguments::Format::Csv) << 2
                             << "0,378,1,127,5,D0 Busy STB AFD Init SlctIn,1,1,0,1,1,1\n"
                                "1500,378,1,255,4,Busy STB,1,0,1,1,1,1\n"
                                "1800,378,0,255,14,D0 AFD SlctIn,0,0,1,0,1,0\n"
                                "1900,378,0,254,14,,0,0,1,0,1,0\n";
        QTest::newRow("jsonl") << int(CliArguments::Format::Jsonl) << 1
                               << "{\"t_ns\":0,\"port\":\"378\",\"data\":1,\"status\":127,\"control\":5,\"changed\":{\"D0\":1,"
                                  "\"Busy\":1,\"STB\":0,\"AFD\":1,\"Init\":1,\"SlctIn\":1}}\n"
                                  "{\"t_ns\":1500,\"port\":\"378\",\"data\":1,\"status\":255,\"control\":4,\"changed\":{\"Busy\":0,"
                                  "\"STB\":1}}\n"
                                  "{\"t_ns\":1800,\"port\":\"378\",\"data\":0,\"status\":255,\"control\":14,\"changed\":{\"D0\":0,"
                                  "\"AFD\":0,\"SlctIn\":0}}\n"
                                  "{\"t_ns\":1900,\"port\":\"378\",\"data\":0,\"status\":254,\"control\":14,\"changed\":{}}\n"
                                  "{\"end_ns\":2000}\n";
        QTest::newRow("vcd") << int(CliArguments::Format::Vcd) << 12
                             << "$scope module capture $end\n$var wire 1 ' sampled $end\n$upscope $end\n$enddefinitions $end\n"
                                "#0\n$dumpvars\n1!\n1\"\n0#\n1$\n1%\n1&\n1'\n$end\n#1\n0\"\n1#\n#2\n0!\n0$\n0&\n#3\n";
    }

    void recordsGiveLineLevels()
    {
        QFETCH(int, format);
        QFETCH(int, headerLines);
        QFETCH(QString, records);
        std::vector<const RegisterModel::Line*> lines;
        for (const char* name : {"D0", "Busy", "STB", "AFD", "Init", "SlctIn"})
            lines.push_back(RegisterModel::lineNamed(name));
        QCOMPARE(Written(format, headerLines, lines, [](ChangeWriter& writer) {
                     writer.record(0, 0, 0x057F01, 0xFFFFFF);
                     writer.record(1500, 0, 0x04FF01, 0x018000); // Busy and STB
                     writer.record(1800, 0, 0x0EFF00, 0x0A0001); // D0, AFD and SlctIn
                     writer.record(1900, 0, 0x0EFE00, 0x000100); // a status bit that reaches no pin: no VCD wire
                     writer.end(2000);
                 }),
                 records);
    }

    // A stretch in which nothing was sampled, in every format: a line of its
    // own, and in a VCD the sampled wire low through it.
    void blindStretchesAreMarked_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("headerLines");
        QTest::addColumn<QString>("records");
        QTest::newRow("text") << int(CliArguments::Format::Text) << 2
                              << "0 port=378 data=01 status=7F control=05 D0=1\n"
                                 "# not sampled from 1500000 to 7300000\n"
                                 "7300000 port=378 data=00 status=7F control=05 D0=0\n"
                                 "# end 9000000\n";
        QTest::newRow("csv") << int(CliArguments::Format::Csv) << 2
                             << "0,378,1,127,5,D0,1\n"
                                "# not sampled from 1500000 to 7300000\n"
                                "7300000,378,0,127,5,D0,0\n";
        QTest::newRow("jsonl") << int(CliArguments::Format::Jsonl) << 1
                               << "{\"t_ns\":0,\"port\":\"378\",\"data\":1,\"status\":127,\"control\":5,\"changed\":{\"D0\":1}}\n"
                                  "{\"not_sampled\":{\"from_ns\":1500000,\"to_ns\":7300000}}\n"
                                  "{\"t_ns\":7300000,\"port\":\"378\",\"data\":0,\"status\":127,\"control\":5,\"changed\":{\"D0\":0}}\n"
                                  "{\"end_ns\":9000000}\n";
        QTest::newRow("vcd") << int(CliArguments::Format::Vcd) << 11
                             << "#0\n$dumpvars\n1!\n1\"\n$end\n#1500\n0\"\n#7300\n1\"\n#7301\n0!\n#9000\n";
    }

    void blindStretchesAreMarked()
    {
        QFETCH(int, format);
        QFETCH(int, headerLines);
        QFETCH(QString, records);
        QCOMPARE(Written(format, headerLines, {RegisterModel::lineNamed("D0")}, [](ChangeWriter& writer) {
                     writer.record(0, 0, 0x057F01, 0xFFFFFF);
                     writer.blind(1'500'000, 7'300'000);
                     writer.record(7'300'000, 0, 0x057F00, 0x000001);
                     writer.end(9'000'000);
                 }),
                 records);
    }

    // A watch held up for 6 ms says where, with the stretch around the stall.
    void watchMarksWhereItWasBlind()
    {
        using namespace std::chrono_literals;
        const CliRun run({"watch", "-p", "378", "-f", "jsonl", "--duration", "0.05"},
                         withDevice(0x04, 0x00, new StallingDevice({{20000, 6ms}})));
        QCOMPARE(run.status, 0);
        bool marked = false;
        for (const QString& line : run.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QJsonObject stretch = QJsonDocument::fromJson(line.toUtf8()).object().value(QLatin1String("not_sampled")).toObject();
            marked = marked || stretch.value(QLatin1String("to_ns")).toDouble() - stretch.value(QLatin1String("from_ns")).toDouble() >= 6e6;
        }
        QVERIFY2(marked, qPrintable(run.output));
    }

    // Times in a VCD only go forward, one microsecond apart at least, however
    // the nanoseconds fall; the counted-up time text carries over its digits.
    void vcdTimesOnlyGoForward()
    {
        std::FILE* file = std::tmpfile();
        const auto writer = MakeChangeWriter(CliArguments::Format::Vcd, false, file, ChangeWriter::HandOn::InBlocks);
        writer->begin(WatchHeader{{{"378", "simulated"}}, {}, {RegisterModel::lineNamed("D0")}});
        std::uint32_t data = 0;
        writer->record(0, 0, data, 0xFFFFFF);
        for (const std::int64_t nanoseconds : {8000, 8100, 8200, 19000, 19100, 99000, 99100, 50000}) {
            data ^= 1;
            writer->record(nanoseconds, 0, data, 1);
        }
        writer->end(100000);
        QStringList times;
        for (const QString& line : WrittenText(file).split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1Char('#')))
                times << line.mid(1);
        QCOMPARE(times, (QStringList{"0", "8", "9", "10", "19", "20", "99", "100", "101", "102"}));
    }

    // A single port's wires carry the lines' names; several ports' carry the
    // port too. The file is read here, sigrok or not.
    void vcdNamesWiresByPort_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QStringList>("wires");
        QTest::newRow("one port") << "--port 278" << QStringList{"ACK", "Busy", "sampled"};
        QTest::newRow("every port") << "" << QStringList{"ACK_378", "Busy_378", "ACK_278", "Busy_278", "sampled"};
    }

    void vcdNamesWiresByPort()
    {
        QFETCH(QString, arguments);
        QFETCH(QStringList, wires);
        QTemporaryDir dir;
        const QString vcd = dir.filePath(QStringLiteral("ports.vcd"));
        const CliRun run(QStringList{"watch", "--lines", "ACK,Busy", "--count", "3", "--format", "vcd", "-o", vcd} +
                         arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts));
        QCOMPARE(run.status, 0);
        QFile file(vcd);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList named;
        QByteArray sampledWire;
        long long last = -1;
        int changes = 0;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.startsWith("$var wire 1 ")) {
                named << QString::fromLatin1(line.split(' ')[4]);
                if (named.last() == QLatin1String("sampled"))
                    sampledWire = line.split(' ')[3];
            }
            if (line.startsWith('#')) {
                QVERIFY2(line.mid(1).toLongLong() > last, line.constData());
                last = line.mid(1).toLongLong();
            }
            // A loaded machine may add blind stretches: the sampled wire's changes are not counted.
            if ((line.startsWith('0') || line.startsWith('1')) && (line.mid(1) != sampledWire || last == 0))
                ++changes;
        }
        QCOMPARE(named, wires);
        QCOMPARE(changes, wires.size() + 3); // the first values, then three changes of ACK
    }

    // Each line of a JSON lines watch is one JSON object: the header, the records, the end.
    void jsonLinesAreJson()
    {
        const CliRun run({"watch", "--port", "278", "--lines", "ACK", "--count", "2", "--format", "jsonl"});
        QCOMPARE(run.status, 0);
        QList<QJsonObject> objects;
        for (const QString& line : run.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            QJsonParseError error{};
            objects << QJsonDocument::fromJson(line.toUtf8(), &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(line));
        }
        objects.removeIf([](const QJsonObject& object) { return object.contains(QStringLiteral("not_sampled")); }); // a loaded machine's
        QCOMPARE(objects.size(), 5);
        const QJsonObject watch = objects[0][QStringLiteral("watch")].toObject();
        QCOMPARE(watch[QStringLiteral("ports")].toArray()[0].toObject()[QStringLiteral("port")].toString(), "278");
        QCOMPARE(watch[QStringLiteral("lines")].toArray(), QJsonArray{"ACK"});
        QStringList levels;
        for (int i = 1; i < 4; ++i) {
            QCOMPARE(objects[i][QStringLiteral("port")].toString(), "278");
            levels << QString::number(objects[i][QStringLiteral("changed")].toObject()[QStringLiteral("ACK")].toInt(-1));
        }
        QCOMPARE(levels, (QStringList{"0", "1", "0"})); // ACK is low for the first 250 ms of a second
        QVERIFY(objects[4].contains(QStringLiteral("end_ns")));
    }

    // A change only on other lines, --until's among them, is no record and does not count.
    void linesChooseWhatIsRecordedAndCounted_data()
    {
        QTest::addColumn<QString>("until");
        QTest::newRow("other lines") << "";
        QTest::newRow("--until on other lines") << "--until D0=1 --until D0=0"; // never holds
    }

    void linesChooseWhatIsRecordedAndCounted()
    {
        QFETCH(QString, until);
        const CliRun run(QStringList{"watch", "--port", "378", "--lines", "D7", "--count", "2", "--format", "csv"} +
                             until.split(QLatin1Char(' '), Qt::SkipEmptyParts),
                         withDevice(0x04, 0x00, new CountingDevice));
        QCOMPARE(run.status, 0);
        const QStringList records = CsvRecords(run.output);
        QCOMPARE(records.size(), 3); // the first reading, then two changes of D7
        QCOMPARE(records[1].section(QLatin1Char(','), 1, 1), "378");
        QCOMPARE(records[1].section(QLatin1Char(','), 3), "127,196,D7,1");
        QCOMPARE(records[2].section(QLatin1Char(','), 3), "127,196,D7,0");
        // Byte reads, as the count changes between them: the data moves by three a sample.
        QVERIFY2(CsvData(records[1]) >= 128 && CsvData(records[1]) < 131, qPrintable(records[1]));
        QVERIFY2(CsvData(records[2]) < 3, qPrintable(records[2]));
    }
};

QTEST_MAIN(tst_cli_records)
#include "tst_cli_records.moc"
