// Arbitrary bytes as "parport.ini". The private-profile reader gives every key
// of the program without crash or hang; both windows built over the file hold
// every value within its range; and what they write at their end reads back
// as the same values, and is written again unchanged.
#include "color_table.h"
#include "pin_shape.h"
#include "port_channel.h"
#include "private_profile.h"
#include "recording_desktop_services.h"
#include "settings_file.h"
#include "simulated_port_platform.h"
#include "tcolor_drop.h"
#include "tform1.h"
#include "tform2.h"
#include "cell_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

const char* const Keys[] = {"HighColor", "LowColor", "Left", "Top", "Port", "Connector", "SampleRate",
                            "Beeps", "OnTop", "DisableCon", "SampleBlink", "BitSetLeft", "BitSetTop"};

// What the two windows hold of the settings.
struct Held {
    ColorRef high = 0;
    ColorRef low = 0;
    QPoint place;
    std::uint16_t port = 0;
    int connector = 0;
    int sampleRate = 0;
    std::uint8_t beeps = 0;
    bool onTop = false;
    bool connectorOff = false;
    bool blinker = false;
    QPoint bitSetPlace;
    bool operator==(const Held&) const = default;
};

void expect(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

bool withinPlaces(QPoint place)
{
    return std::abs(place.x()) <= SettingsFile::MaxCoordinate && std::abs(place.y()) <= SettingsFile::MaxCoordinate;
}

// One run of the windows over the file: created as at start, checked, and destroyed as at the end.
Held runWindows(const QString& path)
{
    SimulatedPortPlatform platform;
    platform.setLogging(false);
    platform.addPort(0x378);
    platform.addPort(0x278);
    PortChannel channel(platform);
    channel.OpenPortChannel();
    RecordingDesktopServices desktop;
    const SettingsFile settings(path);

    auto form1 = std::make_unique<TForm1>(channel, desktop, settings);
    form1->IdleHook->stop();
    auto form2 = std::make_unique<TForm2>(channel, desktop, settings);

    Held held;
    held.high = form1->HighColor;
    held.low = form1->LowColor;
    held.place = form1->pos();
    held.port = form1->PortBase;
    held.connector = form1->ConType->currentIndex();
    held.sampleRate = form1->SampleRate->currentIndex();
    held.beeps = form1->BeepMask;
    held.onTop = form1->OnTop->isChecked();
    held.connectorOff = form1->ConnectorInactive;
    held.blinker = !form1->Burst->isHidden();
    held.bitSetPlace = form2->pos();

    expect(colorTableIndex(held.high) >= 0 && held.high == form1->HighColorBox->selectedColor(), "HighColor outside the table");
    expect(colorTableIndex(held.low) >= 0 && held.low == form1->LowColorBox->selectedColor(), "LowColor outside the table");
    expect(held.port == 0x378 || held.port == 0x278, "Port not a found port");
    expect(held.connector == 0 || held.connector == 1, "Connector outside 0..1");
    expect(held.sampleRate >= 0 && held.sampleRate <= 9, "SampleRate outside 0..9");
    expect(form1->Timer1->isActive() == (held.sampleRate != 0), "sampling timer does not follow SampleRate");
    for (int row = 0; row < 3; ++row)
        expect(form1->BeepCell[row]->caption() == (held.beeps & (1 << row) ? QLatin1String("Ja ") : QLatin1String("N ")),
               "beep cell does not follow Beeps");
    expect(held.connectorOff == form1->DisableCon->isChecked(), "connector state does not follow DisableCon");
    expect(held.blinker == form1->SampleBlink->isChecked(), "blinker does not follow SampleBlink");
    expect(withinPlaces(held.place) && withinPlaces(held.bitSetPlace), "window place beyond the coordinate range");

    form2.reset();
    form1.reset();
    expect(desktop.messages.isEmpty(), "writing the settings failed");
    return held;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Memory-backed where possible: every run replaces the file 26 times. Removed at exit.
QTemporaryDir& directory()
{
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/velkaro-fuzz-XXXXXX")
                                                                         : QDir::tempPath() + QStringLiteral("/velkaro-fuzz-XXXXXX"));
    return dir;
}

}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    (void)argc;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's notes on every run ("does not support raise()") only slow the fuzzing.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
        if (type == QtFatalMsg)
            std::abort();
    });
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    new QApplication(qtArgc, qtArgv); // lives as long as the process
    return directory().isValid() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = directory().filePath(QStringLiteral("parport.ini"));
    {
        QFile file(path);
        expect(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the input file");
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }

    for (const char* key : Keys) {
        const QString value = PrivateProfile::readString(QStringLiteral("misc"), QString::fromLatin1(key), QString(), path);
        expect(value.size() <= 2047, "value longer than 2047 characters");
        expect(!value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')) && !value.contains(QChar(0)),
               "value holds a line end or NUL");
    }

    const Held first = runWindows(path);
    const QByteArray written = contentOf(path);
    const Held second = runWindows(path);
    expect(first == second, "the values written at the end read back differently");
    expect(contentOf(path) == written, "the second end wrote a different file");
    return 0;
}
