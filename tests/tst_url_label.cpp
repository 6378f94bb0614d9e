#include "qt_desktop_services.h"
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
    void clickOpensTarget_data();
    void clickOpensTarget();
    void desktopGetsTheTargetAsItIs_data();
    void desktopGetsTheTargetAsItIs();
    void pressColour_data();
    void pressColour();
    void copyPutsCaptionOnClipboard();
    void startsAsUnderlinedBlueLinkWithSharedHandCursor();

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
    QTest::newRow("a tab is no blank") << "\t" << "abc" << QStringList{"\t"};
    QTest::newRow("a line end is no blank") << "" << "\n" << QStringList{"\n"};
}

void tst_url_label::clickOpensTarget()
{
    QFETCH(QString, url);
    QFETCH(QString, caption);
    QFETCH(QStringList, opened);
    m_label->setUrl(url);
    m_label->setText(caption);
    QList<qsizetype> openedAtClick;
    connect(m_label.get(), &TUrlLabel::clicked, this, [&] { openedAtClick.append(m_services->opened.size()); });

    QTest::mouseClick(m_label.get(), Qt::LeftButton);

    QCOMPARE(openedAtClick, QList<qsizetype>{0}); // one click, signalled before anything opens
    QCOMPARE(m_services->opened, opened);
}

void tst_url_label::desktopGetsTheTargetAsItIs_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("address");

    QTest::newRow("with a scheme") << "https://example.org/a b" << QByteArray("https://example.org/a%20b");
    QTest::newRow("host and port") << "example.org:8080/x" << QByteArray("http://example.org:8080/x");
    QTest::newRow("trailing blank kept") << "example.org/a " << QByteArray("http://example.org/a%20");
    QTest::newRow("mail address") << "velkaro@example.org" << QByteArray("mailto:velkaro@example.org");
    QTest::newRow("mailto kept") << "mailto:velkaro@example.org" << QByteArray("mailto:velkaro@example.org");
    QTest::newRow("absolute path") << "/tmp/a b" << QByteArray("file:///tmp/a%20b");
}

void tst_url_label::desktopGetsTheTargetAsItIs()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, address);
    QCOMPARE(QtDesktopServices::addressOf(target).toEncoded(), address);
}

void tst_url_label::pressColour_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QPoint>("releaseAt");
    QTest::addColumn<bool>("showsActive");
    QTest::addColumn<bool>("opens");

    QTest::newRow("left click shows ActiveColor") << Qt::LeftButton << QPoint(5, 5) << true << true;
    QTest::newRow("left release outside is no click") << Qt::LeftButton << QPoint(200, 5) << true << false;
    QTest::newRow("right press leaves colour") << Qt::RightButton << QPoint(5, 5) << false << false;
    QTest::newRow("middle press leaves colour") << Qt::MiddleButton << QPoint(5, 5) << false << false;
}

void tst_url_label::pressColour()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(QPoint, releaseAt);
    QFETCH(bool, showsActive);
    QFETCH(bool, opens);
    m_label->setText("abc");
    m_label->setFontColor(0x00FF00);
    m_label->setActiveColor(0x0000FF);

    QTest::mousePress(m_label.get(), button, {}, QPoint(5, 5));
    QCOMPARE(shownColour(), showsActive ? QColor(255, 0, 0) : QColor(0, 255, 0));
    QTest::mouseRelease(m_label.get(), button, {}, releaseAt);
    QCOMPARE(shownColour(), QColor(0, 255, 0));
    QCOMPARE(m_services->opened, opens ? QStringList{"abc"} : QStringList{});
}

void tst_url_label::copyPutsCaptionOnClipboard()
{
    m_label->setUrl("mailto:info@example.org");
    m_label->setText("info@example.org");
    QGuiApplication::clipboard()->clear();
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
    QCoreApplication::sendEvent(m_label.get(), &request);

    QMenu* menu = m_label->contextMenu();
    QVERIFY(menu->isVisible());
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().constFirst()->text(), QString("Copy"));
    menu->actions().constFirst()->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("info@example.org"));
}

void tst_url_label::startsAsUnderlinedBlueLinkWithSharedHandCursor()
{
    const TUrlLabel other(*m_services);
    const QCursor cursor = m_label->cursor();

    QVERIFY(m_label->font().underline());
    QCOMPARE(shownColour(), QColor(0, 0, 255));
    QCOMPARE(m_label->property("ActiveColor").value<ColorRef>(), ColorRef(0x800080));
    QCOMPARE(cursor.hotSpot(), QPoint(5, 0));
    QCOMPARE(cursor.bitmap().size(), QSize(32, 32));
    QCOMPARE(cursor.bitmap().toImage().pixel(5, 0), qRgb(0, 0, 0)); // the tip is drawn black and opaque
    QCOMPARE(cursor.mask().toImage().pixel(5, 0), qRgb(0, 0, 0));
    QCOMPARE(cursor.mask().toImage().pixel(0, 0), qRgb(255, 255, 255)); // transparent around the hand
    QCOMPARE(other.cursor().bitmap().cacheKey(), cursor.bitmap().cacheKey());
}

QTEST_MAIN(tst_url_label)
#include "tst_url_label.moc"
