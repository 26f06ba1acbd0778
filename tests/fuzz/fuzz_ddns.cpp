// Feeds arbitrary bytes to the DDNS client's frame checks and answer reader.
#include <cstdint>
#include <cstring>

#include "link/CDDNS.h"
#include "platform/Log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = [] {
        setLogSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    int len = int(size > 40000 ? 40000 : size);
    CDDNS::frameComplete(data, len);
    CDDNS::commandId(data, len);
    char ip[32];
    int port = 0;
    if (CDDNS::readAnswer(data, len, ip, sizeof ip, &port)) {
        if (port <= 0 || port > 65535 || !std::memchr(ip, 0, sizeof ip))
            __builtin_trap();
    }
    return 0;
}
