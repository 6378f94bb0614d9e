#include "record_decoding.h"

#include "port_capture.h"

#include <algorithm>
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
                m_session.lost(m_handedUntil, ring.oldestTime());
            m_nextChange = ring.oldest();
        }
        // Blind stretches and brief gaps, in the order of time: they never overlap.
        const auto since = std::max<std::int64_t>(m_handedUntil, 0);
        constexpr auto Always = std::numeric_limits<std::int64_t>::max();
        std::vector<std::pair<ChangeRing::Blind, bool>> stretches; // and whether it is a brief gap
        for (const ChangeRing::Blind& stretch : ring.blindBetween(since, Always))
            stretches.push_back({stretch, false});
        for (const ChangeRing::Blind& gap : ring.briefGapsBetween(since, Always))
            stretches.push_back({gap, true});
        std::sort(stretches.begin(), stretches.end(), [](const auto& a, const auto& b) { return a.first.from < b.first.from; });
        auto stretch = stretches.begin();
        const auto handBlindUntil = [&](std::int64_t time) {
            for (; stretch != stretches.end() && stretch->first.to <= time; ++stretch)
                if (stretch->first.from >= m_handedUntil) {
                    if (stretch->second)
                        m_session.briefGap(stretch->first.from, stretch->first.to);
                    else
                        m_session.blind(stretch->first.from, stretch->first.to);
                    m_handedUntil = stretch->first.to;
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
