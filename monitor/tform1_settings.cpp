#include "tform1.h"

#include "cell_panel.h"
#include "desktop_services.h"
#include "register_text.h"
#include "tcolor_drop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QMoveEvent>
#include <QSignalBlocker>
#include <QWindow>

#include <utility>

namespace {
// An item index read from the file; one outside the list selects the first item.
int listIndex(int stored, int count)
{
    return stored >= 0 && stored < count ? stored : 0;
}
}

void TForm1::readSettings(int& storedPort)
{
    HighColorBox->setSelectedColor(static_cast<ColorRef>(m_settings.readInteger("HighColor", static_cast<int>(HighColorBox->selectedColor()))));
    LowColorBox->setSelectedColor(static_cast<ColorRef>(m_settings.readInteger("LowColor", static_cast<int>(LowColorBox->selectedColor()))));
    HighColor = HighColorBox->selectedColor();
    LowColor = LowColorBox->selectedColor();
    ShowGroundPins();

    // Without a stored place the desktop chooses one; a stored one applies whatever it is.
    m_storedLeft = m_settings.readCoordinate("Left");
    m_storedTop = m_settings.readCoordinate("Top");
    if (m_storedLeft || m_storedTop)
        move(m_storedLeft.value_or(x()), m_storedTop.value_or(y()));
    m_placedAt = pos();

    storedPort = m_settings.readInteger("Port", 0);

    {
        const QSignalBlocker blocker(ConType);
        ConType->setCurrentIndex(listIndex(m_settings.readInteger("Connector", 0), ConType->count()));
    }
    if (ConType->currentIndex() == 1)
        MirrorConnector();

    {
        const QSignalBlocker blocker(SampleRate);
        SampleRate->setCurrentIndex(listIndex(m_settings.readInteger("SampleRate", 0), SampleRate->count()));
    }
    SampleRateChange();

    BeepMask = static_cast<std::uint8_t>(m_settings.readInteger("Beeps", 0));
    for (int row = 0; row < 3; ++row)
        if (BeepMask & (1u << row))
            BeepCell[row]->setCaption(QStringLiteral("Ja "));

    // Setting a check box runs its handler when the state changes, as a click would.
    OnTop->setChecked(m_settings.readBoolean("OnTop", false));
    DisableCon->setChecked(m_settings.readBoolean("DisableCon", false));
    if (DisableCon->isChecked())
        ConnectorOff();
    SampleBlink->setChecked(m_settings.readBoolean("SampleBlink", false));
}

// Moves the window system makes before the window is first seen are its answer to
// the place asked for, which it need not take: X11 coordinates are 16-bit, and a
// window manager may keep a window on the screen. A move of the seen window is the user's.
void TForm1::moveEvent(QMoveEvent* event)
{
    if (event->spontaneous() && !m_placeSettled) {
        m_placeSettled = windowHandle() && windowHandle()->isExposed();
        if (!m_placeSettled)
            m_placedAt = pos();
    }
    QWidget::moveEvent(event);
}

void TForm1::FormDestroy()
{
    const auto place = [](std::optional<int> stored, int placed, int now) {
        return stored && now == placed ? *stored : now;
    };
    const std::pair<const char*, int> keys[] = {
        {"HighColor", static_cast<int>(HighColorBox->selectedColor())},
        {"LowColor", static_cast<int>(LowColorBox->selectedColor())},
        {"Left", place(m_storedLeft, m_placedAt.x(), x())},
        {"Top", place(m_storedTop, m_placedAt.y(), y())},
        {"Port", PortBase},
        {"Connector", ConType->currentIndex()},
        {"SampleRate", SampleRate->currentIndex()},
        {"Beeps", BeepMask},
        {"OnTop", OnTop->isChecked()},
        {"DisableCon", DisableCon->isChecked()},
        {"SampleBlink", SampleBlink->isChecked()},
    };
    for (const auto& [key, value] : keys) {
        if (!m_settings.writeInteger(key, value)) {
            m_desktop.showError(nullptr, m_settings.writeFailureText());
            return;
        }
    }
}
