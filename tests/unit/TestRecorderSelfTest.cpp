// Checks of the test recorder itself: its framing, its pictures, sessions
// over a real socket read by a small client (RecorderTestClient.h), its slow
// login, and the slow link in front of it.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "RecorderTestClient.h"
#include "recorder/AnnexB.h"
#include "recorder/CommandParser.h"
#include "recorder/Crypto.h"
#include "recorder/DelayProxy.h"
#include "recorder/H264Clip.h"
#include "recorder/MediaFrame.h"
#include "recorder/TestRecorder.h"
#include "recorder/Timeline.h"

using namespace testrec;
using namespace rectest;
using std::chrono::milliseconds;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

namespace {

// ---- framing ----

TEST(RecorderFraming, CommandFramesHaveTheDocumentedBytes)
{
    EXPECT_EQ(buildCommandFrame(0x0105, {}, CmdFormat::V1),
              (Bytes{0x00, 0x00, 0xAD, 0xC2, 0x05, 0xFF, 0x01, 0xFF, 0x00, 0x00, 0x01, 0xB4}));
    EXPECT_EQ(buildCommandFrame(12, {0x41}, CmdFormat::V1),
              (Bytes{0x00, 0x00, 0xAD, 0xC2, 12, 0xFF, 0, 0xFF, 0x41, 0xFF, 0x00, 0x00, 0x01, 0xB4}));
    EXPECT_EQ(buildCommandFrame(0x01020304, {0xAA, 0xBB}, CmdFormat::V2),
              (Bytes{0x00, 0x00, 0xAD, 0xC3, 0x04, 0x03, 0x02, 0x01, 0xAA, 0xBB, 'N', 'E', 'N', 'D'}));
}

TEST(RecorderFraming, ParserRoundTripsBothFormatsThroughGarbageAndOneBytePieces)
{
    Bytes stream = TestRecorder::garbage(7, 3);
    const Bytes nendInside = {'N', 'E', 'N', 'D', 1, 2, 3, 4};  // an 8-byte payload holding "NEND"
    const std::vector<std::pair<uint32_t, Bytes>> sent = {
        {6, Bytes(24, 0x01)}, {12, {}}, {27, {0x01, 0x00, 0x00, 0x01}}, {29, nendInside}};
    for (size_t i = 0; i < sent.size(); ++i) {
        const Bytes f = buildCommandFrame(sent[i].first, sent[i].second, i % 2 ? CmdFormat::V1 : CmdFormat::V2);
        stream.insert(stream.end(), f.begin(), f.end());
        const Bytes junk = TestRecorder::garbage(3, uint32_t(i + 10));
        stream.insert(stream.end(), junk.begin(), junk.end());
    }
    CommandParser parser([](uint32_t id) { return id == 29 ? 8 : requestPayloadSize(id, 30); });
    for (uint8_t b : stream)
        parser.feed(&b, 1);
    const auto got = parser.take();
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(got[i].id, sent[i].first);
        EXPECT_EQ(got[i].payload, sent[i].second);
        EXPECT_EQ(got[i].format, i % 2 ? CmdFormat::V1 : CmdFormat::V2);
        EXPECT_EQ(got[i].raw, buildCommandFrame(sent[i].first, sent[i].second, got[i].format));
    }
    EXPECT_EQ(parser.skippedBytes(), 7u + 3u * sent.size());
}

