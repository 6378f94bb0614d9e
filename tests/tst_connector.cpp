#include "monitor_rig.h"

#include "pin_shape.h"
#include "tcolor_drop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QtTest>

namespace {
constexpr ColorRef Red = 0x0000FF, Lime = 0x00FF00, Grey = 0x808080, Blue = 0xFF0000;
const QStringList SignalPins = {"SlctOut", "PaperOut", "Busy", "ACK", "D7", "D6", "D5", "D4", "D3",
                                "D2", "D1", "D0", "STB", "SlctIn", "Init", "Err", "AFD"};
const QStringList GroundPins = {"Gnd1", "Gnd2", "Gnd3", "Gnd4", "Gnd5", "Gnd6", "Gnd7", "Gnd8"};
}

class tst_connector : public QObject {
    Q_OBJECT

    PinShape* pin(TForm1& form, const QString& name) { return form.pin(name.toLatin1().constData()); }

private slots:
    void pinsStandWhereTheBuchseLayoutPutsThem()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        for (int i = 0; i < 13; ++i) // top row: pins 13 down to 1
            QCOMPARE(pin(form, SignalPins[i])->geometry(), QRect(4 + 12 * i, 4, 9, 9));
        for (int i = 0; i < 8; ++i)
            QCOMPARE(pin(form, GroundPins[i])->geometry(), QRect(12 + 12 * i, 16, 9, 9));
        QCOMPARE(pin(form, "AFD")->pos(), QPoint(144, 16));
        QCOMPARE(pin(form, "Busy")->toolTip(), QStringLiteral("Pin 11 \\S7 Input"));
        QCOMPARE(pin(form, "STB")->toolTip(), QStringLiteral("Pin 1 /C0 Output"));
        QCOMPARE(pin(form, "STB")->tag(), 0x20001);
        QCOMPARE(pin(form, "Err")->tag(), 0);
    }

    void pinsShowLineLevels_data()
    {
        QTest::addColumn<int>("control");
        QTest::addColumn<int>("statusLines"); // line levels driven on S3..S7
        QTest::addColumn<QStringList>("high");
        QTest::addColumn<QStringList>("low");
        QTest::newRow("control 0x00: inverted lines high, Init low")
            << 0x00 << 0xF8 << QStringList{"STB", "AFD", "SlctIn"} << QStringList{"Init"};
        QTest::newRow("control 0x0B: all four low")
            << 0x0B << 0xF8 << QStringList{} << QStringList{"STB", "AFD", "SlctIn", "Init"};
        QTest::newRow("status 0x80 (all lines low but Busy): Busy low")
            << 0x00 << 0x00 << QStringList{"STB"} << QStringList{"Busy", "Err", "SlctOut", "PaperOut", "ACK"};
        QTest::newRow("status 0x00 (Busy line high): Busy high, the others low")
            << 0x00 << 0x80 << QStringList{"Busy"} << QStringList{"Err", "SlctOut", "PaperOut", "ACK"};
    }

    void pinsShowLineLevels()
    {
        QFETCH(int, control);
        QFETCH(int, statusLines);
        QFETCH(QStringList, high);
        QFETCH(QStringList, low);
        MonitorRig rig;
        rig.port().write(2, static_cast<std::uint8_t>(control));
        rig.port().setStatusLines(static_cast<std::uint8_t>(statusLines));
        TForm1& form = rig.start();
        for (const QString& name : high)
            QCOMPARE(pin(form, name)->fill(), Red);
        for (const QString& name : low)
            QCOMPARE(pin(form, name)->fill(), Lime);
        for (const QString& name : GroundPins)
            QCOMPARE(pin(form, name)->fill(), Lime);
    }

    void drawnColourMatchesTheFill()
    {
        MonitorRig rig;
        rig.port().setDataLatch(0x01);
        TForm1& form = rig.start();
        const QImage image = form.Panel6->grab().toImage();
        const auto centre = [&](const char* name) { return image.pixelColor(form.pin(name)->geometry().center()); };
        QCOMPARE(centre("D0"), QColor(255, 0, 0));
        QCOMPARE(centre("D1"), QColor(0, 255, 0));
        form.ConnectorOff();
        QCOMPARE(form.Panel6->grab().toImage().pixelColor(form.pin("D0")->geometry().center()), QColor(128, 128, 128));
    }

    void clickingAnOutputPinTogglesItsBit_data()
    {
        QTest::addColumn<QString>("pinName");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("written");
        QTest::newRow("D0 sets bit 0") << "D0" << int(Qt::LeftButton) << 0 << 0x00 << 0x01;
        QTest::newRow("D0 clears bit 0") << "D0" << int(Qt::LeftButton) << 0 << 0x01 << 0x00;
        QTest::newRow("D7 toggles bit 7") << "D7" << int(Qt::LeftButton) << 0 << 0x12 << 0x92;
        QTest::newRow("right button acts like left") << "D3" << int(Qt::RightButton) << 0 << 0x00 << 0x08;
        QTest::newRow("middle button acts like left") << "D3" << int(Qt::MiddleButton) << 0 << 0x08 << 0x00;
        // the control register reads its unused bits 6 and 7 as set; they are written back as read
        QTest::newRow("SlctIn at control 0x04") << "SlctIn" << int(Qt::LeftButton) << 2 << 0x04 << 0xCC;
        QTest::newRow("STB flips control bit 0") << "STB" << int(Qt::LeftButton) << 2 << 0x00 << 0xC1;
    }

    void clickingAnOutputPinTogglesItsBit()
    {
        QFETCH(QString, pinName);
        QFETCH(int, button);
        QFETCH(int, offset);
        QFETCH(int, before);
        QFETCH(int, written);
        MonitorRig rig;
        rig.port().write(offset, static_cast<std::uint8_t>(before));
        TForm1& form = rig.start();
        const ColorRef colourBefore = pin(form, pinName)->fill();
        QTest::mousePress(pin(form, pinName), Qt::MouseButton(button));
        using Access = SimulatedPortPlatform::Access;
        QCOMPARE(rig.platform.writes(), (std::vector<Access>{{Access::Write, std::uint16_t(0x378 + offset), 8, std::uint32_t(written)}}));
        QVERIFY(pin(form, pinName)->fill() != colourBefore); // the sample after the write shows it
    }

    void inputAndGroundPinsDoNothing()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        for (const QString& name : GroundPins + QStringList{"Err", "Busy", "ACK", "SlctOut", "PaperOut"})
            QTest::mousePress(pin(form, name), Qt::LeftButton);
        QVERIFY(rig.platform.log().empty());
    }

    void mirroringSwapsPlacesAndBack()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        QHash<QString, QPoint> buchse;
        for (const QString& name : SignalPins + GroundPins)
            buchse[name] = pin(form, name)->pos();

        form.ConType->setCurrentIndex(1);
        QCOMPARE(pin(form, "STB")->pos(), QPoint(4, 4));
        QCOMPARE(pin(form, "AFD")->pos(), QPoint(12, 16));
        QCOMPARE(pin(form, "D5")->pos(), QPoint(76, 4));
        QCOMPARE(pin(form, "D0")->pos(), QPoint(16, 4));
        QCOMPARE(pin(form, "Gnd1")->pos(), QPoint(144, 16));
        QCOMPARE(form.Burst->pos(), QPoint(4, 20));

        form.ConType->setCurrentIndex(0);
        for (const QString& name : SignalPins + GroundPins)
            QCOMPARE(pin(form, name)->pos(), buchse[name]);
    }

    void inactiveViewIsGreyAndIgnoresClicks()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        form.DisableCon->setChecked(true);
        QVERIFY(form.ConnectorInactive);
        for (const QString& name : SignalPins + GroundPins)
            QCOMPARE(pin(form, name)->fill(), Grey);

        rig.port().setDataLatch(0x0F);
        form.SampleRegisters();
        QCOMPARE(form.PortHex[0]->caption(), QStringLiteral("0F"));
        QCOMPARE(pin(form, "D0")->fill(), Grey);

        rig.platform.clearLog();
        QTest::mousePress(pin(form, "D0"), Qt::LeftButton);
        QVERIFY(rig.platform.log().empty());

        // a new low colour repaints the ground pins at once, the rest stay grey
        form.LowColorBox->setSelectedColor(Blue);
        form.LowColorBoxChange();
        form.SampleRegisters();
        for (const QString& name : GroundPins)
            QCOMPARE(pin(form, name)->fill(), Blue);
        QCOMPARE(pin(form, "D5")->fill(), Grey);
    }

    void switchingOnShowsLastValuesWithoutReading()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        form.DisableCon->setChecked(true);
        rig.port().setDataLatch(0x81);
        form.SampleRegisters();
        rig.platform.clearLog();
        form.DisableCon->setChecked(false);
        QVERIFY(rig.platform.log().empty());
        QCOMPARE(pin(form, "D0")->fill(), Red);
        QCOMPARE(pin(form, "D7")->fill(), Red);
        QCOMPARE(pin(form, "D1")->fill(), Lime);
        QCOMPARE(pin(form, "Gnd4")->fill(), Lime);
    }

    void newHighColourReachesSignalPinsAtTheNextStep()
    {
        MonitorRig rig;
        rig.port().setDataLatch(0x01);
        TForm1& form = rig.start();
        form.HighColorBox->setSelectedColor(Blue);
        form.HighColorBoxChange();
        QCOMPARE(pin(form, "D0")->fill(), Red);
        form.SampleRegisters();
        QCOMPARE(pin(form, "D0")->fill(), Blue);
        QCOMPARE(pin(form, "D1")->fill(), Lime);
    }

    void aStepWithoutChangeRequestsNoPinRepaint()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCoreApplication::processEvents();
        struct Counter : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* e) override { paints += e->type() == QEvent::Paint; return false; }
        } counter;
        for (const QString& name : SignalPins + GroundPins)
            pin(form, name)->installEventFilter(&counter);
        form.SampleRegisters();
        form.SampleRegisters();
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 0);
    }
};

QTEST_MAIN(tst_connector)
#include "tst_connector.moc"
