#include "monitor_app.h"
#include "port_route.h"
#include "settings_file.h"
#include "simulated_port_platform.h"
#include "simulated_port_route.h"
#include "tform1.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

// The end of the program: sampling ends with the event loop, the port channel
// closes, and only then are the windows destroyed, the bit-setting window
// first, each writing its keys — also when a write fails and its error box
// runs an event loop of its own.
namespace {

// Simulated ports that note what the settings file held when the channel closed.
class ClosingPlatform : public SimulatedPortPlatform {
public:
    explicit ClosingPlatform(QString settingsPath) : m_settingsPath(std::move(settingsPath)) {}
    void closeDevice(Handle) override
    {
        closed = true;
        QFile file(m_settingsPath);
        settingsAtClose = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    }

    bool closed = false;
    QByteArray settingsAtClose;

private:
    QString m_settingsPath;
};

bool sampling(const TForm1& form)
{
    return form.IdleHook->isActive() || form.Timer1->isActive() || form.Timer2->isActive();
}
}

class tst_shutdown : public QObject {
    Q_OBJECT

private slots:
    void windowsEndAfterTheChannel_data()
    {
        QTest::addColumn<bool>("unwritable");
        QTest::newRow("settings written") << false;
        QTest::newRow("settings cannot be written") << true;
    }

    void windowsEndAfterTheChannel()
    {
        QFETCH(bool, unwritable);
        QTemporaryDir config;
        // A configuration directory below a plain file cannot be made, by root neither.
        QFile(config.filePath("file")).open(QIODevice::WriteOnly);
        qputenv("XDG_CONFIG_HOME", config.filePath(unwritable ? "file/config" : "config").toLocal8Bit());
        const QString settingsPath = SettingsFile::defaultPath();

        auto ports = std::make_unique<ClosingPlatform>(settingsPath);
        ports->addPort(0x378);
        ClosingPlatform& platform = *ports;
        PortRoute route = OpenSimulatedPortRoute(std::move(ports), {});

        QStringList boxes;
        QPointer<QMessageBox> shown;
        int ticksShown = 0;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                auto* form = qobject_cast<TForm1*>(window);
                if (form && form->isVisible() && !platform.closed)
                    form->close();
                if (form && platform.closed)
                    boxes << QStringLiteral("sampling %1").arg(sampling(*form) ? "on" : "off");
            }
            // The box's own event loop runs a few ticks; sampling must not go on in it.
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && box != shown) {
                shown = box;
                ticksShown = 0;
                platform.clearLog();
            } else if (box && ++ticksShown == 5) {
                boxes << box->text() + QStringLiteral(", %1 transfers").arg(platform.log().size());
                box->accept();
            }
        });
        closer.start(10);

        QCOMPARE(runMonitor(route), 0);
        QVERIFY(platform.closed);
        QCOMPARE(platform.settingsAtClose, QByteArray("(none)"));
        if (unwritable) {
            // The bit-setting window's write fails first and ends its keys; then the main window's.
            QCOMPARE(boxes.filter(QStringLiteral("Unable")),
                     (QStringList{"Unable to write to parport.ini., 0 transfers", "Unable to write to parport.ini., 0 transfers"}));
            QVERIFY2(!boxes.contains(QStringLiteral("sampling on")), qPrintable(boxes.join('|')));
        } else {
            QFile file(settingsPath);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray written = file.readAll();
            QVERIFY2(written.indexOf("BitSetTop") >= 0 && written.indexOf("BitSetTop") < written.indexOf("HighColor"),
                     written.constData());
        }
    }
};

QTEST_MAIN(tst_shutdown)
#include "tst_shutdown.moc"
