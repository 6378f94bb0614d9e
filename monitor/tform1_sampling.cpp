#include "tform1.h"

#include "cell_panel.h"
#include "desktop_services.h"
#include "pin_shape.h"
#include "popup_menu.h"
#include "port_channel.h"
#include "port_probe.h"
#include "register_text.h"
#include "tform2.h"
#include "timeline_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QTimer>

#include <algorithm>

void TForm1::SampleRegisters()
{
    showSample(std::nullopt);
}

void TForm1::showSample(std::optional<std::uint32_t> sampled)
{
    if (!Burst->isHidden()) {
        Timer2->stop();
        PaintPinHigh(Burst, true);
        Timer2->start();
    }
    // Without a found port there is nothing to read.
    if (PortBase == 0)
        return;

    const std::uint32_t registers = sampled ? *sampled : m_channel.ReadRegisters(PortBase, m_sampleWithByteReads);
    bool beep = false;
    for (int row = 0; row < 3; ++row) {
        const auto value = static_cast<std::uint8_t>(registers >> (8 * row));
        if (value == shownValue(row))
            continue;
        showRow(row, value);
        beep = beep || (BeepMask & (1u << row));
    }
    if (beep)
        m_desktop.beep();
}

std::uint8_t& TForm1::shownValue(int row)
{
    return row == 0 ? DataValue : row == 1 ? StatusValue : ControlValue;
}

void TForm1::showRow(int row, std::uint8_t value)
{
    shownValue(row) = value;
    PortDec[row]->setCaption(DecText(value));
    PortHex[row]->setCaption(HexText(value));
    PortBin[row]->setCaption(BinText(value));
    if (!ConnectorInactive)
        showRowPins(row);
    if (Form2 && Form2->isVisible() && Form2->PortAddress == static_cast<std::uint16_t>(PortBase + row))
        Form2->Refresh();
}

void TForm1::showRowPins(int row)
{
    if (row == 0)
        ShowDataPins();
    else if (row == 1)
        ShowStatusPins();
    else
        ShowControlPins();
}

void TForm1::ResetDisplay()
{
    for (int row = 0; row < 3; ++row)
        PortLabel[row]->setCaption(PortBase == 0 ? QString() : AddressText(static_cast<std::uint16_t>(PortBase + row)));
    if (PortBase == 0)
        return updateTimeline();
    for (std::size_t i = 0; i < PortList.size(); ++i)
        if (PortList[i] == PortBase)
            m_sampleWithByteReads = m_byteReads[i];
    const std::uint32_t registers = m_channel.ReadRegisters(PortBase, m_sampleWithByteReads);
    DataValue = static_cast<std::uint8_t>(~registers);
    StatusValue = static_cast<std::uint8_t>(~(registers >> 8));
    ControlValue = static_cast<std::uint8_t>(~(registers >> 16));
    updateTimeline();
}

namespace {
// Milliseconds between two idle samples taken from the timeline's capture: a frame at 60 Hz.
constexpr int FrameInterval = 16;
}

void TForm1::IdleSample()
{
    cycleSample();
}

void TForm1::Timer1Timer()
{
    cycleSample();
}

void TForm1::cycleSample()
{
    // While the timeline captures this port, its thread reads the port without
    // pause; its newest sample is as fresh as a read here, and taking it leaves
    // the port to that thread. The idle hook then needs to look only as often
    // as the screen shows a frame: the processor it would spin on is the
    // capture's. After a write the window reads for itself.
    const PortCapture* capture = Timeline ? Timeline->capture() : nullptr;
    const bool fromCapture = capture && capture->running() && capture->port().base == PortBase &&
                             capture->port().byteReads == m_sampleWithByteReads;
    const int idleInterval = fromCapture ? FrameInterval : 0;
    if (IdleHook->interval() != idleInterval)
        IdleHook->setInterval(idleInterval);
    showSample(fromCapture ? capture->newest() : std::nullopt);
}

void TForm1::Timer2Timer()
{
    PaintPinLow(Burst, true);
    Timer2->stop();
}

void TForm1::SampleRateChange()
{
    if (SampleRate->currentIndex() <= 0) {
        Timer1->stop();
        IdleHook->start();
        return;
    }
    IdleHook->stop();
    Timer1->setInterval(IntervalFromItem(SampleRate->currentText()));
    Timer1->start();
}

void TForm1::stopSampling()
{
    if (Timeline)
        Timeline->stopCapture();
    IdleHook->stop();
    Timer1->stop();
    Timer2->stop();
}

void TForm1::SampleBlinkClick()
{
    Burst->setVisible(SampleBlink->isChecked());
}

void TForm1::buildPortList(int storedPort)
{
    PortIndex = 0;
    const std::vector<FoundPort> found = FindPorts(m_channel, m_otherBases);
    PortList.assign(std::max<std::size_t>(found.size(), 3), 0);
    m_byteReads.assign(PortList.size(), false);
    for (std::size_t i = 0; i < found.size(); ++i) {
        PortList[i] = found[i].base;
        m_byteReads[i] = found[i].byteReads;
        if (i == 0)
            PopupMenu3->addSeparator();
        QAction* entry = PopupMenu3->addAction(AddressText(PortList[i]));
        connect(entry, &QAction::triggered, this, [this, entry] { PortMenuItemClick(entry); });
        if (storedPort != 0 && storedPort == PortList[i])
            PortIndex = static_cast<std::uint8_t>(i);
    }
}
