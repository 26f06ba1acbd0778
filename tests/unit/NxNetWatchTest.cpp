// The recorder link watching its peer: pictures that stop, a recorder that
// falls silent or never answers the login, a channel count it cannot use,
// and answers nobody asked for.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "LinkTestUtil.h"
#include "WatchFixture.h"
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

using Watch = linktest::WatchFixture;

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

// Frames that keep coming but give no picture are pictures that stopped;
// the next picture shown ends the wait.
TEST_F(Watch, PicturesTheDecoderRejectsAreShownAsWaiting)
{
    RecorderConfig cfg;
    cfg.echoIntervalMs = 100;
    ASSERT_NO_FATAL_FAILURE(streaming(cfg));
    rec->setGarbleVideo(true);
    ASSERT_TRUE(waitFor([&] { return reportedInOrder({NET_STREAMING, NET_WAIT_DATA}); }, 3s));
    const uint64_t sent = rec->status().videoFrames[0];
    std::this_thread::sleep_for(300ms);
    EXPECT_GT(rec->status().videoFrames[0], sent) << "frames still come";
    rec->setGarbleVideo(false);
    ASSERT_TRUE(waitFor([&] { return reportedInOrder({NET_STREAMING, NET_WAIT_DATA, NET_STREAMING}); }, 3s));
    EXPECT_TRUE(net->IsConnectDVR());
}

// Pictures that come seldom on purpose stay current: key frames only and a
// paused playback.
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
}

