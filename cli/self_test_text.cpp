#include "self_test_text.h"

#include "json_text.h"

namespace {
using RegisterModel::Line;

std::string lineNames(const std::vector<const Line*>& lines)
{
    std::string names;
    std::string pins;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const char* joint = i == 0 ? "" : i + 1 == lines.size() ? " and " : ", ";
        names += joint + std::string(lines[i]->name);
        pins += joint + std::to_string(lines[i]->pin);
    }
    return names + (lines.size() == 1 ? " (pin " : " (pins ") + pins + ")";
}

std::string plugText(const SelfTestReport& report)
{
    return report.plug ? std::string(report.plug->name) + " plug (" + PlugWiring(*report.plug) + ")" : "no plug";
}

std::string summary(const SelfTestReport& report)
{
    const std::string checks = report.verdicts.empty() ? std::string("no check could run")
                                                       : std::to_string(report.passedCount()) + " of " +
                                                             std::to_string(report.verdicts.size()) +
                                                             (report.verdicts.size() == 1 ? " check" : " checks") + " passed";
    return (report.passed() ? "passed: " : "FAILED: ") + checks + "; " + report.restoration;
}
}

std::string SelfTestAnnouncement(const SelfTestPlan& plan)
{
    std::string text;
    const std::vector<const Line*> driven = LinesDriven(plan);
    if (!driven.empty())
        text += "drives " + lineNames(driven) + " low and high in turn";
    if (plan.inputMode)
        text += std::string(text.empty() ? "" : "; ") +
                "writes 55 and AA to the data register and turns the data drivers off for a moment (control bit 5): "
                "nothing else should drive D0-D7 meanwhile";
    return text + "; the registers are put back afterwards";
}

std::string SelfTestText(const SelfTestReport& report, const std::string& port, const std::string& access)
{
    std::string text = "port " + port + " (" + access + "), " + plugText(report) + "\n";
    for (const Verdict& verdict : report.verdicts) {
        std::string subject = verdict.subject;
        // Padded by characters shown, not bytes: the arrow is three.
        const std::size_t shown = subject.size() - (subject.find("→") != std::string::npos ? 2 : 0);
        subject.append(shown < 16 ? 16 - shown : 1, ' ');
        text += std::string(verdict.passed ? "pass  " : "FAIL  ") + subject + verdict.text + "\n";
    }
    for (const std::string& finding : report.findings)
        text += "finding: " + finding + "\n";
    return text + summary(report) + "\n";
}

std::string SelfTestJson(const SelfTestReport& report, const std::string& port, const std::string& access)
{
    std::string json = "{\"port\":" + JsonString(port) + ",\"access\":" + JsonString(access) +
                       ",\"plug\":" + (report.plug ? JsonString(std::string(report.plug->name)) : "null") + ",\"checks\":[";
    for (std::size_t i = 0; i < report.verdicts.size(); ++i) {
        const Verdict& verdict = report.verdicts[i];
        json += std::string(i ? "," : "") + "{\"check\":" + JsonString(verdict.subject) +
                ",\"passed\":" + (verdict.passed ? "true" : "false") + ",\"verdict\":" + JsonString(verdict.text) + ",\"pins\":[";
        for (std::size_t p = 0; p < verdict.pins.size(); ++p)
            json += (p ? "," : "") + std::to_string(verdict.pins[p]);
        json += "]}";
    }
    json += "],\"findings\":[";
    for (std::size_t i = 0; i < report.findings.size(); ++i)
        json += (i ? "," : "") + JsonString(report.findings[i]);
    return json + "],\"restored\":" + (report.restored ? "true" : "false") + ",\"restoration\":" +
           JsonString(report.restoration) + ",\"passed\":" + (report.passed() ? "true" : "false") + "}\n";
}
