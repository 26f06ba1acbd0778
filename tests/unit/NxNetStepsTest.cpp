// Playback steps and speeds through the real link against the test
// recorder, whose pictures tell their stream position by their colour: what
// each press sends, and which picture it shows.
#include <gtest/gtest.h>

#include <mutex>

#include "WatchFixture.h"
#include "recorder/Protocol.h"
#include "recorder/Timeline.h"

using namespace std::chrono_literals;
using linktest::waitFor;
using testrec::RecorderConfig;

namespace {

constexpr int kFps = 4;

// A recorder of "NDAV" frames, which carry no request id: after a seek the
// link tells the new stream from frames still on their way by their place.
class Steps : public linktest::WatchFixture {
protected:
    // One channel of timeline pictures, playing back from `start`.
    void playing(RecorderConfig cfg = {})
    {
        cfg.modelId = model;
        cfg.channels = 1;
        cfg.fps = kFps;
        cfg.gop = kFps;
        cfg.content = testrec::ClipContent::Timeline;
        cfg.echoIntervalMs = 200;
        start = cfg.recordStart + 3600;
        onPicture = [this](const tag_FrameV_Orgin& s) { notePosition(s); };
        ASSERT_NO_FATAL_FAILURE(streaming(cfg));
        net->RequestSearch(0, int32_t(start));
        ASSERT_TRUE(waitFor([&] { return shownCount() >= 6; }, 5s));
    }
    // Stream positions of the pictures the view got, as picture counts from
    // the start of the timeline's cycle.
    void notePosition(const tag_FrameV_Orgin& s)
    {
        if (s.w <= 0 || s.h <= 0)
            return;
        const uint8_t* px = s.outbuff + (size_t(s.h / 2) * size_t(s.w) + size_t(s.w / 2)) * 4;
        auto pos = testrec::timelinePosition(testrec::Rgb{px[2], px[1], px[0]}, kFps);
        std::lock_guard<std::mutex> lock(m_lock);
        m_shown.push_back(pos ? int(pos->second) * kFps + pos->picture : -1);
    }
    size_t shownCount()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_shown.size();
    }
    std::vector<int> shownSince(size_t from)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return std::vector<int>(m_shown.begin() + long(std::min(from, m_shown.size())), m_shown.end());
    }
    int lastShown()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_shown.empty() ? -100 : m_shown.back();
    }
    // Waits until no picture has come for a while; answers the last one.
    int settled()
    {
        size_t n = shownCount();
        for (int i = 0; i < 100; ++i) {
            std::this_thread::sleep_for(600ms);
            if (shownCount() == n)
                break;
            n = shownCount();
        }
        return lastShown();
    }
    // One press: the pictures that came for it once the stream settled.
    std::vector<int> press(int speed)
    {
        size_t from = shownCount();
        rec->clearCommands();
        EXPECT_TRUE(net->PlaySpeed(speed));
        waitFor([&] { return shownCount() > from; }, 3s);
        settled();
        return shownSince(from);
    }
    // Picture counts differ by d within the cycle.
    static int after(int p, int d)
    {
        const int n = testrec::timelineCycleSeconds(kFps) * kFps;
        return ((p + d) % n + n) % n;
    }
    std::vector<uint32_t> sentIds()
    {
        std::vector<uint32_t> ids;
        for (const auto& c : rec->commands())
            if (c.id != 12)  // echo replies
                ids.push_back(c.id);
        return ids;
    }
    uint32_t seekTime()
    {
        auto c = rec->waitForCommand(29, 1s);
        return c ? testrec::readLe32(c->payload, 0) : 0;
    }

    int model = 61;
    uint32_t start = 0;
    std::mutex m_lock;
    std::vector<int> m_shown;
};

// The same with a recorder whose frames carry the request's id.
class StepsBothKinds : public Steps, public ::testing::WithParamInterface<int> {
protected:
    StepsBothKinds() { model = GetParam(); }
};

// From pause each step shows one picture, the next or the one before the
// picture on screen; Play then goes on after the picture on screen.
TEST_P(StepsBothKinds, StepsFromPauseMoveOnePictureEachWay)
{
    ASSERT_NO_FATAL_FAILURE(playing());
    EXPECT_EQ(press(PLAY_PAUSE).size(), 0u);
    EXPECT_EQ(sentIds(), (std::vector<uint32_t>{6, 25}));
    const int p = settled();
    ASSERT_GE(p, 0);

    EXPECT_EQ(press(PLAY_STEP_FORWARD), std::vector<int>{after(p, 1)});
    EXPECT_EQ(sentIds(), (std::vector<uint32_t>{6, 29, 27})) << "a step from pause seeks and plays";
    EXPECT_EQ(press(PLAY_STEP_FORWARD), std::vector<int>{after(p, 2)});
    EXPECT_TRUE(sentIds().empty()) << "the next step is the next frame already on its way";
    EXPECT_EQ(press(PLAY_STEP_BACKWARD), std::vector<int>{after(p, 1)});
    EXPECT_EQ(sentIds(), (std::vector<uint32_t>{6, 29, 27}));

    size_t from = shownCount();
    rec->clearCommands();
    ASSERT_TRUE(net->PlaySpeed(PLAY_NORMAL));
    ASSERT_TRUE(waitFor([&] { return shownCount() >= from + 4; }, 3s));
    std::vector<int> played = shownSince(from);
    for (size_t i = 0; i < played.size(); ++i)
        EXPECT_EQ(played[i], after(p, 2 + int(i))) << "playback goes on from the picture on screen";
    EXPECT_FALSE(everWaited());
}

