#include "tform1.h"

#include "connector_layout.h"
#include "pin_shape.h"
#include "port_channel.h"
#include "tcolor_drop.h"

#include <QCheckBox>

namespace {
constexpr ColorRef Grey = 0x808080;
constexpr std::array<std::size_t, 8> DataPins = {pinIndex("D0"), pinIndex("D1"), pinIndex("D2"), pinIndex("D3"),
                                                 pinIndex("D4"), pinIndex("D5"), pinIndex("D6"), pinIndex("D7")};
}

void TForm1::PaintPinHigh(PinShape* pin, bool repaintNow)
{
    if (pin->setFill(HighColor) && repaintNow)
        pin->repaint();
}

void TForm1::PaintPinLow(PinShape* pin, bool repaintNow)
{
    if (pin->setFill(LowColor) && repaintNow)
        pin->repaint();
}

void TForm1::ShowPin(std::uint8_t value, std::uint8_t mask, PinShape* pin)
{
    if (value & mask)
        PaintPinHigh(pin, false);
    else
        PaintPinLow(pin, false);
}

void TForm1::ShowPinInverted(std::uint8_t value, std::uint8_t mask, PinShape* pin)
{
    if (value & mask)
        PaintPinLow(pin, false);
    else
        PaintPinHigh(pin, false);
}

void TForm1::ShowDataPins()
{
    for (int bit = 0; bit < 8; ++bit)
        ShowPin(DataValue, static_cast<std::uint8_t>(1u << bit), m_pins[DataPins[bit]]);
}

void TForm1::ShowStatusPins()
{
    ShowPin(StatusValue, 0x08, m_pins[pinIndex("Err")]);
    ShowPin(StatusValue, 0x20, m_pins[pinIndex("PaperOut")]);
    ShowPin(StatusValue, 0x40, m_pins[pinIndex("ACK")]);
    ShowPin(StatusValue, 0x10, m_pins[pinIndex("SlctOut")]);
    // Busy is inverted by the port hardware: register bit 7 is NOT the line.
    ShowPinInverted(StatusValue, 0x80, m_pins[pinIndex("Busy")]);
}

void TForm1::ShowControlPins()
{
    // Strobe, Select In and Auto Feed are inverted lines; Init is not.
    ShowPinInverted(ControlValue, 0x01, m_pins[pinIndex("STB")]);
    ShowPinInverted(ControlValue, 0x08, m_pins[pinIndex("SlctIn")]);
    ShowPinInverted(ControlValue, 0x02, m_pins[pinIndex("AFD")]);
    ShowPin(ControlValue, 0x04, m_pins[pinIndex("Init")]);
}

void TForm1::ShowGroundPins()
{
    for (std::size_t i = 0; i < ConnectorPins.size(); ++i)
        if (isGround(ConnectorPins[i]))
            m_pins[i]->setFill(LowColor);
}

void TForm1::ConnectorOn()
{
    ConnectorInactive = false;
    ShowGroundPins();
    ShowDataPins();
    ShowStatusPins();
    ShowControlPins();
}

void TForm1::ConnectorOff()
{
    ConnectorInactive = true;
    for (PinShape* pin : m_pins)
        pin->setFill(Grey);
}

void TForm1::MirrorConnector()
{
    for (const auto& pair : MirroredPinPairs)
        SwapPinPlaces(pin(pair[0]), pin(pair[1]));
}

void TForm1::SwapPinPlaces(PinShape* first, PinShape* second)
{
    const QPoint place = first->pos();
    first->move(second->pos());
    second->move(place);
}

void TForm1::ConTypeChange()
{
    MirrorConnector();
}

void TForm1::HighColorBoxChange()
{
    HighColor = HighColorBox->selectedColor();
    ResetDisplay();
}

void TForm1::LowColorBoxChange()
{
    LowColor = LowColorBox->selectedColor();
    ShowGroundPins();
    ResetDisplay();
}

void TForm1::DisableConClick()
{
    if (DisableCon->isChecked())
        ConnectorOff();
    else
        ConnectorOn();
}

void TForm1::D6MouseDown(PinShape* pin)
{
    if (ConnectorInactive || PortBase == 0)
        return;
    const auto port = static_cast<std::uint16_t>(PortBase + (pin->tag() >> 16));
    const auto mask = static_cast<std::uint8_t>(pin->tag() & 0xFF);
    m_channel.WritePortByte(port, m_channel.ReadPortByte(port) ^ mask);
    SampleRegisters();
}
