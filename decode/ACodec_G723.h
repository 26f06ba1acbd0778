#pragma once
#include <cstdint>
#include <memory>

#include "decode/CoDecoder.h"
#include "decode/Cls_R2G723d24.h"

// G.726 24 kbit/s audio: every packet yields one 4,096-byte PCM block; the
// adaptive state runs on from packet to packet.
class ACodec_G723 : public CoDecoder {
public:
    static constexpr int kBlockBytes = 4096;

    ACodec_G723();
    ~ACodec_G723() override;
    ACodec_G723(const ACodec_G723&) = delete;
    ACodec_G723& operator=(const ACodec_G723&) = delete;

    int InitDecoder(unsigned kind) override;
    bool Decode(tagNxPacket* pk) override;

private:
    std::unique_ptr<Cls_R2G723d24> _pG723dec;
    int16_t _buf723_dec[kBlockBytes / 2] = {};
};
