// The GUI thread under a second device's command flood: the client's real
// main window and controller connect to the test device on 127.0.0.1 with
// the Connect button while the device sends pictures and pointer-information
// messages back to back, and disconnect with the Disconnect button, cycle
// after cycle. Clicks are posted to the GUI thread as an outside client
// (assistive technology, UI automation) would send them, so they wait behind
// whatever the flood has queued there; the Disconnect is pressed as
// assistive technology presses a button, with the button's animated click.
//
// Per cycle it prints, while connected: the GUI thread's CPU time, the events
// it handled and the queued calls among them, and how long a posted probe
// waited before it ran; and for the Disconnect: the time from posting the
// press to the Connect button enabled, split into the wait before the press
// ran, the press animation (its timer) and the click's own handling. The summary gives min/median/max over
// the cycles. The device runs in a child process, so the figures are the
// client's alone.
//
// Needs a display; run it under xvfb-run (see --help).
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QWindow>

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "BenchWindow.h"
#include "app/AppController.h"
#include "app/TitleBar.h"
#include "app/dvrList.h"
#include "device/TestDevice.h"
#include "link/CNetDef.h"
#include "output/MyOpenGLView.h"
#include "platform/Log.h"
#include "platform/Memory.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int cycles = 20;
    double connected = 1.5;  // flood time of each cycle, s
    double idle = 0.3;       // time between the Disconnect and the next Connect, s
    int fps = 10;
    bool flood = true;
    bool verbose = false;
};

void usage(const char* argv0)
{
    std::printf(
        "usage: %s [options]\n"
        "Second device connect/disconnect cycles under a command flood\n"
        "(xvfb-run -a -s \"-screen 0 1280x1024x24\" %s ...).\n"
        "  --cycles N      connect/disconnect cycles (default 20)\n"
        "  --connected S   time connected each cycle, flooded (default 1.5)\n"
        "  --idle S        time from a Disconnect to the next Connect (default 0.3)\n"
        "  --fps N         pictures per second of the device (default 10)\n"
        "  --no-flood      pictures only, for comparison\n"
        "  --verbose       the client's and the device's log lines on stderr\n"
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
        } else if (a == "--connected" && more) {
            o.connected = std::clamp(std::atof(argv[++i]), 0.2, 600.0);
        } else if (a == "--idle" && more) {
            o.idle = std::clamp(std::atof(argv[++i]), 0.0, 60.0);
        } else if (a == "--fps" && more) {
            o.fps = std::clamp(std::atoi(argv[++i]), 1, 60);
        } else if (a == "--no-flood") {
            o.flood = false;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else {
            usage(argv[0]);
            std::exit(2);
        }
    }
    return o;
}

double msSince(Clock::time_point t0, Clock::time_point t1)
{
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

// Events the GUI thread hands to its objects, and the moment the watched
// button becomes enabled.
class EventCounter : public QObject {
public:
    explicit EventCounter(QObject* watched) : m_watched(watched) {}
    bool eventFilter(QObject* obj, QEvent* e) override
    {
        ++events;
        if (e->type() == QEvent::MetaCall)
            ++queuedCalls;
        if (obj == m_watched && e->type() == QEvent::EnabledChange && static_cast<QWidget*>(obj)->isEnabled())
            enabledAt = Clock::now();
        return false;
    }
    long events = 0;
    long queuedCalls = 0;
    Clock::time_point enabledAt{};

private:
    QObject* m_watched;
};

// Runs the event loop for a while; meanwhile a probe posted every 50 ms
// records how long it waited for the GUI thread.
void runEvents(double seconds, std::vector<double>* probeWaits = nullptr)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    QTimer probe;
    if (probeWaits) {
        QObject::connect(&probe, &QTimer::timeout, [probeWaits] {
            const Clock::time_point posted = Clock::now();
            QMetaObject::invokeMethod(
                qApp, [probeWaits, posted] { probeWaits->push_back(msSince(posted, Clock::now())); },
                Qt::QueuedConnection);
        });
        probe.start(50);
    }
    loop.exec();
}

// A click as an outside client sends it: queued behind what waits already.
void postClick(QPushButton* b)
{
    QMetaObject::invokeMethod(b, [b] { b->click(); }, Qt::QueuedConnection);
}

// The Disconnect as assistive technology presses a button: a queued call
// that starts the button's animated click (shown pressed, clicked when its
// timer fires), timed at each step.
struct PressTimes {
    Clock::time_point posted{}, ran{}, released{}, handled{};
    double handlerCpuMs = 0;
    double cpuAtRelease = 0;
};

void postPress(QPushButton* b, PressTimes* t)
{
    *t = PressTimes{};
    t->posted = Clock::now();
    QMetaObject::invokeMethod(
        b,
        [b, t] {
            t->ran = Clock::now();
            b->animateClick();
        },
        Qt::QueuedConnection);
}

