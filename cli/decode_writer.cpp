#include "decode_writer.h"

#include "json_text.h"

#include <limits>

DecodeWriter::DecodeWriter(RecordFormat format, std::FILE* out, std::FILE* err, const std::vector<DecoderStack>& stacks,
                           AnnotationChoice shown)
    : ChangeWriter(out, HandOn::EachRecord), m_format(format), m_err(err), m_shown(std::move(shown)),
      m_frame(MakeChangeWriter(format, false, out, HandOn::EachRecord))
{
    for (const DecoderStack& stack : stacks) {
        auto decoding = std::make_unique<Decoding>();
        Decoding& self = *decoding;
        // Blind stretches are the same for every stack: the first one writes them.
        const bool withBlind = m_decodings.empty();
        decoding->session = std::make_unique<DecodeSession>(stack, decoding->store, [this, &self, withBlind] {
            writeNew(self, withBlind);
        });
        m_decodings.push_back(std::move(decoding));
    }
}

DecodeWriter::~DecodeWriter()
{
    finishDecoding();
}

void DecodeWriter::record(std::int64_t nanoseconds, std::size_t port, std::uint32_t registers, std::uint32_t)
{
    if (port != 0)
        return;
    for (const auto& decoding : m_decodings)
        decoding->session->changed(nanoseconds, registers);
}

void DecodeWriter::blind(std::int64_t from, std::int64_t to)
{
    for (const auto& decoding : m_decodings)
        decoding->session->blind(from, to);
}

void DecodeWriter::briefGap(std::int64_t from, std::int64_t to)
{
    for (const auto& decoding : m_decodings)
        decoding->session->briefGap(from, to);
}

void DecodeWriter::progressed(std::int64_t nanoseconds)
{
    for (const auto& decoding : m_decodings)
        decoding->session->sampledUntil(nanoseconds);
}

void DecodeWriter::writeHeader()
{
    if (m_format == RecordFormat::Jsonl) {
        m_frame->begin(m_header);
        for (const auto& decoding : m_decodings) {
            Record record(*this);
            record << R"({"decoding":{"stack":)" << JsonString(DecoderStackText(decoding->session->stack()))
                   << R"(,"samples_per_s":)" << static_cast<long long>(decoding->session->rate()) << "}}\n";
        }
        return;
    }
    Record record(*this);
    record << "# " << DescribeRecording(m_header) << '\n';
    for (const auto& decoding : m_decodings)
        record << "# decoding " << DecoderStackText(decoding->session->stack()) << " at "
               << static_cast<long long>(decoding->session->rate()) << " samples/s\n";
    record << "# each line a decoder's annotation, as sigrok-cli shows it\n";
}

void DecodeWriter::writeEnd(std::int64_t nanoseconds)
{
    finishDecoding();
    m_frame->end(nanoseconds);
}

void DecodeWriter::finishDecoding()
{
    for (const auto& decoding : m_decodings)
        decoding->session->finish();
}

void DecodeWriter::writeNew(Decoding& decoding, bool withBlind)
{
    const std::vector<Annotation> annotations = decoding.store.annotations.since(decoding.nextAnnotation);
    const std::vector<DecodeEvent> events = decoding.store.events.since(decoding.nextEvent);
    const std::lock_guard lock(m_writing);
    // In the order of time: a blind stretch before the annotations after it.
    auto event = events.begin();
    const auto writeEventsUntil = [&](std::int64_t time) {
        for (; event != events.end() && event->from <= time; ++event) {
            if (event->kind == DecodeEvent::Kind::Blind && withBlind)
                m_frame->blind(event->from, event->to);
            else if (event->kind == DecodeEvent::Kind::Behind)
                std::fprintf(m_err, "velkaro-cli: the decoders of %s fell behind the lines' changes: nothing decoded "
                             "from %lld to %lld ns\n", DecoderStackText(decoding.session->stack()).c_str(),
                             static_cast<long long>(event->from), static_cast<long long>(event->to));
            else if (event->kind == DecodeEvent::Kind::Failed)
                std::fprintf(m_err, "velkaro-cli: a decoder of %s failed; decoding starts again after it\n%s",
                             DecoderStackText(decoding.session->stack()).c_str(), event->text.c_str());
        }
    };
    for (const Annotation& annotation : annotations) {
        writeEventsUntil(annotation.from);
        writeAnnotation(decoding, annotation);
    }
    writeEventsUntil(std::numeric_limits<std::int64_t>::max());
}

void DecodeWriter::writeAnnotation(const Decoding& decoding, const Annotation& annotation)
{
    const DecoderInfo& decoder = *decoding.session->stack()[static_cast<std::size_t>(annotation.decoder)].decoder;
    if (!m_shown.shows(decoder, annotation.annotationClass))
        return;
    const std::string& instance = decoding.session->instanceIds()[static_cast<std::size_t>(annotation.decoder)];
    Record record(*this);
    record << (m_format == RecordFormat::Jsonl ? JsonAnnotationLine(instance, decoder, annotation)
                                               : SigrokAnnotationLine(instance, annotation))
           << '\n';
}
