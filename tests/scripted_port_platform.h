#pragma once

#include "port_platform.h"

#include <QString>
#include <QStringList>

#include <initializer_list>
#include <map>
#include <set>
#include <utility>

// A scripted driver-family platform: any step of installing and reaching the
// driver can be made to fail at a chosen attempt, every call is recorded in
// order, and every handle handed out is tracked until it is closed.
class ScriptedPortPlatform : public PortPlatform {
public:
    enum class Step { OpenDevice, WriteFile, OpenServiceManager, OpenService, CreateService, StartService };

    static constexpr const char* SystemDir = "C:\\Windows\\System32";

    Family family = Family::Driver;
    bool imageMissing = false;
    bool shortWrite = false;             // the write reports one byte fewer than given
    std::uint32_t errorCode = 0;         // what lastError() answers
    std::uint32_t directoryAttributes = 0x11; // the drivers directory: read-only directory
    std::vector<std::uint8_t> image = {0x4D, 0x5A, 0x90, 0x00, 0x03};

    QStringList calls;          // every call, in order
    QStringList messages;       // the texts shown
    QStringList misuses;        // calls on a handle that is not open, releases without a load
    std::vector<std::uint8_t> written; // the bytes of the last file written

    // Makes the given attempts (counting from 1) at a step fail.
    void failOn(Step step, std::initializer_list<int> attempts = {1})
    {
        for (const int attempt : attempts)
            m_failures.insert({step, attempt});
    }

    // The calls without the pure queries, whose order does not matter.
    QStringList actions() const
    {
        QStringList result;
        for (const QString& call : calls)
            if (call != "systemFamily" && call != "systemDirectory" && !call.startsWith("fileAttributes"))
                result << call;
        return result;
    }

    int openHandles() const { return static_cast<int>(m_open.size()); }
    bool imageLoaded() const { return m_imageLoaded; }

    static QString name(Handle handle) { return handle == InvalidHandle ? QStringLiteral("none") : QStringLiteral("#%1").arg(handle); }
    static QString hex(unsigned value) { return "0x" + QString::number(value, 16).toUpper(); }

    Family systemFamily() override
    {
        calls << "systemFamily";
        return family;
    }

    bool driverImage(std::vector<std::uint8_t>& bytes) override
    {
        calls << "driverImage";
        if (imageMissing)
            return false;
        bytes = image;
        m_imageLoaded = true;
        return true;
    }

    void releaseDriverImage() override
    {
        calls << "releaseDriverImage";
        if (!m_imageLoaded)
            misuses << calls.last();
        m_imageLoaded = false;
    }

    std::string systemDirectory() override
    {
        calls << "systemDirectory";
        return SystemDir;
    }

    std::uint32_t fileAttributes(const std::string& path) override
    {
        calls << QStringLiteral("fileAttributes(%1)").arg(QString::fromStdString(path));
        return directoryAttributes;
    }

    void setFileAttributes(const std::string& path, std::uint32_t attributes) override
    {
        calls << QStringLiteral("setFileAttributes(%1, %2)").arg(QString::fromStdString(path), hex(attributes));
        directoryAttributes = attributes;
    }

    long long writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) override
    {
        calls << QStringLiteral("writeFile(%1)").arg(QString::fromStdString(path));
        if (fails(Step::WriteFile))
            return -1;
        written = bytes;
        return static_cast<long long>(bytes.size()) - (shortWrite ? 1 : 0);
    }

    Handle openServiceManager() override
    {
        calls << "openServiceManager";
        return fails(Step::OpenServiceManager) ? InvalidHandle : issue();
    }

    Handle openService(Handle manager) override
    {
        calls << QStringLiteral("openService(%1)").arg(name(manager));
        use(manager);
        return fails(Step::OpenService) ? InvalidHandle : issue();
    }

    Handle createService(Handle manager, const std::string& driverPath) override
    {
        calls << QStringLiteral("createService(%1, %2)").arg(name(manager), QString::fromStdString(driverPath));
        use(manager);
        return fails(Step::CreateService) ? InvalidHandle : issue();
    }

    bool startService(Handle service) override
    {
        calls << QStringLiteral("startService(%1)").arg(name(service));
        use(service);
        return !fails(Step::StartService);
    }

    bool deleteService(Handle service) override
    {
        calls << QStringLiteral("deleteService(%1)").arg(name(service));
        use(service);
        return true;
    }

    void closeServiceHandle(Handle handle) override
    {
        calls << QStringLiteral("closeServiceHandle(%1)").arg(name(handle));
        close(handle);
    }

    std::uint32_t lastError() override
    {
        calls << "lastError";
        return errorCode;
    }

    Handle openDevice() override
    {
        calls << "openDevice";
        return fails(Step::OpenDevice) ? InvalidHandle : issue();
    }

    void closeDevice(Handle device) override
    {
        calls << QStringLiteral("closeDevice(%1)").arg(name(device));
        close(device);
    }

    bool requestPortAccess(Handle device, std::uint16_t port) override
    {
        calls << QStringLiteral("requestPortAccess(%1, %2)").arg(name(device), hex(port));
        return m_open.count(device) != 0;
    }

    void showMessage(const std::string& text) override
    {
        calls << "showMessage";
        messages << QString::fromStdString(text);
    }

    std::uint8_t inByte(std::uint16_t port) override
    {
        calls << QStringLiteral("inByte(%1)").arg(hex(port));
        return 0xFF;
    }

    void outByte(std::uint16_t port, std::uint8_t value) override
    {
        calls << QStringLiteral("outByte(%1, %2)").arg(hex(port), hex(value));
    }

    std::uint32_t inDword(std::uint16_t port) override
    {
        calls << QStringLiteral("inDword(%1)").arg(hex(port));
        return 0xFFFFFFFF;
    }

private:
    bool fails(Step step) { return m_failures.count({step, ++m_attempts[step]}) != 0; }

    Handle issue()
    {
        m_open.insert(++m_lastHandle);
        return m_lastHandle;
    }

    void use(Handle handle)
    {
        if (!m_open.count(handle))
            misuses << calls.last();
    }

    void close(Handle handle)
    {
        use(handle);
        m_open.erase(handle);
    }

    std::set<std::pair<Step, int>> m_failures;
    std::map<Step, int> m_attempts;
    std::set<Handle> m_open;
    Handle m_lastHandle = 0;
    bool m_imageLoaded = false;
};
