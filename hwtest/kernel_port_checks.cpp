#include "kernel_port_checks.h"

#include "guest_report.h"
#include "kernel_port_list.h"
#include "port_capture.h"
#include "realtime_scheduling.h"
#include "port_probe.h"
#include "port_route.h"
#include "port_self_test.h"
#include "ppdev_port_platform.h"

#include <sys/io.h>

#include <chrono>
#include <cerrno>
#include <cstdio>

#include <sys/resource.h>
#include <algorithm>
#include <map>
#include <thread>

namespace {

constexpr std::uint16_t Standard = 0x378;
constexpr std::uint16_t Card = 0xE010;
std::string describe(const std::vector<KernelPort>& ports)
{
    std::string text;
    for (const KernelPort& port : ports)
        text += (text.empty() ? "" : ", ") + std::string("parport") + std::to_string(port.number) + " " +
                hex(port.base, 3) + " " + port.activeDevice + (port.devicePath.empty() ? " no node" : "");
    return text.empty() ? "none" : text;
}

std::string describe(const std::vector<FoundPort>& ports)
{
    std::string text;
    for (const FoundPort& port : ports) {
        if (!text.empty())
            text += ' ';
        text += hex(port.base, 3);
    }
    return text.empty() ? "none" : text;
}

// Which parportN owns the I/O region at each base, as /proc/ioports tells root.
std::map<std::uint16_t, int> regionOwners()
{
    std::map<std::uint16_t, int> owners;
    if (std::FILE* file = std::fopen("/proc/ioports", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, file)) {
            unsigned first = 0, last = 0;
            int number = 0;
            if (std::sscanf(line, " %x-%x : parport%d", &first, &last, &number) == 3)
                owners[static_cast<std::uint16_t>(first)] = number;
        }
        std::fclose(file);
    }
    return owners;
}

void checkDiscovery(Report& report, bool withRegions)
{
    const std::vector<KernelPort> ports = ReadKernelPorts();
    bool free = ports.size() == 2;
    std::map<std::uint16_t, int> numbers;
    for (const KernelPort& port : ports) {
        free = free && !port.held() && port.devicePath == "/dev/parport" + std::to_string(port.number);
        numbers[port.base] = port.number;
    }
    report.check(free && numbers.contains(Standard) && numbers.contains(Card),
                 "discovery lists the ports at 0x378 and 0xE010, free, with their device nodes", describe(ports));
    if (withRegions) {
        const std::map<std::uint16_t, int> owners = regionOwners();
        report.check(!owners.empty() && owners == numbers, "each port's N is that of the parport owning its I/O region",
                     std::to_string(owners.size()) + " parport regions in /proc/ioports");
    }
}

// What list and read show of 0x378: the kernel's IRQ (through ACPI) and the
// modes it found, SPP and the tri-state data lines of PS/2 ports.
void checkKernelFacts(Report& report)
{
    const std::vector<KernelPort> ports = ReadKernelPorts();
    const KernelPort* port = KernelPortAt(ports, Standard);
    report.check(port && port->irq == 7 && port->modes == "PCSPP,TRISTATE",
                 "the kernel's facts of 0x378: IRQ 7, modes PCSPP,TRISTATE", port ? KernelFactsText(*port) : "not listed");
}

// The self-test's input mode check: with bit 5 set the emulated port's data
// lines read FF whatever was written; the registers are put back.
void checkInputMode(Report& report, PortRoute& route, const std::string& via)
{
    SelfTestPlan plan;
    plan.plugChoice = SelfTestPlan::PlugChoice::None;
    plan.inputMode = true;
    const SelfTestReport result = RunSelfTest(*route.channel, plan);
    report.check(result.passed(), via + ": the input mode check passes and the registers are put back",
                 result.verdicts.empty() ? result.restoration : result.verdicts.front().text + "; " + result.restoration);
}

