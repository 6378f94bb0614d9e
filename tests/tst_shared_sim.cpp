// The simulated machine that velkaro-sim and velkaro-cli --sim share: what it
// accepts from the shared-memory object, two processes on one machine, and the
// card's traffic. Each test names an object of its own, never the user's.
#include "change_writer.h"
#include "cli_run.h"
#include "port_route.h"
#include "register_model.h"
#include "serial_step_card.h"
#include "simulated_machine.h"
#include "simulated_port_route.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <map>
#include <thread>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A shared-memory name of this test's alone, removed at the end.
struct ObjectName {
    ObjectName()
    {
        static int count = 0;
        name = "/velkaro-test-" + std::to_string(getpid()) + "-" + std::to_string(++count);
    }
    ~ObjectName() { shm_unlink(name.c_str()); }
    std::string name;
};

// The bytes of a machine's object as its maker leaves them.
QByteArray freshImage()
{
    const ObjectName made;
    std::string notice;
    const auto machine = SimulatedMachine::attach(made.name, std::chrono::milliseconds(0), notice);
    const int fd = shm_open(made.name.c_str(), O_RDONLY, 0);
    QByteArray bytes(static_cast<qsizetype>(SimulatedMachine::imageSize()), '\0');
    const bool read = fd >= 0 && ::read(fd, bytes.data(), static_cast<std::size_t>(bytes.size())) == bytes.size();
    if (fd >= 0)
        close(fd);
    return machine->shared() && read ? bytes : QByteArray();
}

bool putObject(const std::string& name, const QByteArray& bytes, mode_t mode)
{
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        return false;
    const bool done = fchmod(fd, mode) == 0 &&
                      ::write(fd, bytes.constData(), static_cast<std::size_t>(bytes.size())) == bytes.size();
    close(fd);
    return done;
}

QByteArray objectBytes(const std::string& name)
{
    const int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0)
        return {};
    QByteArray bytes(8192, '\0');
    const ssize_t size = ::read(fd, bytes.data(), static_cast<std::size_t>(bytes.size()));
    close(fd);
    bytes.truncate(size < 0 ? 0 : size);
    return bytes;
}

template <typename T>
QByteArray bytesOf(T value)
{
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

// velkaro-cli --sim on the machine of that name.
struct Cli {
    explicit Cli(const std::string& machine)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VELKARO_SIM_MACHINE"), QString::fromStdString(machine));
        process.setProcessEnvironment(environment);
    }
    void start(const QString& arguments)
    {
        process.start(QStringLiteral(VELKARO_CLI), QStringList{"--sim"} + arguments.split(QLatin1Char(' ')));
    }
    // Runs to the end; its standard output.
    QString run(const QString& arguments)
    {
        start(arguments);
        if (!process.waitForFinished(30000))
            return QStringLiteral("(did not end)");
        errors = QString::fromUtf8(process.readAllStandardError());
        return QString::fromUtf8(process.readAllStandardOutput());
    }
    QProcess process;
    QString errors;
};

// The status register of the card at a time on its clock, packed as a watch records it.
std::uint32_t cardRegisters(std::uint64_t nanoseconds)
{
    const std::uint8_t status =
        RegisterModel::registerFromLevels(RegisterModel::Status, SerialStepCard::linesAt(nanoseconds)) | 0x07;
    return static_cast<std::uint32_t>(status) << 8;
}

bool lineAt(const char* name, std::uint64_t nanoseconds)
{
    return RegisterModel::lineLevel(*RegisterModel::lineNamed(name), cardRegisters(nanoseconds));
}

QString sigrokCli()
{
    return QStandardPaths::findExecutable(QStringLiteral("sigrok-cli"));
}

}

