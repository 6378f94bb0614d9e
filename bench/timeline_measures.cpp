#include "timeline_measures.h"

#include "bench_rig.h"
#include "process_usage.h"
#include "statistics.h"
#include "timeline_view.h"
#include "timeline_window.h"
#include "watch_measures.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// Rows of the most annotations a row keeps, evenly over [from, to).
std::vector<AnnotationIndex::Row> fullDecoderRows(std::int64_t from, std::int64_t to)
{
    std::vector<AnnotationIndex::Row> rows(2);
    const std::int64_t each = std::max<std::int64_t>((to - from) / static_cast<std::int64_t>(AnnotationIndex::RowBound), 10);
    for (std::int64_t at = from; at + each <= to && rows[0].annotations.size() < AnnotationIndex::RowBound; at += each) {
        rows[0].annotations.push_back({at, at + each, 0, 0, 0, {"Byte 0x55 'U'", "55", "U"}});
        rows[1].annotations.push_back({at, at + each / 2, 0, 1, 1, {"1"}});
    }
    for (AnnotationIndex::Row& row : rows) {
        row.row = static_cast<int>(&row - rows.data());
        row.longest = each;
    }
    return rows;
}

constexpr int SixtySecondsItem = 9;

std::unique_ptr<BenchRig> rigWithTimeline(bool counting)
{
    auto rig = std::make_unique<BenchRig>();
    if (counting)
        rig->attachCountingDevice();
    rig->form->TimelineClick();
    if (!QTest::qWaitForWindowExposed(rig->form->Timeline))
        throw std::runtime_error("the timeline was not exposed");
    rig->settle();
    return rig;
}

// Samples per second of the timeline's capture over an event loop of the given length.
double captureRate(BenchRig& rig, double seconds)
{
    TimelineWindow& timeline = *rig.form->Timeline;
    timeline.togglePause();
    const long long before = timeline.capture()->counters().samples;
    const double elapsed = runEventLoop(seconds);
    const long long samples = timeline.capture()->counters().samples - before;
    timeline.togglePause();
    if (samples <= 0 || !timeline.paused())
        throw std::runtime_error("the timeline's capture took no samples");
    return static_cast<double>(samples) / elapsed;
}

}

CaptureRates captureRates(double secondsEach, int turnsEach)
{
    CaptureRates rates;
    for (const bool counting : {false, true}) {
        const auto rig = rigWithTimeline(counting);
        rig->form->Timeline->togglePause(); // each turn resumes it
        WatchedPort bare(counting); // private, as velkaro-cli watch would have it
        const double turn = secondsEach / turnsEach;
        double bareRate = 0;
        double captured = 0;
        for (int i = 0; i < turnsEach; ++i) {
            bareRate += bareLoop(bare.channel, turn) / turnsEach;
            captured += captureRate(*rig, turn) / turnsEach;
        }
        (counting ? rates.countingBare : rates.unchangedBare) = bareRate;
        (counting ? rates.countingCapture : rates.unchangedCapture) = captured;
    }
    return rates;
}

FrameTimes frameTimes(int frames)
{
    const auto rig = rigWithTimeline(true);
    TimelineWindow& timeline = *rig->form->Timeline;
    QElapsedTimer waited;
    waited.start();
    while (timeline.capture()->counters().dropped == 0) {
        runEventLoop(0.1);
        if (waited.elapsed() > 60000)
            throw std::runtime_error("the ring did not fill in a minute");
    }
    timeline.togglePause();
    FrameTimes times;
    times.changes = static_cast<double>(timeline.capture()->read([](const ChangeRing& ring) { return ring.end() - ring.oldest(); }));
    TimelineView& view = *timeline.view();
    // The view's own drawing, into an image: what the window system then does
    // with a frame is the same for every widget.
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    const auto paintTimes = [&](double& median, double& p99) {
        std::vector<double> milliseconds;
        for (int frame = 0; frame < frames; ++frame) {
            QElapsedTimer timer;
            timer.start();
            view.render(&image);
            milliseconds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        median = percentile(milliseconds, 0.5);
        p99 = percentile(milliseconds, 0.99);
    };
    view.zoomToFit();
    paintTimes(times.zoomedOutMedianMs, times.zoomedOutP99Ms);
    const std::int64_t middle = (view.viewStart() + view.viewEnd()) / 2;
    view.setView(middle, 1.0);
    paintTimes(times.zoomedInMedianMs, times.zoomedInP99Ms);

    // Two decoder rows as full as a row is kept, over the whole record: a byte's
    // annotation and the bits' under it, as a serial decoder gives them.
    view.zoomToFit();
    const std::vector<AnnotationIndex::Row> rows = fullDecoderRows(view.viewStart(), view.viewEnd());
    view.setDecoderTracks({{QStringLiteral("UART: RX"), &rows[0]}, {QStringLiteral("UART: RX bits"), &rows[1]}});
    times.annotations = static_cast<double>(rows[0].annotations.size() + rows[1].annotations.size());
    paintTimes(times.decodedZoomedOutMedianMs, times.decodedZoomedOutP99Ms);
    view.setView(middle, 100.0);
    paintTimes(times.decodedZoomedInMedianMs, times.decodedZoomedInP99Ms);
    view.setDecoderTracks({});
    return times;
}

double pausedCpuShare(double seconds)
{
    const auto rig = rigWithTimeline(true);
    rig->form->SampleRate->setCurrentIndex(SixtySecondsItem);
    rig->form->Timeline->togglePause();
    if (!rig->form->Timeline->paused())
        throw std::runtime_error("the timeline did not pause");
    rig->settle();
    const double cpuBefore = processCpuSeconds();
    const double elapsed = runEventLoop(seconds);
    return (processCpuSeconds() - cpuBefore) / elapsed * 100.0;
}