TEST(RecorderFraming, MediaHeadersFollowTheGroupLayouts)
{
    MediaHeader h;
    h.group = 7;
    h.time = kSeconds2008 + 5;
    h.channel = 3;
    h.frameType = FrameType::Other;
    h.nowType = 1;
    h.requestId = 9;
    Bytes f = buildMediaFrame(h, Bytes(10, 0xEE));
    ASSERT_EQ(f.size(), 32u + 10u + 4u);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 4), bytesOf("NDAV"));
    EXPECT_EQ(f[4], 3);
    EXPECT_EQ(f[5], 1);
    EXPECT_EQ(getLe32(&f[8]), 5u);
    EXPECT_EQ(getLe32(&f[12]), 10u);
    EXPECT_EQ(f[28], 1);
    EXPECT_EQ(f[29], 9);
    EXPECT_EQ(Bytes(f.end() - 4, f.end()), bytesOf("NEND"));

    h.group = 1;  // F3: size in 32-byte units, coded data at 64
    f = buildMediaFrame(h, Bytes(40, 0xEE));
    EXPECT_EQ(getLe16(&f[12]) * 32u, f.size() - 36);
    EXPECT_EQ(f[64], 0xEE);
    EXPECT_EQ(f[8], 0x23);
    EXPECT_EQ(f[25] >> 4, 9);
    EXPECT_EQ(Bytes(f.end() - 4, f.end()), (Bytes{0x00, 0x00, 0x01, 0xB4}));

    h.group = 8;  // BADJ: big-endian, audio data at 48
    h.frameType = FrameType::Audio;
    f = buildMediaFrame(h, Bytes(240, 0xEE));
    EXPECT_EQ(getBe16(&f[12]), 64);
    EXPECT_EQ(getBe32(&f[4]), h.time);
    EXPECT_EQ(f[48], 0xEE);
    EXPECT_EQ(f[47], 0x00);
}

TEST(RecorderFraming, KeyFrameScramblingInverts)
{
    Bytes data(100);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7);
    for (int group : {7, 11}) {
        Bytes s = data;
        ASSERT_TRUE(scrambleKeyFrame(s, group));
        EXPECT_NE(Bytes(s.begin(), s.begin() + 64), Bytes(data.begin(), data.begin() + 64));
        EXPECT_EQ(Bytes(s.begin() + 64, s.end()), Bytes(data.begin() + 64, data.end()));
        if (group == 11) {
            uint8_t plain[64];
            ASSERT_TRUE(aesDecrypt(s.data(), 64, plain));
            EXPECT_EQ(Bytes(plain, plain + 64), Bytes(data.begin(), data.begin() + 64));
        } else {
            ASSERT_TRUE(scrambleKeyFrame(s, group));
            EXPECT_EQ(s, data);
        }
    }
}

// ---- pictures ----

struct Decoder {
    AVCodecContext* ctx = nullptr;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    Decoder()
    {
        const AVCodec* c = avcodec_find_decoder(AV_CODEC_ID_H264);
        ctx = avcodec_alloc_context3(c);
        avcodec_open2(ctx, c, nullptr);
    }
    ~Decoder()
    {
        avcodec_free_context(&ctx);
        av_packet_free(&pkt);
        av_frame_free(&frame);
    }
    bool decode(Bytes data)
    {
        pkt->data = data.data();
        pkt->size = int(data.size());
        return avcodec_send_packet(ctx, pkt) == 0 && avcodec_receive_frame(ctx, frame) == 0;
    }
    int plane(int p, int x, int y) const { return frame->data[p][y * frame->linesize[p] + x]; }
};

// Every picture of the loop, played twice, decodes to the channel colour;
// with fixed parameter sets only the fixed pair goes in front.
void expectClipDecodes(int w, int h, bool fixedSets, int ch)
{
    ClipSpec spec;
    spec.width = w;
    spec.height = h;
    spec.colour = channelColour(ch);
    spec.fixedParameterSets = fixedSets;
    const auto clip = H264Clip::get(spec);
    ASSERT_TRUE(clip->ok()) << clip->error();
    const Yuv want = toYuv(channelColour(ch));
    Decoder d;
    for (int loop = 0; loop < 2; ++loop)
        for (size_t i = 0; i < clip->frames().size(); ++i) {
            Bytes data = clip->frames()[i].data;
            for (const auto& nal : splitAnnexB(data))
                EXPECT_TRUE(!fixedSets || (nalType(nal) != 7 && nalType(nal) != 8));
            if (fixedSets && loop == 0 && i == 0) {
                const Bytes ps = fixedParameterSets(w, h);
                data.insert(data.begin(), ps.begin(), ps.end());
            }
            ASSERT_TRUE(d.decode(data)) << w << "x" << h << " picture " << i;
            ASSERT_EQ(d.frame->width, w);
            ASSERT_EQ(d.frame->height, h);
            EXPECT_NEAR(d.plane(0, w - 1, h - 1), want.y, 3);
            EXPECT_NEAR(d.plane(1, w / 4, h / 4), want.u, 3);
            EXPECT_NEAR(d.plane(2, w / 2 - 1, h / 2 - 1), want.v, 3);
        }
}