class tst_shared_sim : public QObject {
    Q_OBJECT

private slots:
    // An object that is not a machine of this version, or open to others, is
    // left exactly as it is; the process takes a private machine and says why.
    void unfitObjectsAreLeftAlone_data()
    {
        QTest::addColumn<int>("offset");     // where the change goes; -1: the size changes
        QTest::addColumn<QByteArray>("put"); // at the offset; with -1, bytes appended (or, empty, a cut)
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("another version") << 4 << bytesOf<std::uint32_t>(2) << 0600 << "it is of another version (2)";
        QTest::newRow("another kind of object") << 0 << QByteArray("XXXX") << 0600 << "it is no simulated machine of velkaro's";
        QTest::newRow("ports at other bases") << 24 << bytesOf<std::uint16_t>(0x3BC) << 0600 << "its header is damaged";
        QTest::newRow("a size field that lies") << 8 << bytesOf<std::uint32_t>(4096) << 0600 << "its header is damaged";
        QTest::newRow("a clock from the future") << 16 << bytesOf<std::int64_t>(INT64_MAX) << 0600 << "its clock is damaged";
        QTest::newRow("a negative clock") << 16 << bytesOf<std::int64_t>(-1) << 0600 << "its clock is damaged";
        QTest::newRow("cut short") << -1 << QByteArray() << 0600 << "it holds 20 bytes, not 40";
        QTest::newRow("longer") << -1 << QByteArray(100, 'x') << 0600 << "it holds 140 bytes, not 40";
        QTest::newRow("open to the group") << 0 << QByteArray() << 0660 << "other users may open it (mode 0660)";
    }

    void unfitObjectsAreLeftAlone()
    {
        QFETCH(int, offset);
        QFETCH(QByteArray, put);
        QFETCH(int, mode);
        QFETCH(QString, reason);
        QByteArray image = freshImage();
        QCOMPARE(image.size(), 40);
        if (offset >= 0)
            image.replace(offset, put.size(), put);
        else if (put.isEmpty())
            image.truncate(20);
        else
            image.append(put);
        const ObjectName object;
        QVERIFY(putObject(object.name, image, static_cast<mode_t>(mode)));

        std::string notice;
        const auto machine = SimulatedMachine::attach(object.name, std::chrono::milliseconds(0), notice);
        QVERIFY(!machine->shared());
        QCOMPARE(QString::fromStdString(notice), "the simulated machine /dev/shm" + QString::fromStdString(object.name) +
                                                     " cannot be shared: " + reason +
                                                     "; these simulated ports are private to this process");
        machine->latches(0).data.store(0x5A);
        QCOMPARE(objectBytes(object.name), image);
    }

    // One process writes, others read and watch: the latches, and the loopback
    // plug's lines that follow them, are the same in each.
    void twoProcessesShareOneMachine()
    {
        const ObjectName object;
        Cli writer(object.name);
        Cli reader(object.name);
        writer.run(QStringLiteral("write data=0x55"));
        QCOMPARE(reader.run(QStringLiteral("read data")), QStringLiteral("85\n"));
        writer.run(QStringLiteral("set D0=0 SlctIn=0"));
        QCOMPARE(reader.run(QStringLiteral("read --names Err control")), QStringLiteral("Err=0\ncontrol=200\n"));

        Cli watcher(object.name);
        watcher.start(QStringLiteral("watch -p 378 -l Err --edge rising -n 1"));
        QString seen;
        QTRY_VERIFY_WITH_TIMEOUT((seen += QString::fromUtf8(watcher.process.readAllStandardOutput()))
                                     .contains(QLatin1String("0 port=378")),
                                 10000); // its first record: the watch runs
        writer.run(QStringLiteral("toggle D0"));
        QVERIFY(watcher.process.waitForFinished(10000));
        seen += QString::fromUtf8(watcher.process.readAllStandardOutput());
        QCOMPARE(watcher.process.exitCode(), 0);
        const QStringList lines = seen.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(lines.value(lines.size() - 2).contains(QRegularExpression(QStringLiteral("^\\d+ port=378 data=55 .* Err=1$"))),
                 qPrintable(seen));
        QCOMPARE(writer.errors + reader.errors + QString::fromUtf8(watcher.process.readAllStandardError()), NormalSamplingNote);
    }

