// Runs the test second device and, on request, a test DDNS server on
// 127.0.0.1 until interrupted, so the client can be tried by hand.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "device/TestDdnsServer.h"
#include "device/TestDevice.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void usage()
{
    std::puts(
        "usage: vesk-test-device [options]\n"
        "  --port N          device port on 127.0.0.1 (default 9100; 0 picks a free one)\n"
        "  --password TEXT   password the login must carry (default 1234)\n"
        "  --webcode TEXT    web code the login must carry (default: the built-in one)\n"
        "  --fps N           pictures per second (default 10)\n"
        "  --commands-ms N   a pointer-information message every N ms, pictures or not\n"
        "  --flood           pointer-information messages back to back\n"
        "  --ddns-port N     also run a DDNS server on 127.0.0.1:N\n"
        "  --ddns-v2         the DDNS server speaks V2 frames (the client uses V2 on port 17000)\n"
        "  --ddns-target N   port the DDNS answer names (default: the device's)\n"
        "  --no-device       run the DDNS server only\n"
        "  --quiet           print only the listening lines");
}

bool parseInt(const char* text, int& out)
{
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < 0 || v > 65535)
        return false;
    out = int(v);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    testdev::DeviceConfig dev;
    testdev::DdnsConfig ddns;
    int port = 9100, ddnsPort = -1, target = -1;
    bool device = true, quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--port" && more && parseInt(argv[i + 1], port)) {
            ++i;
        } else if (a == "--password" && more) {
            dev.password = argv[++i];
        } else if (a == "--webcode" && more) {
            dev.webCode = argv[++i];
        } else if (a == "--fps" && more && parseInt(argv[i + 1], dev.fps) && dev.fps > 0) {
            ++i;
        } else if (a == "--commands-ms" && more && parseInt(argv[i + 1], dev.commandIntervalMs)) {
            ++i;
        } else if (a == "--flood") {
            dev.commandFlood = true;
        } else if (a == "--ddns-port" && more && parseInt(argv[i + 1], ddnsPort)) {
            ++i;
        } else if (a == "--ddns-target" && more && parseInt(argv[i + 1], target)) {
            ++i;
        } else if (a == "--ddns-v2") {
            ddns.v2 = true;
        } else if (a == "--no-device") {
            device = false;
        } else if (a == "--quiet") {
            quiet = true;
        } else {
            usage();
            return a == "--help" ? 0 : 2;
        }
    }
    std::mutex out;
    auto log = [&](const std::string& line) {
        if (quiet)
            return;
        std::lock_guard<std::mutex> guard(out);
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    dev.log = log;
    ddns.log = log;

    std::unique_ptr<testdev::TestDevice> d;
    if (device) {
        d = std::make_unique<testdev::TestDevice>(dev);
        if (!d->start(uint16_t(port))) {
            std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", port);
            return 1;
        }
        std::printf("vesk-test-device listening on 127.0.0.1:%u\n", d->port());
    }
    std::unique_ptr<testdev::TestDdnsServer> s;
    if (ddnsPort >= 0) {
        ddns.devicePort = target >= 0 ? target : (d ? d->port() : 9000);
        s = std::make_unique<testdev::TestDdnsServer>(ddns);
        if (!s->start("127.0.0.1", uint16_t(ddnsPort))) {
            std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", ddnsPort);
            return 1;
        }
        std::printf("vesk-test-ddns listening on 127.0.0.1:%u (%s, answers port %d)\n", s->port(),
                    ddns.v2 ? "V2" : "V1", ddns.devicePort);
    }
    std::fflush(stdout);
    std::signal(SIGINT, [](int) { g_stop = 1; });
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    while (!g_stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}