TEST(RecorderPictures, SlicesDecodeBehindEveryFixedParameterSet)
{
    const int sizes[6][2] = {{704, 480}, {704, 240}, {352, 240}, {704, 576}, {704, 288}, {352, 288}};
    for (int i = 0; i < 6; ++i)
        expectClipDecodes(sizes[i][0], sizes[i][1], true, i * 2);
}

TEST(RecorderPictures, OwnParameterSetStreamsDecode)
{
    expectClipDecodes(352, 240, false, 5);
    expectClipDecodes(640, 360, false, 9);
}

// ---- a session over a socket ----


TEST(RecorderSession, AnswersLoginAndStreamsRequestedChannels)
{
    RecorderConfig cfg;
    cfg.echoIntervalMs = 50;
    cfg.permissionMask = 0x14;
    TestRecorder rec(cfg);
    ASSERT_TRUE(rec.start());
    MiniClient client(rec.port());
    ASSERT_TRUE(client.connected());

    const auto hello = client.nextCommand(1, milliseconds(3000));
    ASSERT_TRUE(hello);
    ASSERT_EQ(hello->bytes.size(), 552u + 12u);
    EXPECT_EQ(getLe32(&hello->bytes[8]), 61u);
    EXPECT_EQ(getLe16(&hello->bytes[8 + 12]), 30);

    client.send(buildCommandFrame(3, loginPayload("admin", "1234"), CmdFormat::V2));
    const auto accepted = client.nextCommand(4, milliseconds(3000));
    ASSERT_TRUE(accepted);
    EXPECT_EQ(getLe32(&accepted->bytes[12]), 0x14u);
    EXPECT_EQ(rec.waitForLogin(milliseconds(3000)), LoginResult::Accepted);

    client.send(buildCommandFrame(6, dataRequest(5, 0, 0x0006), CmdFormat::V2));
    std::array<int, 16> frames{};
    bool echoed = false;
    for (int i = 0; i < 500 && (frames[1] < 3 || frames[2] < 3 || !echoed); ++i) {
        const auto m = client.next(milliseconds(3000));
        ASSERT_TRUE(m);
        if (!m->media && m->id == 11) {
            client.send(buildCommandFrame(12, {}, CmdFormat::V2));
            echoed = true;
        }
        if (!m->media)
            continue;
        const int ch = m->bytes[4];
        ASSERT_TRUE(ch == 1 || ch == 2) << ch;
        if (frames[size_t(ch)]++ == 0) {
            EXPECT_EQ(m->bytes[5], 0) << "first frame of a channel is a key frame";
        }
        EXPECT_EQ(m->bytes[29], 5);
        EXPECT_EQ(m->bytes[28], 0);
        EXPECT_EQ(Bytes(m->bytes.end() - 4, m->bytes.end()), bytesOf("NEND"));
    }
    EXPECT_TRUE(rec.waitForEchoReplies(1, milliseconds(3000)));
    const auto req = rec.waitForCommand(6, milliseconds(1000));
    ASSERT_TRUE(req);
    EXPECT_EQ(parseDataRequest(req->payload)->mask(), 0x0006);
    EXPECT_EQ(rec.status().liveMask, 0x0006);
    rec.stop();  // with the client still connected
}

