#include "cell_panel.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>

CellPanel::CellPanel(QWidget* parent, Bevel bevel) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | (bevel == Bevel::Lowered ? QFrame::Sunken : QFrame::Raised));
    setLineWidth(1);
}

void CellPanel::setCaption(const QString& caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    update();
}

void CellPanel::setColors(const QColor& background, const QColor& text)
{
    QPalette colors = palette();
    colors.setColor(QPalette::Window, background);
    colors.setColor(QPalette::WindowText, text);
    setPalette(colors);
    setAutoFillBackground(true);
}

void CellPanel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (m_caption.isEmpty())
        return;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(contentsRect(), Qt::AlignCenter, m_caption);
}

void CellPanel::mousePressEvent(QMouseEvent* event)
{
    m_leftPressed = event->button() == Qt::LeftButton;
    QFrame::mousePressEvent(event);
}

void CellPanel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_leftPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_leftPressed = false;
    QFrame::mouseReleaseEvent(event);
    if (click)
        emit clicked(this);
}

// The second press of a double-click makes the double-click, not a second click;
// the cells have no double-click of their own.
void CellPanel::mouseDoubleClickEvent(QMouseEvent* event)
{
    m_leftPressed = false;
    event->accept();
}

void CellPanel::contextMenuEvent(QContextMenuEvent* event)
{
    emit contextMenuRequested(this, event->globalPos());
    event->accept();
}
