#include "monitor_rig.h"

#include "cell_panel.h"
#include "page_arrow.h"
#include "pin_shape.h"
#include "private_profile.h"
#include "tcolor_drop.h"
#include "turl_label.h"

#include <QCheckBox>
#include <QComboBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QWindow>
#include <QtTest>
#include <QtTest/qtestspontaneevent.h>

#include <algorithm>

namespace {
constexpr ColorRef Red = 0x0000FF, Lime = 0x00FF00, Blue = 0xFF0000;

QString stored(const MonitorRig& rig, const char* key)
{
    return PrivateProfile::readString(QStringLiteral("misc"), QString::fromLatin1(key), QStringLiteral("<none>"),
                                      rig.settings.path());
}
}

class tst_settings_pages : public QObject {
    Q_OBJECT

private slots:
    void withoutAFileTheDefaultsApply()
    {
        MonitorRig rig({0x278, 0x378});
        TForm1& form = rig.start(true);
        QCOMPARE(form.HighColor, Red);
        QCOMPARE(form.LowColor, Lime);
        QCOMPARE(form.SampleRate->currentIndex(), 0);
        QVERIFY(form.IdleHook->isActive());
        QCOMPARE(form.BeepMask, std::uint8_t(0));
        QVERIFY(!form.OnTop->isChecked());
        QVERIFY(!(form.windowFlags() & Qt::WindowStaysOnTopHint));
        QVERIFY(!form.ConnectorInactive);
        QVERIFY(form.Burst->isHidden());
        QCOMPARE(form.PortBase, std::uint16_t(0x378));
        QCOMPARE(form.Notebook1->currentWidget()->objectName(), QStringLiteral("Main"));
        QCOMPARE(rig.desktop.beeps, 0);

        rig.form.reset();
        for (const char* key : {"HighColor", "LowColor", "Left", "Top", "Port", "Connector", "SampleRate", "Beeps",
                                "OnTop", "DisableCon", "SampleBlink"})
            QVERIFY2(stored(rig, key) != QLatin1String("<none>"), key);
        QCOMPARE(stored(rig, "HighColor"), QStringLiteral("255"));
        QCOMPARE(stored(rig, "LowColor"), QStringLiteral("65280"));
        QCOMPARE(stored(rig, "Port"), QStringLiteral("888"));
        QCOMPARE(stored(rig, "OnTop"), QStringLiteral("0"));
        QVERIFY(rig.desktop.messages.isEmpty());
    }