TEST(RecorderSession, RejectsBadLoginsWithTheirReasons)
{
    TestRecorder rec;
    ASSERT_TRUE(rec.start());
    const std::pair<const char*, int> cases[] = {{"admin", 21}, {"nobody", 22}};
    for (const auto& [user, reason] : cases) {
        MiniClient client(rec.port());
        ASSERT_TRUE(client.nextCommand(1, milliseconds(3000)));
        client.send(buildCommandFrame(3, loginPayload(user, "wrong"), CmdFormat::V2));
        const auto m = client.nextCommand(5, milliseconds(3000));
        ASSERT_TRUE(m);
        EXPECT_EQ(m->bytes[8], reason);
    }
}

TEST(RecorderSession, AnswersSearchRequests)
{
    TestRecorder rec;
    ASSERT_TRUE(rec.start());
    MiniClient client(rec.port());
    ASSERT_TRUE(client.nextCommand(1, milliseconds(3000)));
    Bytes range;
    appendLe32(range, 3);
    appendLe32(range, 0);
    client.send(buildCommandFrame(15, range, CmdFormat::V2));
    const auto r = client.nextCommand(17, milliseconds(3000));
    ASSERT_TRUE(r);
    EXPECT_EQ(getLe32(&r->bytes[8]), rec.config().recordStart);
    EXPECT_EQ(getLe32(&r->bytes[12]), rec.config().recordEnd);

    Bytes day;
    appendLe32(day, 1);
    appendLe32(day, civilToTime(2024, 1, 12));
    client.send(buildCommandFrame(15, day, CmdFormat::V2));
    const auto d = client.nextCommand(19, milliseconds(3000));
    ASSERT_TRUE(d);
    ASSERT_EQ(d->bytes.size(), 17388u + 12u);
    EXPECT_EQ(getLe32(&d->bytes[12]), 11u);      // slot of the 12th
    EXPECT_EQ(getLe16(&d->bytes[16]), 0x000F);  // four channels recorded that day
}

