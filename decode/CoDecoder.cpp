#include "decode/CoDecoder.h"

#include "platform/Log.h"

int CoDecoder::InitDecoder(unsigned)
{
    vlog("CoDecoder InitDecoder");
    return 0;
}

bool CoDecoder::Decode(tagNxPacket*)
{
    return false;
}
