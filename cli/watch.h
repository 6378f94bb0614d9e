#pragma once

#include "cli_arguments.h"
#include "port_probe.h"
#include "realtime_scheduling.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

class ChangeWriter;
class PortChannel;
struct WatchHeader;

// What a watch samples and when it ends.
struct WatchPlan {
    std::vector<FoundPort> ports; // each sample reads them all, in this order
    // Register bits whose change makes a record: data 0-7, status 8-15, control 16-23.
    std::uint32_t recordedBits = 0xFFFFFF;
    // Where either is given, only these changes of the recorded lines' levels
    // make records: to 1 (rising) or to 0 (falling).
    std::uint32_t risingBits = 0;
    std::uint32_t fallingBits = 0;
    std::chrono::nanoseconds interval{0}; // 0: sample again at once
    std::optional<std::chrono::nanoseconds> duration;
    std::optional<long long> count; // change records
    // All must hold on one of the ports: the levels in a sample, the edges from the sample before to it.
    std::vector<LineLevel> until;
    std::vector<LineEdge> untilEdges;
    std::optional<std::chrono::nanoseconds> timeout;
    // Where the kernel counts the ports' interrupts (ppdev): the rises of ACK
    // it counted are told at the end beside those the sampling saw.
    bool countInterrupts = false;
};

struct WatchResult {
    enum class End { Duration, Count, Until, Timeout, Stopped };
    End end;
    long long samples; // passes over the ports
    long long records;
};

// The register bits of the given lines.
std::uint32_t LineBits(const std::vector<const RegisterModel::Line*>& lines);

// Who schedules the sampling threads, and where the user is told what they got.
struct WatchScheduling {
    SchedulingKernel& kernel;
    RealtimeBroker* broker;
    std::FILE* err;
};

// Samples the ports' registers with the reads the window uses, as fast as the
// ports answer (or at the plan's interval), and hands every
// reading of a port that differs from the one before in a recorded bit to the
// writer, stamped with the monotonic clock (or only the edges asked for). A
// port's first reading is recorded too, and not counted. The header tells the
// scheduling the sampling got, as does a line on err. Ends as planned, or when
// stop becomes non-zero (set from a signal handler). Where the plan asks,
// a line on err then compares the kernel's count of ACK's rises with the
// sampling's, port by port.
WatchResult Watch(PortChannel& channel, const WatchPlan& plan, ChangeWriter& writer, WatchHeader header,
                  const WatchScheduling& scheduling, const volatile std::sig_atomic_t& stop);
