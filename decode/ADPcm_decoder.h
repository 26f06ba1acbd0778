#pragma once
#include <cstdint>

#include "decode/CoDecoder.h"

// IMA ADPCM predictor and step index.
struct ADPCMstate {
    int16_t prevsample = 0;
    int32_t previndex = 0;  // 0 .. 88
};

// Decodes one 4-bit code; answers the sample and advances the state.
int16_t ADPCMDecoder(uint8_t code, ADPCMstate* state);

// Decodes up to maxBytes of data, high nibble first, into out (two samples
// per byte); answers the number of data bytes decoded.
int ADPCMDecodeBytes(const uint8_t* data, int len, int maxBytes, int16_t* out, ADPCMstate* state);

// IMA ADPCM whose every packet starts with a 4-byte header carrying the
// predictor and step index; nothing carries over between packets.
class ADPcm_decoder : public CoDecoder {
public:
    static constexpr int kHeaderBytes = 4;
    static constexpr int kMaxDataBytes = 4096;   // one audio slot of PCM
    static constexpr int kBufSamples = 16384;

    int InitDecoder(unsigned kind) override;
    bool Decode(tagNxPacket* pk) override;

private:
    int16_t _bufdec[kBufSamples] = {};
    ADPCMstate _state_dec;
};
