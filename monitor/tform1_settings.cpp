#include "tform1.h"

#include "cell_panel.h"
#include "desktop_services.h"
#include "register_text.h"
#include "tcolor_drop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>

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

    const int left = m_settings.readCoordinate("Left", x());
    const int top = m_settings.readCoordinate("Top", y());
    // Without a stored place the desktop chooses one.
    if (left != x() || top != y())
        move(left, top);

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

void TForm1::FormDestroy()
{
    const std::pair<const char*, int> keys[] = {
        {"HighColor", static_cast<int>(HighColorBox->selectedColor())},
        {"LowColor", static_cast<int>(LowColorBox->selectedColor())},
        {"Left", x()},
        {"Top", y()},
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
