#pragma once

#include <string>
#include <vector>

// One check's outcome, as the command line prints it and the window shows it.
struct Verdict {
    std::string subject; // "D3→ACK", "input mode"
    bool passed = false;
    std::string text;    // "good", or what is wrong in words
    std::vector<int> pins; // the connector pins it concerns
};
