#include "timeline_view.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
constexpr std::array<const char*, 6> ConditionNames = {"Egal", "Low", "High", "Steigende Flanke", "Fallende Flanke",
                                                       "Beide Flanken"};
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
        if (row > BusRow)
            selectTrack(row - BusRow - 1);
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
        QToolTip::showText(event->globalPosition().toPoint(), tooltipAt(at), this);
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
    case Qt::Key_Right: {
        const int direction = event->key() == Qt::Key_Left ? -1 : 1;
        if (m_selectedTrack >= 0)
            jumpToAnnotation(direction);
        else
            jumpToEdge(direction);
        break;
    }
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
