#pragma once

#include "port_platform.h"

// Port platform of Windows: the port-access driver installed and reached
// through the service control manager and its device, the transfers done by
// the processor's port instructions. A port instruction that faults because
// the driver refused the grant reads 0xFF and writes nothing, as on a
// floating bus, instead of ending the program.
class Win32PortPlatform : public PortPlatform {
public:
    Win32PortPlatform();
    ~Win32PortPlatform() override;
    Win32PortPlatform(const Win32PortPlatform&) = delete;
    Win32PortPlatform& operator=(const Win32PortPlatform&) = delete;

    // Driver on the NT family, Unrestricted elsewhere.
    Family systemFamily() override;
    // The "XUDSYS" resource of type "BINARY" in the program's own file.
    bool driverImage(std::vector<std::uint8_t>& image) override;
    std::string systemDirectory() override;
    std::uint32_t fileAttributes(const std::string& path) override;
    void setFileAttributes(const std::string& path, std::uint32_t attributes) override;
    long long writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) override;
    void releaseDriverImage() override;
    Handle openServiceManager() override;
    Handle openService(Handle manager) override;
    Handle createService(Handle manager, const std::string& driverPath) override;
    bool startService(Handle service) override;
    bool deleteService(Handle service) override;
    void closeServiceHandle(Handle handle) override;
    std::uint32_t lastError() override;

    // The driver's device "\\.\XUD".
    Handle openDevice() override;
    void closeDevice(Handle device) override;
    // Asks the driver to let this process use one port.
    bool requestPortAccess(Handle device, std::uint16_t port) override;
    // A message box captioned "XUD.DLL" with the information icon.
    void showMessage(const std::string& text) override;

    std::uint8_t inByte(std::uint16_t port) override;
    void outByte(std::uint16_t port, std::uint8_t value) override;
    std::uint32_t inDword(std::uint16_t port) override;

private:
    void* m_imageResource = nullptr; // the loaded driver image, until released
    void* m_faultHandler = nullptr;  // skips port instructions the driver did not allow
};
