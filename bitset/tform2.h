#pragma once

#include <QDialog>

#include <array>
#include <cstdint>

class CellPanel;
class DesktopServices;
class PortChannel;
class QPushButton;
class SettingsFile;

// One register shown bit by bit with line names, pins and levels; a click on
// any cell of a bit's row flips that bit in the port.
class TForm2 : public QDialog {
    Q_OBJECT

public:
    TForm2(PortChannel& channel, DesktopServices& desktop, const SettingsFile& settings, QWidget* parent = nullptr);
    ~TForm2() override;

    // Shows the register at the port from now on.
    void SetPort(std::uint16_t port);
    void SetCaptionSuffix(const QString& suffix);
    // Caption, masks, pins and line names of register r: 0 data, 1 status, 2 control.
    void ApplyProfile(int r);
    // One read of the register; rewrites the pin-status and bit-status columns.
    void Refresh();
    // Flips the cell's bit in the port, then shows what the port reads back.
    void State1Click(CellPanel* cell);

    std::uint16_t PortAddress = 0;
    std::uint8_t WiredMask = 0;  // bit b set: register bit b reaches a pin
    std::uint8_t InvertMask = 0; // bit b set: the pin level is the inverse of bit b

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void FormDestroy();
    CellPanel* addHeader(const char* name, const char* caption, int column);
    CellPanel* addCell(const QString& name, int column, int bit);

    PortChannel& m_channel;
    DesktopServices& m_desktop;
    const SettingsFile& m_settings;

    QPushButton* Button1 = nullptr;
    CellPanel* Panel1 = nullptr;
    CellPanel* Panel2 = nullptr;
    CellPanel* Panel3 = nullptr;
    CellPanel* Panel4 = nullptr;
    CellPanel* Panel7 = nullptr;
    CellPanel* Panel30 = nullptr;
    // The rows' cells by bit: Panel5, Panel8 … Panel26; Func1…; State1…; Pin1…; PinState1…
    std::array<CellPanel*, 8> BitNumber{};
    std::array<CellPanel*, 8> Func{};
    std::array<CellPanel*, 8> State{};
    std::array<CellPanel*, 8> Pin{};
    std::array<CellPanel*, 8> PinState{};
};
