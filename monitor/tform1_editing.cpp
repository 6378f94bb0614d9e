#include "tform1.h"

#include "cell_panel.h"
#include "color_ref.h"
#include "desktop_services.h"
#include "integer_text.h"
#include "popup_menu.h"
#include "port_channel.h"
#include "register_text.h"
#include "tform2.h"
#include "port_test_dialog.h"
#include "timeline_window.h"

#include <QAction>
#include <QLineEdit>

#include <algorithm>

void TForm1::createMenus()
{
    PopupMenu1 = new PopupMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu2 = new PopupMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    PopupMenu3 = new PopupMenu(this);
    PopupMenu3->setObjectName(QStringLiteral("PopupMenu3"));

    const auto addEntry = [](PopupMenu* menu, const char* name, const QString& caption, auto handler) {
        QAction* entry = menu->addAction(caption);
        entry->setObjectName(QString::fromLatin1(name));
        QObject::connect(entry, &QAction::triggered, menu, handler);
        return entry;
    };
    const QString bitSetting = QStringLiteral("&Bitsetzung...");
    addEntry(PopupMenu1, "Bitsetter1", bitSetting, [this] { Bitsetter1Click(PopupMenu1); });
    addEntry(PopupMenu2, "Bitsetter2", bitSetting, [this] { Bitsetter1Click(PopupMenu2); });
    PopupMenu2->addSeparator()->setObjectName(QStringLiteral("N1"));
    addEntry(PopupMenu2, "Invertall1", QStringLiteral("&Invertiere"), [this] { Invertall1Click(); });
    addEntry(PopupMenu2, "ClearAll1", QStringLiteral("&Löschen  "), [this] { ClearAll1Click(); });
    addEntry(PopupMenu2, "SetAll1", QStringLiteral("&Setzen "), [this] { SetAll1Click(); });
    addEntry(PopupMenu3, "Bitsetter3", bitSetting, [this] { Bitsetter1Click(PopupMenu3); });
    // The timeline comes after every other entry of the beep and value cells' menus.
    const QString timeline = QStringLiteral("&Zeitverlauf...");
    for (const auto& [menu, name] : {std::pair{PopupMenu1, "Timeline1"}, std::pair{PopupMenu2, "Timeline2"}}) {
        addEntry(menu, name, timeline, [this] { TimelineClick(); })
            ->setToolTip(QStringLiteral("Every change of the port's 17 lines over time"));
        menu->setToolTipsVisible(true);
    }
    addEntry(PopupMenu2, "Porttest2", QStringLiteral("&Porttest..."), [this] { PorttestClick(); })
        ->setToolTip(QStringLiteral("Test the port with a loopback plug, line by line"));

    for (int row = 0; row < 3; ++row) {
        const auto openOn = [](PopupMenu* menu) {
            return [menu](CellPanel* cell, const QPoint& globalPos) { menu->popupOn(cell, globalPos); };
        };
        connect(PortLabel[row], &CellPanel::contextMenuRequested, this, openOn(PopupMenu3));
        for (CellPanel* cell : {PortDec[row], PortHex[row], PortBin[row]})
            connect(cell, &CellPanel::contextMenuRequested, this, openOn(PopupMenu2));
        connect(BeepCell[row], &CellPanel::contextMenuRequested, this, openOn(PopupMenu1));
    }
}

void TForm1::Port1LabelClick()
{
    const std::uint16_t previous = PortBase;
    ++PortIndex;
    if (PortIndex >= PortList.size() || PortList[PortIndex] == 0)
        PortIndex = 0;
    PortBase = PortList[PortIndex];
    if (PortBase != previous)
        ResetDisplay();
}

void TForm1::PortMenuItemClick(QAction* entry)
{
    const std::uint16_t previous = PortBase;
    PortBase = static_cast<std::uint16_t>(entry->text().toUInt(nullptr, 16));
    if (PortBase != previous)
        ResetDisplay();
}

void TForm1::Port1DecClick(CellPanel* cell)
{
    Edit1->setParent(cell);
    Edit1->setGeometry(1, 1, cell->width() - 2, cell->height() - 2);
    Edit1->setText(cell->caption());
    Edit1->selectAll();
    Edit1->show();
    Edit1->setFocus();
}

void TForm1::closeEditor()
{
    Edit1->hide();
}

