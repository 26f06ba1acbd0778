#pragma once
#include <cstddef>
#include <cstdint>

#include "decode/CoDecoder.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// Parameter sets put in front of frames that carry none, by picture size.
inline constexpr uint8_t kH264Params704x480[22] = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E,
                                                   0x9A, 0x74, 0x05, 0x81, 0xEC, 0x80, 0x00, 0x00,
                                                   0x00, 0x01, 0x68, 0xCE, 0x32, 0x28};
inline constexpr uint8_t kH264Params704x240[21] = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00,
                                                   0x1E, 0x9A, 0x74, 0x05, 0x83, 0xF2, 0x00,
                                                   0x00, 0x00, 0x01, 0x68, 0xCE, 0x32, 0x28};
inline constexpr uint8_t kH264Params352x240[21] = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00,
                                                   0x1E, 0x9A, 0x74, 0x0B, 0x0F, 0xC8, 0x00,
                                                   0x00, 0x00, 0x01, 0x68, 0xCE, 0x32, 0x28};
inline constexpr uint8_t kH264Params704x576[22] = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E,
                                                   0x9A, 0x74, 0x05, 0x80, 0x93, 0x20, 0x00, 0x00,
                                                   0x00, 0x01, 0x68, 0xCE, 0x32, 0x28};
inline constexpr uint8_t kH264Params704x288[22] = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E,
                                                   0x9A, 0x74, 0x05, 0x81, 0x2C, 0x80, 0x00, 0x00,
                                                   0x00, 0x01, 0x68, 0xCE, 0x32, 0x28};
inline constexpr uint8_t kH264Params352x288[21] = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00,
                                                   0x1E, 0x9A, 0x74, 0x0B, 0x04, 0xB2, 0x00,
                                                   0x00, 0x00, 0x01, 0x68, 0xCE, 0x32, 0x28};

// A coded non-IDR slice decoded in place of a frame that gave no picture.
inline constexpr uint8_t FRAME_DUMMY_BUFFER[16] = {0x00, 0x00, 0x00, 0x01, 0x41, 0x9A, 0x00, 0x60,
                                                   0x04, 0x0D, 0x00, 0x1F, 0xE3, 0x00, 0x00, 0x00};

// H.264 decoder of one recorder channel: FFmpeg decode, then BGRA at the
// same size into a fixed 1920x1080 output buffer.
class CFFmpeg : public CoDecoder {
public:
    static constexpr int kMaxWidth = 1920;
    static constexpr int kMaxHeight = 1080;
    static constexpr int kOutBytes = kMaxWidth * kMaxHeight * 4;  // _numBytes
    static constexpr int kNalBufferSize = 2 * 1024 * 1024;
    static constexpr int kPadding = 64;  // zeroed bytes the decoder may read past a packet

    CFFmpeg();
    ~CFFmpeg() override;
    CFFmpeg(const CFFmpeg&) = delete;
    CFFmpeg& operator=(const CFFmpeg&) = delete;

    // 0 when ready, -1 on failure. Kind 2 is H.264, any other MPEG-4 Part 2.
    int InitDecoder(unsigned kind) override;
    bool Decode(tagNxPacket* pk) override;
    // Back to the state InitDecoder left, as for a new stream, keeping the
    // buffers: no parameter sets, reference pictures or picture size.
    void ResetStream();
    // Second attempt after Decode gave no picture: a canned slice when the
    // frame carries its own parameter sets, and deinterlacing for 480/576.
    bool DecodeDummy(tagNxPacket* pk);
    // The next converted picture goes straight into target when it fits,
    // saving a copy; outbuff then points there.
    void setOutputTarget(uint8_t* target, size_t size) override
    {
        _target = target;
        _targetSize = size;
    }

    // Spatial deinterlace of one 8-bit plane: even rows are copied, each odd
    // row becomes (-r[y-2] + 4r[y-1] + 2r[y] + 4r[y+1] - r[y+2] + 4) / 8,
    // rows beyond the edges clamped to the first or last.
    static void DeinterlacePlane(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int width,
                                 int height);

private:
    uint8_t* _target = nullptr;
    size_t _targetSize = 0;
    bool decodePacket(tagNxPacket* pk, bool dummy);
    bool fillBlue(tagNxPacket* pk);
    bool decodeWithParams(const tagNxPacket* pk, bool* got);
    bool decodeBytes(const uint8_t* data, int size);
    bool outputPicture(tagNxPacket* pk, bool deinterlace);
    void setOutputSize(int w, int h);
    bool deinterlaceDecoded();
    bool allocDeinterlacePicture(int format, int w, int h);
    bool ensureConverter(int format);
    bool ensureBuffer();
    void release();
    bool openCodec(int codecId);

    AVCodecContext* _pCodecCtx = nullptr;
    AVFrame* _pFrameDec = nullptr;  // last picture of the current call
    AVFrame* _pFrameRecv = nullptr;  // receive target while draining
    AVPacket* _pkt = nullptr;
    uint8_t* _buffer = nullptr;  // BGRA output, kOutBytes, made on first use
    uint8_t* _outData[4] = {};
    int _outLinesize[4] = {};
    SwsContext* _img_convert_ctx = nullptr;
    int _convFormat = -1;
    int _cur_w = 0;
    int _cur_h = 0;
    uint8_t* _buffer_nal = nullptr;  // canned set + frame, kNalBufferSize + kPadding
    // Separate deinterlace target; the decoded picture may still be a reference.
    uint8_t* picture_buf_deinterlace = nullptr;
    uint8_t* _deintData[4] = {};
    int _deintLinesize[4] = {};
    int _deintFormat = -1;
    int _deintW = 0;
    int _deintH = 0;
};
