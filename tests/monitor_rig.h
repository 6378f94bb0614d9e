#pragma once

#include "port_channel.h"
#include "recording_desktop_services.h"
#include "settings_file.h"
#include "simulated_port_platform.h"
#include "tform1.h"
#include "cell_panel.h"
#include "register_text.h"

#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QTemporaryDir>

#include <initializer_list>
#include <memory>

// A main window over simulated ports and a settings file of its own.
struct MonitorRig {
    explicit MonitorRig(std::initializer_list<std::uint16_t> bases = {0x378})
    {
        for (const std::uint16_t base : bases)
            platform.addPort(base);
        channel.OpenPortChannel();
    }

    SimulatedParallelPort& port(std::uint16_t base = 0x378) { return *platform.port(base); }

    void writeSettings(const QByteArray& text)
    {
        QFile file(settings.path());
        file.open(QIODevice::WriteOnly);
        file.write(text);
    }

    QByteArray settingsText() const
    {
        QFile file(settings.path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Creates the window; idle sampling is stopped so that a test decides when
    // a sampling step runs.
    TForm1& start(bool keepSampling = false)
    {
        form = std::make_unique<TForm1>(channel, desktop, settings, kernelBases);
        if (!keepSampling)
            form->IdleHook->stop();
        platform.clearLog();
        return *form;
    }

    SimulatedPortPlatform platform;
    PortChannel channel{platform};
    RecordingDesktopServices desktop;
    std::vector<std::uint16_t> kernelBases; // the kernel's ports beyond the standard bases
    QTemporaryDir dir;
    SettingsFile settings{dir.filePath(QStringLiteral("parport.ini"))};
    std::unique_ptr<TForm1> form;
};
