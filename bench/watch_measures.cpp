#include "watch_measures.h"

#include "change_writer.h"
#include "port_channel.h"
#include "simulated_devices.h"
#include "simulated_port_platform.h"
#include "watch.h"

WatchedPort::WatchedPort(bool counting)
{
    platform.setLogging(false);
    SimulatedParallelPort& port = platform.addPort(Base);
    if (counting)
        port.attach(std::make_unique<CountingDevice>());
    channel.OpenPortChannel();
}

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;
const volatile std::sig_atomic_t neverStopped = 0;

}

double bareLoop(PortChannel& channel, double seconds)
{
    const Clock::time_point start = Clock::now();
    const auto limit = std::chrono::duration<double>(seconds);
    long long reads = 0;
    std::uint32_t sum = 0;
    do {
        for (int i = 0; i < 1024; ++i)
            sum += channel.ReadRegisters(WatchedPort::Base, false);
        reads += 1024;
    } while (Clock::now() - start < limit);
    if (sum == 1) // keeps the reads from being optimised away
        std::fputc('\n', stderr);
    return static_cast<double>(reads) / std::chrono::duration<double>(Clock::now() - start).count();
}

namespace {

// A watch of every register bit for the time given, writing VCD to the file;
// samples per second.
double watchLoop(PortChannel& channel, double seconds, std::FILE* file)
{
    WatchPlan plan;
    plan.ports = {{WatchedPort::Base, false}};
    plan.duration = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds));
    std::vector<const RegisterModel::Line*> lines;
    for (const RegisterModel::Line& line : RegisterModel::Lines)
        lines.push_back(&line);
    const auto writer = MakeChangeWriter(RecordFormat::Vcd, false, file, ChangeWriter::HandOn::InBlocks);
    const Clock::time_point start = Clock::now();
    LinuxSchedulingKernel kernel;
    std::FILE* const nowhere = std::fopen("/dev/null", "w"); // the watch's word on its scheduling
    const WatchResult result =
        Watch(channel, plan, *writer, WatchHeader{{{"378", "simulated"}}, std::chrono::system_clock::now(), lines},
              {kernel, nullptr, nowhere}, neverStopped);
    std::fclose(nowhere);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (std::ferror(file))
        throw std::runtime_error("the watch's VCD file could not be written");
    return static_cast<double>(result.samples) / elapsed;
}

}

WatchRates watchRates(double secondsEach, int turnsEach)
{
    QTemporaryDir dir;
    std::FILE* vcd = std::fopen(dir.filePath(QStringLiteral("watch.vcd")).toLocal8Bit().constData(), "w");
    if (!vcd)
        throw std::runtime_error("no file for the watch's VCD");
    std::setvbuf(vcd, nullptr, _IOFBF, 1 << 20);

    WatchedPort unchanging(false);
    WatchedPort counting(true);
    const double turn = secondsEach / turnsEach;
    WatchRates rates;
    for (int i = 0; i < turnsEach; ++i) {
        rates.unchangedBare += bareLoop(unchanging.channel, turn) / turnsEach;
        rates.unchangedSamples += watchLoop(unchanging.channel, turn, vcd) / turnsEach;
        rates.countingBare += bareLoop(counting.channel, turn) / turnsEach;
        rates.countingVcdSamples += watchLoop(counting.channel, turn, vcd) / turnsEach;
        std::rewind(vcd); // the file stays small; each turn writes it anew
    }
    std::fclose(vcd);
    return rates;
}