struct Stat {
    std::vector<double> v;
    void add(double x) { v.push_back(x); }
    double at(double q) const
    {
        if (v.empty())
            return 0;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        return s[size_t(q * double(s.size() - 1) + 0.5)];
    }
    void print(const char* name, const char* unit) const
    {
        std::printf("  %-38s min %8.1f  median %8.1f  max %8.1f %s\n", name, at(0), at(0.5), at(1), unit);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    const Options opt = parseOptions(argc, argv);
    testdev::DeviceConfig cfg;
    cfg.fps = opt.fps;
    cfg.commandFlood = opt.flood;
    if (opt.verbose)
        cfg.log = [](const std::string& line) { std::fprintf(stderr, "device: %s\n", line.c_str()); };
    bench::PeerProcess<testdev::TestDevice, testdev::DeviceConfig> device(cfg);
    if (device.port() == 0) {
        std::fprintf(stderr, "device did not start\n");
        return 1;
    }
    const bench::TempHome home("flood");
    Memory::configureAllocator();
    TitleBar::prepareApplication();
    QApplication app(argc, argv);
    bench::clientLog(opt.verbose);

    TitleBar window;
    AppController controller(&window);
    bench::startWindow(window, controller);

    bench::addSite(window, controller, "Flood", SITE_MODEL_MJPEG, device.port(), QString(), "1234");
    MyOpenGLView* view = window.mainGLView();
    QPushButton* connectButton = window.btnConnect();

    EventCounter counter(connectButton);
    app.installEventFilter(&counter);

    std::printf("Second device: %d cycles, %.1f s connected each, pictures at %d fps, %s\n", opt.cycles, opt.connected,
                opt.fps, opt.flood ? "pointer-information messages back to back" : "no command flood");
    // The press's steps: released when the animation's timer fires; the
    // controller's handler runs next and these stamps come after it.
    PressTimes press;
    QPushButton* disconnectButton = window.btnDisconnect();
    QObject::connect(disconnectButton, &QPushButton::released, [&press] {
        press.released = Clock::now();
        press.cpuAtRelease = 1e3 * bench::threadCpuSeconds();
    });
    QObject::connect(disconnectButton, &QPushButton::clicked, [&press] {
        press.handled = Clock::now();
        press.handlerCpuMs = 1e3 * bench::threadCpuSeconds() - press.cpuAtRelease;
    });

    std::printf("cycle  GUI CPU %%  events/s  queued calls/s  probe wait ms (median/max)  "
                "Disconnect->Connect ms  (wait + animation + click, click CPU)\n");
    std::fflush(stdout);

    Stat cpuPct, eventRate, callRate, probeMedian, probeMax, toConnect, clickWait, animationMs, clickMs;
    for (int cycle = 1; cycle <= opt.cycles; ++cycle) {
        postClick(connectButton);
        if (!bench::waitEvents([&] { return controller.statusText() == "Connected" && view->isStreaming(); }, 20, 2)) {
            std::fprintf(stderr, "cycle %d: not streaming in 20 s (status \"%s\")\n", cycle,
                         controller.statusText().toUtf8().constData());
            return 1;
        }
        const long events0 = counter.events, calls0 = counter.queuedCalls;
        const double cpu0 = 1e3 * bench::threadCpuSeconds();
        const Clock::time_point t0 = Clock::now();
        std::vector<double> probes;
        runEvents(opt.connected, &probes);
        const double wall = msSince(t0, Clock::now());
        const double cpu = 1e3 * bench::threadCpuSeconds() - cpu0;
        const double events = double(counter.events - events0) * 1000.0 / wall;
        const double calls = double(counter.queuedCalls - calls0) * 1000.0 / wall;
        Stat probe;
        for (double p : probes)
            probe.add(p);

        counter.enabledAt = Clock::time_point{};
        postPress(disconnectButton, &press);
        if (!bench::waitEvents([&] { return counter.enabledAt != Clock::time_point{}; }, 10, 2)) {
            std::fprintf(stderr, "cycle %d: Connect not enabled 10 s after Disconnect\n", cycle);
            return 1;
        }
        const double total = msSince(press.posted, counter.enabledAt);
        const double wait = msSince(press.posted, press.ran);
        const double animation = msSince(press.ran, press.released);
        const double click = msSince(press.released, press.handled);

        cpuPct.add(100.0 * cpu / wall);
        eventRate.add(events);
        callRate.add(calls);
        probeMedian.add(probe.at(0.5));
        probeMax.add(probe.at(1));
        toConnect.add(total);
        clickWait.add(wait);
        animationMs.add(animation);
        clickMs.add(click);
        std::printf("%5d  %9.1f  %8.0f  %14.0f  %12.1f / %-12.1f  %22.1f  (%.1f + %.1f + %.1f, %.1f ms)\n", cycle,
                    100.0 * cpu / wall, events, calls, probe.at(0.5), probe.at(1), total, wait, animation, click,
                    press.handlerCpuMs);
        std::fflush(stdout);
        runEvents(opt.idle);
    }

    std::printf("over %d cycles:\n", opt.cycles);
    cpuPct.print("GUI thread CPU while connected", "%");
    eventRate.print("events handled while connected", "/s");
    callRate.print("queued calls while connected", "/s");
    probeMedian.print("posted probe wait, median of a cycle", "ms");
    probeMax.print("posted probe wait, max of a cycle", "ms");
    toConnect.print("Disconnect posted -> Connect enabled", "ms");
    clickWait.print("  of which waiting for the GUI thread", "ms");
    animationMs.print("  of which the press animation (100 ms)", "ms");
    clickMs.print("  of which the Disconnect's handling", "ms");
    controller.EndApplication();
    return 0;
}
