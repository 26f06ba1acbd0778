// Receive parser: the same stream cut at every read boundary gives the same
// messages and frames; garbage and broken messages are skipped.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "LinkTestUtil.h"
#include "link/NxNet.h"
#include "platform/Log.h"

using namespace linktest;

namespace {

struct Event {
    char kind;  // 'c' command, 'f' frame
    int id;     // command id or channel
    int len;    // payload length or coded size
    uint32_t sum;
    bool operator==(const Event& o) const
    {
        return kind == o.kind && id == o.id && len == o.len && sum == o.sum;
    }
};

uint32_t checksum(const uint8_t* p, int n)
{
    uint32_t s = 0;
    for (int i = 0; i < n; ++i)
        s = s * 31 + p[i];
    return s;
}

// Feeds the stream in reads of the given sizes and records what came out.
std::vector<Event> parse(const Bytes& stream, const std::vector<size_t>& cuts)
{
    // One link for every parse, as new: its 8 MiB of buffers are made once.
    static NxNet* const net = new NxNet();
    net->resetForTest();
    std::vector<Event> out;
    net->onCommand = [&](int id, const uint8_t* p, int len) { out.push_back({'c', id, len, checksum(p, len)}); };
    net->onFrame = [&](const tagNxPacket& pk) {
        out.push_back({'f', pk.ch, pk.insize, checksum(pk.inbuff, pk.insize)});
    };
    size_t pos = 0;
    for (size_t cut : cuts) {
        net->parseReceived(stream.data() + pos, int(cut - pos));
        pos = cut;
    }
    net->parseReceived(stream.data() + pos, int(stream.size() - pos));
    return out;
}

class QuietLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        old = setLogSink([this](const std::string& s) { log += s + "\n"; });
    }
    void TearDown() override { setLogSink(old); }
    LogSink old;
    std::string log;
};

Bytes coded(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 7);
    return b;
}

// A recorder session in V2: connect answer, login answer, echo, frames,
// garbage, a foreign start code, a broken tail, an unknown id.
Bytes sessionStream()
{
    Bytes s = cmdV2(1, connectAnswer552(1, 4, 30));
    Bytes login(24, 0);
    login[4] = 0x14;
    append(s, cmdV2(4, login));
    append(s, cmdV2(11, Bytes(28, 0x01)));
    append(s, frameBADJ(0, 1, 0, coded(100, 1)));
    append(s, {0x11, 0x22, 0x00, 0x00, 0xAD});  // garbage, ending in a partial head
    append(s, {'N', 'D', 'A', 'V', 1, 2, 3, 4});  // start code of another group
    Bytes broken = cmdV2(17, Bytes(8, 5));
    broken.back() = 'X';
    append(s, broken);
    append(s, cmdV2(95, {}));  // id above 89
    append(s, frameBADJ(1, 2, 0, coded(37, 9)));
    append(s, frameBADJ(3, 3, 0, coded(64, 3)));
    Bytes badTail = frameBADJ(2, 2, 0, coded(20, 4));
    badTail.back() = 0;
    append(s, badTail);
    append(s, cmdV2(11, Bytes(28, 0x02)));
    return s;
}

TEST_F(QuietLog, WholeStreamGivesEveryGoodMessage)
{
    std::vector<Event> ev = parse(sessionStream(), {});
    std::vector<std::pair<char, int>> seen;
    for (auto& e : ev)
        seen.push_back({e.kind, e.id});
    std::vector<std::pair<char, int>> want = {{'c', 1}, {'c', 4}, {'c', 11}, {'f', 0}, {'f', 1}, {'f', 3}, {'c', 11}};
    EXPECT_EQ(seen, want);
    EXPECT_EQ(ev[0].len, 552);
    EXPECT_EQ(ev[3].len, 100);
    EXPECT_NE(log.find("NOT MATCH VIDEO END"), std::string::npos);
    EXPECT_NE(log.find("CHECK OVER_CMD"), std::string::npos);
}

TEST_F(QuietLog, EverySplitGivesTheSameResult)
{
    Bytes s = sessionStream();
    std::vector<Event> whole = parse(s, {});
    for (size_t cut = 1; cut < s.size(); ++cut)
        ASSERT_EQ(parse(s, {cut}), whole) << "cut at " << cut;
    std::vector<size_t> ones;
    for (size_t i = 1; i < s.size(); ++i)
        ones.push_back(i);
    EXPECT_EQ(parse(s, ones), whole);
}

TEST_F(QuietLog, ConnectAnswerFormsAcrossReadBoundaries)
{
    for (bool v2 : {false, true}) {
        for (int form : {272, 552}) {
            Bytes payload(size_t(form), 0);
            payload[0] = 1;  // model 1
            payload[4] = 4;
            if (form == 272)
                payload[268] = 30;
            else
                payload[12] = 30;
            Bytes s = v2 ? cmdV2(1, payload) : cmdV1(1, payload);
            Bytes echo = v2 ? cmdV2(11, Bytes(28, 3)) : cmdV1(11, Bytes(28, 3));
            append(s, echo);
            std::vector<Event> whole = parse(s, {});
            ASSERT_EQ(whole.size(), 2u) << v2 << " " << form;
            EXPECT_EQ(whole[0].len, form);
            EXPECT_EQ(whole[1].id, 11);
            for (size_t cut = 1; cut < s.size(); cut += 3)
                ASSERT_EQ(parse(s, {cut}), whole) << v2 << " " << form << " cut " << cut;
        }
    }
}

