#pragma once

#include "color_ref.h"

#include <QComboBox>

class QPainter;

// A drop-down list of the 18 named colours, each row a swatch and the colour's name,
// in rows 4 pixels taller than the font. The user picks, never types.
class TColorDrop : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(ColorRef SelectedColor READ selectedColor WRITE setSelectedColor)
    Q_PROPERTY(ColorRef Color READ color WRITE setColor)

public:
    explicit TColorDrop(QWidget* parent = nullptr);

    // The colour of the selected entry.
    ColorRef selectedColor() const { return m_selectedColor; }
    // Selects the first entry with this colour; a colour not in the list is ignored.
    // Never emits colorChanged().
    void setSelectedColor(ColorRef color);

    // The background of unselected rows; the system window colour by default.
    ColorRef color() const { return m_color; }
    void setColor(ColorRef color);

    // The height of a row, in the list and in the selection field: the font's pixel
    // height plus 4.
    int rowHeight() const { return m_rowHeight; }

    // Paints entry `row` into `rect`; x positions count from the painter's origin, which
    // is the left edge of the list or of the control.
    void drawRow(QPainter& painter, int row, const QRect& rect, bool selected) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The user picked an entry; selectedColor() already holds its colour.
    void colorChanged();

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setRowHeights();
    void pick(int index);
    QSize withRowHeight(QSize hint) const;

    ColorRef m_selectedColor = 0;
    ColorRef m_color = SystemWindowColor;
    int m_rowHeight = 0;
};
