#pragma once
#include <cstdint>

// Abstract audio decoder: input bytes in, 16-bit PCM out, until the input is
// used up or the output is full.
class Cls_R2AdoDec {
public:
    virtual ~Cls_R2AdoDec();

    uint32_t GetFcc() const { return fcc; }
    bool IsSrcEmpty() const { return src_empty != 0; }
    bool IsDstBufFull() const { return dst_buf_full != 0; }

    virtual void Init();
    virtual void SetSrcData(const void* src, unsigned long len);
    virtual void SetDestBuf(void* dst, unsigned long len);
    // Answers the number of output bytes written.
    virtual unsigned long Decode();

protected:
    uint32_t fcc = 0;
    uint8_t src_empty = 0;
    uint8_t dst_buf_full = 0;
};
