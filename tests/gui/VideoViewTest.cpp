#include <gtest/gtest.h>

#include "GuiTestSupport.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QFileInfo>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "output/FrameDrain.h"
#include "output/IViewController.h"
#include "output/MyOpenGLView.h"
#include "output/StatusPictures.h"
#include "output/StatusTable.h"
#include "output/ViewLayout.h"
#include "platform/GuiDisplayLink.h"

namespace {

using guitest::ensureApp;

// The view never looks inside a link; any distinct address stands for one.
alignas(16) char g_linkA[16];
alignas(16) char g_linkB[16];
CoNetwork* linkA() { return reinterpret_cast<CoNetwork*>(g_linkA); }
CoNetwork* linkB() { return reinterpret_cast<CoNetwork*>(g_linkB); }

void fillFrame(tag_FrameV_Orgin& f, int ch, QRgb colour, int w, int h)
{
    f.ch = int8_t(ch);
    f.w = w;
    f.h = h;
    f.outsize = w * h * 4;
    f.time = 1000;
    f.now_type = 0;
    f.evt_rec = f.evt_md = f.evt_ss = 0;
    // The pixel array is not 4-byte aligned inside the slot: write bytes.
    const uint8_t px[4] = {uint8_t(qBlue(colour)), uint8_t(qGreen(colour)), uint8_t(qRed(colour)), 255};
    for (size_t i = 0; i < size_t(w) * h; ++i)
        std::memcpy(f.outbuff + 4 * i, px, 4);
}

QRgb channelColour(int ch)
{
    return QColor::fromHsv(ch * 360 / 16, 255, 230).rgb();
}

bool near(QRgb a, QRgb b, int tol = 8)
{
    return std::abs(qRed(a) - qRed(b)) <= tol && std::abs(qGreen(a) - qGreen(b)) <= tol &&
           std::abs(qBlue(a) - qBlue(b)) <= tol;
}

QPoint cellPoint(const QImage& img, int side, int cell, float fx = 0.5f, float fy = 0.5f)
{
    ViewLayout::CellRect r{};
    ViewLayout::cellRect(side, cell, &r);
    float x = r.left + (r.right - r.left) * fx;
    float y = r.top - (r.top - r.bottom) * fy;
    return QPoint(int((x + 1) / 2 * img.width()), int((1 - y) / 2 * img.height()));
}

struct CallLog : IViewController {
    std::vector<std::string> calls;
    void DisplayConnectStr(const std::string&, int code, const std::string&, int kind) override
    {
        calls.push_back("line " + std::to_string(kind) + " " + std::to_string(code));
    }
    void SetButtonStatus(int status) override { calls.push_back("buttons " + std::to_string(status)); }
    void RequestAudio(int8_t ch) override { calls.push_back("audio " + std::to_string(ch)); }
    void RequestLiveCh(int32_t ch) override { calls.push_back("live " + std::to_string(ch)); }
};

// ---- layout and tables

TEST(ViewLayout, LayoutFollowsChannelCountAndZoom)
{
    EXPECT_EQ(ViewLayout::gridSide(4, 0), 2);
    EXPECT_EQ(ViewLayout::gridSide(8, 0), 3);
    EXPECT_EQ(ViewLayout::gridSide(9, 0), 3);
    EXPECT_EQ(ViewLayout::gridSide(16, 0), 4);
    for (int n : {-1, 0, 1, 2, 6, 10, 17, 32})
        EXPECT_EQ(ViewLayout::gridSide(n, 0), 1) << n;
    EXPECT_EQ(ViewLayout::gridSide(16, 5), 1);

    EXPECT_EQ(ViewLayout::cellOfChannel(4, 0, 3), 3);
    EXPECT_EQ(ViewLayout::cellOfChannel(4, 0, 4), -1);  // no cell in 2x2
    EXPECT_EQ(ViewLayout::cellOfChannel(2, 0, 1), 0);   // whole view
    EXPECT_EQ(ViewLayout::cellOfChannel(16, 5, 4), 0);
    EXPECT_EQ(ViewLayout::cellOfChannel(16, 5, 3), -1);
    EXPECT_EQ(ViewLayout::cellOfChannel(16, 0, 16), -1);
    EXPECT_EQ(ViewLayout::cellOfChannel(16, 0, -1), -1);
}

TEST(ViewLayout, CellRectangles)
{
    ViewLayout::CellRect r{};
    ASSERT_TRUE(ViewLayout::cellRect(3, 4, &r));  // the middle of 3x3
    EXPECT_FLOAT_EQ(r.left, -0.34f);
    EXPECT_FLOAT_EQ(r.bottom, -0.34f);
    EXPECT_FLOAT_EQ(r.right, 0.34f);
    EXPECT_FLOAT_EQ(r.top, 0.34f);
    ASSERT_TRUE(ViewLayout::cellRect(4, 15, &r));
    EXPECT_FLOAT_EQ(r.left, 0.5f);
    EXPECT_FLOAT_EQ(r.bottom, -1.0f);
    EXPECT_FLOAT_EQ(r.right, 1.0f);
    EXPECT_FLOAT_EQ(r.top, -0.5f);
    ASSERT_TRUE(ViewLayout::cellRect(2, 2, &r));  // bottom-left quarter
    EXPECT_FLOAT_EQ(r.left, -1.0f);
    EXPECT_FLOAT_EQ(r.top, 0.0f);
    ASSERT_TRUE(ViewLayout::cellRect(1, 0, &r));
    EXPECT_FLOAT_EQ(r.left, -1.0f);
    EXPECT_FLOAT_EQ(r.top, 1.0f);
    EXPECT_FALSE(ViewLayout::cellRect(2, 4, &r));
    EXPECT_FALSE(ViewLayout::cellRect(5, 0, &r));
    EXPECT_FALSE(ViewLayout::cellRect(3, -1, &r));
}

TEST(ViewLayout, CellUnderAClick)
{
    // (channel count, x, distance from the top) -> cell, in a 400 x 300 view.
    struct Case {
        int maxCh;
        double x, d;
        int cell;
    };
    const Case cases[] = {
        {4, 10, 10, 1},   {4, 10, 290, 3},     {4, 390, 290, 4},    {4, 199.9, 149.9, 1},
        {4, 200, 150, 4},  // on the borders: the next column and row
        {9, 200, 150, 5}, {9, 133.3, 99.9, 1}, {9, 133.4, 100, 5},  {8, 390, 290, 9},
        {16, 250, 10, 3}, {16, 399, 299, 16},  {16, 100, 75, 6},    {16, 99.9, 74.9, 1},
        {16, 0, 225, 13}, {1, 200, 150, 0},    {2, 10, 10, 0},      {6, 10, 10, 0},
        {17, 10, 10, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ViewLayout::clickedCell(c.maxCh, 400, 300, c.x, c.d), c.cell)
            << c.maxCh << " channels at " << c.x << "," << c.d;
}

TEST(ViewLayout, ShownFrameSizes)
{
    EXPECT_EQ(ViewLayout::displayWidth(704), 720);
    EXPECT_EQ(ViewLayout::displayWidth(352), 360);
    EXPECT_EQ(ViewLayout::displayWidth(472), 480);
    EXPECT_EQ(ViewLayout::displayWidth(944), 960);
    EXPECT_EQ(ViewLayout::displayWidth(1920), 1920);
    EXPECT_EQ(ViewLayout::displayHeight(176), 180);
    EXPECT_EQ(ViewLayout::displayHeight(480), 480);
}

TEST(StatusTable, StatesToPicturesLinesAndButtons)
{
    StatusTable::Action a;
    ASSERT_TRUE(StatusTable::actionFor(7, &a));
    EXPECT_STREQ(StatusTable::pictureName(a.picture), "8_Login_req");
    ASSERT_TRUE(StatusTable::actionFor(17, &a));
    EXPECT_STREQ(StatusTable::pictureName(a.picture), "8_Login_req");
    EXPECT_FALSE(a.buttonsOff);

    ASSERT_TRUE(StatusTable::actionFor(10, &a));
    EXPECT_STREQ(StatusTable::pictureName(a.picture), "9_PassError");
    EXPECT_EQ(a.lineKind, CONNECT_STR_LOGIN_FAIL);
    EXPECT_TRUE(a.buttonsOff);

    ASSERT_TRUE(StatusTable::actionFor(0, &a));
    EXPECT_STREQ(StatusTable::pictureName(a.picture), "0_Dvr_Disconn");
    EXPECT_EQ(a.lineKind, CONNECT_STR_DISCONNECTED);
    EXPECT_FALSE(a.buttonsOff);

    ASSERT_TRUE(StatusTable::actionFor(18, &a));
    EXPECT_EQ(a.picture, -1);
    EXPECT_TRUE(a.streaming);
    EXPECT_EQ(a.lineKind, CONNECT_STR_CONNECTED);

    for (int s : {3, 5, 8, 12, 16}) {
        ASSERT_TRUE(StatusTable::actionFor(s, &a)) << s;
        EXPECT_TRUE(a.buttonsOff) << s;
        EXPECT_EQ(a.lineKind, -1) << s;
    }
    const char* names[] = {"3_DDNS_DVR_Fail", "5_DDNS_Info_Fail", "7_Con_Fail_NetErr", "MaxUser", "Model_Mis"};
    int states[] = {3, 5, 8, 12, 16};
    for (int i = 0; i < 5; ++i) {
        StatusTable::actionFor(states[i], &a);
        EXPECT_STREQ(StatusTable::pictureName(a.picture), names[i]);
    }
    for (int s : {11, 13, 14, 19, -1, 127})
        EXPECT_FALSE(StatusTable::actionFor(s, &a)) << s;
}

TEST(GuiDisplayLink, PeriodFollowsTheRefreshRate)
{
    EXPECT_EQ(GuiDisplayLink::periodForRate(60.0), 17);
    EXPECT_EQ(GuiDisplayLink::periodForRate(144.0), 7);
    EXPECT_EQ(GuiDisplayLink::periodForRate(0.0), 17);  // unknown rate
    EXPECT_EQ(GuiDisplayLink::periodForRate(-1.0), 17);
}

// ---- frame drain without a window

struct RecordingUploader : IFrameUploader {
    std::vector<int> channels;
    void uploadFrame(const tag_FrameV_Orgin& f) override { channels.push_back(f.ch); }
};

class FrameDrainTest : public ::testing::Test {
protected:
    void push(int ch, int w = 16, int h = 8, uint8_t rec = 0, uint8_t md = 0)
    {
        tag_FrameV_Orgin* slot = queue.tryGetWriteBuffer();
        ASSERT_NE(slot, nullptr);
        slot->ch = int8_t(ch);
        slot->w = w;
        slot->h = h;
        slot->time = 5000 + ch;
        slot->now_type = 1;
        slot->evt_rec = rec;
        slot->evt_md = md;
        slot->evt_ss = 0;
        queue.putWriteBuffer();
    }
    int drain() { return fd.drain(queue, rule, up); }

    RingBuffer queue;
    int64_t now = 1000;
    FrameDrain fd{[this] { return now; }};
    DrawRule rule;
    RecordingUploader up;
};

TEST_F(FrameDrainTest, OnlyDrawableFramesReachTheUploaderButAllAreCounted)
{
    rule.maxCh = 9;
    rule.zoomCh = 5;
    rule.recOnOff = 0xFFFF;
    for (int ch : {0, 4, 8, 4})
        push(ch);
    EXPECT_EQ(drain(), 4);
    // Two pictures of the zoomed channel were waiting: only the newer one
    // is drawn, both are counted.
    EXPECT_EQ(up.channels, (std::vector<int>{4}));
    EXPECT_EQ(fd.channel(4).frameCount, 2);
    EXPECT_EQ(fd.channel(0).frameCount, 1);
    EXPECT_EQ(fd.channel(8).frameCount, 1);
    EXPECT_EQ(fd.channel(8).ChTime, 5008u);
    EXPECT_EQ(queue.count(), 0);

    up.channels.clear();
    rule.zoomCh = 0;
    rule.maxCh = 4;
    rule.recOnOff = 0x0007;  // channel 3 not recording
    rule.covert = 0x0002;    // channel 1 covert
    for (int ch : {0, 1, 2, 3})
        push(ch);
    drain();
    push(5);  // no cell in 2x2
    drain();
    EXPECT_EQ(up.channels, (std::vector<int>{0, 2}));
}

TEST_F(FrameDrainTest, BadChannelsAndSizesAreReleasedUnread)
{
    rule.maxCh = 16;
    rule.recOnOff = 0xFFFF;
    push(-1);
    push(16);
    push(3, 0, 10);
    push(3, 1920, 1081);
    EXPECT_EQ(drain(), 4);
    EXPECT_TRUE(up.channels.empty());
    EXPECT_EQ(fd.rejectedFrames(), 4u);
    EXPECT_EQ(queue.count(), 0);
    push(3, 1920, 1080);
    drain();
    EXPECT_EQ(up.channels, (std::vector<int>{3}));
}

TEST_F(FrameDrainTest, EventBitsAndShownSizes)
{
    rule.maxCh = 4;
    rule.recOnOff = 0x0001;
    push(2, 704, 480, 1, 2);  // not drawn, events still collected
    push(0, 352, 176);
    drain();
    EXPECT_EQ(fd.events().recStatus, 0x0004);
    EXPECT_EQ(fd.events().md, 0x0004);  // any non-zero flag sets one bit
    EXPECT_EQ(fd.channel(0).videoW, 360);
    EXPECT_EQ(fd.channel(0).videoH, 180);
    EXPECT_EQ(fd.channel(0).videoType, 1);
    EXPECT_EQ(fd.channel(2).videoW, 0);  // not drawn: size untouched
    rule.recOnOff = 0x0005;
    push(2, 704, 480);
    drain();
    EXPECT_EQ(fd.channel(2).videoW, 720);
    EXPECT_EQ(fd.channel(2).videoH, 480);
}

TEST_F(FrameDrainTest, FrameRateOverFourSecondChanges)
{
    rule.maxCh = 1;
    rule.recOnOff = 0x0001;
    auto runSeconds = [&](int seconds, int perSecond) {
        for (int s = 0; s < seconds; ++s, ++now) {
            for (int i = 0; i < perSecond; ++i) {
                push(0);
                drain();
            }
        }
    };
    // The first frame of each fourth new second closes a period.
    runSeconds(7, 25);
    runSeconds(1, 3);
    EXPECT_EQ(fd.channel(0).frameCount2, 25);
    // 12 frames in the next period, the closing one included.
    runSeconds(3, 3);
    EXPECT_EQ(fd.channel(0).frameCount2, 25);
    push(0);
    drain();
    EXPECT_EQ(fd.channel(0).frameCount2, 3);
}

// ---- the view with OpenGL

class VideoViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApp(); }

