#include "plug.h"

#include <string>

namespace {
const RegisterModel::Line* line(std::string_view name)
{
    return RegisterModel::lineNamed(name);
}
}

std::vector<const RegisterModel::Line*> Plug::outputs() const
{
    std::vector<const RegisterModel::Line*> lines;
    for (const Connection& connection : connections)
        lines.push_back(connection.output);
    return lines;
}

const Plug& FiveWirePlug()
{
    static const Plug plug{"five-wire",
                           {{line("D0"), line("Err")},
                            {line("D1"), line("SlctOut")},
                            {line("D2"), line("PaperOut")},
                            {line("D3"), line("ACK")},
                            {line("D4"), line("Busy")}}};
    return plug;
}

const Plug& ControlPlug()
{
    static const Plug plug{"control",
                           {{line("STB"), line("SlctOut")},
                            {line("D0"), line("Err")},
                            {line("Init"), line("ACK")},
                            {line("SlctIn"), line("Busy")},
                            {line("AFD"), line("PaperOut")}}};
    return plug;
}

const std::vector<const Plug*>& KnownPlugs()
{
    static const std::vector<const Plug*> plugs{&FiveWirePlug(), &ControlPlug()};
    return plugs;
}

const Plug* PlugNamed(std::string_view name)
{
    for (const Plug* plug : KnownPlugs())
        if (plug->name == name)
            return plug;
    return nullptr;
}

std::string ListText(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

std::string PlugWiring(const Plug& plug)
{
    std::string text;
    for (const Plug::Connection& connection : plug.connections) {
        if (!text.empty())
            text += ", ";
        text += std::to_string(connection.output->pin) + " " + connection.output->name + "→" +
                std::to_string(connection.input->pin) + " " + connection.input->name;
    }
    return text;
}
