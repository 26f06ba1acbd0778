// The controller's user-facing side: status line, permission gates, search
// windows and their answers, the capture folder, and connection changes
// while a search window is open.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <memory>

#include "GuiTestSupport.h"
#include "app/AppController.h"
#include "app/TitleBar.h"
#include "app/VESKCtrlViewController.h"
#include "link/NxNet.h"
#include "panels/ModalSearchWindow.h"
#include "platform/Log.h"
#include "panels/TimeSearchController.h"
#include "recorder/BacklogFiller.h"
#include "recorder/TestRecorder.h"

using namespace std::chrono_literals;
using guitest::waitFor;

namespace {

class Controller : public guitest::AppWindowTest {
protected:
    void startRecorder(testrec::RecorderConfig cfg = {})
    {
        cfg.streamAudio = false;
        AppWindowTest::startRecorder(cfg);
    }
    void addSite(int model = 2)
    {
        AppWindowTest::addSite({.name = QString("Site %1").arg(ctrl->siteBook().count()),
                                .model = model,
                                .port = rec ? rec->port() : 1,
                                .id = "admin",
                                .password = "1234"});
    }
    void connectAndLogin()
    {
        window->btnConnect()->click();
        ASSERT_EQ(rec->waitForLogin(5s), testrec::LoginResult::Accepted);
        ASSERT_TRUE(waitFor([&] { return ctrl->NetSource() && ctrl->NetSource()->_siteInfo().auth_mask != 0; }, 3s));
    }
};

TEST_F(Controller, StatusLineTexts)
{
    for (int i = 0; i < 5; ++i)
        ctrl->DisplayConnectStr("10.0.0.1", 2000, "DVR", 0);
    EXPECT_EQ(ctrl->statusText(), "Connect DVR - 10.0.0.1 [Port : 2000].");
    ctrl->DisplayConnectStr("10.0.0.1", 2000, "DVR", 0);
    EXPECT_EQ(ctrl->statusText(), "Connect DVR - 10.0.0.1 [Port : 2000]..");
    ctrl->DisplayConnectStr("10.0.0.1", 2000, "DVR", 0);
    ctrl->DisplayConnectStr("10.0.0.1", 2000, "DVR", 0);
    EXPECT_EQ(ctrl->statusText(), "Connect DVR - 10.0.0.1 [Port : 2000]...");
    ctrl->DisplayConnectStr("", 21, "", 1);
    EXPECT_EQ(ctrl->statusText(), "PASSWORD IS WRONG");
    ctrl->DisplayConnectStr("", 22, "", 1);
    EXPECT_EQ(ctrl->statusText(), "NOT MATCH USER");
    ctrl->DisplayConnectStr("", 0, "", 1);
    EXPECT_EQ(ctrl->statusText(), "DVR LOGIN FAIL");
    ctrl->DisplayConnectStr("", 0, "", 2);
    EXPECT_EQ(ctrl->statusText(), "Connected");
    // The dot cycle goes on where it stopped.
    ctrl->DisplayConnectStr("h", 1, "DDNS", 0);
    EXPECT_EQ(ctrl->statusText(), "Connect DDNS - h [Port : 1].");
}

TEST_F(Controller, PermissionGates)
{
    // No link at all: both panels are refused.
    ctrl->ShowSearchView();
    ctrl->ShowPTZView();
    EXPECT_EQ(alerts, QStringList({"Permission denide!!/Check Authority", "Permission denide!!/Check Authority"}));

    for (uint32_t mask : {0x04u, 0x10u}) {
        alerts.clear();
        testrec::RecorderConfig cfg;
        cfg.permissionMask = mask;
        cfg.streamVideo = false;
        startRecorder(cfg);
        QSettings("vesk", "vesk").clear();
        ctrl->siteBook().ReadInfo();
        addSite();
        connectAndLogin();
        ctrl->ShowSearchView();
        EXPECT_EQ(alerts.size(), mask == 0x04 ? 0 : 1) << mask;
        if (mask == 0x04) {
            EXPECT_EQ(subPanel(), reinterpret_cast<QWidget*>(ctrl->playbackPanel()));
        }
        ctrl->ShowPTZView();
        EXPECT_EQ(alerts.size(), 1) << mask;
        window->btnDisconnect()->click();
        rec->stop();
    }
}

TEST_F(Controller, UnknownSiteModelLeavesNoConnectionShowing)
{
    addSite(7);
    window->btnConnect()->click();
    EXPECT_EQ(ctrl->NetSource(), nullptr);
    EXPECT_TRUE(window->btnConnect()->isEnabled());
    EXPECT_FALSE(window->btnDisconnect()->isEnabled());
}

TEST_F(Controller, ControlBarFollowsTheConnection)
{
    startRecorder();
    addSite();
    auto* search = ctrl->controlBar()->view()->findChild<QPushButton*>("_Search");
    auto* folder = ctrl->controlBar()->view()->findChild<QPushButton*>("_Folder");
    ASSERT_TRUE(search && folder);
    EXPECT_FALSE(search->isEnabled());
    EXPECT_TRUE(folder->isEnabled());
    window->btnConnect()->click();
    EXPECT_TRUE(search->isEnabled());
    window->btnDisconnect()->click();
    EXPECT_FALSE(search->isEnabled());
    EXPECT_TRUE(folder->isEnabled());
}

TEST_F(Controller, CaptureFolderIsStoredAtOnce)
{
    EXPECT_TRUE(ctrl->capturePath().endsWith("/capture"));
    QTemporaryDir dir;
    ctrl->chooseFolder = [&](const QString&) { return dir.path(); };
    ctrl->OpenFolder();
    EXPECT_EQ(ctrl->capturePath(), dir.path());
    EXPECT_EQ(QSettings("vesk", "vesk").value("capturePath").toString(), dir.path());
    ctrl->chooseFolder = [](const QString&) { return QString(); };
    ctrl->OpenFolder();
    EXPECT_EQ(ctrl->capturePath(), dir.path());
}

TEST_F(Controller, TimeSearchStartsPlaybackAndLateAnswersAreDropped)
{
    testrec::RecorderConfig cfg;
    cfg.streamVideo = false;
    startRecorder(cfg);
    addSite();
    connectAndLogin();
    // Cancelled: nothing but the range request goes out.
    QTimer::singleShot(300, ctrl.get(), [&] {
        if (auto* p = ctrl->timeSearchPanel())
            ModalSearchWindow::endModal(p, 0);
    });
    rec->clearCommands();
    ctrl->ShowTimeSearchView();
    EXPECT_EQ(rec->commandCount(13), 0u);
    EXPECT_TRUE(rec->waitForCommand(15, 2s));
    // A range answer after the window closed reaches no panel.
    rec->sendCommand(17, {1, 0, 0, 0, 2, 0, 0, 0});
    QTest::qWait(200);
    EXPECT_EQ(ctrl->timeSearchPanel(), nullptr);

    // Played: the chosen time goes to the recorder.
    QTimer::singleShot(0, ctrl.get(), [&] {
        waitFor([&] { return ctrl->timeSearchPanel() && ctrl->timeSearchPanel()->hasRange(); }, 5s);
        TimeSearchController* p = ctrl->timeSearchPanel();
        ASSERT_NE(p, nullptr);
        p->btnDownPlay();
    });
    ctrl->ShowTimeSearchView();
    auto seek = rec->waitForCommand(29, 3s);
    ASSERT_TRUE(seek);
    EXPECT_TRUE(rec->waitForCommand(22, 2s));
    uint32_t t = uint32_t(seek->payload[0]) | uint32_t(seek->payload[1]) << 8 | uint32_t(seek->payload[2]) << 16 |
                 uint32_t(seek->payload[3]) << 24;
    EXPECT_GE(t, cfg.recordStart);
    EXPECT_LE(t, cfg.recordEnd);
}

TEST_F(Controller, SearchBusyAlertDoesNotHoldTheLink)
{
    testrec::RecorderConfig cfg;
    cfg.searchBusy = true;
    cfg.streamVideo = false;
    startRecorder(cfg);
    addSite();
    connectAndLogin();
    ctrl->recorderLink()->RequestSearch(0, int32_t(cfg.recordStart));
    EXPECT_TRUE(waitFor([&] { return !alerts.isEmpty(); }, 3s));
    EXPECT_EQ(alerts.value(0), "Another user is searching/Please try again in a few minutes.");
    EXPECT_TRUE(ctrl->NetSource()->IsConnectDVR());
}

TEST_F(Controller, WatchdogLeavesAConnectInProgressAlone)
{
    testrec::BlockedListener blocked;
    ASSERT_TRUE(blocked.ok());
    AppWindowTest::addSite({.name = "Blocked", .port = blocked.port()});
    std::string log;
    LogSink old = setLogSink([&](const std::string& line) { log += line + "\n"; });
    ctrl->setWatchdogInterval(5);
    window->btnConnect()->click();
    CoNetwork* first = ctrl->NetSource();
    ASSERT_NE(first, nullptr);
    QTest::qWait(1000);  // many watchdog firings during the connect wait
    EXPECT_EQ(ctrl->NetSource(), first);
    EXPECT_EQ(first->state(), uint32_t(NET_CONNECT_REQ));
    setLogSink(old);
    EXPECT_EQ(log.find("ECHO NONE RESTART"), std::string::npos);
}

// Connect, Disconnect and watchdog restarts while a search window is open
// and search answers keep arriving: no deadlock, no crash.
TEST_F(Controller, ConnectionChurnDuringAnOpenSearch)
{
    testrec::RecorderConfig cfg;
    cfg.echoIntervalMs = 0;  // the watchdog keeps replacing the link
    startRecorder(cfg);
    addSite();
    ctrl->setWatchdogInterval(5);
    connectAndLogin();

    int rounds = 0;
    QTimer churn;
    QObject::connect(&churn, &QTimer::timeout, ctrl.get(), [&] {
        ++rounds;
        ctrl->RequestSearchInfo(15, 3, 0);
        if (rounds % 7 == 0)
            window->btnConnect()->click();
        if (rounds % 11 == 0)
            window->btnDisconnect()->click();
        if (rounds % 13 == 0)
            window->btnConnect()->click();
        if (rounds > 150) {
            churn.stop();
            if (auto* p = ctrl->timeSearchPanel())
                ModalSearchWindow::endModal(p, 0);
        }
    });
    churn.start(10);
    ctrl->ShowTimeSearchView();
    EXPECT_GT(rounds, 150);
    EXPECT_GE(rec->status().connections, 3);
    // Still usable afterwards.
    window->btnConnect()->click();
    EXPECT_TRUE(waitFor([&] { return rec->status().login == testrec::LoginResult::Accepted; }, 5s));
}

}  // namespace