    void SetUp() override { view = makeView(true); }
    void TearDown() override { delete view; }

    MyOpenGLView* makeView(bool rect, int w = 400, int h = 300)
    {
        auto* v = new MyOpenGLView(nullptr, rect);
        v->resize(w, h);
        v->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(v));
        v->SetMainPointer(&log);
        return v;
    }

    // Feeds one picture per channel through the video queue.
    void feedChannels(MyOpenGLView& v, int count, int w = 96, int h = 64)
    {
        RingBuffer* q = v.getRingBuffer();
        for (int ch = 0; ch < count; ++ch) {
            tag_FrameV_Orgin* slot = nullptr;
            for (int tries = 0; tries < 100 && !(slot = q->tryGetWriteBuffer()); ++tries)
                v.drainFrames();
            ASSERT_NE(slot, nullptr);
            fillFrame(*slot, ch, channelColour(ch), w, h);
            q->putWriteBuffer();
        }
        while (v.drainFrames() > 0) {
        }
    }

    void startStreaming(MyOpenGLView& v, int maxCh)
    {
        v.SetNetPointer(linkA());
        v.setMaxCH(maxCh);
        v.SetRecOnOff(0xFFFF);
        v.setNetStatus(18, "");
    }

    CallLog log;
    MyOpenGLView* view = nullptr;
};

