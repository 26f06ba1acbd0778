// Live view end to end: the test recorder on 127.0.0.1 (in this process)
// streams channels of a moving, detailed scene made with libx264 at the
// real frame rate, each channel on its own schedule; the real link parses,
// delivers and decodes them into the video queue of a real MyOpenGLView in
// a window, whose own frame loop uploads and paints them.
//
// Each live frame carries a per-channel sequence number as its time, which
// passes through the decoder into the queue slot. The recorder notes when it
// wrote each frame; the queue's observers note when each picture was
// committed (decoded) and when the view released it (uploaded), so every
// latency is measured per picture.
//
// Needs a display; run it under xvfb-run (see --help).
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QOpenGLWidget>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <malloc.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "link/CNetDef.h"
#include "link/INetController.h"
#include "link/NxNet.h"
#include "output/MyOpenGLView.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"
#include "recorder/TestRecorder.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int channels = 16;
    int width = 704;
    int height = 480;
    int fps = 30;
    int gop = 0;         // 0: one key frame a second
    int bitrateKbps = 0;  // 0: by picture size
    double seconds = 20;
    double warmup = 3;
    int poolThreads = 0;  // 0: the link's default
    int windowW = 1280;
    int windowH = 960;
    bool noView = false;  // a thread takes the pictures instead of the view
};

void usage(const char* argv0)
{
    std::printf(
        "usage: %s [options]\n"
        "Live view end to end under a display (xvfb-run -a -s \"-screen 0 1280x1024x24\" %s ...).\n"
        "  --channels N       channels streamed, 1-16 (default 16)\n"
        "  --size WxH         picture size (default 704x480; 1920x1080 for full HD)\n"
        "  --fps N            frames per second per channel (default 30)\n"
        "  --gop N            pictures per key frame (default: the frame rate)\n"
        "  --bitrate KBPS     bit rate asked of the encoder per channel (default 1350 for 704x480, scaled by\n"
        "                     area, 3400 at 1080p: about 1.4 and 3.7 Mbit/s come out)\n"
        "  --seconds S        measured time (default 20)\n"
        "  --warmup S         time before measuring (default 3)\n"
        "  --pool-threads N   decoding threads of the link (default: its own choice)\n"
        "  --window WxH       window size (default 1280x960)\n"
        "  --no-view          no window: a thread takes every picture off the queue every 2 ms, so the\n"
        "                     figures are those of the link and its decoders alone\n"
        "  --help             this text\n",
        argv0, argv0);
}

Options parseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            usage(argv[0]);
            std::exit(0);
        } else if (bench::takeStreamOption(argc, argv, i, o.channels, o.width, o.height, o.fps)) {
        } else if (a == "--gop" && more) {
            o.gop = std::clamp(std::atoi(argv[++i]), 1, 250);
        } else if (a == "--bitrate" && more) {
            o.bitrateKbps = std::clamp(std::atoi(argv[++i]), 50, 50000);
        } else if (a == "--seconds" && more) {
            o.seconds = std::clamp(std::atof(argv[++i]), 1.0, 600.0);
        } else if (a == "--warmup" && more) {
            o.warmup = std::clamp(std::atof(argv[++i]), 0.0, 60.0);
        } else if (a == "--pool-threads" && more) {
            o.poolThreads = std::clamp(std::atoi(argv[++i]), 1, 16);
        } else if (a == "--no-view") {
            o.noView = true;
        } else if (a == "--window" && more && std::sscanf(argv[i + 1], "%dx%d", &o.windowW, &o.windowH) == 2) {
            ++i;
        } else {
            usage(argv[0]);
            std::exit(2);
        }
    }
    o.width = std::clamp(o.width & ~1, 16, 1920);
    o.height = std::clamp(o.height & ~1, 16, 1080);
    if (o.gop == 0)
        o.gop = o.fps;
    if (o.bitrateKbps == 0) {
        const double area = double(o.width) * o.height;
        // libx264 overshoots a little on these short loops.
        o.bitrateKbps = area >= 1920.0 * 1080 ? 3400 : int(1350 * area / (704.0 * 480));
    }
    return o;
}

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// When the recorder began writing each frame, by channel and sequence number.
class SendTable {
public:
    static constexpr uint32_t kDepth = 16384;
    SendTable() : ns_(new std::atomic<int64_t>[16 * kDepth]()) {}
    void sent(int ch, uint32_t seq) { at(ch, seq).store(nowNs(), std::memory_order_relaxed); }
    int64_t when(int ch, uint32_t seq) { return at(ch, seq).load(std::memory_order_relaxed); }

private:
    std::atomic<int64_t>& at(int ch, uint32_t seq) { return ns_[size_t(ch & 15) * kDepth + seq % kDepth]; }
    std::unique_ptr<std::atomic<int64_t>[]> ns_;
};

