// The test recorder's playback by stream position and its garbled video,
// read over a real socket and decoded by the client's own decoder.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "RecorderTestClient.h"
#include "recorder/TestRecorder.h"
#include "recorder/Timeline.h"

using namespace testrec;
using namespace rectest;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

namespace {

struct Frame {
    int ch = 0;
    bool key = false;
    uint32_t time = 0;
    int nowType = 0;
    int requestId = 0;
    bool picture = false;  // the decoder made one
    std::optional<TimelinePos> pos;
    SteadyClock::time_point at;
};

Bytes speedRecord(int speed, int slow)
{
    Bytes p;
    appendLe16(p, uint16_t(int16_t(speed)));
    p.push_back(uint8_t(slow));
    p.push_back(1);
    return p;
}

Bytes timePayload(uint32_t t)
{
    Bytes p;
    appendLe32(p, t);
    return p;
}

class RecorderPlayback : public ::testing::Test {
protected:
    static constexpr int kFps = 10;
    static constexpr uint32_t kStart = 1705000005;  // second 5 of the 12-second cycle

    // Logs in and plays from `from` as the client starts playback.
    void startPlaying(uint32_t from, RecorderConfig cfg = {})
    {
        cfg.content = ClipContent::Timeline;
        cfg.fps = kFps;
        cfg.channels = 2;
        cfg.echoIntervalMs = 0;
        cfg.streamAudio = false;
        rec = std::make_unique<TestRecorder>(cfg);
        ASSERT_TRUE(rec->start());
        client = std::make_unique<MiniClient>(rec->port());
        ASSERT_TRUE(client->nextCommand(1, 3s));
        command(3, loginPayload("admin", "1234"));
        ASSERT_TRUE(client->nextCommand(4, 3s));
        commands({{6, dataRequest(1, 0, 0)},
                  {13, {}},
                  {6, dataRequest(1, 0, 0x3)},
                  {29, timePayload(from)},
                  {22, {}},
                  {27, speedRecord(1, 0)}});
    }
    void command(uint32_t id, const Bytes& payload) { commands({{id, payload}}); }
    // In one write, as the client's send queue goes out.
    void commands(const std::vector<std::pair<uint32_t, Bytes>>& list)
    {
        Bytes all;
        for (const auto& [id, payload] : list) {
            const Bytes f = buildCommandFrame(id, payload, CmdFormat::V2);
            all.insert(all.end(), f.begin(), f.end());
        }
        client->send(all);
    }
    bool speedTaken(double speed)
    {
        return rec->waitUntil([&](const RecorderStatus& s) { return s.playSpeed == speed; }, 3s);
    }

    // The next video frame of any channel, decoded by that channel's decoder.
    std::optional<Frame> next(milliseconds timeout = 3s)
    {
        for (int i = 0; i < 100; ++i) {
            const auto m = client->next(timeout);
            if (!m)
                return std::nullopt;
            if (!m->media)
                continue;
            const Bytes& b = m->bytes;
            Frame f;
            f.at = SteadyClock::now();
            f.ch = b[4];
            f.key = b[5] == 0;
            f.time = getLe32(&b[8]) + kSeconds2008;
            f.nowType = b[28];
            f.requestId = b[29];
            EXPECT_EQ(Bytes(b.end() - 4, b.end()), bytesOf("NEND"));
            EXPECT_LT(f.ch, 2);
            Rgb seen;
            f.picture = eyes[f.ch & 1].see(Bytes(b.begin() + 32, b.end() - 4), &seen, true);
            if (f.picture)
                f.pos = timelinePosition(seen, kFps);
            // Channel 2 goes right after channel 1 and shows the same.
            if (f.ch == 1)
                EXPECT_TRUE(lastOfFirst && f.pos == lastOfFirst->pos && f.time == lastOfFirst->time);
            else
                lastOfFirst = f;
            return f;
        }
        return std::nullopt;
    }
    // The next frames of channel 1.
    std::vector<Frame> take(size_t n)
    {
        std::vector<Frame> out;
        while (out.size() < n) {
            auto f = next();
            if (!f)
                break;
            if (f->ch == 0)
                out.push_back(*f);
        }
        EXPECT_EQ(out.size(), n);
        return out;
    }
    // Frames until the first of channel 0 that `want` picks (at most 40).
    std::optional<Frame> until(const std::function<bool(const Frame&)>& want)
    {
        for (int i = 0; i < 80; ++i) {
            auto f = next();
            if (!f)
                return std::nullopt;
            if (f->ch == 0 && want(*f))
                return f;
        }
        return std::nullopt;
    }

