// The recorder link against the test recorder over loopback: connect answer,
// login, echo, requests, media of every layout, scrambling and decoding to
// the colours the recorder encoded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "LinkTestUtil.h"
#include "link/IAudioSink.h"
#include "link/NxNet.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"
#include "recorder/Palette.h"
#include "recorder/TestRecorder.h"

using namespace std::chrono_literals;
using linktest::Bytes;
using linktest::Reports;
using testrec::LoginResult;
using testrec::RecorderConfig;
using testrec::TestRecorder;

namespace {

struct AudioGroup : IAudioSink {
    void SetModelNumNGroup(int, uint32_t g) override { group = int(g); }
    std::atomic<int> group{-1};
};

class Session : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (net)
            net->StopThread();
        net.reset();
        if (rec)
            rec->stop();
    }
    void startRecorder(RecorderConfig cfg)
    {
        rec = std::make_unique<TestRecorder>(cfg);
        ASSERT_TRUE(rec->start(0));
    }
    // A recorder without media, and a link logged in to it.
    void loggedIn(RecorderConfig cfg = {})
    {
        cfg.streamVideo = false;
        cfg.streamAudio = false;
        startRecorder(cfg);
        connect();
        ASSERT_EQ(rec->waitForLogin(5s), LoginResult::Accepted);
    }
    void connect(const std::string& user = "admin", const std::string& pass = "1234")
    {
        net = std::make_unique<NxNet>();
        net->setAppController(&reports);
        net->setAudioOutPointer(&audio);
        net->setQpointerV(&videoQ);
        net->setQpointerA(&audioQ);
        net->SetDecoder(2);
        net->setViewPointer(&reports);
        net->setNetInfo(0, "127.0.0.1", "", pass.c_str(), rec->port(), "", 2000, user.c_str(), 2);
        net->CreateThread();
    }
    // Takes pictures off the video queue until every channel in want has
    // shown its colour or the time is up; answers the channels seen right.
    std::set<int> collectColours(const std::set<int>& want, std::chrono::milliseconds timeout)
    {
        std::set<int> good;
        auto end = std::chrono::steady_clock::now() + timeout;
        while (good != want && std::chrono::steady_clock::now() < end) {
            tag_FrameV_Orgin* f = videoQ.tryGetReadBuffer();
            if (!f) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            if (f->w > 0 && f->h > 0 && f->w <= 1920 && f->h <= 1080) {
                const uint8_t* px = f->outbuff + (size_t(f->h / 2) * f->w + f->w / 2) * 4;
                testrec::Rgb c = testrec::channelColour(f->ch);
                if (std::abs(px[2] - c.r) < 12 && std::abs(px[1] - c.g) < 12 && std::abs(px[0] - c.b) < 12)
                    good.insert(f->ch);
                frames++;
            }
            videoQ.putReadBuffer();
        }
        return good;
    }
    std::vector<testrec::DataRequest> dataRequests()
    {
        std::vector<testrec::DataRequest> out;
        for (auto& c : rec->commands())
            if (c.id == 6)
                if (auto d = testrec::parseDataRequest(c.payload))
                    out.push_back(*d);
        return out;
    }

    linktest::LogCapture log;
    Reports reports;
    AudioGroup audio;
    RingBuffer videoQ;
    RingBufferA audioQ;
    std::unique_ptr<TestRecorder> rec;
    std::unique_ptr<NxNet> net;
    int frames = 0;
};

struct Layout {
    int model;
    int version;
    int answerSize;
    testrec::CmdFormat format;
    int width, height;
};

class Layouts : public Session, public ::testing::WithParamInterface<Layout> {};

