#include "decode/CFFmpeg.h"

#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "platform/Log.h"

namespace {

// Upper bound for the library's own picture allocations: a stream that claims
// a huge size is refused inside the decoder rather than allocated.
constexpr int64_t kLibraryMaxPixels = 4096 * 2304;

struct Canned {
    const uint8_t* bytes;
    int len;
};

// The canned set for a stated picture size; null when there is none.
Canned cannedParams(int w, int h)
{
    if (w == 704) {
        switch (h) {
        case 240: return {kH264Params704x240, int(sizeof kH264Params704x240)};
        case 288: return {kH264Params704x288, int(sizeof kH264Params704x288)};
        case 480: return {kH264Params704x480, int(sizeof kH264Params704x480)};
        case 576: return {kH264Params704x576, int(sizeof kH264Params704x576)};
        default: return {nullptr, 0};
        }
    }
    if (h == 240)
        return {kH264Params352x240, int(sizeof kH264Params352x240)};
    return {kH264Params352x288, int(sizeof kH264Params352x288)};
}

// The canned slice with the zeroed margin the decoder may read past it.
struct PaddedDummy {
    uint8_t bytes[sizeof FRAME_DUMMY_BUFFER + CFFmpeg::kPadding] = {};
    PaddedDummy() { std::memcpy(bytes, FRAME_DUMMY_BUFFER, sizeof FRAME_DUMMY_BUFFER); }
};
const PaddedDummy kDummy;

inline uint8_t clip8(int v)
{
    return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// One filtered row; blocks of 16 keep the loop vectorisable.
void filterRow(uint8_t* __restrict d, const uint8_t* __restrict m2, const uint8_t* __restrict m1,
               const uint8_t* __restrict c, const uint8_t* __restrict p1, const uint8_t* __restrict p2, int n)
{
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        for (int k = 0; k < 16; ++k) {
            int s = 4 * (m1[x + k] + p1[x + k]) + 2 * c[x + k] - m2[x + k] - p2[x + k];
            d[x + k] = clip8((s + 4) >> 3);
        }
    }
    for (; x < n; ++x) {
        int s = 4 * (m1[x] + p1[x]) + 2 * c[x] - m2[x] - p2[x];
        d[x] = clip8((s + 4) >> 3);
    }
}

// Planar 8-bit formats the deinterlacer handles.
bool deinterlaceable(const AVPixFmtDescriptor* desc)
{
    if (!desc || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL))
        return false;
    for (int i = 0; i < desc->nb_components; ++i) {
        if (desc->comp[i].depth != 8 || desc->comp[i].step != 1 || desc->comp[i].shift != 0)
            return false;
    }
    return true;
}

void quietLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

}  // namespace

CFFmpeg::CFFmpeg()
{
    quietLibraryLog();
}

CFFmpeg::~CFFmpeg()
{
    release();
}

void CFFmpeg::release()
{
    avcodec_free_context(&_pCodecCtx);
    av_frame_free(&_pFrameDec);
    av_frame_free(&_pFrameRecv);
    av_packet_free(&_pkt);
    av_freep(&_buffer);
    av_freep(&_buffer_nal);
    av_freep(&picture_buf_deinterlace);
    sws_freeContext(_img_convert_ctx);
    _img_convert_ctx = nullptr;
    _convFormat = _deintFormat = -1;
    _cur_w = _cur_h = _deintW = _deintH = 0;
}

int CFFmpeg::InitDecoder(unsigned kind)
{
    release();
    if (!openCodec(kind == 2 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4)) {
        release();
        vlog("avcodec_open fail");
        return -1;
    }
    _pFrameDec = av_frame_alloc();
    _pFrameRecv = av_frame_alloc();
    _pkt = av_packet_alloc();
    if (!_pFrameDec || !_pFrameRecv || !_pkt) {
        release();
        return -1;
    }
    return 0;
}

bool CFFmpeg::openCodec(int codecId)
{
    const AVCodec* codec = avcodec_find_decoder(AVCodecID(codecId));
    _pCodecCtx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!_pCodecCtx)
        return false;
    _pCodecCtx->width = kMaxWidth;
    _pCodecCtx->height = kMaxHeight;
    _pCodecCtx->workaround_bugs = FF_BUG_AUTODETECT;
    _pCodecCtx->error_concealment = FF_EC_GUESS_MVS | FF_EC_DEBLOCK;
    _pCodecCtx->pix_fmt = AV_PIX_FMT_YUV420P;
    _pCodecCtx->thread_count = 1;  // one picture out per frame in, no frame delay
    _pCodecCtx->max_pixels = kLibraryMaxPixels;
    return avcodec_open2(_pCodecCtx, codec, nullptr) >= 0;
}

