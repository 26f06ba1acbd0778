// The client's real window and view against the test recorder on 127.0.0.1.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <future>
#include <memory>

#include "GuiTestSupport.h"
#include "app/AppController.h"
#include "app/TitleBar.h"
#include "link/NxNet.h"
#include "link/HostLookup.h"
#include "output/MyOpenGLView.h"
#include "recorder/BacklogFiller.h"
#include "recorder/Palette.h"
#include "recorder/TestRecorder.h"

using namespace std::chrono_literals;

namespace {

using guitest::waitFor;

class LiveView : public guitest::AppWindowTest {
protected:
    void addSite(const QString& password = "1234")
    {
        AppWindowTest::addSite({.name = "Test recorder",
                                .port = rec->port(),
                                .id = "admin",
                                .password = password,
                                .ddnsPort = 2000});
    }
    // Waits until every channel's cell shows its colour in the framebuffer.
    bool cellsShowColours(int channels, int side, std::chrono::milliseconds timeout)
    {
        auto end = std::chrono::steady_clock::now() + timeout;
        MyOpenGLView* view = window->mainGLView();
        while (std::chrono::steady_clock::now() < end) {
            QTest::qWait(100);
            QImage img = view->grabFramebuffer();
            if (img.isNull())
                continue;
            bool all = true;
            for (int ch = 0; ch < channels && all; ++ch) {
                int cw = img.width() / side;
                int chh = img.height() / side;
                QColor px = img.pixelColor((ch % side) * cw + cw / 2, (ch / side) * chh + chh / 2);
                testrec::Rgb want = testrec::channelColour(ch);
                all = std::abs(px.red() - want.r) < 20 && std::abs(px.green() - want.g) < 20 &&
                      std::abs(px.blue() - want.b) < 20;
            }
            if (all)
                return true;
        }
        return false;
    }
};

class Layouts : public LiveView, public ::testing::WithParamInterface<int> {};

TEST_P(Layouts, EveryChannelInItsCell)
{
    int channels = GetParam();
    testrec::RecorderConfig cfg;
    cfg.channels = channels;
    cfg.fps = 10;
    cfg.streamAudio = false;
    startRecorder(cfg);
    addSite();
    window->btnConnect()->click();
    EXPECT_FALSE(window->btnConnect()->isEnabled());
    EXPECT_TRUE(window->btnDisconnect()->isEnabled());
    int side = channels == 4 ? 2 : (channels == 9 ? 3 : 4);
    EXPECT_TRUE(cellsShowColours(channels, side, 20s));
    EXPECT_TRUE(waitFor([&] { return ctrl->statusText() == "Connected"; }, 5s));

    window->btnDisconnect()->click();
    EXPECT_EQ(ctrl->statusText(), "Disconnected");
    EXPECT_EQ(ctrl->NetSource(), nullptr);
    EXPECT_TRUE(window->btnConnect()->isEnabled());
    EXPECT_TRUE(rec->waitForDisconnect(3s));
}

INSTANTIATE_TEST_SUITE_P(Recorder, Layouts, ::testing::Values(4, 9, 16));

// A click that zooms a channel on the recorder, the playback label, and a
// snapshot from the control bar.
TEST_F(LiveView, ZoomAndSnapshotAgainstTheRecorder)
{
    testrec::RecorderConfig cfg;
    cfg.channels = 4;
    cfg.fps = 10;
    cfg.streamAudio = false;
    startRecorder(cfg);
    addSite();
    QTemporaryDir home;
    const QString folder = home.path() + "/shots";
    ctrl->siteBook().setCapturePath(folder);
    window->btnConnect()->click();
    ASSERT_TRUE(cellsShowColours(4, 2, 20s));
    MyOpenGLView* view = window->mainGLView();

    rec->clearCommands();
    QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, QPoint(view->width() * 3 / 4, view->height() * 3 / 4));
    EXPECT_EQ(view->getMouseClickCh(), 4);
    // The view keeps taking pictures meanwhile, so the link is never held up.
    EXPECT_TRUE(waitFor(
        [&] {
            testrec::RecorderStatus s = rec->status();
            return s.audioChannel == 3 && s.liveMask == 0x0008 && rec->commandCount(6) >= 3;
        },
        5s));
    std::vector<int> kinds;
    for (const auto& c : rec->log().withId(6))
        if (auto r = testrec::parseDataRequest(c.payload))
            kinds.push_back(r->kind);
    EXPECT_EQ(kinds, (std::vector<int>{2, 0, 1}));  // audio first, then the live channel

    ctrl->PlaySpeed(8);
    EXPECT_EQ(view->playbackSpeed(), 8);

    view->snapshotClock = [] { return QDateTime(QDate(2026, 12, 7), QTime(21, 5, 9)); };
    QPushButton* capture = nullptr;
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b->text() == "Capture")
            capture = b;
    ASSERT_NE(capture, nullptr);
    capture->click();
    const QString path = folder + "/20261207_210509.jpg";
    EXPECT_EQ(alerts, QStringList{"Done!!/" + path});
    QImage shot(path, "JPEG");
    EXPECT_EQ(shot.size(), view->size() * view->devicePixelRatio());
}

