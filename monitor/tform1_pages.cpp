#include "tform1.h"

#include "cell_panel.h"
#include "page_arrow.h"
#include "program_title.h"
#include "register_text.h"
#include "tcolor_drop.h"
#include "turl_label.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QStackedWidget>
#include <QToolButton>
#include <QUrl>

#include <algorithm>

namespace {
constexpr ColorRef Red = 0x0000FF;
constexpr ColorRef Lime = 0x00FF00;
constexpr ColorRef Navy = 0x800000;

// A page of the notebook, filled by one sunken panel that holds its controls.
QWidget* addPage(QStackedWidget* notebook, const char* pageName, const char* panelName)
{
    auto* page = new QWidget(notebook);
    page->setObjectName(QString::fromLatin1(pageName));
    notebook->addWidget(page);
    auto* panel = new CellPanel(page);
    panel->setObjectName(QString::fromLatin1(panelName));
    panel->setGeometry(0, 0, notebook->width(), notebook->height());
    return panel;
}

template <typename Control>
Control* place(Control* control, const char* name, int x, int y, const char* hint = nullptr)
{
    control->setObjectName(QString::fromLatin1(name));
    control->move(x, y);
    if (hint)
        control->setToolTip(QString::fromUtf8(hint));
    return control;
}

QLabel* addLabel(QWidget* panel, const char* name, int x, int y, const QString& caption)
{
    auto* label = place(new QLabel(caption, panel), name, x, y);
    label->adjustSize();
    return label;
}

QCheckBox* addCheckBox(QWidget* panel, const char* name, QRect geometry, const QString& caption, const char* hint)
{
    auto* box = place(new QCheckBox(caption, panel), name, geometry.x(), geometry.y(), hint);
    // never narrower than its caption needs in the font at hand
    box->resize(std::max(geometry.width(), box->sizeHint().width()), geometry.height());
    return box;
}

QComboBox* addList(QWidget* panel, const char* name, int x, int y, int width, const QStringList& items,
                   const char* hint)
{
    auto* list = place(new QComboBox(panel), name, x, y, hint);
    list->addItems(items);
    list->resize(width, 21);
    return list;
}
}

QToolButton* TForm1::createPageButton(QWidget* parent, const char* name, int x, int y, Qt::ArrowType arrow,
                                      const char* hint, const char* targetPage)
{
    auto* button = place(new QToolButton(parent), name, x, y, hint);
    button->resize(25, 21);
    button->setIcon(pageArrowIcon(arrow));
    button->setIconSize(QSize(16, 16));
    connect(button, &QToolButton::clicked, this, [this, targetPage] { showPage(targetPage); });
    return button;
}

void TForm1::createSettingsPages()
{
    createPageButton(Panel6, "SpeedButton1", 164, 4, Qt::RightArrow, "Click for settings ", "Config");

    QWidget* config = addPage(Notebook1, "Config", "Panel7");
    addLabel(config, "Label4", 8, 12, QStringLiteral("Anschluss"));
    ConType = addList(config, "ConType", 68, 8, 77, {QStringLiteral("Buchse"), QStringLiteral("Stec")},
                      "Sets connector pin orientation");
    addLabel(config, "Label5", 8, 36, QStringLiteral("Farbe  Ein"));
    HighColorBox = place(new TColorDrop(config), "HighColorBox", 68, 32, "Sets the color for a logic \"1\"");
    HighColorBox->resize(121, 22);
    HighColorBox->setSelectedColor(Red);
    addLabel(config, "Label6", 8, 60, QStringLiteral("Farbe Aus"));
    LowColorBox = place(new TColorDrop(config), "LowColorBox", 68, 56, "Sets the color for a logic \"0\"");
    LowColorBox->resize(121, 22);
    LowColorBox->setSelectedColor(Lime);
    createPageButton(config, "SpeedButton2", 136, 84, Qt::LeftArrow, "Go back", "Main");
    createPageButton(config, "SpeedButton3", 164, 84, Qt::RightArrow, "Click for more settings", "Config2");

    QWidget* config2 = addPage(Notebook1, "Config2", "Panel9");
    OnTop = addCheckBox(config2, "OnTop", {4, 4, 89, 17}, QStringLiteral("Immer obenauf"),
                        "Permits window to always be visible");
    DisableCon = addCheckBox(config2, "DisableCon", {4, 20, 113, 17}, QStringLiteral("Anschluss inaktiv"),
                             "Disables graphical information");
    addLabel(config2, "Label10", 4, 44, QStringLiteral("Proberate  "));
    SampleRate = addList(config2, "SampleRate", 68, 40, 121, SampleRateItems(), nullptr);
    SampleBlink = addCheckBox(config2, "SampleBlink", {4, 64, 109, 17}, QStringLiteral("Probeblinker an"), nullptr);
    createPageButton(config2, "SpeedButton6", 136, 84, Qt::LeftArrow, "Go back", "Config");
    createPageButton(config2, "SpeedButton4", 164, 84, Qt::RightArrow, "Click for about information", "About");

    QWidget* about = addPage(Notebook1, "About", "Panel8");
    QLabel* title = place(new QLabel(ProgramTitle(), about), "Label1", 12, 4);
    title->resize(167, 24);
    QFont titleFont(QStringLiteral("MS Sans Serif"));
    titleFont.setPixelSize(19);
    title->setFont(titleFont);
    title->setStyleSheet(QStringLiteral("color: %1").arg(toQColor(Navy).name()));
    addLabel(about, "Label3", 70, 28, QStringLiteral("Version 1.4.2"));
    auto* web = place(new TUrlLabel(m_desktop, about), "UrlLabel1", 8, 60);
    const QUrl homepage(QStringLiteral(VELKARO_HOMEPAGE_URL));
    web->setText(homepage.host());
    web->setUrl(homepage.toString());
    web->adjustSize();
    auto* mail = place(new TUrlLabel(m_desktop, about), "UrlLabel2", 8, 76);
    mail->setText(QStringLiteral("velkaro@example.org"));
    mail->setUrl(QStringLiteral("mailto:velkaro@example.org"));
    mail->adjustSize();
    createPageButton(about, "SpeedButton5", 136, 84, Qt::LeftArrow, "Go back", "Config2");

    connect(ConType, &QComboBox::currentIndexChanged, this, &TForm1::ConTypeChange);
    connect(HighColorBox, &TColorDrop::colorChanged, this, &TForm1::HighColorBoxChange);
    connect(LowColorBox, &TColorDrop::colorChanged, this, &TForm1::LowColorBoxChange);
    connect(OnTop, &QCheckBox::toggled, this, &TForm1::OnTopClick);
    connect(DisableCon, &QCheckBox::toggled, this, &TForm1::DisableConClick);
    connect(SampleRate, &QComboBox::currentIndexChanged, this, &TForm1::SampleRateChange);
    connect(SampleBlink, &QCheckBox::toggled, this, &TForm1::SampleBlinkClick);
}

void TForm1::OnTopClick()
{
    const QPoint place = pos();
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, OnTop->isChecked());
    // Changing the flag hides the window; put it back where it was.
    if (shown) {
        move(place);
        show();
    }
}