// Title bytes of the long answer that look like the short answer's tail do
// not cut it short, whether the answer comes whole or in pieces.
TEST_F(QuietLog, LongConnectAnswerWithTailLikeTitleBytes)
{
    for (const char* fake : {"NEND", "\x00\x00\x01\xB4"}) {
        Bytes payload(552, 0);
        payload[0] = 1;
        payload[4] = 4;
        payload[12] = 30;
        std::memcpy(&payload[272], fake, 4);
        Bytes s = cmdV2(1, payload);
        append(s, cmdV2(11, Bytes(28, 3)));
        for (std::vector<size_t> cuts : {std::vector<size_t>{}, {100}, {290}, {300, 400}, {560}}) {
            std::vector<Event> ev = parse(s, cuts);
            ASSERT_EQ(ev.size(), 2u) << fake[0] << " " << cuts.size();
            EXPECT_EQ(ev[0].len, 552);
            EXPECT_EQ(ev[1].id, 11);
        }
    }
}

TEST_F(QuietLog, NoFrameBeforeTheStartCodeIsKnown)
{
    // Without a connect answer the start code is unset and matches nothing.
    Bytes s = frameBADJ(0, 1, 0, coded(40, 1));
    append(s, cmdV2(11, {}));
    std::vector<Event> ev = parse(s, {});
    for (auto& e : ev)
        EXPECT_NE(e.kind, 'f');
}

TEST_F(QuietLog, HeaderChecksDropOnlyTheBadFrame)
{
    Bytes s = cmdV2(1, connectAnswer552(1, 4, 30));
    append(s, frameBADJ(5, 1, 0, coded(30, 1)));  // channel beyond the count
    append(s, frameBADJ(2, 1, 0, coded(30, 2)));
    std::vector<Event> ev = parse(s, {});
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[1].kind, 'f');
    EXPECT_EQ(ev[1].id, 2);
    EXPECT_NE(log.find("channel over!!!! (5)"), std::string::npos);
}

TEST_F(QuietLog, TooShortBadjFrameIsRefused)
{
    Bytes s = cmdV2(1, connectAnswer552(1, 4, 30));
    Bytes f = frameBADJ(0, 1, 0, {});
    // Size field of 4 bytes: leaves no room for the 20 header bytes.
    f[12] = 0;
    f[13] = 1;
    f.resize(32 + 4);
    append(f, {0x00, 0x00, 0x01, 0xB4});
    append(s, f);
    append(s, frameBADJ(1, 1, 0, coded(8, 1)));
    std::vector<Event> ev = parse(s, {});
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[1].id, 1);
}

// A stop asked for while a read is parsed ends the parse before the next
// message: commands later in the same read are not dispatched.
TEST_F(QuietLog, StopEndsTheParseWithinARead)
{
    NxNet net;
    std::vector<int> ids;
    net.onCommand = [&](int id, const uint8_t*, int) {
        ids.push_back(id);
        if (id == 11)
            net.StopThread();
    };
    Bytes s = cmdV2(1, connectAnswer552(1, 4, 30));
    for (int i = 0; i < 10; ++i)
        append(s, cmdV2(11, Bytes(28, uint8_t(i))));
    net.parseReceived(s.data(), int(s.size()));
    EXPECT_EQ(ids, (std::vector<int>{1, 11}));
}

TEST_F(QuietLog, SizeTableFollowsVersionAndFormat)
{
    for (bool v2 : {false, true}) {
        NxNet net;
        Bytes ans = connectAnswer552(44, 4, 11);
        net.parseReceived(v2 ? cmdV2(1, ans).data() : cmdV1(1, ans).data(),
                          int(v2 ? ans.size() + 12 : 2 * ans.size() + 12));
        int k = v2 ? 1 : 2;
        EXPECT_EQ(net.cmdFixSize(4), k * 24 + 4);
        EXPECT_EQ(net.cmdFixSize(11), k * 28 + 4);
        EXPECT_EQ(net.cmdFixSize(33), k * 8208 + 4);
        EXPECT_EQ(net.cmdFixSize(58), 4);  // group 1, reported model 44
        EXPECT_EQ(net.cmdFixSize(86), k * 16512 + 4);
        EXPECT_EQ(net.cmdFixSize(99), 4);
        TDvrInfo info = net._dvrInfo();
        EXPECT_EQ(info.model, 44);
        EXPECT_STREQ(info.model_name, "VOREL_M03");
        EXPECT_EQ(info.group, 1);
    }
}

}  // namespace

namespace {

TDvrInfo answerInfo(const Bytes& payload)
{
    NxNet net;
    Bytes f = cmdV2(1, payload);
    net.parseReceived(f.data(), int(f.size()));
    return net._dvrInfo();
}

TEST_F(QuietLog, ConnectAnswerVersionGates)
{
    Bytes p = connectAnswer552(1, 4, 26, 1);
    p[10] = 9;
    TDvrInfo i = answerInfo(p);
    EXPECT_EQ(i.video_encypt, 0);
    EXPECT_EQ(i.vendor, 9);
    p[12] = 27;
    EXPECT_EQ(answerInfo(p).video_encypt, 1);
    p[12] = 12;
    EXPECT_EQ(answerInfo(p).vendor, 0);

    Bytes s(272, 0);
    s[0] = 1;
    s[4] = 20;  // more channels than there are titles
    s[8] = 0x05;
    s[9] = 0x01;
    s[268] = 6;
    i = answerInfo(s);
    EXPECT_EQ(i.ntsc_pal, 0x0105);
    EXPECT_EQ(i.bandWidth, 1);
    EXPECT_EQ(i.video_encypt, 0);
    EXPECT_EQ(i.maxch, 16);
    s[268] = 7;
    s[9] = 3;
    i = answerInfo(s);
    EXPECT_EQ(i.ntsc_pal, 5);
    EXPECT_EQ(i.bandWidth, 3);
    // Other lengths are refused.
    EXPECT_EQ(answerInfo(Bytes(300, 0)).maxch, 0);
}

}  // namespace
