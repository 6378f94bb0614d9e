#pragma once

#include "kernel_port_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

// The kernel's files about its parallel ports, in a temporary directory.
class FakeKernelTree {
public:
    FakeKernelTree()
    {
        paths.procParport = m_root.filePath(QStringLiteral("proc")).toStdString();
        paths.sysPpdev = m_root.filePath(QStringLiteral("sys")).toStdString();
        paths.devDirectory = "/dev";
        paths.lockdown = m_root.filePath(QStringLiteral("lockdown")).toStdString();
    }

    // parportN at the base; devicePath /dev/parportN when ppdev offers it.
    void addPort(int number, std::uint16_t base, const char* active = "none", bool offered = true)
    {
        const QString dir = QStringLiteral("proc/parport%1/").arg(number);
        write(dir + "base-addr", QByteArray::number(base) + "\t0\n");
        write(dir + "irq", "7\n");
        write(dir + "dma", "3\n");
        write(dir + "modes", "PCSPP,TRISTATE\n");
        write(dir + "devices/active", QByteArray(active) + '\n');
        if (offered)
            write(QStringLiteral("sys/parport%1/dev").arg(number), "99:0\n");
    }

    void write(const QString& relativePath, const QByteArray& text)
    {
        const QString path = m_root.filePath(relativePath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
    }

    KernelPortPaths paths;

private:
    QTemporaryDir m_root;
};
