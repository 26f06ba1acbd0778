#include "decode/ADPcm_decoder.h"

namespace {

constexpr int16_t StepSizeTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int8_t IndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

int ClampIndex(int index)
{
    return index < 0 ? 0 : index > 88 ? 88 : index;
}

}  // namespace

int16_t ADPCMDecoder(uint8_t code, ADPCMstate* state)
{
    const int step = StepSizeTable[ClampIndex(state->previndex)];
    int diff = step >> 3;
    if (code & 4)
        diff += step;
    if (code & 2)
        diff += step >> 1;
    if (code & 1)
        diff += step >> 2;
    int sample = (code & 8) ? state->prevsample - diff : state->prevsample + diff;
    sample = sample < -32767 ? -32767 : sample > 32767 ? 32767 : sample;
    state->previndex = ClampIndex(state->previndex + IndexTable[code & 15]);
    state->prevsample = static_cast<int16_t>(sample);
    return state->prevsample;
}

int ADPCMDecodeBytes(const uint8_t* data, int len, int maxBytes, int16_t* out, ADPCMstate* state)
{
    if (!data || len <= 0)
        return 0;
    const int n = len < maxBytes ? len : maxBytes;
    for (int i = 0; i < n; ++i) {
        *out++ = ADPCMDecoder(data[i] >> 4, state);
        *out++ = ADPCMDecoder(data[i] & 15, state);
    }
    return n;
}

int ADPcm_decoder::InitDecoder(unsigned)
{
    _state_dec = ADPCMstate{};
    return 1;
}

bool ADPcm_decoder::Decode(tagNxPacket* pk)
{
    if (!pk)
        return false;
    pk->outbuff = reinterpret_cast<uint8_t*>(_bufdec);
    pk->outsize = 0;
    if (!pk->inbuff || pk->insize <= kHeaderBytes)
        return true;
    const uint8_t* in = pk->inbuff;
    _state_dec.prevsample = static_cast<int16_t>(in[0] | (in[1] << 8));
    _state_dec.previndex = ClampIndex(static_cast<int8_t>(in[2]));
    const int n = ADPCMDecodeBytes(in + kHeaderBytes, pk->insize - kHeaderBytes, kMaxDataBytes,
                                   _bufdec, &_state_dec);
    pk->outsize = n * 4;
    return true;
}
