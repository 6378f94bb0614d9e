#include "tform1.h"

#include "cell_panel.h"
#include "connector_layout.h"
#include "pin_shape.h"
#include "popup_menu.h"
#include "port_channel.h"
#include "port_probe.h"
#include "program_title.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTimer>

namespace {
constexpr int CellHeight = 17;
constexpr ColorRef Navy = 0x800000;
constexpr ColorRef White = 0xFFFFFF;
constexpr ColorRef Lime = 0x00FF00;

struct Column {
    int x;
    int width;
};
constexpr Column AddressColumn{0, 29}, DecimalColumn{32, 29}, HexColumn{64, 29}, BinaryColumn{96, 53},
    BeepColumn{152, 41};
constexpr std::array<int, 4> RowTops = {0, 20, 40, 60};

const char* const AddressHint = "Click to select next available port. Right click for menu";
const char* const ValueHint = "Click to edit. Right click for menu";
const char* const BeepHint = "Click to toggle. Right click for menu";

CellPanel* makeCell(QWidget* page, const QString& name, Column column, int top, const QString& caption,
                    const char* hint, int tag)
{
    auto* cell = new CellPanel(page);
    cell->setObjectName(name);
    cell->setGeometry(column.x, top, column.width, CellHeight);
    cell->setFont(QFont(QStringLiteral("arial"), 8));
    cell->setCaption(caption);
    cell->setToolTip(QString::fromLatin1(hint));
    cell->setTag(tag);
    return cell;
}

CellPanel* makeHeader(QWidget* page, const char* name, Column column, const QString& caption, const char* hint)
{
    CellPanel* cell = makeCell(page, QString::fromLatin1(name), column, RowTops[0], caption, hint, 0);
    cell->setColors(toQColor(Navy), toQColor(White));
    return cell;
}
}

TForm1::TForm1(PortChannel& channel, DesktopServices& desktop, const SettingsFile& settings,
               std::vector<std::uint16_t> otherBases, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_channel(channel), m_desktop(desktop), m_settings(settings), m_otherBases(std::move(otherBases))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(ProgramTitle());
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setFixedSize(193, 108);

    Notebook1 = new QStackedWidget(this);
    Notebook1->setObjectName(QStringLiteral("Notebook1"));
    Notebook1->setGeometry(0, 0, 193, 108);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(50);
    Timer2->setSingleShot(true);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    // The idle hook: a zero-interval timer fires whenever the event loop has
    // nothing else waiting.
    IdleHook = new QTimer(this);
    IdleHook->setObjectName(QStringLiteral("IdleHook"));
    IdleHook->setInterval(0);
    connect(IdleHook, &QTimer::timeout, this, &TForm1::IdleSample);

    createMainPage();
    createMenus();
    createSettingsPages();
    FormCreate();
}

TForm1::~TForm1()
{
    FormDestroy();
}

void TForm1::createMainPage()
{
    auto* page = new QWidget(Notebook1);
    page->setObjectName(QStringLiteral("Main"));
    Notebook1->addWidget(page);

    Panel1 = makeHeader(page, "Panel1", AddressColumn, QStringLiteral("Adre"), "Click to select next available port");
    makeHeader(page, "Panel2", DecimalColumn, QStringLiteral("Dez"), nullptr);
    makeHeader(page, "Panel3", HexColumn, QStringLiteral("Hex"), nullptr);
    makeHeader(page, "Panel4", BinaryColumn, QStringLiteral("Binär "), nullptr);
    Panel5 = makeHeader(page, "Panel5", BeepColumn, QStringLiteral("Piep"), "Click to toggle all");
    connect(Panel1, &CellPanel::clicked, this, &TForm1::Port1LabelClick);
    connect(Panel5, &CellPanel::clicked, this, &TForm1::Panel5Click);

    static const std::array<const char*, 3> beepNames = {"Panel10", "Panel15", "Panel20"};
    for (int row = 0; row < 3; ++row) {
        const int top = RowTops[row + 1];
        const QString n = QString::number(row + 1);
        PortLabel[row] = makeCell(page, "Port" + n + "Label", AddressColumn, top, QString(), AddressHint, row);
        PortDec[row] = makeCell(page, "Port" + n + "Dec", DecimalColumn, top, QString(), ValueHint, row);
        PortHex[row] = makeCell(page, "Port" + n + "Hex", HexColumn, top, QString(), ValueHint, row);
        PortBin[row] = makeCell(page, "Port" + n + "Bin", BinaryColumn, top, QString(), ValueHint, row);
        BeepCell[row] = makeCell(page, QString::fromLatin1(beepNames[row]), BeepColumn, top, QStringLiteral("N "),
                                 BeepHint, row);
        connect(PortLabel[row], &CellPanel::clicked, this, &TForm1::Port1LabelClick);
        for (CellPanel* cell : {PortDec[row], PortHex[row], PortBin[row]})
            connect(cell, &CellPanel::clicked, this, &TForm1::Port1DecClick);
        connect(BeepCell[row], &CellPanel::clicked, this, &TForm1::Panel10Click);
    }

    Panel6 = new CellPanel(page, CellPanel::Bevel::Raised);
    Panel6->setObjectName(QStringLiteral("Panel6"));
    Panel6->setGeometry(0, 80, 193, 29);
    Panel6->setToolTip(QStringLiteral("Click on pin to toggle level"));
    createConnector(Panel6);

    Edit1 = new QLineEdit(page);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setFrame(false);
    Edit1->setFont(QFont(QStringLiteral("arial"), 8));
    Edit1->setToolTip(QStringLiteral("Esc to cancel"));
    Edit1->hide();
    Edit1->installEventFilter(this);
}

