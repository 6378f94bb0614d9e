#include "cell_panel.h"
#include "port_channel.h"
#include "recording_desktop_services.h"
#include "settings_file.h"
#include "simulated_port_platform.h"
#include "tform2.h"

#include <QFile>
#include <QHash>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QDir>
#include <QtTest>

#include <memory>

using Access = SimulatedPortPlatform::Access;

namespace {

constexpr std::uint16_t Base = 0x378;

QStringList chars(const QString& text)
{
    QStringList result;
    for (QChar c : text)
        result.append(c);
    return result;
}

// Counts the paint events of the widgets it is installed on.
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++counts[watched->objectName()];
        return false;
    }
    QHash<QString, int> counts;
};

// A fresh port, channel, settings directory and window for every test.
struct Fixture {
    Fixture() { channel.OpenPortChannel(); }

    SimulatedPortPlatform platform;
    SimulatedParallelPort& port = platform.addPort(Base);
    PortChannel channel{platform};
    QTemporaryDir dir;
    SettingsFile settings{dir.filePath(QStringLiteral("parport.ini"))};
    RecordingDesktopServices desktop;
    TForm2 form{channel, desktop, settings};
};

} // namespace

class tst_bitset : public QObject {
    Q_OBJECT

private slots:
    void init() { m_f = std::make_unique<Fixture>(); }
    void cleanup() { m_f.reset(); }

    void profiles_data();
    void profiles();
    void refreshShowsRegister_data();
    void refreshShowsRegister();
    void everyCellOfARowFlipsItsBit_data();
    void everyCellOfARowFlipsItsBit();
    void headersDoNothing();
    void flipUsesPortValue_data();
    void flipUsesPortValue();
    void refreshReadsOnceAndRepaintsOnlyChanges();
    void position_data();
    void position();
    void refusedWriteIsReported_data();
    void refusedWriteIsReported();
    void modalWindowClosesKeepingFlips_data();
    void modalWindowClosesKeepingFlips();

private:
    // What the opener does, shown without a modal loop.
    void open(int r);
    // Makes register r of the simulated port read from the value given.
    void drive(int r, std::uint8_t value);
    CellPanel* cell(const QString& name) const;
    QStringList captions(const char* prefix) const;

    std::unique_ptr<Fixture> m_f;
};

void tst_bitset::open(int r)
{
    m_f->form.SetPort(static_cast<std::uint16_t>(Base + r));
    m_f->form.ApplyProfile(r);
    m_f->form.show();
}

void tst_bitset::drive(int r, std::uint8_t value)
{
    if (r == 0)
        m_f->port.setDataLatch(value);
    else if (r == 1)
        m_f->port.setStatusLines(value);
    else
        m_f->port.write(2, value);
}

CellPanel* tst_bitset::cell(const QString& name) const
{
    auto* found = m_f->form.findChild<CellPanel*>(name);
    if (!found)
        qFatal("no cell %s", qPrintable(name));
    return found;
}

QStringList tst_bitset::captions(const char* prefix) const
{
    QStringList result;
    for (int n = 1; n <= 8; ++n)
        result.append(cell(QLatin1String(prefix) + QString::number(n))->caption());
    return result;
}

void tst_bitset::profiles_data()
{
    QTest::addColumn<int>("r");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("wired");
    QTest::addColumn<int>("invert");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("pins");

    QTest::newRow("data") << 0 << "Bitsetzung-Portdaten  " << 0xFF << 0x00
                          << QStringList{"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7"}
                          << QStringList{"2", "3", "4", "5", "6", "7", "8", "9"};
    QTest::newRow("status") << 1 << "Bitsetzung-Portstatus   " << 0xF8 << 0x80
                            << QStringList{"S0", "S1", "S2", "S3", "S4", "S5", "S6", "\\S7"}
                            << QStringList{"k.A", "k.A", "k.A", "15", "13", "12", "10", "11"};
    QTest::newRow("control ends in one blank") << 2 << "Bitsetzung-Portkontrolle " << 0x0F << 0x0B
                             << QStringList{"\\C0", "\\C1", "C2", "\\C3", "C4", "C5", "C6", "C7"}
                             << QStringList{"1", "14", "16", "17", "k.A", "k.A", "k.A", "k.A"};
}

