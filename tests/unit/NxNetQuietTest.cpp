// A healthy but quiet recorder is never taken for a failed one: slow echoes,
// channels that send nothing by design, key frames seldom by choice. The
// limits are scaled down from their defaults; the recorder's rhythm with
// them.
#include <gtest/gtest.h>

#include "WatchFixture.h"
#include "recorder/Protocol.h"

using namespace std::chrono_literals;
using linktest::waitFor;
using testrec::RecorderConfig;

namespace {

class WatchQuiet : public linktest::WatchFixture {
protected:
    WatchQuiet()
    {
        // 20 s and 65 s, scaled: an echo every second is a "30 s" recorder.
        silence = 600ms;
        silenceFirst = 2000ms;
    }
    // Nothing but "streaming" since pictures flowed: no stall, no loss.
    bool steadySince(size_t from)
    {
        std::vector<int> all = reports.statusList();
        for (size_t i = from; i < all.size(); ++i)
            if (all[i] != NET_STREAMING)
                return false;
        return true;
    }
    size_t statusCount() { return reports.statusList().size(); }
};

// Paused for several echo intervals, then played on from where it stood.
TEST_F(WatchQuiet, APausedPlaybackKeepsTheConnectionAndResumesWhereItStood)
{
    RecorderConfig cfg;
    cfg.echoIntervalMs = 1000;
    ASSERT_NO_FATAL_FAILURE(streaming(cfg));
    net->RequestSearch(0, int32_t(cfg.recordStart + 600));
    ASSERT_TRUE(rec->waitUntil([](const testrec::RecorderStatus& s) { return s.play == testrec::PlayState::Playing; },
                               3s));
    int before = pictures;
    ASSERT_TRUE(waitFor([&] { return pictures > before + 10; }, 5s));
    ASSERT_TRUE(net->PlaySpeed(PLAY_PAUSE));
    const uint32_t pausedAt = net->searchInfo().hdd_search_set_play_time;
    std::this_thread::sleep_for(5000ms);
    EXPECT_TRUE(net->IsConnectDVR());
    EXPECT_FALSE(reportedInOrder({NET_STREAMING, NET_CONNECT_FAIL}));

    rec->clearCommands();
    ASSERT_TRUE(net->PlaySpeed(PLAY_NORMAL));
    auto seek = rec->waitForCommand(29, 2s);
    ASSERT_TRUE(seek.has_value());
    EXPECT_EQ(testrec::readLe32(seek->payload, 0), pausedAt);
    before = pictures;
    EXPECT_TRUE(waitFor([&] { return pictures > before + 5; }, 5s));
    EXPECT_EQ(rec->status().connections, 1);
}

// Every channel in video loss, or every one covert: the link is connected
// and waits for nothing, through several quiet echo intervals.
TEST_F(WatchQuiet, ChannelsThatSendNothingByDesignAreNotAStall)
{
    for (bool covert : {false, true}) {
        SCOPED_TRACE(covert ? "covert" : "video loss");
        reports.statuses.clear();
        RecorderConfig cfg;
        cfg.echoIntervalMs = 1000;
        if (covert) {
            cfg.covertMask = 0xF;
        } else {
            cfg.videoLossMask = 0xF;
            cfg.streamVideo = false;
        }
        ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
        connect();
        ASSERT_TRUE(reports.waitStatus(NET_STREAMING, 3s)) << "nothing is expected: connected";
        size_t from = statusCount();
        std::this_thread::sleep_for(4500ms);
        EXPECT_TRUE(steadySince(from));
        EXPECT_TRUE(net->IsConnectDVR());
        EXPECT_EQ(rec->status().connections, 1);
        TearDown();
    }
}

// Video that comes back on a channel in video loss is expected again:
// when it stops, the stall shows.
TEST_F(WatchQuiet, AChannelBackFromVideoLossIsWatchedAgain)
{
    RecorderConfig cfg;
    cfg.channels = 1;
    cfg.echoIntervalMs = 100;
    cfg.videoLossMask = 0x1;
    cfg.streamVideo = false;
    ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
    connect();
    ASSERT_TRUE(reports.waitStatus(NET_STREAMING, 3s));
    rec->setVideoLossMask(0);
    rec->setStreaming(true, false);
    int before = pictures;
    ASSERT_TRUE(waitFor([&] { return pictures > before + 3; }, 3s));
    rec->setStreaming(false, false);
    EXPECT_TRUE(waitFor([&] { return everWaited(); }, 3s));
}

// Key frames only, a key frame every 1.2 or 2 minimum stall times: toggling
// the mode never shows a stall, and normal live still does.
TEST_F(WatchQuiet, SeldomKeyFramesByChoiceAreNotAStall)
{
    stallMin = 500ms;
    stallMax = 900ms;
    keyOnlyMax = 3000ms;
    for (int gop : {6, 10}) {
        SCOPED_TRACE(gop);
        reports.statuses.clear();
        RecorderConfig cfg;
        cfg.fps = 10;
        cfg.gop = gop;
        cfg.echoIntervalMs = 100;
        ASSERT_NO_FATAL_FAILURE(streaming(cfg));
        for (int i = 0; i < 2; ++i) {
            net->RequestLiveCh(1, 0);
            std::this_thread::sleep_for(2500ms);
            net->RequestLiveCh(0, 0);
            std::this_thread::sleep_for(300ms);
        }
        net->RequestLiveCh(1, 0);
        std::this_thread::sleep_for(2500ms);
        EXPECT_FALSE(everWaited());
        net->RequestLiveCh(0, 0);
        std::this_thread::sleep_for(500ms);
        rec->setStreaming(false, false);
        EXPECT_TRUE(waitFor([&] { return everWaited(); }, 2s)) << "normal live still sees a stall";
        TearDown();
    }
}

}  // namespace
