#pragma once

#include "color_ref.h"
#include "kernel_port_list.h"
#include "settings_file.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CellPanel;
class DesktopServices;
class PinShape;
class PopupMenu;
class PortChannel;
class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QStackedWidget;
class QTimer;
class QToolButton;
class TColorDrop;
class TForm2;
class TUrlLabel;
class TimelineWindow;
class PortTestDialog;

// The main window: the register grid of the selected port, the connector, the
// settings pages, and the sampling cycle that keeps them in step with the port.
class TForm1 : public QWidget {
    Q_OBJECT

public:
    // Creating the window is the start-up sequence: grants, settings, probe, first sample.
    // otherBases: the kernel's ports beyond the standard bases, listed after those the probe finds.
    TForm1(PortChannel& channel, DesktopServices& desktop, const SettingsFile& settings,
           std::vector<std::uint16_t> otherBases = {}, QWidget* parent = nullptr);
    // Writes the settings at a normal end; touches no port.
    ~TForm1() override;

    // Adds a line to the hints of the control row's value cells: what its value can show.
    void noteControlRowLimits(const QString& note);

    // The bit-setting window, created after this one.
    void setBitSettingWindow(TForm2* form2) { Form2 = form2; }
    // How a port is reached ("direct I/O", "simulated"), named in the timeline's exports.
    void setPortAccess(std::function<std::string(std::uint16_t)> access) { m_portAccess = std::move(access); }
    // What the kernel found of its ports, which the port test shows and whose IRQ it counts.
    void setKernelPorts(std::vector<KernelPort> ports) { m_kernelPorts = std::move(ports); }

    // Monitor state.
    std::uint8_t DataValue = 0;
    std::uint8_t StatusValue = 0;
    std::uint8_t ControlValue = 0;
    std::uint8_t BeepMask = 0;
    std::uint16_t PortBase = 0;
    std::uint8_t PortIndex = 0;
    ColorRef HighColor = 0x0000FF;
    ColorRef LowColor = 0x00FF00;
    bool ConnectorInactive = false;
    // The ports found, in menu order; at least three entries, 0 marking an empty slot.
    std::vector<std::uint16_t> PortList;

    // Sampling cycle.
    void SampleRegisters();
    void ResetDisplay();
    void IdleSample();
    void Timer1Timer();
    void Timer2Timer();
    void SampleRateChange();
    void SampleBlinkClick();
    // Ends the sampling cycle for good: the program is ending, and its port channel
    // closes next, while the windows may still run nested event loops.
    void stopSampling();

    // Connector.
    void PaintPinHigh(PinShape* pin, bool repaintNow);
    void PaintPinLow(PinShape* pin, bool repaintNow);
    void ShowPin(std::uint8_t value, std::uint8_t mask, PinShape* pin);
    void ShowPinInverted(std::uint8_t value, std::uint8_t mask, PinShape* pin);
    void ShowDataPins();
    void ShowStatusPins();
    void ShowControlPins();
    void ShowGroundPins();
    void ConnectorOn();
    void ConnectorOff();
    void MirrorConnector();
    void SwapPinPlaces(PinShape* first, PinShape* second);
    void ConTypeChange();
    void HighColorBoxChange();
    void LowColorBoxChange();
    void DisableConClick();
    void D6MouseDown(PinShape* pin);

    // Editing and port selection.
    void Port1LabelClick();
    void PortMenuItemClick(QAction* entry);
    void Port1DecClick(CellPanel* cell);
    // Takes the typed character: Enter (13) commits, Escape (27) cancels; true when
    // the character was consumed.
    bool Edit1KeyPress(int character);
    void Invertall1Click();
    void ClearAll1Click();
    void SetAll1Click();
    void Panel10Click(CellPanel* cell);
    void Panel5Click();
    void FormDeactivate();
    void Deactivate();
    void Bitsetter1Click(PopupMenu* menu);
    // Opens the timeline of the selected port, creating it on first use.
    void TimelineClick();
    TimelineWindow* Timeline = nullptr;
    // Opens the self-test of the selected port.
    void PorttestClick();
    PortTestDialog* PortTest = nullptr;

    // Settings pages.
    void OnTopClick();

    // Controls, named as in the form.
    QStackedWidget* Notebook1 = nullptr;
    std::array<CellPanel*, 3> PortLabel{};
    std::array<CellPanel*, 3> PortDec{};
    std::array<CellPanel*, 3> PortHex{};
    std::array<CellPanel*, 3> PortBin{};
    std::array<CellPanel*, 3> BeepCell{}; // Panel10, Panel15, Panel20
    CellPanel* Panel1 = nullptr;
    CellPanel* Panel5 = nullptr;
    CellPanel* Panel6 = nullptr;
    PinShape* Burst = nullptr;
    QLineEdit* Edit1 = nullptr;
    PopupMenu* PopupMenu1 = nullptr;
    PopupMenu* PopupMenu2 = nullptr;
    PopupMenu* PopupMenu3 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QTimer* IdleHook = nullptr;
    QComboBox* ConType = nullptr;
    TColorDrop* HighColorBox = nullptr;
    TColorDrop* LowColorBox = nullptr;
    QCheckBox* OnTop = nullptr;
    QCheckBox* DisableCon = nullptr;
    QComboBox* SampleRate = nullptr;
    QCheckBox* SampleBlink = nullptr;

    PinShape* pin(const char* name) const;

signals:
    // The user closed the window: the program ends.
    void closed();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createMainPage();
    void createConnector(QWidget* panel);
    void createMenus();
    void createSettingsPages();
    QToolButton* createPageButton(QWidget* parent, const char* name, int x, int y, Qt::ArrowType arrow,
                                  const char* hint, const char* targetPage);
    void FormCreate();
    void readSettings(int& storedPort);
    void FormDestroy();
    void buildPortList(int storedPort);

    // A sampling step of the cycle.
    void cycleSample();
    // A sampling step over registers sampled already, or read now.
    void showSample(std::optional<std::uint32_t> sampled);
    // One register row after a change of its value.
    void showRow(int row, std::uint8_t value);
    void showRowPins(int row);
    std::uint8_t& shownValue(int row);
    // Writes a row's register of the selected port, then samples.
    void writeRowRegister(int row, std::uint8_t value);
    // The row of the cell the menu was opened on; -1 without one, or without a port.
    int menuRow(const PopupMenu* menu) const;
    void closeEditor();
    void showPage(const char* name);
    // Tells the timeline the port and the colours shown here.
    void updateTimeline();

    PortChannel& m_channel;
    DesktopServices& m_desktop;
    SettingsFile m_settings;
    TForm2* Form2 = nullptr;
    std::vector<std::uint16_t> m_otherBases;
    std::vector<bool> m_byteReads; // per PortList entry: sample with byte reads
    bool m_sampleWithByteReads = false;
    std::array<PinShape*, 25> m_pins{};
    std::function<std::string(std::uint16_t)> m_portAccess;
    std::vector<KernelPort> m_kernelPorts;
    // The stored place, and where the window system put the window for it: the
    // stored values are written back while the window stays there.
    std::optional<int> m_storedLeft;
    std::optional<int> m_storedTop;
    QPoint m_placedAt;
    bool m_placeSettled = false; // the window was seen moving: later places are the user's
};
