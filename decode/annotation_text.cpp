#include "annotation_text.h"

#include "json_text.h"

#include <algorithm>

namespace {

const DecoderInfo* stackedDecoder(std::string_view id, const std::vector<DecoderStack>& stacks)
{
    for (const DecoderStack& stack : stacks)
        for (const DecoderSetup& setup : stack)
            if (setup.decoder->id == id)
                return setup.decoder;
    return nullptr;
}

std::string stackedIds(const std::vector<DecoderStack>& stacks)
{
    std::string ids;
    for (const DecoderStack& stack : stacks)
        for (const DecoderSetup& setup : stack)
            ids += (ids.empty() ? "" : ", ") + setup.decoder->id;
    return ids;
}

// The class of that id, as sigrok-cli looks first, else the classes of the
// row of that id; empty if neither.
std::vector<int> classesNamed(const DecoderInfo& decoder, std::string_view name)
{
    for (std::size_t n = 0; n < decoder.annotationClasses.size(); ++n)
        if (decoder.annotationClasses[n].id == name)
            return {static_cast<int>(n)};
    for (const DecoderInfo::Row& row : decoder.rows)
        if (row.id == name)
            return row.classes;
    return {};
}

// The id of a row or class by its index; empty for none.
template <typename List>
std::string idAt(const List& list, int index)
{
    return index >= 0 && static_cast<std::size_t>(index) < list.size() ? list[static_cast<std::size_t>(index)].id
                                                                       : std::string();
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\n\r") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

std::string rowNames(const DecoderInfo& decoder)
{
    std::string names;
    for (const DecoderInfo::Row& row : decoder.rows)
        names += (names.empty() ? "" : ", ") + row.id;
    return names;
}

}

bool AnnotationChoice::shows(const DecoderInfo& decoder, int annotationClass) const
{
    for (const Shown& one : shown)
        if (one.decoder == decoder.id &&
            (one.classes.empty() || std::find(one.classes.begin(), one.classes.end(), annotationClass) != one.classes.end()))
            return true;
    return false;
}

AnnotationChoice TopDecodersChoice(const std::vector<DecoderStack>& stacks)
{
    AnnotationChoice choice;
    for (const DecoderStack& stack : stacks)
        choice.shown.push_back({stack.back().decoder->id, {}});
    return choice;
}

std::variant<AnnotationChoice, std::string> ReadAnnotationChoice(std::string_view text,
                                                                 const std::vector<DecoderStack>& stacks)
{
    AnnotationChoice choice;
    for (const std::string_view part : SplitAt(text, ',')) {
        const std::size_t equals = part.find('=');
        const std::string_view id = part.substr(0, equals);
        const DecoderInfo* decoder = stackedDecoder(id, stacks);
        if (!decoder)
            return "--annotations names " + std::string(id.empty() ? "no decoder" : "'" + std::string(id) + "'") +
                   "; the decoders decoding: " + stackedIds(stacks);
        AnnotationChoice::Shown shown{decoder->id, {}};
        if (equals != std::string_view::npos) {
            for (const std::string_view name : SplitAt(part.substr(equals + 1), ':')) {
                const std::vector<int> classes = classesNamed(*decoder, name);
                if (classes.empty())
                    return decoder->id + " has no annotation row or class '" + std::string(name) + "'; its rows: " +
                           rowNames(*decoder);
                shown.classes.insert(shown.classes.end(), classes.begin(), classes.end());
            }
        }
        choice.shown.push_back(std::move(shown));
    }
    return choice;
}

std::string SigrokAnnotationLine(const std::string& instance, const Annotation& annotation)
{
    return instance + ": " + (annotation.texts.empty() ? std::string() : annotation.texts.front());
}

const char* const CsvAnnotationHeader = "from_ns,to_ns,decoder,row,class,text";

std::string CsvAnnotationLine(const std::string& instance, const DecoderInfo& decoder, const Annotation& annotation)
{
    return std::to_string(annotation.from) + ',' + std::to_string(annotation.to) + ',' + csvField(instance) + ',' +
           idAt(decoder.rows, annotation.row) + ',' + idAt(decoder.annotationClasses, annotation.annotationClass) + ',' +
           csvField(annotation.texts.empty() ? std::string() : annotation.texts.front());
}

std::string JsonAnnotationLine(const std::string& instance, const DecoderInfo& decoder, const Annotation& annotation)
{
    std::string line = R"({"annotation":{"decoder":)" + JsonString(instance) +
                       R"(,"row":)" + JsonString(idAt(decoder.rows, annotation.row)) +
                       R"(,"class":)" + JsonString(idAt(decoder.annotationClasses, annotation.annotationClass)) +
                       R"(,"from_ns":)" + std::to_string(annotation.from) + R"(,"to_ns":)" + std::to_string(annotation.to) +
                       R"(,"texts":[)";
    for (std::size_t n = 0; n < annotation.texts.size(); ++n)
        line += (n ? "," : "") + JsonString(annotation.texts[n]);
    return line + "]}}";
}
