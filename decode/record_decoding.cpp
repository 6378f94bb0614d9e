#include "record_decoding.h"

#include "port_capture.h"

#include <limits>

RecordDecoding::RecordDecoding(const PortCapture& capture, DecoderStack stack)
    : m_capture(capture), m_session(std::move(stack), m_store)
{
}

void RecordDecoding::follow()
{
    // First how far the record is complete: what the ring holds up to then is final.
    const std::int64_t complete = m_capture.recordedUntil();
    if (complete < 0)
        return;
    m_capture.read([&](const ChangeRing& ring) {
        if (m_nextChange < ring.oldest()) {
            // Pushed out of a full ring before it was decoded: a gap to the decoders.
            if (m_handedUntil >= 0)
                m_session.blind(m_handedUntil, ring.oldestTime());
            m_nextChange = ring.oldest();
        }
        const std::vector<ChangeRing::Blind> blind =
            ring.blindBetween(std::max<std::int64_t>(m_handedUntil, 0), std::numeric_limits<std::int64_t>::max());
        auto stretch = blind.begin();
        const auto handBlindUntil = [&](std::int64_t time) {
            for (; stretch != blind.end() && stretch->to <= time; ++stretch)
                if (stretch->from >= m_handedUntil) {
                    m_session.blind(stretch->from, stretch->to);
                    m_handedUntil = stretch->to;
                }
        };
        for (; m_nextChange < ring.end() && ring.time(m_nextChange) <= complete; ++m_nextChange) {
            const std::int64_t time = ring.time(m_nextChange);
            handBlindUntil(time);
            m_session.changed(time, ring.registers(m_nextChange));
            m_handedUntil = time;
        }
        handBlindUntil(complete);
    });
    m_session.sampledUntil(complete);
}
