// On-screen display: its texts, the glyph sets, and the text over the
// pictures of a real view.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <cstring>
#include <algorithm>
#include <functional>

#include "GuiTestSupport.h"
#include "output/GlyphFont.h"
#include "output/IViewController.h"
#include "output/MyOpenGLView.h"
#include "output/OsdText.h"

namespace {

using OsdText::Item;

// ---- texts and places

TEST(OsdText, PlaybackLabels)
{
    const std::pair<int32_t, const char*> table[] = {
        {0, "[ || ]"},       {1, "[ > ]"},       {2, "[>2]"},        {16, "[>16]"},      {128, "[>128]"},
        {300, "[>300]"},     {512, "[>512]"},    {1024, "[>MAX]"},   {-1, "[ < ]"},      {-2, "[<2]"},
        {-64, "[<64]"},      {-300, "[<300]"},   {2001, "[ |> ]"},   {2002, "[ || ]"},   {2003, "[ || ]"},
        {3000, "[ S ]"},     {3001, "[ >| ]"},   {3002, "[ |< ]"},   {1000, ""},         {3, ""},
        {-512, ""},          {1023, ""},         {-1024, ""},
    };
    for (auto [speed, label] : table)
        EXPECT_STREQ(OsdText::playbackLabel(speed), label) << speed;
}

TEST(OsdText, AlarmTextOrderAndWhichBitsItClears)
{
    ChannelEventBits bits;
    bits.recStatus = 0x0005;
    bits.md = 0x0004;
    bits.ss = 0x0004;
    EXPECT_EQ(OsdText::takeAlarmText(bits, 0x0004, 2), "REC  VL  MD  SS");
    EXPECT_EQ(bits.recStatus, 0x0001);  // other channels keep theirs
    EXPECT_EQ(bits.md, 0);
    EXPECT_EQ(bits.ss, 0);
    EXPECT_EQ(OsdText::takeAlarmText(bits, 0x0004, 2), "  VL");  // video loss stays
    bits.md = 0x0001;
    EXPECT_EQ(OsdText::takeAlarmText(bits, 0, 0), "REC  MD");
    EXPECT_EQ(OsdText::takeAlarmText(bits, 0xFFFF, 16), "");
}

TEST(OsdText, ItemTexts)
{
    EXPECT_STREQ(OsdText::modeText(0), "LIVE");
    EXPECT_STREQ(OsdText::modeText(1), "SEARCH");
    EXPECT_STREQ(OsdText::modeText(2), "?");
    EXPECT_EQ(OsdText::timeText(1704844800u + 8 * 3600 + 5 * 60 + 9), "2024-01-10 08:05:09");
    EXPECT_EQ(OsdText::resolutionText(720, 480), "[720x480]");
    EXPECT_EQ(OsdText::frameRateText(7), "07F");
    EXPECT_EQ(OsdText::frameRateText(30), "30F");
}

TEST(OsdText, ItemPositions)
{
    float x = 0, y = 0;
    // 2x2, channel 3 (bottom-right cell): its top-left vertex is (0, 0).
    ASSERT_TRUE(OsdText::itemPosition(OsdText::ItemTime, 4, 0, 3, &x, &y));
    EXPECT_FLOAT_EQ(x, 0.01f);
    EXPECT_FLOAT_EQ(y, -0.08f);
    // 3x3 middle cell, frame rate from the bottom-right vertex.
    ASSERT_TRUE(OsdText::itemPosition(OsdText::ItemFrameRate, 9, 0, 4, &x, &y));
    EXPECT_FLOAT_EQ(x, 0.34f - 0.05f);
    EXPECT_FLOAT_EQ(y, -0.34f);
    // 4x4 cell 16, alarm from the bottom-left vertex.
    ASSERT_TRUE(OsdText::itemPosition(OsdText::ItemAlarm, 16, 0, 15, &x, &y));
    EXPECT_FLOAT_EQ(x, 0.51f);
    EXPECT_FLOAT_EQ(y, -0.96f);
    ASSERT_TRUE(OsdText::itemPosition(OsdText::ItemMode, 16, 7, 6, &x, &y));  // zoomed
    EXPECT_FLOAT_EQ(x, 0.8f);
    EXPECT_FLOAT_EQ(y, 0.92f);
    ASSERT_TRUE(OsdText::itemPosition(OsdText::ItemPlayback, 2, 0, 1, &x, &y));  // whole view
    EXPECT_FLOAT_EQ(x, 0.89f);
    EXPECT_FLOAT_EQ(y, 0.89f);
    EXPECT_FALSE(OsdText::itemPosition(OsdText::ItemTime, 4, 0, 4, &x, &y));   // no cell in 2x2
    EXPECT_FALSE(OsdText::itemPosition(OsdText::ItemTime, 16, 7, 5, &x, &y));  // not the zoomed one
}

// ---- glyphs

TEST(GlyphFont, BoldSansFromFontconfigAtFourSizes)
{
    guitest::ensureApp();
    EXPECT_TRUE(GlyphFont::boldSansFile().endsWith("DejaVuSans-Bold.ttf")) << GlyphFont::boldSansFile().toStdString();
    int lastHeight = 0;
    for (int px : {11, 15, 19, 30}) {
        QFont font;
        ASSERT_TRUE(GlyphFont::boldSans(px, &font)) << px;
        GlyphFont glyphs(font);
        GlyphBitmap a = glyphs.glyph(u'A');
        GlyphBitmap space = glyphs.glyph(u' ');
        EXPECT_GT(a.h, lastHeight) << px;
        lastHeight = a.h;
        int set = 0;
        for (int y = 0; y < a.h; ++y)
            for (int x = 0; x < a.w; ++x)
                set += a.bit(x, y);
        EXPECT_GT(set, px) << px;
        EXPECT_GT(space.w, 0);
        EXPECT_TRUE(std::all_of(space.bits.begin(), space.bits.end(), [](uint8_t b) { return b == 0; }));
    }
}

TEST(GlyphFont, PackingRowsFromTheBottomMostSignificantBitFirst)
{
    QImage img(10, 2, QImage::Format_RGB32);
    img.fill(Qt::black);
    img.setPixel(0, 1, qRgb(255, 255, 0));  // bottom row, first pixel
    img.setPixel(9, 0, qRgb(255, 255, 0));  // top row, last pixel
    img.setPixel(1, 1, qRgb(100, 255, 0));  // dim: off
    GlyphBitmap g = GlyphFont::pack(img);
    ASSERT_EQ(g.bits.size(), 4u);  // two bytes per row
    EXPECT_EQ(g.bits, (std::vector<uint8_t>{0x80, 0x00, 0x00, 0x40}));
}

TEST(GlyphFont, CharactersOutsideTheSetBecomeQuestionMarks)
{
    EXPECT_EQ(GlyphFont::listCodes(QString::fromUtf16(u"A\u00e9\u30ab~\U0001F600z")),
              (std::vector<uint16_t>{'A', '?', '?', '~', '?', 'z'}));
    EXPECT_EQ(GlyphFont::listCodes("a\tb\x7f"), (std::vector<uint16_t>{'a', '?', 'b', 0x7f}));
}

// ---- the view

alignas(16) char g_link[16];

struct NoController : IViewController {
    void DisplayConnectStr(const std::string&, int, const std::string&, int) override {}
    void SetButtonStatus(int) override {}
    void RequestAudio(int8_t) override {}
    void RequestLiveCh(int32_t) override {}
};

const QRgb kBackground = qRgb(50, 50, 50);

class OsdView : public ::testing::Test {
protected:
    static constexpr int kW = 800;
    static constexpr int kH = 600;