void tst_bitset::profiles()
{
    QFETCH(int, r);
    QFETCH(QString, title);
    QFETCH(int, wired);
    QFETCH(int, invert);
    QFETCH(QStringList, names);
    QFETCH(QStringList, pins);

    // Whatever was opened before leaves nothing behind.
    for (int other = 0; other < 3; ++other)
        m_f->form.ApplyProfile(other);
    m_f->form.ApplyProfile(r);

    QCOMPARE(m_f->form.windowTitle(), title);
    QCOMPARE(m_f->form.WiredMask, wired);
    QCOMPARE(m_f->form.InvertMask, invert);
    QCOMPARE(captions("Func"), names);
    QCOMPARE(captions("Pin"), pins);
}

void tst_bitset::refreshShowsRegister_data()
{
    QTest::addColumn<int>("r");
    QTest::addColumn<int>("driven");
    QTest::addColumn<QString>("bits"); // bit 0 first
    QTest::addColumn<QStringList>("pinStates");

    const QString on = QStringLiteral("Ein ");
    const QString off = QStringLiteral("Aus");
    const QString none = QStringLiteral("k.A");
    QTest::newRow("data 0xA5: pins follow bits") << 0 << 0xA5 << "10100101"
                                                 << QStringList{on, off, on, off, off, on, off, on};
    QTest::newRow("status lines high read 0x7F: Busy inverted") << 1 << 0xF8 << "11111110"
                                                                << QStringList{none, none, none, on, on, on, on, on};
    QTest::newRow("status lines low read 0x87") << 1 << 0x00 << "11100001"
                                                << QStringList{none, none, none, off, off, off, off, off};
    QTest::newRow("control 0x04 reads 0xC4: inverted clear bits high") << 2 << 0x04 << "00100011"
                                                                       << QStringList{on, on, on, on, none, none, none, none};
    QTest::newRow("control 0x0B reads 0xCB: inverted set bits low") << 2 << 0x0B << "11010011"
                                                                    << QStringList{off, off, off, off, none, none, none, none};
}

void tst_bitset::refreshShowsRegister()
{
    QFETCH(int, r);
    QFETCH(int, driven);
    QFETCH(QString, bits);
    QFETCH(QStringList, pinStates);

    drive(r, static_cast<std::uint8_t>(driven));
    open(r);

    QCOMPARE(captions("State"), chars(bits));
    QCOMPARE(captions("PinState"), pinStates);
}

void tst_bitset::everyCellOfARowFlipsItsBit_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("step");

    QTest::newRow("bit-number cell") << "Panel" << 5 << 3;
    QTest::newRow("function cell") << "Func" << 1 << 1;
    QTest::newRow("pin cell") << "Pin" << 1 << 1;
    QTest::newRow("pin-status cell") << "PinState" << 1 << 1;
    QTest::newRow("bit-status cell") << "State" << 1 << 1;
}

void tst_bitset::everyCellOfARowFlipsItsBit()
{
    QFETCH(QString, prefix);
    QFETCH(int, first);
    QFETCH(int, step);

    std::uint8_t value = 0x5A;
    m_f->port.setDataLatch(value);
    open(0);
    for (int b = 0; b < 8; ++b) {
        m_f->platform.clearLog();
        QTest::mouseClick(cell(prefix + QString::number(first + step * b)), Qt::LeftButton);
        const std::uint8_t flipped = value ^ (1u << b);
        const std::vector<Access> expected = {
            {Access::Read, Base, 8, value}, {Access::Write, Base, 8, flipped}, {Access::Read, Base, 8, flipped}};
        QVERIFY2(m_f->platform.log() == expected, qPrintable(QStringLiteral("bit %1").arg(b)));
        value = flipped;
    }
    QCOMPARE(m_f->port.dataLatch(), 0xA5);
}

