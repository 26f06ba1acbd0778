// Live pipeline throughput: recorded recorder streams pushed through the
// link's receive parser, frame delivery, H.264 decoder and BGRA conversion
// into the video queue, which a consumer thread drains. Next to it, FFmpeg's
// own single-thread decode + sws_scale of the same coded frames.
//
// Streams are made with libx264 at start: 16 channels of 704x480 framed as
// "BADJ" (group 8) and 16 channels of 1920x1080 framed as "NDAp" (group 11).
//
// The link decodes on its pool of threads; each read is let through only
// once the pictures of the read before are done, so no live frame is skipped
// and, with one pool thread (the default), the two sides do the same work
// one picture at a time.
//
//   bench_pipeline [--rounds N] [--passes-d1 N] [--passes-hd N] [--read BYTES]
//                  [--crf-d1 N] [--crf-hd N] [--only d1|hd] [--no-ref] [--no-pipeline]
//                  [--pool-threads N] [--app-allocator]
//
// --app-allocator runs it under the application's allocator policy
// (platform/Memory.h); without it glibc's defaults hold.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>


extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include "bench/BenchSupport.h"
#include "bench/RefDecoder.h"
#include "decode/CFFmpeg.h"
#include "link/NxNet.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"
#include "platform/Memory.h"
#include "recorder/MediaFrame.h"
#include "recorder/Protocol.h"
#include "recorder/Wire.h"
#include "tests/unit/H264TestEncoder.h"

namespace {

using Clock = std::chrono::steady_clock;
using h264test::CodedFrame;
using testrec::Bytes;

constexpr int kChannels = 16;

struct Options {
    int rounds = 3;
    int passesD1 = 2;
    int passesHd = 2;
    size_t readSize = 64 * 1024;
    int crfD1 = 21;
    int crfHd = 24;
    bool d1 = true;
    bool hd = true;
    bool ref = true;
    bool pipeline = true;
    int poolThreads = 1;
    bool appAllocator = false;  // the application's allocator policy instead of glibc's defaults
};

// One recorded stream: the coded pictures of every channel, the connect
// answer that makes the link know the start code, and the media frames of
// all channels interleaved picture by picture.
struct Recording {
    std::string name;
    int group = 0;
    int model = 0;
    int w = 0, h = 0;
    std::vector<std::vector<CodedFrame>> coded;  // [channel][picture]
    Bytes connect;
    Bytes media;
    size_t largestFrame = 0;

