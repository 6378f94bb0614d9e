#pragma once

#include "decoder_library.h"

#include <string>
#include <vector>

// velkaro-cli decoders: each decoder with what it takes (the lines' channels,
// or the decoder it stacks on), its options with their defaults and choices,
// and its annotation rows; as text, or as one JSON array.
std::string DecoderListText(const std::vector<const DecoderInfo*>& decoders);
std::string DecoderListJson(const std::vector<const DecoderInfo*>& decoders);
