#include "decode/CMJPEGDecoder.h"

#include <algorithm>
#include <cstring>

#include "platform/Log.h"

namespace {

constexpr uint32_t kPictureShort = 0xF8;
constexpr uint32_t kPictureLong = 0xF9;

// Start codes that end the slice scan: the next picture, audio, commands.
bool endsPicture(uint8_t code)
{
    return code >= 0xF8 && code <= 0xFD;
}

}  // namespace

// The largest picture fits the planar and BGRA buffers and a video slot.
static_assert(CMJPEGDecoder::kWidth * CMJPEGDecoder::kHeightTall * 3 / 2 <= CMJPEGDecoder::kYuvBytes);
static_assert(CMJPEGDecoder::kWidth * CMJPEGDecoder::kHeightTall * 4 <= CMJPEGDecoder::kRgbBytes);
static_assert(CMJPEGDecoder::kRgbBytes <= 1920 * 1080 * 4);

CMJPEGDecoder::CMJPEGDecoder()
    : bufYuv(new uint8_t[kYuvBytes]()), bufRGB(new uint8_t[kRgbBytes]())
{
}

CMJPEGDecoder::~CMJPEGDecoder()
{
    vlog("MJPEG DECODER dealloc");
}

int CMJPEGDecoder::InitDecoder(unsigned kind)
{
    vlog("CMJPEGDECODER InitDecoder");
    return Initialize(kind);
}

int CMJPEGDecoder::Initialize(unsigned kind)
{
    m_ld->quant_scale = 0;
    m_dwWidth = 0;
    m_dwHeight = 0;
    m_dwDecMode = kind;
    m_wTimeStamp = 0;
    initbits();
    init_idct();
    return 1;
}

bool CMJPEGDecoder::Decode(tagNxPacket* pk)
{
    uint8_t* target = m_target;
    const size_t targetSize = m_targetSize;
    m_target = nullptr;
    m_targetSize = 0;
    if (!pk)
        return false;
    const uint32_t len = pk->inbuff && pk->insize > 0 ? uint32_t(pk->insize) : 0;
    if (!LoadFrame(pk->inbuff, len) || !DecodeFrame(pk->inbuff, len, bufYuv.get()))
        return false;
    const size_t bytes = size_t(m_dwWidth) * m_dwHeight * 4;
    uint8_t* out = target && targetSize >= bytes ? target : bufRGB.get();
    YUV411TORGB32(out, bufYuv.get(), int(m_dwWidth), int(m_dwHeight));
    pk->w = int32_t(m_dwWidth);
    pk->h = int32_t(m_dwHeight);
    pk->outbuff = out;
    pk->outsize = int32_t(bytes);
    return true;
}

unsigned CMJPEGDecoder::LoadFrame(const uint8_t* buf, uint32_t len)
{
    m_dwCode = 0xFFFFFFFF;
    if (!buf || len <= 5) {
        vlog("Frame Size Too Small\r");
        return 0;
    }
    if (buf[0] != 0 || buf[1] != 0 || buf[2] != 1 || (buf[3] != kPictureShort && buf[3] != kPictureLong))
        return 0;
    // Only this header layout is used by the device.
    if (m_dwDecMode != 2)
        return 0;
    m_nCh = 0;
    m_ld->quant_scale = (buf[4] >> 3) & 0x0F;
    m_nPicType = buf[4] >> 7;
    m_wTimeStamp = uint16_t((len > 6 ? buf[6] << 8 : 0) | (len > 7 ? buf[7] : 0));
    if (m_ld->quant_scale == 15) {
        vlog("SKIP FRAME\r");
        return 0;
    }

    m_dwSliceCnt = 0;
    for (uint32_t i = 5; i < len; ++i) {
        m_dwCode = (m_dwCode << 8) | buf[i];
        if ((m_dwCode & 0xFFFFFF00) != 0x00000100)
            continue;
        if (endsPicture(buf[i]))
            break;
        if (m_dwSliceCnt < kMaxSlices)
            m_dwaSliceOffset[m_dwSliceCnt] = i - 3;
        ++m_dwSliceCnt;
    }

    if (m_dwSliceCnt == 14) {
        m_dwWidth = kWidth;
        m_dwHeight = kHeightShort;
    } else if (m_dwSliceCnt == 17) {
        m_dwWidth = kWidth;
        m_dwHeight = kHeightTall;
    } else {
        vlog("Invalid Slice Cnt %d\r\n", int(m_dwSliceCnt));
        return 0;
    }
    return 1;
}

