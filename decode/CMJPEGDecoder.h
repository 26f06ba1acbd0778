#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "decode/CoDecoder.h"

// Bit reader state over one picture. The window is the first 12 bytes of
// inbfr; reads past rdend see zero bytes, so no input is read beyond it.
struct ld_tag {
    const uint8_t* rdptr = nullptr;  // next input byte
    const uint8_t* rdend = nullptr;  // end of the picture's bytes
    uint8_t inbfr[16] = {};
    int incnt = 0;   // bits left in the window
    int bitcnt = 0;  // bits consumed
    int quant_scale = 0;
};

// Video decoder of the second device: pictures made of slices of intra-coded
// 8x8 blocks, with a conditional picture type that leaves unchanged
// macroblocks out. The planar YUV 4:2:0 picture is kept between calls, so
// left-out parts show the previous picture. Output is B, G, R, 0 per pixel.
class CMJPEGDecoder : public CoDecoder {
public:
    static constexpr int kMaxSlices = 20;
    static constexpr int kYuvBytes = 414720;
    static constexpr int kRgbBytes = 829440;
    static constexpr uint32_t kWidth = 640;
    static constexpr uint32_t kHeightShort = 224;  // 14 slices
    static constexpr uint32_t kHeightTall = 272;   // 17 slices

    CMJPEGDecoder();
    ~CMJPEGDecoder() override;
    CMJPEGDecoder(const CMJPEGDecoder&) = delete;
    CMJPEGDecoder& operator=(const CMJPEGDecoder&) = delete;

    // Resets the per-picture state and builds the clip table; answers 1.
    int InitDecoder(unsigned kind) override;
    // InitDecoder without its log line.
    int Initialize(unsigned kind);
    // One picture (start code, header, slices) from inbuff/insize; on success
    // w, h, outbuff and outsize describe the BGRA picture.
    bool Decode(tagNxPacket* pk) override;
    // The next picture is written straight into target when it fits; the
    // target is used for one Decode only.
    void setOutputTarget(uint8_t* target, size_t size) override
    {
        m_target = target;
        m_targetSize = size;
    }

    // Header, slice scan and size; non-zero when the picture can be decoded.
    unsigned LoadFrame(const uint8_t* buf, uint32_t len);
    // Decodes the slices found by LoadFrame into the planar picture yuv.
    unsigned DecodeFrame(const uint8_t* buf, uint32_t len, uint8_t* yuv);
    // Decodes one block into 64 coefficients zeroed by the caller.
    int getintrablock(int16_t* block);
    // Inverse transform in place; results are limited to 0..255.
    void idct(int16_t* block);
    void init_idct();
    static void write_rec_frame(uint8_t* plane, int x, int y, const int16_t* block, int planeWidth);
    static void YUV411TORGB32(uint8_t* out, const uint8_t* yuv, int width, int height);

    void initbits();
    void fillbfr();
    unsigned showbits(int n);
    void flushbits(int n);
    unsigned getbits(int n);

    uint32_t GetWidth() const { return m_dwWidth; }
    uint32_t GetHeight() const { return m_dwHeight; }
    int GetChannel() const { return m_nCh; }
    uint16_t GetTimeStamp() const { return m_wTimeStamp; }
    // The planar picture: Y, then Cb and Cr at half size.
    const uint8_t* yuv() const { return bufYuv.get(); }

private:
    int clip(int64_t v) const;
    void idctrow(int64_t* row);
    void idctcol(int64_t* col);
    bool decodeSlice(uint32_t slice, uint8_t* yuv);
    bool decodeMacroblock(uint32_t slice, uint32_t row, uint32_t addr, unsigned cbp, uint8_t* yuv);

    uint32_t m_dwDecMode = 0;
    uint32_t m_dwCode = 0xFFFFFFFF;
    uint32_t m_dwWidth = kWidth;
    uint32_t m_dwHeight = kHeightShort;
    int m_nPicType = 0;
    int m_nCh = 0;
    uint16_t m_wTimeStamp = 0;
    uint32_t m_dwaSliceOffset[kMaxSlices] = {};
    uint32_t m_dwSliceCnt = 0;
    ld_tag m_base;
    ld_tag* m_ld = &m_base;
    int16_t m_iclip[1024] = {};
    int16_t* m_iclp = m_iclip + 512;
    std::unique_ptr<uint8_t[]> bufYuv;
    std::unique_ptr<uint8_t[]> bufRGB;
    uint8_t* m_target = nullptr;
    size_t m_targetSize = 0;
};
