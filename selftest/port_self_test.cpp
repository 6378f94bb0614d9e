#include "port_self_test.h"

#include "plug_analysis.h"
#include "port_channel.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>

namespace {
using RegisterModel::Line;
using RegisterModel::Register;

constexpr std::uint8_t DirectionBit = 0x20; // set: the data drivers are off (input mode)
constexpr std::uint8_t InterruptBit = 0x10; // set: ACK's rise raises the port's IRQ
constexpr int InterruptEdges = 8;

std::string hex(std::uint8_t value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

// The port's output lines at chosen levels, the rest of both registers as
// they were, and the registers put back at the end.
class LineDriver {
public:
    // In input mode the data register reads the lines, not what was written:
    // the drivers go on (as the test needs them anyway) to read the latch.
    // Control bits 6 and 7 have no latch (they read as set on most ports).
    LineDriver(PortChannel& channel, std::uint16_t base)
        : m_channel(channel), m_base(base), m_control(channel.ReadPortByte(controlPort()) & 0x3F)
    {
        if (m_control & DirectionBit)
            m_channel.WritePortByte(controlPort(), static_cast<std::uint8_t>(m_control & ~DirectionBit));
        m_data = m_channel.ReadPortByte(m_base);
    }

    // Bit k of levels the level of outputs[k]; the data drivers on. The
    // registers read once they have settled.
    std::uint32_t drive(const std::vector<const Line*>& outputs, std::uint32_t levels)
    {
        std::uint8_t data = m_data;
        auto control = static_cast<std::uint8_t>((m_control & ~DirectionBit) | m_extraControl);
        for (std::size_t k = 0; k < outputs.size(); ++k) {
            const Line& line = *outputs[k];
            const bool bit = (((levels >> k) & 1) != 0) != line.inverted;
            std::uint8_t& value = line.reg == Register::Data ? data : control;
            value = static_cast<std::uint8_t>(bit ? value | line.mask() : value & ~line.mask());
        }
        m_channel.WritePortByte(m_base, data);
        m_channel.WritePortByte(controlPort(), control);
        return settled();
    }

    // Control bits kept set while lines are driven from now on (the interrupt's enable).
    void keepControlBits(std::uint8_t bits) { m_extraControl = bits; }

    // The data register while the drivers are on or off.
    std::uint8_t readData(bool driversOff, std::uint8_t written)
    {
        m_channel.WritePortByte(controlPort(), static_cast<std::uint8_t>(driversOff ? m_control | DirectionBit
                                                                                    : m_control & ~DirectionBit));
        m_channel.WritePortByte(m_base, written);
        return static_cast<std::uint8_t>(settled());
    }

    // Data first, so that drivers turned back on give the old value at once.
    bool restore(std::string& words)
    {
        m_channel.WritePortByte(m_base, m_data);
        m_channel.WritePortByte(controlPort(), m_control);
        const std::uint8_t data = m_channel.ReadPortByte(m_base);
        const std::uint8_t control = m_channel.ReadPortByte(controlPort());
        // Bits 0-4 of control read back on every port; data only while driven.
        const bool dataBack = (m_control & DirectionBit) || data == m_data;
        const bool back = dataBack && (control & 0x1F) == (m_control & 0x1F);
        words = back ? "the registers are as they were (data " + hex(m_data) + ", control " + hex(m_control) + ")"
                     : "the registers could not be put back: data reads " + hex(data) + " (was " + hex(m_data) +
                           "), control " + hex(control) + " (was " + hex(m_control) + ")";
        return back;
    }

private:
    std::uint16_t controlPort() const { return static_cast<std::uint16_t>(m_base + 2); }
    std::uint32_t registers()
    {
        return m_channel.ReadPortByte(m_base) | std::uint32_t{m_channel.ReadPortByte(static_cast<std::uint16_t>(m_base + 1))} << 8;
    }
    // Read until two readings agree: a cable's lines take a moment to follow.
    std::uint32_t settled()
    {
        std::uint32_t last = registers();
        for (int tries = 0; tries < 8; ++tries) {
            const std::uint32_t now = registers();
            if (now == last)
                break;
            last = now;
        }
        return last;
    }

    PortChannel& m_channel;
    std::uint16_t m_base;
    std::uint8_t m_control;
    std::uint8_t m_data = 0;
    std::uint8_t m_extraControl = 0;
};

// "D0 and D1 (pins 2 and 3)".
std::string lineNames(const std::vector<const Line*>& lines)
{
    std::vector<std::string> names;
    std::vector<std::string> pins;
    for (const Line* line : lines) {
        names.emplace_back(line->name);
        pins.push_back(std::to_string(line->pin));
    }
    return ListText(names) + (lines.size() == 1 ? " (pin " : " (pins ") + ListText(pins) + ")";
}

std::vector<const Line*> inModelOrder(std::vector<const Line*> lines)
{
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    return lines;
}

std::vector<PlugAnalysis::Step> walk(LineDriver& driver, const std::vector<const Line*>& outputs)
{
    std::vector<PlugAnalysis::Step> steps;
    for (const std::uint32_t levels : PlugAnalysis::Patterns(static_cast<int>(outputs.size())))
        steps.push_back({levels, driver.drive(outputs, levels)});
    return steps;
}

void testPlug(LineDriver& driver, const SelfTestPlan& plan, SelfTestReport& report)
{
    const std::vector<const Line*> outputs = LinesDriven(plan);
    const std::vector<PlugAnalysis::Step> steps = walk(driver, outputs);
    report.plug = plan.plug;
    if (!report.plug) { // the known plug most of whose connections follow; the first where none does
        int best = -1;
        for (const Plug* plug : KnownPlugs())
            if (const int good = PlugAnalysis::GoodConnections(*plug, outputs, steps); good > best) {
                best = good;
                report.plug = plug;
            }
    }
    if (PlugAnalysis::NothingFollows(*report.plug, steps)) {
        report.findings.push_back("no plug: no input follows any output (or every connection is open or stuck)");
        if (plan.plugChoice == SelfTestPlan::PlugChoice::Find) {
            report.plug = nullptr;
            return;
        }
    }
    for (const Plug::Connection& connection : report.plug->connections)
        report.verdicts.push_back(PlugAnalysis::Judge(connection, outputs, steps));
    if (PlugAnalysis::Reversed(*report.plug, outputs, steps))
        report.findings.push_back("all connections swapped end for end: a reversed ribbon cable?");
}

// Control bit 5 turns the data drivers off: the data register then reads the
// lines (open ones float high), no longer what was written.
Verdict checkInputMode(LineDriver& driver)
{
    Verdict verdict{"input mode", false, {}, {2, 3, 4, 5, 6, 7, 8, 9}};
    const std::uint8_t driven[2] = {driver.readData(false, 0x55), driver.readData(false, 0xAA)};
    if (driven[0] != 0x55 || driven[1] != 0xAA) {
        verdict.subject = "data read-back";
        verdict.text = "the data register reads " + hex(driven[0]) + " and " + hex(driven[1]) +
                       " after 55 and AA were written: no port here, or data lines held by something";
        return verdict;
    }
    const std::uint8_t floating[2] = {driver.readData(true, 0x55), driver.readData(true, 0xAA)};
    verdict.passed = floating[0] != 0x55 || floating[1] != 0xAA;
    verdict.text = verdict.passed
                       ? "bit 5 turns the data drivers off: the data lines read " + hex(floating[1]) +
                             (floating[1] == 0xFF ? " (open lines float high)" : " (driven from outside)")
                       : "the data lines still read what was written with bit 5 set: an SPP-only port, or an ECP "
                         "chip in its mode 000 (choose PS/2 or ECP for the port in the firmware's setup)";
    return verdict;
}

// ACK driven up and down through the plug with the interrupt enabled: each
// rise is one interrupt, which the kernel counts (through ppdev). Each rise
// waits for its count (up to 50 ms) before the next: a rise while one is still
// pending would merge with it.
Verdict checkInterrupt(PortChannel& channel, LineDriver& driver, const SelfTestPlan& plan, const Plug* plug)
{
    Verdict verdict{"interrupt", false, {}, {10}};
    const Plug::Connection* toAck = nullptr;
    if (plug)
        for (const Plug::Connection& connection : plug->connections)
            if (connection.input == RegisterModel::lineNamed("ACK"))
                toAck = &connection;
    const std::string irq = "IRQ " + std::to_string(plan.irq);
    if (!toAck) {
        verdict.text = "needs a plug that drives ACK (five-wire: D3, control: Init)";
        return verdict;
    }
    if (plan.irq < 0) {
        verdict.text = "the kernel knows no IRQ for this port (a legacy port's is only probed with parport_pc irq=auto)";
        return verdict;
    }
    if (!channel.TakeInterrupts(plan.base)) { // taken: what the plug's walk raised is not counted
        verdict.text = irq + " is counted only through the kernel's ppdev driver, not on this route";
        return verdict;
    }
    verdict.pins.insert(verdict.pins.begin(), toAck->output->pin);
    driver.keepControlBits(InterruptBit);
    const std::vector<const Line*> ackSource{toAck->output};
    driver.drive(ackSource, 0);
    int counted = 0;
    for (int edge = 0; edge < InterruptEdges; ++edge) {
        driver.drive(ackSource, 1);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            counted += channel.TakeInterrupts(plan.base).value_or(0);
        } while (counted <= edge && std::chrono::steady_clock::now() < until);
        driver.drive(ackSource, 0);
    }
    counted += channel.TakeInterrupts(plan.base).value_or(0);
    const std::string made = std::to_string(InterruptEdges) + " rises of ACK made, ";
    verdict.passed = counted == InterruptEdges;
    verdict.text = made + (counted == 0 ? "no interrupt counted: " + irq + " does not reach the kernel (the firmware's setting, "
                                                                          "or the interrupt is taken by another device?)"
                           : counted > InterruptEdges ? std::to_string(counted) + " interrupts counted: more than the rises, "
                                                                                   "a noisy ACK or an interrupt storm"
                           : counted < InterruptEdges ? std::to_string(counted) + " interrupts counted: some rises were missed"
                                                      : std::to_string(counted) + " interrupts counted on " + irq);
    return verdict;
}
}

