// Frame-loop throughput of the video view: a real MyOpenGLView in a window,
// 16 channels of solid-colour 704x480 BGRA pictures put into its video queue
// by a producer thread, taken by the view's own frame loop, which uploads the
// newest picture of each channel into its texture at each repaint. Counts
// pictures uploaded and repaints per second,
// with the on-screen display (time, mode, site name, title, alarm, size and
// frame rate over every cell) on and off. Needs a display; run it under
// xvfb-run.
//
//   bench_view [--seconds S] [--warmup S] [--fps N] [--size WxH] [--osd on|off|both]
//   (--fps 0: only the run as fast as possible; --size: the window, 1280x960 by default;
//    --osd: both by default)
#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QImage>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link/CNetDef.h"
#include "link/CoNetwork.h"
#include "output/MyOpenGLView.h"
#include "output/RingBuffer.h"
#include "output/ViewLayout.h"
#include "platform/Log.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kChannels = 16;
constexpr int kWidth = 704;
constexpr int kHeight = 480;

struct Options {
    double seconds = 4.0;
    double warmup = 1.0;
    int fps = 30;  // per channel, for the paced run
    int windowW = 1280;
    int windowH = 960;
    bool osdOn = true;
    bool osdOff = true;
};

QRgb channelColour(int ch)
{
    return QColor::fromHsv(ch * 360 / kChannels, 255, 230).rgb();
}

// One BGRA picture per channel, copied into queue slots by the producer.
std::vector<std::vector<uint8_t>> makePictures()
{
    std::vector<std::vector<uint8_t>> pics(kChannels);
    for (int ch = 0; ch < kChannels; ++ch) {
        const QRgb c = channelColour(ch);
        const uint8_t px[4] = {uint8_t(qBlue(c)), uint8_t(qGreen(c)), uint8_t(qRed(c)), 255};
        pics[size_t(ch)].resize(size_t(kWidth) * kHeight * 4);
        for (size_t i = 0; i < size_t(kWidth) * kHeight; ++i)
            std::memcpy(&pics[size_t(ch)][4 * i], px, 4);
    }
    return pics;
}

// Puts pictures of the channels in turn into the video queue, at a fixed rate
// per channel or as fast as free slots allow. Like the link's worker it waits
// while the queue is full.
class Producer {
public:
    Producer(RingBuffer& q, const std::vector<std::vector<uint8_t>>& pics, int fpsPerChannel, double maxSeconds)
        : q_(q), pics_(pics), fps_(fpsPerChannel), maxSeconds_(maxSeconds), thread_([this] { run(); })
    {
    }
    ~Producer() { stop(); }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    int64_t produced() const { return produced_.load(); }
    int64_t fullWaits() const { return fullWaits_.load(); }

private:
    void run()
    {
        const auto start = Clock::now();
        const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(maxSeconds_));
        const auto period = fps_ > 0 ? std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(1.0 / (double(fps_) * kChannels)))
                                     : Clock::duration::zero();
        for (int64_t k = 0; !stop_ && Clock::now() < deadline; ++k) {
            if (fps_ > 0)
                std::this_thread::sleep_until(start + period * k);
            tag_FrameV_Orgin* slot = q_.tryGetWriteBuffer();
            while (!slot && !stop_ && Clock::now() < deadline) {
                fullWaits_++;
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                slot = q_.tryGetWriteBuffer();
            }
            if (!slot)
                break;
            const int ch = int(k % kChannels);
            slot->result = 1;
            slot->time = 1700000000u + uint32_t(k / (kChannels * 30));
            slot->ch = int8_t(ch);
            slot->now_type = 0;
            slot->add_nal = 0;
            slot->w = kWidth;
            slot->h = kHeight;
            slot->outsize = kWidth * kHeight * 4;
            // Now and then an event, so that the alarm text changes.
            slot->evt_rec = uint8_t(k % 50 == 0);
            slot->evt_md = uint8_t(k % 70 == 0);
            slot->evt_ss = 0;
            std::memcpy(slot->outbuff, pics_[size_t(ch)].data(), pics_[size_t(ch)].size());
            q_.putWriteBuffer();
            produced_++;
        }
    }

    RingBuffer& q_;
    const std::vector<std::vector<uint8_t>>& pics_;
    int fps_;
    double maxSeconds_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> produced_{0};
    std::atomic<int64_t> fullWaits_{0};
    std::thread thread_;
};

// Counts the view's paint events.
// Repaints that reached the screen and pictures that reached a texture.
struct PaintCounter {
    int64_t paints = 0;
    int64_t uploads = 0;
};