class VideoViewLayouts : public VideoViewTest, public ::testing::WithParamInterface<std::pair<int, bool>> {};

TEST_P(VideoViewLayouts, EachCellShowsItsChannel)
{
    auto [maxCh, rect] = GetParam();
    delete view;
    view = makeView(rect, 480, 480);
    ASSERT_TRUE(view->hasGl());
    if (!rect) {
        EXPECT_FALSE(view->usesRectTextures());
    }
    startStreaming(*view, maxCh);
    feedChannels(*view, maxCh);
    QImage img = view->grabFramebuffer();
    int side = ViewLayout::gridSide(maxCh, 0);
    for (int ch = 0; ch < maxCh; ++ch) {
        QRgb got = img.pixel(cellPoint(img, side, ch));
        EXPECT_TRUE(near(got, channelColour(ch))) << "channel " << ch << " got " << std::hex << got;
        got = img.pixel(cellPoint(img, side, ch, 0.1f, 0.9f));
        EXPECT_TRUE(near(got, channelColour(ch))) << "channel " << ch << " near its corner";
    }
    for (int cell = maxCh; cell < side * side; ++cell)
        EXPECT_TRUE(near(img.pixel(cellPoint(img, side, cell)), qRgb(0, 0, 0))) << "empty cell " << cell;
}

