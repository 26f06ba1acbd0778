#pragma once
// Audio frames for the recorder: a 500 Hz tone (8,000 samples/s, amplitude
// 8,000) coded as IMA ADPCM for model groups 8, 9, 11 and 12, and a fixed
// G.726-24 code pattern for the others.

#include <cstdint>

#include "recorder/Wire.h"

namespace testrec {

struct ImaState {
    int16_t predicted = 0;
    int index = 0;
};

// Encodes samples as IMA ADPCM nibbles, high nibble first, carrying state.
// Tracks the decoder exactly (including its -32767 clamp), so decoding the
// output from the same starting state gives back the reconstructed samples.
Bytes imaEncode(const int16_t* samples, size_t n, ImaState& state);

// Sample k of the tone.
int16_t toneSample(uint64_t k);

class AudioSource {
public:
    explicit AudioSource(int group);

    // Coded bytes of the next audio frame (the frame's coded data, headers
    // of the audio format included).
    Bytes nextPacket();

    // Milliseconds of sound in one packet at 8,000 samples per second.
    int packetMs() const;

    // Groups 8, 9, 11, 12: 512 samples in 256 data bytes, behind a 16-byte
    // zero header (group 8) or a 4-byte predictor/index header (9, 11, 12).
    // Other groups: 768 bytes of G.726-24 codes 0,1,...,7 repeated, packed
    // least significant bits first (bytes 88 C6 FA repeated), 2,048 codes.
    static constexpr int kAdpcmSamples = 512;
    static constexpr int kG726Bytes = 768;
    static Bytes g726Pattern(size_t bytes);

private:
    int group_;
    uint64_t sample_ = 0;
    ImaState state_;
};

}  // namespace testrec
