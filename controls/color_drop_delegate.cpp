#include "color_drop_delegate.h"

#include "tcolor_drop.h"

#include <QFontMetrics>
#include <QStyleOptionViewItem>

ColorDropDelegate::ColorDropDelegate(const TColorDrop& drop, QObject* parent)
    : QAbstractItemDelegate(parent), m_drop(drop)
{
}

void ColorDropDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    m_drop.drawRow(*painter, index.row(), option.rect, option.state.testFlag(QStyle::State_Selected));
}

QSize ColorDropDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const int height = m_drop.rowHeight();
    const int textWidth = m_drop.fontMetrics().horizontalAdvance(m_drop.itemText(index.row()));
    return {height + 4 + textWidth + 4, height};
}