unsigned CMJPEGDecoder::DecodeFrame(const uint8_t* buf, uint32_t len, uint8_t* yuv)
{
    if (!buf || len <= 4) {
        vlog("ERROR pFBuf = NULL or Frame Size = %d\r\n", int(len));
        return 0;
    }
    if (m_ld->quant_scale == 0) {
        vlog("ERROR quant_scale\r");
        return 0;
    }
    if (m_dwWidth == 0 || m_dwHeight == 0) {
        vlog("ERROR m_dwWidth = %d, m_dwHeight = %d\r\n", int(m_dwWidth), int(m_dwHeight));
        return 0;
    }
    // Macroblock positions below rely on whole macroblocks inside the planes.
    if (m_dwWidth % 16 || m_dwHeight % 16 || size_t(m_dwWidth) * m_dwHeight * 3 / 2 > size_t(kYuvBytes))
        return 0;
    m_ld->rdend = buf + len;
    const uint32_t slices = std::min<uint32_t>(m_dwSliceCnt, kMaxSlices);
    for (uint32_t s = 0; s < slices; ++s) {
        if (m_dwaSliceOffset[s] >= len)
            return 0;
        m_ld->rdptr = buf + m_dwaSliceOffset[s];
        initbits();
        if (!decodeSlice(s, yuv))
            return 0;
    }
    return 1;
}

bool CMJPEGDecoder::decodeSlice(uint32_t slice, uint8_t* yuv)
{
    if (getbits(24) != 0x000001) {
        vlog("ERROR getbits(24)\r");
        return false;
    }
    const uint32_t row = getbits(5);
    if (row >= m_dwHeight / 16) {
        vlog("ERROR slice_cnt = %d\r\n", int(row));
        return false;
    }
    const uint32_t mbPerRow = m_dwWidth / 16;
    for (uint32_t addr = 0; addr < mbPerRow; ++addr) {
        unsigned coded = 0x0F;
        if (m_nPicType == 0) {
            if (showbits(6) == 0)
                break;  // end of the slice
            addr += getbits(6) - 1;
            // An increment past the row would write into other rows or
            // beyond the picture.
            if (addr >= mbPerRow) {
                vlog("macroblock address %d past the row (slice=%d)\r\n", int(addr), int(slice));
                return false;
            }
            coded = getbits(4);  // bit i set: luma block i present
        }
        if (!decodeMacroblock(slice, row, addr, coded, yuv))
            return false;
    }
    return true;
}

bool CMJPEGDecoder::decodeMacroblock(uint32_t slice, uint32_t row, uint32_t addr, unsigned coded, uint8_t* yuv)
{
    const int w = int(m_dwWidth);
    const int h = int(m_dwHeight);
    uint8_t* cb = yuv + size_t(w) * h;
    uint8_t* cr = cb + size_t(w / 2) * (h / 2);
    for (int i = 0; i < 6; ++i) {
        if (i < 4 && !((coded >> i) & 1))
            continue;
        int16_t block[64] = {};
        if (!getintrablock(block)) {
            vlog("getintrablock fault slice=%d mblock=%d w=%d h=%d\r\n", int(slice), int(addr), w, h);
            return false;
        }
        idct(block);
        if (i < 4)
            write_rec_frame(yuv, int(addr) * 16 + 8 * (i & 1), int(row) * 16 + 8 * (i >> 1), block, w);
        else
            write_rec_frame(i == 4 ? cb : cr, int(addr) * 8, int(row) * 8, block, w / 2);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Bit reader

void CMJPEGDecoder::initbits()
{
    std::memset(m_ld->inbfr, 0, sizeof m_ld->inbfr);
    m_ld->incnt = 0;
    m_ld->bitcnt = 0;
}

void CMJPEGDecoder::fillbfr()
{
    ld_tag& ld = *m_ld;
    std::memmove(ld.inbfr, ld.inbfr + 8, 4);
    const size_t left = ld.rdptr && ld.rdptr < ld.rdend ? size_t(ld.rdend - ld.rdptr) : 0;
    const size_t n = std::min<size_t>(8, left);
    if (n)
        std::memcpy(ld.inbfr + 4, ld.rdptr, n);
    std::memset(ld.inbfr + 4 + n, 0, 8 - n);
    ld.rdptr += n;
    ld.incnt += 64;
}

unsigned CMJPEGDecoder::showbits(int n)
{
    if (m_ld->incnt < n)
        fillbfr();
    const int pos = 96 - m_ld->incnt;
    const uint8_t* p = m_ld->inbfr + (pos >> 3);
    const uint64_t v = (uint64_t(p[0]) << 32) | (uint64_t(p[1]) << 24) | (uint64_t(p[2]) << 16) |
                       (uint64_t(p[3]) << 8) | uint64_t(p[4]);
    return unsigned(v >> (40 - (pos & 7) - n)) & ((1u << n) - 1);
}

void CMJPEGDecoder::flushbits(int n)
{
    m_ld->bitcnt += n;
    m_ld->incnt -= n;
    if (m_ld->incnt < 0)
        fillbfr();
}

unsigned CMJPEGDecoder::getbits(int n)
{
    const unsigned v = showbits(n);
    flushbits(n);
    return v;
}
