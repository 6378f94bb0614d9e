// The timeline's decoders: live on the card's serial line, stored in the
// settings (refused ones said), set up in their dialog, the cursor keys on
// their annotations, and the annotations' export.
#include "decoder_dialog.h"
#include "monitor_rig.h"
#include "serial_step_card.h"
#include "timeline_view.h"
#include "timeline_window.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

namespace {
const QByteArray CardDecoder = "uart:rx=ACK:baudrate=9600:format=ascii";

// The card at E010, its clock started now, and the timeline open on it.
struct CardRig : MonitorRig {
    explicit CardRig(const QByteArray& settings) : MonitorRig({0xE010})
    {
        const auto origin = std::chrono::steady_clock::now();
        port(0xE010).attach(std::make_unique<SerialStepCard>([origin] {
            return static_cast<std::uint64_t>((std::chrono::steady_clock::now() - origin).count());
        }));
        platform.setLogging(false);
        kernelBases = {0xE010}; // the kernel's port, found without a probe
        writeSettings("[misc]\n" + settings);
        start();
        form->findChild<QAction*>("Timeline2")->trigger();
        timeline = form->Timeline;
    }
    TimelineWindow* timeline = nullptr;
};

// The texts of a track's data annotations, in their order.
QString trackText(const TimelineWindow& timeline, const QString& title)
{
    QString text;
    for (const TimelineView::DecoderTrack& track : timeline.view()->decoderTracks())
        if (track.title == title)
            for (const Annotation& annotation : track.row->annotations)
                if (annotation.annotationClass == 0) // rx-data
                    text += QString::fromStdString(annotation.texts.front());
    return text;
}

int trackNamed(const TimelineView& view, const QString& title)
{
    const auto& tracks = view.decoderTracks();
    for (std::size_t n = 0; n < tracks.size(); ++n)
        if (tracks[n].title == title)
            return static_cast<int>(n);
    return -1;
}

QComboBox* cellChooser(QTableWidget* table, const QString& name)
{
    for (int row = 0; row < table->rowCount(); ++row)
        if (table->item(row, 0)->text().startsWith(name))
            return qobject_cast<QComboBox*>(table->cellWidget(row, 1));
    return nullptr;
}

void choose(DecoderDialog& dialog, const char* id)
{
    const int index = dialog.DecoderChoice->findText(QString::fromLatin1(id) + QStringLiteral(" — "), Qt::MatchStartsWith);
    QVERIFY(index >= 0);
    dialog.DecoderChoice->setCurrentIndex(index);
}
}

class TestTimelineDecoders : public QObject {
    Q_OBJECT

private slots:
    void decodesLiveAndKeepsItsDecoders()
    {
        CardRig rig("TimelineDecoder1=" + CardDecoder + "\nTimelineDecoder2=bogus\n");
        TimelineWindow& timeline = *rig.timeline;
        QCOMPARE(timeline.DecoderText->text(),
                 QStringLiteral("Dekoder abgelehnt: bogus: no decoder 'bogus' is installed (velkaro-cli decoders lists them)"));
        QTRY_VERIFY_WITH_TIMEOUT(trackText(timeline, "UART: RX").contains("Velkaro 9600 8N1[0D][0A]"), 30000);
        QCOMPARE(timeline.decoderSetups(), QStringList{CardDecoder});
        rig.form.reset();
        const QByteArray written = rig.settingsText();
        QVERIFY2(written.contains("TimelineDecoder1=" + CardDecoder + "\n") && written.contains("TimelineDecoder2=\n"),
                 written.constData());
    }

