#include "decoder_list.h"

#include "json_text.h"

namespace {

template <typename Items, typename Text>
std::string joined(const Items& items, const char* separator, Text text)
{
    std::string all;
    for (const auto& item : items)
        all += (all.empty() ? "" : separator) + text(item);
    return all;
}

std::string channelsText(const DecoderInfo& decoder)
{
    const auto named = [](const char* kind) {
        return [kind](const DecoderInfo::Channel& channel) { return channel.id + " (" + kind + channel.desc + ")"; };
    };
    std::string text = joined(decoder.channels, ", ", named(""));
    const std::string optional = joined(decoder.optionalChannels, ", ", named("optional: "));
    return text.empty() ? optional : optional.empty() ? text : text + ", " + optional;
}

std::string optionText(const DecoderInfo::Option& option)
{
    std::string text = option.id + "=" + option.defaultValue;
    if (!option.values.empty())
        text += " (" + joined(option.values, "|", [](const std::string& value) { return value; }) + ")";
    return text;
}

std::string jsonTexts(const std::vector<std::string>& texts)
{
    return "[" + joined(texts, ",", [](const std::string& text) { return JsonString(text); }) + "]";
}

std::string jsonChannel(const DecoderInfo::Channel& channel, bool optional)
{
    return R"({"id":)" + JsonString(channel.id) + R"(,"name":)" + JsonString(channel.name) + R"(,"desc":)" +
           JsonString(channel.desc) + R"(,"optional":)" + (optional ? "true" : "false") + "}";
}

}

std::string DecoderListText(const std::vector<const DecoderInfo*>& decoders)
{
    std::string text;
    for (const DecoderInfo* decoder : decoders) {
        text += decoder->id + "  " + decoder->longname + ": " + decoder->desc + "\n";
        if (decoder->takesLogic())
            text += "  channels: " + channelsText(*decoder) + "\n";
        else
            text += "  stacks on: " + joined(decoder->inputs, ", ", [](const std::string& s) { return s; }) + "\n";
        if (!decoder->options.empty())
            text += "  options: " + joined(decoder->options, ", ", optionText) + "\n";
        text += "  rows: " + joined(decoder->rows, ", ", [](const DecoderInfo::Row& row) { return row.id; }) + "\n";
    }
    return text;
}

std::string DecoderListJson(const std::vector<const DecoderInfo*>& decoders)
{
    return "[" + joined(decoders, ",\n", [](const DecoderInfo* decoder) {
        std::string channels = joined(decoder->channels, ",", [](const auto& c) { return jsonChannel(c, false); });
        const std::string optional = joined(decoder->optionalChannels, ",", [](const auto& c) { return jsonChannel(c, true); });
        channels += channels.empty() || optional.empty() ? optional : "," + optional;
        const std::string options = joined(decoder->options, ",", [](const DecoderInfo::Option& option) {
            return R"({"id":)" + JsonString(option.id) + R"(,"desc":)" + JsonString(option.desc) + R"(,"default":)" +
                   JsonString(option.defaultValue) + R"(,"values":)" + jsonTexts(option.values) + "}";
        });
        const std::string rows = joined(decoder->rows, ",", [](const DecoderInfo::Row& row) {
            return R"({"id":)" + JsonString(row.id) + R"(,"desc":)" + JsonString(row.desc) + "}";
        });
        return R"({"id":)" + JsonString(decoder->id) + R"(,"name":)" + JsonString(decoder->name) + R"(,"longname":)" +
               JsonString(decoder->longname) + R"(,"desc":)" + JsonString(decoder->desc) + R"(,"inputs":)" +
               jsonTexts(decoder->inputs) + R"(,"outputs":)" + jsonTexts(decoder->outputs) + R"(,"channels":[)" +
               channels + R"(],"options":[)" + options + R"(],"rows":[)" + rows + "]}";
    }) + "]\n";
}