void tst_bitset::headersDoNothing()
{
    open(0);
    const QStringList states = captions("State");
    m_f->platform.clearLog();

    QTest::mouseClick(cell(QStringLiteral("Panel1")), Qt::LeftButton, {}, QPoint(2, 2));
    for (const char* header : {"Panel2", "Panel3", "Panel7", "Panel30", "Panel4"})
        QTest::mouseClick(cell(QLatin1String(header)), Qt::LeftButton);

    QVERIFY(m_f->platform.log().empty());
    QCOMPARE(captions("State"), states);
}

void tst_bitset::flipUsesPortValue_data()
{
    QTest::addColumn<int>("r");
    QTest::addColumn<int>("driven");
    QTest::addColumn<int>("bit");
    QTest::addColumn<int>("written");
    QTest::addColumn<QString>("bitsAfter");

    // The control register reads bits 6 and 7 as set, so 0x04 there reads 0xC4.
    QTest::newRow("control bit 7 flips what the port reads") << 2 << 0x04 << 7 << 0x44 << "00100011";
    QTest::newRow("control bit 0") << 2 << 0x04 << 0 << 0xC5 << "10100011";
    QTest::newRow("unwired control bit 5") << 2 << 0x04 << 5 << 0xE4 << "00100111";
    QTest::newRow("status ignores the write") << 1 << 0xF8 << 3 << 0x77 << "11111110";
    QTest::newRow("data changed behind the window") << 0 << 0xF0 << 0 << 0xF1 << "10001111";
}

void tst_bitset::flipUsesPortValue()
{
    QFETCH(int, r);
    QFETCH(int, driven);
    QFETCH(int, bit);
    QFETCH(int, written);
    QFETCH(QString, bitsAfter);

    open(r);
    drive(r, static_cast<std::uint8_t>(driven));
    m_f->platform.clearLog();

    QTest::mouseClick(cell(QStringLiteral("State%1").arg(bit + 1)), Qt::LeftButton);

    const std::vector<Access> expected = {{Access::Write, static_cast<std::uint16_t>(Base + r), 8,
                                           static_cast<std::uint32_t>(written)}};
    QVERIFY(m_f->platform.writes() == expected);
    QCOMPARE(captions("State"), chars(bitsAfter));
}

void tst_bitset::refreshReadsOnceAndRepaintsOnlyChanges()
{
    open(0);
    QVERIFY(QTest::qWaitForWindowExposed(&m_f->form));
    PaintCounter counter;
    for (CellPanel* panel : m_f->form.findChildren<CellPanel*>())
        panel->installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.counts.clear();

    m_f->platform.clearLog();
    m_f->form.Refresh();
    QVERIFY((m_f->platform.log() == std::vector<Access>{{Access::Read, Base, 8, 0x00}}));
    QCoreApplication::processEvents();
    QVERIFY2(counter.counts.isEmpty(), qPrintable(counter.counts.keys().join(' ')));

    m_f->port.setDataLatch(0x01);
    m_f->form.Refresh();
    QTRY_VERIFY(counter.counts.value(QStringLiteral("State1")) > 0);
    QTRY_VERIFY(counter.counts.value(QStringLiteral("PinState1")) > 0);
    QCOMPARE(counter.counts.value(QStringLiteral("State2")), 0);
}

void tst_bitset::position_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QPoint>("opened");

    QTest::newRow("no file") << QByteArray() << QPoint(200, 108);
    QTest::newRow("keys missing") << QByteArray("[misc]\nPort=888\n") << QPoint(200, 108);
    QTest::newRow("keys not numbers") << QByteArray("[misc]\nBitSetLeft=left\nBitSetTop=\n") << QPoint(200, 108);
    QTest::newRow("keys stored") << QByteArray("[misc]\nBitSetLeft=321\nBitSetTop=77\n") << QPoint(321, 77);
}

void tst_bitset::position()
{
    QFETCH(QByteArray, file);
    QFETCH(QPoint, opened);

    const QString path = m_f->dir.filePath(QStringLiteral("position.ini"));
    if (!file.isEmpty()) {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
    }
    const SettingsFile settings(path);
    m_f->platform.clearLog();

    auto form = std::make_unique<TForm2>(m_f->channel, m_f->desktop, settings);
    QCOMPARE(form->pos(), opened);
    form.reset();

    QCOMPARE(settings.readInteger("BitSetLeft", -1), opened.x());
    QCOMPARE(settings.readInteger("BitSetTop", -1), opened.y());
    QVERIFY(m_f->platform.log().empty());
    QVERIFY(m_f->desktop.messages.isEmpty());
}

