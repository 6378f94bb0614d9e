#pragma once

#include "kernel_port_list.h"
#include "port_self_test.h"

#include <QDialog>

#include <cstdint>

class PortChannel;
class QCheckBox;
class QComboBox;
class QLabel;
class QTreeWidget;

// The port self-test in the window: the plug and the checks chosen, what will
// be driven said before the start, then a row per connection and check with
// the verdict velkaro-cli test gives, the findings and a summary.
class PortTestDialog : public QDialog {
    Q_OBJECT

public:
    PortTestDialog(PortChannel& channel, QWidget* parent = nullptr);
    // The port tested from now on; "378 (direct I/O)" in the title, and what
    // the kernel found of it (its IRQ is the one counted), where it knows it.
    void setPort(std::uint16_t base, const QString& access, const KernelPort* kernel);
    // Runs the test as chosen and shows its verdicts.
    void start();

private:
    SelfTestPlan plan() const;
    void showPlan();
    void showReport(const SelfTestReport& report);

    PortChannel& m_channel;
    std::uint16_t m_base = 0;
    int m_irq = -1;
    QComboBox* m_plug;
    QCheckBox* m_inputMode;
    QCheckBox* m_interrupt;
    QLabel* m_kernelFacts;
    QLabel* m_announcement;
    QTreeWidget* m_verdicts;
    QLabel* m_summary;
};
