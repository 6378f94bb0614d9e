// Decoding with libsigrokdecode: stacks read from their text, a session fed
// with a record's changes, its restarts at blind stretches, a failing
// decoder, and velkaro-cli's decoders and watch --decode.
#include "cli_run.h"
#include "decode_session.h"
#include "decoder_setup.h"
#include "simulated_port_route.h"
#include "bus_traffic.h"
#include "serial_step_card.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include <map>
#include <stdexcept>

namespace {

constexpr std::int64_t Ms = 1'000'000;
constexpr std::int64_t Us = 1'000;
const QString CardText = QStringLiteral("Velkaro 9600 8N1[0D][0A]");

DecoderStack stackOf(const char* text)
{
    auto stack = ReadDecoderStack(text, DecoderLibrary::instance());
    if (auto* fault = std::get_if<std::string>(&stack))
        throw std::runtime_error(*fault);
    return std::get<DecoderStack>(stack);
}

// The packed registers of the simulated card at E010 at a time on its clock.
std::uint32_t cardAt(std::int64_t nanoseconds)
{
    const std::uint8_t lines = SerialStepCard::linesAt(static_cast<std::uint64_t>(nanoseconds));
    return std::uint32_t{RegisterModel::registerFromLevels(RegisterModel::Status, lines)} << 8;
}

// Samples the card every 2 µs over [from, to) and hands the changes on, as a capture would.
void feedCard(DecodeSession& session, std::int64_t from, std::int64_t to, std::uint32_t& last)
{
    for (std::int64_t t = from; t < to; t += 2 * Us) {
        const std::uint32_t registers = cardAt(t);
        if (registers != last || t == 0)
            session.changed(t, registers);
        last = registers;
    }
    session.sampledUntil(to);
}

// The texts of one annotation class, in their order, joined.
QString classTexts(const AnnotationStore& store, const DecoderInfo& decoder, const char* classId)
{
    std::uint64_t next = 0;
    QString texts;
    for (const Annotation& annotation : store.annotations.since(next))
        if (decoder.annotationClasses[static_cast<std::size_t>(annotation.annotationClass)].id == classId)
            texts += QString::fromStdString(annotation.texts.front());
    return texts;
}

// Lines a PC drives itself, as the changes of the packed registers (data in
// bits 0-7, control in 16-23), one every 2 µs: what a script on the outputs
// sends to a device, with the device's answers on status lines where it has
// them.
class DrivenLines {
public:
    // SPI mode 0, most significant bit first: D0 the clock, D1 MOSI, D2 chip
    // select (low through the exchange); the device's MISO on Busy, whose
    // register bit is inverted.
    static DrivenLines spi(const std::vector<std::uint8_t>& mosi, const std::vector<std::uint8_t>& miso)
    {
        DrivenLines lines;
        lines.put(0x04);
        for (std::size_t byte = 0; byte < mosi.size(); ++byte)
            for (int bit = 7; bit >= 0; --bit) {
                const std::uint32_t out = (mosi[byte] >> bit & 1u) << 1;
                const std::uint32_t in = (miso[byte] >> bit & 1u) ? 0 : 0x8000u;
                lines.put(out | in);
                lines.put(out | in | 1);
            }
        lines.put(0);
        lines.put(0x04);
        return lines;
    }
    // An HD44780 LCD's strobes, each RS and the eight data lines: DB0-DB7 on
    // D0-D7, E on STB, RS on Init. STB's register bit is inverted, Init's is not.
    static DrivenLines lcd(const std::vector<std::pair<bool, std::uint8_t>>& strobes)
    {
        DrivenLines lines;
        for (const auto& [rs, bus] : strobes) {
            const std::uint32_t control = (rs ? 0x04u : 0) << 16;
            lines.put(control | 0x010000u | bus); // E low
            lines.put(control | bus);             // E high
            lines.put(control | 0x010000u | bus); // its fall latches
        }
        return lines;
    }