INSTANTIATE_TEST_SUITE_P(Grids, VideoViewLayouts,
                         ::testing::Values(std::make_pair(4, true), std::make_pair(8, true), std::make_pair(9, true),
                                           std::make_pair(16, true), std::make_pair(4, false),
                                           std::make_pair(16, false)));

TEST_F(VideoViewTest, QueueIsLeftAloneWithoutALink)
{
    RingBuffer* q = view->getRingBuffer();
    for (int i = 0; i < 2; ++i) {
        fillFrame(*q->tryGetWriteBuffer(), 0, qRgb(255, 0, 0), 8, 8);
        q->putWriteBuffer();
    }
    EXPECT_EQ(view->drainFrames(), 0);
    EXPECT_EQ(q->count(), 2);
    view->SetNetPointer(linkA());  // attaching empties the queue
    EXPECT_EQ(q->count(), 0);
}

TEST_F(VideoViewTest, ZoomedChannelFillsTheViewAndOthersAreOnlyCounted)
{
    startStreaming(*view, 9);
    view->setM_MouseClickCh(5);
    feedChannels(*view, 9);
    QImage img = view->grabFramebuffer();
    for (QPoint p : {QPoint(5, 150), QPoint(200, 150), QPoint(394, 150)})
        EXPECT_TRUE(near(img.pixel(p), channelColour(4))) << p.x() << "," << p.y();
    EXPECT_EQ(view->frames().channel(0).frameCount, 1);
    EXPECT_EQ(view->frames().channel(0).videoW, 0);
    EXPECT_EQ(view->frames().channel(4).videoW, 96);

    // Detaching leaves the zoom and shows the disconnected picture.
    view->SetNetPointer(nullptr);
    EXPECT_EQ(view->getMouseClickCh(), 0);
    EXPECT_FALSE(view->isStreaming());
    img = view->grabFramebuffer();
    EXPECT_TRUE(near(img.pixel(5, 5), StatusPictures::background(StatusTable::kPicDisconnected).rgb()));
}

