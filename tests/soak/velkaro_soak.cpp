// velkaro_soak SECONDS [WARM-UP]: the main window sampling as fast as it can
// (sample-rate item 0), with the bit-setting window open and the timeline
// capturing at full rate, over a port whose lines change on every read (a
// change on every sample), for SECONDS. The timeline's record must stay within
// its ring's bound: the memory it adds is at most the ring and a fixed margin. The memory is taken once a second;
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
#include "timeline_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
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
        reads.fetch_add(1, std::memory_order_relaxed);
    }
    std::atomic<long long> reads{0}; // by the capture's thread and the window's

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

bool underSanitizerHeap()
{
#ifdef VELKARO_SOAK_ASAN
    return true;
#else
    return false;
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
    QCoreApplication::processEvents();
    const long beforeTimeline = underSanitizerHeap() ? heapInUseKiB() : residentKiB();
    form1->TimelineClick();
    const long ringKiB = form1->Timeline->depth() * 1024L;

    const bool underSanitizer = underSanitizerHeap();
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
            std::printf("%5d s: %lld reads, %lld samples by the timeline, resident %ld KiB", second, device->reads.load(),
                        form1->Timeline->capture()->counters().samples, resident);
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
    const PortCapture::Counters captured = form1->Timeline->capture()->counters();
    form1->setBitSettingWindow(nullptr);
    form2.reset();
    form1.reset();

    const long growth = highest - baseline;
    std::printf("%lld reads, %d beeps; %s after the warm-up %ld KiB, highest %ld KiB, growth %ld KiB\n",
                device->reads.load(), beeps, measure, baseline, highest, growth);
    const long timelineKiB = highest - beforeTimeline;
    std::printf("timeline: %lld samples, %llu changes stored, %llu dropped; %ld KiB added for a ring of %ld KiB\n",
                captured.samples, static_cast<unsigned long long>(captured.stored),
                static_cast<unsigned long long>(captured.dropped), timelineKiB, ringKiB);
    bool failed = false;
    if (seconds <= warmUp) {
        std::printf("FAIL: the run is no longer than its warm-up\n");
        failed = true;
    }
    if (growth > 1024) {
        std::printf("FAIL: the %s grew by more than 1 MiB\n", measure);
        failed = true;
    }
    if (timelineKiB > ringKiB + 16 * 1024) {
        std::printf("FAIL: the timeline took more than its ring and 16 MiB\n");
        failed = true;
    }
    if (captured.samples < seconds * 1000LL || captured.dropped == 0) {
        std::printf("FAIL: the timeline's capture did not run at full rate until its ring was full\n");
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
