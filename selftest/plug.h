#pragma once

#include "register_model.h"

#include <string>
#include <string_view>
#include <vector>

// A loopback plug: which output line each input line is wired to. Spoken in
// line levels (what the pins carry), never in register bits.
struct Plug {
    struct Connection {
        const RegisterModel::Line* output;
        const RegisterModel::Line* input;
    };
    std::string_view name;
    std::vector<Connection> connections;

    // The output lines, in the order of the connections.
    std::vector<const RegisterModel::Line*> outputs() const;
};

// The widely used one: 2 D0→15 Err, 3 D1→13 SlctOut, 4 D2→12 PaperOut, 5 D3→10 ACK, 6 D4→11 Busy.
const Plug& FiveWirePlug();
// The control lines' one: 1 STB→13 SlctOut, 2 D0→15 Err, 16 Init→10 ACK, 17 SlctIn→11 Busy, 14 AFD→12 PaperOut.
const Plug& ControlPlug();
// Both, the one to prefer first.
const std::vector<const Plug*>& KnownPlugs();
// The plug of that name ("five-wire", "control"), or none.
const Plug* PlugNamed(std::string_view name);
// "2 D0→15 Err, 3 D1→13 SlctOut, …": its wiring as the help and the reports give it.
std::string PlugWiring(const Plug& plug);
// "D1, D2 and D3": the items as the verdicts and the announcement list them.
std::string ListText(const std::vector<std::string>& items);
