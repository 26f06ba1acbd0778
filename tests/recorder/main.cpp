// Runs the test recorder on 127.0.0.1 until interrupted, so the client can
// be tried without a real recorder.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "recorder/TestRecorder.h"

namespace {

void usage()
{
    std::puts(
        "usage: vesk-test-recorder [options]\n"
        "  --port N            port on 127.0.0.1 (default 9000; 0 picks a free one)\n"
        "  --model N           reported model id (default 61, model group 7)\n"
        "  --version N         protocol version (default 30)\n"
        "  --channels N        channel count, 1-16 (default 4)\n"
        "  --audio-channels N  audio channel count (default 4)\n"
        "  --user TEXT         user id (default admin)\n"
        "  --password TEXT     password (default 1234)\n"
        "  --fps N             frames per second per channel (default 10)\n"
        "  --size WxH          picture size (default 352x240)\n"
        "  --gop N             pictures per key frame (default 5)\n"
        "  --moving            a moving, detailed scene instead of solid colours\n"
        "  --timeline          colours that tell each picture's stream position; a key frame every second\n"
        "  --bitrate KBPS      video bit rate per channel (default: constant quality)\n"
        "  --spread            each channel on its own schedule, spread over the frame period\n"
        "  --scramble          scramble key frames\n"
        "  --v1                send V1 command frames (default V2)\n"
        "  --short-answer      send the 272-byte connect answer\n"
        "  --echo MS           echo interval, 0 for none (default 1000)\n"
        "  --login-delay MS    answer a right login this long after it (default 0)\n"
        "  --garble            start with video the decoder makes no picture of\n"
        "  --quiet             print only the listening line");
}

bool parseSize(const char* text, int& w, int& h) { return std::sscanf(text, "%dx%d", &w, &h) == 2 && w > 0 && h > 0; }

bool parseInt(const char* text, int& out)
{
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!end || *end != '\0')
        return false;
    out = int(v);
    return true;
}

// Applies one option that takes a value; false on an unknown option or a bad value.
bool applyValue(const std::string& opt, const char* value, testrec::RecorderConfig& c, int& port)
{
    if (opt == "--user") {
        c.userId = value;
        return true;
    }
    if (opt == "--password") {
        c.password = value;
        return true;
    }
    if (opt == "--size")
        return parseSize(value, c.width, c.height);
    int* target = opt == "--port"             ? &port
                  : opt == "--model"          ? &c.modelId
                  : opt == "--version"        ? &c.protocolVersion
                  : opt == "--channels"       ? &c.channels
                  : opt == "--audio-channels" ? &c.audioChannels
                  : opt == "--fps"            ? &c.fps
                  : opt == "--gop"            ? &c.gop
                  : opt == "--echo"           ? &c.echoIntervalMs
                  : opt == "--bitrate"        ? &c.bitrateKbps
                  : opt == "--login-delay"    ? &c.loginDelayMs
                                              : nullptr;
    return target && parseInt(value, *target);
}

bool applyFlag(const std::string& opt, testrec::RecorderConfig& c, bool& quiet)
{
    if (opt == "--scramble")
        c.scrambling = 1;
    else if (opt == "--v1")
        c.commandFormat = testrec::CmdFormat::V1;
    else if (opt == "--short-answer")
        c.connectAnswerSize = 272;
    else if (opt == "--quiet")
        quiet = true;
    else if (opt == "--moving")
        c.content = testrec::ClipContent::Moving;
    else if (opt == "--spread")
        c.spreadChannels = true;
    else if (opt == "--timeline")
        c.content = testrec::ClipContent::Timeline;
    else if (opt == "--garble")
        c.garbleVideo = true;
    else
        return false;
    return true;
}

// Recordings from three days ago until now, so every search finds something.
void setRecordedRange(testrec::RecorderConfig& c)
{
    const uint32_t now = uint32_t(std::time(nullptr));
    c.recordStart = now - now % 86400 - 3 * 86400;
    c.recordEnd = now;
}

}  // namespace

int main(int argc, char** argv)
{
    testrec::RecorderConfig config;
    setRecordedRange(config);
    int port = 9000;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            usage();
            return 0;
        }
        if (applyFlag(opt, config, quiet))
            continue;
        if (i + 1 < argc && applyValue(opt, argv[i + 1], config, port)) {
            ++i;
            continue;
        }
        std::fprintf(stderr, "bad option or value: %s\n", opt.c_str());
        usage();
        return 2;
    }
    if (port < 0 || port > 65535 || config.channels < 1 || config.channels > 16 || config.loginDelayMs < 0) {
        std::fprintf(stderr, "port must be 0-65535, channels 1-16 and the login delay not negative\n");
        return 2;
    }
    const int group = testrec::modelGroup(config.modelId);
    if ((group == 7 || group == 10) && !testrec::hasFixedParameterSets(config.width, config.height)) {
        std::fprintf(stderr, "model %d streams without parameter sets: use 704x480, 704x240, 352x240, "
                             "704x576, 704x288 or 352x288\n", config.modelId);
        return 2;
    }
    if (group == 0)
        std::fprintf(stderr, "model %d has no known model group: no video or audio will be sent\n", config.modelId);
    static std::mutex printMutex;
    if (!quiet)
        config.log = [](const std::string& line) {
            std::lock_guard<std::mutex> lock(printMutex);
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        };

    // Block the stop signals before the recorder's thread starts, then wait for one.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    testrec::TestRecorder recorder(config);
    if (!recorder.start(uint16_t(port))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(printMutex);
        std::printf("vesk-test-recorder listening on 127.0.0.1:%u (model %d, user \"%s\", password \"%s\")\n",
                    recorder.port(), config.modelId, config.userId.c_str(), config.password.c_str());
        std::fflush(stdout);
    }
    int sig = 0;
    sigwait(&stopSignals, &sig);
    recorder.stop();
    return 0;
}
