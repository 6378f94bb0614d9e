#include "timeline_window.h"

#include "change_export.h"
#include "desktop_services.h"
#include "line_measures.h"
#include "port_address.h"
#include "register_text.h"
#include "time_text.h"
#include "timeline_view.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSaveFile>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <unistd.h>

namespace {
using RegisterModel::Lines;

constexpr int DefaultDepth = 32;          // MiB: two to three million changes
constexpr int TicksPerSecond = 30;
constexpr std::size_t MostTriggerMarks = 1000;
constexpr int ScrollSteps = 10000;

// Half the machine's memory, in MiB: a record never takes more.
int largestDepth()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return 1024;
    return static_cast<int>(std::min<long long>(static_cast<long long>(pages) * pageSize / 2 / (1024 * 1024), 1 << 20));
}

QString optionalDuration(const std::optional<std::int64_t>& time)
{
    return time ? DurationText(static_cast<double>(*time)) : QStringLiteral("-");
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
    readSettings();
    m_capture = std::make_unique<PortCapture>(channel, ChangeRing::capacityForMiB(static_cast<std::size_t>(m_depth)));
    m_capture->setInterval(std::chrono::microseconds(SampleInterval->value()));
    m_view->setCapture(m_capture.get());
    updateCaption();
}

TimelineWindow::~TimelineWindow()
{
    stopCapture();
    writeSettings();
}

