// The PTZ, audio and display panels in the real window against the test
// recorder, and the panel buttons' bezel.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/AppController.h"
#include "app/TitleBar.h"
#include "app/VESKCtrlViewController.h"
#include "output/MyOpenGLView.h"
#include "panels/AudioSetViewController.h"
#include "panels/CMyButton.h"
#include "panels/PTZViewController.h"
#include "recorder/TestRecorder.h"

using namespace std::chrono_literals;

namespace {

using Frames = std::vector<std::string>;

std::string hex(const testrec::Bytes& b)
{
    std::string out;
    for (uint8_t x : b)
        out += QString::asprintf("%02X", x).toStdString();
    return out;
}

std::string frame(uint32_t id, const testrec::Bytes& payload)
{
    return hex(testrec::buildCommandFrame(id, payload, testrec::CmdFormat::V2));
}

std::string ptz(int32_t ch, int32_t cmd, int32_t preset, int32_t speed)
{
    testrec::Bytes p;
    for (int32_t v : {ch, cmd, preset, speed})
        testrec::appendLe32(p, uint32_t(v));
    return frame(53, p);
}

// A data request of the login's request id with switch n on for bit n.
std::string dataRequest(int32_t kind, uint16_t mask)
{
    testrec::Bytes p;
    testrec::appendLe32(p, 0);
    testrec::appendLe32(p, uint32_t(kind));
    for (int n = 0; n < 16; ++n)
        p.push_back((mask >> n) & 1);
    return frame(6, p);
}

class Panels : public guitest::AppWindowTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(AppWindowTest::SetUp());
        testrec::RecorderConfig cfg;
        cfg.echoIntervalMs = 0;
        cfg.streamVideo = false;
        cfg.streamAudio = false;
        ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
        addSite({.name = "Test recorder", .port = rec->port(), .id = "admin", .password = "1234"});
        connectAndLogin([&] { window->btnConnect()->click(); });
    }
    // Connects and waits until the login's live request is in.
    void connectAndLogin(const std::function<void()>& connect)
    {
        rec->clearCommands();
        connect();
        ASSERT_TRUE(rec->waitForCommand(6, 5s, 2).has_value());
        rec->clearCommands();
        m_seen = 0;
    }
    void showPanel(const char* barButton) { ctrl->controlBar()->view()->findChild<QPushButton*>(barButton)->click(); }
    QAbstractButton* button(const QString& name)
    {
        for (auto* b : window->boxSubMenu()->findChildren<QAbstractButton*>())
            if (b->accessibleName() == name && b->isVisible())
                return b;
        ADD_FAILURE() << "no button " << name.toStdString();
        return nullptr;
    }
    void click(const QString& name)
    {
        // A check box answers on its box and text only, at the left.
        if (QAbstractButton* b = button(name))
            QTest::mouseClick(b, Qt::LeftButton, {},
                              qobject_cast<QCheckBox*>(b) ? QPoint(8, b->height() / 2) : b->rect().center());
    }
    std::vector<int> highlighted()
    {
        std::vector<int> on;
        for (int n = 1; n <= 4; ++n)
            if (ctrl->audioPanel()->channelButton(n)->cell()->highlight())
                on.push_back(n);
        return on;
    }
    // The next n frames the recorder received, as hex.
    Frames nextFrames(size_t n)
    {
        rec->log().waitForNext(m_seen + n - 1, 5s);
        std::vector<testrec::ReceivedCommand> all = rec->commands();
        Frames out;
        for (size_t i = m_seen; i < all.size() && out.size() < n; ++i)
            out.push_back(hex(all[i].raw));
        m_seen += out.size();
        return out;
    }

    size_t m_seen = 0;
};

const std::pair<const char*, int32_t> kHolds[] = {{"Left", 0},      {"Right", 1},    {"Up", 2},
                                                  {"Down", 3},      {"Zoom Down", 7}, {"Zoom Up", 8},
                                                  {"Focus Down", 9}, {"Focus Up", 10}};