bool TForm1::Edit1KeyPress(int character)
{
    if (character == 27) {
        closeEditor();
        return true;
    }
    if (character != 13)
        return false;

    closeEditor();
    // The cell the editor lies in is the only record of what is being edited.
    auto* cell = qobject_cast<CellPanel*>(Edit1->parentWidget());
    const auto isIn = [cell](const std::array<CellPanel*, 3>& column) {
        return std::find(column.begin(), column.end(), cell) != column.end();
    };
    if (!cell || PortBase == 0)
        return true;
    const QString text = Edit1->text();
    std::uint8_t value = 0;
    if (isIn(PortDec)) {
        const std::optional<std::int32_t> number = ParseInteger(text);
        if (!number) {
            m_desktop.showError(this, InvalidIntegerText(text));
            return true;
        }
        value = static_cast<std::uint8_t>(*number);
    } else if (isIn(PortHex)) {
        value = HexToByte(text);
    } else if (isIn(PortBin)) {
        value = BinToByte(text);
    } else {
        return true;
    }
    writeRowRegister(cell->tag(), value);
    return true;
}

int TForm1::menuRow(const PopupMenu* menu) const
{
    const CellPanel* cell = menu->PopupComponent();
    return cell && PortBase != 0 ? (cell->tag() & 0xFF) : -1;
}

void TForm1::writeRowRegister(int row, std::uint8_t value)
{
    m_channel.WritePortByte(static_cast<std::uint16_t>(PortBase + row), value);
    SampleRegisters();
}

void TForm1::Invertall1Click()
{
    closeEditor();
    const int row = menuRow(PopupMenu2);
    if (row < 0)
        return;
    // The port's value at this moment, not the one last shown.
    writeRowRegister(row, m_channel.ReadPortByte(static_cast<std::uint16_t>(PortBase + row)) ^ 0xFF);
}

void TForm1::ClearAll1Click()
{
    closeEditor();
    const int row = menuRow(PopupMenu2);
    if (row >= 0)
        writeRowRegister(row, 0x00);
}

void TForm1::SetAll1Click()
{
    closeEditor();
    const int row = menuRow(PopupMenu2);
    if (row >= 0)
        writeRowRegister(row, 0xFF);
}

void TForm1::Panel10Click(CellPanel* cell)
{
    const bool on = cell->caption() == QLatin1String("Ja ");
    cell->setCaption(on ? QStringLiteral("N ") : QStringLiteral("Ja "));
    const auto bit = static_cast<std::uint8_t>(1u << cell->tag());
    BeepMask = on ? (BeepMask & ~bit) : (BeepMask | bit);
}

void TForm1::Panel5Click()
{
    for (CellPanel* cell : BeepCell)
        Panel10Click(cell);
}

void TForm1::FormDeactivate()
{
    closeEditor();
}

void TForm1::Deactivate()
{
    closeEditor();
}

void TForm1::TimelineClick()
{
    closeEditor();
    if (!Timeline)
        Timeline = new TimelineWindow(m_channel, m_desktop, m_settings, this);
    updateTimeline();
    Timeline->show();
    Timeline->raise();
    Timeline->activateWindow();
}

void TForm1::PorttestClick()
{
    closeEditor();
    if (PortBase == 0)
        return;
    if (!PortTest)
        PortTest = new PortTestDialog(m_channel, this);
    PortTest->setPort(PortBase, QString::fromStdString(m_portAccess ? m_portAccess(PortBase) : std::string()),
                      KernelPortAt(m_kernelPorts, PortBase));
    PortTest->show();
    PortTest->raise();
    PortTest->activateWindow();
}

void TForm1::updateTimeline()
{
    if (!Timeline)
        return;
    Timeline->setColors(toQColor(HighColor, palette()), toQColor(LowColor, palette()));
    Timeline->showPort({PortBase, m_sampleWithByteReads}, m_portAccess ? m_portAccess(PortBase) : std::string());
}

void TForm1::Bitsetter1Click(PopupMenu* menu)
{
    closeEditor();
    const int row = menuRow(menu);
    if (row < 0 || !Form2)
        return;
    Form2->SetPort(static_cast<std::uint16_t>(PortBase + row));
    Form2->ApplyProfile(row);
    Form2->exec();
}
