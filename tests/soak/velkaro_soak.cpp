// velkaro_soak SECONDS [WARM-UP]: the main window sampling as fast as it can
// (sample-rate item 0), with the bit-setting window open, over a port whose
// lines change on every read, for SECONDS. The memory is taken once a second;
// the run fails when it grows by more than 1 MiB after the first WARM-UP
// seconds (default 60), or when the windows report anything. The memory is the
// resident size; under AddressSanitizer, whose quarantine and bookkeeping keep
// growing the resident size by themselves, it is the heap in use.
#include "port_channel.h"
#include "recording_desktop_services.h"
#include "settings_file.h"
#include "simulated_port_platform.h"
#include "tform1.h"
#include "tform2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define VELKARO_SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELKARO_SOAK_ASAN 1
#endif
#endif
#ifdef VELKARO_SOAK_ASAN
extern "C" std::size_t __sanitizer_get_current_allocated_bytes(); // the sanitizer runtime's; gcc ships no header
#endif

namespace {

// Drives new data and status lines before every read of the port.
class RestlessDevice : public SimulatedDevice {
public:
    std::uint8_t statusLines(std::uint8_t, std::uint8_t) override { return static_cast<std::uint8_t>(m_state << 3); }
    void beforeRead(SimulatedParallelPort& port) override
    {
        m_state = m_state * 1103515245u + 12345u;
        port.setDataLatch(static_cast<std::uint8_t>(m_state >> 16));
        ++reads;
    }
    long long reads = 0;

private:
    std::uint32_t m_state = 1;
};

long heapInUseKiB()
{
#ifdef VELKARO_SOAK_ASAN
    return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    return 0;
#endif
}

long residentKiB()
{
    long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%*s %ld", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    return pages * (sysconf(_SC_PAGESIZE) / 1024);
}

}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SECONDS [WARM-UP-SECONDS]\n", argv[0]);
        return 2;
    }
    const int seconds = std::atoi(argv[1]);
    const int warmUp = argc > 2 ? std::atoi(argv[2]) : 60;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    SimulatedPortPlatform platform;
    platform.setLogging(false); // as velkaro-sim runs
    auto* device = new RestlessDevice;
    platform.addPort(0x378).attach(std::unique_ptr<SimulatedDevice>(device));
    PortChannel channel(platform);
    channel.OpenPortChannel();

    // Every row beeps and the blinker shows, so that each step does all it can.
    QTemporaryDir config;
    const SettingsFile settings(config.filePath(QStringLiteral("parport.ini")));
    {
        QFile file(settings.path());
        if (!file.open(QIODevice::WriteOnly))
            return 2;
        file.write("[misc]\nSampleRate=0\nBeeps=7\nSampleBlink=1\n");
    }
    RecordingDesktopServices desktop;
    auto form1 = std::make_unique<TForm1>(channel, desktop, settings);
    auto form2 = std::make_unique<TForm2>(channel, desktop, settings);
    form1->setBitSettingWindow(form2.get());
    form1->show();
    form2->SetPort(0x378);
    form2->ApplyProfile(0);
    form2->show();

#ifdef VELKARO_SOAK_ASAN
    const bool underSanitizer = true;
#else
    const bool underSanitizer = false;
#endif
    const char* const measure = underSanitizer ? "heap in use" : "resident size";
    long baseline = 0;
    long highest = 0;
    int second = 0;
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [&] {
        ++second;
        const long resident = residentKiB();
        const long heap = heapInUseKiB();
        const long measured = underSanitizer ? heap : resident;
        if (second == warmUp)
            baseline = highest = measured;
        else if (second > warmUp && measured > highest)
            highest = measured;
        if (second % 30 == 0 || second == seconds) {
            std::printf("%5d s: %lld reads, resident %ld KiB", second, device->reads, resident);
            if (underSanitizer)
                std::printf(", heap in use %ld KiB", heap);
            std::printf("\n");
        }
        std::fflush(stdout);
        if (second == seconds)
            QCoreApplication::quit();
    });
    clock.start(1000);
    QApplication::exec();

    const int beeps = desktop.beeps;
    form1->setBitSettingWindow(nullptr);
    form2.reset();
    form1.reset();

    const long growth = highest - baseline;
    std::printf("%lld reads, %d beeps; %s after the warm-up %ld KiB, highest %ld KiB, growth %ld KiB\n",
                device->reads, beeps, measure, baseline, highest, growth);
    bool failed = false;
    if (seconds <= warmUp) {
        std::printf("FAIL: the run is no longer than its warm-up\n");
        failed = true;
    }
    if (growth > 1024) {
        std::printf("FAIL: the %s grew by more than 1 MiB\n", measure);
        failed = true;
    }
    if (device->reads < seconds * 100LL || beeps == 0) {
        std::printf("FAIL: the sampling did not run\n");
        failed = true;
    }
    if (!desktop.messages.isEmpty()) {
        std::printf("FAIL: %s\n", qPrintable(desktop.messages.first().text));
        failed = true;
    }
    return failed ? 1 : 0;
}
