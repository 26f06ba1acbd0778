// What the window shows of a recorder that misbehaves: pictures that stop,
// silence, a login never answered, no channels, and answers nobody asked
// for while the calendar is open.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "GuiTestSupport.h"
#include "app/AppController.h"
#include "app/TitleBar.h"
#include "link/NxNet.h"
#include "output/MyOpenGLView.h"
#include "panels/CalendarSearchController.h"
#include "panels/DisplayViewController.h"
#include "panels/SearchViewController.h"
#include "recorder/Protocol.h"

using namespace std::chrono_literals;
using guitest::waitFor;

namespace {

class PeerWatch : public guitest::AppWindowTest {
protected:
    // A recorder site with short limits on its links and a fast watchdog.
    void connectTo(testrec::RecorderConfig cfg)
    {
        cfg.streamAudio = false;
        ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
        addSite({.name = "Recorder", .port = rec->port(), .id = "admin", .password = "1234"});
        ctrl->prepareLink = [this](CoNetwork& link) {
            if (auto* nx = dynamic_cast<NxNet*>(&link)) {
                nx->silenceLimit = silence;
                nx->silenceFirst = silenceFirst;
                nx->loginLimit = login;
                nx->stallMin = stallMin;
                nx->stallMax = stallMax;
                nx->keyOnlyStallMax = keyOnlyMax;
            }
        };
        ctrl->setWatchdogInterval(100);
        window->btnConnect()->click();
    }
    // Disconnects, ends the recorder and deletes its site, for the next one.
    void endSite()
    {
        window->btnDisconnect()->click();
        rec->stop();
        rec.reset();
        ctrl->DeleteDVR();
    }
    MyOpenGLView* view() const { return window->mainGLView(); }
    QString progress() const { return QString("Connect DVR - 127.0.0.1 [Port : %1]").arg(rec->port()); }
    bool connected() const { return ctrl->statusText() == "Connected" && view()->isStreaming(); }

    // Waits for done, noting each text the status line shows meanwhile.
    bool waitSeeing(QStringList& seen, const std::function<bool()>& done, std::chrono::milliseconds d)
    {
        return waitFor(
            [&] {
                if (seen.isEmpty() || seen.back() != ctrl->statusText())
                    seen << ctrl->statusText();
                return done();
            },
            d);
    }
    // The status line and the view say nothing but "Connected" for d.
    bool steady(std::chrono::milliseconds d)
    {
        bool ok = true;
        waitFor(
            [&] {
                ok = ok && connected();
                return !ok;
            },
            d);
        return ok;
    }

