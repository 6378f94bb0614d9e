#include "decode_measures.h"

#include "decode_session.h"
#include "decoder_setup.h"
#include "register_model.h"
#include "serial_step_card.h"
#include "statistics.h"

#include <chrono>
#include <stdexcept>
#include <thread>
#include <variant>
#include <vector>

namespace {

constexpr std::int64_t Microsecond = 1'000;

struct Change {
    std::int64_t nanoseconds;
    std::uint32_t registers;
};

DecoderStack stackOf(const std::string& text)
{
    auto stack = ReadDecoderStack(text, DecoderLibrary::instance());
    if (const auto* fault = std::get_if<std::string>(&stack))
        throw std::runtime_error(*fault);
    return std::get<DecoderStack>(stack);
}

// The card at E010 sampled every microsecond: its status register's changes.
std::vector<Change> cardChanges(double seconds)
{
    std::vector<Change> changes;
    std::uint32_t last = ~0u;
    for (std::int64_t t = 0; t < static_cast<std::int64_t>(seconds * 1e9); t += Microsecond) {
        const std::uint8_t lines = SerialStepCard::linesAt(static_cast<std::uint64_t>(t));
        const std::uint32_t registers = std::uint32_t{RegisterModel::registerFromLevels(RegisterModel::Status, lines)} << 8;
        if (registers != last)
            changes.push_back({t, registers});
        last = registers;
    }
    return changes;
}

// SPI mode 0 at 100 kHz without a pause, chip select (D2) low throughout:
// clock on D0, counting bytes on D1, each bit set as the clock falls.
std::vector<Change> continuousSpi(double seconds)
{
    std::vector<Change> changes{{0, 0x04}};
    const auto bits = static_cast<std::int64_t>(seconds * 100'000);
    for (std::int64_t bit = 0; bit < bits; ++bit) {
        const std::uint32_t mosi = ((bit / 8) >> (7 - bit % 8) & 1) << 1;
        changes.push_back({(2 * bit + 1) * 5 * Microsecond, mosi});
        changes.push_back({(2 * bit + 2) * 5 * Microsecond, mosi | 1});
    }
    return changes;
}

// What the annotations in the store take: each one and its texts.
double annotationBytes(const AnnotationStore& store)
{
    std::uint64_t next = 0;
    double bytes = 0;
    for (const Annotation& annotation : store.annotations.since(next)) {
        bytes += sizeof annotation + annotation.texts.capacity() * sizeof(std::string);
        for (const std::string& text : annotation.texts)
            bytes += text.capacity() > 15 ? static_cast<double>(text.capacity() + 1) : 0;
    }
    return bytes;
}

struct Throughput {
    double realTime = 0;
    double rate = 0;
    double bytesPerSecond = 0;
};

Throughput throughputOf(const std::string& stack, const std::vector<Change>& changes, double seconds)
{
    AnnotationStore store;
    const auto start = std::chrono::steady_clock::now();
    double rate = 0;
    {
        DecodeSession session(stackOf(stack), store);
        rate = static_cast<double>(session.rate());
        for (const Change& change : changes)
            session.changed(change.nanoseconds, change.registers);
        session.sampledUntil(static_cast<std::int64_t>(seconds * 1e9));
        session.finish();
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::uint64_t next = 0;
    if (store.annotations.since(next).empty())
        throw std::runtime_error(stack + " decoded nothing");
    return {seconds / took.count(), rate, annotationBytes(store) / seconds};
}

}

DecodeThroughput decodeThroughput(double secondsEach)
{
    const Throughput uart = throughputOf("uart:rx=ACK:baudrate=9600", cardChanges(secondsEach), secondsEach);
    const Throughput spi = throughputOf("spi:clk=D0:mosi=D1:cs=D2", continuousSpi(secondsEach), secondsEach);
    return {uart.realTime, uart.rate, uart.bytesPerSecond, spi.realTime, spi.rate, spi.bytesPerSecond};
}

DecodeLag decodeLag(double seconds)
{
    const std::vector<Change> changes = cardChanges(seconds);
    AnnotationStore store;
    std::vector<double> lags; // written on the session's thread, read after it ended
    std::uint64_t next = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto now = [start] { return (std::chrono::steady_clock::now() - start).count(); };
    {
        DecodeSession session(stackOf("uart:rx=ACK:baudrate=9600"), store, [&] {
            const std::int64_t seen = now();
            for (const Annotation& annotation : store.annotations.since(next))
                lags.push_back(static_cast<double>(seen - annotation.to) / 1e6);
        });
        // Played as a sampler would hand it on: each change once its time has come.
        std::size_t played = 0;
        for (std::int64_t at = now(); at < static_cast<std::int64_t>(seconds * 1e9); at = now()) {
            for (; played < changes.size() && changes[played].nanoseconds <= at; ++played)
                session.changed(changes[played].nanoseconds, changes[played].registers);
            session.sampledUntil(at);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
    if (lags.empty())
        throw std::runtime_error("no annotation came while the line played");
    return {percentile(lags, 0.5), percentile(lags, 0.99), static_cast<double>(lags.size())};
}
