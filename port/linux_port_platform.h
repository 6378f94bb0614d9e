#pragma once

#include "port_platform.h"

#include <bitset>
#include <functional>
#include <string>

// Port platform of Linux on x86: the kernel's ioperm() is the grant and the
// transfers are the in/out instructions. A port whose grant the kernel refused
// is never touched by an instruction (that would be a SIGSEGV): its reads give
// 0xFF, as a floating bus does, and its writes are dropped.
class LinuxPortPlatform : public PortPlatform {
public:
    using MessageSink = std::function<void(const std::string& text)>;
    explicit LinuxPortPlatform(MessageSink showMessage) : m_showMessage(std::move(showMessage)) {}

    Family systemFamily() override { return Family::Kernel; }
    // Checks that the kernel lets this process have port permissions; when it
    // does not, shows the cause and its remedy.
    Handle openDevice() override;
    void closeDevice(Handle) override {}
    bool requestPortAccess(Handle device, std::uint16_t port) override;
    void showMessage(const std::string& text) override { m_showMessage(text); }
    std::uint8_t inByte(std::uint16_t port) override;
    void outByte(std::uint16_t port, std::uint8_t value) override;
    std::uint32_t inDword(std::uint16_t port) override;

    bool portAllowed(std::uint16_t port) const { return m_allowed.test(port); }

    // The text shown when the kernel refuses port permissions with this errno.
    static std::string refusalText(int error);

protected:
    // The kernel call, replaceable so that refusals can be tested.
    virtual int ioperm(unsigned long from, unsigned long count, int turnOn);

private:
    MessageSink m_showMessage;
    std::bitset<65536> m_allowed;
};