// Latencies in ms, taken while measuring.
class Samples {
public:
    void add(double ms)
    {
        std::lock_guard<std::mutex> lock(m_);
        if (on_)
            ms_.push_back(ms);
    }
    void start()
    {
        std::lock_guard<std::mutex> lock(m_);
        ms_.clear();
        on_ = true;
    }
    std::vector<double> stop()
    {
        std::lock_guard<std::mutex> lock(m_);
        on_ = false;
        std::vector<double> v = ms_;
        std::sort(v.begin(), v.end());
        return v;
    }

private:
    std::mutex m_;
    std::vector<double> ms_;
    bool on_ = false;
};

double quantile(const std::vector<double>& sorted, double q)
{
    if (sorted.empty())
        return 0;
    size_t i = size_t(q * double(sorted.size() - 1) + 0.5);
    return sorted[std::min(i, sorted.size() - 1)];
}

class QuietController : public INetController {
public:
    void SetModelGroup(uint32_t) override {}
    void SetSearchInfo(int, int32_t, int32_t, const uint8_t*, size_t) override {}
    void ShowSearchAlertView() override {}
    void DisplayConnectStr(const std::string&, int, const std::string&, int) override {}
};

// Peak resident memory since the last reset, in MiB.
double peakRssMiB()
{
    return bench::statusMiB("VmHWM:");
}

void resetPeakRss()
{
    std::ofstream f("/proc/self/clear_refs");
    f << "5";
}

