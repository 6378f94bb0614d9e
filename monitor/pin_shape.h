#pragma once

#include "color_ref.h"

#include <QWidget>

// A circle with a thin black outline, filled with the colour that shows a
// line's level: one connector pin, or the sample blinker.
class PinShape : public QWidget {
    Q_OBJECT
    Q_PROPERTY(quint32 fill READ fill)
    Q_PROPERTY(int tag READ tag)

public:
    PinShape(int diameter, ColorRef fill, QWidget* parent = nullptr);

    ColorRef fill() const { return m_fill; }
    // Sets the fill and schedules a repaint; false when it already had it.
    bool setFill(ColorRef fill);

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    QSize sizeHint() const override { return size(); }

signals:
    // Any mouse button went down on the pin.
    void pressed(PinShape* pin);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    ColorRef m_fill;
    int m_tag = 0;
};
