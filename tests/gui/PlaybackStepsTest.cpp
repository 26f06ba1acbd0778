// The playback panel's steps and speeds through the window, against a
// recorder whose picture colour tells its stream position: what the view
// shows after each press, and that the status line stays "Connected", also
// over a slow link.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QPushButton>
#include <QImage>
#include <QTest>

#include "GuiTestSupport.h"
#include "link/NxNet.h"
#include "output/MyOpenGLView.h"
#include "recorder/DelayProxy.h"
#include "recorder/Timeline.h"

using namespace std::chrono_literals;
using guitest::waitFor;

namespace {

constexpr int kFps = 4;

class PlaybackSteps : public guitest::AppWindowTest {
protected:
    void TearDown() override
    {
        AppWindowTest::TearDown();
        if (proxy)
            proxy->stop();
    }
    // One channel of timeline pictures; through a link that adds `delay`
    // each way when it is set.
    void connectTo(testrec::RecorderConfig cfg = {})
    {
        cfg.channels = 1;
        cfg.fps = kFps;
        cfg.gop = kFps;
        cfg.content = testrec::ClipContent::Timeline;
        cfg.streamAudio = false;
        cfg.echoIntervalMs = 200;
        ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
        uint16_t port = rec->port();
        if (delay.count() > 0) {
            proxy = std::make_unique<testrec::DelayProxy>(port, delay);
            ASSERT_TRUE(proxy->start());
            port = proxy->port();
        }
        addSite({.name = "Recorder", .port = port, .id = "admin", .password = "1234"});
        ctrl->prepareLink = [this](CoNetwork& link) {
            if (auto* nx = dynamic_cast<NxNet*>(&link)) {
                nx->stallMin = stallMin;
                nx->stallMax = stallMax;
            }
        };
        window->btnConnect()->click();
        ASSERT_TRUE(waitFor([&] { return connected(); }, 15s)) << ctrl->statusText().toStdString();
        const uint32_t start = cfg.recordStart + 3600;
        ASSERT_TRUE(guitest::playFromTimeSearch(*ctrl, start));
        // Playback's own pictures, not the live ones before them.
        const int first = int(start % uint32_t(testrec::timelineCycleSeconds(kFps))) * kFps;
        ASSERT_TRUE(waitFor(
            [&] {
                const int p = position();
                return p >= 0 && (after(p, -first)) < 3 * kFps;
            },
            5s));
    }
    bool connected() const { return ctrl->statusText() == "Connected" && window->mainGLView()->isStreaming(); }
    // The stream position of the picture on screen, in pictures from the
    // start of the timeline's cycle; -1 when the view shows none.
    int position()
    {
        QImage img = window->mainGLView()->grabFramebuffer();
        if (img.isNull())
            return -1;
        QColor c = img.pixelColor(img.width() / 2, img.height() / 2);
        auto pos = testrec::timelinePosition(testrec::Rgb{uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue())},
                                             kFps);
        return pos ? int(pos->second) * kFps + pos->picture : -1;
    }
    // Presses a button; answers the position on screen once it has stood
    // still for a while (after it changed, for a step).
    int press(const char* button, bool step = true)
    {
        const int before = position();
        guitest::pressPlayback(*ctrl, button);
        if (step)
            movesOnFrom(before, 3s);
        return settled();
    }
    int settled()
    {
        int last = position();
        auto since = std::chrono::steady_clock::now();
        waitFor(
            [&] {
                steady = steady && connected();
                int p = position();
                if (p != last) {
                    last = p;
                    since = std::chrono::steady_clock::now();
                }
                return std::chrono::steady_clock::now() - since > 800ms;
            },
            10s);
        return last;
    }
    static int after(int p, int d)
    {
        const int n = testrec::timelineCycleSeconds(kFps) * kFps;
        return ((p + d) % n + n) % n;
    }
    // Notes whether the line leaves "Connected" for a while.
    void watch(std::chrono::milliseconds d)
    {

        waitFor(
            [&] {
                steady = steady && connected();
                return false;
            },
            d);
    }
    // The picture moves on from `from`.
    bool movesOnFrom(int from, std::chrono::milliseconds within = 2s)
    {
        return waitFor(
            [&] {
                steady = steady && connected();
                int p = position();
                return p >= 0 && p != from;
            },
            within);
    }

    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds stallMin{5000};
    std::chrono::milliseconds stallMax{9000};
    std::unique_ptr<testrec::DelayProxy> proxy;
    bool steady = true;
};

TEST_F(PlaybackSteps, PauseStepsThenPlay)
{
    ASSERT_NO_FATAL_FAILURE(connectTo());
    const int p = press("btnPause", false);
    ASSERT_GE(p, 0);
    EXPECT_EQ(press("btnNextF"), after(p, 1));
    EXPECT_EQ(press("btnNextF"), after(p, 2));
    EXPECT_EQ(press("btnPreF"), after(p, 1));
    guitest::pressPlayback(*ctrl, "btnPlay");
    ASSERT_TRUE(movesOnFrom(after(p, 1)));
    EXPECT_EQ(position(), after(p, 2)) << "playback goes on from the picture on screen";
    EXPECT_TRUE(steady) << ctrl->statusText().toStdString();
}

TEST_F(PlaybackSteps, PreviousFrameThreeTimesFromPlay)
{
    ASSERT_NO_FATAL_FAILURE(connectTo());
    int p = press("btnPreF");
    ASSERT_GE(p, 0);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(press("btnPreF"), after(p, -1));
        p = after(p, -1);
    }
    EXPECT_TRUE(steady) << ctrl->statusText().toStdString();
}

TEST_F(PlaybackSteps, FastForwardAfterAStepFromPause)
{
    ASSERT_NO_FATAL_FAILURE(connectTo());
    const int p = press("btnPause", false);
    EXPECT_EQ(press("btnNextF"), after(p, 1));
    guitest::pressPlayback(*ctrl, "btnFF");
    EXPECT_TRUE(movesOnFrom(after(p, 1))) << "pictures within 2 s";
    QTest::qWait(1000);
    EXPECT_TRUE(movesOnFrom(position()));
    EXPECT_TRUE(steady) << ctrl->statusText().toStdString();
}

// A link with 0.6 s each way (a slow link, scaled as the least stall time
// from 5 s to 1 s): a pause, play and return to live show no waiting.
TEST_F(PlaybackSteps, ASlowLinkShowsNoWaitingAtPlaybackMoves)
{
    delay = 600ms;
    stallMin = 1000ms;
    stallMax = 1800ms;
    ASSERT_NO_FATAL_FAILURE(connectTo());
    watch(1500ms);
    const int p = press("btnPause", false);
    guitest::pressPlayback(*ctrl, "btnPlay");
    EXPECT_TRUE(movesOnFrom(p, 5s));
    watch(1500ms);
    guitest::pressPlayback(*ctrl, "btnLive");
    ASSERT_TRUE(rec->waitUntil([](const testrec::RecorderStatus& r) { return r.play == testrec::PlayState::Live; },
                               3s));
    EXPECT_TRUE(movesOnFrom(position(), 5s));
    watch(2500ms);
    EXPECT_TRUE(steady) << ctrl->statusText().toStdString();
    EXPECT_EQ(rec->status().connections, 1);
}

}  // namespace
