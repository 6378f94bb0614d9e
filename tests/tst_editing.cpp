#include "monitor_rig.h"
#include "simulated_devices.h"

#include "cell_panel.h"
#include "popup_menu.h"
#include "register_text.h"

#include <QAction>
#include <QLineEdit>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

namespace {
using Access = SimulatedPortPlatform::Access;

Access written(int port, int value)
{
    return {Access::Write, static_cast<std::uint16_t>(port), 8, static_cast<std::uint32_t>(value)};
}

// Opens the editor over the cell, replaces its text and presses the key.
void typeInto(CellPanel* cell, QLineEdit* editor, const QString& text, Qt::Key key = Qt::Key_Return)
{
    QTest::mouseClick(cell, Qt::LeftButton);
    editor->clear();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, key);
}
}

class tst_editing : public QObject {
    Q_OBJECT

private slots:
    void editorOpensOverTheClickedCell()
    {
        MonitorRig rig;
        rig.port().setDataLatch(0xFF);
        TForm1& form = rig.start();
        form.show();
        QTest::mouseClick(form.PortBin[0], Qt::LeftButton);
        QCOMPARE(form.Edit1->parentWidget(), form.PortBin[0]);
        QCOMPARE(form.Edit1->geometry(), QRect(1, 1, 51, 15));
        QCOMPARE(form.Edit1->text(), QStringLiteral("11111111"));
        QCOMPARE(form.Edit1->selectedText(), QStringLiteral("11111111"));
        QVERIFY(form.Edit1->isVisible());
        QCOMPARE(form.Edit1->toolTip(), QStringLiteral("Esc to cancel"));

        QTest::mouseClick(form.PortDec[2], Qt::LeftButton);
        QCOMPARE(form.Edit1->parentWidget(), form.PortDec[2]);
        QCOMPARE(form.Edit1->text(), form.PortDec[2]->caption());
        QVERIFY(rig.platform.log().empty());
    }