void runEvents(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

struct RunResult {
    double uploadsPerSecond = 0;
    double paintsPerSecond = 0;
    int64_t fullWaits = 0;
};

// Every channel has a cell, records and is not covert, and the view has its
// GL functions: pictures not uploaded were replaced by a newer one of their
// channel before a repaint could show them.
RunResult measure(MyOpenGLView& view, PaintCounter& paints, const std::vector<std::vector<uint8_t>>& pics,
                  int fpsPerChannel, const Options& opt)
{
    RingBuffer& q = *view.getRingBuffer();
    Producer producer(q, pics, fpsPerChannel, opt.warmup + opt.seconds + 5.0);
    runEvents(opt.warmup);
    const int64_t taken0 = paints.uploads;
    const int64_t paints0 = paints.paints;
    const int64_t waits0 = producer.fullWaits();
    QElapsedTimer t;
    t.start();
    runEvents(opt.seconds);
    const double sec = double(t.nsecsElapsed()) * 1e-9;
    const int64_t taken1 = paints.uploads;
    RunResult r;
    r.uploadsPerSecond = double(taken1 - taken0) / sec;
    r.paintsPerSecond = double(paints.paints - paints0) / sec;
    r.fullWaits = producer.fullWaits() - waits0;
    producer.stop();
    // Let the view take what is left before the next run.
    runEvents(0.1);
    return r;
}

// Checks that the window shows each channel's colour in its cell.
int cellsShowingTheirColour(MyOpenGLView& view)
{
    const QImage img = view.grabFramebuffer();
    const int side = ViewLayout::gridSide(kChannels, 0);
    int good = 0;
    for (int ch = 0; ch < kChannels; ++ch) {
        ViewLayout::CellRect r{};
        ViewLayout::cellRect(side, ch, &r);
        const float x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
        const QRgb got = img.pixel(int((x + 1) / 2 * float(img.width())), int((1 - y) / 2 * float(img.height())));
        const QRgb want = channelColour(ch);
        if (std::abs(qRed(got) - qRed(want)) <= 8 && std::abs(qGreen(got) - qGreen(want)) <= 8 &&
            std::abs(qBlue(got) - qBlue(want)) <= 8)
            ++good;
    }
    return good;
}

Options parseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            o.seconds = std::clamp(std::atof(argv[++i]), 0.5, 60.0);
        else if (a == "--warmup" && i + 1 < argc)
            o.warmup = std::clamp(std::atof(argv[++i]), 0.0, 10.0);
        else if (a == "--fps" && i + 1 < argc)
            o.fps = std::clamp(std::atoi(argv[++i]), 0, 1000);
        else if (a == "--size" && i + 1 < argc && std::sscanf(argv[i + 1], "%dx%d", &o.windowW, &o.windowH) == 2) {
            ++i;
            o.windowW = std::clamp(o.windowW, 64, 4096);
            o.windowH = std::clamp(o.windowH, 64, 4096);
        } else if (a == "--osd" && i + 1 < argc) {
            const std::string v = argv[++i];
            o.osdOn = v == "on" || v == "both";
            o.osdOff = v == "off" || v == "both";
            if (!o.osdOn && !o.osdOff) {
                std::fprintf(stderr, "--osd takes on, off or both\n");
                std::exit(2);
            }
        } else {
            std::fprintf(stderr, "usage: %s [--seconds S] [--warmup S] [--fps N] [--size WxH] [--osd on|off|both]\n",
                         argv[0]);
            std::exit(2);
        }
    }
    return o;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const Options opt = parseOptions(argc, argv);
    setLogSink([](const std::string&) {});

    MyOpenGLView view;
    view.resize(opt.windowW, opt.windowH);
    view.show();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while ((!view.hasGl() || !view.windowHandle() || !view.windowHandle()->isExposed()) && Clock::now() < deadline)
        app.processEvents(QEventLoop::AllEvents, 50);
    if (!view.hasGl()) {
        std::fprintf(stderr, "no OpenGL compatibility context; run under xvfb-run with GLX\n");
        return 1;
    }

    CoNetwork link;  // any attached link starts the drain timer
    view.SetNetPointer(&link);
    view.setMaxCH(kChannels);
    view.SetRecOnOff(0xFFFF);
    view.SetCovert(0);
    view.setNetStatus(NET_STREAMING, std::string());
    view.SetRegName(QStringLiteral("Bench recorder"));
    char titles[16][32] = {};
    for (int ch = 0; ch < kChannels; ++ch) {
        char name[16];
        std::snprintf(name, sizeof name, "CAM %d", ch + 1);
        for (int i = 0; name[i]; ++i)
            titles[ch][2 * i] = name[i];  // UTF-16LE
    }
    view.SetChTitle(titles);

    PaintCounter paints;
    QObject::connect(&view, &MyOpenGLView::frameSwapped, [&paints] { ++paints.paints; });
    view.onUpload = [&paints](const tag_FrameV_Orgin&) { ++paints.uploads; };
    const auto pics = makePictures();

    std::printf("Video view frame loop: %d channels of %dx%d BGRA, window %dx%d, %s textures, screen refresh %.0f Hz\n",
                kChannels, kWidth, kHeight, view.width(), view.height(),
                view.usesRectTextures() ? "rectangle" : "2D",
                view.screen() ? view.screen()->refreshRate() : 0.0);
    std::printf("(each run: %.1f s warm-up, %.1f s measured)\n", opt.warmup, opt.seconds);
    for (bool osd : {true, false}) {
        if ((osd && !opt.osdOn) || (!osd && !opt.osdOff))
            continue;
        view.SetDrawOsd(osd ? 4 : 5);
        std::printf(" on-screen display %s:\n", osd ? "on" : "off");
        if (opt.fps > 0) {
            const RunResult r = measure(view, paints, pics, opt.fps, opt);
            std::printf("  paced at %d fps per channel (offered %d pictures/s): %7.1f pictures uploaded/s "
                        "(%.1f per channel), %5.1f repaints/s, producer waited on a full queue %lld times\n",
                        opt.fps, opt.fps * kChannels, r.uploadsPerSecond, r.uploadsPerSecond / kChannels,
                        r.paintsPerSecond, (long long)r.fullWaits);
        }
        const RunResult r = measure(view, paints, pics, 0, opt);
        std::printf("  as fast as possible:                             %7.1f pictures uploaded/s "
                    "(%.1f per channel, the newest at each repaint), %5.1f repaints/s\n",
                    r.uploadsPerSecond, r.uploadsPerSecond / kChannels, r.paintsPerSecond);
        std::printf("  cells showing their channel's colour: %d of %d\n", cellsShowingTheirColour(view), kChannels);
    }

    view.SetNetPointer(nullptr);
    return 0;
}
