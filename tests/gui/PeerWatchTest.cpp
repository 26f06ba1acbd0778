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
                nx->loginLimit = login;
                nx->stallMin = 400ms;
                nx->stallMax = 800ms;
            }
        };
        ctrl->setWatchdogInterval(100);
        window->btnConnect()->click();
    }
    MyOpenGLView* view() const { return window->mainGLView(); }
    QString progress() const { return QString("Connect DVR - 127.0.0.1 [Port : %1]").arg(rec->port()); }
    bool connected() const { return ctrl->statusText() == "Connected" && view()->isStreaming(); }

    std::chrono::milliseconds silence{20000};
    std::chrono::milliseconds login{10000};
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
// never answered is a failure, and the watchdog tries again.
TEST_F(PeerWatch, TheStatusLineTellsEachStep)
{
    login = 600ms;
    testrec::RecorderConfig cfg;
    cfg.answerLogin = false;
    ASSERT_NO_FATAL_FAILURE(connectTo(cfg));
    QStringList seen;
    ASSERT_TRUE(waitFor(
        [&] {
            if (seen.isEmpty() || seen.back() != ctrl->statusText())
                seen << ctrl->statusText();
            return ctrl->statusText() == "Disconnected";
        },
        5s));
    seen.removeLast();
    ASSERT_FALSE(seen.isEmpty());
    for (const QString& s : seen)
        EXPECT_TRUE(s.startsWith(progress())) << s.toStdString();
    EXPECT_EQ(view()->currentNetStatus(), 8);  // the connection failed
    ASSERT_TRUE(waitFor([&] { return rec->status().connections >= 2; }, 5s));

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
    rec->setEchoInterval(0);
    rec->setStreaming(false, false);
    ASSERT_TRUE(waitFor([&] { return view()->currentNetStatus() == 8; }, 5s));
    EXPECT_EQ(ctrl->statusText(), "Disconnected");
    rec->setEchoInterval(100);
    rec->setStreaming(true, false);
    EXPECT_TRUE(waitFor([&] { return rec->status().connections >= 2 && connected(); }, 10s));
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
