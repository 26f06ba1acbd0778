#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "platform/GuiMailbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTimeEdit>
#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/INetController.h"
#include "link/NxNet.h"
#include "panels/IPlaybackTarget.h"
#include "panels/ModalSearchWindow.h"
#include "panels/SearchViewController.h"
#include "panels/TimeSearchController.h"
#include "platform/Log.h"
#include "recorder/TestRecorder.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

using guitest::configHome;

using guitest::ensureApp;
using guitest::pickerTime;
using guitest::runModal;

QAbstractButton* button(QWidget& panel, const char* name)
{
    auto* b = panel.findChild<QAbstractButton*>(QString::fromLatin1(name));
    EXPECT_NE(b, nullptr) << name;
    return b;
}

void press(QWidget& panel, const char* name)
{
    if (QAbstractButton* b = button(panel, name))
        QTest::mouseClick(b, Qt::LeftButton);
}

// Records what the panels ask of the controller.
struct CallLog : IPlaybackTarget {
    std::vector<std::string> calls;
    std::vector<int32_t> speeds;
    bool PlaySpeed(int32_t speed) override
    {
        speeds.push_back(speed);
        return true;
    }
    void ExitLive() override { calls.push_back("ExitLive"); }
    void ShowTimeSearchView() override { calls.push_back("ShowTimeSearchView"); }
    void ShowEventSearchView() override { calls.push_back("ShowEventSearchView"); }
    void ShowCalendarView() override { calls.push_back("ShowCalendarView"); }
    void RequestSearchInfo(int32_t cmd, int32_t a, int32_t b) override
    {
        calls.push_back("RequestSearchInfo " + std::to_string(cmd) + " " + std::to_string(a) + " " +
                        std::to_string(b));
    }
    void RequestHistory(const uint8_t*, size_t len) override { calls.push_back("RequestHistory " + std::to_string(len)); }
};

class LogCapture {
public:
    LogCapture()
    {
        m_old = setLogSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_lines.push_back(line);
        });
    }
    ~LogCapture() { setLogSink(m_old); }
    std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_lines;
    }
    bool has(const std::string& line) const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const auto& l : m_lines)
            if (l == line)
                return true;
        return false;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
    LogSink m_old;
};

// ---------------------------------------------------------------------------
// Playback control panel

class PlaybackPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureApp();
        panel = std::make_unique<SearchViewController>();
        panel->setMainCtrlPointer(&target);
        panel->show();
    }
    std::vector<int32_t> pressAll(const std::vector<const char*>& names)
    {
        target.speeds.clear();
        for (const char* n : names)
            press(*panel, n);
        return target.speeds;
    }
    CallLog target;
    std::unique_ptr<SearchViewController> panel;
};

TEST_F(PlaybackPanel, ReverseLadderWrapsAndLogsEachSpeed)
{
    LogCapture log;
    EXPECT_EQ(pressAll({"btnREW", "btnREW", "btnREW", "btnREW", "btnREW", "btnREW"}),
              (std::vector<int32_t>{-2, -4, -8, -16, -32, -2}));
    std::vector<std::string> speedLines;
    for (const auto& l : log.lines())
        if (l.rfind("speed ", 0) == 0)
            speedLines.push_back(l);
    EXPECT_EQ(speedLines,
              (std::vector<std::string>{"speed -2", "speed -4", "speed -8", "speed -16", "speed -32", "speed -2"}));
}

TEST_F(PlaybackPanel, ForwardLadderWrapsAfterTheTopStep)
{
    EXPECT_EQ(pressAll({"btnFF", "btnFF", "btnFF", "btnFF", "btnFF", "btnFF"}),
              (std::vector<int32_t>{2, 4, 8, 16, 1024, 2}));
}

TEST_F(PlaybackPanel, FrameStepsLeaveTheLadderWhereItWas)
{
    EXPECT_EQ(pressAll({"btnFF", "btnFF", "btnNextF", "btnFF"}), (std::vector<int32_t>{2, 4, 3001, 8}));
    EXPECT_EQ(pressAll({"btnREW", "btnPreF", "btnREW"}), (std::vector<int32_t>{-2, 3002, -4}));
}

