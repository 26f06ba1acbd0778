// The recorder link watching its peer: pictures that stop, a recorder that
// falls silent or never answers the login, a channel count it cannot use,
// and answers nobody asked for.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "LinkTestUtil.h"
#include "link/NxNet.h"
#include "output/RingBuffer.h"
#include "recorder/MediaFrame.h"
#include "recorder/Protocol.h"
#include "recorder/TestRecorder.h"

using namespace std::chrono_literals;
using linktest::Bytes;
using linktest::Reports;
using linktest::waitFor;
using testrec::LoginResult;
using testrec::RecorderConfig;
using testrec::TestRecorder;

namespace {

class Watch : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (net)
            net->StopThread();
        drainStop = true;
        if (drainer.joinable())
            drainer.join();
        net.reset();
        if (rec)
            rec->stop();
    }
    void startRecorder(RecorderConfig cfg)
    {
        cfg.streamAudio = false;
        rec = std::make_unique<TestRecorder>(cfg);
        ASSERT_TRUE(rec->start(0));
    }
    // A link with short limits; its pictures are taken as a view would.
    void connect()
    {
        net = std::make_unique<NxNet>();
        net->setAppController(&reports);
        net->setQpointerV(&videoQ);
        net->SetDecoder(2);
        net->setViewPointer(&reports);
        net->setNetInfo(0, "127.0.0.1", "", "1234", rec->port(), "", 2000, "admin", 2);
        net->silenceLimit = silence;
        net->loginLimit = login;
        net->stallMin = stallMin;
        net->stallMax = stallMax;
        drainer = std::thread([this] {
            while (!drainStop) {
                if (videoQ.tryGetReadBuffer()) {
                    pictures++;
                    videoQ.putReadBuffer();
                } else {
                    std::this_thread::sleep_for(2ms);
                }
            }
        });
        net->CreateThread();
    }
    void streaming(RecorderConfig cfg = {})
    {
        ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
        connect();
        ASSERT_TRUE(reports.waitStatus(NET_STREAMING, 5s));
    }
    // The link reported these states in this order, others between them.
    bool reportedInOrder(const std::vector<int>& seq)
    {
        std::vector<int> all = reports.statusList();
        auto it = all.begin();
        for (int s : seq) {
            it = std::find(it, all.end(), s);
            if (it == all.end())
                return false;
            ++it;
        }
        return true;
    }
    size_t dataRequests() { return rec->commandCount(6); }

    std::chrono::milliseconds silence{20000};
    std::chrono::milliseconds login{10000};
    std::chrono::milliseconds stallMin{400};
    std::chrono::milliseconds stallMax{800};
    Reports reports;
    RingBuffer videoQ;
    std::unique_ptr<TestRecorder> rec;
    std::unique_ptr<NxNet> net;
    std::thread drainer;
    std::atomic<bool> drainStop{false};
    std::atomic<int> pictures{0};
};

TEST_F(Watch, PicturesThatStopAreShownAsWaitingAndComeBack)
{
    RecorderConfig cfg;
    cfg.echoIntervalMs = 100;  // the connection itself stays alive
    ASSERT_NO_FATAL_FAILURE(streaming(cfg));
    rec->setStreaming(false, false);
    ASSERT_TRUE(waitFor([&] { return reportedInOrder({NET_STREAMING, NET_WAIT_DATA}); }, 3s));
    EXPECT_TRUE(net->IsConnectDVR());
    rec->setStreaming(true, false);
    ASSERT_TRUE(waitFor([&] { return reportedInOrder({NET_STREAMING, NET_WAIT_DATA, NET_STREAMING}); }, 3s));
    EXPECT_EQ(reports.statusList().back(), NET_STREAMING);
}

// Pictures that come seldom on purpose stay current: key frames only, a
// paused playback and slow playback.
TEST_F(Watch, SeldomPicturesByChoiceAreNotAStall)
{
    stallMin = 1000ms;
    stallMax = 2000ms;
    RecorderConfig cfg;
    cfg.gop = 5;  // a key frame every half second
    cfg.echoIntervalMs = 100;
    ASSERT_NO_FATAL_FAILURE(streaming(cfg));
    net->RequestLiveCh(1, 0);
    std::this_thread::sleep_for(2500ms);
    EXPECT_FALSE(reportedInOrder({NET_STREAMING, NET_WAIT_DATA})) << "key frames only";

    net->RequestSearch(0, int32_t(cfg.recordStart + 60));
    ASSERT_TRUE(rec->waitUntil([](const testrec::RecorderStatus& s) { return s.play == testrec::PlayState::Playing; },
                               3s));
    int before = pictures;
    ASSERT_TRUE(waitFor([&] { return pictures > before + 3; }, 3s));
    ASSERT_TRUE(net->PlaySpeed(PLAY_PAUSE));
    std::this_thread::sleep_for(2500ms);
    EXPECT_FALSE(reportedInOrder({NET_STREAMING, NET_WAIT_DATA})) << "paused";

    ASSERT_TRUE(net->PlaySpeed(PLAY_SLOW_8));
    std::this_thread::sleep_for(3000ms);
    EXPECT_FALSE(reportedInOrder({NET_STREAMING, NET_WAIT_DATA})) << "slow playback";
}

