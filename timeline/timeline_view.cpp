#include "timeline_view.h"

#include "column_levels.h"
#include "port_capture.h"
#include "time_text.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
using RegisterModel::Lines;

constexpr double FinestScale = 1.0;              // 1 ns per pixel
constexpr double CoarsestScale = 3600e9 / 100;   // an hour over 100 pixels
constexpr std::array<const char*, 6> ConditionSymbols = {"·", "L", "H", "↑", "↓", "↕"};
constexpr std::array<const char*, 6> ConditionNames = {"Egal", "Low", "High", "Steigende Flanke", "Fallende Flanke",
                                                       "Beide Flanken"};
const QColor Background(24, 24, 24);
const QColor HeaderBackground(48, 48, 48);
const QColor SelectedHeader(70, 70, 110);
const QColor GridColor(60, 60, 60);
const QColor TextColor(220, 220, 220);
const QColor MixedColor(235, 235, 235); // a column in which a line took both levels
const std::array<QColor, 2> CursorColors = {QColor(255, 210, 0), QColor(0, 200, 255)};
const QColor TriggerColor(255, 120, 0);

// The step between two labelled ticks: 1, 2 or 5 times a power of ten, at least minimum.
double tickStep(double minimum)
{
    const double power = std::pow(10.0, std::floor(std::log10(std::max(minimum, 1.0))));
    for (const double factor : {1.0, 2.0, 5.0, 10.0})
        if (factor * power >= minimum)
            return factor * power;
    return 10 * power;
}
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
    return {900, rowTop(BusRow + 1) + 4};
}