TEST_P(Layouts, LogsInAndDecodesEveryChannelsColour)
{
    Layout l = GetParam();
    RecorderConfig cfg;
    cfg.modelId = l.model;
    cfg.protocolVersion = l.version;
    cfg.connectAnswerSize = l.answerSize;
    cfg.commandFormat = l.format;
    cfg.width = l.width;
    cfg.height = l.height;
    cfg.channels = 4;
    cfg.fps = 15;
    cfg.streamAudio = false;
    startRecorder(cfg);
    connect();
    ASSERT_EQ(rec->waitForLogin(5s), LoginResult::Accepted);
    EXPECT_EQ(collectColours({0, 1, 2, 3}, 10s), (std::set<int>{0, 1, 2, 3}));
    ASSERT_TRUE(reports.waitStatus(NET_STREAMING, 2s));
    std::vector<int> st = reports.statusList();
    std::vector<int> head(st.begin(), st.begin() + std::min<size_t>(st.size(), 6));
    EXPECT_EQ(head, (std::vector<int>{NET_CONNECT_REQ, NET_CONNECT_OK, NET_LOGIN_REQ, NET_LOGIN_OK, NET_WAIT_DATA,
                                      NET_STREAMING}));
    EXPECT_EQ(reports.maxCh.load(), 4);
    EXPECT_EQ(reports.group.load(), int(GetModelGroup(l.model)));
    EXPECT_EQ(audio.group.load(), int(GetModelGroup(l.model)));
    // The first live request asks for every channel, key frames of none.
    auto reqs = dataRequests();
    ASSERT_GE(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].kind, 0);
    EXPECT_EQ(reqs[0].mask(), 0xFFFF);
    EXPECT_EQ(reqs[1].kind, 1);
    EXPECT_EQ(reqs[1].mask(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Recorder, Layouts,
    ::testing::Values(Layout{61, 30, 552, testrec::CmdFormat::V2, 352, 240},   // NDAV, hashed login
                      Layout{61, 12, 272, testrec::CmdFormat::V1, 704, 480},   // NDAV, short answer, plain
                      Layout{1, 23, 552, testrec::CmdFormat::V1, 352, 240},    // BADJ, plain login
                      Layout{81, 24, 552, testrec::CmdFormat::V2, 352, 240},   // NDA-grave, hashed
                      Layout{120, 30, 552, testrec::CmdFormat::V2, 640, 360},  // NDAp
                      Layout{110, 30, 552, testrec::CmdFormat::V2, 352, 288},  // NDAv
                      Layout{11, 30, 552, testrec::CmdFormat::V1, 352, 240}));  // F3

TEST_F(Session, ScrambledKeyFramesAreRestored)
{
    for (int model : {1, 120}) {  // XOR mask, then AES
        RecorderConfig cfg;
        cfg.modelId = model;
        cfg.scrambling = 1;
        cfg.channels = 2;
        cfg.streamAudio = false;
        startRecorder(cfg);
        connect();
        EXPECT_EQ(collectColours({0, 1}, 10s), (std::set<int>{0, 1})) << model;
        EXPECT_EQ(net->_dvrInfo().video_encypt, 1);
        net->StopThread();
        net.reset();
        rec->stop();
    }
}

TEST_F(Session, LoginFailuresReportAndClose)
{
    struct Case {
        std::string user, pass;
        bool refuse;
        int status;
        int reason;
    };
    for (const Case& c : {Case{"admin", "wrong", false, NET_LOGIN_FAIL, 21},
                          Case{"nobody", "1234", false, NET_LOGIN_FAIL, 22},
                          Case{"admin", "1234", true, NET_MAX_USER, -1}}) {
        RecorderConfig cfg;
        cfg.refuseLogin = c.refuse;
        startRecorder(cfg);
        reports.statuses.clear();
        reports.infos.clear();
        connect(c.user, c.pass);
        ASSERT_TRUE(reports.waitStatus(c.status, 5s)) << c.user << c.pass;
        for (int i = 0; i < 200 && net->IsConnectDVR(); ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_FALSE(net->IsConnectDVR());
        if (c.reason >= 0) {
            std::lock_guard<std::mutex> lock(reports.m);
            ASSERT_FALSE(reports.infos.back().empty());
            EXPECT_EQ(int(uint8_t(reports.infos.back()[0])), c.reason);
        }
        net->StopThread();
        net.reset();
        rec->stop();
    }
}

TEST_F(Session, EchoesAreAnsweredAndCounted)
{
    RecorderConfig cfg;
    cfg.echoIntervalMs = 50;
    cfg.videoLossMask = 0x0005;
    cfg.streamVideo = false;
    cfg.streamAudio = false;
    startRecorder(cfg);
    connect();
    ASSERT_TRUE(rec->waitForEchoReplies(3, 5s));
    EXPECT_GE(net->GetEchoCount(), 3);
    EXPECT_EQ(reports.videoLoss.load(), 5);
    net->SetEchoCount(0);
    rec->setEchoInterval(0);
    std::this_thread::sleep_for(200ms);
    EXPECT_LE(net->GetEchoCount(), 1);
}

TEST_F(Session, RequestsPutTheirFramesOnTheWire)
{
    loggedIn();
    ASSERT_TRUE(rec->waitForCommand(6, 2s, 2));
    rec->clearCommands();

    net->RequestLiveCh(0, 5);
    ASSERT_TRUE(rec->waitForCommand(6, 2s, 2));
    auto reqs = dataRequests();
    EXPECT_EQ(reqs[0].mask(), 1 << 4);
    EXPECT_EQ(reqs[1].kind, 1);
    EXPECT_EQ(reqs[1].mask(), 0);
    rec->clearCommands();

    net->RequestLiveCh(1, 0);
    ASSERT_TRUE(rec->waitForCommand(6, 2s, 2));
    EXPECT_EQ(dataRequests()[1].mask(), 0xFFFF);
    rec->clearCommands();

    net->RequestAudioCh(0);
    ASSERT_TRUE(rec->waitForCommand(6, 2s));
    EXPECT_EQ(dataRequests()[0].kind, 2);
    EXPECT_EQ(dataRequests()[0].mask(), 0);
    EXPECT_EQ(g_requestAudioCh.load(), 0);
    rec->clearCommands();

    net->RequestPanTilt(2, 7, -3);
    auto ptz = rec->waitForCommand(53, 2s);
    ASSERT_TRUE(ptz);
    EXPECT_EQ(ptz->payload, (testrec::Bytes{2, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0xFD, 0xFF, 0xFF, 0xFF}));
    net->RequestPreset(1, 18, 9);
    ptz = rec->waitForCommand(53, 2s, 2);
    ASSERT_TRUE(ptz);
    EXPECT_EQ(ptz->payload, (testrec::Bytes{1, 0, 0, 0, 18, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0}));

    // Playback requests only mean something in search mode.
    EXPECT_TRUE(net->PlaySpeed(2));
    EXPECT_FALSE(net->ExitLive());
    EXPECT_EQ(net->searchInfo().eNowPlaySpeed, 1000);
}

// The order of command ids the recorder received after a call.
std::vector<uint32_t> idsAfter(TestRecorder& rec, const std::function<void()>& call, size_t expect)
{
    rec.clearCommands();
    call();
    std::vector<uint32_t> ids;
    for (int i = 0; i < 200; ++i) {
        ids.clear();
        for (auto& c : rec.commands())
            if (c.id != 12)
                ids.push_back(c.id);
        if (ids.size() >= expect)
            break;
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(30ms);
    ids.clear();
    for (auto& c : rec.commands())
        if (c.id != 12)
            ids.push_back(c.id);
    return ids;
}

TEST_F(Session, PlaybackSequences)
{
    RecorderConfig cfg;
    cfg.answerEnterSearch = false;
    loggedIn(cfg);
    ASSERT_TRUE(rec->waitForCommand(6, 2s, 2));
    int id0 = net->requestId();

    EXPECT_EQ(idsAfter(*rec, [&] { net->RequestSearch(0, 1705000000); }, 7),
              (std::vector<uint32_t>{6, 13, 6, 6, 29, 22, 27}));
    EXPECT_EQ(net->requestId(), (id0 + 1) % 16);
    auto seek = rec->waitForCommand(29, 1s);
    ASSERT_TRUE(seek);
    EXPECT_EQ(seek->payload, (testrec::Bytes{0x40, 0x3c, 0xa0, 0x65}));
    auto speed = rec->waitForCommand(27, 1s);
    EXPECT_EQ(speed->payload, (testrec::Bytes{1, 0, 0, 1}));

    EXPECT_EQ(idsAfter(*rec, [&] { net->PlaySpeed(2); }, 1), (std::vector<uint32_t>{27}));
    EXPECT_EQ(idsAfter(*rec, [&] { net->PlaySpeed(2); }, 0), (std::vector<uint32_t>{}));
    EXPECT_EQ(idsAfter(*rec, [&] { net->PlaySpeed(-1); }, 4), (std::vector<uint32_t>{23, 6, 29, 26}));
    EXPECT_EQ(rec->waitForCommand(26, 1s)->payload, (testrec::Bytes{0xFF, 0xFF, 0, 1}));
    EXPECT_EQ(idsAfter(*rec, [&] { net->PlaySpeed(-4); }, 1), (std::vector<uint32_t>{26}));
    EXPECT_EQ(rec->waitForCommand(26, 1s)->payload, (testrec::Bytes{0xFC, 0xFF, 0, 1}));
    EXPECT_EQ(idsAfter(*rec, [&] { net->PlaySpeed(0); }, 2), (std::vector<uint32_t>{6, 25}));
    EXPECT_EQ(idsAfter(*rec, [&] { net->PlaySpeed(1); }, 3), (std::vector<uint32_t>{6, 29, 27}));
    EXPECT_EQ(idsAfter(*rec, [&] { net->PlaySpeed(1024); }, 1), (std::vector<uint32_t>{28}));
    EXPECT_EQ(idsAfter(*rec, [&] { net->PlaySpeed(2002); }, 1), (std::vector<uint32_t>{27}));
    EXPECT_EQ(rec->waitForCommand(27, 1s)->payload, (testrec::Bytes{0, 0, 25, 1}));
    EXPECT_EQ(idsAfter(*rec, [&] { net->PlaySpeed(3001); }, 0), (std::vector<uint32_t>{}));
    EXPECT_EQ(idsAfter(*rec, [&] { net->PlaySpeed(3001); }, 0), (std::vector<uint32_t>{}));
    EXPECT_EQ(net->searchInfo().ePrevPlaySpeed, 3001);
    EXPECT_EQ(idsAfter(*rec, [&] { EXPECT_TRUE(net->ExitLive()); }, 3), (std::vector<uint32_t>{6, 30, 6}));
    EXPECT_EQ(net->searchInfo().eNowPlaySpeed, 1000);
}

TEST_F(Session, SearchAnswersReachTheControllerAsCopies)
{
    RecorderConfig cfg;
    loggedIn(cfg);
    net->RequestSearchInfo(15, 3, 0);
    std::unique_lock<std::mutex> lock(reports.m);
    ASSERT_TRUE(reports.cv.wait_for(lock, 3s, [&] { return !reports.searchAnswers.empty(); }));
    EXPECT_EQ(reports.searchAnswers[0].type, SEARCH_INFO_RANGE);
    EXPECT_EQ(uint32_t(reports.searchAnswers[0].v1), cfg.recordStart);
    EXPECT_EQ(uint32_t(reports.searchAnswers[0].v2), cfg.recordEnd);
}

// Event-log pages count only while a request is open, and answers wait for
// room on the GUI thread in order, without holding up a stop.
TEST_F(Session, EventLogPagesAreBoundedToTheirRequest)
{
    RecorderConfig cfg;
    cfg.historyPageItems = {3, 2};
    loggedIn(cfg);
    const int fix = net->cmdFixSize(33);
    ASSERT_GT(fix, 8);
    auto page = [&](uint32_t status) {
        Bytes payload(size_t(net->cmdV2() ? fix - 4 : (fix - 4) / 2), 0);
        payload[0] = uint8_t(status);
        return net->cmdV2() ? linktest::cmdV2(33, payload) : linktest::cmdV1(33, payload);
    };
    auto answers = [&] {
        std::lock_guard<std::mutex> lock(reports.m);
        return reports.searchAnswers.size();
    };
    auto flood = [&] {
        Bytes b;
        for (int i = 0; i < 20; ++i) {
            Bytes p = page(2);
            b.insert(b.end(), p.begin(), p.end());
        }
        ASSERT_TRUE(rec->sendRaw(b));
    };

    // A recorder that sends pages nobody asked for is not heard.
    flood();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(answers(), 0u);
    EXPECT_TRUE(log.has("event-log page without a request dropped"));

    // A request takes its pages up to the last one, and no more.
    const Bytes request(16, 0);
    net->RequestHistory(request.data(), request.size());
    EXPECT_TRUE(linktest::waitFor([&] { return answers() == 2; }, 3s));
    EXPECT_FALSE(net->historyOpen());
    flood();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(answers(), 2u);

    // Closing the window ends an open request.
    net->RequestHistory(request.data(), request.size());
    net->EndHistory();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(answers(), 2u);

    // With no room on the GUI thread the answers wait, then come in order.
    reports.room = false;
    net->RequestHistory(request.data(), request.size());
    flood();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(answers(), 2u);
    reports.room = true;
    EXPECT_TRUE(linktest::waitFor([&] { return answers() >= 4; }, 3s));
    {
        std::lock_guard<std::mutex> lock(reports.m);
        EXPECT_EQ(reports.searchAnswers[2].data.size(), size_t(fix - 4) / (net->cmdV2() ? 1 : 2));
    }
    // A stop ends the wait. Should it not, room is given after a while so
    // that the test fails rather than hangs.
    reports.room = false;
    net->RequestHistory(request.data(), request.size());
    flood();
    std::this_thread::sleep_for(100ms);
    auto stopped = std::async(std::launch::async, [&] { net->StopThread(); });
    const bool ended = stopped.wait_for(2s) == std::future_status::ready;
    reports.room = true;
    stopped.wait();
    EXPECT_TRUE(ended) << "the stop did not end the wait for room on the GUI thread";
    EXPECT_TRUE(net->isThreadExitDone());
}

TEST_F(Session, AudioOfTheRequestedChannelOnly)
{
    RecorderConfig cfg;
    cfg.modelId = 1;  // IMA ADPCM with a 16-byte header
    cfg.streamVideo = false;
    startRecorder(cfg);
    connect();
    ASSERT_EQ(rec->waitForLogin(5s), LoginResult::Accepted);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(audioQ.tryGetReadBuffer(), nullptr);
    net->RequestAudioCh(2);
    ASSERT_TRUE(rec->waitUntil([](const testrec::RecorderStatus& s) { return s.audioFrames >= 3; }, 5s));
    tag_FrameA_Orgin* a = nullptr;
    for (int i = 0; i < 300 && !(a = audioQ.tryGetReadBuffer()); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->dwLength, 1024u);  // 512 samples per block
    int16_t peak = 0;
    for (uint32_t i = 0; i < a->dwLength / 2; ++i)
        peak = std::max<int16_t>(peak, int16_t(a->bufAudio[2 * i] | a->bufAudio[2 * i + 1] << 8));
    EXPECT_GT(peak, 4000);  // the recorder's tone
}

}  // namespace
