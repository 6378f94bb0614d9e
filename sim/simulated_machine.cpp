#include "simulated_machine.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// What the shared object holds. The maker fills it and sets the magic number
// last, so an attacher that sees the magic sees the rest.
struct SimulatedMachine::Image {
    static constexpr std::uint32_t Magic = 0x4D534B56; // "VKSM"
    static constexpr std::uint32_t Version = 1;

    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t size;
    std::uint32_t portCount;
    std::int64_t clockOrigin; // the monotonic clock when the machine was made, in ns
    std::uint16_t bases[4];
    SimulatedLatches latches[4];
};

namespace {

std::int64_t monotonicNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The file that shm_open's name stands for, for messages.
std::string shownPath(const std::string& name)
{
    return "/dev/shm" + name;
}

std::string modeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// A name shm_open takes: one leading slash, no other, short enough.
bool usableName(const std::string& name)
{
    return name.size() > 1 && name.size() < 250 && name[0] == '/' && name.find('/', 1) == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}

std::size_t SimulatedMachine::imageSize()
{
    return sizeof(SimulatedMachine::Image);
}

std::optional<std::string> SimulatedMachine::fault(const void* image, std::size_t size, std::int64_t now)
{
    if (size != sizeof(SimulatedMachine::Image))
        return "it holds " + std::to_string(size) + " bytes, not " + std::to_string(sizeof(SimulatedMachine::Image));
    SimulatedMachine::Image header;
    std::memcpy(static_cast<void*>(&header), image, offsetof(SimulatedMachine::Image, latches));
    if (header.magic != SimulatedMachine::Image::Magic)
        return std::string("it is no simulated machine of velkaro's");
    if (header.version != SimulatedMachine::Image::Version)
        return "it is of another version (" + std::to_string(header.version) + ")";
    bool basesFit = header.portCount == Bases.size() && header.size == size;
    for (std::size_t i = 0; i < Bases.size() && basesFit; ++i)
        basesFit = header.bases[i] == Bases[i];
    if (!basesFit)
        return std::string("its header is damaged");
    if (header.clockOrigin < 0 || header.clockOrigin > now)
        return std::string("its clock is damaged");
    return std::nullopt;
}

std::unique_ptr<SimulatedMachine> SimulatedMachine::makePrivate()
{
    std::unique_ptr<SimulatedMachine> machine(new SimulatedMachine);
    machine->m_privateImage = std::make_unique<Image>();
    machine->m_image = machine->m_privateImage.get();
    machine->m_clockOrigin = monotonicNow();
    return machine;
}

std::string SimulatedMachine::defaultName()
{
    if (const char* named = std::getenv("VELKARO_SIM_MACHINE"); named && *named) {
        if (std::string_view(named) == "private")
            return {};
        return named[0] == '/' ? std::string(named) : "/" + std::string(named);
    }
    return "/velkaro-sim-" + std::to_string(getuid());
}

std::unique_ptr<SimulatedMachine> SimulatedMachine::attach(const std::string& name, std::chrono::milliseconds waitForMaker,
                                                           std::string& notice)
{
    const auto privately = [&](const std::string& why) {
        notice = "the simulated machine " + shownPath(name) + " cannot be shared: " + why +
                 "; these simulated ports are private to this process";
        return makePrivate();
    };
    if (!usableName(name))
        return privately("that is no name for a shared-memory object");

    constexpr std::size_t Size = sizeof(Image);
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    const bool maker = fd >= 0;
    if (!maker && errno == EEXIST)
        fd = shm_open(name.c_str(), O_RDWR, 0);
    if (fd < 0)
        return privately(std::strerror(errno));

    void* mapping = MAP_FAILED;
    if (maker) {
        // The umask may have taken bits away; it never adds any.
        if (fchmod(fd, 0600) != 0 || ftruncate(fd, static_cast<off_t>(Size)) != 0 ||
            (mapping = mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) == MAP_FAILED) {
            const std::string why = std::strerror(errno);
            close(fd);
            shm_unlink(name.c_str());
            return privately(why);
        }
        close(fd);
        auto* image = static_cast<Image*>(mapping);
        image->version = Image::Version;
        image->size = static_cast<std::uint32_t>(Size);
        image->portCount = static_cast<std::uint32_t>(Bases.size());
        image->clockOrigin = monotonicNow();
        for (std::size_t i = 0; i < Bases.size(); ++i)
            image->bases[i] = Bases[i];
        for (SimulatedLatches& latches : image->latches)
            new (&latches) SimulatedLatches;
        std::atomic_ref<std::uint32_t>(image->magic).store(Image::Magic, std::memory_order_release);
    } else {
        // Another process may be making it: its size and magic number come last.
        const auto deadline = std::chrono::steady_clock::now() + waitForMaker;
        while (true) {
            struct stat status {};
            std::string refusal;
            if (fstat(fd, &status) != 0)
                refusal = std::strerror(errno);
            else if (status.st_uid != getuid())
                refusal = "it belongs to user " + std::to_string(status.st_uid);
            else if ((status.st_mode & 077) != 0)
                refusal = "other users may open it (mode " + modeText(status.st_mode) + ")";
            if (!refusal.empty()) {
                close(fd);
                return privately(refusal);
            }
            const bool late = std::chrono::steady_clock::now() >= deadline;
            if (status.st_size == static_cast<off_t>(Size)) {
                mapping = mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
                if (mapping == MAP_FAILED) {
                    const std::string why = std::strerror(errno);
                    close(fd);
                    return privately(why);
                }
                // Without the magic number when the wait is over: the check below names the fault.
                if (late || std::atomic_ref<std::uint32_t>(static_cast<Image*>(mapping)->magic).load(std::memory_order_acquire) != 0)
                    break;
                munmap(mapping, Size);
                mapping = MAP_FAILED;
            } else if (status.st_size != 0 || late) {
                close(fd);
                return privately(*fault(nullptr, static_cast<std::size_t>(status.st_size), 0));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        close(fd);
        if (const std::optional<std::string> wrong = fault(mapping, Size, monotonicNow())) {
            munmap(mapping, Size);
            return privately(*wrong);
        }
    }

    std::unique_ptr<SimulatedMachine> machine(new SimulatedMachine);
    machine->m_mapping = mapping;
    machine->m_image = std::launder(static_cast<Image*>(mapping));
    machine->m_clockOrigin = machine->m_image->clockOrigin;
    return machine;
}

SimulatedMachine::~SimulatedMachine()
{
    if (m_mapping)
        munmap(m_mapping, sizeof(Image));
}

SimulatedLatches& SimulatedMachine::latches(std::size_t index)
{
    return m_image->latches[index];
}

std::uint64_t SimulatedMachine::clockNanoseconds() const
{
    const std::int64_t now = monotonicNow();
    return now > m_clockOrigin ? static_cast<std::uint64_t>(now - m_clockOrigin) : 0;
}