TEST(RecorderSession, FilledBacklogKeepsConnectsPending)
{
    BlockedListener blocked;
    ASSERT_TRUE(blocked.ok());
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(blocked.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int rc = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ASSERT_TRUE(rc < 0 && errno == EINPROGRESS);
    pollfd p{fd, POLLOUT, 0};
    EXPECT_EQ(poll(&p, 1, 300), 0);
    close(fd);
}

// ---- timeline pictures ----

TEST(RecorderTimeline, ColoursTellThePositionAndNothingElseMatches)
{
    for (int fps : {1, 7, 10, 25, 30, 60}) {
        SCOPED_TRACE(fps);
        const int cycle = timelineCycleSeconds(fps);
        ASSERT_GE(cycle * fps, 64);
        for (uint32_t t = 1000; t < 1000 + uint32_t(cycle) + 1; ++t)
            for (int k = 0; k < fps; ++k) {
                const Rgb c = timelineColour(t, k, fps);
                const TimelinePos want{t % uint32_t(cycle), k};
                // Within the tolerance either way it still reads the same.
                for (int d : {-kTimelineTolerance, 0, kTimelineTolerance}) {
                    const auto shift = [d](uint8_t v) { return uint8_t(std::clamp(int(v) + d, 0, 255)); };
                    const auto seen = timelinePosition({shift(c.r), shift(c.g), shift(c.b)}, fps);
                    ASSERT_TRUE(seen) << t << "/" << k << " off by " << d;
                    EXPECT_EQ(*seen, want) << t << "/" << k << " off by " << d;
                }
            }
        EXPECT_FALSE(timelinePosition({0, 0, 0}, fps)) << "black";
        EXPECT_FALSE(timelinePosition({255, 255, 255}, fps)) << "white";
        EXPECT_FALSE(timelinePosition({56, 32, 32}, fps)) << "between two levels";
    }
    // A colour past the cycle of a faster rate is no position of it.
    EXPECT_FALSE(timelinePosition(timelineColour(124, 0, 1), 60));
}

TEST(RecorderTimeline, ClipDecodesToItsPositionsWithAKeyFrameEverySecond)
{
    struct Case {
        int w, h, fps;
        bool fixedSets;
    };
    for (const Case c : {Case{352, 240, 10, true}, Case{640, 360, 25, false}}) {
        SCOPED_TRACE(c.fps);
        ClipSpec spec;
        spec.width = c.w;
        spec.height = c.h;
        spec.fps = spec.gop = c.fps;
        spec.content = ClipContent::Timeline;
        spec.fixedParameterSets = c.fixedSets;
        const auto clip = H264Clip::get(spec);
        ASSERT_TRUE(clip->ok()) << clip->error();
        const int cycle = timelineCycleSeconds(c.fps);
        ASSERT_EQ(int(clip->frames().size()), cycle * c.fps);
        Eye eye(c.w, c.h);
        for (int loop = 0; loop < 2; ++loop)
            for (int i = 0; i < cycle * c.fps; ++i) {
                const EncodedFrame& f = clip->frames()[size_t(i)];
                EXPECT_EQ(f.key, i % c.fps == 0) << i;
                Rgb seen;
                ASSERT_TRUE(eye.see(f.data, &seen, c.fixedSets)) << i;
                const Rgb want = timelineColour(uint32_t(i / c.fps), i % c.fps, c.fps);
                EXPECT_NEAR(seen.r, want.r, 10) << i;
                EXPECT_NEAR(seen.g, want.g, 10) << i;
                EXPECT_NEAR(seen.b, want.b, 10) << i;
                EXPECT_EQ(timelinePosition(seen, c.fps), (TimelinePos{uint32_t(i / c.fps), i % c.fps})) << i;
            }
    }
}

// ---- slow login ----

TEST(RecorderSession, SlowLoginIsAnsweredAfterItsDelayAndStopDoesNotWait)
{
    RecorderConfig cfg;
    cfg.loginDelayMs = 600;
    TestRecorder rec(cfg);
    ASSERT_TRUE(rec.start());
    {
        MiniClient client(rec.port());
        ASSERT_TRUE(client.nextCommand(1, 3s));
        const auto asked = SteadyClock::now();
        client.send(buildCommandFrame(3, loginPayload("admin", "1234"), CmdFormat::V2));
        ASSERT_TRUE(rec.waitForCommand(3, 3s));
        EXPECT_EQ(rec.status().login, LoginResult::None);
        ASSERT_TRUE(client.nextCommand(4, 5s));
        EXPECT_GE(SteadyClock::now() - asked, 600ms);
        EXPECT_EQ(rec.waitForLogin(3s), LoginResult::Accepted);
    }
    ASSERT_TRUE(rec.waitForDisconnect(3s));
    rec.updateConfig([](RecorderConfig& c) { c.loginDelayMs = 60000; });
    {
        MiniClient wrong(rec.port());
        ASSERT_TRUE(wrong.nextCommand(1, 3s));
        wrong.send(buildCommandFrame(3, loginPayload("admin", "nope"), CmdFormat::V2));
        EXPECT_TRUE(wrong.nextCommand(5, 5s)) << "a wrong login is answered at once";
    }
    ASSERT_TRUE(rec.waitForDisconnect(3s));
    MiniClient waiting(rec.port());
    ASSERT_TRUE(waiting.nextCommand(1, 3s));
    waiting.send(buildCommandFrame(3, loginPayload("admin", "1234"), CmdFormat::V2));
    ASSERT_TRUE(rec.waitForCommand(3, 3s, 3));
    const auto stopping = SteadyClock::now();
    rec.stop();
    EXPECT_LT(SteadyClock::now() - stopping, 10s);
}

// ---- slow link ----

int connectLoopbackBlocking(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

int acceptWithin(int listenFd, milliseconds timeout)
{
    pollfd p{listenFd, POLLIN, 0};
    if (poll(&p, 1, int(timeout.count())) != 1)
        return -1;
    return accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
}

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(i * 7 + seed + i / 251);
    return b;
}

// Reads until n bytes came or the peer closed; the time the first byte
// came and whether a close followed (within the timeout).
struct Received {
    Bytes bytes;
    SteadyClock::time_point first{}, closed{};
};
Received receive(int fd, size_t n, bool thenClose, milliseconds timeout)
{
    Received r;
    const auto deadline = SteadyClock::now() + timeout;
    while (SteadyClock::now() < deadline) {
        if (r.bytes.size() >= n && !thenClose)
            break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) != 1)
            continue;
        uint8_t buf[65536];
        const ssize_t k = recv(fd, buf, sizeof buf, 0);
        if (k <= 0) {
            r.closed = SteadyClock::now();
            break;
        }
        if (r.bytes.empty())
            r.first = SteadyClock::now();
        r.bytes.insert(r.bytes.end(), buf, buf + k);
    }
    return r;
}

