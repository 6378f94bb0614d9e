#include "recording_desktop_services.h"
#include "turl_label.h"

#include <QBitmap>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class tst_url_label : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startsAsUnderlinedBlueLink();
    void clickOpensTarget_data();
    void clickOpensTarget();
    void pressColour_data();
    void pressColour();
    void releaseOutsideIsNoClick();
    void copyPutsCaptionOnClipboard();
    void contextMenuPopsUpWithCopy();
    void handCursorIsSharedWithHotSpotAtFingerTip();

private:
    QColor shownColour() const { return m_label->palette().color(QPalette::WindowText); }

    std::unique_ptr<RecordingDesktopServices> m_services;
    std::unique_ptr<TUrlLabel> m_label;
};

void tst_url_label::init()
{
    m_services = std::make_unique<RecordingDesktopServices>();
    m_label = std::make_unique<TUrlLabel>(*m_services);
    m_label->resize(120, 20);
}

void tst_url_label::cleanup()
{
    m_label.reset();
    m_services.reset();
}

void tst_url_label::startsAsUnderlinedBlueLink()
{
    QVERIFY(m_label->font().underline());
    QCOMPARE(shownColour(), QColor(0, 0, 255));
    QCOMPARE(m_label->property("ActiveColor").value<ColorRef>(), ColorRef(0x800080));
    QVERIFY(m_label->property("URL").toString().isEmpty());
}

void tst_url_label::clickOpensTarget_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("opened");

    QTest::newRow("URL wins over caption") << "https://example.org/" << "example.org" << QStringList{"https://example.org/"};
    QTest::newRow("blank URL opens caption") << "   " << "abc" << QStringList{"abc"};
    QTest::newRow("leading blanks of URL kept") << "  http://x/" << "x" << QStringList{"  http://x/"};
    QTest::newRow("caption opened untrimmed") << "" << " abc " << QStringList{" abc "};
    QTest::newRow("all blank opens nothing") << " " << "   " << QStringList{};
    QTest::newRow("all empty opens nothing") << "" << "" << QStringList{};
}

void tst_url_label::clickOpensTarget()
{
    QFETCH(QString, url);
    QFETCH(QString, caption);
    QFETCH(QStringList, opened);
    m_label->setUrl(url);
    m_label->setText(caption);
    qsizetype openedAtSignal = -1;
    connect(m_label.get(), &TUrlLabel::clicked, this, [&] { openedAtSignal = m_services->opened.size(); });
    QSignalSpy clicks(m_label.get(), &TUrlLabel::clicked);

    QTest::mouseClick(m_label.get(), Qt::LeftButton);

    QCOMPARE(clicks.size(), 1);
    QCOMPARE(openedAtSignal, 0);
    QCOMPARE(m_services->opened, opened);
}

void tst_url_label::pressColour_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("showsActive");
    QTest::addColumn<int>("clicks");

    QTest::newRow("left press shows ActiveColor") << Qt::LeftButton << true << 1;
    QTest::newRow("right press leaves colour") << Qt::RightButton << false << 0;
    QTest::newRow("middle press leaves colour") << Qt::MiddleButton << false << 0;
}

void tst_url_label::pressColour()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, showsActive);
    QFETCH(int, clicks);
    m_label->setText("abc");
    m_label->setFontColor(0x00FF00);
    m_label->setActiveColor(0x0000FF);
    QSignalSpy clicked(m_label.get(), &TUrlLabel::clicked);

    QTest::mousePress(m_label.get(), button);
    QCOMPARE(shownColour(), showsActive ? QColor(255, 0, 0) : QColor(0, 255, 0));
    QTest::mouseRelease(m_label.get(), button);
    QCOMPARE(shownColour(), QColor(0, 255, 0));
    QCOMPARE(m_label->fontColor(), ColorRef(0x00FF00));
    QCOMPARE(clicked.size(), clicks);
    QCOMPARE(m_services->opened.size(), clicks);
}

void tst_url_label::releaseOutsideIsNoClick()
{
    m_label->setText("abc");
    QSignalSpy clicked(m_label.get(), &TUrlLabel::clicked);

    QTest::mousePress(m_label.get(), Qt::LeftButton);
    QTest::mouseRelease(m_label.get(), Qt::LeftButton, {}, QPoint(200, 10));

    QCOMPARE(clicked.size(), 0);
    QVERIFY(m_services->opened.isEmpty());
    QCOMPARE(shownColour(), QColor(0, 0, 255));
}

void tst_url_label::copyPutsCaptionOnClipboard()
{
    m_label->setUrl("mailto:info@example.org");
    m_label->setText("info@example.org");
    QGuiApplication::clipboard()->clear();

    m_label->contextMenu()->actions().constFirst()->trigger();

    QCOMPARE(QGuiApplication::clipboard()->text(), QString("info@example.org"));
}

void tst_url_label::contextMenuPopsUpWithCopy()
{
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
    QCoreApplication::sendEvent(m_label.get(), &request);

    QMenu* menu = m_label->contextMenu();
    QVERIFY(menu->isVisible());
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().constFirst()->text(), QString("Copy"));
    menu->hide();
}

void tst_url_label::handCursorIsSharedWithHotSpotAtFingerTip()
{
    const TUrlLabel other(*m_services);
    const QCursor cursor = m_label->cursor();
    const QImage hand = cursor.bitmap().toImage();
    const QImage mask = cursor.mask().toImage();

    QCOMPARE(cursor.shape(), Qt::BitmapCursor);
    QCOMPARE(hand.size(), QSize(32, 32));
    QCOMPARE(cursor.hotSpot(), QPoint(5, 0));
    QCOMPARE(hand.pixel(5, 0), qRgb(0, 0, 0)); // the drawn tip is a black, opaque pixel
    QCOMPARE(mask.pixel(5, 0), qRgb(0, 0, 0));
    QCOMPARE(mask.pixel(0, 0), qRgb(255, 255, 255)); // transparent around the hand
    QCOMPARE(other.cursor().bitmap().cacheKey(), cursor.bitmap().cacheKey());
}

QTEST_MAIN(tst_url_label)
#include "tst_url_label.moc"
