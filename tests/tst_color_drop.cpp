#include "tcolor_drop.h"

#include <QAbstractItemView>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class tst_color_drop : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void entries_data();
    void entries();
    void setFromCode_data();
    void setFromCode();
    void userPick_data();
    void userPick();
    void rowsAreFourPixelsTallerThanFont_data();
    void rowsAreFourPixelsTallerThanFont();
    void rowDrawing_data();
    void rowDrawing();

private:
    void useFontOfPixels(int pixels);
    QImage grabRow(const QString& where, int row, QRect* rowRect);

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

void tst_color_drop::useFontOfPixels(int pixels)
{
    QFont font = m_drop->font();
    font.setPixelSize(pixels);
    m_drop->setFont(font);
}

void tst_color_drop::entries_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<ColorRef>("value");

    QTest::newRow("first entry") << 0 << "Schwa" << ColorRef(0x000000);
    QTest::newRow("umlaut and trailing blank") << 2 << "Grün " << ColorRef(0x008000);
    QTest::newRow("red in the lowest byte") << 9 << "Rot" << ColorRef(0x0000FF);
    QTest::newRow("two trailing blanks") << 15 << "Hellgrau  " << ColorRef(0xC0C0C0);
    QTest::newRow("sharp s, last entry") << 17 << "Weiß " << ColorRef(0xFFFFFF);
}

void tst_color_drop::entries()
{
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(ColorRef, value);
    QCOMPARE(m_drop->count(), 18);
    QVERIFY(!m_drop->isEditable());
    QCOMPARE(m_drop->itemText(index), name);
    QCOMPARE(m_drop->itemData(index).value<ColorRef>(), value);
    QCOMPARE(m_drop->currentIndex(), 0);
    QCOMPARE(m_drop->selectedColor(), ColorRef(0));
}

void tst_color_drop::setFromCode_data()
{
    QTest::addColumn<ColorRef>("before");
    QTest::addColumn<ColorRef>("set");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<ColorRef>("selected");

    QTest::newRow("silver picks Silber, not Hellgrau") << ColorRef(0) << ColorRef(0xC0C0C0) << "Silber" << ColorRef(0xC0C0C0);
    QTest::newRow("grey picks Grau, not Dunkelgra") << ColorRef(0) << ColorRef(0x808080) << "Grau" << ColorRef(0x808080);
    QTest::newRow("black picks first entry") << ColorRef(0xFFFFFF) << ColorRef(0) << "Schwa" << ColorRef(0);
    QTest::newRow("colour not in list ignored") << ColorRef(0x0000FF) << ColorRef(0x123456) << "Rot" << ColorRef(0x0000FF);
    QTest::newRow("system colour ignored") << ColorRef(0x00FF00) << SystemWindowColor << "Lind" << ColorRef(0x00FF00);
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
    QCOMPARE(changes.size(), 0);
    QCOMPARE(indexChanges.size(), 0);
}

void tst_color_drop::userPick_data()
{
    QTest::addColumn<bool>("fromList");
    QTest::addColumn<int>("row");
    QTest::addColumn<ColorRef>("color");
    QTest::addColumn<int>("firstRowOfColor");

    QTest::newRow("arrow key onto Hellgrau") << false << 15 << ColorRef(0xC0C0C0) << 8;
    QTest::newRow("arrow key onto Dunkelgra") << false << 16 << ColorRef(0x808080) << 7;
    QTest::newRow("click on Hellgrau in the list") << true << 15 << ColorRef(0xC0C0C0) << 8;
}

