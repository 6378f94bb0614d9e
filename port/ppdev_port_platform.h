#pragma once

#include "kernel_port_list.h"
#include "port_platform.h"
#include "ppdev_calls.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Port platform over the kernel's ppdev driver: the port numbers of each kernel
// port are mapped to its /dev/parportN, which needs no privilege (group lp) and
// works under lockdown. base: the data register; base + 1: the status register
// (writes dropped: it is read-only); base + 2: bits 0-3 as the driver holds them
// and bit 5 (direction) as this program set it, the other bits read 0 — ppdev
// reads no control register from the hardware; base + 3 and every other port
// read 0xFF and ignore writes. A sample costs one ioctl per hardware register:
// the driver's control copy changes only through this program's writes while
// it holds the port, so it is asked for once and then kept here.
class PpdevPortPlatform : public PortPlatform {
public:
    using MessageSink = std::function<void(const std::string& text)>;

    // What opening did with one kernel port.
    struct Outcome {
        enum Kind { Claimed, Held, NoDeviceNode, OpenFailed, ClaimFailed };
        KernelPort port;
        Kind kind;
        int error = 0; // errno of a failed open or claim
    };

    // How long a claim may wait for a port that another program took meanwhile.
    static constexpr std::chrono::milliseconds ClaimLimit{250};

    PpdevPortPlatform(std::vector<KernelPort> ports, MessageSink showMessage,
                      std::unique_ptr<PpdevCalls> calls = std::make_unique<SystemPpdevCalls>());
    ~PpdevPortPlatform() override;

    Family systemFamily() override { return Family::Kernel; }
    // Opens and claims every kernel port that nobody holds, and keeps the
    // claims until closeDevice; the first claim of a port makes the kernel write
    // 0x0C to its control register. When no port could be claimed, shows why.
    Handle openDevice() override;
    // Releases the claims and closes the device nodes; later transfers touch nothing.
    void closeDevice(Handle device) override;
    // Whether the port belongs to a claimed kernel port; grants nothing.
    bool requestPortAccess(Handle device, std::uint16_t port) override;
    void showMessage(const std::string& text) override { m_showMessage(text); }
    std::uint8_t inByte(std::uint16_t port) override;
    void outByte(std::uint16_t port, std::uint8_t value) override;
    std::uint32_t inDword(std::uint16_t port) override;
    // PPCLRIRQ: the driver counts the port's interrupts while this file holds
    // the claim (the claim turns the port's interrupt on) and hands the count
    // over, subtracting it, so nothing is lost. None for a port without an IRQ.
    std::optional<int> takeInterrupts(std::uint16_t base) override;

    const std::vector<Outcome>& outcomes() const { return m_outcomes; }
    // The ports reached, in the kernel's order.
    std::vector<KernelPort> claimedPorts() const;

    // Why no port could be reached, with the way out for each cause.
    static std::string failureText(const std::vector<Outcome>& outcomes);

private:
    struct ClaimedPort {
        KernelPort port;
        int fd;
        bool reverse = false; // bit 5: the data lines are inputs
        std::optional<std::uint8_t> control; // the driver's bits 0-3, once known
    };

    ClaimedPort* claimedAt(std::uint16_t address, int& offset);
    std::optional<std::uint8_t> readRegister(ClaimedPort& port, unsigned long request);

    std::vector<KernelPort> m_ports;
    MessageSink m_showMessage;
    std::unique_ptr<PpdevCalls> m_calls;
    std::vector<Outcome> m_outcomes;
    std::vector<ClaimedPort> m_claimed;
};
