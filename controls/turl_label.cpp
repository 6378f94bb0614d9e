#include "turl_label.h"

#include "desktop_services.h"
#include "velkaro_resources.h"

#include <QBitmap>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>

namespace {

// The 32 x 32 two-colour hand, tip of the index finger at column 5, row 0. Loaded once
// and shared by every label.
const QCursor& handCursor()
{
    static const QCursor cursor = [] {
        initVelkaroResources();
        return QCursor(QBitmap(QStringLiteral(":/velkaro/hand.xbm")), QBitmap(QStringLiteral(":/velkaro/hand_mask.xbm")),
                       5, 0);
    }();
    return cursor;
}

// Only the blank character makes a text blank; a tab or a line end is content.
bool isBlank(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c == QLatin1Char(' '); });
}

} // namespace

TUrlLabel::TUrlLabel(DesktopServices& services, QWidget* parent)
    : QLabel(parent), m_services(services), m_contextMenu(new QMenu(this))
{
    setFontColor(m_fontColor);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(handCursor());
    connect(m_contextMenu->addAction(QStringLiteral("Copy")), &QAction::triggered, this, &TUrlLabel::copyCaption);
}

void TUrlLabel::setFontColor(ColorRef color)
{
    m_fontColor = color;
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, toQColor(color, colors));
    setPalette(colors);
}

void TUrlLabel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_leftPressed = true;
        m_rememberedColor = m_fontColor;
        setFontColor(m_activeColor);
    }
    QLabel::mousePressEvent(event);
    // QLabel ignores presses on plain text; accepting keeps the mouse grab, so the
    // release comes back here even when it happens outside the label.
    event->accept();
}

void TUrlLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    if (m_leftPressed && rect().contains(event->position().toPoint())) {
        emit clicked();
        openLink();
    }
    m_leftPressed = false;
    setFontColor(m_rememberedColor);
    QLabel::mouseReleaseEvent(event);
}

void TUrlLabel::contextMenuEvent(QContextMenuEvent* event)
{
    m_contextMenu->popup(event->globalPos());
    event->accept();
}

void TUrlLabel::openLink()
{
    const QString target = isBlank(m_url) ? text() : m_url;
    if (!isBlank(target))
        m_services.openUrl(target);
}

void TUrlLabel::copyCaption()
{
    QGuiApplication::clipboard()->setText(text());
}