// At 1/8 speed and two frames a second, a frame is let go every 4 s and
// held by the pacing in between: the held frame keeps the pictures' clock.
TEST_F(Watch, AFrameHeldByThePacingIsNotAStall)
{
    stallMin = 1000ms;
    stallMax = 2000ms;
    RecorderConfig cfg;
    cfg.channels = 1;
    cfg.fps = 2;
    cfg.gop = 2;
    cfg.echoIntervalMs = 100;
    ASSERT_NO_FATAL_FAILURE(streaming(cfg));
    net->RequestSearch(0, int32_t(cfg.recordStart + 60));
    ASSERT_TRUE(rec->waitUntil([](const testrec::RecorderStatus& s) { return s.play == testrec::PlayState::Playing; },
                               3s));
    int before = pictures;
    ASSERT_TRUE(waitFor([&] { return pictures > before; }, 3s));
    ASSERT_TRUE(net->PlaySpeed(PLAY_SLOW_8));
    before = pictures;
    std::this_thread::sleep_for(6000ms);
    EXPECT_GE(pictures - before, 1) << "frames are let go";
    EXPECT_LE(pictures - before, 3) << "and held between";
    EXPECT_FALSE(reportedInOrder({NET_STREAMING, NET_WAIT_DATA}));
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

// Each try waits twice as long as the one before; the last one missed is
// the failure, with nothing but progress reported before it.
TEST_F(Watch, ALoginNeverAnsweredFailsTheConnection)
{
    login = 200ms;
    for (bool connectAnswer : {true, false}) {
        SCOPED_TRACE(connectAnswer ? "login not answered" : "no connect answer");
        reports.statuses.clear();
        RecorderConfig cfg;
        cfg.answerLogin = false;
        cfg.sendConnectAnswer = connectAnswer;
        ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
        connect();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(reports.waitStatus(NET_CONNECT_FAIL, 6s));
        EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms + 400ms + 800ms + 1600ms);
        EXPECT_EQ(rec->status().connections, NxNet::kLoginTries);
        const std::vector<int> all = reports.statusList();
        EXPECT_EQ(std::count(all.begin(), all.end(), int(NET_CONNECT_FAIL)), 1);
        EXPECT_FALSE(net->IsConnectDVR());
        EXPECT_FALSE(reportedInOrder({NET_CONNECT_FAIL, NET_STREAMING}));
        TearDown();
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

// Echoes that come together are each answered, up to a burst; a flood is
// answered at a bounded rate, and every echo still counts.
TEST_F(Watch, EchoesAreAnsweredEachUpToABurst)
{
    RecorderConfig cfg;
    cfg.streamVideo = false;
    cfg.echoIntervalMs = 0;
    ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
    connect();
    ASSERT_EQ(rec->waitForLogin(3s), LoginResult::Accepted);
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(rec->sendCommand(11, testrec::echoPayload(cfg.protocolVersion, 0)));
    EXPECT_TRUE(rec->waitForEchoReplies(10, 2s)) << rec->status().echoReplies;

    rec->setEchoInterval(1);
    std::this_thread::sleep_for(1000ms);
    rec->setEchoInterval(0);
    std::this_thread::sleep_for(200ms);
    testrec::RecorderStatus st = rec->status();
    EXPECT_GT(st.echoesSent, 200);
    EXPECT_LE(st.echoReplies, 10 + 20 + 30) << "a flood is not answered one for one";
    EXPECT_GE(net->GetEchoCount(), st.echoesSent / 2) << "every echo still counts";
}

// With more requests outstanding than are kept, the newest are answered:
// the month the user ended on arrives.
TEST_F(Watch, TheNewestOfManyRequestsAreAnswered)
{
    RecorderConfig cfg;
    cfg.streamVideo = false;
    cfg.answerMonths = false;
    ASSERT_NO_FATAL_FAILURE(loggedIn(cfg));
    auto month = [](int i) { return testrec::civilToTime(2020 + i / 12, i % 12 + 1, 1, 0, 0, 0); };
    for (int i = 0; i < 70; ++i)
        net->RequestSearchInfo(15, SEARCH_KIND_MONTH, int32_t(month(i)));
    ASSERT_TRUE(waitFor([&] { return rec->commandCount(15) == 70; }, 3s));
    for (int i = 0; i < 70; ++i)
        ASSERT_TRUE(rec->sendCommand(18, testrec::monthAnswer(month(i), cfg.recordStart, cfg.recordEnd)));
    ASSERT_TRUE(waitFor([&] { return net->unaskedAnswers() == 6; }, 3s));
    std::this_thread::sleep_for(100ms);
    std::lock_guard<std::mutex> lock(reports.m);
    ASSERT_EQ(reports.searchAnswers.size(), 64u);
    EXPECT_EQ(uint32_t(reports.searchAnswers.front().v2), month(6));
    EXPECT_EQ(uint32_t(reports.searchAnswers.back().v2), month(69)) << "the last request is answered";
}

// A refusal takes the playback start it refuses, never a calendar request
// that waits for its answer.
TEST_F(Watch, ARefusalTakesThePlaybackStartOnly)
{
    RecorderConfig cfg;
    cfg.streamVideo = false;
    cfg.answerMonths = false;
    ASSERT_NO_FATAL_FAILURE(loggedIn(cfg));
    const uint32_t m = testrec::civilToTime(2024, 1, 1, 0, 0, 0);
    net->RequestSearchInfo(15, SEARCH_KIND_MONTH, int32_t(m));
    ASSERT_TRUE(rec->waitForCommand(15, 2s).has_value());
    ASSERT_TRUE(rec->sendCommand(20, testrec::reasonPayload(45)));
    ASSERT_TRUE(waitFor([&] { return net->unaskedAnswers() == 1; }, 2s));
    EXPECT_EQ(reports.alerts.load(), 0);
    ASSERT_TRUE(rec->sendCommand(18, testrec::monthAnswer(m, cfg.recordStart, cfg.recordEnd)));
    EXPECT_TRUE(waitFor(
        [&] {
            std::lock_guard<std::mutex> lock(reports.m);
            return reports.searchAnswers.size() == 1;
        },
        2s))
        << "the month request is still answered";

    rec->setSearchBusy(true);
    net->RequestSearch(0, int32_t(cfg.recordStart + 60));
    EXPECT_TRUE(waitFor([&] { return reports.alerts.load() == 1; }, 2s)) << "the refused start is shown";
    EXPECT_EQ(net->unaskedAnswers(), 1);
}

}  // namespace