// The kernel counts the port's interrupts for the file that holds the claim
// (the claim enables the IRQ). The emulated port raises it when a control
// write releases STB while bit 4 is set, not on ACK, and a status read lowers
// it: so strobes, each followed by a status read, are counted one each. The
// next strobe waits for the count of the one before (up to half a second): a
// raise while the last is still pending would merge with it, as a slow guest
// on a loaded host shows.
void checkInterruptCount(Report& report, PortRoute& route, const std::string& via)
{
    PortChannel& channel = *route.channel;
    const std::uint16_t control = Standard + 2;
    const std::optional<int> before = channel.TakeInterrupts(Standard);
    constexpr int strobes = 5;
    int counted = 0;
    for (int strobe = 0; strobe < strobes; ++strobe) {
        channel.WritePortByte(control, 0x0D); // STB active (low)
        channel.WritePortByte(control, 0x0C); // released: the emulated port's interrupt
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            channel.ReadPortByte(Standard + 1);
            counted += channel.TakeInterrupts(Standard).value_or(0);
        } while (counted <= strobe && std::chrono::steady_clock::now() < until);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // any beyond them
    counted += channel.TakeInterrupts(Standard).value_or(0);
    report.check(before && counted == strobes, via + ": PPCLRIRQ counts one interrupt per strobe",
                 std::to_string(strobes) + " strobes, " + std::to_string(counted) + " counted");
}

// The window's port list over the route, and its registers: the data register
// round-trips, a click on pin D0 toggles data bit 0, control bits 0-3
// round-trip, the status register reads.
void checkPortsThroughRoute(Report& report, PortRoute& route, const std::string& via)
{
    PortChannel& channel = *route.channel;
    const std::vector<FoundPort> found = FindPorts(channel, NonStandardBases(route.kernelPorts));
    const bool listed = found.size() == 2 && found[0].base == Standard && found[1].base == Card;
    report.check(listed, via + ": the port list is the probe's 0x378, then the card at 0xE010", describe(found));
    if (!listed)
        return;
    for (const FoundPort& port : found) {
        const std::string name = via + ", " + hex(port.base, 3);
        std::string errors = roundTripErrors(channel, port.base, 256, 0xFF);
        report.check(errors.empty(), name + ": the data register reads back all 256 bytes written", errors);

        const std::uint8_t before = channel.ReadPortByte(port.base);
        channel.WritePortByte(port.base, before ^ 0x01);
        const std::uint8_t after = channel.ReadPortByte(port.base);
        report.check(after == (before ^ 0x01), name + ": a click on pin D0 toggles data bit 0",
                     hex(before) + " -> " + hex(after));

        const std::uint16_t control = static_cast<std::uint16_t>(port.base + 2);
        errors = roundTripErrors(channel, control, 16, 0x0F);
        report.check(errors.empty(), name + ": control bits 0-3 read back all 16 values written", errors);

        channel.WritePortByte(control, 0x08); // an Init pulse quiets the emulated printer side
        channel.WritePortByte(control, 0x0C);
        const std::uint8_t status = channel.ReadPortByte(static_cast<std::uint16_t>(port.base + 1));
        report.check(status != 0xFF, name + ": the status register reads", hex(status));
    }
}