TEST_F(VideoViewTest, FailureStatesDrawTheirPictureAndResetButtons)
{
    view->SetNetPointer(linkA());
    const int states[] = {3, 5, 8, 10, 12, 16};
    for (int state : states) {
        log.calls.clear();
        view->setNetStatus(state, std::string(1, char(22)));
        StatusTable::Action act;
        StatusTable::actionFor(state, &act);
        EXPECT_EQ(view->currentNetStatus(), act.picture);

        QImage got = view->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
        QImage want = StatusPictures::make(act.picture).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(got.size(), want.size());
        int bad = 0;
        for (int y = 0; y < want.height(); ++y)
            for (int x = 0; x < want.width(); ++x)
                bad += !near(got.pixel(x, y), want.pixel(x, y), 24);
        EXPECT_LT(bad, want.width() * want.height() / 100) << "state " << state;
        // Every failure tells the status line: the login text, or
        // "Disconnected".
        std::vector<std::string> calls = {state == 10 ? "line 1 22" : "line 3 0", "buttons 0"};
        EXPECT_EQ(log.calls, calls) << "state " << state;
    }
    // Failure backgrounds differ from progress ones.
    EXPECT_NE(StatusPictures::background(8), StatusPictures::background(6));
}

TEST_F(VideoViewTest, StreamingStateAndIgnoredStates)
{
    view->SetNetPointer(linkA());
    view->setNetStatus(6, "");
    // Steps on the way to pictures keep the connection's progress text.
    EXPECT_EQ(log.calls, (std::vector<std::string>{"line 4 0"}));
    log.calls.clear();
    for (int s : {11, 13, 14, 19, -1})
        view->setNetStatus(s, "");
    EXPECT_EQ(view->currentNetStatus(), 6);
    EXPECT_TRUE(log.calls.empty());
    view->setNetStatus(18, "");
    EXPECT_TRUE(view->isStreaming());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"line 2 0"}));
    view->setNetStatus(0, "");
    EXPECT_EQ(log.calls.back(), "line 3 0");
}

