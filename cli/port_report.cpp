#include "port_report.h"

#include "json_text.h"
#include "port_address.h"
#include "register_model.h"
#include "register_text.h"

namespace {

using RegisterModel::Line;

std::string text(const QString& qtext)
{
    return qtext.toStdString();
}

std::string kernelName(const KernelPort* port)
{
    return port ? "parport" + std::to_string(port->number) : std::string();
}

std::string jsonNumberOrNull(int number)
{
    return number < 0 ? "null" : std::to_string(number);
}

// The kernel's findings as JSON members, after a comma.
std::string kernelJson(const KernelPort& port)
{
    return ",\"base_hi\":" + (port.extendedBase ? JsonString(PortAddressText(port.extendedBase)) : "null") +
           ",\"irq\":" + jsonNumberOrNull(port.irq) + ",\"dma\":" + jsonNumberOrNull(port.dma) +
           ",\"modes\":" + JsonString(port.modes);
}

std::string numberOrDash(int number)
{
    return number < 0 ? "-" : std::to_string(number);
}

}

void WritePortList(std::FILE* out, const std::vector<ListedPort>& ports, bool json)
{
    if (json) {
        std::string object = "{\"ports\":[";
        for (std::size_t i = 0; i < ports.size(); ++i) {
            const ListedPort& port = ports[i];
            object += std::string(i ? "," : "") + "{\"port\":" + JsonString(PortAddressText(port.base)) +
                      ",\"base\":" + std::to_string(port.base);
            if (!port.access.empty())
                object += ",\"access\":" + JsonString(port.access) +
                          ",\"four_byte_reads\":" + (port.fourByteReads ? "true" : "false");
            if (port.kernel)
                object += ",\"kernel\":" + JsonString(kernelName(port.kernel)) + ",\"device\":" +
                          (port.kernel->devicePath.empty() ? "null" : JsonString(port.kernel->devicePath)) +
                          ",\"held_by\":" + (port.kernel->held() ? JsonString(port.kernel->activeDevice) : "null") +
                          kernelJson(*port.kernel);
            object += "}";
        }
        std::fprintf(out, "%s]}\n", object.c_str());
        return;
    }
    std::fprintf(out, "%-6s %-24s %-16s %-9s %-8s %-4s %-4s %s\n", "PORT", "ACCESS", "FOUR-BYTE READS", "KERNEL", "BASE_HI",
                 "IRQ", "DMA", "MODES");
    for (const ListedPort& port : ports) {
        const KernelPort* kernel = port.kernel;
        const bool held = kernel && kernel->held();
        std::fprintf(out, "%-6s %-24s %-16s %-9s %-8s %-4s %-4s %s\n", PortAddressText(port.base).c_str(),
                     held ? ("in use by " + kernel->activeDevice).c_str() : port.access.c_str(),
                     held ? "-" : port.fourByteReads ? "yes" : "no (byte reads)", kernel ? kernelName(kernel).c_str() : "-",
                     kernel && kernel->extendedBase ? PortAddressText(kernel->extendedBase).c_str() : "-",
                     numberOrDash(kernel ? kernel->irq : -1).c_str(), numberOrDash(kernel ? kernel->dma : -1).c_str(),
                     kernel && !kernel->modes.empty() ? kernel->modes.c_str() : "-");
    }
}

void WriteRegisterReport(std::FILE* out, std::uint16_t base, const std::string& access, std::uint32_t registers, bool json,
                         const PortFacts* facts)
{
    const KernelPort* kernel = facts ? facts->kernel : nullptr;
    const std::uint8_t* ecr = facts && facts->ecr ? &*facts->ecr : nullptr;
    if (json) {
        std::string object = "{\"port\":" + JsonString(PortAddressText(base)) + ",\"base\":" + std::to_string(base) +
                             ",\"access\":" + JsonString(access);
        if (kernel)
            object += ",\"kernel\":{\"name\":" + JsonString(kernelName(kernel)) + ",\"held_by\":" +
                      (kernel->held() ? JsonString(kernel->activeDevice) : "null") + kernelJson(*kernel) + "}";
        if (ecr)
            object += ",\"ecr\":{\"value\":" + std::to_string(*ecr) + ",\"mode\":" + JsonString(EcrModeText(*ecr)) + "}";
        object += ",\"registers\":{";
        for (int reg = 0; reg < 3; ++reg) {
            const std::uint8_t value = RegisterModel::registerByte(registers, reg);
            object += std::string(reg ? "," : "") + JsonString(RegisterModel::RegisterNames[reg]) +
                      ":{\"address\":" + JsonString(text(AddressText(static_cast<std::uint16_t>(base + reg)))) +
                      ",\"value\":" + text(DecText(value)) + ",\"hex\":" + JsonString(text(HexText(value))) +
                      ",\"binary\":" + JsonString(text(BinText(value))) + "}";
        }
        object += "},\"lines\":{";
        for (const Line& line : RegisterModel::Lines)
            object += std::string(&line == &RegisterModel::Lines.front() ? "" : ",") + JsonString(line.name) +
                      ":{\"pin\":" + std::to_string(line.pin) + ",\"direction\":" +
                      (line.output ? "\"output\"" : "\"input\"") + ",\"register\":" +
                      JsonString(RegisterModel::RegisterNames[line.reg]) + ",\"bit\":" + std::to_string(line.bit) +
                      ",\"inverted\":" + (line.inverted ? "true" : "false") +
                      ",\"level\":" + (RegisterModel::lineLevel(line, registers) ? "1" : "0") + "}";
        std::fprintf(out, "%s}}\n", object.c_str());
        return;
    }
    std::fprintf(out, "port %s, %s\n", PortAddressText(base).c_str(), access.c_str());
    if (kernel)
        std::fprintf(out, "kernel: %s\n", KernelFactsText(*kernel).c_str());
    if (ecr)
        std::fprintf(out, "ECR: %02X, mode %s\n", *ecr, EcrModeText(*ecr).c_str());
    std::fprintf(out, "\n%-9s %-8s %4s %4s  %s\n", "register", "address", "dec", "hex", "binary");
    for (int reg = 0; reg < 3; ++reg) {
        const std::uint8_t value = RegisterModel::registerByte(registers, reg);
        std::fprintf(out, "%-9s %-8s %4s %4s  %s\n", RegisterModel::RegisterNames[reg].data(),
                     text(AddressText(static_cast<std::uint16_t>(base + reg))).c_str(), text(DecText(value)).c_str(),
                     text(HexText(value)).c_str(), text(BinText(value)).c_str());
    }
    std::fprintf(out, "\n%-9s %3s  %-4s %-10s %s\n", "line", "pin", "dir", "bit", "level");
    for (const Line& line : RegisterModel::Lines) {
        const std::string bit = std::string(RegisterModel::RegisterNames[line.reg]) + "." + std::to_string(line.bit);
        std::fprintf(out, "%-9s %3d  %-4s %-10s %d%s\n", line.name, line.pin, line.output ? "out" : "in", bit.c_str(),
                     RegisterModel::lineLevel(line, registers) ? 1 : 0, line.inverted ? "  (the port inverts this line)" : "");
    }
}
