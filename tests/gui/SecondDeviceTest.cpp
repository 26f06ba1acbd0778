// A site of the second device kind through the real window: its link, its
// keypad panels and what they send, the snapshot folder, and its picture.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

#include "GuiTestSupport.h"
#include "app/AppController.h"
#include "app/TitleBar.h"
#include "device/TestDevice.h"
#include "link/CNetwork.h"
#include "output/MyOpenGLView.h"
#include "panels/VorelLumoCtrl2Controller.h"
#include "panels/VorelLumoCtrlViewController.h"

using namespace std::chrono_literals;
using guitest::waitFor;

namespace {

class SecondDevice : public guitest::AppWindowTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(AppWindowTest::SetUp());
        dev = std::make_unique<testdev::TestDevice>();
        ASSERT_TRUE(dev->start(0));
        addSite({.name = "Keypad device", .model = SITE_MODEL_MJPEG, .port = dev->port(), .password = "1234"});
    }
    void TearDown() override
    {
        AppWindowTest::TearDown();
        if (dev)
            dev->stop();
    }
    void connectDevice()
    {
        window->btnConnect()->click();
        ASSERT_NE(ctrl->deviceLink(), nullptr);
        ASSERT_TRUE(dev->waitUntil([](const testdev::DeviceStatus& s) { return s.logins == 1; }, 5s));
    }
    QAbstractButton* key(const QString& name) const
    {
        for (auto* b : ctrl->devicePanels()->findChildren<QAbstractButton*>())
            if (b->accessibleName() == name)
                return b;
        return nullptr;
    }
    std::vector<int> keys() const { return dev->status().keys; }
    // Waits until the middle and a corner of the view show the colour.
    bool viewShows(testdev::Bgr want, std::chrono::milliseconds timeout)
    {
        MyOpenGLView* view = window->mainGLView();
        return waitFor(
            [&] {
                QImage img = view->grabFramebuffer();
                if (img.isNull())
                    return false;
                for (QPoint p : {QPoint(img.width() / 2, img.height() / 2), QPoint(img.width() / 10, img.height() / 10)}) {
                    QColor c = img.pixelColor(p);
                    if (std::abs(c.red() - want.r) > 12 || std::abs(c.green() - want.g) > 12 ||
                        std::abs(c.blue() - want.b) > 12)
                        return false;
                }
                return true;
            },
            timeout);
    }

    std::unique_ptr<testdev::TestDevice> dev;
};

TEST_F(SecondDevice, KeypadsTakeThePanelBoxAndSendKeys)
{
    connectDevice();
    ASSERT_NE(ctrl->devicePanels(), nullptr);
    EXPECT_EQ(subPanel(), ctrl->devicePanels());
    for (const char* name : {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0", "Setup", "PTZ", "AutoSeq", "Search",
                             "Select", "Quad", "Audio", "Up", "Down", "Left", "Right", "Zoom Up", "Zoom Down",
                             "Focus Up", "Focus Down", "Rewind", "Stop", "Play", "Fast Forward", "Snapshot", "Folder"}) {
        QAbstractButton* b = key(name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(b->text(), QString(name));
    }
    for (const char* name : {"1", "2", "0", "Search", "Quad", "Stop", "Play"})
        key(name)->click();
    QTest::mousePress(key("Up"), Qt::LeftButton);
    QTest::mouseRelease(key("Up"), Qt::LeftButton);
    std::vector<int> want = {2, 4, 13, 3, 12, 14, 19, 15, 72};
    EXPECT_TRUE(dev->waitUntil([&](const testdev::DeviceStatus& s) { return s.keys.size() >= want.size(); }, 3s));
    EXPECT_EQ(keys(), want);

    // The recorder panels' buttons bring the keypads back, without the
    // recorder's permission gates.
    ctrl->ShowIpsetView();
    ctrl->ShowPTZView();
    EXPECT_EQ(subPanel(), ctrl->devicePanels());
    ctrl->ShowIpsetView();
    ctrl->ShowSearchView();
    EXPECT_EQ(subPanel(), ctrl->devicePanels());
    EXPECT_TRUE(alerts.isEmpty());
    EXPECT_TRUE(waitFor([&] { return ctrl->playbackKeysPanel()->netStateText() == "Connected"; }, 5s));

    // The watchdog leaves a connected second device alone.
    ctrl->setWatchdogInterval(50);
    QTest::qWait(600);
    EXPECT_EQ(dev->status().connections, 1);

    window->btnDisconnect()->click();
    EXPECT_EQ(ctrl->NetSource(), nullptr);
    EXPECT_NE(subPanel(), ctrl->devicePanels());
    EXPECT_TRUE(dev->waitUntil([](const testdev::DeviceStatus& s) { return !s.clientConnected; }, 3s));
    EXPECT_TRUE(waitFor([&] { return ctrl->playbackKeysPanel()->netStateText() == "Disconnected"; }, 3s));
    ctrl->ShowPTZView();
    EXPECT_EQ(alerts, QStringList({"Permission denide!!/Check Authority"}));
}

TEST_F(SecondDevice, SnapshotFolderOfThePanel)
{
    connectDevice();
    QTemporaryDir dir;
    QString offered;
    ctrl->chooseFolder = [&](const QString& start) {
        offered = start;
        return QString();
    };
    key("Folder")->click();  // cancelled: nothing changes
    EXPECT_EQ(offered, ctrl->capturePath());
    EXPECT_TRUE(ctrl->playbackKeysPanel()->capturePath().isEmpty());
    EXPECT_FALSE(QSettings("vesk", "vesk").contains("capturePath"));

    ctrl->chooseFolder = [&](const QString&) { return dir.path(); };
    key("Folder")->click();
    EXPECT_EQ(ctrl->playbackKeysPanel()->capturePath(), dir.path());
    auto* field = ctrl->devicePanels()->findChild<QLineEdit*>("m_PathField");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(), dir.path());
    EXPECT_EQ(QSettings("vesk", "vesk").value("capturePath").toString(), dir.path());
}

