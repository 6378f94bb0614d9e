#include "monitor_rig.h"
#include "popup_menu.h"
#include "simulated_pulses.h"
#include "timeline_view.h"
#include "timeline_window.h"
#include "window_placement.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QtTest>

namespace {
std::size_t lineNumber(const char* name)
{
    return static_cast<std::size_t>(RegisterModel::lineIndex(name));
}

// Where a line's row begins in the view.
int rowTop(const char* name)
{
    const auto& rows = TimelineView::rowLines();
    return TimelineView::AxisHeight +
           TimelineView::RowHeight * static_cast<int>(std::find(rows.begin(), rows.end(), lineNumber(name)) - rows.begin());
}

// Opens the timeline from a value cell's menu, as a user does.
TimelineWindow& openTimeline(MonitorRig& rig)
{
    // A log of every transfer would grow by millions a second while the capture runs.
    rig.platform.setLogging(false);
    TForm1& form = *rig.form;
    form.findChild<QAction*>("Timeline2")->trigger();
    return *form.Timeline;
}

// A one-read ACK pulse, then the sampler held up for 40 ms at the next read:
// the pulse is the last sample before a blind stretch.
class PulseBeforeStall : public SimulatedDevice {
public:
    static constexpr long long PulseRead = 20000;
    std::uint8_t statusLines(std::uint8_t, std::uint8_t) override { return m_reads == PulseRead ? 0xB8 : 0xF8; }
    void beforeRead(SimulatedParallelPort&) override
    {
        if (++m_reads == PulseRead + 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }

private:
    long long m_reads = 0;
};

// Runs the capture until the device made the pulses, then pauses it.
void captureUntil(TimelineWindow& timeline, const OneSamplePulses& pulses, long long made)
{
    QTRY_VERIFY_WITH_TIMEOUT(timeline.capture()->counters().samples > 0, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(timeline.capture()->counters().stored >= 2 * static_cast<std::uint64_t>(made) + 1, 20000);
    timeline.togglePause();
    QVERIFY(timeline.paused());
    QVERIFY(pulses.pulsesMade() >= made);
}
}

class TestTimeline : public QObject {
    Q_OBJECT

private slots:
    void showsAndFollowsTheMainWindowsPort();
    void pulseNarrowerThanAPixelShows();
    void cursorKeysJumpToEdges();
    void blindStretchesAreDrawnAndMeasured();
    void cursorTimesAndTheirDifference_data();
    void cursorTimesAndTheirDifference();
    void placedBesideItsOwner_data();
    void placedBesideItsOwner();
    void opensBesideTheMainWindow_data();
    void opensBesideTheMainWindow();
    void singleTriggerStopsAfterItsSpan();
    void settingsKeptAndRefused_data();
    void settingsKeptAndRefused();
    void exportThroughTheShortcut_data();
    void exportThroughTheShortcut();
};

void TestTimeline::showsAndFollowsTheMainWindowsPort()
{
    MonitorRig rig({0x378, 0x278});
    TForm1& form = rig.start();
    TimelineWindow& timeline = openTimeline(rig);
    QVERIFY(timeline.isVisible());
    QCOMPARE(timeline.windowTitle(), QStringLiteral("Zeitverlauf 378"));
    QVERIFY(!timeline.paused());
    QCOMPARE(timeline.capture()->port().base, 0x378);

    form.Port1LabelClick();
    QCOMPARE(timeline.windowTitle(), QStringLiteral("Zeitverlauf 278"));
    QCOMPARE(timeline.capture()->port().base, 0x278);
    QVERIFY(!timeline.paused());

    // While the capture runs, a write is shown as read back at once, and the
    // sampling cycle shows the capture's newest sample.
    rig.channel.WritePortByte(0x278, 0x5A);
    form.SampleRegisters();
    QCOMPARE(form.PortHex[0]->caption(), QStringLiteral("5A"));
    rig.channel.WritePortByte(0x278, 0xA5);
    QTRY_COMPARE((form.IdleSample(), form.PortHex[0]->caption()), QStringLiteral("A5"));
    // The idle hook then looks once a frame: the capture's thread spins instead.
    QCOMPARE(form.IdleHook->interval(), 16);

    timeline.close();
    QVERIFY(timeline.paused());
    form.IdleSample();
    QCOMPARE(form.IdleHook->interval(), 0);
    openTimeline(rig);
    QVERIFY(!timeline.paused());
    form.stopSampling();
    QVERIFY(timeline.paused());
}

void TestTimeline::pulseNarrowerThanAPixelShows()
{
    MonitorRig rig;
    auto* pulses = new OneSamplePulses(200000);
    rig.port().attach(std::unique_ptr<SimulatedDevice>(pulses));
    rig.start();
    TimelineWindow& timeline = openTimeline(rig);
    captureUntil(timeline, *pulses, 3);
    TimelineView& view = *timeline.view();
    view.zoomToFit();
    // Each pulse lasts one read, a few nanoseconds, in a view of many milliseconds.
    QVERIFY(view.nanosecondsPerPixel() > 1000);
    const QImage image = view.grab().toImage();
    const int lowY = rowTop("ACK") + TimelineView::RowHeight - 4;
    const int highY = rowTop("ACK") + 3;
    // Pulses milliseconds apart: one column each, or two side by side where a
    // pulse straddles the border of two.
    int pulsesShown = 0;
    bool previousShowsBoth = false;
    for (int x = TimelineView::HeaderWidth; x < image.width(); ++x) {
        const QColor atLow = image.pixelColor(x, lowY);
        const QColor atHigh = image.pixelColor(x, highY);
        // Between high and low the line is drawn only where it took both levels.
        const QColor between = image.pixelColor(x, (lowY + highY) / 2);
        const bool showsBoth = between.lightness() > 150 && atLow.lightness() > 100 && atHigh.lightness() > 100;
        pulsesShown += showsBoth && !previousShowsBoth;
        previousShowsBoth = showsBoth;
    }
    QCOMPARE(pulsesShown, pulses->pulsesMade());
}

void TestTimeline::cursorKeysJumpToEdges()
{
    MonitorRig rig;
    auto* pulses = new OneSamplePulses(50000);
    rig.port().attach(std::unique_ptr<SimulatedDevice>(pulses));
    rig.start();
    TimelineWindow& timeline = openTimeline(rig);
    captureUntil(timeline, *pulses, 2);
    // The times at which ACK changed, read from the record.
    const std::vector<std::int64_t> edges = timeline.capture()->read([](const ChangeRing& ring) {
        std::vector<std::int64_t> times;
        const std::uint32_t bit = RegisterModel::packedBit(*RegisterModel::lineNamed("ACK"));
        for (std::uint64_t change = ring.oldest() + 1; change < ring.end(); ++change)
            if ((ring.registers(change) ^ ring.registers(change - 1)) & bit)
                times.push_back(ring.time(change));
        return times;
    });
    QVERIFY(edges.size() >= 4);
    TimelineView& view = *timeline.view();
    view.zoomToFit();
    view.selectLine(lineNumber("ACK"));
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Right);
    QCOMPARE(view.cursor(0), edges[0]);
    QTest::keyClick(&view, Qt::Key_Right);
    QCOMPARE(view.cursor(0), edges[1]);
    QTest::keyClick(&view, Qt::Key_Tab);
    view.setCursor(1, edges[3] + 1);
    QTest::keyClick(&view, Qt::Key_Left);
    QCOMPARE(view.cursor(1), edges[3]);
    QTest::keyClick(&view, Qt::Key_Left);
    QCOMPARE(view.cursor(1), edges[2]);
    // Between the cursors: one whole low pulse, two edges, Δt shown.
    QVERIFY2(timeline.CursorText->text().contains(QStringLiteral("Δt")), qPrintable(timeline.CursorText->text()));
    QVERIFY(timeline.MeasureSpan->text().startsWith(QStringLiteral("Messung zwischen A und B")));
}

// A stretch the sampler was held up for: hatched over every trace, so that no
// level shows there, and named by the measure of a span that holds it.
void TestTimeline::blindStretchesAreDrawnAndMeasured()
{
    MonitorRig rig;
    rig.port().attach(std::make_unique<PulseBeforeStall>());
    rig.start();
    TimelineWindow& timeline = openTimeline(rig);
    QTRY_VERIFY_WITH_TIMEOUT(timeline.capture()->counters().gaps >= 1 && timeline.capture()->counters().samples > 100000, 10000);
    timeline.togglePause();
    const auto stretch = timeline.capture()->read([](const ChangeRing& ring) {
        const auto blind = ring.blindBetween(0, std::numeric_limits<std::int64_t>::max());
        return *std::max_element(blind.begin(), blind.end(), [](const auto& a, const auto& b) { return a.to - a.from < b.to - b.from; });
    });
    QVERIFY(stretch.to - stretch.from >= 40'000'000);
    TimelineView& view = *timeline.view();
    timeline.FollowBox->setChecked(false);
    view.setView(stretch.to + 20'000'000, 100'000); // the stretch 400 pixels wide
    const QSize size = timeline.size();
    timeline.tick();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(timeline.size(), size); // the long note wraps, the window stays as the user has it
    QVERIFY2(timeline.MeasureSpan->text().contains(QStringLiteral("   darin ohne Abtastung: ")) &&
                 timeline.MeasureSpan->text().endsWith(QStringLiteral(" (Pegel dort unbekannt, Messwerte unsicher)")),
             qPrintable(timeline.MeasureSpan->text()));
    QCOMPARE(view.levelsText((stretch.from + stretch.to) / 2).section(QLatin1Char('\n'), 1),
             QStringLiteral("nicht abgetastet: Pegel unbekannt"));
    const QImage image = view.grab().toImage();
    const int middle = view.xAt((stretch.from + stretch.to) / 2);
    int hatched = 0, traced = 0;
    for (int y = TimelineView::AxisHeight; y < TimelineView::AxisHeight + TimelineView::BusRow * TimelineView::RowHeight; ++y) {
        const QColor pixel = image.pixelColor(middle, y);
        hatched += pixel == QColor(150, 150, 150);
        traced += pixel.green() > 150 && pixel.red() < 100; // the high colour, green
    }
    QVERIFY2(hatched > 20 && traced == 0, qPrintable(QStringLiteral("%1 hatched, %2 traced").arg(hatched).arg(traced)));
    // The column of the last sample before it keeps its trace: the pulse there shows.
    QVERIFY(image.pixelColor(view.xAt(stretch.from), rowTop("ACK") + TimelineView::RowHeight / 2).lightness() > 200);
}

void TestTimeline::cursorTimesAndTheirDifference_data()
{
    QTest::addColumn<qint64>("a");
    QTest::addColumn<qint64>("b");
    QTest::addColumn<QString>("text");
    QTest::newRow("B after A: a positive span") << qint64(1'000'000) << qint64(3'500'000)
                                                << QStringLiteral("Δt 2.500 ms   1/Δt 400.0 Hz");
    QTest::newRow("B before A: negative") << qint64(3'500'000) << qint64(1'000'000)
                                          << QStringLiteral("Δt -2.500 ms   1/Δt 400.0 Hz");
    QTest::newRow("on one time: no span") << qint64(2'000'000) << qint64(2'000'000) << QString();
}

void TestTimeline::cursorTimesAndTheirDifference()
{
    QFETCH(qint64, a);
    QFETCH(qint64, b);
    QFETCH(QString, text);
    MonitorRig rig;
    rig.start();
    TimelineWindow& timeline = openTimeline(rig);
    timeline.togglePause();
    timeline.view()->setView(5'000'000, 10'000);
    timeline.view()->setCursor(0, a);
    timeline.view()->setCursor(1, b);
    const QString shown = timeline.CursorText->text();
    QVERIFY2(shown.startsWith(QStringLiteral("A %1 ms   B %2 ms").arg(a / 1e6, 0, 'f', 2).arg(b / 1e6, 0, 'f', 2)),
             qPrintable(shown));
    QVERIFY2(text.isEmpty() ? !shown.contains(QStringLiteral("Δt")) : shown.endsWith(QStringLiteral("   ") + text),
             qPrintable(shown));
}

void TestTimeline::placedBesideItsOwner_data()
{
    QTest::addColumn<QRect>("owner");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("placed");
    // On a screen of 1920 × 1080, the window at least 600 × 600.
    QTest::newRow("right of it, level with it") << QRect(0, 0, 193, 108) << QSize(1000, 720) << QRect(201, 0, 1000, 720);
    QTest::newRow("right where either side has room") << QRect(900, 300, 193, 108) << QSize(800, 600)
                                                      << QRect(1101, 300, 800, 600);
    QTest::newRow("left where the right has no room") << QRect(1500, 300, 193, 108) << QSize(1000, 720)
                                                      << QRect(492, 300, 1000, 720);
    QTest::newRow("kept on the screen's height") << QRect(1500, 900, 193, 108) << QSize(1000, 720)
                                                 << QRect(492, 360, 1000, 720);
    QTest::newRow("below where neither side has room") << QRect(800, 0, 300, 100) << QSize(1000, 720)
                                                       << QRect(800, 108, 1000, 720);
    QTest::newRow("above where nothing else has room") << QRect(800, 900, 300, 100) << QSize(1000, 720)
                                                       << QRect(800, 172, 1000, 720);
    QTest::newRow("shrunk to the most room") << QRect(700, 400, 500, 300) << QSize(1000, 720)
                                             << QRect(1208, 360, 712, 720);
    QTest::newRow("past the screen's edge rather than over it") << QRect(0, 0, 1900, 700) << QSize(1000, 720)
                                                               << QRect(0, 708, 1000, 600);
}

void TestTimeline::placedBesideItsOwner()
{
    QFETCH(QRect, owner);
    QFETCH(QSize, size);
    QFETCH(QRect, placed);
    QCOMPARE(PlaceBeside(owner, size, QSize(600, 600), QRect(0, 0, 1920, 1080)), placed);
}

void TestTimeline::opensBesideTheMainWindow_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QPoint>("at");
    QTest::newRow("nothing stored: beside the main window") << QByteArray() << QPoint();
    QTest::newRow("a stored position wins") << QByteArray("TimelineLeft=40\nTimelineTop=50\n") << QPoint(40, 50);
}

void TestTimeline::opensBesideTheMainWindow()
{
    QFETCH(QByteArray, stored);
    QFETCH(QPoint, at);
    MonitorRig rig;
    rig.writeSettings("[misc]\nLeft=30\nTop=20\n" + stored);
    TForm1& form = rig.start();
    form.show();
    TimelineWindow& timeline = openTimeline(rig);
    if (at.isNull()) {
        QVERIFY2(!timeline.frameGeometry().intersects(form.frameGeometry()),
                 qPrintable(QStringLiteral("%1 %2").arg(QVariant(timeline.frameGeometry()).toString(),
                                                       QVariant(form.frameGeometry()).toString())));
        QCOMPARE(timeline.screen(), form.screen());
    } else {
        QCOMPARE(timeline.pos(), at);
    }
}

void TestTimeline::singleTriggerStopsAfterItsSpan()
{
    MonitorRig rig;
    auto* pulses = new OneSamplePulses(100000);
    rig.port().attach(std::unique_ptr<SimulatedDevice>(pulses));
    rig.start();
    TimelineWindow& timeline = openTimeline(rig);
    TimelineView& view = *timeline.view();
    view.setView(0, 2000);
    Trigger fallingAck;
    fallingAck.setCondition(lineNumber("ACK"), LineCondition::Falling);
    view.setTrigger(fallingAck);
    timeline.TriggerMode->setCurrentIndex(TimelineWindow::Single);
    QTRY_VERIFY_WITH_TIMEOUT(timeline.paused(), 20000);
    // The trigger sits where the user put it: 20 % of the view before it.
    const std::int64_t span = view.viewEnd() - view.viewStart();
    const std::int64_t trigger = view.viewStart() + span / 5;
    const auto [level, fell] = timeline.capture()->read([trigger](const ChangeRing& ring) {
        const std::uint64_t change = ring.firstAtOrAfter(trigger - 2000);
        return std::pair{RegisterModel::lineLevel(*RegisterModel::lineNamed("ACK"), ring.registers(change)),
                         std::abs(ring.time(change) - trigger) <= 2000};
    });
    QVERIFY(fell);
    QVERIFY(!level);
}

void TestTimeline::settingsKeptAndRefused_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QByteArray>("writtenBack");
    QTest::newRow("no key: the default") << QByteArray() << 32 << false << QByteArray("TimelineDepth=32\n");
    QTest::newRow("a depth chosen") << QByteArray("TimelineDepth=4\n") << 4 << false << QByteArray("TimelineDepth=4\n");
    QTest::newRow("depth of 0 refused, kept") << QByteArray("TimelineDepth=0\n") << 32 << true << QByteArray("TimelineDepth=0\n");
    QTest::newRow("more than the machine's memory refused, kept")
        << QByteArray("TimelineDepth=2000000000\n") << 32 << true << QByteArray("TimelineDepth=2000000000\n");
    QTest::newRow("not a number: the default, as other keys")
        << QByteArray("TimelineDepth=lots\n") << 32 << false << QByteArray("TimelineDepth=32\n");
}

void TestTimeline::settingsKeptAndRefused()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, depth);
    QFETCH(bool, refused);
    QFETCH(QByteArray, writtenBack);
    MonitorRig rig;
    rig.writeSettings("[misc]\n" + stored + "TimelineTrigger=xxxxxxxxxxxfxxxxx\nTimelineTriggerMode=9\n");
    rig.start();
    TimelineWindow& timeline = openTimeline(rig);
    QCOMPARE(timeline.depth(), depth);
    QCOMPARE(timeline.depthNote().isEmpty(), !refused);
    if (refused)
        QVERIFY(timeline.CounterText->text().contains(QStringLiteral("refused")));
    QCOMPARE(timeline.view()->trigger().condition(lineNumber("ACK")), LineCondition::Falling);
    QCOMPARE(timeline.TriggerMode->currentIndex(), 0);
    timeline.TriggerPosition->setValue(35);
    rig.form.reset();
    const QByteArray written = rig.settingsText();
    // A refused value is written back as it was read, never replaced unasked.
    QVERIFY2(written.contains(writtenBack), written.constData());
    QVERIFY(written.contains("TimelineTriggerPosition=35\n"));
    QVERIFY(written.contains("TimelineTrigger=xxxxxxxxxxxfxxxxx\n"));
    QVERIFY(rig.desktop.messages.isEmpty());
}

