#include "decoder_setup.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

std::vector<std::string_view> SplitAt(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (std::size_t from = 0;;) {
        const std::size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
        if (at == std::string_view::npos)
            return parts;
        from = at + 1;
    }
}

namespace {

template <typename Items, typename Name>
std::string joined(const Items& items, Name name)
{
    std::string all;
    for (const auto& item : items)
        all += (all.empty() ? "" : ", ") + std::string(name(item));
    return all.empty() ? "none" : all;
}

std::string lineNames()
{
    return joined(RegisterModel::Lines, [](const RegisterModel::Line& line) { return line.name; });
}

std::string channelNames(const DecoderInfo& decoder)
{
    std::vector<DecoderInfo::Channel> all = decoder.channels;
    all.insert(all.end(), decoder.optionalChannels.begin(), decoder.optionalChannels.end());
    return joined(all, [](const DecoderInfo::Channel& channel) { return channel.id; });
}

template <typename Pairs>
bool hasKey(const Pairs& pairs, const std::string& key)
{
    for (const auto& [name, value] : pairs)
        if (name == key)
            return true;
    return false;
}

std::string listed(const std::vector<std::string>& names)
{
    return joined(names, [](const std::string& name) { return name; });
}

// Empty when the value suits the option.
std::string valueFault(const DecoderInfo& decoder, const DecoderInfo::Option& option, const std::string& value)
{
    const std::string where = decoder.id + "'s option " + option.id;
    if (!option.values.empty()) {
        for (const std::string& allowed : option.values)
            if (allowed == value)
                return {};
        return where + " is one of: " + listed(option.values);
    }
    if (option.kind == DecoderInfo::Option::Kind::Integer) {
        long long number = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
        if (error != std::errc{} || end != value.data() + value.size())
            return where + " is a whole number";
    } else if (option.kind == DecoderInfo::Option::Kind::Real) {
        char* end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        if (value.empty() || end != value.c_str() + value.size() || !std::isfinite(number))
            return where + " is a number";
    }
    return {};
}

// One decoder's "id:key=value:..."; the one below it in the stack, if any.
std::variant<DecoderSetup, std::string> readSetup(std::string_view text, const DecoderSetup* below,
                                                  DecoderLibrary& library)
{
    const std::vector<std::string_view> parts = SplitAt(text, ':');
    const std::string id(parts.front());
    DecoderSetup setup;
    setup.decoder = library.decoder(id);
    if (!setup.decoder) {
        if (id.empty())
            return "a decoder's id is missing";
        if (const std::string why = library.loadFailure(id); !why.empty())
            return "decoder '" + id + "' does not load: " + why;
        return "no decoder '" + id + "' is installed (velkaro-cli decoders lists them)";
    }
    const DecoderInfo& decoder = *setup.decoder;
    if (!below && !decoder.takesLogic())
        return decoder.id + " decodes another decoder's output (" + listed(decoder.inputs) +
               "): stack it on one, after a comma";
    if (below) {
        bool fits = false;
        for (const std::string& input : decoder.inputs)
            for (const std::string& output : below->decoder->outputs)
                fits = fits || input == output;
        if (!fits)
            return decoder.id + " cannot be stacked on " + below->decoder->id + ": it takes " + listed(decoder.inputs) +
                   ", " + below->decoder->id + " gives " + listed(below->decoder->outputs);
    }
    for (std::size_t n = 1; n < parts.size(); ++n) {
        const std::size_t equals = parts[n].find('=');
        if (equals == std::string_view::npos || equals == 0)
            return "'" + std::string(parts[n]) + "' is not KEY=VALUE (for " + decoder.id + ")";
        const std::string key(parts[n].substr(0, equals));
        const std::string value(parts[n].substr(equals + 1));
        if (hasKey(setup.channels, key) || hasKey(setup.options, key))
            return decoder.id + "'s " + key + " is given twice";
        if (decoder.channel(key)) {
            if (!decoder.takesLogic())
                return decoder.id + " reads no lines";
            const RegisterModel::Line* line = RegisterModel::lineNamed(value);
            if (!line)
                return "no line '" + value + "' (for " + decoder.id + "'s channel " + key + "); the lines: " + lineNames();
            setup.channels.emplace_back(key, line);
        } else if (const DecoderInfo::Option* option = decoder.option(key)) {
            if (std::string fault = valueFault(decoder, *option, value); !fault.empty())
                return fault;
            setup.options.emplace_back(key, value);
        } else {
            return decoder.id + " has no channel or option '" + key + "'; its channels: " + channelNames(decoder) +
                   "; its options: " + joined(decoder.options, [](const DecoderInfo::Option& o) { return o.id; });
        }
    }
    for (const DecoderInfo::Channel& needed : decoder.channels)
        if (!hasKey(setup.channels, needed.id))
            return decoder.id + " needs its channel " + needed.id + " (" + needed.desc + ") on a line, as " + needed.id + "=LINE";
    return setup;
}

}

std::variant<DecoderStack, std::string> ReadDecoderStack(std::string_view text, DecoderLibrary& library)
{
    if (!library.failure().empty())
        return library.failure();
    DecoderStack stack;
    for (const std::string_view part : SplitAt(text, ',')) {
        auto setup = readSetup(part, stack.empty() ? nullptr : &stack.back(), library);
        if (auto* fault = std::get_if<std::string>(&setup))
            return std::move(*fault);
        stack.push_back(std::get<DecoderSetup>(std::move(setup)));
    }
    return stack;
}

std::string DecoderStackText(const DecoderStack& stack)
{
    std::string text;
    for (const DecoderSetup& setup : stack) {
        text += (text.empty() ? "" : ",") + setup.decoder->id;
        for (const auto& [channel, line] : setup.channels)
            text += ":" + channel + "=" + line->name;
        for (const auto& [option, value] : setup.options)
            text += ":" + option + "=" + value;
    }
    return text;
}