// A flush would keep the parameter sets of earlier frames, so the codec
// context is made anew; the buffers and the converter stay.
void CFFmpeg::ResetStream()
{
    if (!_pCodecCtx)
        return;
    const int id = _pCodecCtx->codec_id;
    avcodec_free_context(&_pCodecCtx);
    if (!openCodec(id)) {
        release();
        vlog("avcodec_open fail");
        return;
    }
    av_frame_unref(_pFrameDec);
    av_frame_unref(_pFrameRecv);
    _cur_w = _cur_h = 0;
}

// The decoder's own BGRA buffer, for pictures that do not go to the caller's
// target; made on first use, as most decoders never need its 8 MiB.
bool CFFmpeg::ensureBuffer()
{
    if (_buffer)
        return true;
    _buffer = static_cast<uint8_t*>(av_mallocz(kOutBytes + kPadding));
    if (!_buffer)
        return false;
    av_image_fill_arrays(_outData, _outLinesize, _buffer, AV_PIX_FMT_BGRA, _cur_w > 0 ? _cur_w : kMaxWidth,
                         _cur_h > 0 ? _cur_h : kMaxHeight, 1);
    return true;
}

bool CFFmpeg::Decode(tagNxPacket* pk)
{
    return decodePacket(pk, false);
}

bool CFFmpeg::DecodeDummy(tagNxPacket* pk)
{
    return decodePacket(pk, true);
}

bool CFFmpeg::decodePacket(tagNxPacket* pk, bool dummy)
{
    if (!pk || !_pCodecCtx)
        return false;
    if (pk->add_nal && pk->insize == 0)
        return fillBlue(pk);
    if (pk->insize < 0 || (pk->insize > 0 && !pk->inbuff))
        return false;
    bool got = false;
    if (pk->add_nal && (pk->w_org != _cur_w || pk->h_org != _cur_h)) {
        if (!decodeWithParams(pk, &got))
            return false;
    } else if (pk->add_nal || !dummy) {
        // An empty packet would put the library into draining mode.
        if (pk->insize == 0)
            return false;
        got = decodeBytes(pk->inbuff, pk->insize);
    } else {
        got = decodeBytes(kDummy.bytes, int(sizeof FRAME_DUMMY_BUFFER));
    }
    pk->result = got ? 1 : 0;
    if (!got)
        return false;
    const int h = _pFrameDec->height;
    return outputPicture(pk, dummy ? (h == 480 || h == 576) : pk->deinterlace != 0);
}

// A frame without coded bytes stands for a blue picture of the stated size.
// A stated size that does not fit the output buffer is refused.
bool CFFmpeg::fillBlue(tagNxPacket* pk)
{
    if (pk->w_org <= 0 || pk->h_org <= 0 || pk->w_org > kMaxWidth || pk->h_org > kMaxHeight || !ensureBuffer())
        return false;
    static constexpr uint8_t kBlue[4] = {0xFF, 0x00, 0x00, 0x00};
    const int bytes = pk->w_org * pk->h_org * 4;
    for (int i = 0; i < bytes; i += 4)
        std::memcpy(_buffer + i, kBlue, 4);
    pk->w = pk->w_org;
    pk->h = pk->h_org;
    pk->outbuff = _buffer;
    pk->outsize = pk->w_org * pk->h_org * 4;
    return true;
}

// Decodes the canned set for the stated size followed by the frame. False
// when nothing may be decoded; *got tells whether a picture came.
bool CFFmpeg::decodeWithParams(const tagNxPacket* pk, bool* got)
{
    const Canned params = cannedParams(pk->w_org, pk->h_org);
    if (!params.bytes || pk->insize > kNalBufferSize - params.len)
        return false;
    if (!_buffer_nal) {
        _buffer_nal = static_cast<uint8_t*>(av_malloc(kNalBufferSize + kPadding));
        if (!_buffer_nal)
            return false;
    }
    const int total = params.len + pk->insize;
    std::memcpy(_buffer_nal, params.bytes, size_t(params.len));
    if (pk->insize > 0)
        std::memcpy(_buffer_nal + params.len, pk->inbuff, size_t(pk->insize));
    std::memset(_buffer_nal + total, 0, kPadding);
    *got = decodeBytes(_buffer_nal, total);
    return true;
}

// Sends one packet and drains every picture it gives; the last one is kept
// in _pFrameDec. The data must have kPadding readable bytes after it.
bool CFFmpeg::decodeBytes(const uint8_t* data, int size)
{
    av_frame_unref(_pFrameDec);
    _pkt->data = const_cast<uint8_t*>(data);
    _pkt->size = size;
    avcodec_send_packet(_pCodecCtx, _pkt);  // errors show as no picture below
    _pkt->data = nullptr;
    _pkt->size = 0;
    bool got = false;
    while (avcodec_receive_frame(_pCodecCtx, _pFrameRecv) == 0) {
        av_frame_unref(_pFrameDec);
        av_frame_move_ref(_pFrameDec, _pFrameRecv);
        got = true;
    }
    return got;
}

