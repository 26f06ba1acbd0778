#include "decode/ADPcm_decoder_HD.h"

int ADPcm_decoder_HD::InitDecoder(unsigned)
{
    _state_dec = ADPCMstate{};
    return 1;
}

bool ADPcm_decoder_HD::Decode(tagNxPacket* pk)
{
    if (!pk)
        return false;
    pk->outbuff = reinterpret_cast<uint8_t*>(_bufdec);
    pk->outsize = 0;
    if (!pk->inbuff || pk->insize <= kHeaderBytes)
        return true;
    const int n = ADPCMDecodeBytes(pk->inbuff + kHeaderBytes, pk->insize - kHeaderBytes,
                                   kMaxDataBytes, _bufdec, &_state_dec);
    pk->outsize = n * 4;
    return true;
}