// The timeline's capture on its own thread through the route: the test writes
// a known sequence to the data register while it runs, each value held until
// the capture has sampled after it, and the record holds every value in order.
// Then its rate with nothing changing, printed as a figure.
void checkCaptureThroughRoute(Report& report, PortRoute& route, const std::string& via, bool realtimeAllowed)
{
    PortChannel& channel = *route.channel;
    const FoundPort port = CheckedPort(channel, Standard);
    PortCapture capture(channel, 1 << 16);
    capture.start(port);
    const auto sampledSince = [&capture](long long samples) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (capture.counters().samples < samples + 130)
            if (std::chrono::steady_clock::now() > deadline)
                return false;
        return true;
    };
    // The register as it was, sampled before the first write.
    bool sampledEach = sampledSince(0);
    std::vector<std::uint8_t> written;
    for (int n = 0; n < 32; ++n) {
        const auto value = static_cast<std::uint8_t>(0xA0 ^ (n * 37));
        channel.WritePortByte(Standard, value);
        // Counted from after the write: a writer set aside between a count
        // taken before it and the write itself would find the samples already
        // made and write the next value before this one was ever sampled.
        const long long afterWrite = capture.counters().samples;
        written.push_back(value);
        sampledEach = sampledEach && sampledSince(afterWrite);
    }
    const auto started = std::chrono::steady_clock::now();
    const long long samplesBefore = capture.counters().samples;
    while (std::chrono::steady_clock::now() - started < std::chrono::milliseconds(500)) {
    }
    const double rate = static_cast<double>(capture.counters().samples - samplesBefore) /
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const Scheduling scheduling = capture.scheduling();
    capture.stop();
    const std::string schedulingText = SchedulingText(scheduling);
    // Real-time from the process's own limits (root's CAP_SYS_NICE, or an
    // RLIMIT_RTPRIO) — or withdrawn by the kernel's SIGXCPU, which only a
    // real-time thread gets (seen under software emulation on a loaded host);
    // without them, normal priority and the reason.
    const bool granted = scheduling.route == Scheduling::Route::ProcessLimits ||
                         schedulingText.find("SIGXCPU") != std::string::npos;
    report.check(realtimeAllowed ? granted : schedulingText.find("RLIMIT_RTPRIO 0") != std::string::npos,
                 via + ": the capture tells the scheduling it got", schedulingText);
    std::printf("# figure: %s: the capture sampled at %s\n", via.c_str(), schedulingText.c_str());

    std::vector<std::uint8_t> recorded;
    capture.read([&recorded](const ChangeRing& ring) {
        for (std::uint64_t change = ring.oldest(); change < ring.end(); ++change) {
            const auto data = static_cast<std::uint8_t>(ring.registers(change));
            if (recorded.empty() || recorded.back() != data)
                recorded.push_back(data);
        }
    });
    // The first entry is the data register as the capture began.
    const bool inOrder = recorded.size() == written.size() + 1 &&
                         std::equal(written.begin(), written.end(), recorded.begin() + 1);
    std::string detail = std::to_string(recorded.size()) + " values recorded:";
    for (const std::uint8_t value : recorded)
        detail += " " + hex(value);
    report.check(sampledEach && inOrder, via + ": the capture's thread records every value written, in order", detail);
    std::printf("# figure: %s: the capture takes %.0f samples/s of 0x378 (%s reads)\n", via.c_str(), rate,
                port.byteReads ? "byte" : "four-byte");
}

// Through ppdev as root, with port permissions still held: what each /dev/parportN
// writes appears at its port's base, and its status is the port's.
void checkDeviceNodesReachTheirPorts(Report& report)
{
    PpdevPortPlatform ppdev(ReadKernelPorts(), [](const std::string& text) { std::printf("# message: %s\n", text.c_str()); });
    PortChannel channel(ppdev);
    channel.OpenPortChannel();
    std::string mismatches;
    std::uint8_t value = 0x5A;
    for (const KernelPort& port : ppdev.claimedPorts()) {
        channel.WritePortByte(port.base, ++value);
        const std::uint8_t direct = inb(port.base);
        const std::uint8_t status = channel.ReadPortByte(static_cast<std::uint16_t>(port.base + 1));
        const std::uint8_t directStatus = inb(static_cast<std::uint16_t>(port.base + 1));
        if (direct != value || status != directStatus)
            mismatches += " " + port.devicePath + " wrote " + hex(value) + " status " + hex(status) + ", at " +
                          hex(port.base, 3) + " data " + hex(direct) + " status " + hex(directStatus) + ";";
    }
    report.check(channel.PortChannelReady() && ppdev.claimedPorts().size() == 2 && mismatches.empty(),
                 "each /dev/parportN reaches the registers at its own base", mismatches);
    channel.ClosePortChannel();
}

