// Pixel arithmetic of the intra slice decoder: the integer inverse
// transform, block writes and the colour conversion. Fuzz builds leave this
// file out of compare tracing (decode/CMakeLists.txt): its compares do not
// depend on the input's structure and tracing them doubled the decode time.
#include <algorithm>
#include <cstdint>

#include "decode/CMJPEGDecoder.h"

namespace {

inline uint8_t clampColour(int v)
{
    return uint8_t(v > 255 ? 255 : (v < 0 ? 1 : v));
}

// Reference transform constants: 2048 * sqrt(2) * cos(k * pi / 16).
constexpr int64_t W1 = 2841;
constexpr int64_t W2 = 2676;
constexpr int64_t W3 = 2408;
constexpr int64_t W5 = 1609;
constexpr int64_t W6 = 1108;
constexpr int64_t W7 = 565;

// The last stage both passes share: the even part (x0, x2, x3, x8) and the
// odd part (x4..x7) joined into the eight outputs, before each pass's own
// final shift.
void joinHalves(int64_t x0, int64_t x2, int64_t x3, int64_t x4, int64_t x5, int64_t x6, int64_t x7, int64_t x8,
                int64_t out[8])
{
    int64_t x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = (181 * (x4 + x5) + 128) >> 8;
    x4 = (181 * (x4 - x5) + 128) >> 8;
    out[0] = x7 + x1;
    out[1] = x3 + x2;
    out[2] = x0 + x4;
    out[3] = x8 + x6;
    out[4] = x8 - x6;
    out[5] = x0 - x4;
    out[6] = x3 - x2;
    out[7] = x7 - x1;
}

}  // namespace

void CMJPEGDecoder::init_idct()
{
    for (int i = -512; i < 512; ++i)
        m_iclp[i] = int16_t(std::clamp(i, -256, 255));
}

// Large coefficients are legal and carry the index far past the table; the
// table's own limits apply to them.
int CMJPEGDecoder::clip(int64_t v) const
{
    return m_iclp[std::clamp<int64_t>(v, -512, 511)];
}

// The arithmetic is 64-bit: crafted coefficients overflow 32 bits here.
void CMJPEGDecoder::idctrow(int64_t* blk)
{
    int64_t x0, x1 = blk[4] << 11, x2 = blk[6], x3 = blk[2], x4 = blk[1], x5 = blk[7], x6 = blk[5], x7 = blk[3],
                x8;
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        std::fill_n(blk, 8, blk[0] << 3);
        return;
    }
    x0 = (blk[0] << 11) + 128;
    x8 = W7 * (x4 + x5);
    x4 = x8 + (W1 - W7) * x4;
    x5 = x8 - (W1 + W7) * x5;
    x8 = W3 * (x6 + x7);
    x6 = x8 - (W3 - W5) * x6;
    x7 = x8 - (W3 + W5) * x7;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2);
    x2 = x1 - (W2 + W6) * x2;
    x3 = x1 + (W2 - W6) * x3;
    int64_t out[8];
    joinHalves(x0, x2, x3, x4, x5, x6, x7, x8, out);
    for (int i = 0; i < 8; ++i)
        blk[i] = out[i] >> 8;
}

void CMJPEGDecoder::idctcol(int64_t* blk)
{
    int64_t x0, x1 = blk[8 * 4] << 8, x2 = blk[8 * 6], x3 = blk[8 * 2], x4 = blk[8 * 1], x5 = blk[8 * 7],
                x6 = blk[8 * 5], x7 = blk[8 * 3], x8;
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        const int64_t v = clip((blk[0] + 32) >> 6);
        for (int i = 0; i < 8; ++i)
            blk[8 * i] = v;
        return;
    }
    x0 = (blk[0] << 8) + 8192;
    x8 = W7 * (x4 + x5) + 4;
    x4 = (x8 + (W1 - W7) * x4) >> 3;
    x5 = (x8 - (W1 + W7) * x5) >> 3;
    x8 = W3 * (x6 + x7) + 4;
    x6 = (x8 - (W3 - W5) * x6) >> 3;
    x7 = (x8 - (W3 + W5) * x7) >> 3;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2) + 4;
    x2 = (x1 - (W2 + W6) * x2) >> 3;
    x3 = (x1 + (W2 - W6) * x3) >> 3;
    int64_t out[8];
    joinHalves(x0, x2, x3, x4, x5, x6, x7, x8, out);
    for (int i = 0; i < 8; ++i)
        blk[8 * i] = clip(out[i] >> 14);
}

void CMJPEGDecoder::idct(int16_t* block)
{
    int64_t work[64];
    std::copy_n(block, 64, work);
    for (int r = 0; r < 8; ++r)
        idctrow(work + 8 * r);
    for (int c = 0; c < 8; ++c)
        idctcol(work + c);
    for (int i = 0; i < 64; ++i)
        block[i] = int16_t(std::clamp<int64_t>(work[i], 0, 255));
}

void CMJPEGDecoder::write_rec_frame(uint8_t* plane, int x, int y, const int16_t* block, int planeWidth)
{
    for (int r = 0; r < 8; ++r) {
        uint8_t* dst = plane + size_t(y + r) * size_t(planeWidth) + size_t(x);
        for (int c = 0; c < 8; ++c)
            dst[c] = uint8_t(block[r * 8 + c]);
    }
}

void CMJPEGDecoder::YUV411TORGB32(uint8_t* out, const uint8_t* yuv, int width, int height)
{
    const int cw = width / 2;
    const uint8_t* yp = yuv;
    const uint8_t* cbp = yuv + size_t(width) * height;
    const uint8_t* crp = cbp + size_t(cw) * (height / 2);
    for (int y = 0; y < height; ++y) {
        const uint8_t* yr = yp + size_t(y) * width;
        const uint8_t* cbr = cbp + size_t(y / 2) * cw;
        const uint8_t* crr = crp + size_t(y / 2) * cw;
        uint8_t* o = out + size_t(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            const int l = 1024 * yr[x];
            const int u = cbr[x / 2] - 128;
            const int v = crr[x / 2] - 128;
            o[0] = clampColour((l + 1815 * u) >> 10);
            o[1] = clampColour((l - 352 * u - 731 * v) >> 10);
            o[2] = clampColour((l + 1436 * v) >> 10);
            o[3] = 0;
            o += 4;
        }
    }
}
