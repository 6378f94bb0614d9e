// Arbitrary command lines (arguments split at NUL bytes) through the command
// line tool's reading of its arguments: it must either refuse with a one-line
// message or accept what the commands rely on — register values in a byte,
// only output lines driven, no line or register named twice.
#include "cli_arguments.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {
void require(bool condition)
{
    if (!condition)
        std::abort();
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            arguments.emplace_back();
        else
            arguments.back().push_back(static_cast<char>(data[i]));
    }
    const auto parsed = ParseCliArguments(arguments);
    if (const auto* refusal = std::get_if<std::string>(&parsed)) {
        require(!refusal->empty() && refusal->find('\n') == std::string::npos);
        return 0;
    }
    const CliArguments& accepted = std::get<CliArguments>(parsed);
    std::set<int> registers;
    for (const RegisterValue& value : accepted.registerValues)
        require(value.reg != RegisterModel::Status && registers.insert(value.reg).second);
    std::set<const RegisterModel::Line*> lines;
    for (const LineLevel& level : accepted.lineLevels)
        require(level.line->output && lines.insert(level.line).second);
    for (const RegisterModel::Line* line : accepted.toggledLines)
        require(line->output && lines.insert(line).second);
    require(!(accepted.duration && accepted.count) && (!accepted.timeout || !accepted.until.empty()));
    require(!accepted.port || *accepted.port != 0);
    return 0;
}