    void storedValuesAreReadByTheirRules_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("check");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("HighColor blue") << QByteArray("HighColor=16711680") << "high" << QVariant(Blue);
        QTest::newRow("HighColor outside the table") << QByteArray("HighColor=123") << "high" << QVariant(Red);
        QTest::newRow("LowColor blue") << QByteArray("LowColor=16711680") << "low" << QVariant(Blue);
        QTest::newRow("OnTop 5 is true") << QByteArray("OnTop=5") << "onTop" << QVariant(true);
        QTest::newRow("OnTop yes is no integer") << QByteArray("OnTop=yes") << "onTop" << QVariant(false);
        QTest::newRow("SampleRate 0x3") << QByteArray("SampleRate=0x3") << "rate" << QVariant(3);
        QTest::newRow("SampleRate out of range") << QByteArray("SampleRate=12") << "rate" << QVariant(0);
        QTest::newRow("Connector 1 is Stec") << QByteArray("Connector=1") << "connector" << QVariant(1);
        QTest::newRow("Connector 2 is Buchse") << QByteArray("Connector=2") << "connector" << QVariant(0);
        QTest::newRow("Beeps 7") << QByteArray("Beeps=7") << "beeps" << QVariant(7);
        QTest::newRow("Beeps 8 shows none") << QByteArray("Beeps=8") << "beeps" << QVariant(8);
        QTest::newRow("Beeps keeps its low byte") << QByteArray("Beeps=257") << "beeps" << QVariant(1);
        QTest::newRow("DisableCon") << QByteArray("DisableCon=1") << "inactive" << QVariant(true);
        QTest::newRow("SampleBlink") << QByteArray("SampleBlink=1") << "blink" << QVariant(true);
    }

    void storedValuesAreReadByTheirRules()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, check);
        QFETCH(QVariant, expected);
        MonitorRig rig;
        rig.writeSettings("[misc]\n" + file + "\n");
        TForm1& form = rig.start();
        if (check == "high")
            QCOMPARE(form.HighColor, expected.value<ColorRef>());
        else if (check == "low") {
            QCOMPARE(form.LowColor, expected.value<ColorRef>());
            QCOMPARE(form.pin("Gnd1")->fill(), expected.value<ColorRef>());
        } else if (check == "onTop") {
            QCOMPARE(form.OnTop->isChecked(), expected.toBool());
            QCOMPARE(bool(form.windowFlags() & Qt::WindowStaysOnTopHint), expected.toBool());
        } else if (check == "rate") {
            QCOMPARE(form.SampleRate->currentIndex(), expected.toInt());
            QCOMPARE(form.Timer1->isActive(), expected.toInt() != 0);
        } else if (check == "connector") {
            QCOMPARE(form.ConType->currentIndex(), expected.toInt());
            QCOMPARE(form.pin("STB")->pos(), expected.toInt() ? QPoint(4, 4) : QPoint(148, 4));
        } else if (check == "beeps") {
            QCOMPARE(int(form.BeepMask), expected.toInt());
            for (int row = 0; row < 3; ++row)
                QCOMPARE(form.BeepCell[row]->caption(),
                         expected.toInt() & (1 << row) ? QStringLiteral("Ja ") : QStringLiteral("N "));
            rig.form.reset();
            QCOMPARE(stored(rig, "Beeps"), QString::number(expected.toInt()));
        } else if (check == "inactive") {
            QVERIFY(form.ConnectorInactive);
            QCOMPARE(form.pin("D0")->fill(), ColorRef(0x808080));
        } else if (check == "blink") {
            QVERIFY(!form.Burst->isHidden());
        }
    }

    void storedPortIsSelectedWhenFound()
    {
        MonitorRig rig({0x3BC, 0x378, 0x278});
        rig.writeSettings("[misc]\nPort=632\n");
        TForm1& form = rig.start();
        QCOMPARE(form.PortBase, std::uint16_t(0x278));
        form.Port1LabelClick();
        QCOMPARE(form.PortBase, std::uint16_t(0x3BC));
    }

    void storedPortNotFoundSelectsTheFirst()
    {
        MonitorRig rig({0x278});
        rig.writeSettings("[misc]\nPort=888\n");
        TForm1& form = rig.start();
        QCOMPARE(form.PortBase, std::uint16_t(0x278));
        rig.form.reset();
        QCOMPARE(stored(rig, "Port"), QStringLiteral("632"));
    }

    void changedChoicesAreStoredAtTheEnd()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        form.SampleRate->setCurrentIndex(6);
        form.ConType->setCurrentIndex(1);
        form.DisableCon->setChecked(true);
        form.HighColorBox->setSelectedColor(Blue);
        QCOMPARE(stored(rig, "SampleRate"), QStringLiteral("<none>")); // nothing before the end
        rig.form.reset();
        QCOMPARE(stored(rig, "SampleRate"), QStringLiteral("6"));
        QCOMPARE(stored(rig, "Connector"), QStringLiteral("1"));
        QCOMPARE(stored(rig, "DisableCon"), QStringLiteral("1"));
        QCOMPARE(stored(rig, "HighColor"), QStringLiteral("16711680"));
    }

    // Window-system moves: the first before the window is seen, its answer to the
    // stored place; later ones the user's. "Left,Top" as written; empty: the window's place.
    void storedPlace_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QList<QPoint>>("moves");
        QTest::addColumn<QString>("written");
        QTest::newRow("none: the desktop places") << QByteArray() << QList<QPoint>{} << "";
        QTest::newRow("0,0 is applied") << QByteArray("Left=0\nTop=0") << QList<QPoint>{} << "0,0";
        QTest::newRow("off the screen, written back") << QByteArray("Left=-5000\nTop=123") << QList<QPoint>{}
                                                      << "-5000,123";
        QTest::newRow("beyond 16 bits, put elsewhere")
            << QByteArray("Left=40000\nTop=100") << QList<QPoint>{{-25536, 100}} << "40000,100";
        QTest::newRow("moved by the user") << QByteArray("Left=40000\nTop=100")
                                           << QList<QPoint>{{-25536, 100}, {300, 30}} << "";
    }

    void storedPlace()
    {
        QFETCH(QByteArray, file);
        QFETCH(QList<QPoint>, moves);
        QFETCH(QString, written);
        MonitorRig rig;
        rig.writeSettings("[misc]\n" + file + "\n");
        TForm1& form = rig.start();
        // told to the window system: a place of the program's, not the desktop's choice
        QCOMPARE(form.testAttribute(Qt::WA_Moved), !file.isEmpty());
        if (!moves.isEmpty()) { // the window system's report, as it comes before the window is seen
            QMoveEvent answer(moves[0], form.pos());
            form.move(moves.takeFirst());
            QSpontaneKeyEvent::setSpontaneous(&answer);
            QCoreApplication::instance()->notify(&form, &answer); // sendEvent() would drop the mark
        } else if (!file.isEmpty()) {
            QCOMPARE(QStringLiteral("%1,%2").arg(form.x()).arg(form.y()), written);
        }
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        for (const QPoint& move : moves) {
            const QPoint before = form.pos();
            form.windowHandle()->setPosition(move);
            QTRY_VERIFY(form.pos() != before);
        }
        if (written.isEmpty())
            written = QStringLiteral("%1,%2").arg(form.x()).arg(form.y());
        rig.form.reset();
        QCOMPARE(stored(rig, "Left") + ',' + stored(rig, "Top"), written);
    }

    void handEditedFileKeepsEverythingElse()
    {
        MonitorRig rig;
        const QByteArray before = "; my port tool\r\n[Other]\r\nPort=1\r\n\r\n[MISC]\r\n  sampleRATE = 2 \r\n"
                                  "Beeps=1\r\nMine=keep me\r\n[tail]\r\nx=y\r\n";
        rig.writeSettings(before);
        TForm1& form = rig.start();
        QCOMPARE(form.SampleRate->currentIndex(), 2);
        rig.form.reset();
        const QByteArray after = rig.settingsText();
        QVERIFY(after.startsWith("; my port tool\r\n[Other]\r\nPort=1\r\n\r\n[MISC]\r\n"));
        QVERIFY(after.contains("Mine=keep me\r\n"));
        QVERIFY(after.endsWith("[tail]\r\nx=y\r\n"));
        QVERIFY(after.contains("sampleRATE"));
        QCOMPARE(after.count("[tail]"), 1);
        QCOMPARE(stored(rig, "Beeps"), QStringLiteral("1"));
        QCOMPARE(stored(rig, "SampleRate"), QStringLiteral("2"));
        QCOMPARE(PrivateProfile::readString("Other", "Port", {}, rig.settings.path()), QStringLiteral("1"));
        const int misc = after.indexOf("[MISC]");
        const int tail = after.indexOf("[tail]");
        QVERIFY(after.indexOf("SampleBlink=0\r\n") > misc);
        QVERIFY(after.indexOf("SampleBlink=0\r\n") < tail);
    }

    void unwritableSettingsPlaceIsReportedOnce()
    {
        MonitorRig rig;
        // a plain file where the settings directory should be: not even root can write there
        QFile blocker(rig.dir.filePath(QStringLiteral("taken")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        rig.settings = SettingsFile(rig.dir.filePath(QStringLiteral("taken/parport.ini")));
        rig.start();
        rig.form.reset();
        QCOMPARE(rig.desktop.messages.size(), 1);
        QCOMPARE(rig.desktop.messages[0].caption, QStringLiteral("Velkaro "));
        QCOMPARE(rig.desktop.messages[0].text, QStringLiteral("Unable to write to parport.ini."));
        QCOMPARE(rig.desktop.messages[0].icon, DesktopServices::Icon::Error);
    }

    void failedWriteStopsTheKeysAfterIt()
    {
        MonitorRig rig;
        int writes = 0;
        rig.settings = SettingsFile(rig.settings.path(), [&writes](QIODevice& out, const QByteArray& content) {
            return ++writes <= 2 && out.write(content) == content.size();
        });
        rig.start();
        rig.form.reset();
        QCOMPARE(writes, 3);
        QCOMPARE(rig.desktop.messages.size(), 1);
        QCOMPARE(stored(rig, "LowColor"), QStringLiteral("65280"));
        QCOMPARE(stored(rig, "Left"), QStringLiteral("<none>"));
    }

    // Rows named by the control; as the pages give them, trailing blanks included. A
    // list's caption is its items.
    void captionsAndHints_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("hint");
        const QString none;
        QTest::newRow("SpeedButton1") << none << "Click for settings ";
        QTest::newRow("Label4") << "Anschluss" << none;
        QTest::newRow("ConType") << "Buchse|Stec" << "Sets connector pin orientation";
        QTest::newRow("Label5") << "Farbe  Ein" << none;
        QTest::newRow("HighColorBox") << none << "Sets the color for a logic \"1\"";
        QTest::newRow("Label6") << "Farbe Aus" << none;
        QTest::newRow("LowColorBox") << none << "Sets the color for a logic \"0\"";
        QTest::newRow("SpeedButton2") << none << "Go back";
        QTest::newRow("SpeedButton3") << none << "Click for more settings";
        QTest::newRow("OnTop") << "Immer obenauf" << "Permits window to always be visible";
        QTest::newRow("DisableCon") << "Anschluss inaktiv" << "Disables graphical information";
        QTest::newRow("Label10") << "Proberate  " << none;
        QTest::newRow("SampleRate") << "Schnellst möglich  |0.05 Sekund.|0.1 Sekund.|0.5 Sekund.|1 Sekund|2 Sekund.|"
                                       "5 Sekund.|10 Sekund.|30 Sekund.|60 Sekund."
                                    << none;
        QTest::newRow("SampleBlink") << "Probeblinker an" << none;
        QTest::newRow("SpeedButton6") << none << "Go back";
        QTest::newRow("SpeedButton4") << none << "Click for about information";
        QTest::newRow("Label1") << "Velkaro " << none;
        QTest::newRow("Label3") << "Version 1.4.2" << none;
        QTest::newRow("SpeedButton5") << none << "Go back";
    }

    void captionsAndHints()
    {
        QFETCH(QString, caption);
        QFETCH(QString, hint);
        MonitorRig rig;
        auto* control = rig.start().findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(control);
        QString shown = control->property("text").toString();
        if (auto* list = qobject_cast<QComboBox*>(control); list && !qobject_cast<TColorDrop*>(list))
            for (int i = 0; i < list->count(); ++i)
                shown += (i ? "|" : "") + list->itemText(i);
        QCOMPARE(shown, caption);
        QCOMPARE(control->toolTip(), hint);
    }

    void pageButtonsWalkTheChain()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        const auto page = [&form] { return form.Notebook1->currentWidget()->objectName(); };
        const auto press = [&form](const char* button) {
            auto* b = form.findChild<QToolButton*>(QString::fromLatin1(button));
            QCOMPARE(b->size(), QSize(25, 21));
            b->click();
        };
        press("SpeedButton1");
        QCOMPARE(page(), QStringLiteral("Config"));
        press("SpeedButton3");
        QCOMPARE(page(), QStringLiteral("Config2"));
        press("SpeedButton4");
        QCOMPARE(page(), QStringLiteral("About"));
        press("SpeedButton5");
        QCOMPARE(page(), QStringLiteral("Config2"));
        press("SpeedButton6");
        QCOMPARE(page(), QStringLiteral("Config"));
        press("SpeedButton2");
        QCOMPARE(page(), QStringLiteral("Main"));
    }

    void pageButtonsShowRedArrowsGreyWhenDisabled()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        const auto redPixels = [](const QImage& image) {
            int red = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    red += c.alpha() > 0 && c.red() > 200 && c.green() < 80 && c.blue() < 80;
                }
            return red;
        };
        for (const char* name : {"SpeedButton1", "SpeedButton2", "SpeedButton3", "SpeedButton4", "SpeedButton5", "SpeedButton6"}) {
            const QIcon icon = form.findChild<QToolButton*>(QString::fromLatin1(name))->icon();
            const QImage normal = icon.pixmap(16, 16, QIcon::Normal).toImage();
            QCOMPARE(normal.size(), QSize(16, 16));
            QVERIFY2(redPixels(normal) > 20, name);
            QCOMPARE(redPixels(icon.pixmap(16, 16, QIcon::Disabled).toImage()), 0);
        }
        // a forward arrow points right, a back arrow left, and each is the other's mirror image
        const auto centreX = [](const QImage& image) {
            double sum = 0, weight = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixelColor(x, y).red() > 200 && image.pixelColor(x, y).green() < 80) {
                        sum += x;
                        weight += 1;
                    }
            return sum / weight;
        };
        const auto arrow = [&form](const char* name) {
            return form.findChild<QToolButton*>(QString::fromLatin1(name))->icon().pixmap(16, 16).toImage();
        };
        const QImage forward = arrow("SpeedButton3"), back = arrow("SpeedButton2");
        // the head holds most of the red
        QVERIFY(centreX(forward) > 7.5);
        QVERIFY(centreX(back) < 7.5);
        QCOMPARE(forward.mirrored(true, false).convertToFormat(back.format()), back);
    }

    void aboutLinksOpenTheHomepageAndAMail()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        auto* web = form.findChild<TUrlLabel*>(QStringLiteral("UrlLabel1"));
        QCOMPARE(web->text(), QStringLiteral("velkaro.example.org"));
        QTest::mouseClick(web, Qt::LeftButton);
        QTest::mouseClick(form.findChild<TUrlLabel*>(QStringLiteral("UrlLabel2")), Qt::LeftButton);
        QCOMPARE(rig.desktop.opened,
                 (QStringList{QStringLiteral("https://velkaro.example.org/"), QStringLiteral("mailto:velkaro@example.org")}));
    }

    void programIconHasEachThemeSize()
    {
        const QIcon icon = programIcon();
        QList<int> sizes;
        for (const QSize& size : icon.availableSizes()) {
            QCOMPARE(size.width(), size.height());
            sizes.append(size.width());
        }
        std::sort(sizes.begin(), sizes.end());
        QCOMPARE(sizes, (QList<int>{16, 22, 24, 32, 48, 64, 128, 256}));
        // pin 1, red, where the drawing puts it at 32 x 32
        QCOMPARE(icon.pixmap(32, 32).toImage().pixelColor(3, 12), QColor(Qt::red));
    }

    void onTopKeepsThePlace()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        form.move(40, 50);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.OnTop->setChecked(true);
        QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(form.isVisible());
        QCOMPARE(form.pos(), QPoint(40, 50));
        QCOMPARE(form.size(), QSize(193, 108));
        form.OnTop->setChecked(false);
        QVERIFY(!(form.windowFlags() & Qt::WindowStaysOnTopHint));
        QCOMPARE(form.pos(), QPoint(40, 50));
    }
};

QTEST_MAIN(tst_settings_pages)
#include "tst_settings_pages.moc"
