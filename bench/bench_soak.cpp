// Memory over many connections: the client's real main window and
// controller (TitleBar, AppController) connect to the test recorder on
// 127.0.0.1 with the Connect button, let every channel stream real H.264
// into the view for a while, and disconnect with the Disconnect button,
// cycle after cycle. After each cycle it prints the resident memory, what
// the allocator holds (mallinfo2: bytes in use, bytes free inside its
// arenas, mapped blocks; the arena count from malloc_info), and the thread
// and descriptor counts. The recorder runs in a child process, so the
// figures are the client's alone.
//
// Needs a display; run it under xvfb-run (see --help).
#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QSurfaceFormat>
#include <QTableWidget>
#include <QTimer>
#include <QWindow>

#include <dirent.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "BenchWindow.h"
#include "app/AppController.h"
#include "app/TitleBar.h"
#include "app/dvrList.h"
#include "link/CNetDef.h"
#include "output/MyOpenGLView.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"
#include "platform/Memory.h"
#include "recorder/TestRecorder.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int cycles = 100;
    int channels = 16;
    int width = 704;
    int height = 480;
    int fps = 30;
    double connected = 2.0;  // streaming time of each cycle, s
    int warm = 5;            // cycles left out of the growth figure
    bool verbose = false;    // client and recorder log lines on stderr
    bool defaultAllocator = false;  // without the application's allocator policy
};

void usage(const char* argv0)
{
    std::printf(
        "usage: %s [options]\n"
        "Connect/disconnect cycles under a display (xvfb-run -a -s \"-screen 0 1280x1024x24\" %s ...).\n"
        "  --cycles N      connect/disconnect cycles (default 100)\n"
        "  --channels N    channels the recorder streams, 1-16 (default 16)\n"
        "  --size WxH      picture size (default 704x480)\n"
        "  --fps N         frames per second per channel (default 30)\n"
        "  --connected S   streaming time of each cycle (default 2)\n"
        "  --warm N        first cycles left out of the growth figure (default 5)\n"
        "  --verbose       the client's and the recorder's log lines on stderr\n"
        "  --default-allocator  glibc's allocator defaults instead of the policy the application sets\n"
        "  --help          this text\n",
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
        } else if (a == "--cycles" && more) {
            o.cycles = std::clamp(std::atoi(argv[++i]), 1, 100000);
        } else if (bench::takeStreamOption(argc, argv, i, o.channels, o.width, o.height, o.fps)) {
        } else if (a == "--connected" && more) {
            o.connected = std::clamp(std::atof(argv[++i]), 0.2, 600.0);
        } else if (a == "--default-allocator") {
            o.defaultAllocator = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--warm" && more) {
            o.warm = std::max(0, std::atoi(argv[++i]));
        } else {
            usage(argv[0]);
            std::exit(2);
        }
    }
    o.width = std::clamp(o.width & ~1, 16, 1920);
    o.height = std::clamp(o.height & ~1, 16, 1080);
    return o;
}



struct Sample {
    double rssMiB = 0;
    double inUseMiB = 0;     // allocated and not freed (arenas and mapped blocks)
    double freeMiB = 0;      // free inside the arenas, kept from the system
    double mappedMiB = 0;    // blocks mapped on their own
    int arenas = 0;
    int threads = 0;
    int fds = 0;
};