TEST(DelayProxyTest, PassesBytesInOrderAfterTheDelayAndThenTheClose)
{
    uint16_t targetPort = 0;
    const int listenFd = listenLoopback(0, 4, &targetPort);
    ASSERT_GE(listenFd, 0);
    constexpr auto kDelay = 500ms;
    DelayProxy proxy(targetPort, kDelay);
    ASSERT_TRUE(proxy.start());
    const int client = connectLoopbackBlocking(proxy.port());
    const int target = acceptWithin(listenFd, 3s);
    ASSERT_GE(target, 0);
    EXPECT_EQ(proxy.connections(), 1);

    // Both ways, a large block: whole, in order, none of it early.
    const Bytes up = pattern(3 << 20, 1), down = pattern(200000, 2);
    const auto sent = SteadyClock::now();
    ASSERT_EQ(::send(client, up.data(), up.size(), MSG_NOSIGNAL), ssize_t(up.size()));
    ASSERT_EQ(::send(target, down.data(), down.size(), MSG_NOSIGNAL), ssize_t(down.size()));
    const Received atTarget = receive(target, up.size(), false, 10s);
    const Received atClient = receive(client, down.size(), false, 10s);
    EXPECT_TRUE(atTarget.bytes == up);
    EXPECT_TRUE(atClient.bytes == down);
    EXPECT_GE(atTarget.first - sent, kDelay);
    EXPECT_GE(atClient.first - sent, kDelay);
    EXPECT_LT(atTarget.first - sent, kDelay + 5s);

    // A half-close travels behind its bytes; waiting costs no CPU.
    const Bytes last = pattern(1000, 3);
    const double cpu = proxy.cpuSeconds();
    const auto closing = SteadyClock::now();
    ASSERT_EQ(::send(client, last.data(), last.size(), MSG_NOSIGNAL), ssize_t(last.size()));
    shutdown(client, SHUT_WR);
    const Received tail = receive(target, last.size(), true, 10s);
    EXPECT_TRUE(tail.bytes == last);
    ASSERT_NE(tail.closed, SteadyClock::time_point{}) << "the close was not passed on";
    EXPECT_GE(tail.closed - closing, kDelay);
    EXPECT_LT(proxy.cpuSeconds() - cpu, 0.25) << "busy while bytes waited";
    // The target's side was closed, so the client's is closed in turn.
    const Received end = receive(client, 1, true, 10s);
    EXPECT_TRUE(end.bytes.empty());
    EXPECT_NE(end.closed, SteadyClock::time_point{});
    close(client);
    close(target);

    // stop() with bytes on their way ends at once and closes the client.
    const int again = connectLoopbackBlocking(proxy.port());
    const int againTarget = acceptWithin(listenFd, 3s);
    ASSERT_GE(againTarget, 0);
    ASSERT_EQ(::send(againTarget, down.data(), down.size(), MSG_NOSIGNAL), ssize_t(down.size()));
    const auto stopping = SteadyClock::now();
    proxy.stop();
    EXPECT_LT(SteadyClock::now() - stopping, kDelay);
    const Received none = receive(again, 1, true, 3s);
    EXPECT_TRUE(none.bytes.empty());
    EXPECT_NE(none.closed, SteadyClock::time_point{});
    close(again);
    close(againTarget);
    close(listenFd);
}

}  // namespace
