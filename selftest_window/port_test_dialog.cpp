#include "port_test_dialog.h"

#include "port_address.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
QString text(const std::string& words)
{
    return QString::fromStdString(words);
}

}

PortTestDialog::PortTestDialog(PortChannel& channel, QWidget* parent) : QDialog(parent), m_channel(channel)
{
    setObjectName(QStringLiteral("PortTestDialog"));
    m_plug = new QComboBox(this);
    m_plug->setObjectName(QStringLiteral("PlugChoice"));
    m_plug->addItem(QStringLiteral("Erkennen"), QString());
    for (const Plug* plug : KnownPlugs())
        m_plug->addItem(QString::fromUtf8(plug->name.data(), static_cast<int>(plug->name.size())),
                        QString::fromUtf8(plug->name.data(), static_cast<int>(plug->name.size())));
    m_plug->addItem(QStringLiteral("Kein Stecker"), QStringLiteral("none"));
    m_plug->setToolTip(QStringLiteral("The loopback plug in the connector; \"Erkennen\" drives the outputs of both and "
                                      "takes the one whose connections follow.\nfive-wire: ") +
                       text(PlugWiring(FiveWirePlug())) + QStringLiteral("\ncontrol: ") + text(PlugWiring(ControlPlug())));
    m_inputMode = new QCheckBox(QStringLiteral("&Eingabemodus prüfen"), this);
    m_inputMode->setObjectName(QStringLiteral("InputModeCheck"));
    m_inputMode->setToolTip(QStringLiteral("Turns the data drivers off (control bit 5): the data lines must then float, "
                                           "not read what was written. Nothing else may drive D0-D7 meanwhile."));
    m_interrupt = new QCheckBox(QStringLiteral("&Interrupt zählen"), this);
    m_interrupt->setObjectName(QStringLiteral("InterruptCheck"));
    m_interrupt->setToolTip(QStringLiteral("Enables the port's interrupt (control bit 4) and makes rises of ACK through "
                                           "the plug: the kernel must count each (through ppdev only)"));
    m_kernelFacts = new QLabel(this);
    m_kernelFacts->setObjectName(QStringLiteral("KernelFacts"));
    m_kernelFacts->setWordWrap(true);
    m_announcement = new QLabel(this);
    m_announcement->setObjectName(QStringLiteral("Announcement"));
    m_announcement->setWordWrap(true);
    m_verdicts = new QTreeWidget(this);
    m_verdicts->setObjectName(QStringLiteral("Verdicts"));
    m_verdicts->setRootIsDecorated(false);
    m_verdicts->setHeaderLabels({QStringLiteral("Prüfung"), QStringLiteral("Pins"), QStringLiteral("Ergebnis"),
                                 QStringLiteral("Befund")});
    m_verdicts->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("Summary"));
    m_summary->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("&Schließen"));
    QPushButton* run = buttons->addButton(QStringLiteral("&Starten"), QDialogButtonBox::ActionRole);
    run->setObjectName(QStringLiteral("StartButton"));
    run->setToolTip(QStringLiteral("Drive the lines named above and judge each connection; the registers are put back afterwards"));
    connect(run, &QPushButton::clicked, this, &PortTestDialog::start);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    connect(m_plug, &QComboBox::currentIndexChanged, this, &PortTestDialog::showPlan);
    connect(m_inputMode, &QCheckBox::toggled, this, &PortTestDialog::showPlan);
    connect(m_interrupt, &QCheckBox::toggled, this, &PortTestDialog::showPlan);

    auto* choices = new QFormLayout;
    choices->addRow(QStringLiteral("&Stecker:"), m_plug);
    choices->addRow(QString(), m_interrupt);
    choices->addRow(QString(), m_inputMode);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_kernelFacts);
    layout->addLayout(choices);
    layout->addWidget(m_announcement);
    layout->addWidget(m_verdicts, 1);
    layout->addWidget(m_summary);
    layout->addWidget(buttons);
    resize(820, 480);
    showPlan();
}

void PortTestDialog::setPort(std::uint16_t base, const QString& access, const KernelPort* kernel)
{
    m_base = base;
    m_irq = kernel ? kernel->irq : -1;
    m_kernelFacts->setText(kernel ? QStringLiteral("Kernel: ") + text(KernelFactsText(*kernel))
                                  : QStringLiteral("The kernel lists no port here."));
    setWindowTitle(QStringLiteral("Porttest %1 (%2)").arg(QString::fromStdString(PortAddressText(base)), access));
    m_verdicts->clear();
    m_summary->clear();
    showPlan();
}

SelfTestPlan PortTestDialog::plan() const
{
    SelfTestPlan plan;
    plan.base = m_base;
    const QString plug = m_plug->currentData().toString();
    plan.plug = PlugNamed(plug.toStdString());
    plan.plugChoice = plan.plug ? SelfTestPlan::PlugChoice::Given
                      : plug == QLatin1String("none") ? SelfTestPlan::PlugChoice::None
                                                      : SelfTestPlan::PlugChoice::Find;
    plan.inputMode = m_inputMode->isChecked();
    plan.interrupt = m_interrupt->isChecked();
    plan.irq = m_irq;
    return plan;
}

// What a start will drive, said before anything is driven.
void PortTestDialog::showPlan()
{
    const SelfTestPlan planned = plan();
    m_announcement->setText(!planned.testsSomething()
                                ? QStringLiteral("Nothing to test: choose a plug or the input mode check.")
                                : text(SelfTestAnnouncement(planned)));
}

void PortTestDialog::start()
{
    const SelfTestPlan planned = plan();
    if (m_base == 0 || !planned.testsSomething())
        return;
    showReport(RunSelfTest(m_channel, planned));
}

void PortTestDialog::showReport(const SelfTestReport& report)
{
    m_verdicts->clear();
    for (const Verdict& verdict : report.verdicts) {
        QStringList pins;
        for (const int pin : verdict.pins)
            pins << QString::number(pin);
        auto* row = new QTreeWidgetItem(m_verdicts, {text(verdict.subject), pins.join(QLatin1Char(' ')),
                                                     verdict.passed ? QStringLiteral("pass") : QStringLiteral("FAIL"),
                                                     text(verdict.text)});
        row->setForeground(2, verdict.passed ? QColor(0, 128, 0) : QColor(192, 0, 0));
        row->setToolTip(3, row->text(3));
    }
    QStringList summary{text(PlugText(report))};
    for (const std::string& finding : report.findings)
        summary << text(finding);
    summary << text(SelfTestSummary(report));
    m_summary->setText(summary.join(QLatin1Char('\n')));
}
