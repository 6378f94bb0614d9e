#pragma once

// Runs of velkaro-cli inside a test process, over simulated ports whose
// transfers the test reads afterwards.
#include "kernel_port_list.h"
#include "simulated_port_platform.h"
#include "velkaro_cli.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdio>
#include <string>
#include <vector>

// Simulated ports whose transfer log outlives the route that owns them.
class KeptLogPlatform : public SimulatedPortPlatform {
public:
    explicit KeptLogPlatform(std::vector<Access>& keep) : m_keep(keep) {}
    ~KeptLogPlatform() override { m_keep = log(); }

private:
    std::vector<Access>& m_keep;
};

// What a run wrote to a temporary file, read back; the file is closed.
inline QString WrittenText(std::FILE* file)
{
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, file))
        bytes.append(buffer, static_cast<qsizetype>(n));
    std::fclose(file);
    return QString::fromUtf8(bytes);
}

// What a watch says on its error stream under the suite's VELKARO_SCHEDULING=normal.
inline const QString NormalSamplingNote = QStringLiteral(
    "velkaro-cli: sampling at normal priority (VELKARO_SCHEDULING=normal asks for normal priority); under load some "
    "stretches go unsampled, each marked; for real-time sampling run it in a desktop session where rtkit runs, or give "
    "the user an RLIMIT_RTPRIO (see REAL-TIME SAMPLING in the manual page)\n");

// A command line given as one string, words split at blanks, after --no-probe
// (the tests' ports are the kernel's, so that every write is the command's).
inline std::vector<std::string> KernelPortsCommandLine(const QString& commandLine)
{
    std::vector<std::string> arguments{"--no-probe"};
    for (const QString& argument : commandLine.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        arguments.push_back(argument.toStdString());
    return arguments;
}

// A run's exit status and what it printed.
struct CliOutcome {
    int status = -1;
    QString output;
    QString errors;
};

inline CliOutcome RunCliCaptured(const std::vector<std::string>& arguments, const RouteOpener& openRoute)
{
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    CliOutcome outcome;
    outcome.status = RunCli(arguments, out, err, openRoute);
    outcome.output = WrittenText(out);
    outcome.errors = WrittenText(err);
    return outcome;
}

// The writes of a transfer log, in their order.
inline QList<SimulatedPortPlatform::Access> WritesIn(const std::vector<SimulatedPortPlatform::Access>& log)
{
    QList<SimulatedPortPlatform::Access> written;
    for (const SimulatedPortPlatform::Access& access : log)
        if (access.kind == SimulatedPortPlatform::Access::Write)
            written << access;
    return written;
}

// A port of the kernel's list, held by holder ("none": by nobody).
inline KernelPort ListedPort(int number, std::uint16_t base, const char* holder = "none")
{
    KernelPort port;
    port.number = number;
    port.base = base;
    port.activeDevice = holder;
    port.devicePath = "/dev/parport" + std::to_string(number);
    return port;
}
