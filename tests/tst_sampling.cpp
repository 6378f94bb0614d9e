#include "monitor_rig.h"

#include "cell_panel.h"
#include "pin_shape.h"
#include "popup_menu.h"

#include <QAction>
#include <QComboBox>
#include <QCheckBox>
#include <QtTest>

namespace {
using Access = SimulatedPortPlatform::Access;

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

QStringList menuTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}
}

class tst_sampling : public QObject {
    Q_OBJECT

private slots:
    void startUpGrantsTwelvePortsInOrder()
    {
        MonitorRig rig;
        rig.platform.clearLog();
        rig.form = std::make_unique<TForm1>(rig.channel, rig.desktop, rig.settings);
        QList<int> granted;
        for (const Access& access : rig.platform.log())
            if (access.kind == Access::Grant)
                granted << access.port;
        QCOMPARE(granted, (QList<int>{0x378, 0x379, 0x37A, 0x37B, 0x278, 0x279, 0x27A, 0x27B, 0x3BC, 0x3BD, 0x3BE, 0x3BF}));
    }

    void probeFindsAnsweringPortsAndRestoresTheirData()
    {
        MonitorRig rig({0x378, 0x278});
        rig.port(0x378).setDataLatch(0x5A);
        rig.port(0x278).setDataLatch(0xC3);
        TForm1& form = rig.start();
        QCOMPARE(form.PortList, (std::vector<std::uint16_t>{0x378, 0x278, 0}));
        QCOMPARE(menuTexts(form.PopupMenu3), (QStringList{"&Bitsetzung...", "-", "378", "278"}));
        QCOMPARE(rig.port(0x378).dataLatch(), std::uint8_t(0x5A));
        QCOMPARE(rig.port(0x278).dataLatch(), std::uint8_t(0xC3));
        QCOMPARE(form.PortBase, std::uint16_t(0x378));
        QCOMPARE(form.PortLabel[0]->caption(), QStringLiteral("378"));
        QCOMPARE(form.PortLabel[2]->caption(), QStringLiteral("37A"));
        QCOMPARE(form.PortDec[0]->caption(), QStringLiteral("90"));
        QCOMPARE(form.PortHex[0]->caption(), QStringLiteral("5A"));
        QCOMPARE(form.PortBin[0]->caption(), QStringLiteral("01011010"));
    }

    void probeWritesTheComplementAndRestores()
    {
        MonitorRig rig({0x378});
        rig.port().setDataLatch(0x5A);
        rig.form = std::make_unique<TForm1>(rig.channel, rig.desktop, rig.settings);
        QList<int> written;
        for (const Access& access : rig.platform.writes())
            if (access.port == 0x378)
                written << static_cast<int>(access.value);
        QCOMPARE(written, (QList<int>{0xA5, 0x5A, 0xA5, 0x5A, 0xA5, 0x5A})); // once per probe pass
    }

    // A port that answers only from the second probe pass on is still the
    // first found: the menu gets its separator, and the port is selected.
    void portAnsweringLateIsTheFirstFound()
    {
        class WakingLate : public SimulatedPortPlatform {
        public:
            void outByte(std::uint16_t port, std::uint8_t value) override
            {
                if (++m_writes > 6) // the first pass writes twice to each standard base
                    SimulatedPortPlatform::outByte(port, value);
            }

        private:
            int m_writes = 0;
        } platform;
        platform.addPort(0x378);
        platform.addPort(0x278);
        PortChannel channel(platform);
        channel.OpenPortChannel();
        MonitorRig rig;
        TForm1 form(channel, rig.desktop, rig.settings);
        QCOMPARE(menuTexts(form.PopupMenu3), (QStringList{"&Bitsetzung...", "-", "278"}));
        QCOMPARE(form.PortBase, std::uint16_t(0x278));
    }

    void allThreeBasesStartOnTheFirst()
    {
        MonitorRig rig({0x278, 0x378, 0x3BC});
        TForm1& form = rig.start();
        QCOMPARE(form.PortList, (std::vector<std::uint16_t>{0x3BC, 0x378, 0x278}));
        QCOMPARE(form.PortBase, std::uint16_t(0x3BC));
        QCOMPARE(form.PortLabel[1]->caption(), QStringLiteral("3BD"));
    }

