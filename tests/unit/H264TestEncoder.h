#pragma once
// H.264 streams made for tests and benchmarks: libx264 through libavcodec,
// and a small writer of I_PCM and all-skip slices that fit the decoder's
// canned Baseline parameter sets (it writes no parameter sets itself).
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

namespace h264test {

constexpr int kPadding = 64;

struct Rgb {
    uint8_t r, g, b;
};
struct Yuv {
    uint8_t y, u, v;
};

// BT.601, limited range.
inline Yuv toYuv(Rgb c)
{
    auto clamp8 = [](double v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v + 0.5)); };
    return {clamp8(16 + (65.481 * c.r + 128.553 * c.g + 24.966 * c.b) / 255),
            clamp8(128 + (-37.797 * c.r - 74.203 * c.g + 112.0 * c.b) / 255),
            clamp8(128 + (112.0 * c.r - 93.786 * c.g - 18.214 * c.b) / 255)};
}

// One coded frame followed by kPadding zeroed bytes.
struct CodedFrame {
    std::vector<uint8_t> bytes;
    int size = 0;
    bool key = false;
    const uint8_t* data() const { return bytes.data(); }
};

inline CodedFrame makeCoded(const uint8_t* p, int n, bool key)
{
    CodedFrame f;
    f.bytes.assign(size_t(n) + kPadding, 0);
    if (n > 0)
        std::memcpy(f.bytes.data(), p, size_t(n));
    f.size = n;
    f.key = key;
    return f;
}

// libx264, Baseline profile, no frame delay: one packet per picture.
class X264Encoder {
public:
    X264Encoder(int w, int h, const char* preset = "ultrafast", int gop = 250, int crf = 18)
        : w_(w), h_(h)
    {
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        ctx_ = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!ctx_)
            return;
        ctx_->width = w;
        ctx_->height = h;
        ctx_->pix_fmt = AV_PIX_FMT_YUV420P;
        ctx_->time_base = {1, 30};
        ctx_->framerate = {30, 1};
        ctx_->gop_size = gop;
        ctx_->max_b_frames = 0;
        ctx_->thread_count = 1;
        av_opt_set(ctx_->priv_data, "preset", preset, 0);
        av_opt_set(ctx_->priv_data, "tune", "zerolatency", 0);
        av_opt_set(ctx_->priv_data, "profile", "baseline", 0);
        av_opt_set_int(ctx_->priv_data, "crf", crf, 0);
        frame_ = av_frame_alloc();
        pkt_ = av_packet_alloc();
        if (avcodec_open2(ctx_, codec, nullptr) < 0 || !frame_ || !pkt_) {
            avcodec_free_context(&ctx_);
            return;
        }
        frame_->format = AV_PIX_FMT_YUV420P;
        frame_->width = w;
        frame_->height = h;
        if (av_frame_get_buffer(frame_, 0) < 0)
            avcodec_free_context(&ctx_);
    }
    ~X264Encoder()
    {
        avcodec_free_context(&ctx_);
        av_frame_free(&frame_);
        av_packet_free(&pkt_);
    }
    X264Encoder(const X264Encoder&) = delete;
    X264Encoder& operator=(const X264Encoder&) = delete;

    bool ok() const { return ctx_ != nullptr; }
    int width() const { return w_; }
    int height() const { return h_; }

    // Encodes one picture whose YUV 4:2:0 planes `fill` writes.
    CodedFrame encode(const std::function<void(AVFrame*)>& fill, bool forceKey = false)
    {
        if (!ctx_ || av_frame_make_writable(frame_) < 0)
            return {};
        fill(frame_);
        frame_->pts = pts_++;
        frame_->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (avcodec_send_frame(ctx_, frame_) < 0 || avcodec_receive_packet(ctx_, pkt_) < 0)
            return {};
        CodedFrame f = makeCoded(pkt_->data, pkt_->size, (pkt_->flags & AV_PKT_FLAG_KEY) != 0);
        av_packet_unref(pkt_);
        return f;
    }

    CodedFrame encodeSolid(Rgb c, bool forceKey = false)
    {
        const Yuv v = toYuv(c);
        return encode([&](AVFrame* f) { fillSolid(f, v); }, forceKey);
    }

    std::vector<CodedFrame> encodeSolid(Rgb c, int count)
    {
        std::vector<CodedFrame> out;
        for (int i = 0; i < count; ++i)
            out.push_back(encodeSolid(c));
        return out;
    }

    static void fillSolid(AVFrame* f, Yuv v)
    {
        for (int y = 0; y < f->height; ++y)
            std::memset(f->data[0] + y * f->linesize[0], v.y, size_t(f->width));
        for (int y = 0; y < (f->height + 1) / 2; ++y) {
            std::memset(f->data[1] + y * f->linesize[1], v.u, size_t(f->width + 1) / 2);
            std::memset(f->data[2] + y * f->linesize[2], v.v, size_t(f->width + 1) / 2);
        }
    }