    std::unique_ptr<TestRecorder> rec;
    std::unique_ptr<MiniClient> client;
    std::optional<Frame> lastOfFirst;
    Eye eyes[2] = {Eye(352, 240), Eye(352, 240)};
};

::testing::AssertionResult shows(const Frame& f, uint32_t second, int picture)
{
    const TimelinePos want{second % uint32_t(timelineCycleSeconds(10)), picture};
    if (f.time == second && f.nowType == 1 && f.key == (picture == 0) && f.pos == want)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "frame at " << f.time << (f.key ? " key" : "") << " now_type "
                                         << f.nowType << " shows " << (f.pos ? int(f.pos->second) : -1) << "/"
                                         << (f.pos ? f.pos->picture : -1) << ", wanted " << second << " ("
                                         << want.second << ")/" << picture;
}

// The frame after `prev` at speed 1 or slower.
bool followsOn(const Frame& prev, const Frame& f)
{
    const int p = prev.pos ? prev.pos->picture : -1;
    return p + 1 < 10 ? shows(f, prev.time, p + 1) : shows(f, prev.time + 1, 0);
}

TEST_F(RecorderPlayback, ForwardSendsEveryPictureOnceAtSpeedOneOrSlowerAndKeyFramesFaster)
{
    ASSERT_NO_FATAL_FAILURE(startPlaying(kStart));
    std::vector<Frame> run = take(15);
    ASSERT_EQ(run.size(), 15u);
    for (int i = 0; i < 15; ++i)
        EXPECT_TRUE(shows(run[size_t(i)], kStart + uint32_t(i / kFps), i % kFps)) << i;
    EXPECT_EQ(run[0].requestId, 1);

    // Slow: the same pictures follow on, half as fast.
    command(27, speedRecord(0, 50));
    ASSERT_TRUE(speedTaken(0.5));
    std::vector<Frame> slow = take(8);
    ASSERT_EQ(slow.size(), 8u);
    EXPECT_TRUE(followsOn(run.back(), slow[0]));
    for (size_t i = 1; i < slow.size(); ++i)
        EXPECT_TRUE(followsOn(slow[i - 1], slow[i])) << i;
    EXPECT_GE(slow.back().at - slow[3].at, 4 * 200ms * 3 / 4);

    // Fast: only the key frame of each second that follows.
    command(27, speedRecord(4, 0));
    ASSERT_TRUE(speedTaken(4));
    auto first = until([](const Frame& f) { return f.key; });
    ASSERT_TRUE(first);
    EXPECT_TRUE(shows(*first, slow.back().time + 1, 0)) << "the next second's key frame";
    std::vector<Frame> fast = take(6);
    ASSERT_EQ(fast.size(), 6u);
    for (size_t i = 0; i < fast.size(); ++i)
        EXPECT_TRUE(shows(fast[i], first->time + uint32_t(i) + 1, 0)) << i;
}

TEST_F(RecorderPlayback, ReverseSendsTheKeyFrameOfEachSecondGoingBack)
{
    ASSERT_NO_FATAL_FAILURE(startPlaying(kStart + 3));
    std::vector<Frame> run = take(4);  // stands at picture 3
    command(26, speedRecord(-2, 0));
    ASSERT_TRUE(speedTaken(-2));
    auto back = until([](const Frame& f) { return f.key; });
    ASSERT_TRUE(back);
    EXPECT_TRUE(shows(*back, kStart + 3, 0)) << "the key frame of the second it stood in";
    std::vector<Frame> keys = take(4);
    ASSERT_EQ(keys.size(), 4u);
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_TRUE(shows(keys[i], kStart + 2 - uint32_t(i), 0)) << i;

    // As the client starts reverse play: a new request, a seek, then the speed.
    commands({{23, {}}, {6, dataRequest(2, 0, 0x3)}, {29, timePayload(kStart + 40)}, {26, speedRecord(-1, 0)}});
    auto sought = until([](const Frame& f) { return f.requestId == 2 && f.time == kStart + 40; });
    ASSERT_TRUE(sought);
    EXPECT_TRUE(shows(*sought, kStart + 40, 0));
    const auto after = take(1);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_TRUE(shows(after[0], kStart + 39, 0));
}

TEST_F(RecorderPlayback, SeekNewRequestAndPauseRestartAtTheKeyFrame)
{
    ASSERT_NO_FATAL_FAILURE(startPlaying(kStart));
    take(13);

    // A seek while playing, then play again: from the key frame sought.
    commands({{29, timePayload(kStart + 100)}, {27, speedRecord(1, 0)}});
    auto sought = until([](const Frame& f) { return f.time == kStart + 100; });
    ASSERT_TRUE(sought);
    EXPECT_TRUE(shows(*sought, kStart + 100, 0));
    std::vector<Frame> run = take(4);
    ASSERT_EQ(run.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(shows(run[size_t(i)], kStart + 100, i + 1)) << i;

    // A new request id: the key frame of the current second, under the new id.
    command(6, dataRequest(3, 0, 0x3));
    auto renewed = until([](const Frame& f) { return f.requestId == 3; });
    ASSERT_TRUE(renewed);
    EXPECT_TRUE(shows(*renewed, kStart + 100, 0));

    // Pause: nothing until play resumes, then on from where it stood.
    command(25, {});
    ASSERT_TRUE(rec->waitUntil([](const RecorderStatus& s) { return s.play == PlayState::Paused; }, 3s));
    std::optional<Frame> last = renewed;
    while (auto f = next(300ms))
        if (f->ch == 0)
            last = f;
    EXPECT_FALSE(next(800ms)) << "a frame while paused";
    const StreamPosition stood = rec->status().lastPlayed[0];
    EXPECT_EQ(stood.second, last->time);
    EXPECT_EQ(stood.picture, last->pos ? last->pos->picture : -2);
    command(27, speedRecord(1, 0));
    const auto resumed = take(1);
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_TRUE(followsOn(*last, resumed[0]));
}

// ---- pictures the decoder rejects ----

TEST(RecorderGarble, GarbledFramesGiveNoPictureAndGoodOnesStartAtAKeyFrame)
{
    RecorderConfig cfg;
    cfg.garbleVideo = true;
    cfg.echoIntervalMs = 0;
    cfg.channels = 1;
    cfg.fps = 30;
    cfg.streamAudio = false;
    TestRecorder rec(cfg);
    ASSERT_TRUE(rec.start());
    MiniClient client(rec.port());
    ASSERT_TRUE(client.nextCommand(1, 3s));
    client.send(buildCommandFrame(3, loginPayload("admin", "1234"), CmdFormat::V2));
    ASSERT_TRUE(client.nextCommand(4, 3s));
    client.send(buildCommandFrame(6, dataRequest(1, 0, 0x1), CmdFormat::V2));

    Eye eye(352, 240);
    int keys = 0, others = 0;
    // Decodes frames until n give a picture or n give none; answers the
    // frames with a picture, after checking the first is a key frame.
    const auto watch = [&](bool pictures, int n) {
        int matched = 0, firstPicture = -1;
        for (int i = 0; i < 400 && matched < n; ++i) {
            const auto m = client.next(3s);
            if (!m || !m->media)
                continue;
            const Bytes& b = m->bytes;
            EXPECT_EQ(getLe32(&b[12]) + 36, b.size());
            EXPECT_EQ(Bytes(b.end() - 4, b.end()), bytesOf("NEND"));
            (b[5] == 0 ? keys : others)++;
            Rgb seen;
            const bool got = eye.see(Bytes(b.begin() + 32, b.end() - 4), &seen, true);
            if (got && firstPicture < 0) {
                firstPicture = i;
                EXPECT_EQ(b[5], 0) << "good frames start with a key frame";
            }
            if (got == pictures)
                ++matched;
            else if (matched > 0)
                ADD_FAILURE() << (got ? "a picture from a garbled frame" : "no picture from a good frame");
        }
        EXPECT_EQ(matched, n);
    };
    watch(false, 12);  // garbled from the start
    rec.setGarbleVideo(false);
    watch(true, 12);
    rec.setGarbleVideo(true);
    watch(false, 12);  // garbled after good frames
    rec.setGarbleVideo(false);
    watch(true, 12);
    EXPECT_GT(others, 0);
}

}  // namespace
