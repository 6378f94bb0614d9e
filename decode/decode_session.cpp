#include "decode_session.h"

#include "sampling_engine.h"

#include <libsigrokdecode/libsigrokdecode.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <span>

namespace {

// Samples a feed takes at most: the library costs about 14 µs a call, so
// calls of fewer samples than this waste little, and a chunk stays small.
constexpr std::uint64_t ChunkSamples = 65'536;
// How often the session feeds on while the lines stay still: an annotation
// that waits only for time to pass (a serial byte's stop bit) comes this late.
constexpr auto FeedEvery = std::chrono::milliseconds(10);
constexpr std::uint64_t DefaultRate = 1'000'000;
constexpr int UnitSize = 3;
// Changes waiting for the session's thread at most (24 bytes each).
constexpr std::size_t InputLimit = std::size_t{1} << 20;
constexpr std::size_t InputReserve = std::size_t{1} << 14;

// The levels on the lines of packed registers: the register bits but for the
// four lines the port inverts.
std::uint32_t levelsOf(std::uint32_t registers)
{
    return (registers ^ RegisterModel::packedInvertMask()) & 0xFFFFFF;
}

int channelIndex(const RegisterModel::Line& line)
{
    return 8 * line.reg + line.bit;
}

GVariant* optionValue(const DecoderInfo::Option& option, const std::string& value)
{
    switch (option.kind) {
    case DecoderInfo::Option::Kind::Integer:
        return g_variant_new_int64(std::strtoll(value.c_str(), nullptr, 10));
    case DecoderInfo::Option::Kind::Real:
        return g_variant_new_double(std::strtod(value.c_str(), nullptr));
    case DecoderInfo::Option::Kind::Text:
        break;
    }
    return g_variant_new_string(value.c_str());
}

// A table of the library's kind, keys copied, values GVariants, freed with it.
struct VariantTable {
    GHashTable* table = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, reinterpret_cast<GDestroyNotify>(g_variant_unref));
    ~VariantTable() { g_hash_table_destroy(table); }
    void add(const std::string& key, GVariant* value) { g_hash_table_insert(table, g_strdup(key.c_str()), g_variant_ref_sink(value)); }
};

}

namespace {
// A serial line's bits a second, or none where the stack decodes no serial line.
std::optional<std::uint64_t> SerialBaud(const DecoderStack& stack)
{
    const DecoderSetup& bottom = stack.front();
    if (bottom.decoder->id != "uart")
        return std::nullopt;
    std::string baud = bottom.decoder->option("baudrate") ? bottom.decoder->option("baudrate")->defaultValue : "";
    for (const auto& [option, value] : bottom.options)
        if (option == "baudrate")
            baud = value;
    return static_cast<std::uint64_t>(std::clamp(std::atoll(baud.c_str()), 1LL, 1'000'000LL));
}
}

std::uint64_t DecodeRate(const DecoderStack& stack)
{
    const std::optional<std::uint64_t> baud = SerialBaud(stack);
    return baud ? 16 * *baud : DefaultRate;
}

