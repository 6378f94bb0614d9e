#include "timeline_view.h"

#include "port_capture.h"
#include "time_text.h"

#include <QCursor>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {
using RegisterModel::Lines;

constexpr double FinestScale = 1.0;              // 1 ns per pixel
constexpr double CoarsestScale = 3600e9 / 100;   // an hour over 100 pixels
}

const std::array<std::size_t, 17>& TimelineView::rowLines()
{
    static const std::array<std::size_t, 17> lines = [] {
        std::array<std::size_t, 17> byPin{};
        for (std::size_t line = 0; line < Lines.size(); ++line)
            byPin[static_cast<std::size_t>(Lines[line].pin - 1)] = line;
        return byPin;
    }();
    return lines;
}

TimelineView::TimelineView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TimelineView"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(QStringLiteral("Wheel or +/- to zoom, drag to pan, click to place the active cursor (Tab switches), "
                              "Left/Right jump it to the selected line's edges"));
}

QSize TimelineView::sizeHint() const
{
    return {900, rowTop(rowCount()) + 4};
}

QSize TimelineView::minimumSizeHint() const
{
    return {HeaderWidth + 200, rowTop(rowCount()) + 4};
}

void TimelineView::setColors(const QColor& high, const QColor& low)
{
    m_high = high;
    m_low = low;
    update();
}

std::int64_t TimelineView::viewStart() const
{
    return m_viewEnd - static_cast<std::int64_t>(std::llround(tracesWidth() * m_nanosecondsPerPixel));
}

void TimelineView::setView(std::int64_t end, double nanosecondsPerPixel)
{
    m_nanosecondsPerPixel = std::clamp(nanosecondsPerPixel, FinestScale, CoarsestScale);
    m_viewEnd = end;
    update();
}

void TimelineView::setNow(std::int64_t now)
{
    m_now = now;
    update();
    // A tooltip shown over a rolling view tells the time now under the pointer.
    if (QToolTip::isVisible() && underMouse()) {
        const QPoint at = mapFromGlobal(QCursor::pos());
        if (at.x() >= HeaderWidth && rowAt(at.y()) >= 0)
            QToolTip::showText(QCursor::pos(), tooltipAt(at), this);
    }
}

void TimelineView::zoomBy(double factor, int x)
{
    const std::int64_t anchor = timeAt(x);
    const double scale = std::clamp(m_nanosecondsPerPixel / factor, FinestScale, CoarsestScale);
    const double right = static_cast<double>(HeaderWidth + tracesWidth() - x) * scale;
    setView(anchor + static_cast<std::int64_t>(std::llround(right)), scale);
    emit viewScaled();
}

void TimelineView::zoomToFit()
{
    const std::int64_t first = m_capture ? m_capture->read([](const ChangeRing& ring) { return ring.oldestTime(); }) : 0;
    const std::int64_t span = std::max<std::int64_t>(m_now - first, 1000);
    setView(m_now, static_cast<double>(span) / tracesWidth());
    emit viewMoved();
}

std::int64_t TimelineView::timeAt(int x) const
{
    return viewStart() + static_cast<std::int64_t>(std::llround((x - HeaderWidth) * m_nanosecondsPerPixel));
}

int TimelineView::xAt(std::int64_t time) const
{
    const double x = HeaderWidth + static_cast<double>(time - viewStart()) / m_nanosecondsPerPixel;
    return static_cast<int>(std::clamp(std::floor(x), -1e6, 1e6));
}

int TimelineView::rowAt(int y) const
{
    if (y < AxisHeight)
        return -1;
    const int row = (y - AxisHeight) / RowHeight;
    return row < rowCount() ? row : -1;
}

void TimelineView::setCursor(int which, std::optional<std::int64_t> time)
{
    m_cursors[static_cast<std::size_t>(which)] = time;
    update();
    emit cursorsChanged();
}

void TimelineView::setActiveCursor(int which)
{
    m_activeCursor = which;
    update();
}

void TimelineView::selectLine(std::size_t line)
{
    m_selectedLine = line;
    m_selectedTrack = -1;
    update();
}

void TimelineView::selectTrack(int track)
{
    m_selectedTrack = track >= 0 && track < static_cast<int>(m_tracks.size()) ? track : -1;
    update();
}

void TimelineView::setDecoderTracks(std::vector<DecoderTrack> tracks)
{
    const bool grown = tracks.size() != m_tracks.size();
    m_tracks = std::move(tracks);
    if (m_selectedTrack >= static_cast<int>(m_tracks.size()))
        m_selectedTrack = -1;
    if (grown)
        updateGeometry();
    update();
}

void TimelineView::jumpToAnnotation(int direction)
{
    if (m_selectedTrack < 0)
        return;
    const AnnotationIndex::Row& row = *m_tracks[static_cast<std::size_t>(m_selectedTrack)].row;
    const std::int64_t from = cursor(m_activeCursor).value_or(direction > 0 ? viewStart() : m_viewEnd);
    std::size_t next = AnnotationIndex::firstAfter(row, from);
    if (direction < 0) {
        // The last that starts before the cursor.
        while (next > 0 && row.annotations[next - 1].from >= from)
            --next;
        if (next == 0)
            return;
        --next;
    }
    if (next < row.annotations.size())
        placeActiveCursor(row.annotations[next].from);
}