// The status line is read out by its text, not by a fixed name.
QString accessibleText(QWidget* w)
{
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Name) : QString();
}

// After a refused login the watchdog retries; Disconnect stays usable and
// ends the retries.
TEST_F(LiveView, WrongPasswordIsShownAndDisconnectEndsTheRetries)
{
    startRecorder({});
    addSite("nope");
    ctrl->setWatchdogInterval(20);
    window->btnConnect()->click();
    EXPECT_TRUE(waitFor([&] { return ctrl->statusText() == "PASSWORD IS WRONG"; }, 5s));
    EXPECT_EQ(accessibleText(window->netStatus()), "PASSWORD IS WRONG");
    EXPECT_TRUE(waitFor([&] { return window->btnConnect()->isEnabled(); }, 2s));
    EXPECT_TRUE(window->btnDisconnect()->isEnabled());
    EXPECT_TRUE(waitFor([&] { return rec->status().connections >= 2; }, 5s));
    window->btnDisconnect()->click();
    EXPECT_FALSE(window->btnDisconnect()->isEnabled());
    int after = rec->status().connections;
    QTest::qWait(500);
    EXPECT_EQ(rec->status().connections, after);
    EXPECT_EQ(accessibleText(window->netStatus()), "Disconnected");
}

// A link that drops while streaming shows its failure at once, long before
// the watchdog would act.
TEST_F(LiveView, DroppedStreamShowsTheFailureAtOnce)
{
    testrec::RecorderConfig cfg;
    cfg.streamAudio = false;
    startRecorder(cfg);
    addSite();
    window->btnConnect()->click();
    ASSERT_TRUE(cellsShowColours(4, 2, 20s));
    EXPECT_EQ(accessibleText(window->netStatus()), "Connected");
    rec->disconnectClient();
    EXPECT_TRUE(waitFor([&] { return ctrl->statusText() == "Disconnected"; }, 3s));
    MyOpenGLView* view = window->mainGLView();
    EXPECT_FALSE(view->isStreaming());
    EXPECT_EQ(view->currentNetStatus(), 8);  // "7_Con_Fail_NetErr"
    QTest::qWait(200);
    EXPECT_FALSE(cellsShowColours(4, 2, 300ms));
    EXPECT_TRUE(window->btnDisconnect()->isEnabled());
}

// Connecting again right after a Disconnect is not blanked by the
// Disconnect's delayed clear.
TEST_F(LiveView, ConnectRightAfterDisconnectKeepsItsPicture)
{
    testrec::BlockedListener blocked;  // the link stays in its connect wait
    ASSERT_TRUE(blocked.ok());
    AppWindowTest::addSite({.name = "Blocked", .port = blocked.port()});
    window->btnConnect()->click();
    window->btnDisconnect()->click();
    window->btnConnect()->click();
    QTest::qWait(800);
    QImage img = window->mainGLView()->grabFramebuffer();
    ASSERT_FALSE(img.isNull());
    bool drawn = false;
    for (int y = 0; y < img.height() && !drawn; y += 7)
        for (int x = 0; x < img.width() && !drawn; x += 7)
            drawn = img.pixelColor(x, y) != QColor(Qt::black);
    EXPECT_TRUE(drawn) << "the connecting picture was cleared";
}

// A host name whose lookup never answers: the watchdog leaves the link alone
// and Disconnect returns at once.
TEST_F(LiveView, LookupThatNeverAnswersHoldsNothingUp)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> calls{0};
    HostLookup::setResolver([released, &calls](const std::string&, in_addr*) {
        ++calls;
        released.wait();
        return false;
    });
    AppWindowTest::addSite({.name = "Named", .ip = "recorder.test", .port = 9000});
    ctrl->setWatchdogInterval(20);
    window->btnConnect()->click();
    QTest::qWait(400);
    EXPECT_EQ(calls.load(), 1);
    auto begin = std::chrono::steady_clock::now();
    window->btnDisconnect()->click();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
    EXPECT_EQ(ctrl->statusText(), "Disconnected");
    HostLookup::setResolver({});
    release.set_value();
}

// Connect after Disconnect, again and again: the connect step's progress
// text never outlives "Connected".
TEST_F(LiveView, EveryReconnectEndsOnConnected)
{
    testrec::RecorderConfig cfg;
    cfg.streamAudio = false;
    startRecorder(cfg);
    addSite();
    for (int cycle = 0; cycle < 5; ++cycle) {
        window->btnConnect()->click();
        // A busy GUI thread: the link's reports of the whole connect wait
        // for it together.
        std::this_thread::sleep_for(cycle % 2 ? 300ms : 0ms);
        ASSERT_TRUE(waitFor([&] { return window->mainGLView()->isStreaming(); }, 10s)) << cycle;
        QTest::qWait(150);
        EXPECT_EQ(ctrl->statusText(), "Connected") << cycle;
        window->btnDisconnect()->click();
        EXPECT_EQ(ctrl->statusText(), "Disconnected");
    }
}

