#include "timeline_window.h"

#include "timeline_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
using RegisterModel::Lines;

constexpr int ScrollSteps = 10000;
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

    DecodersButton = button("DecodersButton", QStringLiteral("Dekoder…"),
                            "Decode the lines with sigrok's protocol decoders: add, stack, remove (Ctrl+E saves the annotations)");
    connect(DecodersButton, &QToolButton::clicked, this, &TimelineWindow::openDecoderDialog);

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
    CursorText->setWordWrap(true);
    layout->addWidget(CursorText);
    MeasureSpan = new QLabel(this);
    MeasureSpan->setObjectName(QStringLiteral("MeasureSpan"));
    MeasureSpan->setWordWrap(true); // the blind stretches' note is long
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
    DecoderText = new QLabel(this);
    DecoderText->setObjectName(QStringLiteral("DecoderText"));
    DecoderText->setWordWrap(true);
    layout->addWidget(DecoderText);
    CounterText = new QLabel(this);
    CounterText->setObjectName(QStringLiteral("CounterText"));
    CounterText->setWordWrap(true); // as the span's: a long note never widens the window under the user
    layout->addWidget(CounterText);

    const auto shortcut = [this](const QKeySequence& keys, auto action) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, action);
    };
    shortcut(QKeySequence(Qt::Key_Space), [this] { togglePause(); });
    shortcut(QKeySequence(Qt::Key_F), [this] { FitButton->click(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { askAndSave(true); });
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), [this] { askAndSave(false); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_E), [this] { askAndSaveAnnotations(); });

    m_ticker = new QTimer(this);
    m_ticker->setInterval(1000 / TicksPerSecond);
    connect(m_ticker, &QTimer::timeout, this, &TimelineWindow::tick);
    resize(1000, 720);
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
