#pragma once
#include <cstdint>

#include "decode/ADPcm_decoder.h"

// IMA ADPCM behind a 16-byte header that is skipped; the predictor and step
// index run on from packet to packet.
class ADPcm_decoder_HD : public CoDecoder {
public:
    static constexpr int kHeaderBytes = 16;
    static constexpr int kMaxDataBytes = 4096;
    static constexpr int kBufSamples = 16384;

    int InitDecoder(unsigned kind) override;
    bool Decode(tagNxPacket* pk) override;

private:
    int16_t _bufdec[kBufSamples] = {};
    ADPCMstate _state_dec;
};