// Previous Frame goes back one picture from play and from a step, over the
// start of a second too, and Next Frame then forward again by one.
TEST_P(StepsBothKinds, PreviousFrameGoesBack)
{
    ASSERT_NO_FATAL_FAILURE(playing());
    std::vector<int> got = press(PLAY_STEP_BACKWARD);
    ASSERT_EQ(got.size(), 1u);
    int p = got[0];
    for (int i = 0; i < kFps + 1; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(press(PLAY_STEP_BACKWARD), std::vector<int>{after(p, -1)});
        p = after(p, -1);
    }
    EXPECT_EQ(press(PLAY_STEP_FORWARD), std::vector<int>{after(p, 1)});
    EXPECT_EQ(press(PLAY_STEP_FORWARD), std::vector<int>{after(p, 2)});
}

// From fast forward, slow and reverse play a step back shows a picture
// before the one on screen (in reverse the recorder sends key frames only,
// so the one before may be a key frame further back).
TEST_F(Steps, PreviousFrameFromEverySpeed)
{
    ASSERT_NO_FATAL_FAILURE(playing());
    for (int speed : {2, int(PLAY_SLOW_2), -1, -2}) {
        SCOPED_TRACE(speed);
        size_t from = shownCount();
        ASSERT_TRUE(net->PlaySpeed(speed));
        ASSERT_TRUE(waitFor([&] { return shownCount() >= from + 2; }, 5s));
        std::vector<int> got = press(PLAY_STEP_BACKWARD);
        ASSERT_EQ(got.size(), 1u);
        int before = shownSince(from)[shownSince(from).size() - 2];
        const int n = testrec::timelineCycleSeconds(kFps) * kFps;
        int back = (before - got[0] + n) % n;
        EXPECT_GE(back, 1);
        EXPECT_LE(back, speed < 0 ? kFps : 1);
        ASSERT_TRUE(net->PlaySpeed(PLAY_NORMAL));
    }
}

// After steps every speed button brings pictures again, forward ones from
// the picture on screen; Live returns to live.
TEST_F(Steps, EverySpeedAfterAStepBringsPictures)
{
    ASSERT_NO_FATAL_FAILURE(playing());
    for (int speed : {int(PLAY_NORMAL), int(PLAY_SLOW_2), 2, -1, -2}) {
        SCOPED_TRACE(speed);
        press(PLAY_PAUSE);
        std::vector<int> step = press(PLAY_STEP_FORWARD);
        ASSERT_EQ(step.size(), 1u);
        size_t from = shownCount();
        ASSERT_TRUE(net->PlaySpeed(speed));
        ASSERT_TRUE(waitFor([&] { return shownCount() >= from + 2; }, 2s)) << "pictures within 2 s";
        if (speed > 0) {
            const int n = testrec::timelineCycleSeconds(kFps) * kFps;
            int ahead = (shownSince(from)[0] - step[0] + n) % n;
            EXPECT_GE(ahead, 1);
            EXPECT_LE(ahead, kFps);
        }
    }
    size_t from = shownCount();
    ASSERT_TRUE(net->ExitLive());
    EXPECT_TRUE(waitFor([&] { return shownCount() >= from + 2; }, 3s));
    EXPECT_FALSE(everWaited());
}

// A stepped picture looked at for long: not a stall, not a silent
// recorder, not a missing echo for the watchdog.
TEST_F(Steps, AHeldStepIsNeitherAStallNorSilence)
{
    silence = 600ms;
    silenceFirst = 1500ms;
    ASSERT_NO_FATAL_FAILURE(playing());
    press(PLAY_PAUSE);
    const int p = settled();
    EXPECT_EQ(press(PLAY_STEP_FORWARD), std::vector<int>{after(p, 1)});
    net->SetEchoCount(0);
    std::this_thread::sleep_for(4000ms);
    EXPECT_TRUE(net->IsConnectDVR());
    EXPECT_GE(net->GetEchoCount(), 1) << "the recorder counts as heard";
    EXPECT_FALSE(everWaited());
    size_t from = shownCount();
    ASSERT_TRUE(net->PlaySpeed(PLAY_NORMAL));
    EXPECT_TRUE(waitFor([&] { return shownCount() >= from + 3; }, 3s));
    EXPECT_EQ(rec->status().connections, 1);
}

INSTANTIATE_TEST_SUITE_P(Models, StepsBothKinds, ::testing::Values(61, 120),
                         [](const ::testing::TestParamInfo<int>& i) {
                             return i.param == 61 ? std::string("NoRequestIds") : std::string("RequestIds");
                         });

}  // namespace
