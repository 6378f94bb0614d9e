#pragma once

// What the QEMU guest's checks share: TAP reporting, checks run in a child
// process, register round trips.

#include "port_channel.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

inline std::string hex(unsigned value, int digits = 2)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// Numbers and prints the checks as TAP; a run cut short has no plan line. In a
// child process it hands each check to the parent instead, which numbers it.
class Report {
public:
    Report() = default;
    explicit Report(std::FILE* toParent) : m_toParent(toParent) {}

    void check(bool passed, const std::string& name, std::string detail = {})
    {
        std::replace(detail.begin(), detail.end(), '\n', ' '); // one line per check
        if (m_toParent) {
            std::fprintf(m_toParent, "%d\t%s\t%s\n", passed ? 1 : 0, name.c_str(), detail.c_str());
            std::fflush(m_toParent);
            return;
        }
        ++m_count;
        if (!passed)
            ++m_failed;
        std::printf("%s %d - %s%s\n", passed ? "ok" : "not ok", m_count, name.c_str(),
                    detail.empty() ? "" : (" (" + detail + ")").c_str());
        std::fflush(stdout);
    }

    int finish()
    {
        std::printf("1..%d\n", m_count);
        return m_failed == 0 ? 0 : 1;
    }

private:
    std::FILE* m_toParent = nullptr;
    int m_count = 0;
    int m_failed = 0;
};

inline std::string describeStatus(int status)
{
    if (status == -1)
        return "fork failed";
    if (WIFSIGNALED(status))
        return std::string("killed by signal ") + std::to_string(WTERMSIG(status));
    return "exit status " + std::to_string(WEXITSTATUS(status));
}

// Runs the checks in a child process that first becomes what `become` makes
// it, and reports them here, in this report's numbering.
inline void checkInChild(Report& report, const std::string& who, const std::function<bool()>& become,
                         const std::function<void(Report&)>& checks)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        report.check(false, who + ": checks run", std::strerror(errno));
        return;
    }
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeEnds[0]);
        std::FILE* toParent = fdopen(pipeEnds[1], "w");
        Report child(toParent);
        const bool became = become();
        child.check(became, "the process becomes it", became ? "" : std::strerror(errno));
        checks(child);
        std::fclose(toParent);
        _exit(0);
    }
    close(pipeEnds[1]);
    std::FILE* fromChild = fdopen(pipeEnds[0], "r");
    char line[1024];
    while (std::fgets(line, sizeof line, fromChild)) {
        std::string text(line);
        text.erase(text.find_last_not_of('\n') + 1);
        const std::size_t name = text.find('\t');
        const std::size_t detail = text.find('\t', name + 1);
        if (name == std::string::npos || detail == std::string::npos)
            continue;
        report.check(text[0] == '1', who + ": " + text.substr(name + 1, detail - name - 1), text.substr(detail + 1));
    }
    std::fclose(fromChild);
    int status = 0;
    const bool ended = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    report.check(ended, who + ": the checks ran to their end", describeStatus(pid > 0 ? status : -1));
}

// Makes the process a user in group lp (7) and nothing more, as the guests'
// unprivileged checks need it: leaving user id 0 empties every capability set.
inline bool becomeUserInGroupLp()
{
    constexpr uid_t Nobody = 65534;
    const gid_t groups[] = {7};
    return setgroups(1, groups) == 0 && setresgid(Nobody, Nobody, Nobody) == 0 &&
           setresuid(Nobody, Nobody, Nobody) == 0;
}

// Writes every value below count to the port and reads it back through the
// mask; empty when all came back, else how many did not and the first of them.
inline std::string roundTripErrors(PortChannel& channel, std::uint16_t port, unsigned count, std::uint8_t mask)
{
    int wrong = 0;
    std::string firstWrong;
    for (unsigned value = 0; value < count; ++value) {
        channel.WritePortByte(port, static_cast<std::uint8_t>(value));
        const std::uint8_t read = channel.ReadPortByte(port);
        if ((read & mask) != value && wrong++ == 0)
            firstWrong = "wrote " + hex(value) + ", read " + hex(read);
    }
    return wrong == 0 ? std::string() : std::to_string(wrong) + " wrong, first: " + firstWrong;
}