    void feed(DecodeSession& session) const
    {
        for (std::size_t at = 0; at < m_levels.size(); ++at)
            session.changed(static_cast<std::int64_t>(at) * 2 * Us, m_levels[at]);
        session.sampledUntil(static_cast<std::int64_t>(m_levels.size()) * 2 * Us + Ms);
    }

private:
    void put(std::uint32_t levels) { m_levels.push_back(levels); }
    std::vector<std::uint32_t> m_levels;
};

// The strobes of an LCD's initialisation (function set, display on, clear,
// entry mode) and a text. With a 4-bit bus (DB4-DB7 wired) the controller,
// still on 8 bits, first takes three function sets for 8 bits and one for 4 on
// the high nibble alone; from then on each byte is two strobes, high nibble first.
std::vector<std::pair<bool, std::uint8_t>> lcdStrobes(bool fourBit, std::string_view text)
{
    std::vector<std::pair<bool, std::uint8_t>> strobes;
    const auto write = [&strobes, fourBit](bool rs, std::uint8_t byte) {
        strobes.push_back({rs, fourBit ? static_cast<std::uint8_t>(byte & 0xF0) : byte});
        if (fourBit)
            strobes.push_back({rs, static_cast<std::uint8_t>(byte << 4)});
    };
    if (fourBit)
        for (const std::uint8_t nibble : {0x30, 0x30, 0x30, 0x20})
            strobes.push_back({false, nibble});
    for (const std::uint8_t command : {fourBit ? 0x28 : 0x38, 0x0C, 0x01, 0x06})
        write(false, command);
    for (const char c : text)
        write(true, static_cast<std::uint8_t>(c));
    return strobes;
}

// 0x56 sent once as a script sends SPI, mode 0, a millisecond a half bit from
// 1 ms: D0 the clock, D1 MOSI, D2 chip select (low from 0.5 ms to 18 ms).
std::uint32_t slowSpiAt(std::int64_t nanoseconds)
{
    const std::uint32_t select = nanoseconds >= 500 * Us && nanoseconds < 18 * Ms ? 0 : 0x04;
    const std::int64_t half = nanoseconds / Ms - 1;
    if (half < 0 || half >= 16)
        return select;
    const std::uint32_t mosi = (0x56u >> (7 - half / 2) & 1u) << 1;
    return select | mosi | static_cast<std::uint32_t>(half % 2);
}

// A run of velkaro-cli over the simulated card at E010, and what it did to the
// port. A watch's millions of reads go unlogged: a log that large grows by
// copies longer than a real-time sampler may run without a pause.
struct CardRun : CliOutcome {
    enum class Log { Kept, Off };
    explicit CardRun(const QString& commandLine, Log kept = Log::Kept)
    {
        static_cast<CliOutcome&>(*this) = RunCliCaptured(KernelPortsCommandLine(commandLine), [this, kept](bool) {
            auto platform = std::make_unique<KeptLogPlatform>(log);
            platform->setLogging(kept == Log::Kept);
            const auto origin = std::chrono::steady_clock::now();
            platform->addPort(0xE010).attach(std::make_unique<SerialStepCard>([origin] {
                return static_cast<std::uint64_t>((std::chrono::steady_clock::now() - origin).count());
            }));
            return OpenSimulatedPortRoute(std::move(platform), {ListedPort(0, 0xE010)});
        });
    }
    std::vector<SimulatedPortPlatform::Access> log;
};

}

class TestDecode : public QObject {
    Q_OBJECT

    std::map<QString, DrivenLines> m_driven; // the lines of each row that has them

private slots:
    void initTestCase()
    {
        // The test's own decoders, searched first, before the library opens.
        qputenv("SIGROKDECODE_DIR", VELKARO_TEST_DECODERS);
        QVERIFY2(DecoderLibrary::instance().failure().empty(), DecoderLibrary::instance().failure().c_str());
    }