int countEntries(const char* dir)
{
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (const dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// Arenas in use: the heaps malloc_info lists.
int arenaCount()
{
    char* text = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&text, &len);
    if (!f)
        return 0;
    malloc_info(0, f);
    std::fclose(f);
    int n = 0;
    for (const char* p = text; (p = std::strstr(p, "<heap nr=")); ++p)
        ++n;
    std::free(text);
    return n;
}

Sample sample()
{
    const struct mallinfo2 mi = mallinfo2();
    Sample s;
    s.rssMiB = bench::statusMiB("VmRSS:");
    s.inUseMiB = double(mi.uordblks + mi.hblkhd) / (1024.0 * 1024.0);
    s.freeMiB = double(mi.fordblks) / (1024.0 * 1024.0);
    s.mappedMiB = double(mi.hblkhd) / (1024.0 * 1024.0);
    s.arenas = arenaCount();
    s.threads = countEntries("/proc/self/task");
    s.fds = countEntries("/proc/self/fd");
    return s;
}

void runEvents(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

// Least-squares slope of y over its index.
double slope(const std::vector<double>& y)
{
    const double n = double(y.size());
    if (n < 2)
        return 0;
    double sx = 0, sy = 0, sxy = 0, sxx = 0;
    for (size_t i = 0; i < y.size(); ++i) {
        sx += double(i);
        sy += y[i];
        sxy += double(i) * y[i];
        sxx += double(i) * double(i);
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

}  // namespace

int main(int argc, char** argv)
{
    const Options opt = parseOptions(argc, argv);
    testrec::RecorderConfig cfg;
    cfg.modelId = 120;  // "NDAp" frames: any picture size up to 1920x1080
    cfg.channels = opt.channels;
    cfg.width = opt.width;
    cfg.height = opt.height;
    cfg.fps = opt.fps;
    cfg.gop = opt.fps;
    cfg.content = testrec::ClipContent::Moving;
    cfg.spreadChannels = true;
    if (opt.verbose)
        cfg.log = [](const std::string& line) { std::fprintf(stderr, "recorder: %s\n", line.c_str()); };
    // Every channel's clip is encoded before the first connection.
    bench::PeerProcess<testrec::TestRecorder, testrec::RecorderConfig> recorder(cfg, [&cfg](testrec::TestRecorder& rec) {
        for (int ch = 0; ch < cfg.channels; ++ch)
            rec.clipFor(ch);
    });
    if (recorder.port() == 0) {
        std::fprintf(stderr, "recorder did not start\n");
        return 1;
    }
    const bench::TempHome home("soak");
    // As the application's main does.
    if (!opt.defaultAllocator)
        Memory::configureAllocator();
    TitleBar::prepareApplication();
    QApplication app(argc, argv);
    bench::clientLog(opt.verbose);

    TitleBar window;
    AppController controller(&window);
    bench::startWindow(window, controller);

    bench::addSite(window, controller, "Soak", SITE_MODEL_DVR, recorder.port(), QString::fromStdString(cfg.userId),
                   QString::fromStdString(cfg.password));
    RingBuffer* queue = window.mainGLView()->getRingBuffer();

    std::printf("Soak: %d connect/disconnect cycles, %d channels of %dx%d at %d fps, %.1f s streaming each; %s\n",
                opt.cycles, opt.channels, opt.width, opt.height, opt.fps, opt.connected,
                Memory::allocatorConfigured() ? "the application's allocator policy" : "glibc's allocator defaults");
    std::printf("cycle  RSS MiB  in use MiB  free in arenas MiB  mapped MiB  arenas  threads  fds  pictures\n");
    const Sample start = sample();
    std::printf("start  %7.1f  %10.1f  %18.1f  %10.1f  %6d  %7d  %3d\n", start.rssMiB, start.inUseMiB, start.freeMiB,
                start.mappedMiB, start.arenas, start.threads, start.fds);
    std::fflush(stdout);

    std::vector<double> rss, inUse;
    for (int cycle = 1; cycle <= opt.cycles; ++cycle) {
        const uint64_t before = queue->committedCount();
        window.btnConnect()->click();
        // Streaming: pictures have reached the view's queue, four a channel.
        const bool streaming =
            bench::waitEvents([&] { return queue->committedCount() - before >= uint64_t(opt.channels) * 4; }, 20);
        if (!streaming) {
            std::fprintf(stderr, "cycle %d: %llu pictures in 20 s (status \"%s\")\n", cycle,
                         (unsigned long long)(queue->committedCount() - before),
                         controller.statusText().toUtf8().constData());
            return 1;
        }
        runEvents(opt.connected);
        window.btnDisconnect()->click();
        // The view's delayed clear and any deferred deletions.
        runEvents(0.5);

        const Sample s = sample();
        rss.push_back(s.rssMiB);
        inUse.push_back(s.inUseMiB);
        std::printf("%5d  %7.1f  %10.1f  %18.1f  %10.1f  %6d  %7d  %3d  %8llu\n", cycle, s.rssMiB, s.inUseMiB,
                    s.freeMiB, s.mappedMiB, s.arenas, s.threads, s.fds,
                    (unsigned long long)(queue->committedCount() - before));
        std::fflush(stdout);
    }

    // Growth after the first cycles: the slope, and the mean of the first
    // and of the last ten cycles.
    const size_t warm = std::min(size_t(opt.warm), rss.size() - 1);
    const std::vector<double> rssTail(rss.begin() + long(warm), rss.end());
    const std::vector<double> useTail(inUse.begin() + long(warm), inUse.end());
    const size_t k = std::max<size_t>(1, std::min<size_t>(10, rssTail.size() / 2));
    auto mean = [](auto from, auto to) { return std::accumulate(from, to, 0.0) / double(to - from); };
    std::printf("after cycle %zu: RSS %+.3f MiB a cycle (mean of the first %zu %.1f MiB, of the last %zu %.1f MiB), "
                "in use %+.3f MiB a cycle; peak RSS %.1f MiB\n",
                warm, slope(rssTail), k, mean(rssTail.begin(), rssTail.begin() + long(k)), k,
                mean(rssTail.end() - long(k), rssTail.end()), slope(useTail), bench::statusMiB("VmHWM:"));
    controller.EndApplication();
    return 0;
}
