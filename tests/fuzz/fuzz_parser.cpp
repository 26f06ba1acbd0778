// Recorder link receive side: parser, command answers, frame delivery and
// playback pacing, driven by inputs in the format of ParserInput.h.
#include <cstddef>
#include <cstdint>

#include "fuzz/ParserHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static parserfuzz::ParserHarness harness;
    harness.run(data, size);
    return 0;
}
