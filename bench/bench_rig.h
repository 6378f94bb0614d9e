#pragma once

#include "counted_port_platform.h"
#include "port_channel.h"
#include "recording_desktop_services.h"
#include "settings_file.h"
#include "tform1.h"

#include <QTemporaryDir>

#include <memory>

// Runs the event loop for about the given time; returns the seconds that really passed.
double runEventLoop(double seconds);

// A shown main window over one simulated port with unchanging registers and a
// settings file of its own, sampling at the fastest rate as after a first start.
struct BenchRig {
    static constexpr std::uint16_t Base = 0x378;

    BenchRig();

    // From now on the data register changes on every read. Attached only after
    // start-up, whose check of four-byte reads a changing register would fail.
    void attachCountingDevice();
    // Lets the window handle and paint what is pending.
    void settle();

    CountedPortPlatform platform;
    PortChannel channel{platform};
    RecordingDesktopServices desktop;
    QTemporaryDir dir;
    SettingsFile settings{dir.filePath(QStringLiteral("parport.ini"))};
    std::unique_ptr<TForm1> form;
};