void TimelineWindow::createControls()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* bar = new QHBoxLayout;
    layout->addLayout(bar);

    const auto button = [this, bar](const char* name, const QString& caption, const char* hint) {
        auto* made = new QToolButton(this);
        made->setObjectName(QString::fromLatin1(name));
        made->setText(caption);
        made->setToolTip(QString::fromLatin1(hint));
        bar->addWidget(made);
        return made;
    };
    PauseButton = button("PauseButton", QStringLiteral("Pause"), "Stop or resume sampling, the record kept (Space)");
    PauseButton->setCheckable(true);
    connect(PauseButton, &QToolButton::clicked, this, [this] { togglePause(); });
    FollowBox = new QCheckBox(QStringLiteral("Folgen"), this);
    FollowBox->setObjectName(QStringLiteral("FollowBox"));
    FollowBox->setToolTip(QStringLiteral("Keep the newest changes in view"));
    FollowBox->setChecked(true);
    bar->addWidget(FollowBox);
    FitButton = button("FitButton", QStringLiteral("Alles"), "Zoom to show the whole record (F)");
    connect(FitButton, &QToolButton::clicked, this, [this] {
        FollowBox->setChecked(false);
        m_view->zoomToFit();
    });

    bar->addSpacing(12);
    bar->addWidget(new QLabel(QStringLiteral("Trigger:"), this));
    TriggerMode = new QComboBox(this);
    TriggerMode->setObjectName(QStringLiteral("TriggerMode"));
    TriggerMode->addItems({QStringLiteral("Auto"), QStringLiteral("Normal"), QStringLiteral("Einzeln")});
    TriggerMode->setToolTip(QStringLiteral("Auto: roll and mark triggers. Normal: show the span around each trigger. "
                                           "Single: stop after the first. Conditions: click a line's symbol"));
    bar->addWidget(TriggerMode);
    connect(TriggerMode, &QComboBox::currentIndexChanged, this, [this] { triggerChanged(); });
    TriggerPosition = new QSpinBox(this);
    TriggerPosition->setObjectName(QStringLiteral("TriggerPosition"));
    TriggerPosition->setRange(0, 100);
    TriggerPosition->setSuffix(QStringLiteral(" % vorher"));
    TriggerPosition->setValue(20);
    TriggerPosition->setToolTip(QStringLiteral("How much of the view lies before the trigger"));
    bar->addWidget(TriggerPosition);

    bar->addSpacing(12);
    bar->addWidget(new QLabel(QStringLiteral("Abstand:"), this));
    SampleInterval = new QSpinBox(this);
    SampleInterval->setObjectName(QStringLiteral("SampleInterval"));
    SampleInterval->setRange(0, 1000000);
    SampleInterval->setSuffix(QStringLiteral(" µs"));
    SampleInterval->setSpecialValueText(QStringLiteral("Schnellst möglich"));
    SampleInterval->setToolTip(QStringLiteral("Time between two samples; 0 samples as fast as the port answers"));
    bar->addWidget(SampleInterval);
    connect(SampleInterval, &QSpinBox::valueChanged, this, [this](int microseconds) {
        m_capture->setInterval(std::chrono::microseconds(microseconds));
        if (!paused()) {
            m_capture->stop();
            m_capture->resume();
        }
    });
    bar->addStretch();

    m_view = new TimelineView(this);
    layout->addWidget(m_view, 1);
    setFocusProxy(m_view);
    ScrollBar = new QScrollBar(Qt::Horizontal, this);
    ScrollBar->setObjectName(QStringLiteral("ScrollBar"));
    ScrollBar->setRange(0, ScrollSteps);
    layout->addWidget(ScrollBar);
    connect(ScrollBar, &QScrollBar::sliderMoved, this, &TimelineWindow::scrollBarMoved);
    connect(ScrollBar, &QScrollBar::actionTriggered, this, [this] { scrollBarMoved(ScrollBar->sliderPosition()); });
    connect(m_view, &TimelineView::viewMoved, this, [this] {
        FollowBox->setChecked(false);
        updateScrollBar();
        updateMeasures();
    });
    connect(m_view, &TimelineView::viewScaled, this, [this] {
        if (FollowBox->isChecked())
            m_view->setView(m_view->now(), m_view->nanosecondsPerPixel());
        updateScrollBar();
        updateMeasures();
    });
    connect(m_view, &TimelineView::cursorsChanged, this, [this] {
        updateCursorText();
        updateMeasures();
    });
    connect(m_view, &TimelineView::triggerChanged, this, &TimelineWindow::triggerChanged);

    CursorText = new QLabel(this);
    CursorText->setObjectName(QStringLiteral("CursorText"));
    CursorText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(CursorText);
    MeasureSpan = new QLabel(this);
    MeasureSpan->setObjectName(QStringLiteral("MeasureSpan"));
    layout->addWidget(MeasureSpan);
    Measures = new QTableWidget(static_cast<int>(Lines.size()), 7, this);
    Measures->setObjectName(QStringLiteral("Measures"));
    Measures->setHorizontalHeaderLabels({QStringLiteral("Leitung"), QStringLiteral("Flanken"), QStringLiteral("Frequenz"),
                                         QStringLiteral("High kürzest"), QStringLiteral("High längst"),
                                         QStringLiteral("Low kürzest"), QStringLiteral("Low längst")});
    Measures->verticalHeader()->hide();
    Measures->verticalHeader()->setDefaultSectionSize(18);
    Measures->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    Measures->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Measures->setFocusPolicy(Qt::NoFocus);
    Measures->setMinimumHeight(120);
    for (int row = 0; row < Measures->rowCount(); ++row) {
        const RegisterModel::Line& line = Lines[TimelineView::rowLines()[static_cast<std::size_t>(row)]];
        Measures->setItem(row, 0, new QTableWidgetItem(QStringLiteral("%1 %2").arg(line.pin).arg(QString::fromLatin1(line.name))));
        for (int column = 1; column < Measures->columnCount(); ++column)
            Measures->setItem(row, column, new QTableWidgetItem);
    }
    layout->addWidget(Measures);
    CounterText = new QLabel(this);
    CounterText->setObjectName(QStringLiteral("CounterText"));
    layout->addWidget(CounterText);

    const auto shortcut = [this](const QKeySequence& keys, auto action) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, action);
    };
    shortcut(QKeySequence(Qt::Key_Space), [this] { togglePause(); });
    shortcut(QKeySequence(Qt::Key_F), [this] { FitButton->click(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { askAndSave(true); });
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), [this] { askAndSave(false); });

    m_ticker = new QTimer(this);
    m_ticker->setInterval(1000 / TicksPerSecond);
    connect(m_ticker, &QTimer::timeout, this, &TimelineWindow::tick);
    resize(1000, 720);
}

void TimelineWindow::readSettings()
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
    resize(std::clamp(m_settings.readInteger("TimelineWidth", width()), 400, 8192),
           std::clamp(m_settings.readInteger("TimelineHeight", height()), 300, 8192));
    FollowBox->setChecked(m_settings.readBoolean("TimelineFollow", true));
    const int mode = m_settings.readInteger("TimelineTriggerMode", Auto);
    TriggerMode->setCurrentIndex(mode >= Auto && mode <= Single ? mode : Auto);
    TriggerPosition->setValue(m_settings.readInteger("TimelineTriggerPosition", TriggerPosition->value()));
    SampleInterval->setValue(m_settings.readInteger("TimelineInterval", 0));
    m_view->setTrigger(Trigger::fromText(m_settings.readText("TimelineTrigger", QString()).toStdString()));
    const double scale = m_settings.readInteger("TimelineScale", 1000);
    m_view->setView(0, scale);
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
    const std::int64_t now = m_capture->now();
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
    updateCounters();
    updateScrollBar();
    if (++m_ticks % (TicksPerSecond / 4) == 0 || paused())
        updateMeasures();
}