TEST_F(PlaybackPanel, OtherSpeedsRestartTheLadders)
{
    EXPECT_EQ(pressAll({"btnPause", "btnFF", "btnPause", "btnREW"}), (std::vector<int32_t>{0, 2, 0, -2}));
    EXPECT_EQ(pressAll({"btnRP", "btnREW", "btnSlowP", "btnFF", "btnREW", "btnFF"}),
              (std::vector<int32_t>{-1, -2, 2001, 2, -2, 2}));
    EXPECT_EQ(pressAll({"btnFF", "btnPlay", "btnFF"}), (std::vector<int32_t>{4, 1, 2}));
}

TEST_F(PlaybackPanel, LiveAndSearchesDoNotMoveTheLadder)
{
    pressAll({"btnFF", "btnFF", "btnFF"});
    press(*panel, "btnLive");
    press(*panel, "btnTimeSearch");
    press(*panel, "btnEventSearch");
    press(*panel, "btnCalendarSearch");
    EXPECT_EQ(target.calls, (std::vector<std::string>{"ExitLive", "ShowTimeSearchView", "ShowEventSearchView",
                                                      "ShowCalendarView"}));
    EXPECT_EQ(pressAll({"btnFF"}), (std::vector<int32_t>{16}));
}

// ---------------------------------------------------------------------------
// Time search panel, answered by hand

class PlaybackTimeSearch : public ::testing::Test {
protected:
    static constexpr uint32_t S = 1704873600u;  // 2024-01-10 08:00:00
    static constexpr uint32_t E = 1705775400u;  // 2024-01-20 18:30:00

    void SetUp() override
    {
        ensureApp();
        panel = std::make_unique<TimeSearchController>();
        panel->setMainCtrlPointer(&target);
    }
    QDateTimeEdit* picker() { return panel->findChild<QDateTimeEdit*>("datePicker"); }
    QSlider* slider() { return panel->findChild<QSlider*>("sliderTime"); }
    QString label(const char* name) { return panel->findChild<QLabel*>(name)->text(); }

    // Answers the range, sets the picker to t and presses Play.
    int playAt(uint32_t t)
    {
        return runModal(window, panel.get(), [&] {
            panel->SetSearchInfo(SEARCH_INFO_RANGE, int32_t(S), int32_t(E));
            picker()->setDateTime(pickerTime(t));
            press(*panel, "btnPlay");
        });
    }
    CallLog target;
    ModalSearchWindow window;
    std::unique_ptr<TimeSearchController> panel;
};