// Another program holds 0x378 through ppdev: the route leaves it out without
// opening it, so no claim waits for it (a claim would stall every ppdev user).
void checkHeldPortIsSkipped(Report& report)
{
    const std::vector<KernelPort> ports = ReadKernelPorts();
    std::string node;
    for (const KernelPort& port : ports)
        if (port.base == Standard)
            node = port.devicePath;
    SystemPpdevCalls holder;
    const int fd = holder.open(node);
    const bool holding = fd >= 0 && holder.claim(fd, std::chrono::seconds(1)) == 0;

    const auto started = std::chrono::steady_clock::now();
    PortRoute route = OpenLinuxPortRoute();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    bool skipped = false;
    if (const auto* ppdev = dynamic_cast<const PpdevPortPlatform*>(route.platform.get()))
        for (const PpdevPortPlatform::Outcome& outcome : ppdev->outcomes())
            skipped = skipped || (outcome.port.base == Standard && outcome.kind == PpdevPortPlatform::Outcome::Held);
    const bool onlyCard = route.kernelPorts.size() == 1 && route.kernelPorts[0].base == Card;
    report.check(holding && route.kind == PortRoute::Kind::Ppdev && onlyCard && skipped,
                 "a port held by another program is left out, never opened",
                 describe(ReadKernelPorts()) + "; route opened in " + std::to_string(took.count()) + " ms");
    route.channel->ClosePortChannel();
    if (fd >= 0)
        holder.close(fd);
}

void checkUnprivilegedUser(Report& report)
{
    checkInChild(report, "user in group lp", becomeUserInGroupLp, [](Report& child) {
        checkDiscovery(child, false);
        PortRoute route = OpenLinuxPortRoute();
        child.check(route.kind == PortRoute::Kind::Ppdev, "the route is ppdev", route.failure);
        if (route.kind == PortRoute::Kind::Ppdev) {
            checkPortsThroughRoute(child, route, "ppdev");
            checkCaptureThroughRoute(child, route, "ppdev", false);
            checkInterruptCount(child, route, "ppdev");
            checkInputMode(child, route, "ppdev");
        }
        route.channel->ClosePortChannel();
        checkHeldPortIsSkipped(child);
    });
    // As under a limits.d grant to the audio group: the limit, then the user.
    const auto becomeUserWithRealtimeLimit = [] {
        const rlimit limit{SamplerPriority, SamplerPriority};
        return setrlimit(RLIMIT_RTPRIO, &limit) == 0 && becomeUserInGroupLp();
    };
    checkInChild(report, "user in group lp with RLIMIT_RTPRIO 19", becomeUserWithRealtimeLimit, [](Report& child) {
        PortRoute route = OpenLinuxPortRoute();
        if (route.kind == PortRoute::Kind::Ppdev)
            checkCaptureThroughRoute(child, route, "ppdev, RLIMIT_RTPRIO 19", true);
        route.channel->ClosePortChannel();
    });
}

}

void runKernelPortChecks(Report& report, bool lockedDown)
{
    checkDiscovery(report, true);
    checkKernelFacts(report);
    PortRoute route = OpenLinuxPortRoute();
    if (lockedDown) {
        std::string message;
        LinuxPortPlatform direct([&message](const std::string& text) { message = text; });
        report.check(direct.openDevice() == PortPlatform::InvalidHandle && message == LinuxPortPlatform::refusalText(EPERM),
                     "in lockdown root's ioperm is refused (EPERM)", message);
        report.check(route.kind == PortRoute::Kind::Ppdev, "root's route is then ppdev", route.failure);
        if (route.kind == PortRoute::Kind::Ppdev) {
            checkPortsThroughRoute(report, route, "root, ppdev");
            checkCaptureThroughRoute(report, route, "root, ppdev", true);
        }
    } else {
        report.check(route.kind == PortRoute::Kind::DirectIo, "root's route is direct port I/O", route.failure);
        if (route.kind == PortRoute::Kind::DirectIo) {
            checkPortsThroughRoute(report, route, "direct I/O");
            checkCaptureThroughRoute(report, route, "direct I/O", true);
            checkInputMode(report, route, "direct I/O");
            checkDeviceNodesReachTheirPorts(report);
        }
    }
    route.channel->ClosePortChannel();
    checkUnprivilegedUser(report);
}