void tst_color_drop::userPick()
{
    QFETCH(bool, fromList);
    QFETCH(int, row);
    QFETCH(ColorRef, color);
    QFETCH(int, firstRowOfColor);
    QList<ColorRef> seen;
    connect(m_drop.get(), &TColorDrop::colorChanged, this, [&] { seen.append(m_drop->selectedColor()); });
    m_drop->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_drop.get()));

    if (fromList) {
        m_drop->showPopup();
        QAbstractItemView* list = m_drop->view();
        QTRY_VERIFY(list->isVisible());
        const QPoint at = list->visualRect(m_drop->model()->index(row, 0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    } else {
        m_drop->setCurrentIndex(row - 1);
        QTest::keyClick(m_drop.get(), Qt::Key_Down);
    }

    QCOMPARE(seen, QList<ColorRef>{color});
    QCOMPARE(m_drop->currentIndex(), row);
    m_drop->setSelectedColor(color);
    QCOMPARE(m_drop->currentIndex(), firstRowOfColor);
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
    m_drop->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_drop.get()));
    m_drop->showPopup(); // the list is laid out before the font changes
    QTRY_VERIFY(m_drop->view()->isVisible());
    useFontOfPixels(fontPixels);

    QCOMPARE(m_drop->rowHeight(), rowHeight);
    for (int row = 0; row < m_drop->count(); ++row)
        QCOMPARE(m_drop->view()->visualRect(m_drop->model()->index(row, 0)).height(), rowHeight);
    // The selection field holds a whole row: the swatch of Rot is not clipped.
    m_drop->hidePopup();
    m_drop->setSelectedColor(0x0000FF);
    m_drop->resize(m_drop->sizeHint());
    const QImage field = m_drop->grab().toImage();
    int swatchRows = 0;
    for (int y = 0; y < field.height(); ++y)
        swatchRows += field.pixel(9, y) == qRgb(255, 0, 0);
    QCOMPARE(swatchRows, rowHeight - 6);
}

// The selection field, with or without focus, or the open list, grabbed as the user
// sees it; for the list also where the row lies.
QImage tst_color_drop::grabRow(const QString& where, int row, QRect* rowRect)
{
    m_drop->resize(m_drop->sizeHint());
    m_drop->show();
    if (!QTest::qWaitForWindowExposed(m_drop.get()))
        return {};
    if (where == "field")
        m_drop->clearFocus();
    if (where != "list")
        return m_drop->grab().toImage();
    m_drop->showPopup();
    *rowRect = m_drop->view()->visualRect(m_drop->model()->index(row, 0));
    return m_drop->view()->viewport()->grab().toImage();
}

void tst_color_drop::rowDrawing_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("row");
    QTest::addColumn<QPalette::ColorRole>("fill");
    QTest::addColumn<QPalette::ColorRole>("pen");

    // The selection is Rot (row 9); in the open list the selected row is highlighted.
    QTest::newRow("selection field") << "field" << 9 << QPalette::NoRole << QPalette::Text;
    QTest::newRow("focused selection field") << "focused field" << 9 << QPalette::Highlight << QPalette::HighlightedText;
    QTest::newRow("selected list row") << "list" << 9 << QPalette::Highlight << QPalette::HighlightedText;
    QTest::newRow("other list row") << "list" << 12 << QPalette::NoRole << QPalette::Text;
}

void tst_color_drop::rowDrawing()
{
    QFETCH(QString, where);
    QFETCH(int, row);
    QFETCH(QPalette::ColorRole, fill);
    QFETCH(QPalette::ColorRole, pen);
    useFontOfPixels(11);
    m_drop->setColor(0xE0FFE0);
    m_drop->setSelectedColor(0x0000FF);
    QRect rowRect;
    const QImage image = grabRow(where, row, &rowRect);
    QVERIFY(!image.isNull());
    const QRgb background = fill == QPalette::NoRole ? qRgb(0xE0, 0xFF, 0xE0) : m_drop->palette().color(fill).rgb();
    const QRgb outline = m_drop->palette().color(pen).rgb();
    const QRgb swatch = toQColor(m_drop->itemData(row).value<ColorRef>()).rgb();

    QRect inside;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < 30; ++x)
            if (image.pixel(x, y) == swatch)
                inside |= QRect(x, y, 1, 1);
    QCOMPARE(inside.topLeft().x(), 5); // inside an 11 x 11 outlined square from x = 4
    QCOMPARE(inside.size(), QSize(9, 9));
    const int top = inside.top() - 3;
    if (where == "list")
        QCOMPARE(top, rowRect.top());
    QCOMPARE(image.pixel(4, top + 2), outline);
    QCOMPARE(image.pixel(14, top + 12), outline);
    QCOMPARE(image.pixel(9, top + 1), background);
    QCOMPARE(image.pixel(9, top + 13), background);
    bool textDrawn = false;
    for (int x = 15; x < 60; ++x) {
        for (int y = top; y < top + 15; ++y) {
            if (x < 19)
                QCOMPARE(image.pixel(x, y), background); // the name starts at x = h + 4
            else
                textDrawn = textDrawn || image.pixel(x, y) != background;
        }
    }
    QVERIFY(textDrawn);
}

QTEST_MAIN(tst_color_drop)
#include "tst_color_drop.moc"
