#pragma once

#include "decoder_library.h"
#include "register_model.h"

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// One decoder of a stack as the user set it up: its channels on the port's
// lines, and the options given (the others keep their defaults).
struct DecoderSetup {
    const DecoderInfo* decoder = nullptr;
    std::vector<std::pair<std::string, const RegisterModel::Line*>> channels; // channel id, line
    std::vector<std::pair<std::string, std::string>> options;                 // option id, value as typed
};

// Decoders stacked, the one on the lines first, each reading the output of
// the one below it.
using DecoderStack = std::vector<DecoderSetup>;

// Reads a stack as sigrok-cli's -P takes it: "uart:rx=ACK:baudrate=9600",
// "spi:clk=D0:mosi=D1,avr_isp" (a comma stacks the next on the one before);
// a key names a channel (then the value is a line: D0-D7, Err, SlctOut,
// PaperOut, ACK, Busy, STB, AFD, Init, SlctIn) or an option. Checks it all
// against the installed decoders; on a fault, the message that says what was
// wrong and what there is.
std::variant<DecoderStack, std::string> ReadDecoderStack(std::string_view text, DecoderLibrary& library);

// The parts of a list of sigrok-cli's kind, between the separators.
std::vector<std::string_view> SplitAt(std::string_view text, char separator);

// The stack written back the way it is read.
std::string DecoderStackText(const DecoderStack& stack);
