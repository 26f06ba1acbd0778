#include "decode/ACodec_G723.h"

#include <cstring>

#include "platform/Log.h"

ACodec_G723::ACodec_G723() = default;

ACodec_G723::~ACodec_G723()
{
    vlog("G723 dealloc\n");
}

int ACodec_G723::InitDecoder(unsigned)
{
    _pG723dec = std::make_unique<Cls_R2G723d24>();
    _pG723dec->Init();
    return 1;
}

bool ACodec_G723::Decode(tagNxPacket* pk)
{
    if (!pk || !_pG723dec)
        return false;
    const bool haveInput = pk->inbuff && pk->insize > 0;
    _pG723dec->SetSrcData(haveInput ? pk->inbuff : nullptr,
                          haveInput ? static_cast<unsigned long>(pk->insize) : 0);
    _pG723dec->SetDestBuf(_buf723_dec, kBlockBytes);
    auto* out = reinterpret_cast<uint8_t*>(_buf723_dec);
    unsigned long written = _pG723dec->Decode();
    // A short packet must not replay the previous block in its tail.
    std::memset(out + written, 0, kBlockBytes - written);
    pk->outbuff = out;
    pk->outsize = kBlockBytes;
    return true;
}