    // Each port keeps its own latches, on a shared machine and on a private one.
    void eachPortHasItsOwnLatches_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::newRow("shared: another route reads") << true;
        QTest::newRow("private: the same route reads") << false;
    }

    void eachPortHasItsOwnLatches()
    {
        QFETCH(bool, shared);
        const ObjectName object;
        std::string notice;
        PortRoute writer = OpenSimulatedPortRoute(shared ? object.name : std::string(), notice);
        PortRoute secondRoute = shared ? OpenSimulatedPortRoute(object.name, notice) : PortRoute();
        PortChannel& reader = shared ? *secondRoute.channel : *writer.channel;
        QCOMPARE(QString::fromStdString(notice), QString());
        const std::pair<std::uint16_t, std::uint8_t> written[] = {{0x378, 0x12}, {0x278, 0x34}, {0xE010, 0x56}};
        for (const auto& [base, value] : written) {
            writer.channel->WritePortByte(base, value);
            writer.channel->WritePortByte(base + 2, value & 0x0F);
        }
        for (const auto& [base, value] : written) {
            QCOMPARE(reader.ReadPortByte(base), value);
            QCOMPARE(reader.ReadPortByte(base + 2), 0xC0 | (value & 0x0F));
        }
    }

    // A four-byte read of a shared port is one moment: while another route
    // flips D0-D4, the loopback plug's status always matches the data read
    // with it.
    void fourByteReadIsOneMoment()
    {
        const ObjectName object;
        std::string notice;
        PortRoute writer = OpenSimulatedPortRoute(object.name, notice);
        PortRoute reader = OpenSimulatedPortRoute(object.name, notice);
        std::atomic<bool> done{false};
        std::atomic<long> flips{0};
        // The writer's route is its thread's alone; the latches between them are atomics.
        std::thread flipper([&] {
            for (std::uint8_t data = 0; !done.load(std::memory_order_relaxed); data ^= 0x1F) {
                writer.channel->WritePortByte(0x378, data);
                flips.fetch_add(1, std::memory_order_relaxed);
            }
        });
        const std::map<std::uint8_t, std::uint8_t> statusOf = {{0x00, 0x87}, {0x1F, 0x7F}};
        long reads = 0, torn = 0;
        QString first;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (flips.load(std::memory_order_relaxed) < 2'000'000 && std::chrono::steady_clock::now() < deadline) {
            for (int n = 0; n < 1000; ++n, ++reads) {
                const std::uint32_t registers = reader.channel->ReadPortDword(0x378);
                const auto expected = statusOf.find(static_cast<std::uint8_t>(registers));
                if (expected == statusOf.end() || ((registers >> 8) & 0xFF) != expected->second) {
                    if (torn++ == 0)
                        first = QString::number(registers, 16);
                }
            }
        }
        done = true;
        flipper.join();
        QVERIFY2(flips > 1000 && reads > 1000, "the writer and the reader both ran");
        QVERIFY2(torn == 0, qPrintable(QStringLiteral("%1 of %2 reads torn, the first %3").arg(torn).arg(reads).arg(first)));
    }

    void aProcessOnAnUnfitObjectSaysSoAndWorks()
    {
        QByteArray image = freshImage();
        image.replace(4, 4, bytesOf<std::uint32_t>(7));
        const ObjectName object;
        QVERIFY(putObject(object.name, image, 0600));
        Cli cli(object.name);
        QCOMPARE(cli.run(QStringLiteral("read Busy")), QStringLiteral("0\n"));
        QCOMPARE(cli.process.exitCode(), 0);
        QCOMPARE(cli.errors, "velkaro-cli: the simulated machine /dev/shm" + QString::fromStdString(object.name) +
                                 " cannot be shared: it is of another version (7); these simulated ports are private "
                                 "to this process\n");
    }

    // 9600 baud 8N1, idle high: sampled in the middle of each bit, the frames
    // carry the text, lowest bit first, and the line rests high until the next.
    void cardSendsItsTextSerially()
    {
        constexpr double Bit = 1e9 / 9600;
        for (const std::uint64_t cycle : {SerialStepCard::TextFrom, SerialStepCard::TextEvery * 7 + SerialStepCard::TextFrom}) {
            QByteArray text;
            for (int frame = 0; frame < static_cast<int>(SerialStepCard::Text.size()); ++frame) {
                const auto middle = [&](int bit) { return cycle + static_cast<std::uint64_t>((frame * 10 + bit + 0.5) * Bit); };
                QVERIFY2(!lineAt("ACK", middle(0)), "start bit");
                QVERIFY2(lineAt("ACK", middle(9)), "stop bit");
                int byte = 0;
                for (int bit = 0; bit < 8; ++bit)
                    byte |= lineAt("ACK", middle(1 + bit)) << bit;
                text += static_cast<char>(byte);
            }
            QCOMPARE(text, QByteArray(SerialStepCard::Text.data(), SerialStepCard::Text.size()));
            for (std::uint64_t t = cycle + static_cast<std::uint64_t>(180 * Bit);
                 t < cycle + SerialStepCard::TextEvery - SerialStepCard::TextFrom; t += 1000)
                QVERIFY2(lineAt("ACK", t), "idle");
            for (std::uint64_t t = cycle - SerialStepCard::TextFrom; t < cycle; t += 1000)
                QVERIFY2(lineAt("ACK", t), "idle before the text");
        }
    }

    // Bursts of 200 step pulses of 5 us on Busy, one a millisecond, the
    // direction on SlctOut steady through a burst and flipped for the next.
    void cardStepsInBursts()
    {
        QList<int> steps;        // per burst
        QList<bool> directions;  // per burst
        QSet<std::uint64_t> widths;
        for (std::uint64_t burst = 0; burst < 3; ++burst) {
            const std::uint64_t start = burst * SerialStepCard::BurstEvery;
            int count = 0;
            std::uint64_t risen = start;
            bool before = lineAt("Busy", start);
            const bool direction = lineAt("SlctOut", start);
            for (std::uint64_t t = start; t < start + SerialStepCard::BurstEvery; t += 500) {
                const bool now = lineAt("Busy", t);
                QCOMPARE(lineAt("SlctOut", t), direction);
                if (now && !before) {
                    ++count;
                    risen = t;
                } else if (!now && before) {
                    widths.insert(t - risen);
                }
                before = now;
            }
            steps << count + (lineAt("Busy", start) ? 1 : 0);
            directions << direction;
        }
        QCOMPARE(steps, (QList<int>{200, 200, 200}));
        QCOMPARE(widths, QSet<std::uint64_t>{5000});
        QCOMPARE(directions, (QList<bool>{false, true, false}));
    }

    // The card's lines written as a watch writes them, read by sigrok's UART decoder.
    void cardTextDecodesInSigrok()
    {
        if (sigrokCli().isEmpty())
            QSKIP("sigrok-cli is not installed (Debian package sigrok-cli)");
        QTemporaryDir dir;
        const QString vcd = dir.filePath(QStringLiteral("card.vcd"));
        std::FILE* file = std::fopen(vcd.toLocal8Bit().constData(), "w");
        QVERIFY(file);
        std::vector<const RegisterModel::Line*> lines;
        for (const char* name : {"Err", "SlctOut", "PaperOut", "ACK", "Busy"})
            lines.push_back(RegisterModel::lineNamed(name));
        {
            const auto writer = MakeChangeWriter(RecordFormat::Vcd, false, file, ChangeWriter::HandOn::InBlocks);
            writer->begin(WatchHeader{{{"E010", "simulated"}}, std::chrono::system_clock::now(), lines});
            std::uint32_t last = cardRegisters(0);
            writer->record(0, 0, last, 0xFFFFFF);
            const std::uint64_t end = SerialStepCard::TextEvery + 30'000'000;
            for (std::uint64_t t = 1000; t < end; t += 1000) {
                const std::uint32_t now = cardRegisters(t);
                if (now != last)
                    writer->record(static_cast<std::int64_t>(t), 0, now, now ^ last);
                last = now;
            }
            writer->end(static_cast<std::int64_t>(end));
        }
        std::fclose(file);

        QProcess sigrok;
        sigrok.start(sigrokCli(), {"-I", "vcd", "-i", vcd, "-P", "uart:rx=ACK:baudrate=9600", "-A", "uart=rx-data"});
        QVERIFY(sigrok.waitForFinished(30000));
        QCOMPARE(sigrok.exitCode(), 0);
        QByteArray decoded;
        for (const QByteArray& row : sigrok.readAllStandardOutput().split('\n'))
            if (row.startsWith("uart-1: ") && row.size() == 10)
                decoded += static_cast<char>(row.mid(8).toInt(nullptr, 16));
        const QByteArray text(SerialStepCard::Text.data(), SerialStepCard::Text.size());
        QCOMPARE(decoded, text + text);
    }
};

QTEST_MAIN(tst_shared_sim)
#include "tst_shared_sim.moc"
