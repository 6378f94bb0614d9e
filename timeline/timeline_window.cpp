#include "timeline_window.h"

#include "desktop_services.h"
#include "register_text.h"
#include "timeline_view.h"
#include "window_placement.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include <unistd.h>

namespace {
constexpr int DefaultDepth = 32; // MiB: two to three million changes

// "TimelineDecoder1": the settings' key of a decoder stack.
std::string decoderKey(int n)
{
    return "TimelineDecoder" + std::to_string(n);
}

// Half the machine's memory, in MiB: a record never takes more.
int largestDepth()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return 1024;
    return static_cast<int>(std::min<long long>(static_cast<long long>(pages) * pageSize / 2 / (1024 * 1024), 1 << 20));
}
}

TimelineWindow::TimelineWindow(PortChannel& channel, DesktopServices& desktop, const SettingsFile& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), m_desktop(desktop), m_settings(settings)
{
    setObjectName(QStringLiteral("TimelineWindow"));
    m_askPath = [this](const QString& caption, const QString& filter) {
        return QFileDialog::getSaveFileName(this, caption, QString(), filter);
    };
    createControls();
    if (!readSettings() && parent)
        placeBeside(*parent->window());
    m_capture = std::make_unique<PortCapture>(channel, ChangeRing::capacityForMiB(static_cast<std::size_t>(m_depth)));
    m_capture->setInterval(std::chrono::microseconds(SampleInterval->value()));
    m_capture->setScheduling(m_schedulingKernel, &m_rtkit);
    m_view->setCapture(m_capture.get());
    QStringList decoders;
    for (int n = 1; n <= DecoderKeys; ++n)
        if (const QString setup = m_settings.readText(decoderKey(n).c_str(), QString()); !setup.isEmpty())
            decoders << setup;
    setDecoderSetups(decoders);
    updateCaption();
}

TimelineWindow::~TimelineWindow()
{
    stopCapture();
    writeSettings();
}

bool TimelineWindow::readSettings()
{
    m_storedDepth = m_settings.readInteger("TimelineDepth", DefaultDepth);
    const int largest = largestDepth();
    m_depth = m_storedDepth;
    if (m_storedDepth < 1 || m_storedDepth > largest) {
        m_depth = std::min(DefaultDepth, largest);
        m_depthNote = QStringLiteral("TimelineDepth=%1 in parport.ini refused: a record takes 1 to %2 MiB here. %3 MiB used.")
                          .arg(m_storedDepth).arg(largest).arg(m_depth);
    }
    const std::optional<int> left = m_settings.readCoordinate("TimelineLeft");
    const std::optional<int> top = m_settings.readCoordinate("TimelineTop");
    if (left || top)
        move(left.value_or(x()), top.value_or(y()));
    resize(std::clamp(m_settings.readInteger("TimelineWidth", width()), MinimumSize.width(), 8192),
           std::clamp(m_settings.readInteger("TimelineHeight", height()), MinimumSize.height(), 8192));
    FollowBox->setChecked(m_settings.readBoolean("TimelineFollow", true));
    const int mode = m_settings.readInteger("TimelineTriggerMode", Auto);
    TriggerMode->setCurrentIndex(mode >= Auto && mode <= Single ? mode : Auto);
    TriggerPosition->setValue(m_settings.readInteger("TimelineTriggerPosition", TriggerPosition->value()));
    SampleInterval->setValue(m_settings.readInteger("TimelineInterval", 0));
    m_view->setTrigger(Trigger::fromText(m_settings.readText("TimelineTrigger", QString()).toStdString()));
    const double scale = m_settings.readInteger("TimelineScale", 1000);
    m_view->setView(0, scale);
    return left || top;
}

void TimelineWindow::placeBeside(const QWidget& owner)
{
    // Not shown yet, this window has no frame of its own: the owner's stands in for it.
    const QSize frame = owner.frameGeometry().size() - owner.geometry().size();
    const QRect screen = owner.screen()->availableGeometry();
    const QSize minimum = minimumSizeHint().expandedTo(MinimumSize);
    const QRect placed = PlaceBeside(owner.frameGeometry(), size() + frame, minimum + frame, screen);
    move(placed.topLeft());
    resize(placed.size() - frame);
}

