#pragma once

#include <string>
#include <string_view>

// The help of a command ("watch"), or the overview for any other topic.
std::string CliHelp(std::string_view topic);
