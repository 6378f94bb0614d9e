#include "win32_port_platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winioctl.h>
#include <winsvc.h>

#if defined(_MSC_VER)
#include <intrin.h>
#endif

#include <atomic>

namespace {
const char* const ServiceName = "xud.sys";
const char* const ServiceDisplayName = "XUD.DLL Driver";
const char* const DevicePath = "\\\\.\\XUD";
const char* const MessageCaption = "XUD.DLL";
constexpr DWORD GrantPortControlCode = CTL_CODE(0x9C40, 0x90B, METHOD_BUFFERED, FILE_ANY_ACCESS);

static_assert(GrantPortControlCode == 0x9C40242C);
static_assert(sizeof(OSVERSIONINFOA) == 148);
static_assert(SC_MANAGER_ALL_ACCESS == 0xF003F && SERVICE_ALL_ACCESS == 0xF01FF);
static_assert(SERVICE_KERNEL_DRIVER == 1 && SERVICE_AUTO_START == 2 && SERVICE_ERROR_IGNORE == 0);
static_assert((MB_OK | MB_ICONINFORMATION) == 0x40);

PortPlatform::Handle fromServiceHandle(SC_HANDLE handle)
{
    return handle ? reinterpret_cast<PortPlatform::Handle>(handle) : PortPlatform::InvalidHandle;
}

SC_HANDLE toServiceHandle(PortPlatform::Handle handle)
{
    return handle == PortPlatform::InvalidHandle ? nullptr : reinterpret_cast<SC_HANDLE>(handle);
}

PortPlatform::Handle fromFileHandle(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE ? PortPlatform::InvalidHandle : reinterpret_cast<PortPlatform::Handle>(handle);
}

HANDLE toFileHandle(PortPlatform::Handle handle)
{
    return handle == PortPlatform::InvalidHandle ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(handle);
}

// Set while this thread executes one of our port instructions, so that the
// fault handler leaves every other privileged instruction alone.
thread_local bool t_inPortInstruction = false;

void enterPortInstruction()
{
    t_inPortInstruction = true;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

void leavePortInstruction()
{
    std::atomic_signal_fence(std::memory_order_seq_cst);
    t_inPortInstruction = false;
}

// A port the driver did not grant makes IN/OUT fault as privileged. Steps over
// the instruction, an input giving all ones. Opcodes E4..E7 carry the port as
// an 8-bit immediate, EC..EF take it from DX; bit 1 clear means input, bit 0
// set a 32-bit operand.
LONG CALLBACK skipRefusedPortInstruction(EXCEPTION_POINTERS* fault)
{
    if (!t_inPortInstruction || fault->ExceptionRecord->ExceptionCode != EXCEPTION_PRIV_INSTRUCTION)
        return EXCEPTION_CONTINUE_SEARCH;
    const std::uint8_t opcode = *static_cast<const std::uint8_t*>(fault->ExceptionRecord->ExceptionAddress);
    const unsigned length = (opcode & 0x08) ? 1 : 2;
    const bool input = (opcode & 0x02) == 0;
    const bool dword = (opcode & 0x01) != 0;
    CONTEXT& context = *fault->ContextRecord;
#if defined(_WIN64)
    if (input)
        context.Rax = dword ? 0xFFFFFFFFu : (context.Rax | 0xFF);
    context.Rip += length;
#else
    if (input)
        context.Eax = dword ? 0xFFFFFFFFu : (context.Eax | 0xFF);
    context.Eip += length;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

#if defined(_MSC_VER)
std::uint8_t portIn8(std::uint16_t port) { return __inbyte(port); }
void portOut8(std::uint16_t port, std::uint8_t value) { __outbyte(port, value); }
std::uint32_t portIn32(std::uint16_t port) { return __indword(port); }
#elif defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
std::uint8_t portIn8(std::uint16_t port)
{
    std::uint8_t value;
    asm volatile("inb %w1, %b0" : "=a"(value) : "Nd"(port) : "memory");
    return value;
}

void portOut8(std::uint16_t port, std::uint8_t value)
{
    asm volatile("outb %b0, %w1" : : "a"(value), "Nd"(port) : "memory");
}

std::uint32_t portIn32(std::uint16_t port)
{
    std::uint32_t value;
    asm volatile("inl %w1, %0" : "=a"(value) : "Nd"(port) : "memory");
    return value;
}
#else
#error "Port instructions need an x86 processor"
#endif
}

Win32PortPlatform::Win32PortPlatform()
    : m_faultHandler(AddVectoredExceptionHandler(1, skipRefusedPortInstruction))
{
}

Win32PortPlatform::~Win32PortPlatform()
{
    RemoveVectoredExceptionHandler(m_faultHandler);
}

PortPlatform::Family Win32PortPlatform::systemFamily()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT ? Family::Driver : Family::Unrestricted;
}

bool Win32PortPlatform::driverImage(std::vector<std::uint8_t>& image)
{
    const HMODULE self = GetModuleHandleA(nullptr);
    const HRSRC resource = FindResourceA(self, "XUDSYS", "BINARY");
    if (!resource)
        return false;
    const DWORD size = SizeofResource(self, resource);
    const HGLOBAL loaded = LoadResource(self, resource);
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
    if (!bytes)
        return false;
    image.assign(bytes, bytes + size);
    m_imageResource = loaded;
    return true;
}

void Win32PortPlatform::releaseDriverImage()
{
    FreeResource(static_cast<HGLOBAL>(m_imageResource));
    m_imageResource = nullptr;
}

std::string Win32PortPlatform::systemDirectory()
{
    char directory[240];
    const UINT length = GetSystemDirectoryA(directory, sizeof directory);
    return length < sizeof directory ? std::string(directory, length) : std::string();
}

std::uint32_t Win32PortPlatform::fileAttributes(const std::string& path)
{
    return GetFileAttributesA(path.c_str());
}

void Win32PortPlatform::setFileAttributes(const std::string& path, std::uint32_t attributes)
{
    SetFileAttributesA(path.c_str(), attributes);
}

long long Win32PortPlatform::writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok ? static_cast<long long>(written) : -1;
}

