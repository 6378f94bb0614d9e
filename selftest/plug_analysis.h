#pragma once

#include "plug.h"
#include "verdict.h"

#include <cstdint>
#include <string>
#include <vector>

// What walking ones and zeros over a plug's output lines show of each
// connection. Pure: the levels driven and the registers read are given.
namespace PlugAnalysis {

// One step: bit k of driven the level put on output k; the registers read then.
struct Step {
    std::uint32_t driven;
    std::uint32_t registers; // data, status, control in bytes 0-2
};

// The levels to drive over count outputs: all low, all high, each high alone,
// each low alone. Enough to tell stuck, inverted, swapped and shorted apart.
std::vector<std::uint32_t> Patterns(int count);

// The connection's verdict from the steps; outputs are the lines driven, in
// the order of the bits of Step::driven.
Verdict Judge(const Plug::Connection& connection, const std::vector<const RegisterModel::Line*>& outputs,
              const std::vector<Step>& steps);

// How many of the plug's connections follow their output exactly.
int GoodConnections(const Plug& plug, const std::vector<const RegisterModel::Line*>& outputs, const std::vector<Step>& steps);

// No input of the plug moves while the outputs are walked: no plug, or every
// connection open or stuck.
bool NothingFollows(const Plug& plug, const std::vector<Step>& steps);

// Each input reads the output at the other end of the plug (in the order of
// the outputs' pins): a cable the wrong way round.
bool Reversed(const Plug& plug, const std::vector<const RegisterModel::Line*>& outputs, const std::vector<Step>& steps);

}