bool SelfTestReport::passed() const
{
    return restored && findings.empty() && passedCount() == static_cast<int>(verdicts.size());
}

int SelfTestReport::passedCount() const
{
    return static_cast<int>(std::count_if(verdicts.begin(), verdicts.end(), [](const Verdict& verdict) { return verdict.passed; }));
}

std::vector<const Line*> LinesDriven(const SelfTestPlan& plan)
{
    std::vector<const Line*> lines;
    if (plan.plugChoice == SelfTestPlan::PlugChoice::Given)
        lines = plan.plug->outputs();
    else if (plan.plugChoice == SelfTestPlan::PlugChoice::Find)
        for (const Plug* plug : KnownPlugs())
            for (const Line* line : plug->outputs())
                lines.push_back(line);
    return inModelOrder(lines);
}

SelfTestReport RunSelfTest(PortChannel& channel, const SelfTestPlan& plan)
{
    SelfTestReport report;
    LineDriver driver(channel, plan.base);
    if (plan.plugChoice != SelfTestPlan::PlugChoice::None)
        testPlug(driver, plan, report);
    if (plan.interrupt)
        report.verdicts.push_back(checkInterrupt(channel, driver, plan, report.plug));
    if (plan.inputMode)
        report.verdicts.push_back(checkInputMode(driver));
    report.restored = driver.restore(report.restoration);
    return report;
}

