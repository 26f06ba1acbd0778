#include "link/AudioDecoders.h"

#include "decode/ACodec_G723.h"
#include "decode/ADPcm_decoder.h"
#include "decode/ADPcm_decoder_HD.h"

std::unique_ptr<CoDecoder> createAudioDecoder(uint32_t group)
{
    switch (group) {
    case 8:
        return std::make_unique<ADPcm_decoder_HD>();
    case 9:
    case 11:
    case 12:
        return std::make_unique<ADPcm_decoder>();
    default:
        return std::make_unique<ACodec_G723>();
    }
}