TEST_F(PlaybackTimeSearch, AsksForTheRecordedRangeOnceWhenShown)
{
    int r = runModal(window, panel.get(), [&] { window.close(); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(target.calls, (std::vector<std::string>{"RequestSearchInfo 15 3 0"}));
}

TEST_F(PlaybackTimeSearch, RangeAnswerFillsTheLabels)
{
    LogCapture log;
    panel->show();
    panel->SetSearchInfo(SEARCH_INFO_RANGE, int32_t(S), int32_t(E));
    EXPECT_TRUE(log.has("search info ok 1704873600 1705775400"));
    EXPECT_EQ(label("labelStartTime"), "2024-01-10 08:00:00");
    EXPECT_EQ(label("labelEndTime"), "2024-01-20 18:30:00");
    // A second range replaces the first.
    panel->SetSearchInfo(SEARCH_INFO_RANGE, int32_t(S + 61), int32_t(E + 3600));
    EXPECT_EQ(label("labelStartTime"), "2024-01-10 08:01:01");
    EXPECT_EQ(label("labelEndTime"), "2024-01-20 19:30:00");
    EXPECT_EQ(panel->startTime(), int32_t(S + 61));
}

TEST_F(PlaybackTimeSearch, FailedRangeOnlyLogs)
{
    LogCapture log;
    panel->show();
    QString before = label("labelStartTime");
    panel->SetSearchInfo(SEARCH_INFO_FAIL, 0, 0);
    EXPECT_TRUE(log.has("search info fail"));
    EXPECT_EQ(label("labelStartTime"), before);
    EXPECT_FALSE(panel->hasRange());
}

TEST_F(PlaybackTimeSearch, ChosenTimeIsKeptInsideTheRange)
{
    EXPECT_EQ(playAt(S - 3600), int32_t(S));
    EXPECT_EQ(playAt(S - 1), int32_t(S));
    EXPECT_EQ(playAt(S), int32_t(S));
    EXPECT_EQ(playAt(S + 12345), int32_t(S + 12345));
    EXPECT_EQ(playAt(E), int32_t(E));
    EXPECT_EQ(playAt(E + 1), int32_t(E - 5));
    EXPECT_EQ(playAt(E + 86400), int32_t(E - 5));
}

TEST_F(PlaybackTimeSearch, SliderMovesThePickerOnlyOnceARangeIsKnown)
{
    panel->show();
    QDateTime before = picker()->dateTime();
    slider()->setValue(slider()->maximum() / 2);
    EXPECT_EQ(picker()->dateTime(), before);

    panel->SetSearchInfo(SEARCH_INFO_RANGE, int32_t(S), int32_t(E));
    slider()->setValue(slider()->minimum());
    slider()->setValue(slider()->maximum() / 2);
    EXPECT_EQ(picker()->dateTime(), pickerTime(S + (E - S) / 2));
    slider()->setValue(slider()->maximum());
    EXPECT_EQ(picker()->dateTime(), pickerTime(E));
    slider()->setValue(slider()->minimum());
    EXPECT_EQ(picker()->dateTime(), pickerTime(S));
}

TEST_F(PlaybackTimeSearch, CancelAndCloseGiveZero)
{
    EXPECT_EQ(runModal(window, panel.get(),
                       [&] {
                           panel->SetSearchInfo(SEARCH_INFO_RANGE, int32_t(S), int32_t(E));
                           press(*panel, "btnCancel");
                       }),
              0);
    LogCapture log;
    EXPECT_EQ(runModal(window, panel.get(), [&] { window.close(); }), 0);
    EXPECT_TRUE(log.has("modal windowWillClose\n"));
    EXPECT_TRUE(target.speeds.empty());
}

TEST_F(PlaybackTimeSearch, PlayWithoutARangeIsACancel)
{
    EXPECT_EQ(runModal(window, panel.get(), [&] { press(*panel, "btnPlay"); }), 0);
    EXPECT_EQ(runModal(window, panel.get(),
                       [&] {
                           panel->SetSearchInfo(SEARCH_INFO_FAIL, 0, 0);
                           press(*panel, "btnPlay");
                       }),
              0);
}

// ---------------------------------------------------------------------------
// On the wire: a real link logged in to the test recorder

Bytes le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A V2 command frame: head, id, payload, "NEND".
std::string frame(uint32_t id, const Bytes& payload = {})
{
    Bytes b = cat({{0x00, 0x00, 0xAD, 0xC3}, le32(id), payload, {'N', 'E', 'N', 'D'}});
    std::string hex;
    for (uint8_t x : b)
        hex += QString::asprintf("%02X", x).toStdString();
    return hex;
}

std::string dataRequest(int id, bool allChannels)
{
    return frame(6, cat({le32(uint32_t(id)), le32(0), Bytes(16, allChannels ? 1 : 0)}));
}

std::string keyFrameRequest(int id)
{
    return frame(6, cat({le32(uint32_t(id)), le32(1), Bytes(16, 0)}));
}

std::string speed(uint32_t cmd, int16_t value, uint8_t slow = 0)
{
    return frame(cmd, {uint8_t(uint16_t(value)), uint8_t(uint16_t(value) >> 8), slow, 1});
}

// Stands where the main controller stands: forwards the panels' requests to
// the link, runs the time search, and brings search answers to the GUI
// thread for the panel of the running search only.
class WireTarget : public QObject, public IPlaybackTarget, public INetController {
public:
    explicit WireTarget(NxNet& net) : m_net(net) {}

    bool PlaySpeed(int32_t s) override { return m_net.PlaySpeed(s); }
    void ExitLive() override { m_net.ExitLive(); }
    void RequestSearchInfo(int32_t cmd, int32_t a, int32_t b) override { m_net.RequestSearchInfo(cmd, a, b); }
    void RequestHistory(const uint8_t* record, size_t len) override { m_net.RequestHistory(record, len); }
    void ShowEventSearchView() override {}
    void ShowCalendarView() override {}
    void ShowTimeSearchView() override
    {
        auto p = std::make_unique<TimeSearchController>();
        p->setMainCtrlPointer(this);
        m_panel = p.get();
        TimeSearchController* raw = p.get();
        lastResult = runModal(window, raw, [this, raw] { duringSearch(*raw); });
        m_panel = nullptr;
        p.reset();
        if (lastResult != 0)
            m_net.RequestSearch(0, lastResult);
    }

    void SetModelGroup(uint32_t) override {}
    void ShowSearchAlertView() override {}
    void DisplayConnectStr(const std::string&, int, const std::string&, int) override {}
    void SetSearchInfo(int type, int32_t v1, int32_t v2, const uint8_t*, size_t) override
    {
        m_box.post([this, type, v1, v2] {
            if (m_panel)
                m_panel->SetSearchInfo(type, v1, v2);
        });
    }

    std::function<void(TimeSearchController&)> duringSearch;
    ModalSearchWindow window;
    int lastResult = -1;

private:
    NxNet& m_net;
    QPointer<TimeSearchController> m_panel;
    GuiMailbox m_box{this};
};

class PlaybackWire : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureApp();
        testrec::RecorderConfig cfg;
        cfg.echoIntervalMs = 0;
        cfg.streamVideo = false;
        cfg.streamAudio = false;
        rec = std::make_unique<testrec::TestRecorder>(cfg);
        ASSERT_TRUE(rec->start());
        S = cfg.recordStart;
        E = cfg.recordEnd;
        target = std::make_unique<WireTarget>(net);
        net.setAppController(target.get());
        net.setNetInfo(0, "127.0.0.1", "", cfg.password.c_str(), rec->port(), "", 2000, cfg.userId.c_str(), 2);
        net.CreateThread();
        ASSERT_EQ(rec->waitForLogin(5s), testrec::LoginResult::Accepted);
        // The live request of the login: both data requests are in.
        ASSERT_TRUE(rec->waitForCommand(6, 5s, 2).has_value());
        rec->clearCommands();
        panel = std::make_unique<SearchViewController>();
        panel->setMainCtrlPointer(target.get());
        panel->show();
    }
    void TearDown() override
    {
        net.StopThread();
        panel.reset();
        target.reset();
    }

    // The next n frames the recorder received, as hex.
    std::vector<std::string> nextFrames(size_t n)
    {
        rec->log().waitForNext(m_seen + n - 1, 5s);
        std::vector<testrec::ReceivedCommand> all = rec->commands();
        std::vector<std::string> out;
        for (size_t i = m_seen; i < all.size() && out.size() < n; ++i) {
            std::string hex;
            for (uint8_t x : all[i].raw)
                hex += QString::asprintf("%02X", x).toStdString();
            out.push_back(hex);
        }
        m_seen += out.size();
        return out;
    }

    // Runs a time search from the panel's button; `during` runs once the
    // recorded range has arrived.
    void timeSearch(const std::function<void(TimeSearchController&)>& during)
    {
        target->duringSearch = [during](TimeSearchController& p) {
            if (!QTest::qWaitFor([&] { return p.hasRange(); }, 10000)) {
                ADD_FAILURE() << "no recorded range arrived";
                ModalSearchWindow::endModal(&p, 0);
                return;
            }
            during(p);
        };
        press(*panel, "btnTimeSearch");
    }

    void enterPlayback(uint32_t t)
    {
        timeSearch([t](TimeSearchController& p) {
            p.findChild<QDateTimeEdit*>("datePicker")->setDateTime(pickerTime(t));
            press(p, "btnPlay");
        });
    }

    NxNet net;
    std::unique_ptr<testrec::TestRecorder> rec;
    std::unique_ptr<WireTarget> target;
    std::unique_ptr<SearchViewController> panel;
    uint32_t S = 0, E = 0;
    size_t m_seen = 0;
};