std::string loadAverage()
{
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

void runEvents(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

// Takes every ready picture off the queue every 2 ms, as a view would that
// costs nothing.
class QueueTaker {
public:
    explicit QueueTaker(RingBuffer& q) : q_(q), thread_([this] { run(); }) {}
    ~QueueTaker()
    {
        stop_ = true;
        thread_.join();
    }

private:
    void run()
    {
        while (!stop_) {
            while (tag_FrameV_Orgin* f = q_.tryGetReadBuffer()) {
                sum_ += f->outbuff[0];
                q_.putReadBuffer();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    RingBuffer& q_;
    std::atomic<bool> stop_{false};
    uint32_t sum_ = 0;
    std::thread thread_;
};

uint64_t sum(const std::array<uint64_t, 16>& v)
{
    uint64_t s = 0;
    for (uint64_t x : v)
        s += x;
    return s;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options opt = parseOptions(argc, argv);
    QApplication app(argc, argv);
    setLogSink([](const std::string&) {});

    std::unique_ptr<MyOpenGLView> view;
    std::unique_ptr<RingBuffer> ownQueue;
    if (opt.noView) {
        ownQueue = std::make_unique<RingBuffer>();
    } else {
        view = std::make_unique<MyOpenGLView>();
        view->resize(opt.windowW, opt.windowH);
        view->show();
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while ((!view->hasGl() || !view->windowHandle() || !view->windowHandle()->isExposed()) &&
               Clock::now() < deadline)
            app.processEvents(QEventLoop::AllEvents, 50);
        if (!view->hasGl()) {
            std::fprintf(stderr, "no OpenGL compatibility context; run under xvfb-run with GLX\n");
            return 1;
        }
    }

    SendTable table;
    testrec::RecorderConfig cfg;
    cfg.modelId = 120;  // "NDAp" frames: any picture size up to 1920x1080
    cfg.channels = opt.channels;
    cfg.width = opt.width;
    cfg.height = opt.height;
    cfg.fps = opt.fps;
    cfg.gop = opt.gop;
    cfg.content = testrec::ClipContent::Moving;
    cfg.bitrateKbps = opt.bitrateKbps;
    cfg.spreadChannels = true;
    cfg.sequenceTimes = true;
    cfg.streamAudio = false;
    cfg.onVideoWrite = [&table](int ch, uint32_t seq) { table.sent(ch, seq); };
    testrec::TestRecorder rec(cfg);

    // The scene is encoded before anything is measured.
    const auto clip = rec.clipFor(0);
    if (!clip->ok()) {
        std::fprintf(stderr, "no clip: %s\n", clip->error().c_str());
        return 1;
    }
    size_t clipBytes = 0, keyBytes = 0;
    for (const auto& f : clip->frames()) {
        clipBytes += f.data.size();
        keyBytes = std::max(keyBytes, f.key ? f.data.size() : 0);
    }
    const double mbitPerChannel = double(clipBytes) * 8.0 * opt.fps / double(clip->frames().size()) / 1e6;
    malloc_trim(0);
    if (!rec.start()) {
        std::fprintf(stderr, "recorder did not start\n");
        return 1;
    }

    RingBuffer* q = view ? view->getRingBuffer() : ownQueue.get();
    Samples decodeLatency, uploadLatency;
    std::atomic<uint64_t> orderFaults{0};
    uint32_t lastSeq[16] = {};
    q->onCommit = [&](const tag_FrameV_Orgin& f) {
        const int64_t sent = table.when(f.ch, f.time);
        if (sent > 0)
            decodeLatency.add(double(nowNs() - sent) * 1e-6);
    };
    // Order is checked on every picture taken; latency and the count on
    // the pictures that reach a texture.
    q->onRelease = [&](const tag_FrameV_Orgin& f) {
        const int ch = f.ch & 15;
        if (f.time <= lastSeq[ch])
            orderFaults++;
        lastSeq[ch] = f.time;
        if (!view) {
            const int64_t sent = table.when(ch, f.time);
            if (sent > 0)
                uploadLatency.add(double(nowNs() - sent) * 1e-6);
        }
    };
    std::atomic<uint64_t> uploads{0};
    auto onUploaded = [&](const tag_FrameV_Orgin& f) {
        ++uploads;
        const int64_t sent = table.when(f.ch & 15, f.time);
        if (sent > 0)
            uploadLatency.add(double(nowNs() - sent) * 1e-6);
    };
    if (view)
        view->onUpload = onUploaded;
    uint64_t paints = 0;
    if (view)
        QObject::connect(view.get(), &MyOpenGLView::frameSwapped, [&paints] { ++paints; });
    std::unique_ptr<QueueTaker> taker;
    if (!view)
        taker = std::make_unique<QueueTaker>(*q);

    QuietController controller;
    NxNet link;
#if __has_include("link/DecodePool.h")
    if (opt.poolThreads > 0)
        link.setDecodeThreads(opt.poolThreads);
#endif
    link.setAppController(&controller);
    link.setQpointerV(q);
    link.SetDecoder(SITE_MODEL_DVR);
    std::unique_ptr<INetView> reporter;
    if (view) {
        view->SetNetPointer(&link);
        reporter = view->makeLinkReporter();
        link.setViewPointer(reporter.get());
    }
    link.setNetInfo(0, "127.0.0.1", "", cfg.password.c_str(), rec.port(), "", 0, cfg.userId.c_str(), SITE_MODEL_DVR);
    link.CreateThread();
    if (rec.waitForLogin(std::chrono::seconds(10)) != testrec::LoginResult::Accepted) {
        std::fprintf(stderr, "the link did not log in\n");
        return 1;
    }

    std::printf("Live view: %d channels of %dx%d at %d fps (GOP %d), moving scene at %.2f Mbit/s per channel "
                "(largest key frame %zu bytes), ",
                opt.channels, opt.width, opt.height, opt.fps, opt.gop, mbitPerChannel, keyBytes);
    if (view)
        std::printf("window %dx%d, screen refresh %.0f Hz\n", view->width(), view->height(),
                    view->screen() ? view->screen()->refreshRate() : 0.0);
    else
        std::printf("no view: a thread takes the pictures\n");
    std::printf("  load average before: %s; %.0f s warm-up, %.0f s measured\n", loadAverage().c_str(), opt.warmup,
                opt.seconds);
    std::fflush(stdout);
    runEvents(opt.warmup);

    const testrec::RecorderStatus st0 = rec.status();
    auto uploadCount = [&] { return view ? uploads.load() : q->releasedCount(); };
    const uint64_t decoded0 = q->committedCount(), uploaded0 = uploadCount(), paints0 = paints;
    const double cpu0 = bench::processCpuSeconds(), recCpu0 = rec.cpuSeconds();
    resetPeakRss();
    decodeLatency.start();
    uploadLatency.start();
    QElapsedTimer timer;
    timer.start();
    runEvents(opt.seconds);
    const double sec = double(timer.nsecsElapsed()) * 1e-9;
    const std::vector<double> dl = decodeLatency.stop(), ul = uploadLatency.stop();
    const testrec::RecorderStatus st1 = rec.status();
    const double cpu = bench::processCpuSeconds() - cpu0 - (rec.cpuSeconds() - recCpu0);
    const double peak = peakRssMiB();
    const uint64_t sent = sum(st1.videoFrames) - sum(st0.videoFrames);
    const uint64_t decoded = q->committedCount() - decoded0, uploaded = uploadCount() - uploaded0;
    const uint64_t skipped = st1.skippedFrames - st0.skippedFrames;

    std::printf("  pictures/s: sent %.1f, decoded %.1f (%.1f%%), uploaded %.1f (%.1f%%), painted %.1f; "
                "not sent because the client did not read: %.1f/s\n",
                double(sent) / sec, double(decoded) / sec, sent ? 100.0 * double(decoded) / double(sent) : 0.0,
                double(uploaded) / sec, sent ? 100.0 * double(uploaded) / double(sent) : 0.0, double(paints - paints0) / sec,
                double(skipped) / sec);
    std::printf("  send -> decoded: p50 %.1f ms, p95 %.1f ms, max %.1f ms (%zu pictures)\n", quantile(dl, 0.5),
                quantile(dl, 0.95), dl.empty() ? 0.0 : dl.back(), dl.size());
    std::printf("  send -> upload:  p50 %.1f ms, p95 %.1f ms, max %.1f ms (%zu pictures)\n", quantile(ul, 0.5),
                quantile(ul, 0.95), ul.empty() ? 0.0 : ul.back(), ul.size());
    std::printf("  client CPU %.0f%% (%.2f cores, recorder thread excluded), peak RSS %.0f MiB; "
                "pictures out of channel order: %llu\n",
                100.0 * cpu / sec, cpu / sec, peak, (unsigned long long)orderFaults.load());
    std::printf("  load average after: %s\n", loadAverage().c_str());
    std::fflush(stdout);

    if (view)
        view->SetNetPointer(nullptr);
    link.StopThread();
    taker.reset();
    rec.stop();
    return 0;
}
