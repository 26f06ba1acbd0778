#pragma once
// FFmpeg on its own, for the benchmarks' comparisons: one single-thread
// H.264 decoder and BGRA converter per channel.
#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include "decode/CFFmpeg.h"
#include "tests/unit/H264TestEncoder.h"

class RefDecoder {
public:
    RefDecoder()
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        ctx_ = avcodec_alloc_context3(codec);
        ctx_->thread_count = 1;
        avcodec_open2(ctx_, codec, nullptr);
        frame_ = av_frame_alloc();
        pkt_ = av_packet_alloc();
        out_ = static_cast<uint8_t*>(av_malloc(CFFmpeg::kOutBytes + CFFmpeg::kPadding));
    }
    ~RefDecoder()
    {
        sws_freeContext(sws_);
        av_free(out_);
        av_packet_free(&pkt_);
        av_frame_free(&frame_);
        avcodec_free_context(&ctx_);
    }
    RefDecoder(const RefDecoder&) = delete;
    RefDecoder& operator=(const RefDecoder&) = delete;

    // Answers the pictures the frame gave.
    int decode(const h264test::CodedFrame& f)
    {
        pkt_->data = const_cast<uint8_t*>(f.data());
        pkt_->size = f.size;
        avcodec_send_packet(ctx_, pkt_);
        int pictures = 0;
        while (avcodec_receive_frame(ctx_, frame_) == 0) {
            sws_ = sws_getCachedContext(sws_, frame_->width, frame_->height, AVPixelFormat(frame_->format),
                                        frame_->width, frame_->height, AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr,
                                        nullptr, nullptr);
            uint8_t* dst[4] = {out_};
            int stride[4] = {frame_->width * 4};
            sws_scale(sws_, frame_->data, frame_->linesize, 0, frame_->height, dst, stride);
            ++pictures;
        }
        return pictures;
    }

private:
    AVCodecContext* ctx_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* pkt_ = nullptr;
    SwsContext* sws_ = nullptr;
    uint8_t* out_ = nullptr;
};
