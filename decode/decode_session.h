#pragma once

#include "annotation_store.h"
#include "decoder_setup.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct srd_session;
struct srd_decoder_inst;
struct srd_proto_data;

// The sample rate a stack is decoded at: what its protocol needs to be timed
// right (sixteen samples a bit for a serial line), else a rate at which
// clocked protocols keep every edge and idle time costs little.
std::uint64_t DecodeRate(const DecoderStack& stack);

// Decodes a record's changes with one stack of libsigrokdecode decoders, live.
// The thread that samples hands on changes, blind stretches and how far it has
// sampled; a thread of the session's own turns them into the uniform samples
// the library wants (line levels, three bytes a sample, a channel's index its
// register bit: data 0-7, status 8-15, control 16-23) and feeds them in.
//
// That thread alone makes, feeds, resets and destroys the library's session:
// the library deadlocks when another thread resets a session being fed. The
// library's own threads run the decoders and call back with annotations,
// which are only copied into the store. After each feed the listener, if any,
// is called on the session's thread with what is new.
class DecodeSession {
public:
    using Listener = std::function<void()>;

    DecodeSession(DecoderStack stack, AnnotationStore& store, Listener listener = {});
    // Decodes what was handed on, then ends.
    ~DecodeSession();
    DecodeSession(const DecodeSession&) = delete;
    DecodeSession& operator=(const DecodeSession&) = delete;

    // On the record's clock (nanoseconds), from the thread that samples, in
    // time order; they never wait for the session's thread. The first reading
    // (registers as read, packed) comes first.
    void changed(std::int64_t nanoseconds, std::uint32_t registers);
    // No sample from one time to the other: decoding starts again after it,
    // but after one no longer than SamplingEngine::BlindLimit only as after a
    // brief gap.
    void blind(std::int64_t from, std::int64_t to);
    // A stretch too brief to be blind (SampleSink::briefGap): decoding starts
    // again after it only where an edge of the stack's lines may hide in it;
    // else the lines held their levels through it.
    void briefGap(std::int64_t from, std::int64_t to);
    // Changes lost from one time to the other (the record let them go before
    // they were decoded): decoding starts again after it, however short.
    void lost(std::int64_t from, std::int64_t to);
    // Sampled up to this time with no change since the last one handed on.
    void sampledUntil(std::int64_t nanoseconds);
    // Decodes all handed on so far and ends; the destructor does it too.
    void finish();

    const DecoderStack& stack() const { return m_stack; }
    // The library's name of each decoder of the stack ("uart-1"), once the
    // session's thread has started it; for its listener.
    const std::vector<std::string>& instanceIds() const { return m_instanceIds; }
    std::uint64_t rate() const { return m_rate; }
    // How often every decoder of the stack was started, the first start included.
    long long starts() const { return m_starts.load(); }

private:
    struct Input {
        enum class Kind { Change, Blind, Behind, BriefGap } kind;
        std::int64_t from;
        std::int64_t to;
        std::uint32_t levels;
    };

    void hand(Input input);
    // Moves what the sampling thread handed into the session's inputs; false
    // while some is left (the lock was busy, or the inputs full).
    bool handOn(bool mayWait);
    void own();
    void take(const Input& input);
    // A brief gap, once it is known which of the stack's lines changed across it.
    void passBriefGap(const Input& gap, std::uint32_t changedAcross);
    // Nothing decoded across the stretch: decoding starts again after it.
    void restartAfter(const Input& stretch);
    bool startLibrarySession();
    void restart(std::int64_t at);
    void feedUntil(std::int64_t nanoseconds);
    void feedChange(std::int64_t nanoseconds, std::uint32_t levels);
    void send();
    // A decoder raised: said with why (and what the library logs by the reset), decoding starts again.
    void failed(std::string why);
    std::int64_t timeOf(std::uint64_t sample) const;
    static void annotated(srd_proto_data* data, void* session);

    const DecoderStack m_stack;
    const std::uint64_t m_rate;
    AnnotationStore& m_store;
    const Listener m_listener;

    // Handed on by the sampling thread.
    std::mutex m_inputMutex;
    std::condition_variable m_inputCame;
    std::vector<Input> m_inputs;
    // The sampling thread's own: what it could not hand on yet without waiting.
    std::vector<Input> m_handed;
    std::int64_t m_untilAsked = -1;
    bool m_finishing = false;
    std::optional<std::int64_t> m_behindFrom; // the sampling thread's: changes left out since then
    std::atomic<std::int64_t> m_sampledUntil{-1};

    // The session thread's own, but for what the library's threads read in callbacks.
    srd_session* m_session = nullptr;
    std::vector<srd_decoder_inst*> m_instances; // in stack order
    std::vector<std::string> m_instanceIds;
    std::atomic<std::int64_t> m_segmentStart{0}; // the time of sample 0 since the last start
    std::atomic<long long> m_starts{0};
    // How a brief gap is judged: a serial line's bit and how late its edge may
    // come (3/8 of a bit: it is read in the middle); 0 for a clocked protocol,
    // whose edges are its data.
    std::int64_t m_serialBit = 0;
    std::int64_t m_serialSlack = 0;
    bool m_settling = false;                 // a serial line's decoders wait for a quiet frame after a start
    std::int64_t m_quietSince = 0;           // the stack's lines known to be still since then
    std::uint32_t m_stackLines = 0;          // the level bits the bottom decoder reads
    std::optional<Input> m_pendingGap;       // until the first change after it, or time past it
    std::int64_t m_lastStackChange = -1;     // of those lines
    // From the change of those lines before the last to the last.
    std::int64_t m_stackPace = std::numeric_limits<std::int64_t>::max();
    bool m_haveLevels = false;
    std::uint32_t m_levels = 0;
    std::uint64_t m_nextSample = 0; // the next to be put into the chunk
    std::uint64_t m_sentSamples = 0;
    std::vector<std::uint8_t> m_chunk;
    bool m_failed = false;

    std::thread m_owner;
};
