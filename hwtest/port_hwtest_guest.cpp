// Checks the Linux port providers, the port channel, the probe and the route
// choice on a real kernel with emulated ISA parallel ports at 0x378 and 0xE010
// (a QEMU guest, run by its init). Prints TAP: one "ok"/"not ok" line per
// check, then the plan line, so a run cut short has no plan.
// Usage: port_hwtest_guest [lockdown]   (the kernel was booted with lockdown=integrity)

#include "linux_port_platform.h"
#include "port_channel.h"
#include "port_probe.h"

#include "guest_report.h"
#include "kernel_port_checks.h"

#include <sys/io.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t Base = 0x378;
constexpr std::uint16_t Status = Base + 1;
constexpr std::uint16_t Control = Base + 2;

// The ports the main window grants at its creation, in its order.
constexpr std::uint16_t WindowGrants[] = {0x378, 0x379, 0x37A, 0x37B, 0x278, 0x279,
                                          0x27A, 0x27B, 0x3BC, 0x3BD, 0x3BE, 0x3BF};

// The Linux provider with its kernel call watched: every ioperm() is logged,
// and ports on the refusal list fail with EPERM without reaching the kernel.
class WatchedLinuxPlatform : public LinuxPortPlatform {
public:
    struct Call {
        unsigned long from;
        unsigned long count;
        int turnOn;
        bool operator==(const Call&) const = default;
    };

    WatchedLinuxPlatform()
        : LinuxPortPlatform([](const std::string& text) { std::printf("# message: %s\n", text.c_str()); })
    {
    }

    void refuse(std::uint16_t port) { m_refused.insert(port); }

    std::vector<Call> calls;

protected:
    int ioperm(unsigned long from, unsigned long count, int turnOn) override
    {
        calls.push_back({from, count, turnOn});
        if (turnOn && m_refused.contains(static_cast<std::uint16_t>(from))) {
            errno = EPERM;
            return -1;
        }
        return LinuxPortPlatform::ioperm(from, count, turnOn);
    }

private:
    std::set<std::uint16_t> m_refused;
};

std::string describe(const std::vector<WatchedLinuxPlatform::Call>& calls)
{
    std::string text;
    for (const auto& call : calls) {
        if (!text.empty())
            text += ' ';
        text += hex(call.from, 3) + "/" + std::to_string(call.count) + "/" + std::to_string(call.turnOn);
    }
    return text.empty() ? "none" : text;
}

// Runs body in a child process that has given up every port permission it
// inherited across fork(), and gives the child's wait status.
int waitStatusOf(const std::function<int()>& body)
{
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0)
        _exit(::ioperm(0, 0x10000, 0) == 0 ? body() : 2);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return status;
}

void checkProbe(Report& report, PortChannel& channel)
{
    const std::uint16_t first = DetectPort(channel, 1);
    const std::uint16_t second = DetectPort(channel, 2);
    report.check(first == Base && second == 0, "probe finds exactly 0x378",
                 "first " + hex(first, 3) + ", second " + hex(second, 3) + "; data at 0x3BC reads " +
                     hex(channel.ReadPortByte(0x3BC)) + ", at 0x278 " + hex(channel.ReadPortByte(0x278)));
}

void checkDataRoundTrip(Report& report, PortChannel& channel)
{
    const std::string errors = roundTripErrors(channel, Base, 256, 0xFF);
    report.check(errors.empty(), "data register reads back all 256 bytes written", errors);
}

// Bits 0 to 3 drive the STB, AFD, Init and SlctIn lines; bit 5 (direction) is
// kept clear so that the data register stays an output.
void checkControlRoundTrip(Report& report, PortChannel& channel)
{
    const std::string errors = roundTripErrors(channel, Control, 16, 0x0F);
    report.check(errors.empty(), "control register bits 0-3 read back all 16 values written", errors);
}

void checkStatusReadOnly(Report& report, PortChannel& channel)
{
    // An Init pulse resets the printer side: with no strobe handshake going on,
    // the emulated status lines then hold still.
    channel.WritePortByte(Control, 0x08);
    channel.WritePortByte(Control, 0x0C);
    const std::uint8_t before = channel.ReadPortByte(Status);
    std::string changes;
    for (const unsigned value : {before ^ 0xFFu, 0x00u, 0xFFu}) {
        channel.WritePortByte(Status, static_cast<std::uint8_t>(value));
        const std::uint8_t after = channel.ReadPortByte(Status);
        if (after != before)
            changes += " wrote " + hex(value) + ", read " + hex(after) + ";";
    }
    report.check(changes.empty(), "writes to the status register leave it unchanged",
                 "status " + hex(before) + (changes.empty() ? "" : ";" + changes));
}

