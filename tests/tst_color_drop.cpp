#include "tcolor_drop.h"

#include <QAbstractItemView>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>
#include <memory>

namespace {
// Within what anti-aliasing leaves of a glyph's core.
bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) < 48 && std::abs(qGreen(a) - qGreen(b)) < 48 && std::abs(qBlue(a) - qBlue(b)) < 48;
}
}

class tst_color_drop : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void entries();
    void setFromCode_data();
    void setFromCode();
    void userPick_data();
    void userPick();
    void rowsAreFourPixelsTallerThanFont_data();
    void rowsAreFourPixelsTallerThanFont();
    void rowDrawing_data();
    void rowDrawing();
    void openListShowsEightRowsAndScrolls();

private:
    void showWithFontOfPixels(int pixels);
    QModelIndex entry(int row) const { return m_drop->model()->index(row, 0); }

    std::unique_ptr<TColorDrop> m_drop;
};

void tst_color_drop::init()
{
    m_drop = std::make_unique<TColorDrop>();
}

void tst_color_drop::cleanup()
{
    m_drop.reset();
}

void tst_color_drop::showWithFontOfPixels(int pixels)
{
    QFont font = m_drop->font();
    font.setPixelSize(pixels);
    m_drop->setFont(font);
    m_drop->resize(m_drop->sizeHint());
    m_drop->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_drop.get()));
}

void tst_color_drop::entries()
{
    QCOMPARE(m_drop->count(), 18);
    QVERIFY(!m_drop->isEditable());
    QCOMPARE(m_drop->itemText(2), QString("Grün ")); // umlaut and trailing blank
    QCOMPARE(m_drop->itemData(9).value<ColorRef>(), ColorRef(0x0000FF)); // "Rot": red in the lowest byte
    QCOMPARE(m_drop->itemText(17), QString("Weiß "));
}

void tst_color_drop::setFromCode_data()
{
    QTest::addColumn<ColorRef>("before");
    QTest::addColumn<ColorRef>("set");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<ColorRef>("selected");

    QTest::newRow("silver selects Silber, not Hellgrau") << ColorRef(0) << ColorRef(0xC0C0C0) << "Silber" << ColorRef(0xC0C0C0);
    QTest::newRow("grey selects Grau, not Dunkelgra") << ColorRef(0) << ColorRef(0x808080) << "Grau" << ColorRef(0x808080);
    QTest::newRow("black selects first entry") << ColorRef(0xFFFFFF) << ColorRef(0) << "Schwa" << ColorRef(0);
    QTest::newRow("colour not in list ignored") << ColorRef(0x0000FF) << ColorRef(0x123456) << "Rot" << ColorRef(0x0000FF);
}

void tst_color_drop::setFromCode()
{
    QFETCH(ColorRef, before);
    QFETCH(ColorRef, set);
    QFETCH(QString, shown);
    QFETCH(ColorRef, selected);
    m_drop->setSelectedColor(before);
    QSignalSpy changes(m_drop.get(), &TColorDrop::colorChanged);
    QSignalSpy indexChanges(m_drop.get(), &QComboBox::currentIndexChanged);

    m_drop->setProperty("SelectedColor", QVariant::fromValue(set));

    QCOMPARE(m_drop->currentText(), shown);
    QCOMPARE(m_drop->selectedColor(), selected);
    QCOMPARE(changes.size() + indexChanges.size(), 0);
}

void tst_color_drop::userPick_data()
{
    QTest::addColumn<bool>("fromList");

    QTest::newRow("arrow key onto Hellgrau") << false;
    QTest::newRow("click on Hellgrau in the list") << true;
}

void tst_color_drop::userPick()
{
    QFETCH(bool, fromList);
    QList<ColorRef> seen;
    connect(m_drop.get(), &TColorDrop::colorChanged, this, [&] { seen.append(m_drop->selectedColor()); });
    showWithFontOfPixels(11);

    if (fromList) {
        m_drop->showPopup();
        QTRY_VERIFY(m_drop->view()->isVisible());
        m_drop->view()->scrollTo(entry(15));
        QTest::mouseClick(m_drop->view()->viewport(), Qt::LeftButton, {}, m_drop->view()->visualRect(entry(15)).center());
    } else {
        m_drop->setCurrentIndex(14);
        QTest::keyClick(m_drop.get(), Qt::Key_Down);
    }

    QCOMPARE(seen, QList<ColorRef>{0xC0C0C0}); // one signal, the colour already set
    QCOMPARE(m_drop->currentText(), QString("Hellgrau  "));
    m_drop->setSelectedColor(0xC0C0C0);
    QCOMPARE(m_drop->currentText(), QString("Silber"));
    QCOMPARE(seen.size(), 1);
}

void tst_color_drop::rowsAreFourPixelsTallerThanFont_data()
{
    QTest::addColumn<int>("fontPixels");
    QTest::addColumn<int>("rowHeight");

    QTest::newRow("11-pixel font") << 11 << 15;
    QTest::newRow("20-pixel font") << 20 << 24;
}

