#pragma once

#include <QAbstractItemDelegate>

class TColorDrop;

// Paints the popup rows of a TColorDrop with the control's own row drawing.
class ColorDropDelegate : public QAbstractItemDelegate {
    Q_OBJECT

public:
    explicit ColorDropDelegate(const TColorDrop& drop, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const TColorDrop& m_drop;
};
