#include "pin_shape.h"

#include <QMouseEvent>
#include <QPainter>

PinShape::PinShape(int diameter, ColorRef fill, QWidget* parent) : QWidget(parent), m_fill(fill)
{
    setFixedSize(diameter, diameter);
}

bool PinShape::setFill(ColorRef fill)
{
    if (fill == m_fill)
        return false;
    m_fill = fill;
    update();
    return true;
}

void PinShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(Qt::black);
    painter.setBrush(toQColor(m_fill, palette()));
    painter.drawEllipse(0, 0, width() - 1, height() - 1);
}

void PinShape::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    emit pressed(this);
}
