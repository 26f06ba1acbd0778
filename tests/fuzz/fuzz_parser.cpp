// Recorder link receive side: parser, command answers, frame delivery and
// playback pacing, driven by inputs in the format of ParserInput.h.
//
// Most inputs decode their pictures with the stand-in decoder: a run with
// real H.264 decoding costs some twenty times as much, nearly all of it in
// the decoder's fresh memory. One input in 64 (decodesWithH264) goes through
// the link's own H.264 decoders, which so still meet whatever the link hands
// them; the seeds of media frames are among those.
#include <cstddef>
#include <cstdint>

#include "fuzz/ParserHarness.h"
#include "fuzz/ParserInput.h"

// A run frees at most a few MiB (an H.264 decoder about 1 MiB), so a 32 MiB
// quarantine still holds what many runs freed; the default 256 MiB, and
// freed pages given back to the system every few seconds, made most
// allocations land on pages never touched before, and a first touch costs
// more than the allocation. ASAN_OPTIONS still overrides these.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=32:allocator_release_to_os_interval_ms=-1";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using parserfuzz::Decoding;
    static parserfuzz::ParserHarness harness;
    harness.run(data, size, parserfuzz::decodesWithH264(data, size) ? Decoding::h264 : Decoding::standIn);
    return 0;
}
