#pragma once

#include <QFile>
#include <QMap>
#include <QString>

// The lines of /proc/self/status by name: "CapEff" -> "0000000000000000".
using ProcessStatus = QMap<QString, QString>;

inline ProcessStatus processStatus()
{
    ProcessStatus status;
    QFile file(QStringLiteral("/proc/self/status"));
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (const int colon = line.indexOf(':'); colon > 0)
                status.insert(QString::fromLatin1(line.left(colon)), QString::fromLatin1(line.mid(colon + 1).trimmed()));
    return status;
}

// A capability set of the status ("CapEff") as its bits.
inline quint64 capabilities(const ProcessStatus& status, const char* set)
{
    return status.value(QLatin1String(set)).toULongLong(nullptr, 16);
}
