// The second device's link watching its pictures: pictures that stop while
// the device goes on sending command messages are a stalled stream (state
// 15) until they come again; the limit follows the gaps between pictures,
// and a playback key stops them on purpose.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "LinkTestUtil.h"
#include "QueueDrainer.h"
#include "device/TestDevice.h"
#include "link/CNetwork.h"
#include "output/RingBuffer.h"

using namespace std::chrono_literals;
using linktest::waitFor;

namespace {

class DeviceSessionWatch : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (net)
            net->StopThread();
        drainer.stop();
        net.reset();
        if (dev)
            dev->stop();
    }
    // A device that sends a command message every 100 ms, pictures or not;
    // its pictures are taken from the queue as the view takes them.
    void streaming(testdev::DeviceConfig cfg = {})
    {
        cfg.commandIntervalMs = 100;
        dev = std::make_unique<testdev::TestDevice>(cfg);
        ASSERT_TRUE(dev->start(0));
        drainer.start(queue);
        net = std::make_unique<CNetwork>();
        net->setQpointerV(&queue);
        net->SetDecoder(SITE_MODEL_MJPEG);
        net->setViewPointer(&reports);
        net->setAppController(&reports);
        net->stallMin = stallMin;
        net->stallMax = stallMax;
        net->setNetInfo(0, "127.0.0.1", "", "1234", dev->port(), "", 0, "", 1);
        net->CreateThread();
        ASSERT_TRUE(reports.waitStatus(NET_STREAMING, 5s));
    }
    // The states reported since the first picture.
    std::vector<int> sinceStreaming()
    {
        std::vector<int> all = reports.statusList();
        auto first = std::find(all.begin(), all.end(), int(NET_STREAMING));
        return std::vector<int>(first, all.end());
    }
    bool reportedSince(const std::vector<int>& want)
    {
        return waitFor([&] { return sinceStreaming() == want; }, 3s);
    }

    std::chrono::milliseconds stallMin{400};
    std::chrono::milliseconds stallMax{800};
    linktest::LogCapture log;
    linktest::Reports reports;
    RingBuffer queue;
    linktest::QueueDrainer drainer;
    std::unique_ptr<testdev::TestDevice> dev;
    std::unique_ptr<CNetwork> net;
};

TEST_F(DeviceSessionWatch, PicturesThatStopWhileCommandsFlowAreAStallAndComeBack)
{
    ASSERT_NO_FATAL_FAILURE(streaming());
    EXPECT_TRUE(net->SendKeyCommand(2));  // not a playback key: judged as before
    dev->setStreaming(false);
    const uint64_t commands = dev->status().commands;
    ASSERT_TRUE(reportedSince({NET_STREAMING, NET_WAIT_DATA}));
    EXPECT_TRUE(net->IsConnectDVR());
    EXPECT_GT(dev->status().commands, commands);
    EXPECT_TRUE(log.has("pictures stopped"));

    dev->setStreaming(true);
    ASSERT_TRUE(reportedSince({NET_STREAMING, NET_WAIT_DATA, NET_STREAMING}));
    // Once: the next stall is told again, and the connection never broke.
    dev->setStreaming(false);
    ASSERT_TRUE(reportedSince({NET_STREAMING, NET_WAIT_DATA, NET_STREAMING, NET_WAIT_DATA}));
    EXPECT_EQ(dev->status().connections, 1);
}

// Three times the longest recent gap, within the bounds: a stream that
// pauses now and then is judged by its own pauses.
TEST_F(DeviceSessionWatch, TheLimitFollowsTheGapsBetweenPictures)
{
    stallMin = 1000ms;
    stallMax = 3000ms;
    ASSERT_NO_FATAL_FAILURE(streaming());
    std::this_thread::sleep_for(300ms);
    dev->setStreaming(false);  // a gap of about half a second: the limit grows to about 1.5 s
    std::this_thread::sleep_for(450ms);
    dev->setStreaming(true);
    std::this_thread::sleep_for(500ms);
    dev->setStreaming(false);  // longer than the least limit, shorter than the grown one
    std::this_thread::sleep_for(1150ms);
    dev->setStreaming(true);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(sinceStreaming(), std::vector<int>{NET_STREAMING});

    dev->setStreaming(false);
    ASSERT_TRUE(waitFor([&] { return sinceStreaming() == std::vector<int>{NET_STREAMING, NET_WAIT_DATA}; }, 5s));
}

// Pictures that stop after a playback key stop by the user's choice; the
// pictures that come again end the pause, and a later stop is a stall.
TEST_F(DeviceSessionWatch, APlaybackKeyPausesTheJudgementUntilPicturesCome)
{
    ASSERT_NO_FATAL_FAILURE(streaming());
    for (uint8_t key : {uint8_t(14), uint8_t(3)}) {  // Stop, and Search of the other keypad
        SCOPED_TRACE(int(key));
        EXPECT_TRUE(net->SendKeyCommand(key));
        dev->setStreaming(false);
        std::this_thread::sleep_for(stallMax * 2);
        dev->setStreaming(true);
        std::this_thread::sleep_for(1500ms);
        EXPECT_EQ(sinceStreaming(), std::vector<int>{NET_STREAMING});
    }
    dev->setStreaming(false);
    EXPECT_TRUE(reportedSince({NET_STREAMING, NET_WAIT_DATA}));
}

}  // namespace
