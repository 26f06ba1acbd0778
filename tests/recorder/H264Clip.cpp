#include "recorder/H264Clip.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <mutex>

#include "recorder/AnnexB.h"
#include "recorder/SliceRewriter.h"
#include "recorder/Timeline.h"

namespace testrec {

bool ClipSpec::operator==(const ClipSpec& o) const
{
    return width == o.width && height == o.height && fps == o.fps && gop == o.gop && colour.r == o.colour.r &&
           colour.g == o.colour.g && colour.b == o.colour.b && fixedParameterSets == o.fixedParameterSets &&
           content == o.content && bitrateKbps == o.bitrateKbps;
}

namespace {

struct FixedSet {
    int w, h;
    Bytes bytes;
};

const std::vector<FixedSet>& fixedSets()
{
    static const Bytes pps = {0x00, 0x00, 0x00, 0x01, 0x68, 0xCE, 0x32, 0x28};
    auto make = [&](std::initializer_list<uint8_t> sps) {
        Bytes b = {0x00, 0x00, 0x00, 0x01};
        b.insert(b.end(), sps);
        b.insert(b.end(), pps.begin(), pps.end());
        return b;
    };
    static const std::vector<FixedSet> sets = {
        {704, 480, make({0x67, 0x42, 0x00, 0x1E, 0x9A, 0x74, 0x05, 0x81, 0xEC, 0x80})},
        {704, 240, make({0x67, 0x42, 0x00, 0x1E, 0x9A, 0x74, 0x05, 0x83, 0xF2})},
        {352, 240, make({0x67, 0x42, 0x00, 0x1E, 0x9A, 0x74, 0x0B, 0x0F, 0xC8})},
        {704, 576, make({0x67, 0x42, 0x00, 0x1E, 0x9A, 0x74, 0x05, 0x80, 0x93, 0x20})},
        {704, 288, make({0x67, 0x42, 0x00, 0x1E, 0x9A, 0x74, 0x05, 0x81, 0x2C, 0x80})},
        {352, 288, make({0x67, 0x42, 0x00, 0x1E, 0x9A, 0x74, 0x0B, 0x04, 0xB2})},
    };
    return sets;
}

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

std::unique_ptr<AVCodecContext, CodecDeleter> openEncoder(const ClipSpec& s, std::string& error)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        error = "libx264 encoder not available";
        return nullptr;
    }
    std::unique_ptr<AVCodecContext, CodecDeleter> ctx(avcodec_alloc_context3(codec));
    ctx->width = s.width;
    ctx->height = s.height;
    ctx->time_base = AVRational{1, s.fps};
    ctx->framerate = AVRational{s.fps, 1};
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->gop_size = s.gop;
    ctx->max_b_frames = 0;
    ctx->thread_count = 1;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "preset", "veryfast", 0);
    av_dict_set(&opts, "profile", "baseline", 0);
    // The PPS tools match the fixed pair clients hold for "NDAV" streams.
    // A bit rate is held over every second of the loop.
    const std::string k = std::to_string(s.bitrateKbps);
    const std::string rate = s.bitrateKbps > 0 ? "bitrate=" + k + ":vbv-maxrate=" + k + ":vbv-bufsize=" + k : "qp=24";
    const std::string params = "log=-1:threads=1:ref=1:bframes=0:scenecut=0:keyint=" + std::to_string(s.gop) +
                               ":min-keyint=" + std::to_string(s.gop) +
                               ":psy=0:chroma-qp-offset=2:constrained-intra=1:deblock=0,0:" + rate +
                               ":repeat-headers=1";
    av_dict_set(&opts, "x264-params", params.c_str(), 0);
    const int rc = avcodec_open2(ctx.get(), codec, &opts);
    av_dict_free(&opts);
    if (rc < 0) {
        error = "libx264 open failed";
        return nullptr;
    }
    return ctx;
}

void fillSolid(AVFrame* f, Yuv c)
{
    for (int y = 0; y < f->height; ++y)
        std::memset(f->data[0] + y * f->linesize[0], c.y, size_t(f->width));
    for (int y = 0; y < f->height / 2; ++y) {
        std::memset(f->data[1] + y * f->linesize[1], c.u, size_t(f->width / 2));
        std::memset(f->data[2] + y * f->linesize[2], c.v, size_t(f->width / 2));
    }
}

// Picture i of the moving scene: diagonal stripes panning across a
// gradient, a bright box crossing the picture and a little sensor noise.
void fillMoving(AVFrame* f, int i)
{
    uint32_t seed = uint32_t(i) * 2654435761u + 1;
    const int box = std::max(16, f->height / 5);
    const int bx = (i * f->width / 60) % std::max(1, f->width - box);
    const int by = (i * f->height / 90) % std::max(1, f->height - box);
    for (int y = 0; y < f->height; ++y) {
        uint8_t* row = f->data[0] + y * f->linesize[0];
        for (int x = 0; x < f->width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const bool inBox = x >= bx && x < bx + box && y >= by && y < by + box;
            const int base = inBox ? 210 : 48 + (y * 64 / f->height) + ((x + 2 * y + 4 * i) & 63);
            row[x] = uint8_t(base + int(seed >> 29) - 4);
        }
    }
    for (int y = 0; y < f->height / 2; ++y)
        for (int x = 0; x < f->width / 2; ++x) {
            f->data[1][y * f->linesize[1] + x] = uint8_t(112 + ((x + i) & 31));
            f->data[2][y * f->linesize[2] + x] = uint8_t(144 - ((y + 2 * i) & 31));
        }
}