private:
    int w_, h_;
    AVCodecContext* ctx_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* pkt_ = nullptr;
    int64_t pts_ = 0;
};

// Exp-Golomb bit writer for slice headers.
class BitWriter {
public:
    void u(int n, uint32_t v)
    {
        for (int i = n - 1; i >= 0; --i)
            bit((v >> i) & 1);
    }
    void ue(uint32_t v)
    {
        const uint32_t x = v + 1;
        int len = 0;
        while ((x >> len) > 1)
            ++len;
        u(len, 0);
        u(len + 1, x);
    }
    void se(int v) { ue(v <= 0 ? uint32_t(-2 * v) : uint32_t(2 * v - 1)); }
    void alignZero()
    {
        while (n_ != 0)
            bit(0);
    }
    void byte(uint8_t b) { u(8, b); }
    void trailing()
    {
        bit(1);
        alignZero();
    }
    const std::vector<uint8_t>& bytes() const { return out_; }

private:
    void bit(uint32_t b)
    {
        cur_ = uint8_t(cur_ << 1 | b);
        if (++n_ == 8) {
            out_.push_back(cur_);
            cur_ = 0;
            n_ = 0;
        }
    }
    std::vector<uint8_t> out_;
    uint8_t cur_ = 0;
    int n_ = 0;
};

// Slices for the canned parameter sets: log2 max frame number 9, picture
// order count type 0 with 10 bits, CAVLC, no deblocking syntax in slices.
// Pictures are I_PCM, so the decoded samples are exactly the given ones.
class PcmStreamWriter {
public:
    using Pixel = std::function<Yuv(int x, int y)>;  // sample at luma (x, y)

    PcmStreamWriter(int w, int h) : mbW_(w / 16), mbH_(h / 16) {}

    CodedFrame idr(const Pixel& px)
    {
        frameNum_ = 0;
        BitWriter bw;
        bw.ue(0);  // first_mb_in_slice
        bw.ue(7);  // I slice
        bw.ue(0);  // pps id
        bw.u(9, 0);  // frame_num
        bw.ue(idrId_++ & 0xFFFF);
        bw.u(10, 0);  // pic_order_cnt_lsb
        bw.u(1, 0);  // no_output_of_prior_pics_flag
        bw.u(1, 0);  // long_term_reference_flag
        bw.se(0);  // slice_qp_delta
        for (int my = 0; my < mbH_; ++my)
            for (int mx = 0; mx < mbW_; ++mx)
                pcmMacroblock(bw, px, mx, my);
        bw.trailing();
        return nal(0x65, bw.bytes(), true);
    }

    // A P picture in which every macroblock is skipped.
    CodedFrame pSkip()
    {
        frameNum_ = (frameNum_ + 1) & 511;
        BitWriter bw;
        bw.ue(0);
        bw.ue(5);  // P slice
        bw.ue(0);
        bw.u(9, uint32_t(frameNum_));
        bw.u(10, uint32_t(2 * frameNum_) & 1023);
        bw.u(1, 0);  // num_ref_idx_active_override_flag
        bw.u(1, 0);  // ref_pic_list_modification_flag_l0
        bw.u(1, 0);  // adaptive_ref_pic_marking_mode_flag
        bw.se(0);
        bw.ue(uint32_t(mbW_ * mbH_));  // mb_skip_run
        bw.trailing();
        return nal(0x41, bw.bytes(), false);
    }

private:
    static void pcmMacroblock(BitWriter& bw, const Pixel& px, int mx, int my)
    {
        bw.ue(25);  // I_PCM
        bw.alignZero();
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                bw.byte(px(mx * 16 + x, my * 16 + y).y);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                bw.byte(px(mx * 16 + 2 * x, my * 16 + 2 * y).u);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                bw.byte(px(mx * 16 + 2 * x, my * 16 + 2 * y).v);
    }

    // Start code, NAL header and payload with emulation prevention.
    static CodedFrame nal(uint8_t header, const std::vector<uint8_t>& rbsp, bool key)
    {
        std::vector<uint8_t> out = {0, 0, 0, 1, header};
        int zeros = 0;
        for (uint8_t b : rbsp) {
            if (zeros == 2 && b <= 3) {
                out.push_back(3);
                zeros = 0;
            }
            out.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        return makeCoded(out.data(), int(out.size()), key);
    }

    int mbW_, mbH_;
    int frameNum_ = 0;
    int idrId_ = 0;
};

}  // namespace h264test