    void enterWritesTheReadingOfTheColumn_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("value");
        QTest::newRow("decimal 300 keeps low eight bits") << "Dec" << 0 << "300" << 0x378 << 44;
        QTest::newRow("decimal -1") << "Dec" << 0 << "-1" << 0x378 << 255;
        QTest::newRow("decimal dollar hex") << "Dec" << 0 << "$1F" << 0x378 << 31;
        QTest::newRow("decimal 0x hex") << "Dec" << 2 << "0x0B" << 0x37A << 0x0B;
        QTest::newRow("decimal leading blanks") << "Dec" << 0 << "  7" << 0x378 << 7;
        QTest::newRow("hex zz") << "Hex" << 0 << "zz" << 0x378 << 0;
        QTest::newRow("hex 1fF") << "Hex" << 0 << "1fF" << 0x378 << 0xFF;
        QTest::newRow("hex with leading blank") << "Hex" << 0 << " 10" << 0x378 << 0;
        QTest::newRow("hex 0x1F stops after 0") << "Hex" << 0 << "0x1F" << 0x378 << 0;
        QTest::newRow("binary 2") << "Bin" << 0 << "2" << 0x378 << 0;
        QTest::newRow("binary 10000000") << "Bin" << 0 << "10000000" << 0x378 << 128;
        QTest::newRow("binary nine characters") << "Bin" << 0 << "110000000" << 0x378 << 128;
        QTest::newRow("binary 1x1") << "Bin" << 0 << "1x1" << 0x378 << 5;
        QTest::newRow("binary empty writes 0") << "Bin" << 0 << "" << 0x378 << 0;
        QTest::newRow("status cell writes base + 1") << "Dec" << 1 << "0" << 0x379 << 0;
    }

    void enterWritesTheReadingOfTheColumn()
    {
        QFETCH(QString, column);
        QFETCH(int, row);
        QFETCH(QString, text);
        QFETCH(int, port);
        QFETCH(int, value);
        MonitorRig rig;
        rig.port().attach(std::make_unique<LoopbackPlug>());
        TForm1& form = rig.start();
        auto* cell = form.findChild<CellPanel*>(QStringLiteral("Port%1%2").arg(row + 1).arg(column));
        typeInto(cell, form.Edit1, text);
        QVERIFY(form.Edit1->isHidden());
        QCOMPARE(rig.platform.writes(), std::vector<Access>{written(port, value)});
        // the write is followed by a sample that shows what the port reads back
        QCOMPARE(rig.platform.log().back().width, 32);
        if (row == 0) {
            QCOMPARE(form.PortDec[0]->caption(), QString::number(value));
            QCOMPARE(form.StatusValue, static_cast<std::uint8_t>(rig.port().read(1)));
        }
    }

    void refusedDecimalTextShowsTheMessageAndWritesNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("trailing blank") << "12 ";
        QTest::newRow("empty") << "";
        QTest::newRow("letters") << "abc";
        QTest::newRow("beyond 32 bits") << "4294967296";
        QTest::newRow("sign before hex") << "-$10";
    }

    void refusedDecimalTextShowsTheMessageAndWritesNothing()
    {
        QFETCH(QString, text);
        MonitorRig rig;
        TForm1& form = rig.start();
        typeInto(form.PortDec[0], form.Edit1, text);
        QVERIFY(rig.platform.log().empty());
        QCOMPARE(rig.desktop.messages.size(), 1);
        QCOMPARE(rig.desktop.messages[0].caption, QStringLiteral("Velkaro "));
        QCOMPARE(rig.desktop.messages[0].text, QStringLiteral("'%1' is not a valid integer value.").arg(text));
        QCOMPARE(rig.desktop.messages[0].icon, DesktopServices::Icon::Error);
        QVERIFY(form.Edit1->isHidden());
    }

    void escapeAndDeactivationCloseWithoutPortAccess()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        typeInto(form.PortHex[0], form.Edit1, "FF", Qt::Key_Escape);
        QVERIFY(form.Edit1->isHidden());
        QTest::mouseClick(form.PortHex[1], Qt::LeftButton);
        QVERIFY(!form.Edit1->isHidden());
        form.Deactivate();
        QVERIFY(form.Edit1->isHidden());
        QTest::mouseClick(form.PortHex[1], Qt::LeftButton);
        form.FormDeactivate();
        QVERIFY(form.Edit1->isHidden());
        QVERIFY(rig.platform.log().empty());
    }

    // Enter and Escape are the characters 13 and 27, whichever keys type them (the keys
    // themselves: the tests above).
    void keysCommitOrCancelByTheirCharacter_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("Ctrl+M") << int(Qt::Key_M) << Qt::KeyboardModifiers(Qt::ControlModifier) << "commit";
        QTest::newRow("Ctrl+[") << int(Qt::Key_BracketLeft) << Qt::KeyboardModifiers(Qt::ControlModifier) << "cancel";
        QTest::newRow("Ctrl+Enter types a line feed") << int(Qt::Key_Return)
                                                      << Qt::KeyboardModifiers(Qt::ControlModifier) << "open";
    }

    void keysCommitOrCancelByTheirCharacter()
    {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QString, outcome);
        MonitorRig rig;
        TForm1& form = rig.start();
        QTest::mouseClick(form.PortHex[0], Qt::LeftButton);
        form.Edit1->setText(QStringLiteral("5"));
        QTest::keyClick(form.Edit1, Qt::Key(key), modifiers);
        QCOMPARE(form.Edit1->isHidden(), outcome != "open");
        QCOMPARE(rig.platform.writes(),
                 outcome == "commit" ? std::vector<Access>{written(0x378, 5)} : std::vector<Access>{});
    }

    void otherKeysReachTheEditorUnfiltered()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        QTest::mouseClick(form.PortDec[0], Qt::LeftButton);
        QTest::keyClicks(form.Edit1, QStringLiteral("x!7 q"));
        QCOMPARE(form.Edit1->text(), QStringLiteral("x!7 q"));
    }

    void enterOnUnchangedTextWritesWhatTheCellShowed()
    {
        MonitorRig rig;
        rig.port().setDataLatch(0x2A);
        TForm1& form = rig.start();
        QTest::mouseClick(form.PortDec[0], Qt::LeftButton);
        rig.port().setDataLatch(0x00); // changed behind the editor's back
        QTest::keyClick(form.Edit1, Qt::Key_Return);
        QCOMPARE(rig.platform.writes(), std::vector<Access>{written(0x378, 0x2A)});
    }

    void portSwitchWhileEditingSendsToTheNewPort()
    {
        MonitorRig rig({0x378, 0x278});
        TForm1& form = rig.start();
        QTest::mouseClick(form.PortHex[2], Qt::LeftButton);
        form.Port1LabelClick();
        QVERIFY(!form.Edit1->isHidden()); // a port switch leaves the editor open
        form.Edit1->setText(QStringLiteral("04"));
        QTest::keyClick(form.Edit1, Qt::Key_Enter);
        QCOMPARE(rig.platform.writes(), std::vector<Access>{written(0x27A, 0x04)});
    }

    void addressClicksCycleThroughFoundPorts_data()
    {
        QTest::addColumn<QList<int>>("bases");
        QTest::addColumn<QList<int>>("visited");
        QTest::newRow("one port: nothing changes") << QList<int>{0x378} << QList<int>{0x378, 0x378, 0x378};
        QTest::newRow("two ports: P2, P1, P2") << QList<int>{0x378, 0x278} << QList<int>{0x278, 0x378, 0x278};
        QTest::newRow("three ports in probe order") << QList<int>{0x278, 0x378, 0x3BC}
                                                    << QList<int>{0x378, 0x278, 0x3BC, 0x378};
    }

    void addressClicksCycleThroughFoundPorts()
    {
        QFETCH(QList<int>, bases);
        QFETCH(QList<int>, visited);
        MonitorRig rig({});
        for (int base : bases)
            rig.platform.addPort(static_cast<std::uint16_t>(base));
        TForm1& form = rig.start();
        for (int i = 0; i < visited.size(); ++i) {
            const std::size_t readsBefore = rig.platform.log().size();
            QTest::mouseClick(i % 2 ? form.Panel1 : form.PortLabel[i % 3], Qt::LeftButton);
            QCOMPARE(int(form.PortBase), visited[i]);
            QCOMPARE(form.PortLabel[0]->caption(), AddressText(form.PortBase));
            if (bases.size() == 1) // no change: no reset, so no read
                QCOMPARE(rig.platform.log().size(), readsBefore);
        }
    }

    void menuChoiceLeavesTheClickPosition()
    {
        MonitorRig rig({0x378, 0x278});
        TForm1& form = rig.start();
        QAction* second = form.PopupMenu3->actions().last();
        QCOMPARE(second->text(), QStringLiteral("278"));
        second->trigger();
        QCOMPARE(form.PortBase, std::uint16_t(0x278));
        QCOMPARE(form.PortIndex, std::uint8_t(0));
        QCOMPARE(form.PortLabel[1]->caption(), QStringLiteral("279"));
        form.Port1LabelClick();
        QCOMPARE(form.PortBase, std::uint16_t(0x278));
        form.Port1LabelClick();
        QCOMPARE(form.PortBase, std::uint16_t(0x378));
    }

    void portSwitchRedrawsEveryRowAndBeeps()
    {
        MonitorRig rig({0x378, 0x278});
        TForm1& form = rig.start();
        form.Panel10Click(form.BeepCell[2]);
        form.Port1LabelClick();
        form.SampleRegisters(); // both ports hold the same values
        QCOMPARE(rig.desktop.beeps, 1);
        QCOMPARE(form.PortDec[0]->caption(), QStringLiteral("0"));
    }

    void menuCommandsWriteTheRowOfTheCell_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("value");
        QTest::newRow("invert data 0x5A") << "Invertall1" << 0 << 0xA5;
        QTest::newRow("clear control") << "ClearAll1" << 2 << 0x00;
        QTest::newRow("set data") << "SetAll1" << 0 << 0xFF;
        QTest::newRow("set status") << "SetAll1" << 1 << 0xFF;
    }

    void menuCommandsWriteTheRowOfTheCell()
    {
        QFETCH(QString, command);
        QFETCH(int, row);
        QFETCH(int, value);
        MonitorRig rig;
        rig.port().setDataLatch(0x11);
        rig.port().write(2, 0x0F);
        TForm1& form = rig.start();
        rig.port().setDataLatch(0x5A); // the port changed since the last step
        QTest::mouseClick(form.PortHex[0], Qt::LeftButton);
        form.PopupMenu2->popupOn(form.PortBin[row], {});
        form.PopupMenu2->hide();
        form.findChild<QAction*>(command)->trigger();
        QVERIFY(form.Edit1->isHidden());
        QCOMPARE(rig.platform.writes(), std::vector<Access>{written(0x378 + row, value)});
        if (command == "Invertall1")
            QCOMPARE(rig.platform.log().front(), (Access{Access::Read, 0x378, 8, 0x5A}));
        QCOMPARE(rig.platform.log().back().width, 32);
    }

    void menusListTheirEntries()
    {
        MonitorRig rig;
        TForm1& form = rig.start();
        QStringList entries;
        for (QAction* action : form.PopupMenu2->actions())
            entries << (action->isSeparator() ? "-" : action->text());
        // The timeline and the port test come after every other entry, so that theirs keep their places.
        QCOMPARE(entries, (QStringList{"&Bitsetzung...", "-", "&Invertiere", "&Löschen  ", "&Setzen ", "&Zeitverlauf...",
                                       "&Porttest..."}));
        QCOMPARE(form.PopupMenu1->actions().size(), 2);
        QCOMPARE(form.PopupMenu1->actions()[0]->objectName(), QStringLiteral("Bitsetter1"));
        QCOMPARE(form.PopupMenu1->actions()[1]->text(), QStringLiteral("&Zeitverlauf..."));
        for (const QAction* action : form.PopupMenu3->actions())
            QVERIFY(action->text() != QStringLiteral("&Zeitverlauf..."));
    }

    // The port test from a value cell's menu: the plug chosen, the verdicts of velkaro-cli test in its rows.
    void portTestShowsTheVerdicts()
    {
        MonitorRig rig;
        rig.port().attach(std::make_unique<FaultyLoopbackPlug>());
        TForm1& form = rig.start();
        form.findChild<QAction*>("Porttest2")->trigger();
        auto* dialog = form.findChild<QDialog*>("PortTestDialog");
        QVERIFY(dialog && dialog->isVisible());
        auto* plug = dialog->findChild<QComboBox*>("PlugChoice");
        plug->setCurrentIndex(plug->findText(QStringLiteral("five-wire")));
        dialog->findChild<QCheckBox*>("InputModeCheck")->setChecked(true);
        QCOMPARE(dialog->findChild<QLabel*>("Announcement")->text(),
                 QStringLiteral("drives D0, D1, D2, D3 and D4 (pins 2, 3, 4, 5 and 6) low and high in turn; writes 55 and AA "
                                "to the data register and turns the data drivers off for a moment (control bit 5): nothing "
                                "else should drive D0-D7 meanwhile; the registers are put back afterwards"));
        QVERIFY(rig.platform.writes().empty()); // nothing driven before the start
        dialog->findChild<QPushButton*>("StartButton")->click();
        QStringList rows;
        const auto* verdicts = dialog->findChild<QTreeWidget*>("Verdicts");
        for (int i = 0; i < verdicts->topLevelItemCount(); ++i)
            rows << verdicts->topLevelItem(i)->text(2) + " " + verdicts->topLevelItem(i)->text(0) + ": " +
                        verdicts->topLevelItem(i)->text(3);
        QCOMPARE(rows, (QStringList{"pass D0→Err: good", "FAIL D1→SlctOut: D1 shorted to D2: SlctOut reads D1 and D2 together",
                                    "FAIL D2→PaperOut: D2 shorted to D1: PaperOut reads D1 and D2 together",
                                    "FAIL D3→ACK: ACK stays low: ACK stuck at 0, or shorted to ground", "pass D4→Busy: good",
                                    "pass input mode: bit 5 turns the data drivers off: the data lines read FF (open lines float high)"}));
        QVERIFY2(dialog->findChild<QLabel*>("Summary")->text().endsWith(
            QStringLiteral("FAILED: 3 of 6 checks passed; the registers are as they were (data 00, control 00)")),
                 qPrintable(dialog->findChild<QLabel*>("Summary")->text()));
    }

    // The window system reports a double-click as press, release, press, double-click, release.
    void doubleClickIsOneClick_data()
    {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<int>("beeps");
        QTest::addColumn<int>("base");
        QTest::newRow("beep cell toggles once") << "Panel10" << 1 << 0x3BC;
        QTest::newRow("Piep header toggles once") << "Panel5" << 7 << 0x3BC;
        QTest::newRow("address cell moves one port") << "Port1Label" << 0 << 0x378;
        QTest::newRow("Adre header moves one port") << "Panel1" << 0 << 0x378;
    }

    void doubleClickIsOneClick()
    {
        QFETCH(QString, cell);
        QFETCH(int, beeps);
        QFETCH(int, base);
        MonitorRig rig({0x3BC, 0x378, 0x278});
        TForm1& form = rig.start();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* target = form.findChild<CellPanel*>(cell);
        QTest::mouseDClick(form.windowHandle(), Qt::LeftButton, {}, target->mapTo(&form, target->rect().center()));
        QCOMPARE(int(form.BeepMask), beeps);
        QCOMPARE(int(form.PortBase), base);
    }

    void beepCellsToggleTheirOwnBit()
    {
        MonitorRig rig;
        rig.writeSettings("[misc]\nBeeps=249\n"); // bits 3..7 set, data row on
        TForm1& form = rig.start();
        QCOMPARE(form.BeepCell[0]->caption(), QStringLiteral("Ja "));
        QCOMPARE(form.BeepCell[1]->caption(), QStringLiteral("N "));
        QTest::mouseClick(form.Panel5, Qt::LeftButton);
        QCOMPARE(form.BeepCell[0]->caption(), QStringLiteral("N "));
        QCOMPARE(form.BeepCell[1]->caption(), QStringLiteral("Ja "));
        QCOMPARE(form.BeepCell[2]->caption(), QStringLiteral("Ja "));
        QCOMPARE(form.BeepMask, std::uint8_t(0xFE));
        QTest::mouseClick(form.BeepCell[1], Qt::LeftButton);
        QCOMPARE(form.BeepMask, std::uint8_t(0xFC));
        QVERIFY(rig.platform.log().empty());
    }
};

QTEST_MAIN(tst_editing)
#include "tst_editing.moc"
