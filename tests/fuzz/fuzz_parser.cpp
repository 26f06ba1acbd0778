// Feeds arbitrary bytes to the recorder link's receive parser and header
// reader, after a connect answer chosen by the first input byte.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "link/NxNet.h"
#include "platform/Log.h"

namespace {

std::vector<uint8_t> connectAnswer(uint8_t selector)
{
    static const uint32_t kModels[] = {1, 11, 21, 61, 81, 110, 120, 131, 0};
    uint32_t model = kModels[selector % 9];
    bool v2 = selector & 0x10;
    std::vector<uint8_t> payload(552, 0);
    std::memcpy(&payload[0], &model, 4);
    payload[4] = uint8_t(1 + selector % 17);
    payload[11] = selector & 0x20 ? 1 : 0;
    payload[12] = 30;
    std::vector<uint8_t> f = {0x00, 0x00, 0xAD, uint8_t(v2 ? 0xC3 : 0xC2)};
    if (v2) {
        f.insert(f.end(), {1, 0, 0, 0});
        f.insert(f.end(), payload.begin(), payload.end());
        f.insert(f.end(), {'N', 'E', 'N', 'D'});
    } else {
        f.insert(f.end(), {1, 0xFF, 0, 0xFF});
        for (uint8_t b : payload) {
            f.push_back(b);
            f.push_back(0xFF);
        }
        f.insert(f.end(), {0x00, 0x00, 0x01, 0xB4});
    }
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = [] {
        setLogSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    static auto net = std::make_unique<NxNet>();
    net->InitVar();
    if (size == 0)
        return 0;
    std::vector<uint8_t> ans = connectAnswer(data[0]);
    net->parseReceived(ans.data(), int(ans.size()));
    // The rest arrives in reads whose sizes come from the input too.
    size_t pos = 1;
    while (pos < size) {
        size_t chunk = 1 + (data[pos] % 64) * 37;
        chunk = std::min(chunk, size - pos);
        net->parseReceived(data + pos, int(chunk));
        pos += chunk;
    }
    return 0;
}
