// Frame delivery: which frames reach the decoder (request filter, skip rule,
// covert channels) and how playback frames are paced.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

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
        net->waitDecodesIdle();
        int n = 0;
        while (videoQ.tryGetReadBuffer()) {
            videoQ.putReadBuffer();
            ++n;
        }
        return n;
    }
    // Sends one frame without waiting for its decode.
    void send(int ch, FrameType type, const Bytes& coded, uint32_t time, int reqId = 0, int nowType = 0)
    {
        MediaHeader h;
        h.group = 8;
        h.channel = ch;
        h.frameType = type;
        h.requestId = reqId;
        h.nowType = nowType;
        h.time = time;
        h.rate = 30;
        feed(testrec::buildMediaFrame(h, coded));
    }
    // Times of the pictures in the queue, oldest first; the queue is emptied.
    std::vector<uint32_t> pictures()
    {
        net->waitDecodesIdle();
        std::vector<uint32_t> times;
        while (tag_FrameV_Orgin* f = videoQ.tryGetReadBuffer()) {
            times.push_back(f->time);
            videoQ.putReadBuffer();
        }
        return times;
    }
    // Holds every decode in onDecode until release().
    void holdDecodes()
    {
        net->onDecode = [this](const tagNxPacket& pk) {
            std::unique_lock<std::mutex> lock(holdLock);
            decoded.push_back(pk.time);
            holdCv.notify_all();
            holdCv.wait(lock, [this] { return !holding; });
        };
    }
    void waitDecodeStarted(size_t n)
    {
        std::unique_lock<std::mutex> lock(holdLock);
        holdCv.wait(lock, [&] { return decoded.size() >= n; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(holdLock);
        holding = false;
        holdCv.notify_all();
    }
    std::vector<uint32_t> decodedTimes()
    {
        std::lock_guard<std::mutex> lock(holdLock);
        return decoded;
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
    std::mutex holdLock;
    std::condition_variable holdCv;
    bool holding = true;
    std::vector<uint32_t> decoded;
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

    // A new stream's first frame goes at once; the next one of its second
    // waits for its time, which the clock does not reach.
    EXPECT_EQ(frame(8, 0, FrameType::Key, frames[0].data, id, 1), 1);
    std::thread changer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        net->PlaySpeed(2);
        clockMs = 40;  // past the frame's time at either speed
    });
    EXPECT_EQ(frame(8, 0, FrameType::Other, frames[1].data, id, 1), 1);
    changer.join();
    EXPECT_EQ(net->searchInfo().eNowPlaySpeed, 2);
    EXPECT_NE(net->decodeGate(0), 0);
    clockMs = 70;
    EXPECT_EQ(frame(8, 0, FrameType::Other, frames[2].data, id, 1), 1);

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

// Live view: a channel whose decodes pile up skips to its next key frame;
// the pictures already handed over still come, in order, and the next one
// after the skip is the key frame.
TEST_F(Delivery, LiveChannelBehindItsDecoderSkipsToItsNextKeyFrame)
{
    open(1);
    net->setDecodeThreads(1);
    holdDecodes();
    const auto& f = clip().frames();
    send(0, FrameType::Key, f[0].data, 1);
    waitDecodeStarted(1);
    for (uint32_t t = 2; t <= NxNet::kLivePendingMax; ++t)
        send(0, FrameType::Other, f[t - 1].data, t);
    // Channel 1 is not held back by channel 0.
    send(1, FrameType::Key, f[0].data, 50);
    EXPECT_NE(net->decodeGate(0), 0);
    const size_t k = NxNet::kLivePendingMax;
    send(0, FrameType::Other, f[k].data, 10);  // one too many: skip
    EXPECT_EQ(net->decodeGate(0), 0);
    send(0, FrameType::Other, f[k + 1].data, 11);
    release();
    std::vector<uint32_t> got = pictures();
    std::vector<uint32_t> ch0, want;
    for (uint32_t t : got)
        if (t != 50)
            ch0.push_back(t);
    for (uint32_t t = 1; t <= NxNet::kLivePendingMax; ++t)
        want.push_back(t);
    EXPECT_EQ(ch0, want);
    EXPECT_EQ(std::count(got.begin(), got.end(), 50u), 1);
    send(0, FrameType::Other, f[k + 2].data, 12);
    send(0, FrameType::Key, f[0].data, 13);
    EXPECT_EQ(pictures(), std::vector<uint32_t>{13});
    std::vector<uint32_t> seen = decodedTimes();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 10u) + std::count(seen.begin(), seen.end(), 11u) +
                  std::count(seen.begin(), seen.end(), 12u),
              0);
}