TEST_F(PlaybackWire, TimeSearchStartsPlaybackAtTheChosenTime)
{
    const std::string rangeRequest = frame(15, cat({le32(3), le32(0)}));
    // A search closed before its answer arrives starts nothing.
    target->duringSearch = [](TimeSearchController& p) { p.window()->close(); };
    press(*panel, "btnTimeSearch");
    EXPECT_EQ(target->lastResult, 0);
    timeSearch([](TimeSearchController& p) { press(p, "btnCancel"); });
    EXPECT_EQ(target->lastResult, 0);

    const uint32_t t = S + 3600;
    enterPlayback(t);
    EXPECT_EQ(target->lastResult, int32_t(t));
    EXPECT_EQ(nextFrames(10), (std::vector<std::string>{
                                  rangeRequest, rangeRequest, rangeRequest,
                                  dataRequest(1, false), frame(13),                   // enter search
                                  dataRequest(1, true), keyFrameRequest(1),           // channels to play
                                  frame(29, le32(t)), frame(22), speed(27, 1), }));
}

TEST_F(PlaybackWire, ButtonsPutTheirFramesOnTheWire)
{
    const uint32_t t = S + 7200;
    enterPlayback(t);
    nextFrames(8);  // the range request and the start of playback

    press(*panel, "btnREW");  // -2 from play: reverse start
    EXPECT_EQ(nextFrames(4), (std::vector<std::string>{frame(23), dataRequest(2, true), frame(29, le32(t)),
                                                       speed(26, -2)}));
    press(*panel, "btnREW");
    EXPECT_EQ(nextFrames(1), std::vector<std::string>{speed(26, -4)});
    press(*panel, "btnRP");
    EXPECT_EQ(nextFrames(1), std::vector<std::string>{speed(26, -1)});
    press(*panel, "btnPause");
    EXPECT_EQ(nextFrames(2), (std::vector<std::string>{dataRequest(3, false), frame(25)}));
    press(*panel, "btnFF");  // 2 from pause: resume
    EXPECT_EQ(nextFrames(3), (std::vector<std::string>{dataRequest(4, true), frame(29, le32(t)), speed(27, 2)}));
    press(*panel, "btnFF");
    press(*panel, "btnFF");
    press(*panel, "btnFF");
    press(*panel, "btnFF");
    press(*panel, "btnFF");
    EXPECT_EQ(nextFrames(5), (std::vector<std::string>{speed(27, 4), speed(27, 8), speed(27, 16),
                                                       speed(28, 1024), speed(27, 2)}));
    // A step forward from play sends nothing; play after it sends only the
    // speed.
    press(*panel, "btnNextF");
    press(*panel, "btnPlay");
    EXPECT_EQ(nextFrames(1), std::vector<std::string>{speed(27, 1)});
    // A step back seeks to the second before the picture on screen.
    press(*panel, "btnPreF");
    EXPECT_EQ(nextFrames(3), (std::vector<std::string>{dataRequest(5, true), frame(29, le32(t)), speed(27, 1)}));
    press(*panel, "btnSlowP");  // after a backward step: resume
    EXPECT_EQ(nextFrames(3),
              (std::vector<std::string>{dataRequest(6, true), frame(29, le32(t)), speed(27, 0, 50)}));
    press(*panel, "btnLive");
    EXPECT_EQ(nextFrames(3), (std::vector<std::string>{dataRequest(7, false), frame(30), dataRequest(7, true)}));
}

}  // namespace
