// Frame delivery: which frames reach the decoder (request filter, skip rule,
// covert channels) and how playback frames are paced.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <thread>
#include <string>

#include "LinkTestUtil.h"
#include "link/NxNet.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"
#include "recorder/H264Clip.h"
#include "recorder/MediaFrame.h"

using linktest::Bytes;
using testrec::FrameType;
using testrec::MediaHeader;

namespace {

class Delivery : public ::testing::Test {
protected:
    void SetUp() override
    {
        old = setLogSink([this](const std::string& s) { log += s + "\n"; });
    }
    void TearDown() override { setLogSink(old); }

    // A link that has seen a connect answer and a login for this model.
    void open(uint32_t model, uint32_t covert = 0)
    {
        net = std::make_unique<NxNet>();
        net->setQpointerV(&videoQ);
        net->SetDecoder(2);
        feed(linktest::cmdV2(1, linktest::connectAnswer552(model, 4, 30)));
        Bytes login(24, 0);
        login[4] = 0xFF;
        login[8] = uint8_t(covert);
        login[12] = 0xFF;
        feed(linktest::cmdV2(4, login));
    }
    void feed(const Bytes& b) { net->parseReceived(b.data(), int(b.size())); }
    // Sends one frame and answers the pictures it put into the queue.
    int frame(int group, int ch, FrameType type, const Bytes& coded, int reqId = 0, int nowType = 0)
    {
        MediaHeader h;
        h.group = group;
        h.channel = ch;
        h.frameType = type;
        h.requestId = reqId;
        h.nowType = nowType;
        h.time = 1700000000;
        h.rate = group == 1 ? 0 : 30;
        feed(testrec::buildMediaFrame(h, coded));
        int n = 0;
        while (videoQ.tryGetReadBuffer()) {
            videoQ.putReadBuffer();
            ++n;
        }
        return n;
    }
    const testrec::H264Clip& clip()
    {
        testrec::ClipSpec spec;
        spec.gop = 20;
        static auto c = testrec::H264Clip::get(spec);
        EXPECT_TRUE(c->ok()) << c->error();
        return *c;
    }

    RingBuffer videoQ;
    std::unique_ptr<NxNet> net;
    LogSink old;
    std::string log;
};

TEST_F(Delivery, F3StreamDecodesNineFramesAfterEachKeyFrame)
{
    open(11);  // group 1
    const auto& frames = clip().frames();
    ASSERT_GE(frames.size(), 14u);
    int pictures = frame(1, 0, FrameType::Key, frames[0].data);
    for (int i = 1; i <= 12; ++i)
        pictures += frame(1, 0, FrameType::Other, frames[size_t(i)].data);
    EXPECT_EQ(pictures, 10);
    EXPECT_EQ(frame(1, 0, FrameType::Key, frames[0].data), 1);
    // After a garbage frame nothing is decoded until the next key frame.
    EXPECT_EQ(frame(1, 0, FrameType::Garbage, frames[1].data), 0);
    EXPECT_EQ(frame(1, 0, FrameType::Other, frames[1].data), 0);
}

TEST_F(Delivery, OtherStreamsDecodeEveryFrame)
{
    open(1);  // group 8, "BADJ"
    const auto& frames = clip().frames();
    int pictures = frame(8, 0, FrameType::Key, frames[0].data);
    for (int i = 1; i <= 12; ++i)
        pictures += frame(8, 0, FrameType::Other, frames[size_t(i)].data);
    EXPECT_EQ(pictures, 13);
}

TEST_F(Delivery, CovertChannelIsNeverDecoded)
{
    open(1, 0x02);
    const auto& frames = clip().frames();
    EXPECT_EQ(frame(8, 1, FrameType::Key, frames[0].data), 0);
    EXPECT_EQ(frame(8, 0, FrameType::Key, frames[0].data), 1);
}

TEST_F(Delivery, RequestFilter)
{
    open(1);
    const auto& frames = clip().frames();
    // A live frame of an older request: dropped, and the channel then waits
    // for a key frame.
    EXPECT_EQ(frame(8, 0, FrameType::Key, frames[0].data, 3), 0);
    EXPECT_NE(log.find("2. PASS server reqid 3, client reqid 0"), std::string::npos);
    EXPECT_EQ(net->decodeGate(0), 0);
    EXPECT_EQ(frame(8, 0, FrameType::Other, frames[1].data), 0);
    EXPECT_EQ(frame(8, 0, FrameType::Key, frames[0].data), 1);
    // A playback frame of the current request in live view.
    EXPECT_EQ(frame(8, 0, FrameType::Key, frames[0].data, 0, 1), 0);
    EXPECT_NE(log.find("1. PASS server reqid 0, client reqid 0"), std::string::npos);
}

TEST_F(Delivery, NdavFramesAreJudgedByTheirTypeOnly)
{
    open(61);  // group 7
    log.clear();
    testrec::ClipSpec spec;
    spec.fixedParameterSets = true;
    auto c = testrec::H264Clip::get(spec);
    ASSERT_TRUE(c->ok());
    EXPECT_EQ(frame(7, 0, FrameType::Key, c->frames()[0].data, 9, 0), 1);
    EXPECT_EQ(frame(7, 0, FrameType::Key, c->frames()[0].data, 0, 1), 0);
    EXPECT_EQ(log.find("PASS server"), std::string::npos);
}

// A playback frame held by pacing goes out at the new pace after a speed
// change, so the next frame of its channel still decodes; each frame-step
// press lets one frame of a channel through.
TEST_F(Delivery, SpeedChangeDuringAHoldReleasesTheFrameAndStepsGrantFrames)
{
    open(1);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    net->setSocketForTest(fds[0], true);
    std::atomic<uint32_t> clockMs{0};  // stands still until the speed changes
    net->pacingClock = [&] { return clockMs.load(); };
    net->RequestSearch(0, 1700000000);
    int id = net->requestId();
    const auto& frames = clip().frames();

    std::thread changer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        net->PlaySpeed(2);
        clockMs = 600;  // past the half-second window of double speed
    });
    EXPECT_EQ(frame(8, 0, FrameType::Key, frames[0].data, id, 1), 1);
    changer.join();
    EXPECT_EQ(net->searchInfo().eNowPlaySpeed, 2);
    EXPECT_NE(net->decodeGate(0), 0);
    clockMs = 700;
    EXPECT_EQ(frame(8, 0, FrameType::Other, frames[1].data, id, 1), 1);

    net->PlaySpeed(3001);
    id = net->requestId();
    EXPECT_EQ(frame(8, 0, FrameType::Key, frames[0].data, id, 1), 1);
    std::thread stepper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        net->PlaySpeed(3001);
    });
    // Held until the next step press grants it.
    EXPECT_EQ(frame(8, 0, FrameType::Other, frames[1].data, id, 1), 1);
    stepper.join();
    net->setSocketForTest(-1, false);
    close(fds[0]);
    close(fds[1]);
}