TEST_F(Watch, ASilentRecorderIsALostConnection)
{
    silence = 500ms;
    RecorderConfig cfg;
    cfg.echoIntervalMs = 100;
    ASSERT_NO_FATAL_FAILURE(streaming(cfg));
    // Echoes alone keep it.
    rec->setStreaming(false, false);
    std::this_thread::sleep_for(1000ms);
    EXPECT_TRUE(net->IsConnectDVR());
    // A frame cut after 18 bytes of its header, then nothing.
    Bytes frame = testrec::buildMediaFrame(rec->headerFor(0, testrec::FrameType::Key), Bytes(64, 0x11));
    rec->setEchoInterval(0);
    ASSERT_TRUE(rec->sendRaw(Bytes(frame.begin(), frame.begin() + 18)));
    ASSERT_TRUE(waitFor([&] { return !net->IsConnectDVR(); }, 3s));
    EXPECT_TRUE(reportedInOrder({NET_STREAMING, NET_CONNECT_FAIL}));
    EXPECT_TRUE(rec->waitForDisconnect(2s));
}

TEST_F(Watch, ALoginNeverAnsweredFailsTheConnection)
{
    login = 400ms;
    for (bool connectAnswer : {true, false}) {
        SCOPED_TRACE(connectAnswer ? "login not answered" : "no connect answer");
        reports.statuses.clear();
        RecorderConfig cfg;
        cfg.answerLogin = false;
        cfg.sendConnectAnswer = connectAnswer;
        ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
        connect();
        ASSERT_TRUE(reports.waitStatus(NET_CONNECT_FAIL, 3s));
        EXPECT_FALSE(net->IsConnectDVR());
        EXPECT_FALSE(reportedInOrder({NET_CONNECT_FAIL, NET_STREAMING}));
        TearDown();
        drainStop = false;
    }
}

TEST_F(Watch, AChannelCountItCannotUseIsAFailure)
{
    for (int channels : {0, -1}) {
        SCOPED_TRACE(channels);
        reports.statuses.clear();
        RecorderConfig cfg;
        cfg.channels = channels;
        ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
        connect();
        ASSERT_TRUE(reports.waitStatus(NET_MODEL_MISMATCH, 3s));
        EXPECT_TRUE(waitFor([&] { return !net->IsConnectDVR(); }, 2s));
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(rec->commandCount(3), 0u) << "no login is sent";
        TearDown();
        drainStop = false;
    }
}

TEST_F(Watch, AnswersNobodyAskedForChangeNothing)
{
    RecorderConfig cfg;  // group 7: live pictures are judged by their type alone
    cfg.echoIntervalMs = 100;
    ASSERT_NO_FATAL_FAILURE(streaming(cfg));
    ASSERT_TRUE(waitFor([&] { return dataRequests() >= 2; }, 2s));
    std::this_thread::sleep_for(200ms);
    const size_t requests = dataRequests();

    linktest::LogCapture log;
    for (int i = 0; i < 50; ++i)
        rec->sendCommand(4, testrec::loginAccepted(cfg.protocolVersion, 0xFFFF, 0, 0xFFFF));
    rec->sendCommand(1, {});
    rec->sendCommand(14, Bytes(8, 0));  // "playback started" at time 0
    rec->sendCommand(20, testrec::reasonPayload(45));
    rec->sendCommand(17, testrec::rangeAnswer(cfg.recordStart, cfg.recordEnd));
    rec->sendCommand(18, Bytes(8, 0));
    rec->sendCommand(16, {});
    ASSERT_TRUE(waitFor([&] { return net->unaskedAnswers() >= 56; }, 3s));
    vlogFlush();
    EXPECT_TRUE(log.has("more times: answer 4 without a request dropped")) << "repeats are summed under their text";

    EXPECT_EQ(dataRequests(), requests) << "a second login acceptance asks for nothing";
    EXPECT_FALSE(net->searchInfo().hdd_search_mode_flag);
    EXPECT_EQ(reports.alerts.load(), 0);
    {
        std::lock_guard<std::mutex> lock(reports.m);
        EXPECT_TRUE(reports.searchAnswers.empty());
    }
    int before = pictures;
    EXPECT_TRUE(waitFor([&] { return pictures > before + 5; }, 2s)) << "live pictures still flow";

    // An answer is taken while its request is outstanding, once.
    net->RequestSearchInfo(15, SEARCH_KIND_RANGE, 0);
    ASSERT_TRUE(waitFor(
        [&] {
            std::lock_guard<std::mutex> lock(reports.m);
            return !reports.searchAnswers.empty();
        },
        2s));
    rec->sendCommand(17, testrec::rangeAnswer(cfg.recordStart, cfg.recordEnd));
    std::this_thread::sleep_for(200ms);
    std::lock_guard<std::mutex> lock(reports.m);
    ASSERT_EQ(reports.searchAnswers.size(), 1u);
    EXPECT_EQ(reports.searchAnswers[0].type, SEARCH_INFO_RANGE);
}

TEST_F(Watch, AnEchoFloodIsNotAnsweredOneForOne)
{
    RecorderConfig cfg;
    cfg.streamVideo = false;
    cfg.echoIntervalMs = 1;
    ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
    connect();
    ASSERT_EQ(rec->waitForLogin(3s), LoginResult::Accepted);
    std::this_thread::sleep_for(1000ms);
    testrec::RecorderStatus st = rec->status();
    EXPECT_GT(st.echoesSent, 100);
    EXPECT_LE(st.echoReplies, 20);
    EXPECT_GE(net->GetEchoCount(), st.echoesSent / 2) << "every echo still counts";
}

}  // namespace
