#include "monitor_rig.h"
#include "simulated_devices.h"
#include "simulated_port_route.h"

#include "color_table.h"
#include "monitor_app.h"
#include "pin_shape.h"
#include "port_route.h"
#include "private_profile.h"
#include "tcolor_drop.h"
#include "tform2.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QtTest>

#include <algorithm>
#include <climits>
#include <optional>

// A hand-edited "parport.ini" full of garbage: every key of both windows falls
// back to its default or is taken as its rules say, and the program starts,
// runs and ends normally.
namespace {

struct Garbage {
    const char* name;
    QByteArray text;              // the bytes after "Key="
    std::optional<int> reading;   // the integer the file's rules make of them
};

QList<Garbage> garbage()
{
    return {
        {"empty", "", std::nullopt},
        {"blanks only", "  \t  ", std::nullopt},
        {"blanks around a number", " \t 1 \t", 1},
        {"quoted number", "\"1\"", 1},
        {"blank inside", "1 2", std::nullopt},
        {"5000 digits", QByteArray(5000, '9'), std::nullopt},
        {"5000 characters read up to the 2047th", QByteArray(2046, '0') + '7' + QByteArray(2953, 'x'), 7},
        {"NUL after a number", QByteArray("1\0" "9", 3), 1},
        {"NUL first", QByteArray("\0" "5", 2), std::nullopt},
        {"full-width digits", "\xEF\xBC\x91\xEF\xBC\x92", std::nullopt},
        {"byte that is no UTF-8", "\xB2", std::nullopt},
        {"umlaut after a digit", "1\xC3\xBC", std::nullopt},
        {"huge number", "99999999999999999999", std::nullopt},
        {"largest integer", "2147483647", INT_MAX},
        {"one past the largest", "2147483648", std::nullopt},
        {"smallest integer", "-2147483648", INT_MIN},
        {"one below the smallest", "-2147483649", std::nullopt},
        {"minus one", "-1", -1},
        {"minus zero", "-0", 0},
        {"plus sign", "+1", 1},
        {"hexadecimal 0x", "0x1", 1},
        {"hexadecimal $", "$9", 9},
        {"hexadecimal X of a port", "X278", 632},
        {"hexadecimal of blue", "0XFF0000", 0xFF0000},
        {"hexadecimal of all bits", "$FFFFFFFF", -1},
        {"hexadecimal past 32 bits", "0x100000000", std::nullopt},
        {"signed hexadecimal", "-0x1", std::nullopt},
        {"prefix without digits", "0x", std::nullopt},
        {"lime", "65280", 0x00FF00},
        {"port 632 plus 65536", "66168", 66168},
        {"port 632 minus 65536", "-64904", -64904},
    };
}

const char* const Keys[] = {"HighColor", "LowColor", "Left", "Top", "Port", "Connector", "SampleRate",
                            "Beeps", "OnTop", "DisableCon", "SampleBlink", "BitSetLeft", "BitSetTop"};

// The place a window without stored place gets.
QPoint unstoredPlace()
{
    MonitorRig rig;
    return rig.start().pos();
}

// What a key's rule makes of a reading: the value the windows then hold.
int ruleOf(const QByteArray& key, std::optional<int> reading, QPoint unstored)
{
    const auto inRange = [&reading](int low, int high) { return reading && *reading >= low && *reading <= high; };
    if (key == "HighColor" || key == "LowColor") {
        const int fallback = key == "HighColor" ? 0x0000FF : 0x00FF00;
        return reading && colorTableIndex(static_cast<ColorRef>(*reading)) >= 0 ? *reading : fallback;
    }
    // Places beyond any screen are limited to what a window can take.
    const auto place = [&reading](int fallback) {
        return std::clamp(reading.value_or(fallback), -SettingsFile::MaxCoordinate, SettingsFile::MaxCoordinate);
    };
    if (key == "Left")
        return place(unstored.x());
    if (key == "Top")
        return place(unstored.y());
    if (key == "Port") // the rig's ports are 0x378 (the first found) and 0x278
        return reading == 0x278 ? 0x278 : 0x378;
    if (key == "Connector")
        return inRange(0, 1) ? *reading : 0;
    if (key == "SampleRate")
        return inRange(0, 9) ? *reading : 0;
    if (key == "Beeps")
        return reading ? *reading & 0xFF : 0;
    if (key == "BitSetLeft")
        return place(200);
    if (key == "BitSetTop")
        return place(108);
    return reading ? *reading != 0 : 0; // OnTop, DisableCon, SampleBlink
}

// The value the windows hold for a key, after checking that what they show agrees with it.
void holdValue(const QByteArray& key, const TForm1& form, const TForm2& form2, int& held)
{
    if (key == "HighColor") {
        QCOMPARE(form.HighColorBox->selectedColor(), form.HighColor);
        held = static_cast<int>(form.HighColor);
    } else if (key == "LowColor") {
        QCOMPARE(form.pin("Gnd1")->fill(), form.LowColor);
        held = static_cast<int>(form.LowColor);
    } else if (key == "Left") {
        held = form.x();
    } else if (key == "Top") {
        held = form.y();
    } else if (key == "Port") {
        held = form.PortBase;
    } else if (key == "Connector") {
        QCOMPARE(form.pin("STB")->pos(), form.ConType->currentIndex() == 1 ? QPoint(4, 4) : QPoint(148, 4));
        held = form.ConType->currentIndex();
    } else if (key == "SampleRate") {
        QCOMPARE(form.Timer1->isActive(), form.SampleRate->currentIndex() != 0);
        held = form.SampleRate->currentIndex();
    } else if (key == "Beeps") {
        for (int row = 0; row < 3; ++row)
            QCOMPARE(form.BeepCell[row]->caption(), form.BeepMask & (1 << row) ? "Ja " : "N ");
        held = form.BeepMask;
    } else if (key == "OnTop") {
        QCOMPARE(bool(form.windowFlags() & Qt::WindowStaysOnTopHint), form.OnTop->isChecked());
        held = form.OnTop->isChecked();
    } else if (key == "DisableCon") {
        QCOMPARE(form.ConnectorInactive, form.DisableCon->isChecked());
        held = form.DisableCon->isChecked();
    } else if (key == "SampleBlink") {
        QCOMPARE(!form.Burst->isHidden(), form.SampleBlink->isChecked());
        held = form.SampleBlink->isChecked();
    } else if (key == "BitSetLeft") {
        held = form2.x();
    } else {
        held = form2.y(); // BitSetTop
    }
}

QString stored(const QString& path, const char* key)
{
    return PrivateProfile::readString(QStringLiteral("misc"), QString::fromLatin1(key), QStringLiteral("<none>"), path);
}
}

