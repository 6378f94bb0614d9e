#include "monitor_rig.h"
#include "simulated_devices.h"

#include "popup_menu.h"
#include "tform2.h"

#include <QAction>
#include <QTimer>
#include <QtTest>

namespace {
using Access = SimulatedPortPlatform::Access;

int byteReadsAt(const SimulatedPortPlatform& platform, int port)
{
    int reads = 0;
    for (const Access& access : platform.log())
        reads += access.kind == Access::Read && access.width == 8 && access.port == port;
    return reads;
}

QString cellText(QWidget* window, const QString& name)
{
    return window->findChild<CellPanel*>(name)->caption();
}
}

// Opening the bit-setting window from the main window's menus, and keeping it
// in step with the sampling cycle.
class tst_bitset_opening : public QObject {
    Q_OBJECT

private slots:
    void menuOpensTheWindowModallyForTheRow()
    {
        MonitorRig rig;
        rig.port().attach(std::make_unique<LoopbackPlug>());
        TForm1& form = rig.start(true);
        TForm2 form2(rig.channel, rig.desktop, rig.settings);
        form.setBitSettingWindow(&form2);

        QTest::mouseClick(form.PortDec[1], Qt::LeftButton);
        QString caption, pinState3Before, pinState3After, pinState0Data;
        int refreshesOnDataChange = -1;
        QTimer::singleShot(0, [&] {
            caption = form2.windowTitle();
            pinState3Before = cellText(&form2, "PinState4");
            rig.platform.clearLog();
            rig.port().setDataLatch(0x20); // no status line changes: no refresh
            QTest::qWait(50);
            refreshesOnDataChange = byteReadsAt(rig.platform, 0x379);
            rig.port().setDataLatch(0x01); // Err follows D0 through the plug
            QTRY_COMPARE(cellText(&form2, "PinState4"), QStringLiteral("Ein "));
            pinState3After = cellText(&form2, "PinState4");
            pinState0Data = cellText(&form2, "Func1");
            QTest::keyClick(&form2, Qt::Key_Escape);
        });
        form.PopupMenu2->popupOn(form.PortHex[1], {});
        form.PopupMenu2->hide();
        form.findChild<QAction*>("Bitsetter2")->trigger();

        QVERIFY(!form2.isVisible());
        QVERIFY(form.Edit1->isHidden());
        QCOMPARE(caption, QStringLiteral("Bitsetzung-Portstatus   "));
        QCOMPARE(form2.PortAddress, std::uint16_t(0x379));
        QCOMPARE(pinState3Before, QStringLiteral("Aus"));
        QCOMPARE(refreshesOnDataChange, 0);
        QCOMPARE(pinState3After, QStringLiteral("Ein "));
        QCOMPARE(pinState0Data, QStringLiteral("S0"));

        // closed: a status change no longer refreshes it
        rig.platform.clearLog();
        rig.port().setDataLatch(0x00);
        QTRY_COMPARE(form.PortHex[0]->caption(), QStringLiteral("00"));
        QCOMPARE(byteReadsAt(rig.platform, 0x379), 0);
        form.setBitSettingWindow(nullptr);
    }

    void eachMenuOpensItsRowsRegister_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("caption");
        QTest::newRow("beep cell, data row") << "PopupMenu1" << 0 << "Bitsetzung-Portdaten  ";
        QTest::newRow("address cell, control row") << "PopupMenu3" << 2 << "Bitsetzung-Portkontrolle ";
    }

    void eachMenuOpensItsRowsRegister()
    {
        QFETCH(QString, menu);
        QFETCH(int, row);
        QFETCH(QString, caption);
        MonitorRig rig({0x278});
        TForm1& form = rig.start();
        TForm2 form2(rig.channel, rig.desktop, rig.settings);
        form.setBitSettingWindow(&form2);
        auto* popup = form.findChild<PopupMenu*>(menu);
        popup->popupOn(menu == "PopupMenu1" ? form.BeepCell[row] : form.PortLabel[row], {});
        popup->hide();
        QString shown;
        QTimer::singleShot(0, [&] {
            shown = form2.windowTitle();
            form2.accept();
        });
        popup->actions().first()->trigger();
        QCOMPARE(shown, caption);
        QCOMPARE(int(form2.PortAddress), 0x278 + row);
        form.setBitSettingWindow(nullptr);
    }

    void withoutAPortTheEntryOpensNothing()
    {
        MonitorRig rig({});
        TForm1& form = rig.start();
        TForm2 form2(rig.channel, rig.desktop, rig.settings);
        form.setBitSettingWindow(&form2);
        bool opened = false;
        QTimer::singleShot(0, [&] {
            opened = form2.isVisible();
            form2.reject();
        });
        form.PopupMenu2->popupOn(form.PortDec[0], {});
        form.PopupMenu2->hide();
        form.findChild<QAction*>("Bitsetter2")->trigger();
        QCoreApplication::processEvents();
        QVERIFY(!opened);
        QVERIFY(rig.platform.log().empty());
        form.setBitSettingWindow(nullptr);
    }
};

QTEST_MAIN(tst_bitset_opening)
#include "tst_bitset_opening.moc"