std::string PlugText(const SelfTestReport& report)
{
    return report.plug ? std::string(report.plug->name) + " plug (" + PlugWiring(*report.plug) + ")" : "no plug";
}

std::string SelfTestSummary(const SelfTestReport& report)
{
    const std::string checks = report.verdicts.empty() ? std::string("no check could run")
                                                       : std::to_string(report.passedCount()) + " of " +
                                                             std::to_string(report.verdicts.size()) +
                                                             (report.verdicts.size() == 1 ? " check" : " checks") + " passed";
    return (report.passed() ? "passed: " : "FAILED: ") + checks + "; " + report.restoration;
}

std::string SelfTestAnnouncement(const SelfTestPlan& plan)
{
    std::string text;
    const std::vector<const Line*> driven = LinesDriven(plan);
    if (!driven.empty())
        text += "drives " + lineNames(driven) + " low and high in turn";
    if (plan.interrupt)
        text += std::string(text.empty() ? "" : "; ") + "enables the port's interrupt (control bit 4) and makes " +
                std::to_string(InterruptEdges) + " rises of ACK through the plug";
    if (plan.inputMode)
        text += std::string(text.empty() ? "" : "; ") +
                "writes 55 and AA to the data register and turns the data drivers off for a moment (control bit 5): "
                "nothing else should drive D0-D7 meanwhile";
    return text + "; the registers are put back afterwards";
}