    void kernelPortsFollowTheProbe_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<int>("startBase");
        QTest::addColumn<QList<int>>("clicks");
        QTest::newRow("first found port") << QByteArray() << 0x378 << QList<int>{0x278, 0xE010, 0x378};
        QTest::newRow("stored card") << QByteArray("[misc]\nPort=57360\n") << 0xE010 << QList<int>{0x378, 0x278, 0xE010};
    }

    void kernelPortsFollowTheProbe()
    {
        QFETCH(QByteArray, settings);
        QFETCH(int, startBase);
        QFETCH(QList<int>, clicks);
        MonitorRig rig({0x378, 0x278, 0xE010});
        rig.port(0xE010).setDataLatch(0x42);
        rig.kernelBases = {0xE010};
        rig.writeSettings(settings);
        rig.platform.clearLog();
        TForm1& form = rig.start(true);
        form.IdleHook->stop();

        QCOMPARE(form.PortList, (std::vector<std::uint16_t>{0x378, 0x278, 0xE010}));
        QCOMPARE(menuTexts(form.PopupMenu3), (QStringList{"&Bitsetzung...", "-", "378", "278", "E010"}));
        QCOMPARE(form.PortBase, std::uint16_t(startBase));
        QCOMPARE(form.PortLabel[2]->caption(), startBase == 0xE010 ? QStringLiteral("E012") : QStringLiteral("37A"));
        QList<int> visited;
        for (int i = 0; i < clicks.size(); ++i) {
            form.Port1LabelClick();
            visited << form.PortBase;
        }
        QCOMPARE(visited, clicks);

        form.PopupMenu3->actions().last()->trigger();
        form.SampleRegisters();
        QCOMPARE(form.PortDec[0]->caption(), QStringLiteral("66"));
        QCOMPARE(rig.platform.log().back(), (Access{Access::Read, 0xE010, 32, rig.platform.log().back().value}));
    }

    void kernelPortsAreGrantedAfterTheStandardOnes()
    {
        MonitorRig rig({0x378, 0xE010});
        rig.kernelBases = {0xE010};
        rig.form = std::make_unique<TForm1>(rig.channel, rig.desktop, rig.settings, rig.kernelBases);
        QList<int> granted;
        for (const Access& access : rig.platform.log())
            if (access.kind == Access::Grant)
                granted << access.port;
        QCOMPARE(granted.mid(12), (QList<int>{0xE010, 0xE011, 0xE012, 0xE013}));
    }

    void noPortFoundTouchesNoPort()
    {
        MonitorRig rig({});
        rig.form = std::make_unique<TForm1>(rig.channel, rig.desktop, rig.settings);
        TForm1& form = *rig.form;
        form.IdleHook->stop();
        // Start-up tried the standard bases' data registers, and touched nothing else.
        for (const Access& access : rig.platform.log())
            QVERIFY2(access.kind == Access::Grant || access.port == 0x3BC || access.port == 0x378 || access.port == 0x278,
                     qPrintable(QString::number(access.port, 16)));
        rig.platform.clearLog();
        QCOMPARE(form.PortBase, std::uint16_t(0));
        QCOMPARE(menuTexts(form.PopupMenu3), QStringList{"&Bitsetzung..."});
        form.SampleRegisters();
        form.Port1LabelClick();
        QTest::mouseClick(form.PortDec[0], Qt::LeftButton);
        QTest::keyClicks(form.Edit1, QStringLiteral("12"));
        QTest::keyClick(form.Edit1, Qt::Key_Return);
        form.PopupMenu2->popupOn(form.PortDec[0], {});
        form.PopupMenu2->hide();
        form.SetAll1Click();
        QTest::mousePress(form.pin("D0"), Qt::LeftButton);
        QVERIFY(rig.platform.log().empty());
        QCOMPARE(form.PortDec[0]->caption(), QString());
        QCOMPARE(form.PortLabel[0]->caption(), QString());
    }

    void unchangedRowsAreNotTouched()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        PaintCounter dataCell(form.PortDec[0]);
        PaintCounter statusCell(form.PortDec[1]);
        PaintCounter d0(form.pin("D0"));
        QCoreApplication::processEvents();
        dataCell.paints = statusCell.paints = d0.paints = 0;

        form.SampleRegisters();
        QCoreApplication::processEvents();
        QCOMPARE(dataCell.paints, 0);
        QCOMPARE(d0.paints, 0);

        rig.port().setDataLatch(0x01);
        form.SampleRegisters();
        QCoreApplication::processEvents();
        QVERIFY(dataCell.paints > 0);
        QVERIFY(d0.paints > 0);
        QCOMPARE(statusCell.paints, 0);
        QCOMPARE(form.PortDec[0]->caption(), QStringLiteral("1"));
    }

    void oneReadPerStep()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        form.SampleRegisters();
        QCOMPARE(rig.platform.log().size(), std::size_t(1));
        QCOMPARE(rig.platform.log()[0], (Access{Access::Read, 0x378, 32, rig.platform.log()[0].value}));
    }

    void beepsOncePerStepForRowsWithBeepOn()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        QCOMPARE(rig.desktop.beeps, 0);
        form.Panel10Click(form.BeepCell[0]);
        form.Panel10Click(form.BeepCell[2]);

        rig.port().setDataLatch(0x11);
        rig.port().write(2, 0x05);
        form.SampleRegisters();
        QCOMPARE(rig.desktop.beeps, 1);

        // a change in a row whose beep is off is shown silently
        rig.port().setStatusLines(0x00);
        form.SampleRegisters();
        QCOMPARE(rig.desktop.beeps, 1);
        QCOMPARE(form.PortHex[1]->caption(), QStringLiteral("87"));

        form.SampleRegisters();
        QCOMPARE(rig.desktop.beeps, 1);
    }

    void firstSampleBeepsOnceWhenAnyBeepIsOn()
    {
        MonitorRig rig;
        rig.writeSettings("[misc]\nBeeps=6\n");
        rig.start();
        QCOMPARE(rig.desktop.beeps, 1);
    }

    void resetDisplayRedrawsEveryRow()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        form.Panel10Click(form.BeepCell[1]);
        form.ResetDisplay();
        QCOMPARE(form.DataValue, std::uint8_t(~rig.port().read(0)));
        form.SampleRegisters();
        QCOMPARE(form.DataValue, rig.port().read(0));
        QCOMPARE(form.StatusValue, rig.port().read(1));
        QCOMPARE(form.ControlValue, rig.port().read(2));
        QCOMPARE(rig.desktop.beeps, 1);
    }

    void sampleRateSwitchesBetweenIdleHookAndTimer()
    {
        MonitorRig rig;
        TForm1& form = rig.start(true);
        QVERIFY(form.IdleHook->isActive());
        QVERIFY(!form.Timer1->isActive());
        for (int item = 1; item < 10; ++item) {
            form.SampleRate->setCurrentIndex(item);
            QVERIFY(!form.IdleHook->isActive());
            QVERIFY(form.Timer1->isActive());
            QCOMPARE(form.Timer1->interval(), IntervalFromItem(form.SampleRate->itemText(item)));
        }
        form.SampleRate->setCurrentIndex(0);
        QVERIFY(form.IdleHook->isActive());
        QVERIFY(!form.Timer1->isActive());
    }

    void idleSamplingFollowsThePort()
    {
        MonitorRig rig;
        TForm1& form = rig.start(true);
        rig.port().setDataLatch(0xA5);
        QTRY_COMPARE(form.PortHex[0]->caption(), QStringLiteral("A5"));
    }

    void blinkerStaysLitAtTheFastestRate()
    {
        MonitorRig rig;
        rig.writeSettings("[misc]\nSampleBlink=1\n");
        TForm1& form = rig.start(true);
        QVERIFY(!form.Burst->isHidden());
        QTest::qWait(200);
        QCOMPARE(form.Burst->fill(), form.HighColor);
    }

    void blinkerCountsFiftyMillisecondsFromTheLastStep()
    {
        MonitorRig rig;
        rig.writeSettings("[misc]\nSampleBlink=1\n");
        TForm1& form = rig.start();
        form.SampleRegisters();
        // Without the event loop Timer2 cannot fire; only its time runs out.
        while (form.Timer2->remainingTime() > 10) {
        }
        form.SampleRegisters();
        QVERIFY(form.Timer2->remainingTime() > 10);
    }

    void blinkerFlashesFiftyMillisecondsPerTimerStep()
    {
        MonitorRig rig;
        rig.writeSettings("[misc]\nSampleBlink=1\nSampleRate=4\n");
        TForm1& form = rig.start(true);
        QVERIFY(form.Timer1->isActive());
        QTRY_COMPARE(form.Burst->fill(), form.LowColor);
        form.Timer1Timer();
        QCOMPARE(form.Burst->fill(), form.HighColor);
        QVERIFY(form.Timer2->isActive());
        QCOMPARE(form.Timer2->interval(), 50);
        QTRY_COMPARE_WITH_TIMEOUT(form.Burst->fill(), form.LowColor, 500);
        QVERIFY(!form.Timer2->isActive());
    }

    void hiddenBlinkerIsLeftAlone()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        form.SampleRegisters();
        QCOMPARE(form.Burst->fill(), ColorRef(0xFFFFFF));
        QVERIFY(!form.Timer2->isActive());
        form.SampleBlink->setChecked(true);
        QVERIFY(!form.Burst->isHidden());
        form.SampleBlink->setChecked(false);
        QVERIFY(form.Burst->isHidden());
    }

    void closingTheWindowEndsTheProgram()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        form.show();
        QSignalSpy closed(&form, &TForm1::closed);
        form.close();
        QCOMPARE(closed.count(), 1);
    }

    // Where a four-byte read does not return the registers, the port is
    // sampled with three byte reads.
    void portsWithoutFourByteReadsAreSampledByteWise_data()
    {
        QTest::addColumn<bool>("allOnes");
        QTest::newRow("four-byte reads split into registers") << false;
        QTest::newRow("four-byte reads give all ones") << true;
    }

    void portsWithoutFourByteReadsAreSampledByteWise()
    {
        QFETCH(bool, allOnes);
        MonitorRig rig;
        if (allOnes)
            rig.platform.setDwordReads(SimulatedPortPlatform::DwordReads::AllOnes);
        rig.port().setDataLatch(0x42);
        rig.port().write(2, 0x05);
        TForm1& form = rig.start();
        QCOMPARE(form.PortHex[0]->caption(), QStringLiteral("42"));
        QCOMPARE(form.PortHex[1]->caption(), QStringLiteral("7F"));
        QCOMPARE(form.PortHex[2]->caption(), QStringLiteral("C5"));
        form.SampleRegisters();
        QList<int> widths;
        for (const Access& access : rig.platform.log())
            widths << access.width;
        QCOMPARE(widths, allOnes ? (QList<int>{8, 8, 8}) : QList<int>{32});
    }
};

QTEST_MAIN(tst_sampling)
#include "tst_sampling.moc"