class tst_bad_settings : public QObject {
    Q_OBJECT

private slots:
    void everyKeyTakesGarbageByItsRule_data();
    void everyKeyTakesGarbageByItsRule();
    void programRunsOnAFileOfGarbage_data();
    void programRunsOnAFileOfGarbage();
};

void tst_bad_settings::everyKeyTakesGarbageByItsRule_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");

    const QPoint unstored = unstoredPlace();
    for (const char* key : Keys)
        for (const Garbage& g : garbage())
            QTest::addRow("%s: %s", key, g.name) << QByteArray(key) << g.text << ruleOf(key, g.reading, unstored);
}

void tst_bad_settings::everyKeyTakesGarbageByItsRule()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, text);
    QFETCH(int, expected);

    MonitorRig rig({0x378, 0x278});
    rig.writeSettings("[misc]\r\n" + key + '=' + text + "\r\n");
    rig.port(0x378).setDataLatch(0xA5);
    TForm1& form = rig.start();
    auto form2 = std::make_unique<TForm2>(rig.channel, rig.desktop, rig.settings);
    form.setBitSettingWindow(form2.get());

    int held = 0;
    holdValue(key, form, *form2, held);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(held, expected);

    // The program is running: it shows what its port holds and keeps sampling.
    QCOMPARE(form.PortDec[0]->caption(), form.PortBase == 0x378 ? QStringLiteral("165") : QStringLiteral("0"));
    rig.port(form.PortBase).setDataLatch(0x3C);
    form.SampleRegisters();
    QCOMPARE(form.PortHex[0]->caption(), QStringLiteral("3C"));
    form.show();
    form2->show();
    QCoreApplication::processEvents();

    // Its end writes every key, this one as the windows held it.
    form.setBitSettingWindow(nullptr);
    form2.reset();
    rig.form.reset();
    QVERIFY(rig.desktop.messages.isEmpty());
    QCOMPARE(stored(rig.settings.path(), key.constData()), QString::number(expected));
}

void tst_bad_settings::programRunsOnAFileOfGarbage_data()
{
    QTest::addColumn<QByteArray>("text");
    for (const Garbage& g : garbage())
        QTest::newRow(g.name) << g.text;
}

void tst_bad_settings::programRunsOnAFileOfGarbage()
{
    QFETCH(QByteArray, text);

    // The real program's run over simulated ports, its settings in a directory of its own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const QString path = SettingsFile::defaultPath();
    QByteArray file = "[misc]\n";
    for (const char* key : Keys)
        file += QByteArray(key) + '=' + text + '\n';
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
    }

    auto platform = std::make_unique<SimulatedPortPlatform>();
    platform->setLogging(false);
    platform->addPort(0x378).attach(std::make_unique<CountingDevice>());
    PortRoute route = OpenSimulatedPortRoute(std::move(platform), {});

    QStringList messages;
    int samples = 0;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            messages << box->text();
            box->accept();
        }
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* form = qobject_cast<TForm1*>(window);
            // A few sampling steps, then the user closes the window.
            if (form && form->isVisible() && ++samples == 5) {
                form->close();
                QTimer::singleShot(5000, &closer, [] { QCoreApplication::exit(2); }); // the loop went on
            }
        }
    });
    closer.start(10);
    QCOMPARE(runMonitor(route), 0);
    QCOMPARE(messages, QStringList());
    QVERIFY(samples >= 5);

    const QList<std::pair<const char*, std::pair<int, int>>> ranges = {
        {"Connector", {0, 1}}, {"SampleRate", {0, 9}}, {"Beeps", {0, 255}},
        {"OnTop", {0, 1}},     {"DisableCon", {0, 1}}, {"SampleBlink", {0, 1}},
    };
    for (const auto& [key, range] : ranges) {
        bool ok = false;
        const int value = stored(path, key).toInt(&ok);
        QVERIFY2(ok && value >= range.first && value <= range.second, key);
    }
    for (const char* key : {"HighColor", "LowColor"})
        QVERIFY2(colorTableIndex(static_cast<ColorRef>(stored(path, key).toInt())) >= 0, key);
    for (const char* key : {"Left", "Top", "Port", "BitSetLeft", "BitSetTop"}) {
        bool ok = false;
        stored(path, key).toInt(&ok);
        QVERIFY2(ok, key);
    }
}

QTEST_MAIN(tst_bad_settings)
#include "tst_bad_settings.moc"