void TimelineWindow::scanForTriggers()
{
    const Trigger& trigger = m_view->trigger();
    if (!trigger.active())
        return;
    const int mode = TriggerMode->currentIndex();
    m_capture->read([&](const ChangeRing& ring) {
        std::uint64_t from = std::max(m_scanned, ring.oldest());
        while (from < ring.end()) {
            const std::uint64_t fired = trigger.next(ring, from, ring.end());
            if (fired == ring.end())
                break;
            if (mode == Auto)
                m_triggerMarks.push_back(ring.time(fired));
            else if (!m_pendingTrigger)
                m_pendingTrigger = ring.time(fired);
            from = fired + 1;
        }
        m_scanned = ring.end();
        // Marks of changes no longer kept go.
        const std::int64_t oldest = ring.oldestTime();
        std::erase_if(m_triggerMarks, [oldest](std::int64_t mark) { return mark < oldest; });
    });
    if (m_triggerMarks.size() > MostTriggerMarks)
        m_triggerMarks.erase(m_triggerMarks.begin(), m_triggerMarks.end() - MostTriggerMarks);
    if (mode == Auto)
        m_view->setTriggerMarks(m_triggerMarks);
}

void TimelineWindow::triggerChanged()
{
    m_triggerMarks.clear();
    m_pendingTrigger.reset();
    m_view->setTriggerMarks({});
    // A new trigger looks only at what comes after it was set.
    m_scanned = m_capture->read([](const ChangeRing& ring) { return ring.end(); });
    if (TriggerMode->currentIndex() != Auto)
        FollowBox->setChecked(false);
}

void TimelineWindow::updateCounters()
{
    const PortCapture::Counters counters = m_capture->counters();
    const auto at = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(at - m_lastCount).count();
    if (seconds >= 0.5) {
        m_rate = paused() ? QString()
                          : QStringLiteral(" (%1 /s)").arg(QLocale::c().toString(static_cast<double>(counters.samples - m_lastSamples) / seconds, 'f', 0));
        m_lastSamples = counters.samples;
        m_lastCount = at;
    }
    const QLocale numbers = QLocale::c();
    QString text = QStringLiteral("Abtastungen %1%2   Änderungen gespeichert %3   alte verworfen %4   Speicher %5 MiB%6")
                       .arg(numbers.toString(counters.samples), m_rate, numbers.toString(static_cast<qulonglong>(counters.stored)),
                            numbers.toString(static_cast<qulonglong>(counters.dropped)), QString::number(m_depth),
                            paused() ? QStringLiteral("   angehalten") : QString());
    if (counters.gaps > 0)
        text += QStringLiteral("\nLücken über %1 ohne Abtastung: %2, längste %3 (das System hat den Abtaster "
                               "angehalten; Flanken darin sind verspätet, kurze Pulse können fehlen)")
                    .arg(DurationText(static_cast<double>(PortCapture::GapLimit)), numbers.toString(counters.gaps),
                         DurationText(static_cast<double>(counters.longestGap)));
    if (!m_depthNote.isEmpty())
        text += QLatin1Char('\n') + m_depthNote;
    CounterText->setText(text);
}

void TimelineWindow::updateCursorText()
{
    const std::optional<std::int64_t> a = m_view->cursor(0);
    const std::optional<std::int64_t> b = m_view->cursor(1);
    // Positions to the pixel: a cursor placed by the edge keys sits on a change.
    const double step = std::max(1.0, m_view->nanosecondsPerPixel());
    const auto position = [step](const std::optional<std::int64_t>& time) {
        return time ? AxisTimeText(static_cast<double>(*time), step) : QStringLiteral("-");
    };
    QString text = QStringLiteral("A %1   B %2").arg(position(a), position(b));
    if (a && b && *a != *b) {
        const double delta = static_cast<double>(*b - *a);
        text += QStringLiteral("   Δt %1   1/Δt %2").arg(DurationText(delta), FrequencyText(1e9 / std::fabs(delta)));
    }
    CursorText->setText(text);
}