TEST_F(Panels, PtzButtonsPutTheirCommandsOnTheWireForTheZoomedChannelOnly)
{
    showPanel("_Ptz");
    window->mainGLView()->setM_MouseClickCh(3);
    // The menu keys address channel 8 until a preset button was used.
    click("OK");
    click("CANCEL");
    Frames want = {ptz(7, 24, 0, 1), ptz(7, 25, 0, 1)};
    // A short click is a move then a stop.
    for (const auto& [name, code] : kHolds) {
        click(name);
        want.push_back(ptz(2, code, 0, 1));
        want.push_back(ptz(2, 5, 0, 1));
    }
    for (const auto& [name, code] : {std::pair{"Home", 23}, {"Auto Focus", 5}, {"Menu", 22}}) {
        click(name);
        want.push_back(ptz(2, code, 0, 1));
    }
    click("Preset Move 1");
    click("Preset Set 8");
    click("OK");
    click("CANCEL");
    for (const std::string& f : {ptz(2, 18, 1, 0), ptz(2, 17, 8, 0), ptz(2, 24, 0, 1), ptz(2, 25, 0, 1)})
        want.push_back(f);
    EXPECT_EQ(nextFrames(want.size()), want);

    // The split view sends nothing but the menu keys, and presets pressed
    // there leave the menu keys' channel alone.
    window->mainGLView()->setM_MouseClickCh(4);
    click("Preset Move 2");
    window->mainGLView()->setM_MouseClickCh(0);
    for (const auto& [name, code] : kHolds)
        click(name);
    for (const char* name : {"Home", "Auto Focus", "Menu", "Preset Move 1", "Preset Set 1", "Preset Set 8"})
        click(name);
    click("OK");
    EXPECT_EQ(nextFrames(2), (Frames{ptz(3, 18, 2, 0), ptz(3, 24, 0, 1)}));
}

TEST_F(Panels, HoldSendsOneMoveAndOneStop)
{
    showPanel("_Ptz");
    window->mainGLView()->setM_MouseClickCh(1);
    QAbstractButton* left = button("Left");
    QTest::mousePress(left, Qt::LeftButton);
    QTest::qWait(900);  // well past the first repeats
    QTest::mouseRelease(left, Qt::LeftButton);
    // From the keyboard too.
    button("Down")->setFocus();
    QTest::keyClick(button("Down"), Qt::Key_Space);
    // A hold whose release never came leaves the next hold only its stop.
    auto* up = static_cast<CMyButton*>(button("Up"));
    up->setState(1);
    ctrl->ptzPanel()->btnDownUP(up);
    click("Right");
    click("OK");  // nothing else came before it
    EXPECT_EQ(nextFrames(7), (Frames{ptz(0, 0, 0, 1), ptz(0, 5, 0, 1), ptz(0, 3, 0, 1), ptz(0, 5, 0, 1),
                                     ptz(0, 2, 0, 1), ptz(0, 5, 0, 1), ptz(7, 24, 0, 1)}));
    // A release leaves the button resting in state 1.
    EXPECT_EQ(static_cast<CMyButton*>(button("Right"))->state(), 1);
}

// The stop goes to the channel of the move whatever the view shows when the
// hold ends (released, let go off the button), and the next hold sends its
// move. A hold the link ends sends nothing more and holds nothing up.
TEST_F(Panels, HoldStopsTheChannelItMovedAndEndsWithTheLink)
{
    showPanel("_Ptz");
    MyOpenGLView* view = window->mainGLView();
    view->setM_MouseClickCh(3);
    QTest::mousePress(button("Up"), Qt::LeftButton);
    view->setM_MouseClickCh(0);
    QTest::mouseRelease(button("Up"), Qt::LeftButton);
    view->setM_MouseClickCh(2);
    QTest::mousePress(button("Zoom Up"), Qt::LeftButton);
    view->setM_MouseClickCh(5);
    QTest::mouseRelease(button("Zoom Up"), Qt::LeftButton, {}, QPoint(-10, -10));
    view->setM_MouseClickCh(4);
    QAbstractButton* left = button("Left");
    QTest::mousePress(left, Qt::LeftButton);
    EXPECT_EQ(nextFrames(5),
              (Frames{ptz(2, 2, 0, 1), ptz(2, 5, 0, 1), ptz(1, 8, 0, 1), ptz(1, 5, 0, 1), ptz(3, 0, 0, 1)}));

    window->btnDisconnect()->click();
    QTest::mouseRelease(left, Qt::LeftButton);
    connectAndLogin([&] { window->btnConnect()->click(); });
    showPanel("_Ptz");
    view->setM_MouseClickCh(3);
    click("Right");
    EXPECT_EQ(nextFrames(2), (Frames{ptz(2, 1, 0, 1), ptz(2, 5, 0, 1)}));
}