QString TimelineView::annotationText(int track, std::int64_t time) const
{
    const AnnotationIndex::Row& row = *m_tracks[static_cast<std::size_t>(track)].row;
    // The one under the pointer, give or take two pixels.
    const auto slack = static_cast<std::int64_t>(2 * m_nanosecondsPerPixel);
    if (const AnnotationIndex* index = m_tracks[static_cast<std::size_t>(track)].index) {
        const std::size_t restart = index->firstRestartAfter(time - slack);
        if (restart < index->restarts().size() && index->restarts()[restart].from <= time + slack)
            return QStringLiteral("Dekoder neu gestartet: von %1 bis %2 nicht lückenlos abgetastet, nichts darüber hinweg dekodiert")
                .arg(DurationText(static_cast<double>(index->restarts()[restart].from)),
                     DurationText(static_cast<double>(index->restarts()[restart].to)));
    }
    for (std::size_t n = AnnotationIndex::firstReaching(row, time - slack);
         n < row.annotations.size() && row.annotations[n].from <= time + slack; ++n) {
        const Annotation& annotation = row.annotations[n];
        if (annotation.to + slack >= time && !annotation.texts.empty())
            return QStringLiteral("%1\n%2 bis %3").arg(QString::fromStdString(annotation.texts.front()),
                                                     DurationText(static_cast<double>(annotation.from)),
                                                     DurationText(static_cast<double>(annotation.to)));
    }
    return levelsText(time);
}

void TimelineView::jumpToEdge(int direction)
{
    if (!m_capture)
        return;
    const std::uint32_t bit = RegisterModel::packedBit(Lines[m_selectedLine]);
    const std::int64_t from = cursor(m_activeCursor).value_or(direction > 0 ? viewStart() : m_viewEnd);
    const std::optional<std::int64_t> edge = m_capture->read([&](const ChangeRing& ring) -> std::optional<std::int64_t> {
        if (ring.empty())
            return std::nullopt;
        if (direction > 0) {
            for (std::uint64_t change = std::max(ring.firstAtOrAfter(from + 1), ring.oldest() + 1); change < ring.end(); ++change)
                if ((ring.registers(change) ^ ring.registers(change - 1)) & bit)
                    return ring.time(change);
        } else {
            for (std::uint64_t change = ring.firstAtOrAfter(from); change > ring.oldest() + 1; --change)
                if ((ring.registers(change - 1) ^ ring.registers(change - 2)) & bit)
                    return ring.time(change - 1);
        }
        return std::nullopt;
    });
    if (edge)
        placeActiveCursor(*edge);
}

QString TimelineView::tooltipAt(QPoint at) const
{
    const int row = rowAt(at.y());
    return row > BusRow ? annotationText(row - BusRow - 1, timeAt(at.x())) : levelsText(timeAt(at.x()));
}

void TimelineView::placeActiveCursor(std::int64_t time)
{
    setCursor(m_activeCursor, time);
    if (time < viewStart() || time >= m_viewEnd) {
        setView(time + static_cast<std::int64_t>(tracesWidth() * m_nanosecondsPerPixel / 2), m_nanosecondsPerPixel);
        emit viewMoved();
    }
}

void TimelineView::setTrigger(const Trigger& trigger)
{
    m_trigger = trigger;
    update();
}

void TimelineView::setTriggerMarks(std::vector<std::int64_t> marks)
{
    m_triggerMarks = std::move(marks);
    update();
}

void TimelineView::cycleCondition(std::size_t line, int step)
{
    const int next = (static_cast<int>(m_trigger.condition(line)) + step + 6) % 6;
    m_trigger.setCondition(line, static_cast<LineCondition>(next));
    update();
    emit triggerChanged();
}

QString TimelineView::levelsText(std::int64_t time) const
{
    QString text = QStringLiteral("t = %1").arg(DurationText(static_cast<double>(time)));
    if (!m_capture)
        return text;
    bool blind = false;
    const std::optional<std::uint32_t> registers = m_capture->read([&](const ChangeRing& ring) -> std::optional<std::uint32_t> {
        blind = !ring.blindBetween(time, time + 1).empty();
        const std::uint64_t after = ring.firstAtOrAfter(time + 1);
        if (ring.empty() || after == ring.oldest())
            return std::nullopt;
        return ring.registers(after - 1);
    });
    if (blind)
        return text + QStringLiteral("\nnicht abgetastet: Pegel unbekannt");
    if (!registers || time > m_now)
        return text;
    for (const std::size_t line : rowLines())
        text += QStringLiteral("\n%1 %2 = %3").arg(Lines[line].pin).arg(QString::fromLatin1(Lines[line].name))
                    .arg(RegisterModel::lineLevel(Lines[line], *registers) ? 1 : 0);
    return text + QStringLiteral("\ndata = ") + QStringLiteral("%1").arg(*registers & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}
