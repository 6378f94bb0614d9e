// velkaro-bench: measures the sampling cycle of the real main window, and the
// command line tool's watch, on a simulated port. "--short" runs every measure once and briefly, to prove that
// the benchmark still works; its numbers mean little.
#include "bench_plan.h"
#include "decode_measures.h"
#include "load_measures.h"
#include "machine_description.h"
#include "result_table.h"
#include "sampling_measures.h"
#include "script_measures.h"
#include "timeline_measures.h"
#include "watch_measures.h"

#include "bench_rig.h"
#include "tform1.h"

#include <QApplication>
#include <QFont>

#include <iostream>
#include <thread>
#include <tuple>

namespace {
constexpr int OneSecondItem = 4;
constexpr int SixtySecondsItem = 9;

std::vector<MeasureRow> measureRows()
{
    using K = Target::Kind;
    return {
        {"ceiling_loops_per_s", "1 ceiling: empty idle-hook loop", "loops/s", 0, {}},
        {"idle_unchanged_samples_per_s", "2 idle sampling, registers unchanged", "samples/s", 0, {}},
        {"idle_unchanged_ratio", "2 ... ratio to ceiling", "ratio", 3, {K::AtLeast, 0.8}},
        {"idle_counting_samples_per_s", "3 idle sampling, counting data register", "samples/s", 0, {}},
        {"idle_counting_ratio", "3 ... ratio to ceiling", "ratio", 3, {}},
        {"idle_counting_paints_per_s", "3 ... paints of Port1Dec", "paints/s", 0, {}},
        {"step_unchanged_ns", "4 SampleRegisters, nothing changed", "ns", 1, {}},
        {"bare_read_ns", "4 bare ReadPortDword via channel", "ns", 1, {}},
        {"step_minus_read_ns", "4 ... step minus bare read", "ns", 1, {K::Below, 50}},
        {"cpu_item4_percent", "5 CPU at item 4 (1 s), counting", "%core", 3, {K::Below, 0.2}},
        {"cpu_item9_percent", "5 CPU at item 9 (60 s), counting", "%core", 3, {K::Below, 0.2}},
        {"click_delay_median_ms", "6 click to handler, median", "ms", 3, {}},
        {"click_delay_p99_ms", "6 click to handler, 99th percentile", "ms", 3, {K::Below, 20}},
        {"rss_before_mib", "7 resident size before", "MiB", 2, {}},
        {"rss_after_mib", "7 resident size after", "MiB", 2, {}},
        {"rss_growth_mib", "7 ... growth", "MiB", 2, {K::Below, 1}},
        {"watch_bare_unchanged_reads_per_s", "8 bare read loop, registers unchanged", "reads/s", 0, {}},
        {"watch_unchanged_samples_per_s", "8 velkaro-cli watch, registers unchanged", "samples/s", 0, {}},
        {"watch_unchanged_ratio", "8 ... ratio to the bare loop", "ratio", 3, {K::AtLeast, 0.8}},
        {"watch_bare_counting_reads_per_s", "9 bare read loop, counting data register", "reads/s", 0, {}},
        {"watch_counting_vcd_samples_per_s", "9 watch, a VCD record per sample, to a file", "samples/s", 0, {}},
        {"watch_counting_vcd_ratio", "9 ... ratio to the bare loop", "ratio", 3, {K::AtLeast, 0.5}},
        {"capture_unchanged_samples_per_s", "10 timeline capture, window open and drawing, unchanged", "samples/s", 0, {}},
        {"capture_unchanged_ratio", "10 ... ratio to the bare loop of 8", "ratio", 3, {K::AtLeast, 0.8}},
        {"capture_counting_samples_per_s", "11 timeline capture, a change on every sample", "samples/s", 0, {}},
        {"capture_counting_ratio", "11 ... ratio to the bare loop of 9", "ratio", 3, {K::AtLeast, 0.5}},
        {"frame_ring_changes", "12 changes in the full ring", "changes", 0, {}},
        {"frame_zoomed_out_median_ms", "12 frame, whole ring in view, median", "ms", 3, {}},
        {"frame_zoomed_out_p99_ms", "12 ... 99th percentile", "ms", 3, {K::Below, 8}},
        {"frame_zoomed_in_median_ms", "12 frame at 1 ns per pixel, median", "ms", 3, {}},
        {"frame_zoomed_in_p99_ms", "12 ... 99th percentile", "ms", 3, {K::Below, 8}},
        {"frame_annotations", "12 annotations in two decoder rows over the full ring", "annotations", 0, {}},
        {"frame_decoded_zoomed_out_median_ms", "12 frame with them, whole ring in view, median", "ms", 3, {}},
        {"frame_decoded_zoomed_out_p99_ms", "12 ... 99th percentile", "ms", 3, {K::Below, 16}},
        {"frame_decoded_zoomed_in_median_ms", "12 frame with them at 100 ns per pixel, median", "ms", 3, {}},
        {"frame_decoded_zoomed_in_p99_ms", "12 ... 99th percentile", "ms", 3, {K::Below, 16}},
        {"click_capturing_median_ms", "13 click to handler, timeline capturing a change per sample, median", "ms", 3, {}},
        {"click_capturing_p99_ms", "13 ... 99th percentile", "ms", 3, {K::Below, 20}},
        {"cpu_timeline_paused_percent", "14 CPU, timeline paused, main window at item 9", "%core", 3, {K::Below, 0.2}},
        {"pulse_shortest_median_ns", "15 pulse --for 0, width, median", "ns", 0, {}},
        {"pulse_shortest_p99_ns", "15 ... 99th percentile", "ns", 0, {}},
        {"pulse_5us_median_ns", "15 pulse --for 5us, width, median", "ns", 0, {}},
        {"pulse_5us_p99_ns", "15 ... 99th percentile", "ns", 0, {}},
        {"shared_write_to_watch_median_us", "16 write to a watch's record, 2 processes, median", "us", 1, {}},
        {"shared_write_to_watch_p99_us", "16 ... 99th percentile", "us", 1, {}},
        {"loaded_busy_processes", "17 busy processes beside the samplers, one a core", "processes", 0, {}},
        {"loaded_normal_capture_intact_percent", "17 normal priority: timeline capture, E010's 9600-baud text intact", "%", 1, {}},
        {"loaded_normal_capture_longest_blind_ms", "17 ... longest stretch without a sample", "ms", 2, {}},
        {"loaded_normal_capture_blind_percent", "17 ... time without samples", "%", 2, {}},
        {"loaded_normal_capture_stolen_percent", "17 ... processor time the virtual machine's host took meanwhile", "%", 2, {}},
        {"loaded_normal_watch_intact_percent", "17 normal priority: velkaro-cli watch, the same: intact", "%", 1, {}},
        {"loaded_normal_watch_longest_blind_ms", "17 ... longest stretch without a sample", "ms", 2, {}},
        {"loaded_normal_watch_blind_percent", "17 ... time without samples", "%", 2, {}},
        {"loaded_normal_watch_stolen_percent", "17 ... processor time the virtual machine's host took meanwhile", "%", 2, {}},
        {"loaded_normal_click_p99_ms", "17 normal priority: click to handler, timeline capturing, 99th percentile", "ms", 3, {K::Below, 20}},
        {"loaded_normal_busy_loops_per_s", "17 normal priority: the busy processes' loops while sampling", "loops/s", 0, {}},
        {"loaded_realtime_capture_intact_percent", "17 real-time as allowed: timeline capture, E010's 9600-baud text intact", "%", 1, {}},
        {"loaded_realtime_capture_longest_blind_ms", "17 ... longest stretch without a sample", "ms", 2, {}},
        {"loaded_realtime_capture_blind_percent", "17 ... time without samples", "%", 2, {}},
        {"loaded_realtime_capture_stolen_percent", "17 ... processor time the virtual machine's host took meanwhile", "%", 2, {}},
        {"loaded_realtime_watch_intact_percent", "17 real-time as allowed: velkaro-cli watch, the same: intact", "%", 1, {}},
        {"loaded_realtime_watch_longest_blind_ms", "17 ... longest stretch without a sample", "ms", 2, {}},
        {"loaded_realtime_watch_blind_percent", "17 ... time without samples", "%", 2, {}},
        {"loaded_realtime_watch_stolen_percent", "17 ... processor time the virtual machine's host took meanwhile", "%", 2, {}},
        {"loaded_realtime_click_p99_ms", "17 real-time as allowed: click to handler, timeline capturing, 99th percentile", "ms", 3, {K::Below, 20}},
        {"loaded_realtime_busy_loops_per_s", "17 real-time as allowed: the busy processes' loops while sampling", "loops/s", 0, {}},
        {"loaded_busy_progress_ratio", "17 the busy processes' progress, real-time half to normal half", "ratio", 3, {}},
        {"turns_unchanged_normal_per_s", "18 capture alone, quiet, unchanged, normal priority", "samples/s", 0, {}},
        {"turns_unchanged_realtime_per_s", "18 ... real-time as allowed", "samples/s", 0, {}},
        {"turns_unchanged_ratio", "18 ... ratio real-time to normal", "ratio", 3, {K::AtLeast, 0.95}},
        {"turns_counting_normal_per_s", "18 capture alone, quiet, counting, normal priority", "samples/s", 0, {}},
        {"turns_counting_realtime_per_s", "18 ... real-time as allowed", "samples/s", 0, {}},
        {"turns_counting_ratio", "18 ... ratio real-time to normal", "ratio", 3, {K::AtLeast, 0.95}},
        {"decode_uart_rate", "19 decoding the card's 9600-baud line: samples a second picked", "samples/s", 0, {}},
        {"decode_uart_real_time", "19 ... seconds of the line decoded a second", "ratio", 1, {K::AtLeast, 1}},
        {"decode_uart_annotation_bytes_per_s", "19 ... annotations' memory a second of the line", "bytes/s", 0, {}},
        {"decode_spi_rate", "19 decoding continuous SPI at 100 kHz: samples a second picked", "samples/s", 0, {}},
        {"decode_spi_real_time", "19 ... seconds of the bus decoded a second", "ratio", 2, {K::AtLeast, 1}},
        {"decode_spi_annotation_bytes_per_s", "19 ... annotations' memory a second of the bus", "bytes/s", 0, {}},
        {"decode_lag_median_ms", "19 the line played live: annotation's end to the annotation, median", "ms", 2, {}},
        {"decode_lag_p99_ms", "19 ... 99th percentile", "ms", 2, {K::Below, 100}},
    };
}

void progress(const std::string& what)
{
    std::cerr << "velkaro-bench: " << what << std::endl;
}

void measureMemory(const BenchPlan& plan, ResultTable& table)
{
    progress("memory, " + std::to_string(static_cast<int>(plan.memorySeconds)) + " s");
    const MemoryUse use = memoryUse(plan.memorySeconds);
    table.record("rss_before_mib", use.beforeMiB);
    table.record("rss_after_mib", use.afterMiB);
    table.record("rss_growth_mib", use.afterMiB - use.beforeMiB);
}

void measureIdleLoop(const BenchPlan& plan, ResultTable& table)
{
    const IdleLoopRates rates = idleLoopRates(plan.loopSeconds, plan.loopTurns);
    table.record("ceiling_loops_per_s", rates.ceilingLoops);
    table.record("idle_unchanged_samples_per_s", rates.unchangedSamples);
    table.record("idle_unchanged_ratio", rates.unchangedSamples / rates.ceilingLoops);
    table.record("idle_counting_samples_per_s", rates.countingSamples);
    table.record("idle_counting_ratio", rates.countingSamples / rates.ceilingLoops);
    table.record("idle_counting_paints_per_s", rates.countingPaints);
}

void measureStep(const BenchPlan& plan, ResultTable& table)
{
    const StepCost cost = stepCost(plan.directCalls);
    table.record("step_unchanged_ns", cost.stepNs);
    table.record("bare_read_ns", cost.readNs);
    table.record("step_minus_read_ns", cost.stepNs - cost.readNs);
}

void measureClicks(const BenchPlan& plan, ResultTable& table)
{
    const ClickDelays delays = clickDelays(plan.clicks);
    table.record("click_delay_median_ms", delays.medianMs);
    table.record("click_delay_p99_ms", delays.p99Ms);
}

void measureCpu(const BenchPlan& plan, ResultTable& table)
{
    for (int run = 1; run <= plan.cpuRepetitions; ++run) {
        progress("CPU phases, run " + std::to_string(run) + " of " + std::to_string(plan.cpuRepetitions));
        table.record("cpu_item4_percent", cpuShare(OneSecondItem, plan.cpuSeconds));
        table.record("cpu_item9_percent", cpuShare(SixtySecondsItem, plan.cpuSeconds));
    }
}

void measureWatch(const BenchPlan& plan, ResultTable& table)
{
    const WatchRates rates = watchRates(plan.loopSeconds, plan.loopTurns);
    table.record("watch_bare_unchanged_reads_per_s", rates.unchangedBare);
    table.record("watch_unchanged_samples_per_s", rates.unchangedSamples);
    table.record("watch_unchanged_ratio", rates.unchangedSamples / rates.unchangedBare);
    table.record("watch_bare_counting_reads_per_s", rates.countingBare);
    table.record("watch_counting_vcd_samples_per_s", rates.countingVcdSamples);
    table.record("watch_counting_vcd_ratio", rates.countingVcdSamples / rates.countingBare);
}

void measureTimeline(const BenchPlan& plan, ResultTable& table)
{
    const CaptureRates rates = captureRates(plan.loopSeconds, plan.loopTurns);
    table.record("capture_unchanged_samples_per_s", rates.unchangedCapture);
    table.record("capture_unchanged_ratio", rates.unchangedCapture / rates.unchangedBare);
    table.record("capture_counting_samples_per_s", rates.countingCapture);
    table.record("capture_counting_ratio", rates.countingCapture / rates.countingBare);
    const FrameTimes frames = frameTimes(plan.frames);
    table.record("frame_ring_changes", frames.changes);
    table.record("frame_zoomed_out_median_ms", frames.zoomedOutMedianMs);
    table.record("frame_zoomed_out_p99_ms", frames.zoomedOutP99Ms);
    table.record("frame_zoomed_in_median_ms", frames.zoomedInMedianMs);
    table.record("frame_zoomed_in_p99_ms", frames.zoomedInP99Ms);
    table.record("frame_annotations", frames.annotations);
    table.record("frame_decoded_zoomed_out_median_ms", frames.decodedZoomedOutMedianMs);
    table.record("frame_decoded_zoomed_out_p99_ms", frames.decodedZoomedOutP99Ms);
    table.record("frame_decoded_zoomed_in_median_ms", frames.decodedZoomedInMedianMs);
    table.record("frame_decoded_zoomed_in_p99_ms", frames.decodedZoomedInP99Ms);
    const ClickDelays delays = clickDelays(plan.clicks, [](BenchRig& rig) { rig.form->TimelineClick(); });
    table.record("click_capturing_median_ms", delays.medianMs);
    table.record("click_capturing_p99_ms", delays.p99Ms);
}

void measureScripts(const BenchPlan& plan, ResultTable& table)
{
    const PulseWidths pulses = pulseWidths(plan.pulses);
    table.record("pulse_shortest_median_ns", pulses.shortestMedianNs);
    table.record("pulse_shortest_p99_ns", pulses.shortestP99Ns);
    table.record("pulse_5us_median_ns", pulses.fiveMicrosecondsMedianNs);
    table.record("pulse_5us_p99_ns", pulses.fiveMicrosecondsP99Ns);
    const WatchDelay delay =
        sharedWatchDelay((QCoreApplication::applicationDirPath() + QStringLiteral("/velkaro-cli")).toStdString(),
                         plan.sharedChanges);
    table.record("shared_write_to_watch_median_us", delay.medianUs);
    table.record("shared_write_to_watch_p99_us", delay.p99Us);
}

void measureDecoding(const BenchPlan& plan, ResultTable& table)
{
    progress("decoding: throughput, 2 x " + std::to_string(plan.decodeSeconds) + " s of record, and the lag, " +
             std::to_string(plan.decodeSeconds) + " s live");
    const DecodeThroughput throughput = decodeThroughput(plan.decodeSeconds);
    table.record("decode_uart_rate", throughput.uartRate);
    table.record("decode_uart_real_time", throughput.uartRealTime);
    table.record("decode_uart_annotation_bytes_per_s", throughput.uartAnnotationBytes);
    table.record("decode_spi_rate", throughput.spiRate);
    table.record("decode_spi_real_time", throughput.spiRealTime);
    table.record("decode_spi_annotation_bytes_per_s", throughput.spiAnnotationBytes);
    const DecodeLag lag = decodeLag(plan.decodeSeconds);
    table.record("decode_lag_median_ms", lag.medianMs);
    table.record("decode_lag_p99_ms", lag.p99Ms);
}

void measureUnderLoad(const BenchPlan& plan, ResultTable& table)
{
    progress("the card's serial line under load, normal and real-time, 4 x " + std::to_string(plan.loadedSeconds) + " s");
    const LoadedLines lines = loadedLines(plan.loadedSeconds, plan.clicks);
    table.record("loaded_busy_processes", lines.busyProcesses);
    for (const auto& [halfName, half] : {std::pair{"normal", lines.normal}, std::pair{"realtime", lines.realtime}}) {
        for (const auto& [name, line] : {std::pair{"capture", half.capture}, std::pair{"watch", half.watch}}) {
            const std::string key = std::string("loaded_") + halfName + "_" + name;
            table.record(key + "_intact_percent", line.intactPercent);
            table.record(key + "_longest_blind_ms", line.longestBlindMs);
            table.record(key + "_blind_percent", line.blindPercent);
            table.record(key + "_stolen_percent", line.stolenPercent);
            progress(std::string(halfName) + " half, " + name + " sampled at " + line.scheduling);
        }
        table.record(std::string("loaded_") + halfName + "_click_p99_ms", half.clickP99Ms);
        table.record(std::string("loaded_") + halfName + "_busy_loops_per_s", half.busyLoopsPerSecond);
    }
    table.record("loaded_busy_progress_ratio", lines.normal.busyLoopsPerSecond > 0
                                                   ? lines.realtime.busyLoopsPerSecond / lines.normal.busyLoopsPerSecond
                                                   : 0);
}

void measureTurnCost(const BenchPlan& plan, ResultTable& table)
{
    progress("the real-time turns' cost, quiet, interleaved turns");
    const TurnCost cost = turnCost(plan.loopSeconds * 3, plan.loopTurns);
    for (const auto& [name, normal, realtime] : {std::tuple{"unchanged", cost.unchangedNormal, cost.unchangedRealtime},
                                                 std::tuple{"counting", cost.countingNormal, cost.countingRealtime}}) {
        const std::string key = std::string("turns_") + name;
        table.record(key + "_normal_per_s", normal);
        table.record(key + "_realtime_per_s", realtime);
        table.record(key + "_ratio", normal > 0 ? realtime / normal : 0);
    }
}

void measureAll(const BenchPlan& plan, ResultTable& table)
{
    // First, while the heap holds nothing of earlier windows that could hide a growth.
    measureMemory(plan, table);
    for (int run = 1; run <= plan.repetitions; ++run) {
        progress("loop, step and click measures, run " + std::to_string(run) + " of " +
                 std::to_string(plan.repetitions));
        measureIdleLoop(plan, table);
        measureStep(plan, table);
        measureClicks(plan, table);
        measureWatch(plan, table);
        measureTimeline(plan, table);
        measureScripts(plan, table);
    }
    measureUnderLoad(plan, table);
    measureTurnCost(plan, table);
    measureDecoding(plan, table);
    measureCpu(plan, table);
    for (int run = 1; run <= plan.cpuRepetitions; ++run)
        table.record("cpu_timeline_paused_percent", pausedCpuShare(plan.cpuSeconds));
}

void printHeader(const BenchPlan& plan, const std::string& loadAtStart)
{
    std::cout << "velkaro-bench: the main window's sampling cycle and velkaro-cli's watch on a simulated port at 0x378\n";
    for (const std::string& line : machineDescription())
        std::cout << line << '\n';
    std::cout << "load:     one-minute load average " << loadAtStart << " at start, " << loadAverage()
              << " at end (" << std::thread::hardware_concurrency() << " cores)\n";
    std::cout << "path:     one 32-bit read per sampling step (window phases checked: no byte reads); the watch and its\n"
              << "          bare loop read the same way, through the channel, with the transfer log off\n"
              << "scripts:  pulse widths over " << plan.pulses << " pulses each on a private simulated port; "
              << plan.sharedChanges << " writes to 0x378 in this process, each read back as a record from a\n"
              << "          velkaro-cli watch in another process on a shared simulated machine of the bench's own (pipe included)\n"
              << "runs:     medians of " << plan.repetitions << " runs of " << plan.loopSeconds << " s per idle loop (in "
              << plan.loopTurns << " interleaved turns), "
              << plan.directCalls << " direct calls and " << plan.clicks << " clicks; CPU " << plan.cpuRepetitions
              << " x " << plan.cpuSeconds << " s per item; memory 1 x " << plan.memorySeconds << " s\n\n";
}
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const BenchPlan plan = app.arguments().contains(QStringLiteral("--short")) ? BenchPlan::quick() : BenchPlan{};
    // The fonts the program itself substitutes, so that cells paint as they do there.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});

    ResultTable table(measureRows());
    const std::string loadAtStart = loadAverage();
    try {
        measureAll(plan, table);
    } catch (const std::exception& error) {
        std::cerr << "velkaro-bench: " << error.what() << '\n';
        return 1;
    }
    printHeader(plan, loadAtStart);
    table.print(std::cout);
    return 0;
}
