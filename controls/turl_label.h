#pragma once

#include "color_ref.h"

#include <QLabel>
#include <QString>

class DesktopServices;
class QMenu;

// A label that works as a link: a click opens URL (or, when URL is blank, the caption)
// with the desktop's handler. Underlined blue text, ActiveColor while the left button
// is held, a hand pointer and a context menu whose one item copies the caption.
class TUrlLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString URL READ url WRITE setUrl)
    Q_PROPERTY(ColorRef ActiveColor READ activeColor WRITE setActiveColor)

public:
    explicit TUrlLabel(DesktopServices& services, QWidget* parent = nullptr);

    // The address to open; blank means the caption is opened instead.
    const QString& url() const { return m_url; }
    void setUrl(const QString& url) { m_url = url; }

    // The font colour while the left button is held down on the label.
    ColorRef activeColor() const { return m_activeColor; }
    void setActiveColor(ColorRef color) { m_activeColor = color; }

    // The font colour, shown through the palette's WindowText.
    ColorRef fontColor() const { return m_fontColor; }
    void setFontColor(ColorRef color);

    // The label's own context menu, with the single item "Copy".
    QMenu* contextMenu() const { return m_contextMenu; }

signals:
    // A left click on the label; emitted before the link is opened.
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void openLink();
    void copyCaption();

    DesktopServices& m_services;
    QString m_url;
    ColorRef m_activeColor = 0x800080;
    ColorRef m_fontColor = 0xFF0000;
    ColorRef m_rememberedColor = 0;
    bool m_leftPressed = false;
    QMenu* m_contextMenu = nullptr;
};