void TForm1::createConnector(QWidget* panel)
{
    for (std::size_t i = 0; i < ConnectorPins.size(); ++i) {
        const ConnectorPin& layout = ConnectorPins[i];
        auto* pin = new PinShape(9, isGround(layout) ? Lime : White, panel);
        pin->setObjectName(QString::fromLatin1(layout.name));
        pin->move(layout.x, layout.y);
        pin->setToolTip(QString::fromLatin1(layout.hint));
        pin->setTag(layout.tag);
        if (layout.tag != 0)
            connect(pin, &PinShape::pressed, this, &TForm1::D6MouseDown);
        m_pins[i] = pin;
    }
    Burst = new PinShape(5, White, panel);
    Burst->setObjectName(QStringLiteral("Burst"));
    Burst->move(4, 20);
    Burst->hide();
}

PinShape* TForm1::pin(const char* name) const
{
    for (PinShape* pin : m_pins)
        if (pin->objectName() == QLatin1String(name))
            return pin;
    return nullptr;
}

void TForm1::FormCreate()
{
    GrantStandardPorts(m_channel);
    for (const std::uint16_t base : m_otherBases)
        GrantPortsOf(m_channel, base);

    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive)
            Deactivate();
    });

    ConnectorInactive = false;
    showPage("Main");

    int storedPort = 0;
    readSettings(storedPort);
    buildPortList(storedPort);
    PortBase = PortList[PortIndex];
    ResetDisplay();
    SampleRegisters();
}

void TForm1::noteControlRowLimits(const QString& note)
{
    for (CellPanel* cell : {PortDec[2], PortHex[2], PortBin[2]})
        cell->setToolTip(cell->toolTip() + QLatin1Char('\n') + note);
}

void TForm1::showPage(const char* name)
{
    if (auto* page = Notebook1->findChild<QWidget*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly))
        Notebook1->setCurrentWidget(page);
}

void TForm1::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        FormDeactivate();
    QWidget::changeEvent(event);
}

// A tool window does not end the event loop by closing, as a main window would.
void TForm1::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    emit closed();
}

namespace {
// The character a key press types, as Windows sends it: Enter 13 and Escape 27, and
// Ctrl with @, A to Z, [, \, ], ^ or _ the control characters 0 to 31 (Ctrl+M is 13,
// Ctrl+[ is 27); Ctrl+Enter types a line feed.
int typedCharacter(const QKeyEvent& event)
{
    const bool control = event.modifiers().testFlag(Qt::ControlModifier);
    if (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter)
        return control ? '\n' : '\r';
    if (event.key() == Qt::Key_Escape)
        return 0x1B;
    if (control && event.key() >= Qt::Key_At && event.key() <= Qt::Key_Underscore)
        return event.key() - Qt::Key_At;
    return event.text().isEmpty() ? 0 : event.text().front().unicode();
}
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Edit1 && event->type() == QEvent::KeyPress)
        return Edit1KeyPress(typedCharacter(*static_cast<QKeyEvent*>(event)));
    return QWidget::eventFilter(watched, event);
}