    void SetUp() override
    {
        guitest::ensureApp();
        view = std::make_unique<MyOpenGLView>();
        view->resize(kW, kH);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        ASSERT_TRUE(view->hasGl());
        view->SetMainPointer(&controller);
        view->SetNetPointer(reinterpret_cast<CoNetwork*>(g_link));
        view->setMaxCH(4);
        view->SetRecOnOff(0xFFFF);
        view->SetRegName("Yard");
        view->setNetStatus(18, "");
    }

    // The same title for every channel.
    void setTitles(const std::u16string& title)
    {
        char titles[16][32] = {};
        for (int ch = 0; ch < 16; ++ch)
            for (size_t i = 0; i < title.size() && i < 16; ++i) {
                titles[ch][2 * i] = char(title[i] & 0xFF);
                titles[ch][2 * i + 1] = char(title[i] >> 8);
            }
        view->SetChTitle(titles);
    }

    void feed(int ch, int type = 0, uint8_t rec = 0, uint8_t md = 0, uint8_t ss = 0)
    {
        RingBuffer* q = view->getRingBuffer();
        tag_FrameV_Orgin* f = q->tryGetWriteBuffer();
        ASSERT_NE(f, nullptr);
        f->ch = int8_t(ch);
        f->w = 64;
        f->h = 48;
        f->time = 1704873600u;
        f->now_type = uint8_t(type);
        f->evt_rec = rec;
        f->evt_md = md;
        f->evt_ss = ss;
        const uint8_t px[4] = {uint8_t(qBlue(kBackground)), uint8_t(qGreen(kBackground)), uint8_t(qRed(kBackground)),
                               255};
        for (int i = 0; i < f->w * f->h; ++i)
            std::memcpy(f->outbuff + 4 * i, px, 4);
        q->putWriteBuffer();
        view->drainFrames();
    }

