// Feeds arbitrary bytes to the second device's login reply reader (first
// input byte odd) or its stream scanner, in reads whose sizes come from the
// input. As in the app, the frames the scanner cuts are decoded by the intra
// decoder (site model 1) into a video queue; the harness empties the queue
// before each frame and after each input, checking every picture's head as
// a view reads it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "link/CNetwork.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"

namespace {

void drain(RingBuffer& q)
{
    while (tag_FrameV_Orgin* s = q.tryGetReadBuffer()) {
        // The device has one channel, live only, without event flags.
        if (s->ch != 0 || s->now_type != 0 || s->add_nal != 0 || s->evt_rec || s->evt_md || s->evt_ss)
            __builtin_trap();
        // The picture fits the slot and its size is the one stated.
        if (s->w <= 0 || s->h <= 0 || s->w > 1920 || s->h > 1080 || s->outsize != s->w * s->h * 4)
            __builtin_trap();
        q.putReadBuffer();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = [] {
        setLogSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    static RingBuffer queue;
    static const int freeSlots = queue.freeCount();
    static auto net = [] {
        auto n = std::make_unique<CNetwork>();
        n->setQpointerV(&queue);
        n->SetDecoder(SITE_MODEL_MJPEG);
        return n;
    }();
    static size_t frames = 0;
    net->onFrame = [](const uint8_t* f, uint32_t len) {
        // Every frame handed on lies inside the buffer with its start code.
        if (len < 4 || len + 4 > CNetwork::kVideoBufSize || f[0] != 0 || f[1] != 0 || f[2] != 1)
            __builtin_trap();
        ++frames;
        // The decode that follows finds a free slot.
        drain(queue);
    };
    if (size == 0)
        return 0;
    net->resetScanner();
    if (data[0] & 1) {
        std::vector<uint8_t> buf(data + 1, data + size);
        size_t len = buf.size();
        net->takeLoginReplies(buf.data(), &len);
        if (len > buf.size())
            __builtin_trap();
        return 0;
    }
    size_t pos = 1;
    while (pos < size) {
        size_t chunk = std::min<size_t>(1 + (data[pos] % 64) * 29, size - pos);
        net->parseReceived(data + pos, int(chunk));
        pos += chunk;
    }
    // Every slot taken for a frame came back, filled or not.
    drain(queue);
    if (queue.count() != 0 || queue.freeCount() != freeSlots)
        __builtin_trap();
    return 0;
}
