#include "change_export.h"
#include "change_ring.h"
#include "line_measures.h"
#include "port_capture.h"
#include "port_channel.h"
#include "sampling_engine.h"
#include "simulated_devices.h"
#include "simulated_port_platform.h"
#include "simulated_pulses.h"
#include "trigger.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <map>
#include <thread>
#include <numeric>
#include <sys/resource.h>

namespace {
using namespace std::chrono_literals;

// Packed registers with the given line levels high (by name) and every other line low.
std::uint32_t levels(std::initializer_list<const char*> high)
{
    std::uint32_t registers = RegisterModel::packedInvertMask();
    for (const char* name : high)
        registers ^= RegisterModel::packedBit(*RegisterModel::lineNamed(name));
    return registers;
}

std::size_t lineNumber(const char* name)
{
    return static_cast<std::size_t>(RegisterModel::lineIndex(name));
}

// Keeps what the engine hands on; ends after so many passes.
struct KeptSamples : SampleSink {
    explicit KeptSamples(long long passes) : passes(passes) {}
    bool changed(std::int64_t nanoseconds, std::size_t, std::uint32_t, std::uint32_t) override
    {
        changes.push_back(nanoseconds);
        return true;
    }
    void blind(std::int64_t from, std::int64_t to) override { stretches.push_back({from, to}); }
    void briefGap(std::int64_t from, std::int64_t to) override { briefGaps.push_back({from, to}); }
    bool runDone(std::int64_t, long long samples) override { return samples < passes; }
    long long passes;
    std::vector<std::int64_t> changes;
    std::vector<std::pair<std::int64_t, std::int64_t>> stretches;
    std::vector<std::pair<std::int64_t, std::int64_t>> briefGaps;
};

struct SimulatedRig {
    SimulatedPortPlatform platform;
    PortChannel channel{platform};
    SimulatedParallelPort& port = platform.addPort(0x378);
    SimulatedRig()
    {
        platform.setLogging(false);
        channel.OpenPortChannel();
    }
};
}

class TestCapture : public QObject {
    Q_OBJECT

private slots:
    void oneSamplePulsesAreAllRecorded();
    void interruptsCountedBesideTheSampling_data();
    void interruptsCountedBesideTheSampling();
    void blindStretchesAreEachHandedOn();
    void nothingIsBlindAfterTheEnd();
    void aPauseIsBlindAndEndsTheRecord();
    void changeOnEverySampleIsEachStored();
    void ownerWritesWhileCapturing();
    void newRecordBeginsWithThePortsState();
    void ringKeepsTheNewest();
    void seenOverStretches();
    void triggerFires_data();
    void triggerFires();
    void triggerTextRoundTrip();
    void measuresOfPulses();
    void exportedSpanIsVcdOfLineLevels_data();
    void exportedSpanIsVcdOfLineLevels();
    void exportRefusals_data();
    void exportRefusals();
};

void TestCapture::oneSamplePulsesAreAllRecorded()
{
    SimulatedRig rig;
    auto* pulses = new OneSamplePulses(7);
    rig.port.attach(std::unique_ptr<SimulatedDevice>(pulses));
    PortCapture capture(rig.channel, 1 << 20);
    capture.start({0x378, false});
    QTRY_VERIFY_WITH_TIMEOUT(capture.counters().samples > 500000, 20000);
    capture.stop();

    // A pulse is its falling edge: the capture may stop on a pulse's one sample.
    const long long recorded = capture.read([](const ChangeRing& ring) {
        const LineMeasure ack = MeasureLines(ring, 0, std::numeric_limits<std::int64_t>::max())[lineNumber("ACK")];
        return ack.edges - ack.risingEdges;
    });
    QCOMPARE(capture.counters().dropped, 0u);
    QVERIFY(pulses->pulsesMade() > 70000);
    QCOMPARE(recorded, pulses->pulsesMade());
}

// The rises of ACK the port raised its interrupt for (bit 4 set), as the
// route counts them, beside those the capture sampled: here each pulse lasts
// a sample, so both agree (but for a rise before the first sample).
void TestCapture::interruptsCountedBesideTheSampling_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::newRow("bit 4 set") << true;
    QTest::newRow("bit 4 clear: no interrupt") << false;
}