// Pacing: the clock is passed in, so every release time is exact.
struct Pacer {
    NetSearchInfo s;
    uint32_t now = 0;
    explicit Pacer(int speed) { s.eNowPlaySpeed = speed; }
    int at(uint32_t ms, uint32_t second, int ch = 0, float rate = 30.f)
    {
        now = ms;
        return s.canPop(ch, rate, second, false, now);
    }
};

TEST(Pacing, NormalSpeedSpreadsFramesOverTheSecond)
{
    Pacer p(1);
    EXPECT_EQ(p.at(0, 5), 0);  // a new stream second waits for its window
    EXPECT_EQ(p.at(999, 5), 0);
    EXPECT_EQ(p.at(1000, 5), 1);
    EXPECT_EQ(p.at(1020, 5), 0);
    EXPECT_EQ(p.at(1033, 5), 1);
    EXPECT_EQ(p.at(1066, 5), 1);
    EXPECT_EQ(p.at(1070, 5, 1), 1);  // each channel keeps its own times
    EXPECT_EQ(p.at(1080, 5), 0);
    EXPECT_EQ(p.s.dwImageSpeed[0], 33u);
    // The next stream second starts once 1,000 ms of this one have passed.
    EXPECT_EQ(p.at(1900, 6), 0);
    EXPECT_EQ(p.at(2000, 6), 1);
}

TEST(Pacing, LateFramesAreThrownOrReleased)
{
    Pacer p(1);
    p.at(0, 5);
    ASSERT_EQ(p.at(1000, 5), 1);
    EXPECT_EQ(p.at(2001, 5), -1);  // more than the window, less than 1.5 windows
    EXPECT_EQ(p.at(2500, 5), -1);
    EXPECT_EQ(p.at(2501, 5), 1);  // later still: goes out at once
}

TEST(Pacing, DoubleSpeedHalvesIntervalAndWindow)
{
    Pacer p(2);
    EXPECT_EQ(p.at(0, 5), 0);
    EXPECT_EQ(p.at(500, 5), 1);
    EXPECT_EQ(p.at(510, 5), 0);
    EXPECT_EQ(p.at(516, 5), 1);
    EXPECT_EQ(p.s.dwImageSpeed[0], 16u);
    EXPECT_EQ(p.at(900, 6), 0);
    EXPECT_EQ(p.at(1000, 6), 1);
}

TEST(Pacing, UnpacedSpeedsAndFrameSteps)
{
    for (int speed : {1000, 1024, 16, -2, 3000}) {
        Pacer p(speed);
        EXPECT_EQ(p.at(0, 5), 1) << speed;
    }
    Pacer step(3001);
    EXPECT_EQ(step.at(0, 5), 0);
    step.s.dwStepCount[0] = 1;
    EXPECT_EQ(step.at(1, 5), 1);
    EXPECT_EQ(step.at(2, 5), 0);
    // A clock jump of more than ten seconds counts as none.
    Pacer p(1);
    p.at(0, 5);
    EXPECT_EQ(p.at(20000, 5), 0);
}

}  // namespace