// Live view: a channel that finds every slot taken, when its frame arrives
// or when its decode starts, skips to its next key frame instead of waiting
// for the view.
TEST_F(Delivery, LiveChannelFindingNoFreeSlotSkipsToItsNextKeyFrame)
{
    open(1);
    net->setDecodeThreads(1);
    const auto& f = clip().frames();
    send(0, FrameType::Key, f[0].data, 1);
    EXPECT_EQ(pictures(), std::vector<uint32_t>{1});
    std::vector<tag_FrameV_Orgin*> held;
    while (tag_FrameV_Orgin* s = videoQ.tryGetWriteBuffer())
        held.push_back(s);
    send(0, FrameType::Other, f[1].data, 2);
    EXPECT_EQ(net->decodeGate(0), 0);
    for (tag_FrameV_Orgin* s : held)
        videoQ.cancelWriteBuffer(s);
    send(0, FrameType::Other, f[2].data, 3);
    send(0, FrameType::Key, f[0].data, 4);
    send(0, FrameType::Other, f[1].data, 5);
    EXPECT_EQ(pictures(), (std::vector<uint32_t>{4, 5}));

    // The slots run out while pictures wait for the decoder: the first one
    // finds none, the rest of the channel's pictures are dropped with it.
    holdDecodes();
    send(1, FrameType::Key, f[0].data, 20);
    waitDecodeStarted(1);
    send(0, FrameType::Other, f[2].data, 6);
    send(0, FrameType::Other, f[3].data, 7);
    while (tag_FrameV_Orgin* s = videoQ.tryGetWriteBuffer())
        held.push_back(s);  // channel 1's decode holds its slot already
    release();
    EXPECT_EQ(pictures(), std::vector<uint32_t>{20});
    for (tag_FrameV_Orgin* s : held)
        videoQ.cancelWriteBuffer(s);
    send(0, FrameType::Other, f[4].data, 8);
    EXPECT_EQ(net->decodeGate(0), 0);
    send(0, FrameType::Key, f[0].data, 9);
    EXPECT_EQ(pictures(), std::vector<uint32_t>{9});
    EXPECT_EQ(decodedTimes(), (std::vector<uint32_t>{20, 9}));
}

// Playback keeps its back-pressure: with no free slot the worker waits and
// drops nothing; telling the link to stop ends the wait.
TEST_F(Delivery, PlaybackWaitsForAFreeSlot)
{
    open(1);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    net->setSocketForTest(fds[0], true);
    net->RequestSearch(0, 1700000000);
    net->PlaySpeed(1024);  // unpaced
    const int id = net->requestId();
    const auto& f = clip().frames();
    std::vector<tag_FrameV_Orgin*> held;
    while (tag_FrameV_Orgin* s = videoQ.tryGetWriteBuffer())
        held.push_back(s);
    std::atomic<bool> done{false};
    std::thread sender([&] {
        send(0, FrameType::Key, f[0].data, 1, id, 1);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done.load());
    videoQ.cancelWriteBuffer(held.back());
    held.pop_back();
    sender.join();
    EXPECT_EQ(pictures(), std::vector<uint32_t>{1});
    EXPECT_NE(net->decodeGate(0), 0);

    held.push_back(videoQ.tryGetWriteBuffer());
    std::thread stopped([&] { send(0, FrameType::Other, f[1].data, 2, id, 1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    net->StopThread();
    stopped.join();
    for (tag_FrameV_Orgin* s : held)
        videoQ.cancelWriteBuffer(s);
    EXPECT_TRUE(pictures().empty());
    net->setSocketForTest(-1, false);
    close(fds[0]);
    close(fds[1]);
}

// Stopping the link drops the queued decodes and waits for the running one,
// and a stopped link parses nothing more. A slot taken before the queue's
// reset is not shown after it.
TEST_F(Delivery, StopAndResetWithDecodesInFlight)
{
    open(1);
    net->setDecodeThreads(1);
    holdDecodes();
    const auto& f = clip().frames();
    send(0, FrameType::Key, f[0].data, 1);
    send(0, FrameType::Other, f[1].data, 2);
    send(0, FrameType::Other, f[2].data, 3);
    waitDecodeStarted(1);
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        release();
    });
    net->StopThread();
    releaser.join();
    EXPECT_EQ(decodedTimes(), std::vector<uint32_t>{1});
    EXPECT_EQ(videoQ.freeCount(), RingBuffer::capacity() - 1);
    EXPECT_EQ(pictures(), std::vector<uint32_t>{1});
    send(0, FrameType::Key, f[0].data, 4);
    net->waitDecodesIdle();
    EXPECT_EQ(decodedTimes(), std::vector<uint32_t>{1});

    // A fresh link: its held decode commits after the queue was reset.
    open(1);
    holding = true;
    decoded.clear();
    holdDecodes();
    send(0, FrameType::Key, f[0].data, 7);
    waitDecodeStarted(1);
    videoQ.reset();
    release();
    EXPECT_TRUE(pictures().empty());
    EXPECT_EQ(videoQ.freeCount(), RingBuffer::capacity());
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