PortPlatform::Handle Win32PortPlatform::openServiceManager()
{
    return fromServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

PortPlatform::Handle Win32PortPlatform::openService(Handle manager)
{
    return fromServiceHandle(OpenServiceA(toServiceHandle(manager), ServiceName, SERVICE_ALL_ACCESS));
}

PortPlatform::Handle Win32PortPlatform::createService(Handle manager, const std::string& driverPath)
{
    return fromServiceHandle(CreateServiceA(toServiceHandle(manager), ServiceName, ServiceDisplayName, SERVICE_ALL_ACCESS,
                                            SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE,
                                            driverPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
}

bool Win32PortPlatform::startService(Handle service)
{
    return StartServiceA(toServiceHandle(service), 0, nullptr) != 0;
}

bool Win32PortPlatform::deleteService(Handle service)
{
    return DeleteService(toServiceHandle(service)) != 0;
}

void Win32PortPlatform::closeServiceHandle(Handle handle)
{
    CloseServiceHandle(toServiceHandle(handle));
}

std::uint32_t Win32PortPlatform::lastError()
{
    return GetLastError();
}

PortPlatform::Handle Win32PortPlatform::openDevice()
{
    return fromFileHandle(CreateFileA(DevicePath, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
}

void Win32PortPlatform::closeDevice(Handle device)
{
    CloseHandle(toFileHandle(device));
}

bool Win32PortPlatform::requestPortAccess(Handle device, std::uint16_t port)
{
    std::uint8_t request[2] = {static_cast<std::uint8_t>(port), static_cast<std::uint8_t>(port >> 8)};
    DWORD returned = 0;
    return DeviceIoControl(toFileHandle(device), GrantPortControlCode, request, sizeof request, nullptr, 0, &returned, nullptr) != 0;
}

void Win32PortPlatform::showMessage(const std::string& text)
{
    MessageBoxA(nullptr, text.c_str(), MessageCaption, MB_OK | MB_ICONINFORMATION);
}

std::uint8_t Win32PortPlatform::inByte(std::uint16_t port)
{
    enterPortInstruction();
    const std::uint8_t value = portIn8(port);
    leavePortInstruction();
    return value;
}

void Win32PortPlatform::outByte(std::uint16_t port, std::uint8_t value)
{
    enterPortInstruction();
    portOut8(port, value);
    leavePortInstruction();
}

std::uint32_t Win32PortPlatform::inDword(std::uint16_t port)
{
    enterPortInstruction();
    const std::uint32_t value = portIn32(port);
    leavePortInstruction();
    return value;
}