void tst_color_drop::rowsAreFourPixelsTallerThanFont()
{
    QFETCH(int, fontPixels);
    QFETCH(int, rowHeight);
    showWithFontOfPixels(8);
    m_drop->showPopup(); // the list is laid out before the font changes
    QTRY_VERIFY(m_drop->view()->isVisible());
    showWithFontOfPixels(fontPixels);

    for (int row = 0; row < m_drop->count(); ++row) {
        QCOMPARE(m_drop->view()->visualRect(entry(row)).height(), rowHeight);
        if (row > 0) // and one follows the other without a gap
            QCOMPARE(m_drop->view()->visualRect(entry(row)).top(), m_drop->view()->visualRect(entry(row - 1)).bottom() + 1);
    }
}

void tst_color_drop::rowDrawing_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("row");
    QTest::addColumn<ColorRef>("color");
    QTest::addColumn<QPalette::ColorRole>("fill");
    QTest::addColumn<QPalette::ColorRole>("text");

    // The selection is Rot (row 9); NoRole stands for the control's own Color 0xE0FFE0.
    const ColorRef own = 0xE0FFE0;
    QTest::newRow("selection field") << "field" << 9 << own << QPalette::NoRole << QPalette::Text;
    QTest::newRow("focused selection field") << "focused field" << 9 << own << QPalette::Highlight
                                             << QPalette::HighlightedText;
    QTest::newRow("selected list row") << "list" << 9 << own << QPalette::Highlight << QPalette::HighlightedText;
    QTest::newRow("other list row") << "list" << 12 << own << QPalette::NoRole << QPalette::Text;
    QTest::newRow("window colour is white, not the dialog face")
        << "field" << 9 << SystemWindowColor << QPalette::Base << QPalette::Text;
}

void tst_color_drop::rowDrawing()
{
    QFETCH(QString, where);
    QFETCH(int, row);
    QFETCH(ColorRef, color);
    QFETCH(QPalette::ColorRole, fill);
    QFETCH(QPalette::ColorRole, text);
    QCOMPARE(m_drop->color(), SystemWindowColor); // the default
    m_drop->setColor(color);
    m_drop->setSelectedColor(0x0000FF);
    showWithFontOfPixels(11);
    if (where == "field")
        m_drop->clearFocus();
    if (where == "list") {
        m_drop->showPopup();
        m_drop->view()->scrollTo(entry(row));
    }
    const QImage image = where == "list" ? m_drop->view()->viewport()->grab().toImage() : m_drop->grab().toImage();
    const QPalette& colors = m_drop->palette();
    const QRgb background = fill == QPalette::NoRole ? qRgb(0xE0, 0xFF, 0xE0) : colors.color(fill).rgb();
    const QRgb outline = colors.color(QPalette::Text).rgb(); // the font's colour, selected or not
    const QRgb swatch = toQColor(m_drop->itemData(row).value<ColorRef>()).rgb();

    QRect inside;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < 30; ++x)
            if (image.pixel(x, y) == swatch)
                inside |= QRect(x, y, 1, 1);
    QCOMPARE(inside.left(), 5); // inside an 11 x 11 outlined square from x = 4
    QCOMPARE(inside.size(), QSize(9, 9));
    const int top = inside.top() - 3;
    if (where == "list")
        QCOMPARE(top, m_drop->view()->visualRect(entry(row)).top());
    QCOMPARE(image.pixel(4, top + 2), outline);
    QCOMPARE(image.pixel(14, top + 12), outline);
    QCOMPARE(image.pixel(9, top + 1), background);
    QCOMPARE(image.pixel(9, top + 13), background);
    bool textDrawn = false;
    for (int x = 15; x < 60; ++x)
        for (int y = top; y < top + 15; ++y)
            if (x < 19)
                QCOMPARE(image.pixel(x, y), background); // the name starts at x = h + 4
            else
                textDrawn = textDrawn || near(image.pixel(x, y), colors.color(text).rgb());
    QVERIFY(textDrawn);
}

void tst_color_drop::openListShowsEightRowsAndScrolls()
{
    showWithFontOfPixels(11);
    m_drop->showPopup();
    QTRY_VERIFY(m_drop->view()->isVisible());
    QAbstractItemView* list = m_drop->view();
    const auto shownRows = [&] {
        QList<int> rows;
        for (int row = 0; row < m_drop->count(); ++row) {
            const QRect place = list->visualRect(entry(row));
            if (place.top() >= 0 && place.bottom() <= list->viewport()->rect().bottom())
                rows << row;
        }
        return rows;
    };
    QCOMPARE(shownRows().size(), 8);
    list->scrollTo(entry(17));
    QCOMPARE(shownRows().size(), 8);
    QCOMPARE(shownRows().last(), 17);
}

QTEST_MAIN(tst_color_drop)
#include "tst_color_drop.moc"
