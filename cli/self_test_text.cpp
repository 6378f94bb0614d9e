#include "self_test_text.h"

#include "json_text.h"

std::string SelfTestText(const SelfTestReport& report, const std::string& port, const std::string& access)
{
    std::string text = "port " + port + " (" + access + "), " + PlugText(report) + "\n";
    for (const Verdict& verdict : report.verdicts) {
        std::string subject = verdict.subject;
        // Padded by characters shown, not bytes: the arrow is three.
        const std::size_t shown = subject.size() - (subject.find("→") != std::string::npos ? 2 : 0);
        subject.append(shown < 16 ? 16 - shown : 1, ' ');
        text += std::string(verdict.passed ? "pass  " : "FAIL  ") + subject + verdict.text + "\n";
    }
    for (const std::string& finding : report.findings)
        text += "finding: " + finding + "\n";
    return text + SelfTestSummary(report) + "\n";
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