// A loopback port nothing listens on.
uint16_t refusedPort()
{
    testrec::TestRecorder gone{testrec::RecorderConfig{}};
    if (!gone.start(0))
        return 0;
    uint16_t port = gone.port();
    gone.stop();
    return port;
}

// After a refused connect, and after a DDNS lookup whose server refuses,
// the status line says so at once and stays true until the watchdog's next
// try, which ends the same way.
TEST_F(LiveView, FailedConnectAndLookupAreShownUntilTheNextTry)
{
    uint16_t port = refusedPort();
    ASSERT_NE(port, 0);
    AppWindowTest::addSite({.name = "Nobody", .port = port});
    auto viaDdns = std::make_shared<dvrList>();
    viaDdns->setNsStrRegName("Nobody via DDNS");
    viaDdns->setModelNum(SITE_MODEL_DVR);
    viaDdns->setNsStrDVRIP("127.0.0.1");
    viaDdns->setDvrport(port);
    viaDdns->setBDDNSUSe(1);
    viaDdns->setNsStrDDNSID("NOBODY");
    viaDdns->setNsStrDDNSIP("127.0.0.1");
    viaDdns->setDdnsPort(port);
    ctrl->AddDVR(viaDdns);
    MyOpenGLView* view = window->mainGLView();
    int links = 0;
    ctrl->prepareLink = [&links](CoNetwork&) { ++links; };
    for (int row : {0, 1}) {
        window->tableView()->selectRow(row);
        window->btnConnect()->click();
        const int failure = row == 0 ? 8 : 3;  // "7_Con_Fail_NetErr", "3_DDNS_DVR_Fail"
        EXPECT_TRUE(waitFor([&] { return view->currentNetStatus() == failure; }, 5s)) << row;
        EXPECT_EQ(ctrl->statusText(), "Disconnected");
        QTest::qWait(300);
        EXPECT_EQ(ctrl->statusText(), "Disconnected");
        EXPECT_EQ(accessibleText(window->netStatus()), "Disconnected");
        int before = links;
        ctrl->CheckEcho();  // the watchdog acts on its second firing
        ctrl->CheckEcho();
        EXPECT_EQ(links, before + 1);
        EXPECT_TRUE(waitFor([&] { return ctrl->NetSource()->isThreadExitDone(); }, 5s));
        QTest::qWait(100);
        EXPECT_EQ(ctrl->statusText(), "Disconnected") << row;
        window->btnDisconnect()->click();
    }
}

TEST_F(LiveView, WatchdogReplacesASilentRecorder)
{
    testrec::RecorderConfig cfg;
    cfg.echoIntervalMs = 10;
    cfg.streamAudio = false;
    startRecorder(cfg);
    addSite();
    ctrl->setWatchdogInterval(20);
    window->btnConnect()->click();
    ASSERT_EQ(rec->waitForLogin(5s), testrec::LoginResult::Accepted);
    // While echoes come, the link stays.
    QTest::qWait(600);
    EXPECT_EQ(rec->status().connections, 1);
    rec->setEchoInterval(0);
    EXPECT_TRUE(waitFor([&] { return rec->status().connections >= 2; }, 10s));
}

TEST_F(LiveView, WatchdogReconnectsAfterThePeerLeaves)
{
    testrec::RecorderConfig cfg;
    cfg.streamAudio = false;
    startRecorder(cfg);
    addSite();
    ctrl->setWatchdogInterval(20);
    window->btnConnect()->click();
    ASSERT_EQ(rec->waitForLogin(5s), testrec::LoginResult::Accepted);
    rec->disconnectClient();
    EXPECT_TRUE(waitFor([&] { return rec->status().connections >= 2; }, 10s));
    EXPECT_EQ(rec->waitForLogin(5s), testrec::LoginResult::Accepted);
}

TEST_F(LiveView, ExitStopsTheLinkAndWritesTheBook)
{
    startRecorder({});
    addSite();
    window->btnConnect()->click();
    ASSERT_EQ(rec->waitForLogin(5s), testrec::LoginResult::Accepted);
    window->btnExit()->click();
    EXPECT_TRUE(quitCalled);
    EXPECT_TRUE(rec->waitForDisconnect(3s));
    EXPECT_EQ(QSettings("vesk", "vesk").value("dvrCount").toInt(), 1);
    EXPECT_EQ(QSettings("vesk", "vesk").value("dvrid_0").toString(), "0wthgNlQ0UmJHZK8RKEk8w==");
}

TEST_F(LiveView, ConnectWithoutSelectionDoesNothing)
{
    startRecorder({});
    addSite();
    window->tableView()->clearSelection();
    window->btnConnect()->click();
    QTest::qWait(200);
    EXPECT_EQ(rec->status().connections, 0);
    EXPECT_TRUE(window->btnConnect()->isEnabled());
}

}  // namespace
