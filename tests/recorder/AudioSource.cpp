#include "recorder/AudioSource.h"

#include <algorithm>
#include <cmath>

namespace testrec {

namespace {

const int kStepSizes[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

const int kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

bool isAdpcmGroup(int g) { return g == 8 || g == 9 || g == 11 || g == 12; }

uint8_t encodeOne(int sample, ImaState& st)
{
    const int step = kStepSizes[st.index];
    int diff = sample - st.predicted;
    uint8_t code = 0;
    if (diff < 0) {
        code = 8;
        diff = -diff;
    }
    if (diff >= step) {
        code |= 4;
        diff -= step;
    }
    if (diff >= step >> 1) {
        code |= 2;
        diff -= step >> 1;
    }
    if (diff >= step >> 2)
        code |= 1;
    // Reconstruct as the decoder does.
    int delta = step >> 3;
    if (code & 4) delta += step;
    if (code & 2) delta += step >> 1;
    if (code & 1) delta += step >> 2;
    const int next = (code & 8) ? st.predicted - delta : st.predicted + delta;
    st.predicted = int16_t(std::clamp(next, -32767, 32767));
    st.index = std::clamp(st.index + kIndexAdjust[code & 7], 0, 88);
    return code;
}

}  // namespace

Bytes imaEncode(const int16_t* samples, size_t n, ImaState& state)
{
    Bytes out;
    out.reserve((n + 1) / 2);
    for (size_t i = 0; i < n; i += 2) {
        const uint8_t hi = encodeOne(samples[i], state);
        const uint8_t lo = i + 1 < n ? encodeOne(samples[i + 1], state) : 0;
        out.push_back(uint8_t((hi << 4) | lo));
    }
    return out;
}

int16_t toneSample(uint64_t k)
{
    const double phase = 2.0 * M_PI * double(k % 16) / 16.0;  // 500 Hz at 8 kHz
    return int16_t(std::lround(8000.0 * std::sin(phase)));
}

Bytes AudioSource::g726Pattern(size_t bytes)
{
    static const uint8_t group[3] = {0x88, 0xC6, 0xFA};
    Bytes out(bytes);
    for (size_t i = 0; i < bytes; ++i)
        out[i] = group[i % 3];
    return out;
}

AudioSource::AudioSource(int group) : group_(group) {}

int AudioSource::packetMs() const { return isAdpcmGroup(group_) ? kAdpcmSamples / 8 : 2048 / 8; }

Bytes AudioSource::nextPacket()
{
    if (!isAdpcmGroup(group_))
        return g726Pattern(kG726Bytes);
    int16_t pcm[kAdpcmSamples];
    for (int i = 0; i < kAdpcmSamples; ++i)
        pcm[i] = toneSample(sample_ + uint64_t(i));
    sample_ += kAdpcmSamples;

    Bytes out;
    if (group_ == 8) {
        out.assign(16, 0);  // the decoder carries its state across packets
    } else {
        // The header carries the state this packet starts from.
        appendLe16(out, uint16_t(state_.predicted));
        out.push_back(uint8_t(state_.index));
        out.push_back(0);
    }
    const Bytes data = imaEncode(pcm, kAdpcmSamples, state_);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

}  // namespace testrec
