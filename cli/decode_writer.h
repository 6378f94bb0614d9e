#pragma once

#include "annotation_text.h"
#include "change_writer.h"
#include "decode_session.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

// What watch --decode writes instead of records: the annotations of decoders
// fed with the first port's changes, each as soon as it is decoded, in
// sigrok-cli's layout or as JSON lines; with the records' own header (text:
// a header of its own), blind stretches and end. A decoder's failure is told
// on err; decoding starts again after it.
class DecodeWriter : public ChangeWriter {
public:
    DecodeWriter(RecordFormat format, std::FILE* out, std::FILE* err, const std::vector<DecoderStack>& stacks,
                 AnnotationChoice shown);
    ~DecodeWriter() override;

    void record(std::int64_t nanoseconds, std::size_t port, std::uint32_t registers, std::uint32_t changed) override;
    void blind(std::int64_t from, std::int64_t to) override;
    void briefGap(std::int64_t from, std::int64_t to) override;
    void progressed(std::int64_t nanoseconds) override;

private:
    // One stack's session and how far its output has been written.
    struct Decoding {
        AnnotationStore store;
        std::unique_ptr<DecodeSession> session;
        std::uint64_t nextAnnotation = 0;
        std::uint64_t nextEvent = 0;
    };

    void writeHeader() override;
    void writeEnd(std::int64_t nanoseconds) override;
    void finishDecoding();
    // On a session's thread, after it fed the library.
    void writeNew(Decoding& decoding, bool withBlind);
    void writeAnnotation(const Decoding& decoding, const Annotation& annotation);

    const RecordFormat m_format;
    std::FILE* const m_err;
    const AnnotationChoice m_shown;
    std::unique_ptr<ChangeWriter> m_frame; // the header, blind stretches and end in the records' format
    std::mutex m_writing;                  // the sessions' threads take turns at the output
    std::vector<std::unique_ptr<Decoding>> m_decodings;
};