DecodeSession::DecodeSession(DecoderStack stack, AnnotationStore& store, Listener listener)
    : m_stack(std::move(stack)), m_rate(DecodeRate(m_stack)), m_store(store), m_listener(std::move(listener))
{
    if (const std::optional<std::uint64_t> baud = SerialBaud(m_stack)) {
        m_serialBit = static_cast<std::int64_t>(1'000'000'000ULL / *baud);
        m_serialSlack = m_serialBit * 3 / 8;
    }
    for (const auto& [channel, line] : m_stack.front().channels)
        m_stackLines |= RegisterModel::packedBit(*line);
    m_inputs.reserve(InputReserve);
    m_handed.reserve(InputReserve);
    m_owner = std::thread([this] { own(); });
}

DecodeSession::~DecodeSession()
{
    finish();
}

void DecodeSession::changed(std::int64_t nanoseconds, std::uint32_t registers)
{
    hand({Input::Kind::Change, nanoseconds, nanoseconds, levelsOf(registers)});
}

void DecodeSession::blind(std::int64_t from, std::int64_t to)
{
    // A stall of some hundred microseconds is marked in the record, yet a slow
    // bus keeps its bytes through it as through a brief gap.
    hand({to - from <= SamplingEngine::BlindLimit ? Input::Kind::BriefGap : Input::Kind::Blind, from, to, 0});
}

void DecodeSession::lost(std::int64_t from, std::int64_t to)
{
    hand({Input::Kind::Blind, from, to, 0});
}

void DecodeSession::briefGap(std::int64_t from, std::int64_t to)
{
    hand({Input::Kind::BriefGap, from, to, 0});
}

void DecodeSession::sampledUntil(std::int64_t nanoseconds)
{
    m_untilAsked = nanoseconds;
    // The session's thread feeds up to here: only once it has every change before.
    if (handOn(false))
        m_sampledUntil.store(nanoseconds, std::memory_order_release);
}

void DecodeSession::hand(Input input)
{
    // Lines that change faster than the decoders follow for long: the changes
    // from there until the decoders have caught up are left out, as a stretch
    // of its own after which they start again.
    if (input.kind == Input::Kind::Change && m_handed.size() >= InputLimit) {
        if (!m_behindFrom)
            m_behindFrom = m_handed.back().to;
        return;
    }
    if (m_behindFrom) {
        m_handed.push_back({Input::Kind::Behind, *m_behindFrom, input.from, 0});
        m_behindFrom.reset();
    }
    m_handed.push_back(input);
    handOn(false);
}

bool DecodeSession::handOn(bool mayWait)
{
    if (m_handed.empty())
        return true;
    // A sampler at real-time priority never waits for the session's thread,
    // which runs at normal priority and may be set aside while it holds the lock.
    std::unique_lock lock(m_inputMutex, std::defer_lock);
    if (mayWait)
        lock.lock();
    else if (!lock.try_lock())
        return false;
    const std::size_t room =
        mayWait ? m_handed.size() : std::min(m_handed.size(), InputLimit - std::min(InputLimit, m_inputs.size()));
    m_inputs.insert(m_inputs.end(), m_handed.begin(), m_handed.begin() + static_cast<std::ptrdiff_t>(room));
    m_handed.erase(m_handed.begin(), m_handed.begin() + static_cast<std::ptrdiff_t>(room));
    return m_handed.empty();
}

void DecodeSession::finish()
{
    if (!m_handed.empty()) {
        handOn(true);
        m_sampledUntil.store(m_untilAsked, std::memory_order_release);
    }
    {
        const std::lock_guard lock(m_inputMutex);
        m_finishing = true;
    }
    m_inputCame.notify_all();
    if (m_owner.joinable())
        m_owner.join();
}

void DecodeSession::own()
{
    // Swapped with the inputs each time, its room kept: the sampling thread
    // then finds room without asking the allocator.
    std::vector<Input> inputs;
    inputs.reserve(InputReserve);
    for (bool finishing = false; !finishing;) {
        inputs.clear();
        {
            std::unique_lock lock(m_inputMutex);
            m_inputCame.wait_for(lock, FeedEvery, [this] { return m_finishing; });
            finishing = m_finishing;
        }
        // How far sampling went, before the changes it handed on until then are taken.
        const std::int64_t until = m_sampledUntil.load(std::memory_order_acquire);
        {
            const std::lock_guard lock(m_inputMutex);
            inputs.swap(m_inputs);
        }
        for (const Input& input : inputs)
            take(input);
        // Sampled past a brief gap with no change at its end: the lines held still across it.
        if (m_pendingGap && until >= m_pendingGap->to) {
            passBriefGap(*m_pendingGap, false);
            m_pendingGap.reset();
        }
        if (m_haveLevels && !m_pendingGap)
            feedUntil(until);
        send();
        if (m_listener)
            m_listener();
    }
    if (m_session)
        srd_session_destroy(m_session);
}

void DecodeSession::take(const Input& input)
{
    if (m_pendingGap) {
        // The change that ends a gap comes stamped with its end.
        const std::uint32_t changedAcross =
            input.kind == Input::Kind::Change && input.from == m_pendingGap->to ? (input.levels ^ m_levels) & m_stackLines : 0;
        passBriefGap(*m_pendingGap, changedAcross);
        m_pendingGap.reset();
    }
    if (input.kind == Input::Kind::Change)
        feedChange(input.from, input.levels);
    else if (!m_haveLevels)
        return;
    else if (input.kind == Input::Kind::BriefGap)
        m_pendingGap = input;
    else
        restartAfter(input);
}

void DecodeSession::passBriefGap(const Input& gap, std::uint32_t changedAcross)
{
    const std::int64_t length = gap.to - gap.from;
    // A serial line has at most one edge in less than a bit, and one that
    // comes late by less than the slack is still read right. A clocked
    // protocol loses nothing by one line's edge seen late, but may have lost
    // the order of two lines' edges, or edges of lines that were changing, up
    // to the gap, at a pace that fits two into it.
    const bool twoLines = (changedAcross & (changedAcross - 1)) != 0;
    const bool busy = m_stackPace < length && gap.from - m_lastStackChange < length;
    const bool hides = m_serialBit > 0 ? length >= m_serialBit || (changedAcross != 0 && length > m_serialSlack)
                                       : twoLines || busy;
    if (hides)
        restartAfter(gap);
}

void DecodeSession::restartAfter(const Input& stretch)
{
    feedUntil(stretch.from);
    send();
    m_quietSince = stretch.to; // the lines may have moved in it
    restart(stretch.to);
    // A brief gap that cost the decoders their state is told as a blind stretch.
    m_store.events.add({stretch.kind == Input::Kind::Behind ? DecodeEvent::Kind::Behind : DecodeEvent::Kind::Blind,
                        stretch.from, stretch.to, {}});
}

bool DecodeSession::startLibrarySession()
{
    if (srd_session_new(&m_session) != SRD_OK)
        return false;
    for (const DecoderSetup& setup : m_stack) {
        VariantTable options;
        for (const auto& [id, value] : setup.options)
            options.add(id, optionValue(*setup.decoder->option(id), value));
        srd_decoder_inst* instance = srd_inst_new(m_session, setup.decoder->id.c_str(), options.table);
        if (!instance)
            return false;
        if (setup.decoder->takesLogic()) {
            VariantTable channels;
            for (const auto& [id, line] : setup.channels)
                channels.add(id, g_variant_new_int32(channelIndex(*line)));
            if (srd_inst_channel_set_all(instance, channels.table) != SRD_OK)
                return false;
        }
        if (!m_instances.empty() && srd_inst_stack(m_session, m_instances.back(), instance) != SRD_OK)
            return false;
        m_instances.push_back(instance);
        m_instanceIds.emplace_back(instance->inst_id ? instance->inst_id : setup.decoder->id);
    }
    srd_pd_output_callback_add(m_session, SRD_OUTPUT_ANN, &DecodeSession::annotated, this);
    return true;
}

void DecodeSession::restart(std::int64_t at)
{
    if (m_session)
        srd_session_terminate_reset(m_session);
    m_segmentStart.store(at, std::memory_order_relaxed);
    m_nextSample = 0;
    m_sentSamples = 0;
    m_chunk.clear();
    if (!m_session && !startLibrarySession()) {
        m_store.events.add({DecodeEvent::Kind::Failed, at, at, DecoderLibrary::instance().takeLog()});
        m_failed = true;
        return;
    }
    // To the decoders made, and again at each start: a decoder's reset forgets it.
    srd_session_metadata_set(m_session, SRD_CONF_SAMPLERATE, g_variant_new_uint64(m_rate));
    m_failed = srd_session_start(m_session) != SRD_OK;
    if (m_failed)
        m_store.events.add({DecodeEvent::Kind::Failed, at, at, DecoderLibrary::instance().takeLog()});
    ++m_starts;
    // A serial line's decoder takes any fall for a start bit: begun inside a
    // frame, it reads the data bits' falls as starts of frames that are none.
    m_settling = m_serialBit > 0;
}

void DecodeSession::feedChange(std::int64_t nanoseconds, std::uint32_t levels)
{
    if (!m_haveLevels) {
        // The first reading: sample 0.
        m_haveLevels = true;
        m_levels = levels;
        m_quietSince = nanoseconds;
        restart(nanoseconds);
        return;
    }
    // Each change gets a sample of its own, a little later where the one before had it.
    feedUntil(nanoseconds);
    const bool stackChanged = (levels ^ m_levels) & m_stackLines;
    if (stackChanged) {
        m_stackPace = m_lastStackChange >= 0 ? nanoseconds - m_lastStackChange : m_stackPace;
        m_lastStackChange = nanoseconds;
        m_quietSince = nanoseconds;
    }
    m_levels = levels;
    if (m_settling) {
        // Still in a frame: the decoders' first sample moves on to this change.
        if (stackChanged)
            m_segmentStart.store(nanoseconds, std::memory_order_relaxed);
        return;
    }
    ++m_nextSample;
    for (int byte = 0; byte < UnitSize; ++byte)
        m_chunk.push_back(static_cast<std::uint8_t>(m_levels >> (8 * byte)));
    if (m_chunk.size() >= ChunkSamples * UnitSize)
        send();
}

void DecodeSession::feedUntil(std::int64_t nanoseconds)
{
    const std::int64_t since = nanoseconds - m_segmentStart.load(std::memory_order_relaxed);
    if (since < 0)
        return;
    // Settled once the lines kept still for a whole frame (12 bits: start,
    // eight data bits, parity and two stop bits at most), before the start or
    // after it; the decoders begin there.
    if (m_settling && nanoseconds - m_quietSince < 12 * m_serialBit)
        return;
    m_settling = false;
    const auto until = static_cast<std::uint64_t>(static_cast<long double>(since) * m_rate / 1e9L);
    while (m_nextSample < until) {
        const std::uint64_t room = ChunkSamples - m_chunk.size() / UnitSize;
        const std::uint64_t count = std::min(until - m_nextSample, room);
        for (std::uint64_t n = 0; n < count; ++n)
            for (int byte = 0; byte < UnitSize; ++byte)
                m_chunk.push_back(static_cast<std::uint8_t>(m_levels >> (8 * byte)));
        m_nextSample += count;
        if (m_chunk.size() >= ChunkSamples * UnitSize)
            send();
    }
}

void DecodeSession::send()
{
    if (m_chunk.empty())
        return;
    const std::uint64_t count = m_chunk.size() / UnitSize;
    if (!m_failed && m_session) {
        const int result = srd_session_send(m_session, m_sentSamples, m_sentSamples + count, m_chunk.data(),
                                            m_chunk.size(), UnitSize);
        // A stacked decoder that raised is only logged; the one below it goes on.
        std::string stackedFailure;
        if (result == SRD_OK && m_instanceIds.size() > 1)
            stackedFailure = DecoderLibrary::instance().takeStackedFailure(std::span(m_instanceIds).subspan(1));
        if (result != SRD_OK || !stackedFailure.empty()) {
            m_sentSamples += count;
            m_chunk.clear();
            failed(std::move(stackedFailure));
            return;
        }
    }
    m_sentSamples += count;
    m_chunk.clear();
}

void DecodeSession::failed(std::string why)
{
    // Said, and decoding starts again after what the decoders were given. The
    // decoders' threads end in the reset: only then has the one that failed
    // said all it says.
    const std::int64_t at = timeOf(m_sentSamples);
    srd_session_terminate_reset(m_session);
    m_store.events.add({DecodeEvent::Kind::Failed, at, at, why + DecoderLibrary::instance().takeLog()});
    restart(at);
}

std::int64_t DecodeSession::timeOf(std::uint64_t sample) const
{
    return m_segmentStart.load(std::memory_order_relaxed) +
           static_cast<std::int64_t>(static_cast<long double>(sample) * 1e9L / m_rate);
}

void DecodeSession::annotated(srd_proto_data* data, void* session)
{
    auto& self = *static_cast<DecodeSession*>(session);
    const auto at = std::find(self.m_instances.begin(), self.m_instances.end(), data->pdo->di);
    if (at == self.m_instances.end())
        return;
    const auto* found = static_cast<const srd_proto_data_annotation*>(data->data);
    Annotation annotation;
    annotation.from = self.timeOf(data->start_sample);
    annotation.to = self.timeOf(data->end_sample);
    annotation.decoder = static_cast<int>(at - self.m_instances.begin());
    annotation.annotationClass = found->ann_class;
    annotation.row = self.m_stack[static_cast<std::size_t>(annotation.decoder)].decoder->rowOf(found->ann_class);
    for (char** text = found->ann_text; text && *text; ++text)
        annotation.texts.emplace_back(*text);
    self.m_store.annotations.add(std::move(annotation));
}
