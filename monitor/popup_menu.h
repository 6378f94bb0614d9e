#pragma once

#include "cell_panel.h"

#include <QMenu>
#include <QPointer>

// A context menu that remembers the cell it was opened on; its commands act on
// that cell's row.
class PopupMenu : public QMenu {
    Q_OBJECT

public:
    using QMenu::QMenu;

    CellPanel* PopupComponent() const { return m_popupComponent; }
    // Opens the menu for the cell at the global position, without blocking.
    void popupOn(CellPanel* cell, const QPoint& globalPos)
    {
        m_popupComponent = cell;
        popup(globalPos);
    }

private:
    QPointer<CellPanel> m_popupComponent;
};