    void readsStacks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("read"); // the stack written back, or the refusal
        QTest::newRow("serial") << "uart:rx=ack:baudrate=9600" << "uart:rx=ACK:baudrate=9600";
        QTest::newRow("stacked") << "spi:clk=D0:mosi=D1,avr_isp" << "spi:clk=D0:mosi=D1,avr_isp";
        QTest::newRow("unknown") << "nosuch" << "no decoder 'nosuch' is installed (velkaro-cli decoders lists them)";
        QTest::newRow("a path") << "../uart" << "no decoder '../uart' is installed (velkaro-cli decoders lists them)";
        QTest::newRow("a Python module") << "this" << "no decoder 'this' is installed (velkaro-cli decoders lists them)";
        QTest::newRow("not loading") << "velkaro_broken"
                                     << "decoder 'velkaro_broken' does not load: AttributeError: Protocol decoder "
                                        "velkaro_broken Decoder class has no reset() method: type object 'Decoder' "
                                        "has no attribute 'reset'";
        QTest::newRow("no line")
            << "uart:rx=pin9"
            << "no line 'pin9' (for uart's channel rx); the lines: D0, D1, D2, D3, D4, D5, D6, D7, Err, SlctOut, "
               "PaperOut, ACK, Busy, STB, AFD, Init, SlctIn";
        QTest::newRow("no such key")
            << "spi:clock=D0"
            << "spi has no channel or option 'clock'; its channels: clk, miso, mosi, cs; its options: cs_polarity, "
               "cpol, cpha, bitorder, wordsize";
        QTest::newRow("not a number") << "uart:baudrate=fast" << "uart's option baudrate is a whole number";
        QTest::newRow("not a choice") << "spi:clk=D0:cpol=2" << "spi's option cpol is one of: 0, 1";
        QTest::newRow("twice") << "uart:rx=ACK:rx=Busy" << "uart's rx is given twice";
        QTest::newRow("no key") << "uart:9600" << "'9600' is not KEY=VALUE (for uart)";
        QTest::newRow("channel missing") << "spi:mosi=D1" << "spi needs its channel clk (Clock) on a line, as clk=LINE";
        QTest::newRow("stacked alone")
            << "avr_isp" << "avr_isp decodes another decoder's output (spi): stack it on one, after a comma";
        QTest::newRow("wrong stack") << "uart:rx=ACK,avr_isp" << "avr_isp cannot be stacked on uart: it takes spi, uart gives uart";
        QTest::newRow("lines for a stacked one") << "spi:clk=D0,avr_isp:clk=D1" << "avr_isp has no channel or option 'clk'; its channels: none; its options: none";
    }
    void readsStacks()
    {
        QFETCH(QString, text);
        QFETCH(QString, read);
        const auto stack = ReadDecoderStack(text.toStdString(), DecoderLibrary::instance());
        if (const auto* fault = std::get_if<std::string>(&stack))
            QCOMPARE(QString::fromStdString(*fault), read);
        else
            QCOMPARE(QString::fromStdString(DecoderStackText(std::get<DecoderStack>(stack))), read);
    }

    // The simulated buses, decoded as sampled every microsecond: SPI on 278's lines, I2C on the card's.
    void decodesTheSimulatedBuses_data()
    {
        QTest::addColumn<QString>("stack");
        QTest::addColumn<QString>("classes"); // of the annotations shown, joined
        QTest::addColumn<QString>("expected");
        QTest::newRow("spi") << "spi:clk=PaperOut:mosi=Busy:cs=SlctOut:cpol=1:cpha=1"
                             << "mosi-data" << "53 50 49";
        QTest::newRow("i2c") << "i2c:scl=PaperOut:sda=Err"
                             << "start address-write data-write ack stop"
                             << "Start, Write, Address write: 50, ACK, Data write: 49, ACK, Data write: 32, ACK, Data write: 43, ACK, Stop";
    }
    void decodesTheSimulatedBuses()
    {
        QFETCH(QString, stack);
        QFETCH(QString, classes);
        QFETCH(QString, expected);
        AnnotationStore store;
        const DecoderStack decoders = stackOf(stack.toUtf8().constData());
        {
            DecodeSession session(decoders, store);
            const auto lines = stack.startsWith("spi") ? &SpiTraffic::linesAt : &I2cTraffic::linesAt;
            std::uint32_t last = ~0u;
            for (std::int64_t t = 0; t < 100 * Ms; t += Us) {
                const std::uint32_t registers =
                    std::uint32_t{RegisterModel::registerFromLevels(RegisterModel::Status, lines(t))} << 8;
                if (registers != last)
                    session.changed(t, registers);
                last = registers;
            }
            session.sampledUntil(100 * Ms);
        }
        std::uint64_t next = 0;
        QStringList shown;
        const QStringList wanted = classes.split(' ');
        const DecoderInfo& decoder = *decoders.front().decoder;
        for (const Annotation& annotation : store.annotations.since(next))
            if (wanted.contains(QString::fromStdString(decoder.annotationClasses[static_cast<std::size_t>(annotation.annotationClass)].id)))
                shown << QString::fromStdString(annotation.texts.front());
        QCOMPARE(shown.join(stack.startsWith("spi") ? " " : ", "), expected);
    }

    void decodesTheCardsSerialLine()
    {
        AnnotationStore store;
        const DecoderStack stack = stackOf("uart:rx=ACK:baudrate=9600:format=ascii");
        {
            DecodeSession session(stack, store);
            QCOMPARE(session.rate(), 153'600u);
            std::uint32_t last = 0;
            feedCard(session, 0, 200 * Ms, last);
        }
        QCOMPARE(classTexts(store, *stack.front().decoder, "rx-data"), CardText + CardText);
        // The first byte's data bits start one bit after the start bit's edge, 10 ms in.
        std::uint64_t next = 0;
        for (const Annotation& annotation : store.annotations.since(next))
            if (annotation.texts.front() == "V") {
                QVERIFY(std::abs(annotation.from - (10 * Ms + 104'167)) < 2 * 6'510);
                break;
            }
    }

    // A blind stretch inside a byte: nothing is decoded across it, the
    // decoders start again after it, and a thousand starts do not wear the
    // library out.
    void blindStretchesRestartTheDecoders()
    {
        AnnotationStore store;
        const DecoderStack stack = stackOf("uart:rx=ACK:baudrate=9600:format=ascii");
        long long starts = 0;
        {
            DecodeSession session(stack, store);
            std::uint32_t last = 0;
            feedCard(session, 0, 13 * Ms, last);
            session.blind(13 * Ms, 13 * Ms + 500 * Us);
            feedCard(session, 13 * Ms + 500 * Us, 30 * Ms, last);
            // Idle line, changes lost again and again.
            for (int n = 0; n < 1000; ++n) {
                const std::int64_t at = 30 * Ms + n * 50 * Us;
                session.lost(at, at + 10 * Us);
            }
            feedCard(session, 80 * Ms, 140 * Ms, last);
            session.finish();
            starts = session.starts();
        }
        QCOMPARE(starts, 1002);
        const QString decoded = classTexts(store, *stack.front().decoder, "rx-data");
        QVERIFY2(decoded.startsWith("Ve") && decoded.endsWith(CardText), qPrintable(decoded));
        std::uint64_t next = 0;
        for (const Annotation& annotation : store.annotations.since(next))
            QVERIFY(!(annotation.from < 13 * Ms && annotation.to > 13 * Ms + 500 * Us));
        std::uint64_t nextEvent = 0;
        const std::vector<DecodeEvent> events = store.events.since(nextEvent);
        QCOMPARE(events.size(), 1001u);
        QCOMPARE(events.front().from, 13 * Ms);
        QCOMPARE(events.front().to, 13 * Ms + 500 * Us);
    }

    // What a PC drives itself and devices answer, decoded to literal texts:
    // an AVR's signature read by its programmer (avr_isp stacked on spi), one
    // the decoder does not know (it raises: the user is told), an LCD on both
    // bus widths, and the card's stepper.
    void decodesDrivenLines_data()
    {
        QTest::addColumn<QString>("stack");
        QTest::addColumn<QString>("shown"); // the top decoder's annotations, or a failure
        // The programmer's reply echoes each byte one byte late.
        const std::vector<std::uint8_t> readSignature = {0xAC, 0x53, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00,
                                                         0x30, 0x00, 0x01, 0x00, 0x30, 0x00, 0x02, 0x00};
        const auto replies = [](std::uint8_t family, std::uint8_t part) {
            return std::vector<std::uint8_t>{0x00, 0xAC, 0x53, 0x00, 0x00, 0x30, 0x00, 0x1E,
                                             0x00, 0x30, 0x00, family, 0x00, 0x30, 0x00, part};
        };
        const QString avrIsp = QStringLiteral("spi:clk=D0:mosi=D1:miso=Busy:cs=D2,avr_isp");
        QTest::newRow("avr_isp on spi") << avrIsp
                                        << "Programming enable | Vendor code: 0x1e (Atmel) | Part family / memory size: "
                                           "0x93 | Part number: 0x0a | Device: Atmel ATmega88";
        m_driven["avr_isp on spi"] = DrivenLines::spi(readSignature, replies(0x93, 0x0A));
        QTest::newRow("avr_isp, a part it does not know") << avrIsp
            << "failed: KeyError: Calling avr_isp-1 decode() failed: (149, 15) | Programming enable | Vendor code: 0x1e "
               "(Atmel) | Part family / memory size: 0x95 | Part number: 0x0f";
        m_driven["avr_isp, a part it does not know"] = DrivenLines::spi(readSignature, replies(0x95, 0x0F));
        const QString lcd = QStringLiteral("hd44780:e=STB:rs=Init:d0=D0:d1=D1:d2=D2:d3=D3:d4=D4:d5=D5:d6=D6:d7=D7");
        QTest::newRow("LCD, 8-bit bus") << lcd << "FS | DC | CLR | EM | H | i | !";
        m_driven["LCD, 8-bit bus"] = DrivenLines::lcd(lcdStrobes(false, "Hi!"));
        QTest::newRow("LCD, 4-bit bus") << "hd44780:e=STB:rs=Init:d4=D4:d5=D5:d6=D6:d7=D7"
                                        << "FS | FS | FS | FS | FS | DC | CLR | EM | O | K";
        m_driven["LCD, 4-bit bus"] = DrivenLines::lcd(lcdStrobes(true, "OK"));
        // Steps 1 ms apart: 1000 a second, counted down while SlctOut is low.
        QTest::newRow("the card's stepper") << "stepper_motor:step=Busy:dir=SlctOut" << "1000 | -1 | 1000 | -2 | 1000 | -3";
    }
    void decodesDrivenLines()
    {
        QFETCH(QString, stack);
        QFETCH(QString, shown);
        AnnotationStore store;
        const DecoderStack decoders = stackOf(stack.toUtf8().constData());
        {
            DecodeSession session(decoders, store);
            const auto driven = m_driven.find(QTest::currentDataTag());
            if (driven != m_driven.end()) {
                driven->second.feed(session);
            } else {
                std::uint32_t last = ~0u;
                feedCard(session, 0, 4 * Ms + 500 * Us, last);
            }
        }
        QStringList texts;
        std::uint64_t next = 0;
        for (const DecodeEvent& event : store.events.since(next))
            texts << QString::fromStdString("failed: " + event.text.substr(0, event.text.find('\n')));
        next = 0;
        for (const Annotation& annotation : store.annotations.since(next))
            if (annotation.decoder + 1 == static_cast<int>(decoders.size()))
                texts << QString::fromStdString(annotation.texts.back());
        QCOMPARE(texts.join(" | "), shown);
    }

    // A brief gap, or a blind stretch of up to a millisecond (those over
    // 100 µs here, as the sampler marks them): decoded through where nothing
    // of the stack's lines can hide in it; else the decoders start again after
    // it, a serial line's once the line kept still for a frame. A longer one
    // always starts them again.
    void briefGaps_data()
    {
        QTest::addColumn<QString>("stack");
        QTest::addColumn<qint64>("from"); // the gap, in µs
        QTest::addColumn<qint64>("to");
        QTest::addColumn<bool>("restarted");
        QTest::addColumn<QString>("decoded");
        const QString uart = QStringLiteral("uart:rx=ACK:baudrate=9600:format=ascii");
        const QString spi = QStringLiteral("spi:clk=PaperOut:mosi=Busy:cs=SlctOut:cpol=1:cpha=1");
        // The card's 'V' (0x56) starts at 10 ms: its second data bit (1) rises at 10.208 ms.
        QTest::newRow("serial edge 35 µs late") << uart << 10'200LL << 10'235LL << false << CardText + CardText;
        QTest::newRow("serial edge 45 µs late") << uart << 10'200LL << 10'245LL << true << CardText;
        QTest::newRow("serial line idle") << uart << 50'000LL << 50'500LL << true << CardText + CardText;
        // SPI sends from 50 ms, a bit every 10 µs; 'S' ends at 50.085 ms.
        QTest::newRow("clock edges lost") << spi << 50'100LL << 50'120LL << true << "53";
        QTest::newRow("clock idle") << spi << 30'000LL << 30'500LL << false << "535049535049";
        QTest::newRow("clock idle beyond a millisecond") << spi << 30'000LL << 31'500LL << true << "535049535049";
        // A script's clock, a millisecond a half bit: a gap just after its edge hides none.
        QTest::newRow("slow clock, just after an edge") << "spi:clk=D0:mosi=D1:cs=D2" << 3'010LL << 3'040LL << false << "56";
    }
    void briefGaps()
    {
        QFETCH(QString, stack);
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QFETCH(bool, restarted);
        QFETCH(QString, decoded);
        const bool serial = stack.startsWith("uart");
        AnnotationStore store;
        const DecoderStack decoders = stackOf(stack.toUtf8().constData());
        {
            DecodeSession session(decoders, store);
            std::uint32_t last = ~0u;
            std::int64_t lastSample = -1;
            for (std::int64_t t = 0; t < 200 * Ms; t += Us) {
                if (t > from * Us && t < to * Us)
                    continue; // not sampled
                if (lastSample >= 0 && t - lastSample > 100 * Us)
                    session.blind(lastSample, t);
                else if (lastSample >= 0 && t - lastSample > Us)
                    session.briefGap(lastSample, t);
                const std::uint32_t registers = serial                  ? cardAt(t)
                                                : stack.contains("D0") ? slowSpiAt(t)
                                                                       : std::uint32_t{RegisterModel::registerFromLevels(
                                                                             RegisterModel::Status, SpiTraffic::linesAt(t))}
                                                                             << 8;
                if (registers != last)
                    session.changed(t, registers);
                last = registers;
                lastSample = t;
            }
            session.sampledUntil(200 * Ms);
        }
        std::uint64_t next = 0;
        const std::vector<DecodeEvent> events = store.events.since(next);
        QCOMPARE(events.size(), restarted ? 1u : 0u);
        const QString texts = classTexts(store, *decoders.front().decoder, serial ? "rx-data" : "mosi-data");
        // Restarted inside a transfer, a clocked protocol's decoder reads what is left of it as it can.
        QVERIFY2(serial || !restarted ? texts == decoded : texts.startsWith(decoded) && texts.endsWith("535049"), qPrintable(texts));
    }

    // A clocked protocol keeps every edge even where two come closer than a
    // sample: each change gets a sample of its own.
    void edgesCloserThanASampleAreKept()
    {
        AnnotationStore store;
        const DecoderStack stack = stackOf("spi:clk=D0:mosi=D1");
        {
            DecodeSession session(stack, store);
            QCOMPARE(session.rate(), 1'000'000u);
            std::int64_t t = 0;
            session.changed(t, 0);
            for (const int byte : {0xA5, 0x3C})
                for (int bit = 7; bit >= 0; --bit) {
                    const std::uint32_t mosi = (byte >> bit & 1) << 1;
                    session.changed(t += 100, mosi);     // data, clock low
                    session.changed(t += 100, mosi | 1); // the clock's rise samples it
                }
            session.changed(t += 100, 0);
            session.sampledUntil(t + Ms);
        }
        QCOMPARE(classTexts(store, *stack.front().decoder, "mosi-data"), QStringLiteral("A53C"));
    }

    // A decoder that raises is told with its message, and decoding goes on after it.
    void aFailingDecoderIsToldAndDecodingGoesOn()
    {
        AnnotationStore store;
        {
            DecodeSession session(stackOf("velkaro_raiser:a=D0:b=D1"), store);
            session.changed(0, 0);
            session.changed(10 * Us, 2);
            session.changed(20 * Us, 3); // a rises
            session.sampledUntil(30 * Us);
            const auto failedYet = [&store] {
                std::uint64_t from = 0;
                return !store.events.since(from).empty();
            };
            QTRY_VERIFY(failedYet());
            session.changed(40 * Us, 1);
            session.sampledUntil(50 * Us);
            session.finish();
            QCOMPARE(session.starts(), 2);
        }
        std::uint64_t next = 0;
        const std::vector<DecodeEvent> events = store.events.since(next);
        QCOMPARE(events.size(), 1u);
        QCOMPARE(events.front().kind, DecodeEvent::Kind::Failed);
        QVERIFY2(events.front().text.starts_with("Exception: Protocol decoder instance velkaro_raiser-1: : a rose\n"),
                 events.front().text.c_str());
        next = 0;
        QStringList texts;
        for (const Annotation& annotation : store.annotations.since(next))
            texts << QString::fromStdString(annotation.texts.front());
        QCOMPARE(texts, QStringList({"b=1", "b=0"}));
    }

    void refusesBadDecodingBeforeAnyPortIsTouched_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("message");
        QTest::newRow("annotations alone") << "watch -p E010 --annotations uart"
                                           << "--annotations chooses among the annotations of --decode: give a decoder with it";
        QTest::newRow("records format") << "watch -p E010 -P uart:rx=ACK -f vcd"
                                        << "--decode writes annotations as text or jsonl, not as records in another format";
        QTest::newRow("decoder not decoding") << "watch -p E010 -P uart:rx=ACK -A spi"
                                              << "--annotations names 'spi'; the decoders decoding: uart";
        QTest::newRow("no such row")
            << "watch -p E010 -P spi:clk=D0 -A spi=bytes"
            << "spi has no annotation row or class 'bytes'; its rows: miso-bits, miso-data, miso-transfer, mosi-bits, "
               "mosi-data, mosi-transfer, other";
        QTest::newRow("bad stack") << "watch -p E010 --decode uart:rx=PIN9"
                                   << "--decode 'uart:rx=PIN9': no line 'PIN9' (for uart's channel rx); the lines: D0, D1, "
                                      "D2, D3, D4, D5, D6, D7, Err, SlctOut, PaperOut, ACK, Busy, STB, AFD, Init, SlctIn";
        QTest::newRow("listing an unknown one") << "decoders uart nosuch"
                                                << "no decoder 'nosuch' is installed (velkaro-cli decoders lists them)";
    }
    void refusesBadDecodingBeforeAnyPortIsTouched()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, message);
        const CardRun run(commandLine);
        QCOMPARE(run.errors, "velkaro-cli: " + message + "\n");
        QCOMPARE(run.status, 2);
        QVERIFY(run.log.empty());
    }

    void listsDecoders()
    {
        const CardRun text(QStringLiteral("decoders spi"));
        QCOMPARE(text.status, 0);
        QCOMPARE(text.output,
                 QStringLiteral("spi  Serial Peripheral Interface: Full-duplex, synchronous, serial bus.\n"
                                "  channels: clk (Clock), miso (optional: Master in, slave out), mosi (optional: Master "
                                "out, slave in), cs (optional: Chip-select)\n"
                                "  options: cs_polarity=active-low (active-low|active-high), cpol=0 (0|1), cpha=0 (0|1), "
                                "bitorder=msb-first (msb-first|lsb-first), wordsize=8\n"
                                "  rows: miso-bits, miso-data, miso-transfer, mosi-bits, mosi-data, mosi-transfer, other\n"));
        const CardRun all(QStringLiteral("decoders --json"));
        const QJsonArray decoders = QJsonDocument::fromJson(all.output.toUtf8()).array();
        QVERIFY(decoders.size() > 100);
        QStringList ids;
        for (const QJsonValue& decoder : decoders)
            ids << decoder["id"].toString();
        for (const char* id : {"uart", "spi", "i2c", "avr_isp", "velkaro_raiser"})
            QVERIFY2(ids.contains(id), id);
    }

    // Live, from the card's serial line: each line an annotation of the data row.
    void watchPrintsAnnotations()
    {
        const CardRun run(QStringLiteral("watch -p E010 -P uart:rx=ACK:baudrate=9600:format=ascii -A uart=rx-data --duration 1"),
                          CardRun::Log::Off);
        QCOMPARE(run.status, 0);
        QStringList lines = run.output.split('\n');
        QVERIFY(lines.size() > 5);
        QVERIFY(lines[0].startsWith("# velkaro-cli watch: port E010 (simulated), started "));
        QCOMPARE(lines[1], QStringLiteral("# decoding uart:rx=ACK:baudrate=9600:format=ascii at 153600 samples/s"));
        QCOMPARE(lines[2], QStringLiteral("# each line a decoder's annotation, as sigrok-cli shows it"));
        QVERIFY(lines.takeLast().isEmpty());
        QVERIFY(lines.takeLast().startsWith("# end "));
        int annotations = 0;
        for (const QString& line : lines.mid(3))
            if (!line.startsWith("# not sampled from ")) {
                QVERIFY2(QRegularExpression("^uart-1: (.|\\[[0-9A-F]{2}\\])$").match(line).hasMatch(), qPrintable(line));
                ++annotations;
            }
        QVERIFY(annotations > 0);
    }
};

QTEST_MAIN(TestDecode)
#include "tst_decode.moc"