void tst_bitset::refusedWriteIsReported_data()
{
    QTest::addColumn<bool>("blockDirectory");
    QTest::addColumn<int>("refusedWrite");
    QTest::addColumn<int>("attempts");
    QTest::addColumn<int>("storedLeft");

    QTest::newRow("BitSetLeft refused: BitSetTop not tried") << false << 1 << 1 << -1;
    QTest::newRow("BitSetTop refused") << false << 2 << 2 << 200;
    QTest::newRow("directory is a plain file") << true << 0 << 0 << -1;
}

void tst_bitset::refusedWriteIsReported()
{
    QFETCH(bool, blockDirectory);
    QFETCH(int, refusedWrite);
    QFETCH(int, attempts);
    QFETCH(int, storedLeft);

    QVERIFY(QDir(m_f->dir.path()).mkpath(QStringLiteral("refused")));
    QString path = m_f->dir.filePath(QStringLiteral("refused/parport.ini"));
    if (blockDirectory) {
        QFile blocker(m_f->dir.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        path = blocker.fileName() + QStringLiteral("/parport.ini");
    }
    int calls = 0;
    const SettingsFile settings(path, [&](QIODevice& out, const QByteArray& content) {
        return ++calls != refusedWrite && out.write(content) == content.size();
    });

    { TForm2 form(m_f->channel, m_f->desktop, settings); }

    QCOMPARE(calls, attempts);
    QCOMPARE(m_f->desktop.messages.size(), 1);
    QCOMPARE(m_f->desktop.messages[0].caption, QStringLiteral("Velkaro "));
    QCOMPARE(m_f->desktop.messages[0].text, QStringLiteral("Unable to write to parport.ini."));
    QCOMPARE(m_f->desktop.messages[0].icon, DesktopServices::Icon::Error);
    QCOMPARE(settings.readInteger("BitSetLeft", -1), storedLeft);
    QCOMPARE(settings.readInteger("BitSetTop", -1), -1);
}

void tst_bitset::modalWindowClosesKeepingFlips_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Okay button") << "okay";
    QTest::newRow("Esc key") << "escape";
    QTest::newRow("close box") << "close";
}

void tst_bitset::modalWindowClosesKeepingFlips()
{
    QFETCH(QString, how);
    TForm2& form = m_f->form;
    form.SetPort(Base + 2);
    form.ApplyProfile(2);
    drive(2, 0x04); // after SetPort: only showing the window can bring it into view

    bool wasModal = false;
    bool closedByAction = false;
    QStringList shownPinStates;
    QStringList bitsAfterClick;
    QTimer::singleShot(0, &form, [&] {
        wasModal = form.isVisible() && form.isModal();
        shownPinStates = captions("PinState");
        QTest::mouseClick(cell(QStringLiteral("Func1")), Qt::LeftButton);
        bitsAfterClick = captions("State");
        if (how == "okay")
            QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
        else if (how == "escape")
            QTest::keyClick(&form, Qt::Key_Escape);
        else
            form.close();
        closedByAction = !form.isVisible();
        if (!closedByAction)
            form.done(QDialog::Rejected); // never leave the modal loop waiting
    });
    form.exec();

    QVERIFY(wasModal);
    QVERIFY(closedByAction);
    QCOMPARE(shownPinStates, (QStringList{"Ein ", "Ein ", "Ein ", "Ein ", "k.A", "k.A", "k.A", "k.A"}));
    QCOMPARE(bitsAfterClick, chars(QStringLiteral("10100011")));
    QCOMPARE(m_f->port.controlLatch(), 0xC5);
    QCOMPARE(m_f->platform.writes().size(), 1u);
}

QTEST_MAIN(tst_bitset)
#include "tst_bitset.moc"