// The device's state reaches the status line and the view as a recorder's
// does: "Connected" while pictures come, the failure picture and
// "Disconnected" at once when the device goes away, and "Connected" again
// once it is back on its port.
TEST_F(SecondDevice, StatusLineAndViewFollowTheDevice)
{
    ctrl->prepareLink = [](CoNetwork& link) {
        if (auto* device = dynamic_cast<CNetwork*>(&link))
            device->reconnectAfter = 3s;
    };
    MyOpenGLView* view = window->mainGLView();
    connectDevice();
    EXPECT_TRUE(waitFor([&] { return ctrl->statusText() == "Connected"; }, 5s));
    EXPECT_TRUE(view->isStreaming());
    uint16_t port = dev->port();
    dev->stop();  // killed: its connection closes mid-stream
    EXPECT_TRUE(waitFor([&] { return ctrl->statusText() == "Disconnected"; }, 2500ms));
    EXPECT_FALSE(view->isStreaming());
    EXPECT_EQ(view->currentNetStatus(), 8);  // "7_Con_Fail_NetErr"
    EXPECT_FALSE(viewShows(testdev::flatColour(81, 90, 240), 300ms));
    EXPECT_TRUE(window->btnDisconnect()->isEnabled());

    ASSERT_TRUE(dev->start(port));
    EXPECT_TRUE(dev->waitUntil([](const testdev::DeviceStatus& s) { return s.logins == 2; }, 10s));
    EXPECT_TRUE(waitFor([&] { return ctrl->statusText() == "Connected"; }, 5s));
    EXPECT_TRUE(viewShows(testdev::flatColour(81, 90, 240), 10s));
}

// Pictures that stop while the device goes on sending command messages: the
// view leaves the last picture and the status line leaves "Connected" within
// the link's stall limit; both come back with the pictures.
TEST_F(SecondDevice, PicturesThatStopWhileCommandsFlowAreShownAsWaiting)
{
    ctrl->prepareLink = [](CoNetwork& link) {
        if (auto* device = dynamic_cast<CNetwork*>(&link)) {
            device->stallMin = 500ms;
            device->stallMax = 1000ms;
        }
    };
    const testdev::Bgr red = testdev::flatColour(81, 90, 240);
    MyOpenGLView* view = window->mainGLView();
    dev->setCommandInterval(200ms);
    connectDevice();
    ASSERT_TRUE(waitFor([&] { return ctrl->statusText() == "Connected" && view->isStreaming(); }, 5s));
    EXPECT_TRUE(viewShows(red, 10s));

    dev->setStreaming(false);
    // A slow window (sanitizers) may hold back pictures still on their way.
    ASSERT_TRUE(waitFor([&] { return !view->isStreaming(); }, 10s))
        << "link state " << ctrl->deviceLink()->state() << ", status " << ctrl->statusText().toStdString();
    EXPECT_TRUE(ctrl->statusText().startsWith("Connect DVR - 127.0.0.1 [Port : ")) << ctrl->statusText().toStdString();
    EXPECT_EQ(view->currentNetStatus(), 13);  // waiting for data
    EXPECT_FALSE(viewShows(red, 300ms));
    EXPECT_TRUE(waitFor([&] { return ctrl->playbackKeysPanel()->netStateText() == "Waiting for data"; }, 2s));
    EXPECT_TRUE(window->btnDisconnect()->isEnabled());

    dev->setStreaming(true);
    EXPECT_TRUE(waitFor([&] { return ctrl->statusText() == "Connected" && view->isStreaming(); }, 5s));
    EXPECT_TRUE(viewShows(red, 10s));
    EXPECT_EQ(dev->status().connections, 1);
}