TEST_F(Panels, AudioButtonsAndTheirHighlight)
{
    showPanel("_Audio");
    click("Audio 3");
    EXPECT_EQ(highlighted(), std::vector<int>{3});
    click("Audio 1");
    click("Audio 2");
    click("Audio 4");
    click("Audio Off");
    EXPECT_TRUE(highlighted().empty());
    EXPECT_EQ(nextFrames(5), (Frames{dataRequest(2, 0x4), dataRequest(2, 0x1), dataRequest(2, 0x2),
                                     dataRequest(2, 0x8), dataRequest(2, 0)}));

    click("Audio 2");
    ctrl->audioPanel()->SetHighlightButton(5);
    ctrl->audioPanel()->SetHighlightButton(-1);
    EXPECT_EQ(highlighted(), std::vector<int>{2});
    // Disconnect and connect clear it.
    window->btnDisconnect()->click();
    EXPECT_TRUE(highlighted().empty());
    connectAndLogin([&] { window->btnConnect()->click(); });
    showPanel("_Audio");
    click("Audio 4");
    EXPECT_EQ(highlighted(), std::vector<int>{4});
    connectAndLogin([&] { ctrl->OnButtonDvrConnect(); });
    EXPECT_TRUE(highlighted().empty());
}

TEST_F(Panels, DisplayPanel)
{
    showPanel("_Display");
    QStringList titles;
    for (const char* name : {"Time", "Event", "FPS", "Show All", "Hide All"})
        titles << button(name)->text();
    EXPECT_EQ(titles.join("|"), "TIME / MODE\nCH TITLE|REC / VL\nMD / SS|FPS /\n RESOLUTION|Show All|Hide All");
    EXPECT_FALSE(button("I-Frame Only")->isChecked());
}

// The key-frames box asks for what it shows however it changes: an
// assistive tool's Toggle, the space key or a click, each once. Showing the
// panel again sets nothing, and nothing more follows the last change.
TEST_F(Panels, KeyFramesBoxAsksForWhatItShowsHoweverItIsToggled)
{
    showPanel("_Display");
    QAbstractButton* box = button("I-Frame Only");
    const Frames on = {dataRequest(0, 0xFFFF), dataRequest(1, 0xFFFF)};
    const Frames off = {dataRequest(0, 0xFFFF), dataRequest(1, 0)};
    const std::pair<const char*, std::function<void()>> ways[] = {{"tool", [&] { guitest::toggleByTool(box); }},
                                                                  {"space", [&] { guitest::pressSpace(box); }},
                                                                  {"click", [&] { click("I-Frame Only"); }}};
    for (const auto& [way, toggle] : ways) {
        SCOPED_TRACE(way);
        toggle();
        EXPECT_TRUE(box->isChecked());
        EXPECT_EQ(nextFrames(2), on);
        toggle();
        EXPECT_FALSE(box->isChecked());
        EXPECT_EQ(nextFrames(2), off);
    }
    guitest::toggleByTool(box);
    EXPECT_EQ(nextFrames(2), on);
    showPanel("_Audio");
    showPanel("_Display");
    EXPECT_TRUE(box->isChecked());
    ctrl->RequestLiveCh(3);
    EXPECT_EQ(nextFrames(2), (Frames{dataRequest(0, 0x4), dataRequest(1, 0)}));
}

// ---------------------------------------------------------------------------
// Bezel

TEST(PanelButton, BezelShadeHighlightAndPressedOverlay)
{
    guitest::ensureApp();
    CMyButton b;
    b.resize(80, 40);
    b.show();
    auto at = [&b](int y) { return b.grab().toImage().pixelColor(40, y); };
    // Grey: light at the top, dark at the bottom, a step at the middle and
    // a dark outer line.
    QColor top = at(4), bottom = at(35);
    EXPECT_TRUE(top.red() == top.green() && top.green() == top.blue());
    EXPECT_NEAR(top.red(), 0.927 * 255, 3);
    EXPECT_NEAR(bottom.red(), 0.817 * 255, 3);
    EXPECT_GE(at(19).red() - at(20).red(), 7);
    EXPECT_NEAR(at(1).red(), 0.12 * 255, 4);

    b.setHighlight(true);
    QColor blue = at(4);
    EXPECT_EQ(blue.blue(), 255);
    EXPECT_LT(blue.red(), blue.green());
    EXPECT_NEAR(blue.red(), 0.895 * 255, 4);

    // Pressed: 35 % black over the fill, of either kind.
    b.setDown(true);
    EXPECT_NEAR(at(4).green(), blue.green() * 0.65, 3);
    b.setHighlight(false);
    EXPECT_NEAR(at(35).red(), bottom.red() * 0.65, 3);
    b.setDown(false);

    // A release still reaches the button, so it clicks.
    QSignalSpy clicked(&b, &QAbstractButton::clicked);
    QTest::mouseClick(&b, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(b.cell()->backgroundColor(), QColor(Qt::red));
}

}  // namespace
