// Feeds arbitrary bytes to the second device's video decoder as one picture.
// The decoder lives across inputs, so conditional pictures build on earlier
// ones; every other picture goes straight into a slot-sized target.
#include <cstdint>
#include <string>
#include <vector>

#include "decode/CMJPEGDecoder.h"
#include "platform/Log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CMJPEGDecoder* dec = [] {
        setLogSink([](const std::string&) {});
        auto* d = new CMJPEGDecoder();
        d->InitDecoder(2);
        return d;
    }();
    static std::vector<uint8_t> slot(1920 * 1080 * 4);
    static unsigned count = 0;
    if (++count % 2)
        dec->setOutputTarget(slot.data(), slot.size());
    tagNxPacket pk;
    pk.inbuff = data;
    pk.insize = int32_t(size);
    dec->Decode(&pk);
    return 0;
}
