#pragma once
#include <cstdint>
#include <memory>

#include "decode/CoDecoder.h"

// The audio decoder of a model group: IMA ADPCM with a 16-byte header for
// group 8, plain IMA ADPCM for 9, 11 and 12, G.726 for every other group.
std::unique_ptr<CoDecoder> createAudioDecoder(uint32_t group);