bool CFFmpeg::outputPicture(tagNxPacket* pk, bool deinterlace)
{
    const AVFrame* f = _pFrameDec;
    if (f->width <= 0 || f->height <= 0 || f->width > kMaxWidth || f->height > kMaxHeight)
        return false;
    if (f->width != _cur_w || f->height != _cur_h)
        setOutputSize(f->width, f->height);
    const uint8_t* const* src = f->data;
    const int* stride = f->linesize;
    if (deinterlace) {
        if (!deinterlaceDecoded())
            return false;
        src = _deintData;
        stride = _deintLinesize;
    }
    if (!ensureConverter(f->format))
        return false;
    const size_t bytes = size_t(_cur_w) * size_t(_cur_h) * 4;
    if (_target && _targetSize >= bytes) {
        uint8_t* dst[4];
        int dstStride[4];
        av_image_fill_arrays(dst, dstStride, _target, AV_PIX_FMT_BGRA, _cur_w, _cur_h, 1);
        sws_scale(_img_convert_ctx, src, stride, 0, f->height, dst, dstStride);
        pk->outbuff = _target;
    } else {
        if (!ensureBuffer())
            return false;
        sws_scale(_img_convert_ctx, src, stride, 0, f->height, _outData, _outLinesize);
        pk->outbuff = _buffer;
    }
    pk->w = _cur_w;
    pk->h = _cur_h;
    pk->outsize = kOutBytes;
    return true;
}

// Rows packed at w * 4 bytes from the start of the buffer; the converter is
// rebuilt for the new size.
void CFFmpeg::setOutputSize(int w, int h)
{
    if (_buffer)
        av_image_fill_arrays(_outData, _outLinesize, _buffer, AV_PIX_FMT_BGRA, w, h, 1);
    sws_freeContext(_img_convert_ctx);
    _img_convert_ctx = nullptr;
    _cur_w = w;
    _cur_h = h;
}

bool CFFmpeg::ensureConverter(int format)
{
    if (_img_convert_ctx && format == _convFormat)
        return true;
    sws_freeContext(_img_convert_ctx);
    _img_convert_ctx = sws_getContext(_cur_w, _cur_h, AVPixelFormat(format), _cur_w, _cur_h, AV_PIX_FMT_BGRA,
                                      SWS_BICUBIC, nullptr, nullptr, nullptr);
    _convFormat = _img_convert_ctx ? format : -1;
    return _img_convert_ctx != nullptr;
}

// Filters the decoded picture into the separate deinterlace picture.
bool CFFmpeg::deinterlaceDecoded()
{
    const AVFrame* f = _pFrameDec;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    if (!deinterlaceable(desc) || !allocDeinterlacePicture(f->format, f->width, f->height))
        return false;
    const int planes = av_pix_fmt_count_planes(AVPixelFormat(f->format));
    for (int p = 0; p < planes; ++p) {
        const bool chroma = p == 1 || p == 2;
        const int w = chroma ? AV_CEIL_RSHIFT(f->width, desc->log2_chroma_w) : f->width;
        const int h = chroma ? AV_CEIL_RSHIFT(f->height, desc->log2_chroma_h) : f->height;
        DeinterlacePlane(_deintData[p], _deintLinesize[p], f->data[p], f->linesize[p], w, h);
    }
    return true;
}

bool CFFmpeg::allocDeinterlacePicture(int format, int w, int h)
{
    if (picture_buf_deinterlace && format == _deintFormat && w == _deintW && h == _deintH)
        return true;
    av_freep(&picture_buf_deinterlace);
    _deintFormat = -1;
    const int size = av_image_get_buffer_size(AVPixelFormat(format), w, h, 32);
    if (size <= 0)
        return false;
    picture_buf_deinterlace = static_cast<uint8_t*>(av_malloc(size_t(size) + kPadding));
    if (!picture_buf_deinterlace)
        return false;
    av_image_fill_arrays(_deintData, _deintLinesize, picture_buf_deinterlace, AVPixelFormat(format), w, h, 32);
    _deintFormat = format;
    _deintW = w;
    _deintH = h;
    return true;
}

void CFFmpeg::DeinterlacePlane(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int width,
                               int height)
{
    auto row = [&](int y) { return src + ptrdiff_t(y < 0 ? 0 : (y >= height ? height - 1 : y)) * srcStride; };
    for (int y = 0; y < height; ++y) {
        uint8_t* d = dst + ptrdiff_t(y) * dstStride;
        if ((y & 1) == 0)
            std::memcpy(d, row(y), size_t(width));
        else
            filterRow(d, row(y - 2), row(y - 1), row(y), row(y + 1), row(y + 2), width);
    }
}