void TestTimeline::exportThroughTheShortcut_data()
{
    QTest::addColumn<bool>("vcd");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("Ctrl+S saves VCD") << true << "record.vcd" << QByteArray("$var wire 1 ! D0 $end");
    QTest::newRow("Ctrl+Shift+S saves the view as PNG") << false << "view.png" << QByteArray("\x89PNG");
    QTest::newRow("an unwritable path is refused") << true << "missing/record.vcd" << QByteArray();
}

void TestTimeline::exportThroughTheShortcut()
{
    QFETCH(bool, vcd);
    QFETCH(QString, file);
    QFETCH(QByteArray, expected);
    MonitorRig rig;
    rig.start();
    TimelineWindow& timeline = openTimeline(rig);
    timeline.togglePause();
    timeline.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&timeline));
    const QString path = rig.dir.filePath(file);
    QString asked;
    timeline.setPathQuestion([&](const QString& caption, const QString&) {
        asked = caption;
        return path;
    });
    QTest::keyClick(&timeline, Qt::Key_S, vcd ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(!asked.isEmpty());
    QFile saved(path);
    if (expected.isEmpty()) {
        QVERIFY(!saved.exists());
        QCOMPARE(rig.desktop.messages.size(), 1);
        QVERIFY(rig.desktop.messages[0].text.startsWith("Could not save " + path));
        return;
    }
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll().contains(expected));
    QVERIFY(rig.desktop.messages.isEmpty());
}

QTEST_MAIN(TestTimeline)
#include "tst_timeline.moc"