void checkGrantOnFirstUse(Report& report)
{
    WatchedLinuxPlatform platform;
    PortChannel channel(platform);
    channel.OpenPortChannel();
    platform.calls.clear();

    DetectPort(channel, 1);                 // uses 0x3BC, then finds 0x378
    DetectPort(channel, 2);                 // 0x3BC and 0x378 again, then 0x278
    channel.ReadRegisters(Base, true);      // 0x378 again, then 0x379 and 0x37A
    channel.WritePortByte(Control, 0x0C);

    const std::vector<WatchedLinuxPlatform::Call> expected = {
        {0x3BC, 1, 1}, {0x378, 1, 1}, {0x278, 1, 1}, {0x379, 1, 1}, {0x37A, 1, 1}};
    report.check(channel.PortChannelReady() && platform.calls == expected,
                 "grant on first use issues one ioperm per port, in order of first use",
                 "ioperm calls: " + describe(platform.calls));
}

// A register width is chosen as the main window does; QEMU answers a four-byte
// read at the port with 0xFFFFFFFF, so byte reads must be chosen there.
void checkRegisterWidth(Report& report, PortChannel& channel)
{
    channel.WritePortByte(Base, 0x5A);
    channel.WritePortByte(Control, 0x0C);
    const std::uint32_t dword = channel.ReadPortDword(Base);
    const bool byteReads = !DwordReadsRegisters(channel, Base);
    report.check(byteReads, "four-byte check picks byte reads on 0x378",
                 "ReadPortDword gave " + hex(dword, 8));

    const std::uint32_t registers = channel.ReadRegisters(Base, byteReads);
    const std::uint32_t expected = 0x5Au | static_cast<std::uint32_t>(channel.ReadPortByte(Status)) << 8 |
                                   static_cast<std::uint32_t>(channel.ReadPortByte(Control)) << 16;
    report.check((registers & 0xFFFFFF) == expected && (registers >> 16 & 0x0F) == 0x0C,
                 "registers read with the chosen width are data, status and control",
                 "read " + hex(registers & 0xFFFFFF, 6) + ", byte by byte " + hex(expected, 6));
}

// Without this the next check would prove nothing: it shows that the kernel
// enforces port permissions, so a provider that touched a refused port would die.
void checkUngrantedFaults(Report& report)
{
    const int status = waitStatusOf([] {
        (void)inb(Base);
        return 0;
    });
    report.check(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV,
                 "a port instruction without a grant faults (SIGSEGV)", describeStatus(status));
}

void checkRefusedPortUntouched(Report& report, PortChannel& channel)
{
    channel.WritePortByte(Base, 0x3C);
    channel.WritePortByte(Control, 0x0C);

    const int status = waitStatusOf([] {
        WatchedLinuxPlatform platform;
        PortChannel refused(platform);
        refused.OpenPortChannel();
        for (std::uint16_t port = Base; port < Base + 4; ++port)
            platform.refuse(port);
        for (const std::uint16_t port : WindowGrants)
            refused.GrantPort(port);
        refused.WritePortByte(Base, 0xC3);
        refused.WritePortByte(Control, 0x0A);
        const bool floating = refused.ReadPortByte(Base) == 0xFF && refused.ReadPortByte(Status) == 0xFF &&
                              refused.ReadPortByte(Control) == 0xFF && refused.ReadPortDword(Base) == 0xFFFFFFFF &&
                              refused.ReadRegisters(Base, true) == 0xFFFFFF && DetectPort(refused, 1) == 0;
        return refused.PortChannelReady() && floating ? 0 : 1;
    });
    const std::uint8_t data = channel.ReadPortByte(Base);
    const std::uint8_t control = channel.ReadPortByte(Control) & 0x0F;
    report.check(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && data == 0x3C && control == 0x0C,
                 "a port whose grant was refused is never touched: reads give 0xFF, writes are dropped",
                 describeStatus(status) + "; data " + hex(data) + ", control bits 0-3 " + hex(control));
}

} // namespace

int main(int argc, char** argv)
{
    Report report;
    if (argc > 1 && std::string(argv[1]) == "lockdown") {
        runKernelPortChecks(report, true);
        return report.finish();
    }

    LinuxPortPlatform platform([](const std::string& text) { std::printf("# message: %s\n", text.c_str()); });
    PortChannel channel(platform);
    channel.OpenPortChannel();
    report.check(channel.PortChannelReady(), "port channel opens: the kernel allows ioperm");
    for (const std::uint16_t port : WindowGrants)
        channel.GrantPort(port);

    checkProbe(report, channel);
    checkDataRoundTrip(report, channel);
    checkControlRoundTrip(report, channel);
    checkStatusReadOnly(report, channel);
    checkGrantOnFirstUse(report);
    checkRegisterWidth(report, channel);
    checkUngrantedFaults(report);
    checkRefusedPortUntouched(report, channel);

    channel.ClosePortChannel();
    runKernelPortChecks(report, false);
    return report.finish();
}