// A playback key may stop the pictures for a while, not for good: pictures
// that go on after the keys never show as waiting, pictures that stop right
// after Play do once the key's pause is over.
TEST_F(SecondDevice, PicturesStoppedAfterAPlaybackKeyShowAsWaitingAfterItsPause)
{
    ctrl->prepareLink = [](CoNetwork& link) {
        if (auto* device = dynamic_cast<CNetwork*>(&link)) {
            device->stallMin = 500ms;
            device->stallMax = 1000ms;
            device->playbackKeyPause = 1000ms;
        }
    };
    MyOpenGLView* view = window->mainGLView();
    auto waiting = [&] { return !view->isStreaming() || ctrl->statusText() != "Connected"; };
    dev->setCommandInterval(200ms);
    connectDevice();
    ASSERT_TRUE(waitFor([&] { return !waiting(); }, 5s));

    for (const char* name : {"Play", "Fast Forward", "Stop", "Rewind"}) {
        key(name)->click();
        EXPECT_FALSE(waitFor(waiting, 1200ms)) << name;
    }
    EXPECT_FALSE(waitFor(waiting, 1500ms));

    key("Play")->click();
    dev->setStreaming(false);
    ASSERT_TRUE(waitFor([&] { return !view->isStreaming(); }, 10s));
    EXPECT_EQ(view->currentNetStatus(), 13);  // waiting for data
    EXPECT_TRUE(waitFor([&] { return ctrl->playbackKeysPanel()->netStateText() == "Waiting for data"; }, 2s));
    EXPECT_EQ(keys(), (std::vector<int>{19, 17, 14, 16, 19}));
    dev->setStreaming(true);
    EXPECT_TRUE(waitFor([&] { return !waiting(); }, 5s));
    EXPECT_EQ(dev->status().connections, 1);
}

// A device that sends pointer information back to back: the window takes
// the newest values a few times a second, not a queued call per message.
TEST_F(SecondDevice, ACommandFloodCostsTheWindowFewCalls)
{
    struct QueuedCalls : QObject {
        bool eventFilter(QObject*, QEvent* e) override
        {
            calls += e->type() == QEvent::MetaCall;
            return false;
        }
        int calls = 0;
    } queued;
    MyOpenGLView* view = window->mainGLView();
    dev->setCommandFlood(true);
    connectDevice();
    ASSERT_TRUE(waitFor([&] { return ctrl->statusText() == "Connected"; }, 5s));
    const uint64_t before = dev->status().commands;
    qApp->installEventFilter(&queued);
    QTest::qWait(1000);
    qApp->removeEventFilter(&queued);
    EXPECT_GT(dev->status().commands - before, 1000u);
    EXPECT_LT(queued.calls, 50);
    // The offsets (-3, 5) and the 568 lines reached the view.
    EXPECT_EQ(view->WndPos2DVRPos(QPointF(640, 568), QSizeF(640, 568)), QPointF(654, 588));

    window->btnDisconnect()->click();
    EXPECT_TRUE(window->btnConnect()->isEnabled());
    EXPECT_TRUE(dev->waitUntil([](const testdev::DeviceStatus& s) { return !s.clientConnected; }, 3s));
}

TEST_F(SecondDevice, PictureIsDrawnWhateverAnEarlierRecorderLeft)
{
    MyOpenGLView* view = window->mainGLView();
    view->setMaxCH(16);
    view->SetRecOnOff(0);
    view->SetCovert(1);
    connectDevice();
    EXPECT_EQ(view->maxCh(), 1);
    EXPECT_EQ(view->recOnOff(), 1);
    EXPECT_EQ(view->covert(), 0);
    // The device's pictures go through the decoder into the view.
    EXPECT_TRUE(viewShows(testdev::flatColour(81, 90, 240), 10s));
    dev->setColour(145, 54, 34);  // green
    EXPECT_TRUE(viewShows(testdev::flatColour(145, 54, 34), 10s));
}

}  // namespace