void TestCapture::interruptsCountedBesideTheSampling()
{
    QFETCH(bool, enabled);
    SimulatedRig rig;
    rig.port.attach(std::make_unique<OneSamplePulses>(7));
    rig.port.write(2, enabled ? 0x10 : 0x00);
    PortCapture capture(rig.channel, 1 << 20);
    capture.start({0x378, false});
    QTRY_VERIFY(capture.counters().samples > 100000);
    capture.stop();
    QVERIFY(capture.counters().ackRises > 1000);
    const std::optional<long long> counted = capture.kernelAckRises();
    QVERIFY(counted);
    if (!enabled) {
        QCOMPARE(*counted, 0LL);
        return;
    }
    // A rise before the first sample is the kernel's alone.
    QVERIFY2(*counted - capture.counters().ackRises == 0 || *counted - capture.counters().ackRises == 1,
             qPrintable(QStringLiteral("%1 counted, %2 sampled").arg(*counted).arg(capture.counters().ackRises)));
}

// Stalls of the reads, each in a blind stretch of its own, in their order: 5
// and 8 ms, and four of 300 µs (enough to corrupt a serial byte). A loaded
// machine may add some of its own (a few dozen in a slow build), never one for
// each of the many thousand stamps. Stalls of 30 µs between them are brief
// gaps (a loaded machine may stretch some of them into blind ones, not all).
void TestCapture::blindStretchesAreEachHandedOn()
{
    SimulatedRig rig;
    rig.port.attach(std::make_unique<StallingDevice>(std::map<long long, std::chrono::microseconds>{
        {5000, 5ms}, {100000, 300us}, {120000, 30us}, {150000, 300us}, {170000, 30us}, {200000, 300us},
        {220000, 30us}, {250000, 300us}, {270000, 30us}, {300000, 8ms}}));
    SamplingEngine engine(rig.channel, {{0x378, false}});
    KeptSamples kept(400000);
    engine.run(kept, {});
    QVERIFY(engine.samples() >= 400000);
    QVERIFY2(kept.stretches.size() >= 6 && kept.stretches.size() < 1000, qPrintable(QString::number(kept.stretches.size())));
    std::int64_t previousEnd = 0;
    std::vector<std::int64_t> longOnes;
    long long shortOnes = 0;
    for (const auto& [from, to] : kept.stretches) {
        QVERIFY(from >= previousEnd && to > from);
        previousEnd = to;
        if (to - from >= (longOnes.empty() ? 5'000'000 : 8'000'000))
            longOnes.push_back(to - from);
        else if (to - from >= 300'000 && !longOnes.empty())
            ++shortOnes;
    }
    QVERIFY2(longOnes.size() >= 2, "a stretch for each long stall");
    QVERIFY2(shortOnes >= 4, qPrintable(QStringLiteral("%1 stretches for the four 300 µs stalls").arg(shortOnes)));
    QVERIFY2(std::any_of(kept.briefGaps.begin(), kept.briefGaps.end(),
                         [](const auto& gap) { return gap.second - gap.first >= 30'000; }),
             "a brief gap for a short stall");
    QVERIFY2(kept.briefGaps.size() < 10'000, qPrintable(QString::number(kept.briefGaps.size())));
}

// A sink that ends the sampling at a change leaves no blind stretch after
// it, however long it took over the change: nothing was sampled after it.
void TestCapture::nothingIsBlindAfterTheEnd()
{
    struct EndingAtAChange : KeptSamples {
        EndingAtAChange() : KeptSamples(1'000'000) {}
        bool changed(std::int64_t nanoseconds, std::size_t, std::uint32_t, std::uint32_t) override
        {
            if (nanoseconds == 0)
                return true;
            endedAt = nanoseconds;
            std::this_thread::sleep_for(3ms);
            return false;
        }
        std::int64_t endedAt = -1;
    } ending;
    SimulatedRig rig;
    rig.port.attach(std::make_unique<OneSamplePulses>(1000));
    SamplingEngine engine(rig.channel, {{0x378, false}});
    engine.run(ending, {});
    QVERIFY(engine.samples() < 1'000'000);
    QVERIFY(ending.endedAt > 0);
    for (const auto& [from, to] : ending.stretches) // a busy machine may stall the sampler before the end
        QVERIFY2(to <= ending.endedAt, qPrintable(QStringLiteral("%1 to %2").arg(from).arg(to)));
}

// A pause is a stretch without samples like any other: kept in the record, and
// the record reaches only to the last sample before it.
void TestCapture::aPauseIsBlindAndEndsTheRecord()
{
    SimulatedRig rig;
    PortCapture capture(rig.channel, 1 << 16);
    capture.start({0x378, false});
    QTRY_VERIFY(capture.counters().samples > 1000);
    capture.stop();
    const std::int64_t sampledUntil = capture.sampledUntil();
    std::this_thread::sleep_for(30ms);
    QCOMPARE(capture.sampledUntil(), sampledUntil);
    QVERIFY(capture.now() - sampledUntil >= 30'000'000);
    const long long gapsBefore = capture.counters().gaps; // a loaded machine may have made some
    capture.resume();
    QTRY_VERIFY(capture.counters().gaps > gapsBefore);
    capture.stop();
    const std::vector<ChangeRing::Blind> blind =
        capture.read([](const ChangeRing& ring) { return ring.blindBetween(0, std::numeric_limits<std::int64_t>::max()); });
    QVERIFY(std::any_of(blind.begin(), blind.end(), [&](const ChangeRing::Blind& stretch) {
        return stretch.from == sampledUntil && stretch.to - stretch.from >= 30'000'000;
    }));
}

void TestCapture::changeOnEverySampleIsEachStored()
{
    SimulatedRig rig;
    rig.port.attach(std::make_unique<CountingDevice>());
    PortCapture capture(rig.channel, 1 << 22);
    capture.start({0x378, true});
    QTRY_VERIFY_WITH_TIMEOUT(capture.counters().samples > 100000, 20000);
    // A reader holding the record (as a frame does) loses the sampler nothing,
    // nor does a stop while one holds it.
    const auto holdRecord = [&capture] {
        capture.read([](const ChangeRing&) { std::this_thread::sleep_for(std::chrono::milliseconds(30)); });
    };
    holdRecord();
    std::thread holder(holdRecord);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    capture.stop();
    holder.join();
    // The count steps on every read; three byte reads make a sample.
    const PortCapture::Counters counters = capture.counters();
    QCOMPARE(static_cast<long long>(counters.stored), counters.samples);
    capture.read([](const ChangeRing& ring) {
        for (std::uint64_t change = 1; change < ring.end(); ++change)
            QCOMPARE(static_cast<std::uint8_t>(ring.registers(change) - ring.registers(change - 1)), 3);
    });
}

void TestCapture::ownerWritesWhileCapturing()
{
    SimulatedRig rig;
    // A device that counts every read, as a plain object: both threads' reads reach it.
    rig.port.attach(std::make_unique<OneSamplePulses>(1u << 30));
    PortCapture capture(rig.channel, 1 << 16);
    capture.start({0x378, false});
    // Each value is held until the capture has sampled two runs after it.
    const auto sampledSince = [&capture](long long samples) {
        QTRY_VERIFY_WITH_TIMEOUT(capture.counters().samples >= samples + 130, 10000);
    };
    sampledSince(0);
    for (int value = 1; value <= 100; ++value) {
        const long long before = capture.counters().samples;
        rig.channel.WritePortByte(0x378, static_cast<std::uint8_t>(value));
        QCOMPARE(rig.channel.ReadPortByte(0x378), value);
        sampledSince(before);
    }
    capture.stop();
    std::vector<int> recorded;
    capture.read([&recorded](const ChangeRing& ring) {
        for (std::uint64_t change = ring.oldest(); change < ring.end(); ++change)
            recorded.push_back(static_cast<int>(ring.registers(change) & 0xFF));
    });
    std::vector<int> written(101);
    std::iota(written.begin(), written.end(), 0);
    QCOMPARE(recorded, written);
}

void TestCapture::newRecordBeginsWithThePortsState()
{
    SimulatedRig rig;
    PortCapture capture(rig.channel, 1 << 16);
    for (int record = 0; record < 2; ++record) {
        capture.start({0x378, false});
        QTRY_VERIFY_WITH_TIMEOUT(capture.counters().samples > 1000, 10000);
        capture.stop();
        // Nothing changed, yet the record knows the levels from its start.
        QCOMPARE(capture.counters().stored, 1u);
    }
}

void TestCapture::ringKeepsTheNewest()
{
    ChangeRing ring(1);
    QCOMPARE(ring.capacity(), ChangeRing::Granule);
    const std::uint64_t total = ChangeRing::Granule * 2 + 10;
    for (std::uint64_t n = 0; n < total; ++n)
        ring.append(static_cast<std::int64_t>(n * 10), static_cast<std::uint32_t>(n));
    QCOMPARE(ring.end(), total);
    QCOMPARE(ring.oldest(), total - ChangeRing::Granule);
    QCOMPARE(ring.dropped(), total - ChangeRing::Granule);
    QCOMPARE(ring.registers(ring.oldest()), static_cast<std::uint32_t>(total - ChangeRing::Granule));
    QCOMPARE(ring.registers(total - 1), static_cast<std::uint32_t>(total - 1));
    QCOMPARE(ring.firstAtOrAfter(0), ring.oldest());
    QCOMPARE(ring.firstAtOrAfter(static_cast<std::int64_t>((total - 5) * 10 - 3)), total - 5);
    QCOMPARE(ring.firstAtOrAfter(static_cast<std::int64_t>(total * 10)), total);
    // A ring of N MiB fills them, and no more.
    const double bytes = static_cast<double>(ChangeRing::capacityForMiB(48)) * ChangeRing::BytesPerChange;
    QVERIFY(bytes <= 48 << 20 && bytes > 47 << 20);
}

void TestCapture::seenOverStretches()
{
    // A bit of its own for each lap of the ring, so that a summary that kept
    // what its block's slots held a lap before shows it; and one rare bit.
    const std::uint64_t capacity = ChangeRing::Granule * 2;
    ChangeRing ring(capacity);
    for (std::uint64_t n = 0; n < capacity * 3 - 100; ++n)
        ring.append(static_cast<std::int64_t>(n), (n % 4099 == 5 ? 0x800000u : 0u) | 1u << (n / capacity));
    const std::uint64_t from = ring.oldest();
    for (const auto& [begin, end] : {std::pair{from, from + 1}, {from + 3, from + 70}, {from, from + 4096},
                                     {from + 1, ring.end()}, {ring.end() - 64, ring.end()}}) {
        ChangeRing::Seen expected;
        for (std::uint64_t n = begin; n < end; ++n)
            expected.add(ring.registers(n));
        const ChangeRing::Seen seen = ring.seen(begin, end);
        QCOMPARE(seen.anySet, expected.anySet);
        QCOMPARE(seen.allSet, expected.allSet);
    }
    // A stretch holding the one change with bit 23 shows it set somewhere.
    const std::uint64_t marked = (from / 4099 + 1) * 4099 + 5;
    QVERIFY(ring.seen(marked - 100, marked + 100).anySet & 0x800000u);
    QVERIFY(!(ring.seen(marked + 1, marked + 4000).anySet & 0x800000u));
}

void TestCapture::triggerFires_data()
{
    QTest::addColumn<QString>("conditions"); // line=letter, letters as stored
    QTest::addColumn<quint32>("before");
    QTest::addColumn<quint32>("after");
    QTest::addColumn<bool>("fires");
    QTest::newRow("rising edge of ACK") << "ACK=r" << levels({}) << levels({"ACK"}) << true;
    QTest::newRow("falling edge is not rising") << "ACK=r" << levels({"ACK"}) << levels({}) << false;
    QTest::newRow("Busy falls: line level, not register bit") << "Busy=f" << levels({"Busy"}) << levels({}) << true;
    QTest::newRow("STB low is its line level") << "STB=l" << levels({"STB"}) << levels({}) << true;
    QTest::newRow("either edge of D0, falling") << "D0=e" << levels({"D0"}) << levels({}) << true;
    QTest::newRow("edge with a level held") << "D0=r,Init=h" << levels({"Init"}) << levels({"D0", "Init"}) << true;
    QTest::newRow("edge while the level is wrong") << "D0=r,Init=h" << levels({}) << levels({"D0"}) << false;
    QTest::newRow("levels coming to hold fire") << "D1=h,D2=l" << levels({"D2"}) << levels({"D1"}) << true;
    QTest::newRow("levels already holding do not fire again") << "D1=h,D2=l" << levels({"D1"}) << levels({"D1", "D3"}) << false;
    QTest::newRow("two edges must both happen") << "D0=r,D1=r" << levels({}) << levels({"D0"}) << false;
    QTest::newRow("no condition never fires") << "" << levels({}) << levels({"D0"}) << false;
}

void TestCapture::triggerFires()
{
    QFETCH(QString, conditions);
    QFETCH(quint32, before);
    QFETCH(quint32, after);
    QFETCH(bool, fires);
    Trigger trigger;
    for (const QString& condition : conditions.split(',', Qt::SkipEmptyParts)) {
        const QStringList parts = condition.split('=');
        const std::string letters = "xlhrfe";
        trigger.setCondition(lineNumber(qPrintable(parts[0])),
                             static_cast<LineCondition>(letters.find(parts[1].toLatin1().at(0))));
    }
    QCOMPARE(trigger.firesAt(before, after), fires);
}

void TestCapture::triggerTextRoundTrip()
{
    // Unknown letters and lines past the seventeenth don't care.
    const Trigger trigger = Trigger::fromText("rxfQhlexxxxxxxxxxeeee");
    QCOMPARE(QString::fromStdString(trigger.text()), QStringLiteral("rxfxhlexxxxxxxxxx"));
    QCOMPARE(trigger.condition(0), LineCondition::Rising);
    QCOMPARE(trigger.condition(3), LineCondition::DontCare);
    QVERIFY(!Trigger::fromText("").active());
}

void TestCapture::measuresOfPulses()
{
    // D0: high 0-100, low 100-300, high 300-350, low 350-600, high 600-...
    // Busy (inverted): one low pulse 200-260 in a high line.
    ChangeRing ring(1);
    const std::pair<std::int64_t, std::uint32_t> changes[] = {
        {0, levels({"D0", "Busy"})}, {100, levels({"Busy"})}, {200, levels({})}, {260, levels({"Busy"})},
        {300, levels({"D0", "Busy"})}, {350, levels({"Busy"})}, {600, levels({"D0", "Busy"})},
    };
    for (const auto& [time, registers] : changes)
        ring.append(time, registers);

    const LineMeasures all = MeasureLines(ring, 0, 1000);
    const LineMeasure& d0 = all[lineNumber("D0")];
    QCOMPARE(d0.edges, 4);
    QCOMPARE(d0.risingEdges, 2);
    QCOMPARE(d0.shortestHigh, 50);
    QCOMPARE(d0.longestHigh, 50);
    QCOMPARE(d0.shortestLow, 200);
    QCOMPARE(d0.longestLow, 250);
    QCOMPARE(*d0.frequency(), 1e9 / 300);
    const LineMeasure& busy = all[lineNumber("Busy")];
    QCOMPARE(busy.edges, 2);
    QCOMPARE(busy.shortestLow, 60);
    QVERIFY(!busy.shortestHigh);
    QCOMPARE(all[lineNumber("ACK")].edges, 0);

    // A span that begins inside a high time: the level before it is known, its edges count.
    const LineMeasure late = MeasureLines(ring, 320, 700)[lineNumber("D0")];
    QCOMPARE(late.edges, 2);
    QCOMPARE(late.shortestLow, 250);
    QVERIFY(!late.shortestHigh);
    QVERIFY(!late.frequency());
}

void TestCapture::exportedSpanIsVcdOfLineLevels_data()
{
    QTest::addColumn<bool>("blind");
    QTest::addColumn<QString>("dump");
    // Times in µs from the span's start; levels (Busy and STB inverted) as on the pins.
    QTest::newRow("line levels") << false
                                 << QStringLiteral("#0\n$dumpvars\n1!\n1\"\n0#\n1$\n$end\n#7994\n0\"\n#7995\n1#\n#8994\n");
    // The stretches that overlap the span, cut to it, as the sampled wire low;
    // one that ended before the span is left out.
    QTest::newRow("blind stretches") << true
                                     << QStringLiteral("#0\n$dumpvars\n1!\n1\"\n0#\n1$\n$end\n#994\n0$\n#2994\n1$\n#7994\n0\"\n"
                                                       "#7995\n1#\n#8494\n0$\n#8994\n1$\n#8995\n");
}

void TestCapture::exportedSpanIsVcdOfLineLevels()
{
    QFETCH(bool, blind);
    QFETCH(QString, dump);
    ChangeRing ring(1);
    ring.append(0, levels({"Busy"}));
    ring.append(5'000, levels({"Busy", "D0"}));
    ring.append(8'000'400, levels({"D0"}));
    ring.append(8'000'900, levels({"D0", "STB"}));
    ring.append(20'000'000, levels({}));
    if (blind)
        for (const auto& [from, to] : {std::pair{1'000, 5'000}, {1'000'000, 3'000'000}, {8'500'000, 12'000'000}})
            ring.appendBlind(from, to);
    QTemporaryDir dir;
    const QString path = dir.filePath("span.vcd");
    WatchHeader header{{{"378", "simulated"}}, std::chrono::system_clock::now(),
                       {RegisterModel::lineNamed("D0"), RegisterModel::lineNamed("Busy"), RegisterModel::lineNamed("STB")},
                       "velkaro timeline"};
    QCOMPARE(SaveChanges(ring, 6'000, 9'000'000, header, RecordFormat::Vcd, path), std::nullopt);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    // One port: wires without a suffix, then the wire that says where it was sampled.
    QVERIFY2(text.contains("$var wire 1 ! D0 $end\n$var wire 1 \" Busy $end\n$var wire 1 # STB $end\n$upscope $end\n"
                           "$scope module capture $end\n$var wire 1 $ sampled $end\n$upscope $end\n"),
             qPrintable(text));
    QCOMPARE(text.mid(text.indexOf("$enddefinitions $end\n") + 21), dump);
}

void TestCapture::exportRefusals_data()
{
    QTest::addColumn<QString>("cause");
    QTest::newRow("directory that refuses files") << "directory";
    QTest::newRow("file size limit reached while writing") << "size limit";
}

void TestCapture::exportRefusals()
{
    QFETCH(QString, cause);
    ChangeRing ring(1 << 16);
    for (int n = 0; n < 60000; ++n)
        ring.append(n * 1000, static_cast<std::uint32_t>(n));
    QTemporaryDir dir;
    const QString path = dir.filePath(cause == "directory" ? "missing/record.vcd" : "record.vcd");
    QFile old(path);
    if (cause != "directory") {
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier record\n");
        old.close();
    }
    WatchHeader header{{{"378", "simulated"}}, std::chrono::system_clock::now(), {}, "velkaro timeline"};
    for (const RegisterModel::Line& line : RegisterModel::Lines)
        header.lines.push_back(&line);

    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (cause == "size limit") {
        const rlimit small{64 * 1024, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
    }
    const std::optional<QString> refusal = SaveChanges(ring, 0, 60'000'000, header, RecordFormat::Vcd, path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    QVERIFY(refusal);
    QVERIFY2(refusal->startsWith("Could not save " + path + ": "), qPrintable(*refusal));
    if (cause == "directory") {
        QVERIFY(!QFile::exists(path));
    } else {
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("earlier record\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"record.vcd"});
    }
}

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