void TimelineWindow::writeSettings()
{
    const std::pair<const char*, int> keys[] = {
        {"TimelineLeft", x()},
        {"TimelineTop", y()},
        {"TimelineWidth", width()},
        {"TimelineHeight", height()},
        {"TimelineDepth", m_storedDepth},
        {"TimelineFollow", FollowBox->isChecked()},
        {"TimelineTriggerMode", TriggerMode->currentIndex()},
        {"TimelineTriggerPosition", TriggerPosition->value()},
        {"TimelineInterval", SampleInterval->value()},
        {"TimelineScale", static_cast<int>(std::min(m_view->nanosecondsPerPixel(), 2e9))},
    };
    bool written = true;
    for (const auto& [key, value] : keys)
        written = written && m_settings.writeInteger(key, value);
    written = written && m_settings.writeText("TimelineTrigger", QString::fromStdString(m_view->trigger().text()));
    const QStringList decoders = decoderSetups();
    for (int n = 1; n <= DecoderKeys; ++n)
        written = written && m_settings.writeText(decoderKey(n).c_str(), n <= decoders.size() ? decoders[n - 1] : QString());
    if (!written)
        m_desktop.showError(nullptr, m_settings.writeFailureText());
}

void TimelineWindow::showPort(FoundPort port, const std::string& access)
{
    m_access = access;
    if (port.base == m_port.base && port.byteReads == m_port.byteReads)
        return;
    m_port = port;
    updateCaption();
    if (isVisible())
        startRecord();
}

void TimelineWindow::setColors(const QColor& high, const QColor& low)
{
    m_view->setColors(high, low);
}

void TimelineWindow::updateCaption()
{
    setWindowTitle(m_port.base == 0 ? QStringLiteral("Zeitverlauf")
                                    : QStringLiteral("Zeitverlauf %1").arg(AddressText(m_port.base)));
}

void TimelineWindow::startRecord()
{
    m_capture->stop();
    m_scanned = 0;
    m_triggerMarks.clear();
    m_pendingTrigger.reset();
    m_lastSamples = 0;
    m_lastCount = std::chrono::steady_clock::now();
    m_view->setTriggerMarks({});
    m_view->setCursor(0, std::nullopt);
    m_view->setCursor(1, std::nullopt);
    if (m_port.base != 0)
        m_capture->start(m_port);
    startDecoding();
    PauseButton->setChecked(paused());
    if (!paused())
        m_ticker->start();
    tick();
}

void TimelineWindow::stopCapture()
{
    m_ticker->stop();
    m_capture->stop();
    PauseButton->setChecked(true);
}

void TimelineWindow::togglePause()
{
    if (paused()) {
        m_capture->resume();
        m_ticker->start();
    } else {
        m_capture->stop();
        m_ticker->stop();
        tick();
    }
    PauseButton->setChecked(paused());
}

void TimelineWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous() && paused())
        startRecord();
}

void TimelineWindow::closeEvent(QCloseEvent* event)
{
    stopCapture();
    QWidget::closeEvent(event);
}

void TimelineWindow::tick()
{
    const std::int64_t now = m_capture->sampledUntil();
    m_view->setNow(now);
    scanForTriggers();
    const double span = m_view->tracesWidth() * m_view->nanosecondsPerPixel();
    if (m_pendingTrigger) {
        const auto after = static_cast<std::int64_t>(span * (100 - TriggerPosition->value()) / 100);
        if (now >= *m_pendingTrigger + after || paused()) {
            FollowBox->setChecked(false);
            m_view->setView(*m_pendingTrigger + after, m_view->nanosecondsPerPixel());
            m_view->setTriggerMarks({*m_pendingTrigger});
            m_pendingTrigger.reset();
            if (TriggerMode->currentIndex() == Single && !paused())
                togglePause();
        }
    }
    if (FollowBox->isChecked())
        m_view->setView(now, m_view->nanosecondsPerPixel());
    followDecoding();
    updateCounters();
    updateScrollBar();
    if (++m_ticks % (TicksPerSecond / 4) == 0 || paused())
        updateMeasures();
}
