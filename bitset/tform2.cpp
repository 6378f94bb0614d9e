#include "tform2.h"

#include "cell_panel.h"
#include "desktop_services.h"
#include "port_channel.h"
#include "register_model.h"
#include "settings_file.h"

#include <QFont>
#include <QPushButton>

namespace {

const QString CaptionPrefix = QStringLiteral("Bitsetzung-Po");
// The suffixes complete "Po" to "Port…"; their trailing blanks belong to the captions.
const std::array<QString, 3> CaptionSuffixes = {QStringLiteral("rtdaten  "), QStringLiteral("rtstatus   "),
                                                QStringLiteral("rtkontrolle ")};
constexpr std::array<char, 3> LinePrefixes = {'D', 'S', 'C'};
const QString NoPin = QStringLiteral("k.A");
const QString ToggleHint = QStringLiteral("Click to toggle");

constexpr int DesignLeft = 200;
constexpr int DesignTop = 108;

enum Column { BitColumn, FunctionColumn, PinColumn, PinStateColumn, BitStateColumn };
struct ColumnGeometry {
    int left;
    int width;
};
constexpr std::array<ColumnGeometry, 5> Columns = {{{4, 33}, {40, 65}, {108, 29}, {140, 53}, {196, 49}}};
constexpr int HeaderTop = 4;
constexpr int FirstRowTop = 24;
constexpr int RowPitch = 20;
constexpr int CellHeight = 17;

QString numbered(const char* name, int number)
{
    return QString::fromLatin1(name) + QString::number(number);
}

} // namespace

TForm2::TForm2(PortChannel& channel, DesktopServices& desktop, const SettingsFile& settings, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_channel(channel), m_desktop(desktop), m_settings(settings)
{
    setWindowTitle(QStringLiteral("Bitsetzung"));
    setFixedSize(337, 191);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    Button1 = new QPushButton(QStringLiteral("Okay "), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(260, 4, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    Panel1 = new CellPanel(this, CellPanel::Bevel::Raised);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(4, 4, 249, 185);

    Panel2 = addHeader("Panel2", "Bit", BitColumn);
    Panel3 = addHeader("Panel3", "Funktion", FunctionColumn);
    Panel4 = addHeader("Panel4", "Bitstatus", BitStateColumn);
    for (int b = 0; b < 8; ++b) {
        BitNumber[b] = addCell(numbered("Panel", 5 + 3 * b), BitColumn, b);
        BitNumber[b]->setCaption(QString::number(b));
        Func[b] = addCell(numbered("Func", b + 1), FunctionColumn, b);
        State[b] = addCell(numbered("State", b + 1), BitStateColumn, b);
        State[b]->setToolTip(ToggleHint);
    }
    Panel7 = addHeader("Panel7", "Pin", PinColumn);
    for (int b = 0; b < 8; ++b)
        Pin[b] = addCell(numbered("Pin", b + 1), PinColumn, b);
    Panel30 = addHeader("Panel30", "Pinstatus", PinStateColumn);
    for (int b = 0; b < 8; ++b) {
        PinState[b] = addCell(numbered("PinState", b + 1), PinStateColumn, b);
        PinState[b]->setToolTip(ToggleHint);
    }

    FormCreate();
}

TForm2::~TForm2()
{
    FormDestroy();
}

CellPanel* TForm2::addHeader(const char* name, const char* caption, int column)
{
    auto* header = new CellPanel(Panel1);
    header->setObjectName(QString::fromLatin1(name));
    header->setGeometry(Columns[column].left, HeaderTop, Columns[column].width, CellHeight);
    header->setCaption(QString::fromLatin1(caption));
    header->setColors(Qt::darkBlue, Qt::white);
    return header;
}

CellPanel* TForm2::addCell(const QString& name, int column, int bit)
{
    auto* cell = new CellPanel(Panel1);
    cell->setObjectName(name);
    cell->setGeometry(Columns[column].left, FirstRowTop + RowPitch * bit, Columns[column].width, CellHeight);
    cell->setTag(1 << bit);
    connect(cell, &CellPanel::clicked, this, &TForm2::State1Click);
    return cell;
}

void TForm2::FormCreate()
{
    move(m_settings.readCoordinate("BitSetLeft", DesignLeft), m_settings.readCoordinate("BitSetTop", DesignTop));
}

void TForm2::FormDestroy()
{
    if (!m_settings.writeInteger("BitSetLeft", x()) || !m_settings.writeInteger("BitSetTop", y()))
        m_desktop.showError(nullptr, m_settings.writeFailureText());
}

void TForm2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TForm2::FormShow()
{
    Refresh();
}

void TForm2::SetPort(std::uint16_t port)
{
    PortAddress = port;
    Refresh();
}

void TForm2::SetCaptionSuffix(const QString& suffix)
{
    setWindowTitle(CaptionPrefix + suffix);
}

void TForm2::ApplyProfile(int r)
{
    const auto reg = static_cast<RegisterModel::Register>(r);
    SetCaptionSuffix(CaptionSuffixes[r]);
    WiredMask = RegisterModel::wiredMask(reg);
    InvertMask = RegisterModel::invertMask(reg);
    for (int b = 0; b < 8; ++b) {
        const RegisterModel::Line* line = RegisterModel::lineOf(reg, b);
        Pin[b]->setCaption(line ? QString::number(line->pin) : NoPin);
    }
    for (int b = 0; b < 8; ++b) {
        // A leading backslash names a line whose level is the inverse of its bit.
        const QString name = QLatin1Char(LinePrefixes[r]) + QString::number(b);
        Func[b]->setCaption(InvertMask & (1u << b) ? QLatin1Char('\\') + name : name);
    }
}

void TForm2::Refresh()
{
    const std::uint8_t value = m_channel.ReadPortByte(PortAddress);
    const std::uint8_t levels = value ^ InvertMask;
    for (int b = 0; b < 8; ++b) {
        const unsigned mask = 1u << b;
        State[b]->setCaption(value & mask ? QStringLiteral("1") : QStringLiteral("0"));
        // The trailing blank of "Ein " belongs to the text.
        PinState[b]->setCaption(!(WiredMask & mask) ? NoPin : levels & mask ? QStringLiteral("Ein ") : QStringLiteral("Aus"));
    }
}

void TForm2::State1Click(CellPanel* cell)
{
    const auto mask = static_cast<std::uint8_t>(cell->tag() & 0xFF);
    const std::uint8_t value = m_channel.ReadPortByte(PortAddress);
    m_channel.WritePortByte(PortAddress, value ^ mask);
    Refresh();
}
