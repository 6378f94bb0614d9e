#pragma once

#include "annotation_index.h"
#include "port_capture.h"
#include "record_decoding.h"
#include "port_probe.h"
#include "rtkit_broker.h"
#include "settings_file.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DesktopServices;
class PortChannel;
class QCheckBox;
class QComboBox;
class QLabel;
class QScrollBar;
class QSpinBox;
class QTableWidget;
class QTimer;
class QToolButton;
class TimelineView;

// The timeline: every change of the selected port's 17 lines, captured apart
// from painting and drawn live, with pause, follow, zoom, cursors,
// measurements, triggers and export. Its capture runs while it is shown.
class TimelineWindow : public QWidget {
    Q_OBJECT

public:
    enum TriggerModes { Auto, Normal, Single };

    TimelineWindow(PortChannel& channel, DesktopServices& desktop, const SettingsFile& settings, QWidget* parent = nullptr);
    // Writes the window's keys to the settings file.
    ~TimelineWindow() override;

    // The port the main window shows, and how it is reached ("simulated"); a
    // new port begins a new record.
    void showPort(FoundPort port, const std::string& access);
    void setColors(const QColor& high, const QColor& low);
    // Ends the capture for good: the program is ending.
    void stopCapture();

    // Space: stops sampling with the record kept, or samples on.
    void togglePause();
    bool paused() const { return !m_capture || !m_capture->running(); }

    // Export of the record (or of the span between the cursors) as VCD, and of
    // the view as PNG; a refusal is shown and nothing is lost.
    bool saveVcd(const QString& path);
    bool savePng(const QString& path);
    // Asks for a file name; tests answer instead of a dialog.
    using PathQuestion = std::function<QString(const QString& caption, const QString& filter)>;
    void setPathQuestion(PathQuestion question) { m_askPath = std::move(question); }

    // The decoders following the record, each stack as velkaro-cli --decode
    // takes it ("uart:rx=ACK:baudrate=9600"); a new set begins their decoding anew.
    QStringList decoderSetups() const;
    // Empty when all were taken; else what was refused and why.
    QString setDecoderSetups(const QStringList& setups);
    // Export of the annotations (or of those between the cursors): text in
    // sigrok-cli's layout, or CSV with times in nanoseconds by the file's name.
    bool saveAnnotations(const QString& path);

    // The record's memory in MiB, and why a stored value was refused, if one was.
    int depth() const { return m_depth; }
    const QString& depthNote() const { return m_depthNote; }
    const PortCapture* capture() const { return m_capture.get(); }
    TimelineView* view() const { return m_view; }
    // Follows the capture once: its clock, the trigger, the numbers shown.
    void tick();

    QToolButton* PauseButton = nullptr;
    QCheckBox* FollowBox = nullptr;
    QToolButton* FitButton = nullptr;
    QToolButton* DecodersButton = nullptr;
    QComboBox* TriggerMode = nullptr;
    QSpinBox* TriggerPosition = nullptr;
    QSpinBox* SampleInterval = nullptr;
    QLabel* CounterText = nullptr;
    QLabel* DecoderText = nullptr; // the decoders' failures, and set-ups the settings held that were refused
    QLabel* CursorText = nullptr;
    QLabel* MeasureSpan = nullptr;
    QTableWidget* Measures = nullptr;
    QScrollBar* ScrollBar = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    static constexpr int TicksPerSecond = 30;
    // Decoder stacks at most, each under a key of its own in the settings.
    static constexpr int DecoderKeys = 8;
    static constexpr QSize MinimumSize{400, 300};

    void createControls();
    // Whether the settings held a position.
    bool readSettings();
    // With no position stored: beside the main window on its screen, covering none of it.
    void placeBeside(const QWidget& owner);
    void writeSettings();
    void startRecord();
    void updateCaption();
    void updateCounters();
    void updateCursorText();
    void updateMeasures();
    void updateScrollBar();
    void scrollBarMoved(int value);
    void scanForTriggers();
    void triggerChanged();
    // The span an export or a measurement covers: between the cursors when both are set.
    std::pair<std::int64_t, std::int64_t> chosenSpan(bool wholeRecord) const;
    void askAndSave(bool vcd);
    void askAndSaveAnnotations();
    void openDecoderDialog();
    // Starts every decoder anew on the record as it is.
    void startDecoding();
    void followDecoding();

    DesktopServices& m_desktop;
    SettingsFile m_settings;
    TimelineView* m_view = nullptr;
    QTimer* m_ticker = nullptr;
    LinuxSchedulingKernel m_schedulingKernel;
    RtkitBroker m_rtkit;
    std::unique_ptr<PortCapture> m_capture;
    FoundPort m_port{0, false};
    std::string m_access;
    int m_depth = 32;
    int m_storedDepth = 32; // written back as read, refused or not
    QString m_depthNote;
    PathQuestion m_askPath;

    // A stack of decoders following the record, and its annotations by row.
    struct Decoding {
        DecoderStack stack;
        std::unique_ptr<RecordDecoding> decoding;
        AnnotationIndex index;
        std::uint64_t nextEvent = 0;
    };
    std::vector<std::unique_ptr<Decoding>> m_decodings;
    QString m_decoderNote;

    // Trigger state: the changes looked at so far, the marks, and a trigger
    // waiting for the span after it to be captured.
    std::uint64_t m_scanned = 0;
    std::vector<std::int64_t> m_triggerMarks;
    std::optional<std::int64_t> m_pendingTrigger;
    int m_ticks = 0;
    long long m_lastSamples = 0;
    std::chrono::steady_clock::time_point m_lastCount;
    QString m_rate;
};
