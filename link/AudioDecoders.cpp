#include "link/AudioDecoders.h"

std::unique_ptr<CoDecoder> createAudioDecoder(uint32_t group)
{
    (void)group;
    return std::make_unique<CoDecoder>();
}
