#include "tcolor_drop.h"

#include "color_drop_delegate.h"
#include "color_table.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QFontInfo>
#include <QPainter>
#include <QProxyStyle>
#include <QSignalBlocker>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace {
constexpr int DropDownCount = 8;

// Opens the list as a scrolling list of maxVisibleItems rows where the style (Fusion)
// would open a menu of all of them.
class ScrollingListStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override
    {
        return hint == SH_ComboBox_Popup ? 0 : QProxyStyle::styleHint(hint, option, widget, data);
    }
};
}

TColorDrop::TColorDrop(QWidget* parent) : QComboBox(parent)
{
    auto* listStyle = new ScrollingListStyle;
    listStyle->setParent(this);
    setStyle(listStyle);
    setMaxVisibleItems(DropDownCount);
    setItemDelegate(new ColorDropDelegate(*this, this));
    for (const NamedColor& entry : ColorTable)
        addItem(QString::fromUtf8(entry.name), QVariant::fromValue(entry.value));
    setRowHeights();
    setSelectedColor(m_selectedColor);
    connect(this, &QComboBox::activated, this, &TColorDrop::pick);
}

void TColorDrop::setSelectedColor(ColorRef color)
{
    const int index = colorTableIndex(color);
    if (index < 0)
        return;
    m_selectedColor = color;
    const QSignalBlocker quiet(this);
    setCurrentIndex(index);
}

void TColorDrop::setColor(ColorRef color)
{
    m_color = color;
    update();
    view()->viewport()->update();
}

void TColorDrop::drawRow(QPainter& painter, int row, const QRect& rect, bool selected) const
{
    const QPalette& colors = palette();
    const int h = rect.height();
    painter.save();
    painter.fillRect(rect, toQColor(selected ? SystemHighlightColor : m_color, colors));
    painter.setPen(colors.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter.setFont(font());
    painter.drawText(QRect(h + 4, rect.top(), rect.right() - h - 3, h), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     itemText(row));
    // The swatch spans (4, top + 2) to (h, bottom - 2), right and bottom exclusive; a
    // one-pixel outline covers one pixel more than the rectangle's width and height.
    // Only the text takes the highlight's text colour; the outline keeps the font's.
    painter.setPen(colors.color(QPalette::Text));
    painter.setBrush(toQColor(itemData(row).value<ColorRef>(), colors));
    painter.drawRect(QRect(4, rect.top() + 2, h - 5, h - 5));
    painter.restore();
}

QSize TColorDrop::sizeHint() const
{
    return withRowHeight(QComboBox::sizeHint());
}

QSize TColorDrop::minimumSizeHint() const
{
    return withRowHeight(QComboBox::minimumSizeHint());
}

void TColorDrop::changeEvent(QEvent* event)
{
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        setRowHeights();
}

void TColorDrop::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    painter.setClipRect(field);
    const QRect row(field.left(), field.top() + (field.height() - m_rowHeight) / 2, field.width(), m_rowHeight);
    drawRow(painter, currentIndex(), row, hasFocus());
}

void TColorDrop::setRowHeights()
{
    m_rowHeight = QFontInfo(font()).pixelSize() + 4;
    view()->doItemsLayout(); // the list keeps the rows' places until laid out again
    updateGeometry();
    update();
}

void TColorDrop::pick(int index)
{
    m_selectedColor = itemData(index).value<ColorRef>();
    emit colorChanged();
}

QSize TColorDrop::withRowHeight(QSize hint) const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    hint.setHeight(style()->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(hint.width(), m_rowHeight), this).height());
    return hint;
}
