#pragma once

#include "annotation_store.h"
#include "decode_session.h"

#include <cstdint>

class PortCapture;

// Decodes a capture's record as it grows: each follow() hands the stack's
// session the changes and blind stretches that came since, up to where the
// record is complete, in time order. Called on the thread that owns the
// capture (the timeline's), never on its sampling threads; the session's own
// thread does the decoding.
class RecordDecoding {
public:
    RecordDecoding(const PortCapture& capture, DecoderStack stack);

    void follow();

    const AnnotationStore& store() const { return m_store; }
    const DecodeSession& session() const { return m_session; }

private:
    const PortCapture& m_capture;
    AnnotationStore m_store;
    DecodeSession m_session; // after the store, which it writes until it ends
    std::uint64_t m_nextChange = 0;
    std::int64_t m_handedUntil = -1; // the time of the last change or stretch handed on
};