    std::chrono::milliseconds silence{20000};
    std::chrono::milliseconds silenceFirst{65000};
    std::chrono::milliseconds login{10000};
    std::chrono::milliseconds stallMin{400};
    std::chrono::milliseconds stallMax{800};
    std::chrono::milliseconds keyOnlyMax{30000};
};

TEST_F(PeerWatch, PicturesThatStopLeaveConnectedAndComeBack)
{
    testrec::RecorderConfig cfg;
    cfg.echoIntervalMs = 100;
    ASSERT_NO_FATAL_FAILURE(connectTo(cfg));
    ASSERT_TRUE(waitFor([&] { return connected(); }, 10s));
    rec->setStreaming(false, false);
    ASSERT_TRUE(waitFor([&] { return !view()->isStreaming(); }, 5s));
    EXPECT_EQ(view()->currentNetStatus(), 13);  // waiting for data
    EXPECT_TRUE(ctrl->statusText().startsWith(progress())) << ctrl->statusText().toStdString();
    EXPECT_EQ(rec->status().connections, 1);
    rec->setStreaming(true, false);
    EXPECT_TRUE(waitFor([&] { return connected(); }, 5s));
}

// From Connect to the first picture the line tells the progress; a login
// never answered through every try (each twice as long as the one before)
// is a failure, and the watchdog tries again.
TEST_F(PeerWatch, TheStatusLineTellsEachStep)
{
    login = 300ms;
    testrec::RecorderConfig cfg;
    cfg.answerLogin = false;
    ASSERT_NO_FATAL_FAILURE(connectTo(cfg));
    // The watchdog waits for echoes longer than the tries take.
    ctrl->setWatchdogInterval(400);
    QStringList seen;
    ASSERT_TRUE(waitSeeing(seen, [&] { return ctrl->statusText() == "Disconnected"; }, 10s));
    seen.removeLast();
    ASSERT_FALSE(seen.isEmpty());
    for (const QString& s : seen)
        EXPECT_TRUE(s.startsWith(progress())) << s.toStdString();
    EXPECT_EQ(view()->currentNetStatus(), 8);  // the connection failed
    EXPECT_EQ(rec->status().connections, NxNet::kLoginTries);
    ASSERT_TRUE(waitFor([&] { return rec->status().connections > NxNet::kLoginTries; }, 5s));

    rec->updateConfig([](testrec::RecorderConfig& c) { c.answerLogin = true; });
    EXPECT_TRUE(waitFor([&] { return connected(); }, 10s));
}

TEST_F(PeerWatch, ARecorderWithoutChannelsIsShownAsUnusable)
{
    testrec::RecorderConfig cfg;
    cfg.channels = 0;
    ASSERT_NO_FATAL_FAILURE(connectTo(cfg));
    ASSERT_TRUE(waitFor([&] { return view()->currentNetStatus() == 14; }, 5s));  // the recorder does not fit
    EXPECT_EQ(ctrl->statusText(), "Disconnected");
    EXPECT_TRUE(window->btnConnect()->isEnabled());
    EXPECT_EQ(rec->commandCount(3), 0u);
}

TEST_F(PeerWatch, ASilentRecorderIsLostAndLoggedInAgain)
{
    silence = 500ms;
    testrec::RecorderConfig cfg;
    cfg.echoIntervalMs = 100;
    ASSERT_NO_FATAL_FAILURE(connectTo(cfg));
    ASSERT_TRUE(waitFor([&] { return connected(); }, 10s));
    // Its echoes have shown its rhythm.
    ASSERT_TRUE(rec->waitUntil([](const testrec::RecorderStatus& s) { return s.echoesSent >= 3; }, 2s));
    // A slower watchdog leaves the lost state on screen long enough to see.
    ctrl->setWatchdogInterval(1000);
    rec->setEchoInterval(0);
    rec->setStreaming(false, false);
    ASSERT_TRUE(waitFor([&] { return view()->currentNetStatus() == 8; }, 5s));
    EXPECT_EQ(ctrl->statusText(), "Disconnected");
    rec->setEchoInterval(100);
    rec->setStreaming(true, false);
    EXPECT_TRUE(waitFor([&] { return rec->status().connections >= 2 && connected(); }, 10s));
}

// A recorder that echoes every 30 s (scaled: silence limits of 0.6 and 2 s,
// an echo a second) stays connected through a paused playback, then plays
// on from where it stood.
TEST_F(PeerWatch, AQuietRecorderKeepsAPausedPlayback)
{
    silence = 600ms;
    silenceFirst = 2000ms;
    testrec::RecorderConfig cfg;
    cfg.echoIntervalMs = 1000;
    ASSERT_NO_FATAL_FAILURE(connectTo(cfg));
    ASSERT_TRUE(waitFor([&] { return connected(); }, 10s));
    ASSERT_TRUE(guitest::playFromTimeSearch(*ctrl, cfg.recordStart + 600));
    ASSERT_TRUE(rec->waitUntil([](const testrec::RecorderStatus& s) { return s.play == testrec::PlayState::Playing; },
                               5s));
    QTest::qWait(1000);
    guitest::pressPlayback(*ctrl, "btnPause");
    const uint32_t pausedAt = ctrl->recorderLink()->searchInfo().hdd_search_set_play_time;
    EXPECT_TRUE(steady(5s));
    rec->clearCommands();
    guitest::pressPlayback(*ctrl, "btnPlay");
    auto seek = rec->waitForCommand(29, 2s);
    ASSERT_TRUE(seek.has_value());
    EXPECT_EQ(testrec::readLe32(seek->payload, 0), pausedAt);
    EXPECT_TRUE(rec->waitUntil([&](const testrec::RecorderStatus& s) { return s.playTime > pausedAt + 1; }, 5s));
    EXPECT_TRUE(steady(1s));
    EXPECT_EQ(rec->status().connections, 1);
}

// Pictures the decoder rejects are no pictures: the view leaves the last
// good one for the waiting state, and shows the next good one.
TEST_F(PeerWatch, RejectedPicturesShowAsWaiting)
{
    testrec::RecorderConfig cfg;
    cfg.echoIntervalMs = 100;
    ASSERT_NO_FATAL_FAILURE(connectTo(cfg));
    ASSERT_TRUE(waitFor([&] { return connected(); }, 10s));
    rec->setGarbleVideo(true);
    ASSERT_TRUE(waitFor([&] { return !view()->isStreaming(); }, 5s));
    EXPECT_TRUE(ctrl->statusText().startsWith(progress())) << ctrl->statusText().toStdString();
    rec->setGarbleVideo(false);
    EXPECT_TRUE(waitFor([&] { return connected(); }, 5s));
    EXPECT_EQ(rec->status().connections, 1);
}

// A login answered after 12 s against a 10 s deadline (scaled: 720 ms
// against 600 ms): the next try waits longer and connects; the line tells
// the progress meanwhile and never a failure.
TEST_F(PeerWatch, ASlowLoginConnectsOnALaterTry)
{
    login = 600ms;
    testrec::RecorderConfig cfg;
    cfg.loginDelayMs = 720;
    cfg.echoIntervalMs = 100;
    ASSERT_NO_FATAL_FAILURE(connectTo(cfg));
    QStringList seen;
    ASSERT_TRUE(waitSeeing(seen, [&] { return connected(); }, 10s));
    EXPECT_EQ(rec->status().connections, 2);
    for (const QString& s : seen)
        EXPECT_TRUE(s.startsWith(progress()) || s == "Connected") << s.toStdString();
    // A new Connect starts from the first deadline again: it is missed once
    // more.
    window->btnDisconnect()->click();
    window->btnConnect()->click();
    EXPECT_TRUE(waitFor([&] { return rec->status().connections >= 4 && connected(); }, 10s));
}

// Every channel in video loss, or covert: "Connected" at once after the
// login and for as long as the quiet recorder stays.
TEST_F(PeerWatch, ChannelsThatSendNothingShowWhatTheyAre)
{
    silence = 600ms;
    silenceFirst = 2000ms;
    for (bool covert : {false, true}) {
        SCOPED_TRACE(covert ? "covert" : "video loss");
        testrec::RecorderConfig cfg;
        cfg.echoIntervalMs = 1000;
        if (covert)
            cfg.covertMask = 0xF;
        else
            cfg.videoLossMask = 0xF, cfg.streamVideo = false;
        ASSERT_NO_FATAL_FAILURE(connectTo(cfg));
        ASSERT_TRUE(waitFor([&] { return connected(); }, 5s)) << ctrl->statusText().toStdString();
        EXPECT_TRUE(steady(4500ms)) << ctrl->statusText().toStdString();
        EXPECT_EQ(rec->status().connections, 1);
        endSite();
    }
}

// Key frames only, a key frame every 6 or 10 s (scaled against a 0.5 s
// least stall time): the box toggled on and off never shows a stall.
TEST_F(PeerWatch, SeldomKeyFramesByChoiceStayConnected)
{
    stallMin = 500ms;
    stallMax = 900ms;
    keyOnlyMax = 3000ms;
    for (int gop : {6, 10}) {
        SCOPED_TRACE(gop);
        testrec::RecorderConfig cfg;
        cfg.fps = 10;
        cfg.gop = gop;
        cfg.echoIntervalMs = 100;
        ASSERT_NO_FATAL_FAILURE(connectTo(cfg));
        ASSERT_TRUE(waitFor([&] { return connected(); }, 10s));
        ctrl->ShowDisplayView();
        auto* box = ctrl->displayPanel()->findChild<QAbstractButton*>("iframe");
        ASSERT_NE(box, nullptr);
        for (int i = 0; i < 2; ++i) {
            box->click();
            ASSERT_TRUE(box->isChecked());
            EXPECT_TRUE(steady(2500ms));
            box->click();
            EXPECT_TRUE(steady(300ms));
        }
        EXPECT_EQ(rec->status().connections, 1);
        endSite();
    }
}

// Range answers nobody asked for reach no panel and ask for nothing more.
TEST_F(PeerWatch, UnaskedAnswersWithTheCalendarOpen)
{
    testrec::RecorderConfig cfg;
    cfg.streamVideo = false;
    cfg.echoIntervalMs = 0;
    ASSERT_NO_FATAL_FAILURE(connectTo(cfg));
    ASSERT_EQ(rec->waitForLogin(5s), testrec::LoginResult::Accepted);
    ASSERT_TRUE(rec->waitForCommand(6, 5s, 2).has_value());
    ctrl->ShowSearchView();
    size_t asked = 0;
    QTimer::singleShot(0, ctrl.get(), [&] {
        CalendarSearchController* p = ctrl->calendarSearchPanel();
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(waitFor([&] { return p->recDay() != 0 || rec->commandCount(15) >= 2; }, 5s));
        QTest::qWait(200);
        asked = rec->commandCount(15);
        for (int i = 0; i < 300; ++i)
            rec->sendCommand(17, testrec::rangeAnswer(cfg.recordStart, cfg.recordEnd));
        QTest::qWait(500);
        EXPECT_EQ(rec->commandCount(15), asked);
        ctrl->searchWindow()->reject();
    });
    QAbstractButton* b = ctrl->playbackPanel()->findChild<QAbstractButton*>("btnCalendarSearch");
    ASSERT_NE(b, nullptr);
    b->click();
    EXPECT_GE(asked, 2u);
}

}  // namespace
