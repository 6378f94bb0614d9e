#include "kernel_port_list.h"

#include "port_address.h"
#include "port_probe.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <cstdio>
#include <set>

namespace {

namespace fs = std::filesystem;

constexpr std::string_view Blanks = " \t\r\n";

std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

// The whitespace-separated decimal numbers at the start of the text.
std::vector<long long> leadingNumbers(std::string_view text)
{
    std::vector<long long> numbers;
    for (;;) {
        text = trimmed(text);
        long long value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || (end != text.data() + text.size() && Blanks.find(*end) == std::string_view::npos))
            return numbers;
        numbers.push_back(value);
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    }
}

bool isPortNumber(long long value)
{
    return value > 0 && value <= 0xFFFF;
}

// The start of a small text file; empty when it cannot be read. (The streams
// of the standard library throw on a read error, such as reading a directory.)
std::string readText(const fs::path& path)
{
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "re")) {
        char buffer[256];
        text.assign(buffer, std::fread(buffer, 1, sizeof buffer, file));
        std::fclose(file);
    }
    return text;
}

// N of the entries named parportN in a directory.
std::set<int> portNumbersIn(const fs::path& directory)
{
    std::set<int> numbers;
    std::error_code error;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        constexpr std::string_view prefix = "parport";
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        int number = 0;
        const char* first = name.data() + prefix.size();
        const char* last = name.data() + name.size();
        if (const auto [end, failed] = std::from_chars(first, last, number); failed == std::errc() && end == last && number >= 0)
            numbers.insert(number);
    }
    return numbers;
}

}

std::optional<KernelPort> ParseKernelPort(int number, const KernelPortTexts& texts)
{
    const std::vector<long long> addresses = leadingNumbers(texts.baseAddr);
    if (addresses.empty() || !isPortNumber(addresses[0]))
        return std::nullopt;

    KernelPort port;
    port.number = number;
    port.base = static_cast<std::uint16_t>(addresses[0]);
    if (addresses.size() > 1 && isPortNumber(addresses[1]))
        port.extendedBase = static_cast<std::uint16_t>(addresses[1]);
    if (const std::vector<long long> irq = leadingNumbers(texts.irq); irq.size() == 1 && irq[0] >= 0 && irq[0] < 4096)
        port.irq = static_cast<int>(irq[0]);
    if (const std::vector<long long> dma = leadingNumbers(texts.dma); dma.size() == 1 && dma[0] >= 0 && dma[0] < 256)
        port.dma = static_cast<int>(dma[0]);
    port.modes = std::string(trimmed(texts.modes));
    const std::string_view activeText = texts.active;
    const std::string_view active = trimmed(activeText.substr(0, activeText.find('\n')));
    if (!active.empty())
        port.activeDevice = std::string(active);
    return port;
}

std::vector<KernelPort> ReadKernelPorts(const KernelPortPaths& paths)
{
    const std::set<int> offered = portNumbersIn(paths.sysPpdev);
    std::vector<KernelPort> ports;
    for (const int number : portNumbersIn(paths.procParport)) {
        const fs::path directory = fs::path(paths.procParport) / ("parport" + std::to_string(number));
        const KernelPortTexts texts{readText(directory / "base-addr"), readText(directory / "irq"),
                                    readText(directory / "modes"), readText(directory / "devices" / "active"),
                                    readText(directory / "dma")};
        std::optional<KernelPort> port = ParseKernelPort(number, texts);
        if (!port)
            continue;
        if (offered.contains(number))
            port->devicePath = (fs::path(paths.devDirectory) / ("parport" + std::to_string(number))).string();
        ports.push_back(std::move(*port));
    }
    return ports;
}

std::string ParseLockdownMode(std::string_view text)
{
    const std::size_t open = text.find('[');
    const std::size_t close = text.find(']', open);
    if (open == std::string_view::npos || close == std::string_view::npos)
        return {};
    return std::string(text.substr(open + 1, close - open - 1));
}

std::string ReadLockdownMode(const KernelPortPaths& paths)
{
    return ParseLockdownMode(readText(paths.lockdown));
}

std::vector<std::uint16_t> NonStandardBases(const std::vector<KernelPort>& ports)
{
    std::vector<std::uint16_t> bases;
    for (const KernelPort& port : ports)
        if (std::find(StandardBases.begin(), StandardBases.end(), port.base) == StandardBases.end())
            bases.push_back(port.base);
    return bases;
}

const KernelPort* KernelPortAt(const std::vector<KernelPort>& ports, std::uint16_t base)
{
    const auto port = std::find_if(ports.begin(), ports.end(), [base](const KernelPort& p) { return p.base == base; });
    return port == ports.end() ? nullptr : &*port;
}

std::string KernelFactsText(const KernelPort& port)
{
    const auto numberOrNone = [](int number) { return number < 0 ? std::string("none") : std::to_string(number); };
    return "parport" + std::to_string(port.number) + ", base_hi " + (port.extendedBase ? PortAddressText(port.extendedBase) : "none") + ", IRQ " +
           numberOrNone(port.irq) + ", DMA " + numberOrNone(port.dma) + ", modes " +
           (port.modes.empty() ? std::string("none listed") : port.modes) +
           (port.held() ? "; in use by " + port.activeDevice : "");
}

std::string EcrModeText(std::uint8_t ecr)
{
    static constexpr const char* modes[8] = {"000 SPP", "001 PS/2", "010 FIFO", "011 ECP",
                                             "100 EPP", "101 vendor", "110 test", "111 configuration"};
    return ecr == 0xFF ? std::string("none answers (reads FF)") : modes[ecr >> 5];
}
