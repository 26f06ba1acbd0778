// H.264 decode + BGRA: CFFmpeg against FFmpeg's own single-thread decode and
// sws_scale of the same frames. Streams are made with libx264 at start.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include "bench/RefDecoder.h"
#include "decode/CFFmpeg.h"
#include "tests/unit/H264TestEncoder.h"

namespace {

using h264test::CodedFrame;

struct Streams {
    int w = 0, h = 0;
    std::vector<std::vector<CodedFrame>> channels;
};

// A camera-like picture: a gradient that differs per channel, a moving box
// and a little sensor noise.
void fillScene(AVFrame* f, int frame, int ch)
{
    uint32_t seed = uint32_t(frame * 7919 + ch * 104729 + 1);
    const int bx = (frame * 6 + ch * 40) % (f->width - 96), by = (frame * 3 + ch * 20) % (f->height - 96);
    for (int y = 0; y < f->height; ++y) {
        uint8_t* row = f->data[0] + y * f->linesize[0];
        for (int x = 0; x < f->width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const bool box = x >= bx && x < bx + 96 && y >= by && y < by + 96;
            const int v = box ? 220 : 40 + ((x + 2 * y + ch * 16) & 127);
            row[x] = uint8_t(v + int(seed >> 29) - 4);
        }
    }
    for (int y = 0; y < f->height / 2; ++y)
        for (int x = 0; x < f->width / 2; ++x) {
            f->data[1][y * f->linesize[1] + x] = uint8_t(110 + ((x + ch * 8) & 31));
            f->data[2][y * f->linesize[2] + x] = uint8_t(140 - ((y + ch * 4) & 31));
        }
}

Streams makeStreams(int w, int h, int channels, int frames)
{
    Streams s;
    s.w = w;
    s.h = h;
    for (int c = 0; c < channels; ++c) {
        h264test::X264Encoder enc(w, h, "veryfast", 30, 23);
        std::vector<CodedFrame> list;
        for (int i = 0; i < frames && enc.ok(); ++i)
            list.push_back(enc.encode([&](AVFrame* f) { fillScene(f, i, c); }));
        s.channels.push_back(std::move(list));
    }
    return s;
}


class VeskDecoder {
public:
    VeskDecoder() { dec_.InitDecoder(2); }
    bool decode(const CodedFrame& f)
    {
        tagNxPacket pk;
        pk.inbuff = f.data();
        pk.insize = f.size;
        const bool ok = dec_.Decode(&pk);
        benchmark::DoNotOptimize(pk.outbuff);
        return ok;
    }

private:
    CFFmpeg dec_;
};

std::map<std::string, std::vector<double>> g_fps;  // rate of each timed repetition

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One iteration decodes the next frame of every channel.
template <class Decoder>
void runDecode(benchmark::State& state, const Streams* s, const std::string& key)
{
    std::vector<std::unique_ptr<Decoder>> decoders;
    for (size_t c = 0; c < s->channels.size(); ++c)
        decoders.push_back(std::make_unique<Decoder>());
    const size_t count = s->channels[0].size();
    size_t i = 0;
    int64_t frames = 0, misses = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (size_t c = 0; c < decoders.size(); ++c)
            misses += decoders[c]->decode(s->channels[c][i]) ? 0 : 1;
        frames += int64_t(decoders.size());
        i = (i + 1) % count;
    }
    const double sec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.counters["fps"] = double(frames) / sec;
    state.counters["ms/frame"] = 1000.0 * sec / double(frames);
    state.counters["no_picture"] = double(misses);
}

// Keeps the rate of every timed repetition. The library also runs each
// benchmark with fewer iterations to find how many to time; those runs are
// never reported, so they do not reach the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            auto fps = r.counters.find("fps");
            if (r.run_type == Run::RT_Iteration && !r.error_occurred && fps != r.counters.end())
                g_fps[r.run_name.function_name].push_back(fps->second.value);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void report(const char* label, const std::string& key)
{
    const double vesk = median(g_fps[key + "/vesk"]), ref = median(g_fps[key + "/ffmpeg"]);
    if (vesk <= 0 || ref <= 0)
        return;
    std::printf("%-12s CFFmpeg %8.1f frames/s %7.3f ms/frame | FFmpeg %8.1f frames/s %7.3f ms/frame | ratio %.3f\n",
                label, vesk, 1000.0 / vesk, ref, 1000.0 / ref, vesk / ref);
}

}  // namespace

int main(int argc, char** argv)
{
    av_log_set_level(AV_LOG_ERROR);
    benchmark::Initialize(&argc, argv);
    const Streams d1 = makeStreams(704, 480, 16, 60);
    const Streams hd = makeStreams(1920, 1080, 1, 60);
    struct Case {
        const char* name;
        const Streams* s;
    };
    for (const Case& c : {Case{"D1x16", &d1}, Case{"1080p", &hd}}) {
        const std::string key = c.name;
        benchmark::RegisterBenchmark((key + "/ffmpeg").c_str(), runDecode<RefDecoder>, c.s, key + "/ffmpeg")
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(2.0)
            ->Repetitions(3);
        benchmark::RegisterBenchmark((key + "/vesk").c_str(), runDecode<VeskDecoder>, c.s, key + "/vesk")
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(2.0)
            ->Repetitions(3);
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\nDecode + BGRA, single thread per channel (median of the timed repetitions):\n");
    report("D1 x16", "D1x16");
    report("1080p", "1080p");
    return 0;
}
