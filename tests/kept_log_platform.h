#pragma once

#include "simulated_port_platform.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
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
