// Second device pictures: decode + BGRA of full and conditional 640x272
// pictures made by the test encoder, into a slot-sized target.
#include <benchmark/benchmark.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "decode/CMJPEGDecoder.h"
#include "platform/Log.h"
#include "tests/unit/IntraTestEncoder.h"

namespace {

// A camera-like picture: gradients with a little sensor noise.
intratest::Planes scene(uint32_t seed)
{
    intratest::Planes p(640, 272);
    std::mt19937 rng(seed);
    for (int c = 0; c < 3; ++c)
        for (size_t i = 0; i < p.p[c].size(); ++i)
            p.p[c][i] = uint8_t((c ? 100 + int(i % 97) / 4 : 30 + int(i % 640) / 4 + int(i / 640) / 2) + int(rng() % 9));
    return p;
}

void runIntra(benchmark::State& state, int type)
{
    setLogSink([](const std::string&) {});
    intratest::Encoder enc;
    enc.q = 4;
    std::vector<uint8_t> full = enc.encode(scene(1), 1);
    std::set<int> moving;
    for (int mb = 300; mb < 420; ++mb)
        moving.insert(mb);
    const std::vector<uint8_t> pic = type == 1 ? full : enc.encode(scene(2), 0, moving);
    CMJPEGDecoder dec;
    dec.InitDecoder(2);
    std::vector<uint8_t> slot(1920 * 1080 * 4);
    for (auto _ : state) {
        dec.setOutputTarget(slot.data(), slot.size());
        tagNxPacket pk;
        pk.inbuff = pic.data();
        pk.insize = int32_t(pic.size());
        if (!dec.Decode(&pk))
            state.SkipWithError("no picture");
        benchmark::DoNotOptimize(pk.outbuff);
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes"] = double(pic.size());
}

}  // namespace

BENCHMARK_CAPTURE(runIntra, full, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(runIntra, conditional, 0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