    // Pixels of the item's colour where its text of channel ch starts.
    int itemPixels(const QImage& img, Item item, int ch, int zoom = 0, int width = 90)
    {
        float x = 0, y = 0;
        if (!OsdText::itemPosition(item, view->maxCh(), zoom, ch, &x, &y))
            return -1;
        int px = int((x + 1) / 2 * float(img.width()));
        int py = int((1 - y) / 2 * float(img.height()));
        QRect r = QRect(px, py - 14, width, 14).intersected(img.rect());
        OsdText::Colour c = OsdText::itemColour(item);
        QRgb want = qRgb(int(c.r * 255), int(c.g * 255), int(c.b * 255));
        int n = 0;
        for (int yy = r.top(); yy <= r.bottom(); ++yy)
            for (int xx = r.left(); xx <= r.right(); ++xx) {
                QRgb got = img.pixel(xx, yy);
                n += std::abs(qRed(got) - qRed(want)) < 40 && std::abs(qGreen(got) - qGreen(want)) < 40 &&
                     std::abs(qBlue(got) - qBlue(want)) < 40;
            }
        return n;
    }
    bool shows(const QImage& img, Item item, int ch, int zoom = 0) { return itemPixels(img, item, ch, zoom) >= 6; }

    NoController controller;
    std::unique_ptr<MyOpenGLView> view;
};

TEST_F(OsdView, EveryItemDrawsInItsPlaceInEachCell)
{
    view->SetVideoLoss(0x0001);
    view->SetDrawPlayback(4);
    setTitles(u"CAM");
    for (int ch = 0; ch < 4; ++ch)
        feed(ch, ch % 2, 1, 1);
    QImage img = view->grabFramebuffer();
    for (int ch = 0; ch < 4; ++ch) {
        for (Item item : {OsdText::ItemTime, OsdText::ItemMode, OsdText::ItemRegName, OsdText::ItemChTitle,
                          OsdText::ItemAlarm, OsdText::ItemResolution, OsdText::ItemFrameRate})
            EXPECT_TRUE(shows(img, item, ch)) << "channel " << ch << " item " << item;
        // The playback label only over playback pictures.
        EXPECT_EQ(shows(img, OsdText::ItemPlayback, ch), ch % 2 == 1) << ch;
    }
    EXPECT_EQ(view->eventText(0), "REC  VL  MD");

    // Zoomed: one channel's text at the zoomed places.
    view->setM_MouseClickCh(2);
    feed(1, 1);
    img = view->grabFramebuffer();
    for (Item item : {OsdText::ItemTime, OsdText::ItemMode, OsdText::ItemPlayback, OsdText::ItemFrameRate})
        EXPECT_TRUE(shows(img, item, 1, 2)) << item;
}

TEST_F(OsdView, GroupSwitches)
{
    auto visible = [&] {
        feed(0, 1, 1);
        QImage img = view->grabFramebuffer();
        std::string s;
        for (Item item : {OsdText::ItemTime, OsdText::ItemRegName, OsdText::ItemPlayback, OsdText::ItemAlarm,
                          OsdText::ItemResolution, OsdText::ItemFrameRate})
            s += shows(img, item, 0) ? "1" : "0";
        return s;
    };
    EXPECT_EQ(visible(), "111111");
    view->SetDrawOsd(5);
    EXPECT_EQ(visible(), "000000");
    view->SetDrawOsd(1);
    EXPECT_EQ(visible(), "111000");
    view->SetDrawOsd(2);
    view->SetDrawOsd(2);
    EXPECT_EQ(visible(), "111000");
    view->SetDrawOsd(3);
    EXPECT_EQ(visible(), "111011");
    view->SetDrawOsd(9);  // unknown: no change
    view->SetDrawOsd(4);
    EXPECT_EQ(visible(), "111111");
    EXPECT_TRUE(view->drawsOsdTime() && view->drawsOsdEvent() && view->drawsOsdFPS());
}

TEST_F(OsdView, AlarmBitsAreTakenOncePerFrameNotPerRepaint)
{
    view->SetVideoLoss(0x0001);
    feed(0, 0, 1, 1);
    for (int repaint = 0; repaint < 3; ++repaint) {
        QImage img = view->grabFramebuffer();
        EXPECT_EQ(view->eventText(0), "REC  VL  MD");
        EXPECT_GT(itemPixels(img, OsdText::ItemAlarm, 0, 0, 200), 40) << repaint;
    }
    EXPECT_EQ(view->frames().events().recStatus, 0);
    feed(0);
    EXPECT_EQ(view->eventText(0), "  VL");
    feed(0, 0, 0, 0, 1);
    EXPECT_EQ(view->eventText(0), "  VL  SS");

    // With the event group off the bits wait for it.
    view->SetDrawOsd(2);
    feed(0, 0, 1);
    EXPECT_EQ(view->eventText(0), "");
    EXPECT_EQ(view->frames().events().recStatus, 0x0001);
    view->SetDrawOsd(2);
    feed(0);
    EXPECT_EQ(view->eventText(0), "REC  VL");
}

TEST_F(OsdView, PlaybackLabelFollowsTheSpeed)
{
    auto labelShown = [&](int type) {
        feed(0, type);
        return shows(view->grabFramebuffer(), OsdText::ItemPlayback, 0);
    };
    view->SetDrawPlayback(2002);
    EXPECT_TRUE(labelShown(1));
    EXPECT_FALSE(labelShown(0));  // live pictures never
    view->SetDrawPlayback(1000);
    EXPECT_FALSE(labelShown(1));
    view->SetDrawPlayback(-8);
    EXPECT_TRUE(labelShown(1));
    EXPECT_EQ(view->playbackSpeed(), -8);
}

TEST_F(OsdView, TitleCharactersWithoutGlyphDrawAsQuestionMarks)
{
    auto titleRegion = [&](const std::u16string& title) {
        setTitles(title);
        feed(0);
        QImage img = view->grabFramebuffer();
        float x = 0, y = 0;
        OsdText::itemPosition(OsdText::ItemChTitle, 4, 0, 0, &x, &y);
        int px = int((x + 1) / 2 * kW), py = int((1 - y) / 2 * kH);
        return img.copy(px, py - 14, 120, 15);
    };
    QImage questionMarks = titleRegion(u"A??");
    QImage nonLatin = titleRegion(u"A\u30ab\u00e9");
    EXPECT_EQ(questionMarks, nonLatin);
    EXPECT_NE(questionMarks, titleRegion(u"ABC"));
}

}  // namespace