std::pair<std::int64_t, std::int64_t> TimelineWindow::chosenSpan(bool wholeRecord) const
{
    const std::optional<std::int64_t> a = m_view->cursor(0);
    const std::optional<std::int64_t> b = m_view->cursor(1);
    if (a && b && *a != *b)
        return std::minmax(*a, *b);
    if (wholeRecord)
        return {m_capture->read([](const ChangeRing& ring) { return ring.oldestTime(); }),
                m_capture->now()};
    return {m_view->viewStart(), std::min(m_view->viewEnd(), m_view->now())};
}

void TimelineWindow::updateMeasures()
{
    const auto [from, to] = chosenSpan(false);
    const bool betweenCursors = m_view->cursor(0) && m_view->cursor(1) && m_view->cursor(0) != m_view->cursor(1);
    MeasureSpan->setText(QStringLiteral("Messung %1: %2").arg(betweenCursors ? QStringLiteral("zwischen A und B")
                                                                            : QStringLiteral("im sichtbaren Bereich"),
                                                             DurationText(static_cast<double>(to - from))));
    const LineMeasures measures = m_capture->read([from = from, to = to](const ChangeRing& ring) { return MeasureLines(ring, from, to); });
    for (int row = 0; row < Measures->rowCount(); ++row) {
        const LineMeasure& measure = measures[TimelineView::rowLines()[static_cast<std::size_t>(row)]];
        const std::optional<double> frequency = measure.frequency();
        const QString texts[] = {QString::number(measure.edges), frequency ? FrequencyText(*frequency) : QStringLiteral("-"),
                                 optionalDuration(measure.shortestHigh), optionalDuration(measure.longestHigh),
                                 optionalDuration(measure.shortestLow), optionalDuration(measure.longestLow)};
        for (int column = 1; column < Measures->columnCount(); ++column)
            if (Measures->item(row, column)->text() != texts[column - 1])
                Measures->item(row, column)->setText(texts[column - 1]);
    }
}

void TimelineWindow::updateScrollBar()
{
    const auto [first, newest] = chosenSpan(true);
    const double record = std::max<double>(static_cast<double>(newest - first), 1);
    const double visible = m_view->tracesWidth() * m_view->nanosecondsPerPixel();
    const QSignalBlocker blocker(ScrollBar);
    ScrollBar->setPageStep(static_cast<int>(std::clamp(visible / record, 0.0, 1.0) * ScrollSteps));
    ScrollBar->setRange(0, ScrollSteps - ScrollBar->pageStep());
    ScrollBar->setValue(static_cast<int>((static_cast<double>(m_view->viewStart() - first) / record) * ScrollSteps));
}

void TimelineWindow::scrollBarMoved(int value)
{
    const auto [first, newest] = chosenSpan(true);
    const double record = std::max<double>(static_cast<double>(newest - first), 1);
    const double visible = m_view->tracesWidth() * m_view->nanosecondsPerPixel();
    FollowBox->setChecked(false);
    m_view->setView(first + static_cast<std::int64_t>(record * value / ScrollSteps + visible), m_view->nanosecondsPerPixel());
    updateMeasures();
}

bool TimelineWindow::saveVcd(const QString& path)
{
    const auto [from, to] = chosenSpan(true);
    const auto began = m_capture->began() + std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(from));
    WatchHeader header{{{PortAddressText(m_port.base), m_access}}, began, {}, "velkaro timeline"};
    for (const RegisterModel::Line& line : Lines)
        header.lines.push_back(&line);
    const std::optional<QString> refusal = m_capture->read([&, from = from, to = to](const ChangeRing& ring) {
        return SaveChanges(ring, from, to, header, RecordFormat::Vcd, path);
    });
    if (refusal)
        m_desktop.showError(this, *refusal);
    return !refusal;
}

bool TimelineWindow::savePng(const QString& path)
{
    QSaveFile file(path);
    const bool saved = file.open(QIODevice::WriteOnly) && m_view->grab().save(&file, "PNG") && file.commit();
    if (!saved)
        m_desktop.showError(this, QStringLiteral("Could not save %1: %2").arg(path, file.errorString()));
    return saved;
}

void TimelineWindow::askAndSave(bool vcd)
{
    const QString path = vcd ? m_askPath(QStringLiteral("Als VCD speichern"), QStringLiteral("VCD (*.vcd)"))
                             : m_askPath(QStringLiteral("Ansicht als PNG speichern"), QStringLiteral("PNG (*.png)"));
    if (path.isEmpty())
        return;
    if (vcd)
        saveVcd(path);
    else
        savePng(path);
}
