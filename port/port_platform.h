#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The platform operations the port channel is written against. Each provider
// (Linux, Win32, simulated, test fakes) supplies them; the channel's logic
// never calls an operating system directly.
class PortPlatform {
public:
    using Handle = std::intptr_t;
    static constexpr Handle InvalidHandle = -1;

    // How a process gets permission to execute port instructions.
    enum class Family {
        Unrestricted, // port instructions allowed as they are (Windows 9x); no device
        Driver,       // NT family: a kernel driver grants ports through its device
        Kernel,       // the kernel grants ports to the process itself (Linux ioperm)
    };

    virtual ~PortPlatform() = default;

    virtual Family systemFamily() = 0;

    // Driver family: the driver image held by the program; false when missing.
    virtual bool driverImage(std::vector<std::uint8_t>& image) { (void)image; return false; }
    virtual std::string systemDirectory() { return {}; }
    virtual std::uint32_t fileAttributes(const std::string& path) { (void)path; return 0; }
    virtual void setFileAttributes(const std::string& path, std::uint32_t attributes) { (void)path; (void)attributes; }
    // Creates the file anew and writes the image; the count written, or -1 when
    // the file cannot be created.
    virtual long long writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) { (void)path; (void)bytes; return -1; }
    virtual void releaseDriverImage() {}
    virtual Handle openServiceManager() { return InvalidHandle; }
    virtual Handle openService(Handle manager) { (void)manager; return InvalidHandle; }
    virtual Handle createService(Handle manager, const std::string& driverPath) { (void)manager; (void)driverPath; return InvalidHandle; }
    virtual bool startService(Handle service) { (void)service; return false; }
    virtual bool deleteService(Handle service) { (void)service; return false; }
    virtual void closeServiceHandle(Handle handle) { (void)handle; }
    virtual std::uint32_t lastError() { return 0; }

    // Driver family: the driver's device. Kernel family: checks that the kernel
    // lets this process have port permissions, and on failure shows why
    // (returning InvalidHandle); on success any non-invalid value.
    virtual Handle openDevice() = 0;
    virtual void closeDevice(Handle device) = 0;
    // Asks for access to one port; the outcome is not examined by the channel.
    virtual bool requestPortAccess(Handle device, std::uint16_t port) = 0;

    // A message of the channel, waiting for OK.
    virtual void showMessage(const std::string& text) = 0;

    virtual std::uint8_t inByte(std::uint16_t port) = 0;
    virtual void outByte(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint32_t inDword(std::uint16_t port) = 0;

    // The interrupts the kernel counted on the port at that base since the last
    // take (the count starts anew); none where this route cannot count them.
    virtual std::optional<int> takeInterrupts(std::uint16_t base) { (void)base; return std::nullopt; }
};