TEST_F(VideoViewTest, CellMarkersForRecordingOffAndCovertChannels)
{
    delete view;
    view = makeView(true, 400, 400);
    startStreaming(*view, 4);
    view->SetRecOnOff(0x000B);
    view->SetCovert(0x0002);
    QImage img = view->grabFramebuffer();
    QRgb recOff = StatusPictures::background(StatusTable::kPicRecOff).rgb();
    QRgb covert = StatusPictures::background(StatusTable::kPicCovert).rgb();
    EXPECT_TRUE(near(img.pixel(cellPoint(img, 2, 2, 0.03f, 0.03f)), recOff));
    EXPECT_TRUE(near(img.pixel(cellPoint(img, 2, 1, 0.03f, 0.03f)), covert));
    EXPECT_TRUE(near(img.pixel(cellPoint(img, 2, 0, 0.03f, 0.03f)), qRgb(0, 0, 0)));

    // Frames of a covert channel never reach its cell.
    feedChannels(*view, 4);
    img = view->grabFramebuffer();
    EXPECT_TRUE(near(img.pixel(cellPoint(img, 2, 0)), channelColour(0)));
    EXPECT_TRUE(near(img.pixel(cellPoint(img, 2, 1, 0.03f, 0.03f)), covert));
    EXPECT_TRUE(near(img.pixel(cellPoint(img, 2, 3)), channelColour(3)));
}

TEST_F(VideoViewTest, ClearGlViewBlanksUntilTheNextPicture)
{
    startStreaming(*view, 1);
    feedChannels(*view, 1);
    view->ClearGlView();
    QImage img = view->grabFramebuffer();
    EXPECT_TRUE(near(img.pixel(200, 150), qRgb(0, 0, 0)));
    feedChannels(*view, 1);
    img = view->grabFramebuffer();
    EXPECT_TRUE(near(img.pixel(200, 150), channelColour(0)));
}

TEST_F(VideoViewTest, ReportsFromAStaleLinkAreDropped)
{
    view->SetNetPointer(linkA());
    std::unique_ptr<INetView> stale = view->makeLinkReporter();
    view->SetNetPointer(linkB());
    std::unique_ptr<INetView> current = view->makeLinkReporter();

    char titles[16][32] = {};
    titles[0][0] = 'A';
    std::thread worker([&] {
        stale->setMaxCH(9);
        stale->SetRecOnOff(0x00FF);
        stale->setNetStatus(8, "");
        current->setMaxCH(4);
        current->SetChTitle(titles);
        current->setNetStatus(6, "");
    });
    worker.join();
    QTest::qWait(20);
    EXPECT_EQ(view->maxCh(), 4);
    EXPECT_EQ(view->recOnOff(), 0);
    EXPECT_EQ(view->currentNetStatus(), 6);
    EXPECT_EQ(view->chTitle(0), QString("A"));
    EXPECT_EQ(log.calls, (std::vector<std::string>{"line 4 0"}));

    // After a detach the last reporter is stale too, and one that outlives
    // the view is harmless.
    view->SetNetPointer(nullptr);
    current->setNetStatus(8, "");
    QTest::qWait(20);
    EXPECT_EQ(view->currentNetStatus(), 0);
    delete view;
    view = nullptr;
    current->setNetStatus(8, "");
    QTest::qWait(20);
}

TEST_F(VideoViewTest, ChannelTitlesAreBoundedPerChannel)
{
    view->setMaxCH(2);
    char titles[16][32];
    for (int i = 0; i < 16; ++i) {  // channel 0: sixteen units, no terminator
        titles[0][2 * i] = char('a' + i);
        titles[0][2 * i + 1] = 0;
    }
    std::memset(titles[1], 0, sizeof titles[1]);
    titles[1][0] = 'Z';
    std::memset(titles[2], 0, 14 * 32);
    titles[2][0] = 'Q';
    view->SetChTitle(titles);
    EXPECT_EQ(view->chTitle(0), QString("abcdefghijklmnop"));
    EXPECT_EQ(view->chTitle(1), QString("Z"));
    EXPECT_EQ(view->chTitle(2), QString());  // beyond the channel count
    EXPECT_EQ(view->chTitle(16), QString());
}