QSize TimelineView::minimumSizeHint() const
{
    return {HeaderWidth + 200, rowTop(BusRow + 1) + 4};
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
            QToolTip::showText(QCursor::pos(), levelsText(timeAt(at.x())), this);
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
    return row <= BusRow ? row : -1;
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
    update();
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
    if (!edge)
        return;
    setCursor(m_activeCursor, edge);
    // Bring the edge into view, keeping the scale.
    if (*edge < viewStart() || *edge >= m_viewEnd) {
        setView(*edge + static_cast<std::int64_t>(tracesWidth() * m_nanosecondsPerPixel / 2), m_nanosecondsPerPixel);
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
    const std::optional<std::uint32_t> registers = m_capture->read([time](const ChangeRing& ring) -> std::optional<std::uint32_t> {
        const std::uint64_t after = ring.firstAtOrAfter(time + 1);
        if (ring.empty() || after == ring.oldest())
            return std::nullopt;
        return ring.registers(after - 1);
    });
    if (!registers || time > m_now)
        return text;
    for (const std::size_t line : rowLines())
        text += QStringLiteral("\n%1 %2 = %3").arg(Lines[line].pin).arg(QString::fromLatin1(Lines[line].name))
                    .arg(RegisterModel::lineLevel(Lines[line], *registers) ? 1 : 0);
    return text + QStringLiteral("\ndata = ") + QStringLiteral("%1").arg(*registers & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

void TimelineView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Background);
    paintAxis(painter, true);
    paintTraces(painter);
    paintMarks(painter);
    paintHeaders(painter);
    paintAxis(painter, false);
}

void TimelineView::paintAxis(QPainter& painter, bool grid)
{
    const double step = tickStep(110 * m_nanosecondsPerPixel);
    const std::int64_t start = viewStart();
    const double first = std::ceil(static_cast<double>(start) / step) * step;
    if (grid) {
        // Under the traces, so that no line of a pulse hides behind it.
        painter.setPen(GridColor);
        for (double tick = first; tick <= static_cast<double>(m_viewEnd); tick += step)
            painter.drawLine(xAt(static_cast<std::int64_t>(tick)), AxisHeight, xAt(static_cast<std::int64_t>(tick)), height());
        return;
    }
    painter.fillRect(QRect(0, 0, width(), AxisHeight), HeaderBackground);
    painter.setPen(TextColor);
    for (double tick = first; tick <= static_cast<double>(m_viewEnd); tick += step) {
        const int x = xAt(static_cast<std::int64_t>(tick));
        painter.drawLine(x, AxisHeight - 6, x, AxisHeight);
        painter.drawText(x + 3, 4, 120, AxisHeight - 8, Qt::AlignLeft | Qt::AlignVCenter, AxisTimeText(tick, step));
    }
    painter.fillRect(QRect(0, 0, HeaderWidth, AxisHeight), HeaderBackground);
    painter.drawText(QRect(4, 0, HeaderWidth - 8, AxisHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("%1/px").arg(DurationText(m_nanosecondsPerPixel)));
}

void TimelineView::paintHeaders(QPainter& painter)
{
    for (int row = 0; row <= BusRow; ++row) {
        const QRect header(0, rowTop(row), HeaderWidth, RowHeight);
        const bool selected = row < BusRow && rowLines()[static_cast<std::size_t>(row)] == m_selectedLine;
        painter.fillRect(header.adjusted(0, 0, 0, -1), selected ? SelectedHeader : HeaderBackground);
        painter.setPen(TextColor);
        if (row == BusRow) {
            painter.drawText(header.adjusted(4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("D0-D7 hex"));
            continue;
        }
        const std::size_t line = rowLines()[static_cast<std::size_t>(row)];
        painter.drawText(header.adjusted(4, 0, -20, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("%1 %2").arg(Lines[line].pin).arg(QString::fromLatin1(Lines[line].name)));
        const LineCondition condition = m_trigger.condition(line);
        if (condition != LineCondition::DontCare)
            painter.setPen(TriggerColor);
        painter.drawText(QRect(HeaderWidth - 20, header.top(), 18, RowHeight), Qt::AlignCenter,
                         QString::fromUtf8(ConditionSymbols[static_cast<std::size_t>(condition)]));
    }
}

void TimelineView::paintTraces(QPainter& painter)
{
    const int columns = tracesWidth();
    const ColumnLevels levels = m_capture
        ? m_capture->read([&](const ChangeRing& ring) {
              return ColumnLevels::of(ring, viewStart(), m_nanosecondsPerPixel, columns, m_now);
          })
        : ColumnLevels::of(ChangeRing(1), 0, 1, columns, 0);

    for (int row = 0; row < BusRow; ++row) {
        const std::uint32_t bit = RegisterModel::packedBit(Lines[rowLines()[static_cast<std::size_t>(row)]]);
        const bool inverted = Lines[rowLines()[static_cast<std::size_t>(row)]].inverted;
        const int high = rowTop(row) + 3;
        const int low = rowTop(row) + RowHeight - 4;
        painter.setPen(GridColor);
        painter.drawLine(HeaderWidth, rowTop(row + 1) - 1, width(), rowTop(row + 1) - 1);

        // Runs of one level become one segment; a column in which the line took
        // both levels, a bar from high to low, however short the pulse.
        QVector<QLine> highs, lows, mixed;
        int runStart = 0;
        int runLevel = -1; // -1 unknown or none, 0 low, 1 high
        const auto endRun = [&](int x) {
            if (runLevel == 1)
                highs.append(QLine(HeaderWidth + runStart, high, HeaderWidth + x, high));
            else if (runLevel == 0)
                lows.append(QLine(HeaderWidth + runStart, low, HeaderWidth + x, low));
        };
        for (int x = 0; x < columns; ++x) {
            const auto column = static_cast<std::size_t>(x);
            int level = -1;
            bool both = false;
            if (levels.known[column]) {
                const bool any = levels.seen[column].anySet & bit;
                const bool all = levels.seen[column].allSet & bit;
                both = any != all;
                level = both ? -1 : (any != inverted ? 1 : 0);
            }
            if (both)
                mixed.append(QLine(HeaderWidth + x, high, HeaderWidth + x, low));
            if (level != runLevel || both) {
                endRun(x);
                runStart = x;
                runLevel = level;
            }
        }
        endRun(columns);
        painter.setPen(QPen(m_high, 2));
        painter.drawLines(highs);
        painter.setPen(QPen(m_low, 2));
        painter.drawLines(lows);
        painter.setPen(QPen(MixedColor, 1));
        painter.drawLines(mixed);
    }
    paintBus(painter, levels);
}

void TimelineView::paintBus(QPainter& painter, const ColumnLevels& levels)
{
    const int top = rowTop(BusRow) + 3;
    const int bottom = rowTop(BusRow) + RowHeight - 4;
    const int columns = tracesWidth();
    const QFontMetrics metrics(painter.font());
    int runStart = 0;
    int runValue = -1; // -1 unknown, 256 several values in one column
    const auto endRun = [&](int x) {
        if (runValue < 0)
            return;
        const int left = HeaderWidth + runStart;
        const int right = HeaderWidth + x;
        if (runValue == 256) {
            painter.fillRect(QRect(left, top, right - left, bottom - top), MixedColor);
            return;
        }
        painter.setPen(QPen(m_high, 1));
        painter.drawLine(left, top, right, top);
        painter.drawLine(left, bottom, right, bottom);
        painter.drawLine(left, top, left, bottom);
        const QString text = QStringLiteral("%1").arg(runValue, 2, 16, QLatin1Char('0')).toUpper();
        if (metrics.horizontalAdvance(text) + 4 < right - left) {
            painter.setPen(TextColor);
            painter.drawText(QRect(left, top, right - left, bottom - top), Qt::AlignCenter, text);
        }
    };
    for (int x = 0; x < columns; ++x) {
        const auto column = static_cast<std::size_t>(x);
        int value = -1;
        if (levels.known[column]) {
            const std::uint32_t any = levels.seen[column].anySet & 0xFF;
            const std::uint32_t all = levels.seen[column].allSet & 0xFF;
            value = any == all ? static_cast<int>(any) : 256;
        }
        if (value != runValue) {
            endRun(x);
            runStart = x;
            runValue = value;
        }
    }
    endRun(columns);
}

void TimelineView::paintMarks(QPainter& painter)
{
    painter.setClipRect(QRect(HeaderWidth, 0, tracesWidth(), height()));
    painter.setPen(QPen(TriggerColor, 1, Qt::DashLine));
    const std::int64_t start = viewStart();
    for (const std::int64_t mark : m_triggerMarks) {
        if (mark < start || mark > m_viewEnd)
            continue;
        const int x = xAt(mark);
        painter.drawLine(x, AxisHeight, x, height());
        const QPoint tip[] = {{x - 5, 0}, {x + 5, 0}, {x, 8}};
        painter.setBrush(TriggerColor);
        painter.drawPolygon(tip, 3);
    }
    for (int which = 0; which < 2; ++which) {
        const std::optional<std::int64_t> time = m_cursors[static_cast<std::size_t>(which)];
        if (!time)
            continue;
        const int x = xAt(*time);
        painter.setPen(QPen(CursorColors[static_cast<std::size_t>(which)], which == m_activeCursor ? 2 : 1));
        painter.drawLine(x, AxisHeight, x, height());
        painter.drawText(x + 3, AxisHeight + 12, which == 0 ? QStringLiteral("A") : QStringLiteral("B"));
    }
    painter.setClipping(false);
}

void TimelineView::wheelEvent(QWheelEvent* event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0)
        zoomBy(std::pow(1.25, notches), static_cast<int>(event->position().x()));
    event->accept();
}

void TimelineView::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const int row = rowAt(at.y());
    if (at.x() < HeaderWidth) {
        if (row < 0 || row >= BusRow)
            return;
        const std::size_t line = rowLines()[static_cast<std::size_t>(row)];
        selectLine(line);
        // The trigger's cell: a click steps through the conditions, a right click lists them.
        if (at.x() >= HeaderWidth - 20) {
            if (event->button() == Qt::RightButton) {
                QMenu menu(this);
                for (std::size_t n = 0; n < ConditionNames.size(); ++n)
                    menu.addAction(QString::fromUtf8(ConditionNames[n]), this, [this, line, n] {
                        cycleCondition(line, static_cast<int>(n) - static_cast<int>(m_trigger.condition(line)));
                    });
                menu.exec(event->globalPosition().toPoint());
            } else {
                cycleCondition(line, 1);
            }
        }
        return;
    }
    if (event->button() == Qt::LeftButton) {
        m_pressedAt = at;
        m_pressedViewEnd = m_viewEnd;
        m_dragging = false;
    } else if (event->button() == Qt::RightButton) {
        setCursor(1 - m_activeCursor, timeAt(at.x()));
    }
}

void TimelineView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (m_pressedAt && (event->buttons() & Qt::LeftButton)) {
        const int moved = at.x() - m_pressedAt->x();
        m_dragging = m_dragging || std::abs(moved) > 3;
        if (m_dragging) {
            setView(m_pressedViewEnd - static_cast<std::int64_t>(std::llround(moved * m_nanosecondsPerPixel)), m_nanosecondsPerPixel);
            emit viewMoved();
        }
        return;
    }
    if (at.x() >= HeaderWidth && rowAt(at.y()) >= 0)
        QToolTip::showText(event->globalPosition().toPoint(), levelsText(timeAt(at.x())), this);
}

void TimelineView::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_pressedAt && !m_dragging && event->button() == Qt::LeftButton)
        setCursor(m_activeCursor, timeAt(m_pressedAt->x()));
    m_pressedAt.reset();
    m_dragging = false;
}

void TimelineView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Plus:
        zoomBy(2, HeaderWidth + tracesWidth() / 2);
        break;
    case Qt::Key_Minus:
        zoomBy(0.5, HeaderWidth + tracesWidth() / 2);
        break;
    case Qt::Key_Left:
        jumpToEdge(-1);
        break;
    case Qt::Key_Right:
        jumpToEdge(1);
        break;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const auto& rows = rowLines();
        const auto place = std::find(rows.begin(), rows.end(), m_selectedLine) - rows.begin();
        const auto next = std::clamp<long>(place + (event->key() == Qt::Key_Up ? -1 : 1), 0, 16);
        selectLine(rows[static_cast<std::size_t>(next)]);
        break;
    }
    case Qt::Key_Tab:
        setActiveCursor(1 - m_activeCursor);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}
