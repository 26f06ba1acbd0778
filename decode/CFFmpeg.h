#pragma once
#include "decode/CoDecoder.h"

// H.264 decoder of one recorder channel: FFmpeg decode, then BGRA at the
// same size into a fixed 1920x1080 output buffer.
class CFFmpeg : public CoDecoder {
public:
    CFFmpeg();
    ~CFFmpeg() override;
    int InitDecoder(unsigned kind) override;
    bool Decode(tagNxPacket* pk) override;
    bool DecodeDummy(tagNxPacket* pk);
};
