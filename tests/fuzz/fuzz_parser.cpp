// Recorder link receive side: parser, command answers, frame delivery and
// playback pacing, driven by inputs in the format of ParserInput.h.
//
// Most inputs decode their pictures with the stand-in decoder: a run with
// real H.264 decoding costs several times as much. One input in 32, picked
// by a hash of its bytes (so a crash reproduces from its file alone), goes
// through the link's own H.264 decoders, which so still meet whatever the
// link hands them, in about a fifth of the fuzzing time.
#include <cstddef>
#include <cstdint>

#include "fuzz/ParserHarness.h"

namespace {

// FNV-1a; kept out of the coverage instrumentation, which would trace its
// loop compare for every byte.
__attribute__((no_sanitize("coverage"))) uint32_t hashOf(const uint8_t* data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using parserfuzz::Decoding;
    static parserfuzz::ParserHarness harness;
    harness.run(data, size, hashOf(data, size) % 32 == 0 ? Decoding::h264 : Decoding::standIn);
    return 0;
}
