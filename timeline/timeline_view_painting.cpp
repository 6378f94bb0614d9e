#include "timeline_view.h"

#include "column_levels.h"
#include "port_capture.h"
#include "time_text.h"

#include <QPainter>

#include <cmath>

namespace {
using RegisterModel::Lines;

constexpr std::array<const char*, 6> ConditionSymbols = {"·", "L", "H", "↑", "↓", "↕"};
const QColor Background(24, 24, 24);
const QColor HeaderBackground(48, 48, 48);
const QColor SelectedHeader(70, 70, 110);
const QColor GridColor(60, 60, 60);
const QColor TextColor(220, 220, 220);
const QColor MixedColor(235, 235, 235); // a column in which a line took both levels
const std::array<QColor, 2> CursorColors = {QColor(255, 210, 0), QColor(0, 200, 255)};
const QColor TriggerColor(255, 120, 0);
const QColor BlindColor(150, 150, 150); // hatched over a stretch that was not sampled
const QColor AnnotationFill(34, 62, 100);
const QColor AnnotationEdge(96, 150, 215);
// Annotations narrower than this many pixels are drawn as one bar with those
// that start in the same few columns: a frame costs a bar per few columns at
// most, however many annotations the view holds.
constexpr int NarrowestBox = 3;

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

void TimelineView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Background);
    paintAxis(painter, true);
    const std::vector<ChangeRing::Blind> blind = blindInView();
    paintBlindBehind(painter, blind);
    paintTraces(painter);
    paintTracks(painter);
    paintBlindOver(painter, blind);
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
    for (std::size_t track = 0; track < m_tracks.size(); ++track) {
        const QRect header(0, rowTop(BusRow + 1 + static_cast<int>(track)), HeaderWidth, RowHeight);
        const bool selected = static_cast<int>(track) == m_selectedTrack;
        painter.fillRect(header.adjusted(0, 0, 0, -1), selected ? SelectedHeader : HeaderBackground);
        painter.setPen(TextColor);
        const QString title = painter.fontMetrics().elidedText(m_tracks[track].title, Qt::ElideRight, HeaderWidth - 8);
        painter.drawText(header.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, title);
    }
}

void TimelineView::paintTracks(QPainter& painter)
{
    for (std::size_t track = 0; track < m_tracks.size(); ++track)
        paintTrack(painter, m_tracks[track], rowTop(BusRow + 1 + static_cast<int>(track)));
}

// Boxes with the longest of an annotation's texts that fits, or none; then,
// hatched like a stretch not sampled, where the decoders started again.
void TimelineView::paintTrack(QPainter& painter, const DecoderTrack& track, int top)
{
    const AnnotationIndex::Row& row = *track.row;
    painter.setPen(GridColor);
    painter.drawLine(HeaderWidth, top + RowHeight - 1, width(), top + RowHeight - 1);
    painter.save();
    painter.setClipRect(QRect(HeaderWidth, top, tracesWidth(), RowHeight));
    const QRect band(0, top + 2, 0, RowHeight - 5);
    const QFontMetrics metrics(painter.font());
    const std::int64_t start = viewStart();
    const std::vector<Annotation>& all = row.annotations;
    for (std::size_t n = AnnotationIndex::firstReaching(row, start); n < all.size() && all[n].from < m_viewEnd;) {
        const Annotation& annotation = all[n];
        const int left = std::max(xAt(annotation.from), HeaderWidth - 1);
        const int right = std::min(xAt(annotation.to), width() + 1);
        if (annotation.to < start) {
            ++n;
        } else if (right - left >= NarrowestBox) {
            const QRect box(left, band.top(), right - left, band.height());
            painter.setPen(AnnotationEdge);
            painter.setBrush(AnnotationFill);
            painter.drawRect(box);
            for (const std::string& text : annotation.texts) {
                const QString shown = QString::fromStdString(text);
                if (metrics.horizontalAdvance(shown) + 4 <= box.width()) {
                    painter.setPen(TextColor);
                    painter.drawText(box, Qt::AlignCenter, shown);
                    break;
                }
            }
            ++n;
        } else {
            painter.fillRect(QRect(left, band.top(), NarrowestBox, band.height() + 1), AnnotationEdge);
            n = std::max(n + 1, AnnotationIndex::firstAfter(row, timeAt(left + NarrowestBox)));
        }
    }
    if (track.index) {
        // At least a few pixels each; those that meet on the screen drawn once.
        const std::vector<AnnotationIndex::Restart>& restarts = track.index->restarts();
        for (std::size_t n = track.index->firstRestartAfter(start); n < restarts.size() && restarts[n].from < m_viewEnd;) {
            const int left = std::max(xAt(restarts[n].from), HeaderWidth - 1);
            const int right = std::max(xAt(restarts[n].to), left + NarrowestBox);
            painter.fillRect(QRect(left, band.top(), right - left, band.height() + 1), QBrush(BlindColor, Qt::BDiagPattern));
            n = std::max(n + 1, track.index->firstRestartAfter(timeAt(right)));
        }
    }
    painter.restore();
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

// Over the traces, hatched and at least two pixels wide, so that nobody reads a
// level into a stretch that was not sampled. Stretches that meet on the screen
// are drawn as one, so that a frame costs at most one rectangle per column.
std::vector<ChangeRing::Blind> TimelineView::blindInView() const
{
    if (!m_capture)
        return {};
    return m_capture->read([start = viewStart(), end = m_viewEnd](const ChangeRing& ring) { return ring.blindBetween(start, end); });
}

// Behind the traces: every stretch hatched, at least two pixels wide, so that
// even one far shorter than a pixel shows without hiding a sample beside it.
void TimelineView::paintBlindBehind(QPainter& painter, const std::vector<ChangeRing::Blind>& blind)
{
    const std::int64_t start = viewStart();
    const auto draw = [&](int left, int right) { fillBlind(painter, left, right, false); };
    int left = 0, right = -1; // the stretch being gathered, none yet
    for (const ChangeRing::Blind& stretch : blind) {
        const int from = xAt(std::max(stretch.from, start));
        const int to = std::max(xAt(std::min(stretch.to, m_viewEnd)), from + 2);
        if (from <= right) {
            right = std::max(right, to);
            continue;
        }
        if (right >= 0)
            draw(left, right);
        left = from;
        right = to;
    }
    if (right >= 0)
        draw(left, right);
}

// Over the traces: the columns in which nothing was sampled, blacked out so
// that nobody reads a level into them. A column holding a sample keeps its
// trace. Their insides do not overlap, so at most one stretch per column draws.
void TimelineView::paintBlindOver(QPainter& painter, const std::vector<ChangeRing::Blind>& blind)
{
    const std::int64_t start = viewStart();
    for (const ChangeRing::Blind& stretch : blind) {
        const int from = stretch.from < start ? HeaderWidth : xAt(stretch.from) + 1;
        const int to = xAt(std::min(stretch.to, m_viewEnd));
        if (to > from)
            fillBlind(painter, from, to, true);
    }
}

void TimelineView::fillBlind(QPainter& painter, int left, int right, bool blackedOut)
{
    const int top = AxisHeight;
    const int height = rowTop(rowCount()) - AxisHeight;
    painter.save();
    painter.setClipRect(QRect(HeaderWidth, top, tracesWidth(), height));
    painter.setPen(Qt::NoPen);
    if (blackedOut)
        painter.fillRect(QRect(left, top, right - left, height), Qt::black);
    painter.setBrush(QBrush(BlindColor, Qt::BDiagPattern));
    painter.drawRect(QRect(left, top, right - left, height));
    painter.restore();
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