// ---- zoom click and snapshots

TEST_F(VideoViewTest, ClickZoomsACellAndTheNextReturns)
{
    auto click = [&](int x, int y, Qt::MouseButton b = Qt::LeftButton) {
        QTest::mouseClick(view, b, Qt::NoModifier, QPoint(x, y));
    };
    click(200, 150);  // not streaming
    EXPECT_TRUE(log.calls.empty());
    startStreaming(*view, 4);
    feedChannels(*view, 4);
    log.calls.clear();
    click(20, 280);  // lower-left quarter
    EXPECT_EQ(view->getMouseClickCh(), 3);
    EXPECT_TRUE(near(view->grabFramebuffer().pixel(200, 150), channelColour(2)));  // over the whole view
    click(390, 10);  // anywhere on the zoomed view
    EXPECT_EQ(view->getMouseClickCh(), 0);
    click(5, 5, Qt::RightButton);  // other buttons do nothing
    EXPECT_EQ(log.calls, (std::vector<std::string>{"audio 3", "live 3", "audio 0", "live 0"}));

    log.calls.clear();
    view->setMaxCH(16);
    click(390, 290);  // cells beyond the fourth turn audio off
    EXPECT_EQ(view->getMouseClickCh(), 16);
    click(390, 290);
    view->setMaxCH(1);  // no split layout: nothing zooms
    click(390, 290);
    EXPECT_EQ(view->getMouseClickCh(), 0);
    EXPECT_EQ(log.calls,
              (std::vector<std::string>{"audio 0", "live 16", "audio 0", "live 0", "audio 0", "live 0"}));
    EXPECT_EQ(view->accessibleName(), "Video");

    view->setNetMouseInfo(7, 2, -3, 480);  // the second device's pointer values
    EXPECT_EQ(view->WndPos2DVRPos(QPointF(200.7, 150.2), QSizeF(400, 300)), QPointF(324, 276));
    EXPECT_EQ(view->WndPos2DVRPos(QPointF(1, 1), QSizeF(0, 300)), QPointF(324, 276));  // no size: unchanged
}

TEST_F(VideoViewTest, SnapshotIsNamedByTheClockAndShowsTheView)
{
    QStringList alerts;
    view->showAlert = [&](const QString& t, const QString& m) { alerts << t + "|" + m; };
    view->snapshotClock = [] { return QDateTime(QDate(2026, 12, 7), QTime(21, 5, 9)); };
    startStreaming(*view, 4);
    feedChannels(*view, 4);
    QTemporaryDir home;
    const QString folder = home.path() + "/capture/new";  // made when missing
    view->imageFromOpenGLView(folder);
    const QString path = folder + "/20261207_210509.jpg";
    ASSERT_EQ(alerts, QStringList{"Done!!|" + path});
    QImage img(path, "JPEG");
    EXPECT_EQ(img.size(), view->size() * view->devicePixelRatio());
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_TRUE(near(img.pixel(cellPoint(img, 2, ch)), channelColour(ch), 12)) << "channel " << ch;

    // A second snapshot in the same second keeps the first.
    const qint64 firstSize = QFileInfo(path).size();
    view->setM_MouseClickCh(2);
    view->imageFromOpenGLView(folder);
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts[1], "Done!!|" + folder + "/20261207_210509_1.jpg");
    EXPECT_EQ(QFileInfo(path).size(), firstSize);
    EXPECT_NE(QFileInfo(folder + "/20261207_210509_1.jpg").size(), firstSize);

    // A file where the folder should be: the failure is said, with the path.
    QFile blocker(home.path() + "/file");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    view->imageFromOpenGLView(blocker.fileName() + "/capture");
    ASSERT_EQ(alerts.size(), 3);
    EXPECT_TRUE(alerts[2].startsWith("Snapshot failed|Could not write " + blocker.fileName() +
                                     "/capture/20261207_210509.jpg"))
        << alerts[2].toStdString();
}

}  // namespace
