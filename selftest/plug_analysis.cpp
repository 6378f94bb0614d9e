#include "plug_analysis.h"

#include <algorithm>

namespace PlugAnalysis {

namespace {
using RegisterModel::Line;
using Levels = std::vector<bool>;

Levels inputLevels(const Line& input, const std::vector<Step>& steps)
{
    Levels levels;
    for (const Step& step : steps)
        levels.push_back(RegisterModel::lineLevel(input, step.registers));
    return levels;
}

Levels drivenLevels(std::size_t output, const std::vector<Step>& steps)
{
    Levels levels;
    for (const Step& step : steps)
        levels.push_back(((step.driven >> output) & 1) != 0);
    return levels;
}

Levels inverse(Levels levels)
{
    levels.flip();
    return levels;
}

std::size_t indexOf(const Line* line, const std::vector<const Line*>& outputs)
{
    return static_cast<std::size_t>(std::find(outputs.begin(), outputs.end(), line) - outputs.begin());
}

std::string names(const std::vector<const Line*>& lines)
{
    std::vector<std::string> items;
    for (const Line* line : lines)
        items.emplace_back(line->name);
    return ListText(items);
}

// The outputs that, driven alone against all the others, move the input: a
// short's members. Wired-AND where a low one pulls it low, wired-OR where a
// high one pulls it high; empty unless the input is exactly that of them all.
std::vector<std::size_t> shortedOutputs(const Levels& input, const std::vector<const Line*>& outputs,
                                        const std::vector<Step>& steps)
{
    const std::uint32_t all = outputs.size() >= 32 ? ~0u : (1u << outputs.size()) - 1;
    for (const bool wiredAnd : {true, false}) {
        std::vector<std::size_t> members;
        for (std::size_t k = 0; k < outputs.size(); ++k) {
            const std::uint32_t alone = wiredAnd ? all & ~(1u << k) : 1u << k;
            for (std::size_t s = 0; s < steps.size(); ++s)
                if (steps[s].driven == alone && input[s] != wiredAnd)
                    members.push_back(k);
        }
        if (members.size() < 2)
            continue;
        bool explains = true;
        for (std::size_t s = 0; s < steps.size() && explains; ++s) {
            bool level = wiredAnd;
            for (const std::size_t k : members)
                level = wiredAnd ? level && ((steps[s].driven >> k) & 1) : level || ((steps[s].driven >> k) & 1);
            explains = level == input[s];
        }
        if (explains)
            return members;
    }
    return {};
}

bool constant(const Levels& levels)
{
    return std::adjacent_find(levels.begin(), levels.end(), std::not_equal_to<>()) == levels.end();
}
}

std::vector<std::uint32_t> Patterns(int count)
{
    const std::uint32_t all = (1u << count) - 1;
    std::vector<std::uint32_t> patterns{0, all};
    for (int k = 0; k < count; ++k)
        patterns.push_back(1u << k);
    for (int k = 0; k < count; ++k)
        patterns.push_back(all & ~(1u << k));
    return patterns;
}

Verdict Judge(const Plug::Connection& connection, const std::vector<const Line*>& outputs, const std::vector<Step>& steps)
{
    const Line& out = *connection.output;
    const Line& in = *connection.input;
    Verdict verdict{std::string(out.name) + "→" + in.name, false, {}, {out.pin, in.pin}};
    const std::string input = in.name;
    const Levels levels = inputLevels(in, steps);
    const Levels own = drivenLevels(indexOf(&out, outputs), steps);
    if (levels == own) {
        verdict.passed = true;
        verdict.text = "good";
    } else if (constant(levels)) {
        verdict.text = levels.front() ? input + " stays high: open, or " + input + " stuck at 1"
                                      : input + " stays low: " + input + " stuck at 0, or shorted to ground";
    } else if (levels == inverse(own)) {
        verdict.text = input + " reads " + out.name + " inverted";
    } else {
        for (std::size_t k = 0; k < outputs.size() && verdict.text.empty(); ++k)
            if (levels == drivenLevels(k, steps))
                verdict.text = input + " follows " + outputs[k]->name + " instead of " + out.name + ": wired to the wrong line";
        if (verdict.text.empty()) {
            std::vector<const Line*> shorted;
            for (const std::size_t k : shortedOutputs(levels, outputs, steps))
                shorted.push_back(outputs[k]);
            const auto self = std::find(shorted.begin(), shorted.end(), &out);
            if (self != shorted.end()) {
                std::vector<const Line*> others = shorted;
                others.erase(others.begin() + (self - shorted.begin()));
                verdict.text = std::string(out.name) + " shorted to " + names(others) + ": " + input + " reads " +
                               names(shorted) + " together";
            } else if (!shorted.empty()) {
                verdict.text = input + " reads " + names(shorted) + " together, not " + out.name;
            } else {
                verdict.text = input + " follows neither " + out.name + " nor any one output: a loose contact?";
            }
        }
    }
    return verdict;
}

int GoodConnections(const Plug& plug, const std::vector<const Line*>& outputs, const std::vector<Step>& steps)
{
    int good = 0;
    for (const Plug::Connection& connection : plug.connections)
        good += Judge(connection, outputs, steps).passed ? 1 : 0;
    return good;
}

bool NothingFollows(const Plug& plug, const std::vector<Step>& steps)
{
    return std::all_of(plug.connections.begin(), plug.connections.end(), [&](const Plug::Connection& connection) {
        return constant(inputLevels(*connection.input, steps));
    });
}

bool Reversed(const Plug& plug, const std::vector<const Line*>& outputs, const std::vector<Step>& steps)
{
    std::vector<Plug::Connection> byPin = plug.connections;
    std::sort(byPin.begin(), byPin.end(),
              [](const Plug::Connection& a, const Plug::Connection& b) { return a.output->pin < b.output->pin; });
    bool reversed = byPin.size() >= 2;
    for (std::size_t c = 0; c < byPin.size() && reversed; ++c)
        reversed = inputLevels(*byPin[c].input, steps) ==
                   drivenLevels(indexOf(byPin[byPin.size() - 1 - c].output, outputs), steps);
    return reversed;
}

}