    // Left and Right on a selected track go from annotation to annotation;
    // Ctrl+E saves them, all or between the cursors.
    void cursorKeysAndExport()
    {
        CardRig rig("TimelineDecoder1=" + CardDecoder + "\n");
        TimelineWindow& timeline = *rig.timeline;
        QTRY_VERIFY_WITH_TIMEOUT(trackText(timeline, "UART: RX").contains("Velkaro 9600 8N1[0D][0A]"), 30000);
        timeline.togglePause();
        timeline.tick();
        TimelineView& view = *timeline.view();
        const int track = trackNamed(view, "UART: RX");
        view.selectTrack(track);
        const std::vector<Annotation>& annotations = view.decoderTracks()[static_cast<std::size_t>(track)].row->annotations;
        std::size_t v = 0;
        while (annotations[v].texts.front() != "V")
            ++v;
        view.setCursor(0, annotations[v].from - 1);
        QTest::keyClick(&view, Qt::Key_Right);
        QCOMPARE(view.cursor(0), annotations[v].from);
        QTest::keyClick(&view, Qt::Key_Right);
        QCOMPARE(view.cursor(0), annotations[v + 1].from); // the byte's stop bit
        QTest::keyClick(&view, Qt::Key_Left);
        QCOMPARE(view.cursor(0), annotations[v].from);

        // Between the cursors: the V's start bit, its bits (the bits row), the byte and its stop bit, no more.
        view.setCursor(0, annotations[v - 1].from);
        view.setCursor(1, annotations[v + 1].to);
        timeline.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&timeline));
        for (const char* file : {"annotations.txt", "annotations.csv"}) {
            const QString path = rig.dir.filePath(QString::fromLatin1(file));
            timeline.setPathQuestion([&](const QString&, const QString&) { return path; });
            QTest::keyClick(&timeline, Qt::Key_E, Qt::ControlModifier);
            QFile saved(path);
            QVERIFY(saved.open(QIODevice::ReadOnly));
            const QByteArray text = saved.readAll();
            if (path.endsWith(".txt")) {
                QCOMPARE(text, QByteArray("uart-1: Start bit\nuart-1: 0\nuart-1: V\nuart-1: 1\nuart-1: 1\nuart-1: 0\n"
                                          "uart-1: 1\nuart-1: 0\nuart-1: 1\nuart-1: 0\nuart-1: Stop bit\n"));
                continue;
            }
            const QList<QByteArray> lines = text.split('\n');
            QCOMPARE(lines.size(), 13); // the header, eleven annotations, the last line's end
            QCOMPARE(lines[0], QByteArray("from_ns,to_ns,decoder,row,class,text"));
            QCOMPARE(lines[3], QString("%1,%2,uart-1,rx-data,rx-data,V").arg(annotations[v].from).arg(annotations[v].to).toUtf8());
        }
        QVERIFY(rig.desktop.messages.isEmpty());
    }

    // The dialog writes the stack as the command line takes it, stacks a
    // decoder on one, and refuses what the command line refuses, in its words.
    // Where the decoders started again the track is hatched, however short the
    // stretch, and hovering it says so; an annotation beside it keeps its box.
    void restartsAreShown()
    {
        AnnotationStore store;
        store.annotations.add({1'000'000, 1'800'000, 0, 0, 0, {"V"}});
        store.events.add({DecodeEvent::Kind::Blind, 2'000'000, 2'000'040, {}});
        store.events.add({DecodeEvent::Kind::Failed, 2'500'000, 2'500'000, "not a restart"});
        AnnotationIndex index;
        index.take(store);
        TimelineView view;
        view.resize(800, 700);
        view.setDecoderTracks({{QStringLiteral("UART: RX"), &index.rows()[0], &index}});
        view.setView(4'000'000, 10'000); // 0.4 ms from the traces' left edge
        const QImage image = view.grab().toImage();
        int top = 0;
        while (top < view.height() && view.rowAt(top) != TimelineView::BusRow + 1)
            ++top;
        const auto distinctColours = [&](int fromX, int toX) {
            QSet<QRgb> colours;
            for (int x = fromX; x < toX; ++x)
                for (int y = top + 4; y < top + TimelineView::RowHeight - 5; ++y)
                    colours.insert(image.pixel(x, y));
            return colours.size();
        };
        const int restartX = view.xAt(2'000'000);
        QVERIFY2(distinctColours(restartX, restartX + 3) >= 2, "hatched"); // 40 ns: far under a pixel
        QVERIFY2(distinctColours(view.xAt(2'200'000), view.xAt(2'400'000)) == 1, "nothing where nothing happened");
        QVERIFY(view.annotationText(0, 2'000'020).startsWith(
            QStringLiteral("Dekoder neu gestartet: von 2.000 ms bis 2.000 ms nicht lückenlos abgetastet")));
        QVERIFY(view.annotationText(0, 1'400'000).startsWith(QStringLiteral("V\n")));
        QVERIFY(!view.annotationText(0, 2'500'000).startsWith(QStringLiteral("Dekoder neu gestartet")));
    }

    void dialogSetsUpStacks()
    {
        DecoderDialog dialog({QString::fromLatin1(CardDecoder)});
        choose(dialog, "spi");
        QCOMPARE(dialog.Channels->rowCount(), 4);
        QVERIFY(!dialog.add());
        QCOMPARE(dialog.Refusal->text(), QStringLiteral("spi needs its channel clk (Clock) on a line, as clk=LINE"));
        cellChooser(dialog.Channels, "clk")->setCurrentText("D0");
        cellChooser(dialog.Channels, "mosi")->setCurrentText("D1");
        cellChooser(dialog.Options, "cpol")->setCurrentText("1");
        QCOMPARE(dialog.chosenSetup(), QStringLiteral("spi:clk=D0:mosi=D1:cpol=1"));
        QVERIFY(dialog.add());
        choose(dialog, "avr_isp");
        QVERIFY(!dialog.StackedOn->currentText().isEmpty());
        dialog.StackedOn->setCurrentIndex(2);
        QVERIFY(dialog.add());
        QCOMPARE(dialog.setups(), QStringList({QString::fromLatin1(CardDecoder), "spi:clk=D0:mosi=D1:cpol=1,avr_isp"}));
        dialog.StackedOn->setCurrentIndex(1); // avr_isp on the serial line
        QVERIFY(!dialog.add());
        QCOMPARE(dialog.Refusal->text(), QStringLiteral("avr_isp cannot be stacked on uart: it takes spi, uart gives uart"));
        dialog.Stacks->setCurrentRow(0);
        dialog.RemoveButton->click();
        QCOMPARE(dialog.setups(), QStringList{"spi:clk=D0:mosi=D1:cpol=1,avr_isp"});
        QCOMPARE(dialog.Stacks->count(), 1);
    }
};

QTEST_MAIN(TestTimelineDecoders)
#include "tst_timeline_decoders.moc"
