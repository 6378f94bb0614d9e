#pragma once

#include "port_self_test.h"

#include <string>

// The report: a line per connection and check with its verdict, the findings,
// a summary; or one JSON object.
std::string SelfTestText(const SelfTestReport& report, const std::string& port, const std::string& access);
std::string SelfTestJson(const SelfTestReport& report, const std::string& port, const std::string& access);
