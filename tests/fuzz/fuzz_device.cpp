// Feeds arbitrary bytes to the second device's login reply reader (first
// input byte odd) or its stream scanner, in reads whose sizes come from the
// input.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "link/CNetwork.h"
#include "platform/Log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = [] {
        setLogSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    static auto net = std::make_unique<CNetwork>();
    static size_t frames = 0;
    net->onFrame = [](const uint8_t* f, uint32_t len) {
        // Every frame handed on lies inside the buffer with its start code.
        if (len < 4 || len + 4 > CNetwork::kVideoBufSize || f[0] != 0 || f[1] != 0 || f[2] != 1)
            __builtin_trap();
        ++frames;
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
    return 0;
}