// Pictures without SEI: parameter sets and slices only.
Bytes withoutSei(const uint8_t* data, size_t n)
{
    std::vector<Bytes> kept;
    for (auto& nal : splitAnnexB(data, n))
        if (nalType(nal) != 6 && nalType(nal) != 9)
            kept.push_back(std::move(nal));
    return joinAnnexB(kept);
}

}  // namespace

Bytes fixedParameterSets(int width, int height)
{
    for (const auto& s : fixedSets())
        if (s.w == width && s.h == height)
            return s.bytes;
    return {};
}

bool hasFixedParameterSets(int width, int height) { return !fixedParameterSets(width, height).empty(); }

Bytes undecodablePicture(size_t size)
{
    // Non-IDR slice: first_mb_in_slice 0, slice_type 5 (P), pic_parameter_set_id
    // 300 (of at most 256), then 0xFF filler, which holds no start code.
    Bytes out = {0x00, 0x00, 0x00, 0x01, 0x41, 0x98, 0x02, 0x5B};
    out.resize(std::max<size_t>(size, 16), 0xFF);
    return out;
}

std::shared_ptr<const H264Clip> H264Clip::get(const ClipSpec& spec)
{
    static std::mutex mutex;
    static std::vector<std::shared_ptr<const H264Clip>> cache;
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& c : cache)
        if (c->spec_ == spec)
            return c;
    std::shared_ptr<H264Clip> clip(new H264Clip(spec));
    clip->encode();
    if (clip->error_.empty() && spec.fixedParameterSets)
        clip->convertToFixedSets();
    if (cache.size() >= 256)
        cache.erase(cache.begin());
    cache.push_back(clip);
    return clip;
}

H264Clip::H264Clip(const ClipSpec& spec) : spec_(spec) {}

void H264Clip::encode()
{
    if (spec_.width < 16 || spec_.height < 16 || spec_.width % 2 || spec_.height % 2 || spec_.fps < 1 ||
        spec_.gop < 1 || spec_.width > 1920 || spec_.height > 1080) {
        error_ = "unsupported clip size, rate or GOP";
        return;
    }
    const bool timeline = spec_.content == ClipContent::Timeline;
    if (timeline && spec_.gop != spec_.fps) {
        error_ = "a timeline clip needs a GOP of one second";
        return;
    }
    auto ctx = openEncoder(spec_, error_);
    if (!ctx)
        return;
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = spec_.width;
    frame->height = spec_.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        error_ = "frame allocation failed";
        return;
    }
    if (spec_.content == ClipContent::Solid)
        fillSolid(frame.get(), toYuv(spec_.colour));
    const int total = timeline ? timelineCycleSeconds(spec_.fps) * spec_.fps : 2 * spec_.gop;
    auto drain = [&] {
        while (avcodec_receive_packet(ctx.get(), pkt.get()) == 0) {
            frames_.push_back({withoutSei(pkt->data, size_t(pkt->size)), (pkt->flags & AV_PKT_FLAG_KEY) != 0});
            av_packet_unref(pkt.get());
        }
    };
    for (int i = 0; i < total; ++i) {
        if (spec_.content != ClipContent::Solid) {
            if (av_frame_make_writable(frame.get()) < 0) {
                error_ = "frame allocation failed";
                return;
            }
            if (timeline)
                fillSolid(frame.get(), toYuv(timelineColour(uint32_t(i / spec_.fps), i % spec_.fps, spec_.fps)));
            else
                fillMoving(frame.get(), i);
        }
        frame->pts = i;
        if (avcodec_send_frame(ctx.get(), frame.get()) < 0) {
            error_ = "encoding failed";
            return;
        }
        drain();
    }
    avcodec_send_frame(ctx.get(), nullptr);
    drain();
    if (int(frames_.size()) != total || !frames_.front().key)
        error_ = "encoder gave an unexpected picture sequence";
    if (!frames_.empty())
        for (const auto& nal : splitAnnexB(frames_.front().data))
            if (nalType(nal) == 7 || nalType(nal) == 8) {
                const Bytes one = joinAnnexB({nal});
                parameterSets_.insert(parameterSets_.end(), one.begin(), one.end());
            }
}

void H264Clip::convertToFixedSets()
{
    if (!hasFixedParameterSets(spec_.width, spec_.height)) {
        error_ = "no fixed parameter sets for this picture size";
        return;
    }
    Bytes sps, pps;
    for (const auto& nal : splitAnnexB(parameterSets_)) {
        if (nalType(nal) == 7)
            sps = nal;
        if (nalType(nal) == 8)
            pps = nal;
    }
    SliceRewriter rewriter;
    if (!rewriter.setParameterSets(sps, pps, &error_))
        return;
    uint32_t frameNum = 0, picture = 0;
    for (auto& f : frames_) {
        std::vector<Bytes> slices;
        bool reference = false;
        for (const auto& nal : splitAnnexB(f.data)) {
            const int t = nalType(nal);
            if (t != 1 && t != 5)
                continue;
            if (t == 5)
                frameNum = picture = 0;
            auto out = rewriter.rewrite(nal, frameNum % 512, (2 * picture) % 1024, &error_);
            if (!out)
                return;
            reference = reference || (nal[0] & 0x60) != 0;
            slices.push_back(std::move(*out));
        }
        f.data = joinAnnexB(slices);
        frameNum += reference ? 1 : 0;
        ++picture;
    }
}

}  // namespace testrec