    int picturesPerChannel() const { return coded.empty() ? 0 : int(coded[0].size()); }
    int64_t framesPerPass() const { return int64_t(kChannels) * picturesPerChannel(); }
};

// A camera-like scene: a fixed texture that pans slowly, a diagonal
// gradient different per channel, a moving bright box, soft chroma bands and
// sensor noise.
void fillCameraScene(AVFrame* f, int picture, int ch)
{
    uint32_t seed = uint32_t(picture) * 2654435761u + uint32_t(ch) * 40503u + 7u;
    const int box = f->height / 5;
    const int bx = (picture * 5 + ch * 37) % (f->width - box);
    const int by = (picture * 2 + ch * 23) % (f->height - box);
    const int pan = picture / 2;
    for (int y = 0; y < f->height; ++y) {
        uint8_t* row = f->data[0] + ptrdiff_t(y) * f->linesize[0];
        const bool boxRow = y >= by && y < by + box;
        for (int x = 0; x < f->width; ++x) {
            seed = seed * 1103515245u + 12345u;
            const uint32_t tx = uint32_t(x + pan) / 4, ty = uint32_t(y) / 4;
            const int texture = int(((tx * 73856093u) ^ (ty * 19349663u) ^ uint32_t(ch) * 83492791u) >> 27);
            const int base = boxRow && x >= bx && x < bx + box ? 210 : 40 + ((3 * x + 2 * y + ch * 29) >> 3 & 127);
            row[x] = uint8_t(base + texture + int(seed >> 29) - 4);
        }
    }
    for (int y = 0; y < f->height / 2; ++y) {
        uint8_t* u = f->data[1] + ptrdiff_t(y) * f->linesize[1];
        uint8_t* v = f->data[2] + ptrdiff_t(y) * f->linesize[2];
        for (int x = 0; x < f->width / 2; ++x) {
            u[x] = uint8_t(112 + ((x / 8 + ch * 5) & 15));
            v[x] = uint8_t(136 - ((y / 8 + ch * 3) & 15));
        }
    }
}

std::vector<CodedFrame> encodeChannel(int w, int h, int crf, int pictures, int ch)
{
    h264test::X264Encoder enc(w, h, "veryfast", 30, crf);
    std::vector<CodedFrame> out;
    for (int i = 0; i < pictures && enc.ok(); ++i) {
        CodedFrame f = enc.encode([&](AVFrame* pic) { fillCameraScene(pic, i, ch); }, i == 0);
        if (f.size <= 0)
            break;
        out.push_back(std::move(f));
    }
    return out;
}

// crf is chosen per size for bit rates like those of recorders.
Recording makeRecording(const std::string& name, int group, int model, int w, int h, int crf, int pictures)
{
    Recording r;
    r.name = name;
    r.group = group;
    r.model = model;
    r.w = w;
    r.h = h;
    r.coded.resize(kChannels);
    // One encoder per channel, in parallel; each is single-threaded.
    std::vector<std::thread> workers;
    for (int ch = 0; ch < kChannels; ++ch)
        workers.emplace_back(
            [&r, w, h, crf, pictures, ch] { r.coded[size_t(ch)] = encodeChannel(w, h, crf, pictures, ch); });
    for (auto& t : workers)
        t.join();
    for (const auto& list : r.coded) {
        if (int(list.size()) != pictures) {
            std::fprintf(stderr, "%s: libx264 encoding failed\n", name.c_str());
            std::exit(1);
        }
    }

    testrec::DeviceInfo dev;
    dev.modelId = uint32_t(model);
    dev.channels = kChannels;
    dev.version = 30;
    r.connect = testrec::buildCommandFrame(1, testrec::connectAnswer552(dev), testrec::CmdFormat::V2);

    const testrec::ResolutionCode res = testrec::resolutionCodeFor(group, w, h);
    for (int i = 0; i < pictures; ++i) {
        for (int ch = 0; ch < kChannels; ++ch) {
            const CodedFrame& c = r.coded[size_t(ch)][size_t(i)];
            testrec::MediaHeader mh;
            mh.group = group;
            mh.time = 1700000000u + uint32_t(i / 30);
            mh.channel = ch;
            mh.frameType = c.key ? testrec::FrameType::Key : testrec::FrameType::Other;
            mh.resolutionCode = res.code;
            mh.fiftyHz = res.fiftyHz;
            mh.rate = testrec::rateFieldFor(group, 30, res.fiftyHz);
            mh.seq = i & 0xFF;
            Bytes frame = testrec::buildMediaFrame(mh, Bytes(c.data(), c.data() + c.size));
            r.largestFrame = std::max(r.largestFrame, frame.size());
            r.media.insert(r.media.end(), frame.begin(), frame.end());
        }
    }
    return r;
}

struct RunResult {
    double seconds = 0;     // wall clock
    double cpuSeconds = 0;  // CPU time of the decoding threads
    double consumerCpuSeconds = 0;
    int64_t frames = 0;     // pictures that came out
    int64_t expected = 0;
    double fps() const { return seconds > 0 ? double(frames) / seconds : 0; }
    double cpuMsPerFrame() const { return frames > 0 ? 1000.0 * cpuSeconds / double(frames) : 0; }
};

// The same pictures in the same order as the recorded stream.
RunResult runReference(const Recording& r, int passes)
{
    std::vector<std::unique_ptr<RefDecoder>> dec;
    for (int ch = 0; ch < kChannels; ++ch)
        dec.push_back(std::make_unique<RefDecoder>());
    RunResult res;
    res.expected = r.framesPerPass() * passes;
    const double cpu0 = bench::threadCpuSeconds();
    const auto t0 = Clock::now();
    for (int p = 0; p < passes; ++p)
        for (int i = 0; i < r.picturesPerChannel(); ++i)
            for (int ch = 0; ch < kChannels; ++ch)
                res.frames += dec[size_t(ch)]->decode(r.coded[size_t(ch)][size_t(i)]);
    res.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    res.cpuSeconds = bench::threadCpuSeconds() - cpu0;
    return res;
}

// Takes every ready slot of the video queue, as the view's frame loop does,
// touching one pixel of each picture. It polls every quarter millisecond,
// well inside the time the link needs to fill the queue, so the link never
// waits for a free slot.
class Consumer {
public:
    explicit Consumer(RingBuffer& q) : q_(q), thread_([this] { loop(); }) {}
    ~Consumer() { stop(); }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    int64_t taken() const { return taken_.load(); }
    Clock::time_point lastTaken() const { return Clock::time_point(Clock::duration(last_.load())); }
    int64_t perChannelMin() const
    {
        int64_t m = INT64_MAX;
        for (const auto& c : perCh_)
            m = std::min<int64_t>(m, c.load());
        return m;
    }
    uint32_t checksum() const { return sum_; }
    // CPU time the consumer thread used; valid after stop().
    double cpuSeconds() const { return cpu_; }

private:
    void loop()
    {
        const double cpu0 = bench::threadCpuSeconds();
        const auto deadline = Clock::now() + std::chrono::minutes(30);
        while (Clock::now() < deadline) {
            bool any = false;
            while (tag_FrameV_Orgin* s = q_.tryGetReadBuffer()) {
                if (s->w > 0 && s->h > 0 && s->ch >= 0 && s->ch < kChannels) {
                    sum_ += s->outbuff[(size_t(s->h / 2) * size_t(s->w) + size_t(s->w / 2)) * 4];
                    perCh_[s->ch]++;
                }
                q_.putReadBuffer();
                taken_++;
                last_ = Clock::now().time_since_epoch().count();
                any = true;
            }
            if (!any && stop_)
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
        cpu_ = bench::threadCpuSeconds() - cpu0;
    }

    RingBuffer& q_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> taken_{0};
    std::atomic<Clock::rep> last_{0};
    std::atomic<int64_t> perCh_[kChannels] = {};
    uint32_t sum_ = 0;
    double cpu_ = 0;
    std::thread thread_;
};

// The link as its worker runs it: reads of readSize bytes handed to the
// parser, which delivers each whole frame through the decoder into the queue.
RunResult runPipeline(const Recording& r, int passes, size_t readSize, int poolThreads)
{
    auto q = std::make_unique<RingBuffer>();
    auto net = std::make_unique<NxNet>();
    net->setDecodeThreads(poolThreads);
    net->setQpointerV(q.get());
    net->SetDecoder(2);
    net->parseReceived(r.connect.data(), int(r.connect.size()));
    if (net->getMaxCh() != kChannels) {
        std::fprintf(stderr, "%s: connect answer not taken (max ch %d)\n", r.name.c_str(), net->getMaxCh());
        std::exit(1);
    }
    RunResult res;
    res.expected = r.framesPerPass() * passes;
    Consumer consumer(*q);
    const double cpu0 = bench::processCpuSeconds();
    const auto t0 = Clock::now();
    for (int p = 0; p < passes; ++p) {
        for (size_t off = 0; off < r.media.size(); off += readSize) {
            const size_t n = std::min(readSize, r.media.size() - off);
            net->parseReceived(r.media.data() + off, int(n));
            net->waitDecodesIdle();
        }
    }
    // The last picture is in the queue; wait for the consumer to take it.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (consumer.taken() < res.expected && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    consumer.stop();
    // Worker and decoding threads: the process less the consumer.
    const double workerCpu = bench::processCpuSeconds() - cpu0 - consumer.cpuSeconds();
    res.frames = consumer.taken();
    res.seconds = std::chrono::duration<double>(std::max(consumer.lastTaken(), t0) - t0).count();
    res.cpuSeconds = workerCpu;
    res.consumerCpuSeconds = consumer.cpuSeconds();
    if (consumer.perChannelMin() * kChannels != res.frames)
        std::fprintf(stderr, "%s: channels delivered unevenly\n", r.name.c_str());
    return res;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void printRun(int round, const char* what, const RunResult& r)
{
    std::printf("  round %d  %-28s %8.1f frames/s %7.3f ms/frame  (decoding threads CPU %6.3f ms/frame; %lld of "
                "%lld pictures",
                round, what, r.fps(), r.fps() > 0 ? 1000.0 / r.fps() : 0.0, r.cpuMsPerFrame(), (long long)r.frames,
                (long long)r.expected);
    if (r.consumerCpuSeconds > 0)
        std::printf("; consumer CPU %.1f%%", 100.0 * r.consumerCpuSeconds / r.seconds);
    std::printf(")\n");
}

// Rounds alternate which of the two runs first, so that a change in machine
// load hits both; the ratio is taken per round and its median reported.
void benchRecording(const Recording& r, int passes, const Options& opt)
{
    std::printf("\n%s: %d channels of %dx%d, group %d, %d pictures per channel, %.1f MiB per pass, "
                "%.0f bytes per frame on average (%.2f Mbit/s per channel at 30 fps), largest %zu, reads of %zu "
                "bytes\n",
                r.name.c_str(), kChannels, r.w, r.h, r.group, r.picturesPerChannel(),
                double(r.media.size()) / (1024.0 * 1024.0), double(r.media.size()) / double(r.framesPerPass()),
                double(r.media.size()) * 8.0 * 30.0 / double(r.framesPerPass()) / 1e6, r.largestFrame, opt.readSize);
    std::vector<double> refFps, ourFps, refCpu, ourCpu, ratio, cpuRatio;
    for (int round = 1; round <= opt.rounds; ++round) {
        RunResult a, b;
        auto reference = [&] {
            a = runReference(r, passes);
            refFps.push_back(a.fps());
            refCpu.push_back(a.cpuMsPerFrame());
            printRun(round, "FFmpeg decode + sws_scale", a);
        };
        auto pipeline = [&] {
            b = runPipeline(r, passes, opt.readSize, opt.poolThreads);
            // As the application does once a link is gone.
            if (opt.appAllocator)
                Memory::releaseFreeMemory();
            ourFps.push_back(b.fps());
            ourCpu.push_back(b.cpuMsPerFrame());
            printRun(round, "NxNet -> video queue", b);
        };
        const bool referenceFirst = round % 2 == 1;
        if (opt.ref && referenceFirst)
            reference();
        if (opt.pipeline)
            pipeline();
        if (opt.ref && !referenceFirst)
            reference();
        if (a.fps() > 0 && b.fps() > 0) {
            ratio.push_back(b.fps() / a.fps());
            cpuRatio.push_back(a.cpuMsPerFrame() / b.cpuMsPerFrame());
        }
        std::fflush(stdout);
    }
    auto line = [](const char* what, double fps, double cpu) {
        if (fps > 0)
            std::printf("  median   %-28s %8.1f frames/s %7.3f ms/frame  (decoding threads CPU %6.3f ms/frame)\n", what, fps,
                        1000.0 / fps, cpu);
    };
    line("FFmpeg decode + sws_scale", median(refFps), median(refCpu));
    line("NxNet -> video queue", median(ourFps), median(ourCpu));
    if (!ratio.empty())
        std::printf("  RATIO pipeline / FFmpeg: %.3f by frames per second, %.3f by CPU time (target 0.90)\n",
                    median(ratio), median(cpuRatio));
}

Options parseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&](int fallback) { return i + 1 < argc ? std::atoi(argv[++i]) : fallback; };
        if (a == "--rounds")
            o.rounds = std::max(1, next(o.rounds));
        else if (a == "--passes-d1")
            o.passesD1 = std::max(1, next(o.passesD1));
        else if (a == "--passes-hd")
            o.passesHd = std::max(1, next(o.passesHd));
        else if (a == "--crf-d1")
            o.crfD1 = std::clamp(next(o.crfD1), 0, 51);
        else if (a == "--crf-hd")
            o.crfHd = std::clamp(next(o.crfHd), 0, 51);
        else if (a == "--read")
            o.readSize = size_t(std::max(1, next(int(o.readSize))));
        else if (a == "--only" && i + 1 < argc) {
            const std::string which = argv[++i];
            o.d1 = which == "d1";
            o.hd = which == "hd";
        } else if (a == "--no-ref")
            o.ref = false;
        else if (a == "--no-pipeline")
            o.pipeline = false;
        else if (a == "--app-allocator")
            o.appAllocator = true;
        else if (a == "--pool-threads")
            o.poolThreads = std::clamp(next(o.poolThreads), 1, 16);
        else {
            std::fprintf(stderr,
                         "usage: %s [--rounds N] [--passes-d1 N] [--passes-hd N] [--read BYTES] "
                         "[--crf-d1 N] [--crf-hd N] [--only d1|hd] [--no-ref] [--no-pipeline] [--pool-threads N] "
                         "[--app-allocator]\n",
                         argv[0]);
            std::exit(2);
        }
    }
    return o;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options opt = parseOptions(argc, argv);
    // Before the encoders' threads, as the application's main sets it.
    if (opt.appAllocator)
        Memory::configureAllocator();
    av_log_set_level(AV_LOG_ERROR);
    setLogSink([](const std::string&) {});  // the link's console phrases are not timed

    std::printf("Pipeline: recorded stream -> NxNet parser -> delivery -> CFFmpeg (decode + BGRA) -> video "
                "queue -> consumer thread\nReference: FFmpeg single-thread decode + sws_scale BGRA of the same "
                "frames, in the same order\n");
    const auto t0 = Clock::now();
    if (opt.d1) {
        const Recording d1 = makeRecording("D1 x16 (BADJ)", 8, 51, 704, 480, opt.crfD1, 60);
        std::printf("(encoded in %.1f s)", std::chrono::duration<double>(Clock::now() - t0).count());
        benchRecording(d1, opt.passesD1, opt);
    }
    if (opt.hd) {
        const auto t1 = Clock::now();
        const Recording hd = makeRecording("1080p x16 (NDAp)", 11, 120, 1920, 1080, opt.crfHd, 30);
        std::printf("\n(encoded in %.1f s)", std::chrono::duration<double>(Clock::now() - t1).count());
        benchRecording(hd, opt.passesHd, opt);
    }
    return 0;
}
