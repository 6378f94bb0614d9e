// velkaro-screenshot MAIN.png TIMELINE.png: the pictures the AppStream metainfo
// shows. They are velkaro-sim's main window, and its timeline on the card at
// E010 with two cursors on one bit of the serial line and sigrok's UART
// decoder reading the text off it, drawn by the program as
// built on the offscreen platform at twice their size, so that they never fall
// behind the program.
#include "monitor_app.h"
#include "port_route.h"
#include "qt_desktop_services.h"
#include "settings_file.h"
#include "simulated_port_platform.h"
#include "simulated_port_route.h"
#include "tform1.h"
#include "timeline_view.h"
#include "timeline_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {
// Puts the first byte of a text burst on the card's serial line (ACK) in
// view, the cursors on its start bit's two edges: the first fall after the
// line idled high for a millisecond.
bool showFirstByte(TimelineWindow& timeline)
{
    const std::uint32_t ack = RegisterModel::packedBit(*RegisterModel::lineNamed("ACK"));
    std::vector<std::int64_t> edges;
    timeline.capture()->read([&](const ChangeRing& ring) {
        std::int64_t highSince = -1;
        for (std::uint64_t change = ring.oldest() + 1; change < ring.end() && edges.size() < 2; ++change) {
            if (!((ring.registers(change) ^ ring.registers(change - 1)) & ack))
                continue;
            const std::int64_t time = ring.time(change);
            const bool high = RegisterModel::lineLevel(*RegisterModel::lineNamed("ACK"), ring.registers(change));
            if (!edges.empty() || (!high && highSince >= 0 && time - highSince >= 1'000'000))
                edges.push_back(time);
            highSince = high ? time : -1;
        }
    });
    if (edges.size() < 2)
        return false;
    timeline.FollowBox->setChecked(false);
    TimelineView& view = *timeline.view();
    view.selectLine(static_cast<std::size_t>(RegisterModel::lineIndex("ACK")));
    view.setView(edges[0] + 19'500'000, 30'000);
    view.setCursor(0, edges[0]);
    view.setCursor(1, edges[1]);
    timeline.tick();
    return true;
}
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: velkaro-screenshot MAIN.png TIMELINE.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "2");
    // A step of the build: the offscreen platform's remarks on what it cannot do
    // (raise a window, grab the keyboard) would only fill the build's log.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "velkaro-screenshot: %s\n", qPrintable(message));
    });

    std::string notice;
    PortRoute route = OpenSimulatedPortRoute({}, notice); // private: a running velkaro-sim keeps its state
    // D0, D2 and D4 high: the loopback plug lights Err, PaperOut and Busy with them.
    static_cast<SimulatedPortPlatform&>(*route.platform).port(0x378)->setDataLatch(0x15);

    QApplication app(argc, argv);
    setUpProgramLook();
    QtDesktopServices desktop;
    const QTemporaryDir settingsDir; // the default settings, never the user's
    const SettingsFile settings(settingsDir.filePath(QStringLiteral("parport.ini")));
    TForm1 form(*route.channel, desktop, settings, NonStandardBases(route.kernelPorts));
    bool saved = form.grab().save(QString::fromLocal8Bit(argv[1]));

    while (form.PortBase != 0xE010 && form.PortBase != 0)
        form.Port1LabelClick();
    // A record without a stretch in which the build's other work kept the
    // sampler from the processor, if one of a few tries gives one.
    TimelineWindow* timeline = nullptr;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (timeline)
            timeline->close();
        form.TimelineClick();
        timeline = form.Timeline;
        timeline->resize(800, 700);
        timeline->setDecoderSetups({QStringLiteral("uart:rx=ACK:baudrate=9600:format=ascii")});
        QEventLoop capturing;
        QTimer::singleShot(300, &capturing, &QEventLoop::quit);
        capturing.exec();
        timeline->togglePause();
        if (timeline->capture()->counters().gaps == 0)
            break;
    }
    // The decoder's thread catches up with the record's end.
    for (int follow = 0; follow < 10; ++follow) {
        QEventLoop decoding;
        QTimer::singleShot(30, &decoding, &QEventLoop::quit);
        decoding.exec();
        timeline->tick();
    }
    saved = saved && showFirstByte(*timeline) && timeline->grab().save(QString::fromLocal8Bit(argv[2]));
    form.stopSampling();
    route.channel->ClosePortChannel();
    return saved ? 0 : 1;
}
