// On-screen display: its texts, the glyph sets, and the text over the
// pictures of the main window's view.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "link/NxLib.h"
#include "GuiTestSupport.h"
#include "output/GlyphFont.h"
#include "output/MyOpenGLView.h"
#include "output/OsdText.h"

namespace {

using OsdText::Item;

// ---- texts, places and glyphs

TEST(OsdText, LabelsAlarmTextsAndPlaces)
{
    const std::pair<int32_t, const char*> labels[] = {
        {0, "[ || ]"},   {1, "[ > ]"},    {16, "[>16]"},   {300, "[>300]"}, {1024, "[>MAX]"}, {-1, "[ < ]"},
        {-300, "[<300]"}, {2001, "[ |> ]"}, {2003, "[ || ]"}, {3000, "[ S ]"}, {3002, "[ |< ]"}, {1000, ""},
        {3, ""},         {-512, ""}};
    for (auto [speed, label] : labels)
        EXPECT_STREQ(OsdText::playbackLabel(speed), label) << speed;

    ChannelEventBits bits;
    bits.recStatus = 0x0005;
    bits.md = bits.ss = 0x0004;
    EXPECT_EQ(OsdText::takeAlarmText(bits, 0x0004, 2), "REC  VL  MD  SS");
    EXPECT_EQ(bits.recStatus, 0x0001);  // other channels keep theirs
    EXPECT_EQ(OsdText::takeAlarmText(bits, 0x0004, 2), "  VL");  // video loss stays
    EXPECT_EQ(OsdText::takeAlarmText(bits, 0xFFFF, 16), "");
    EXPECT_EQ(timeText(1704844800u + 8 * 3600 + 5 * 60 + 9), "2024-01-10 08:05:09");
    EXPECT_EQ(OsdText::frameRateText(7), "07F");

    float x = 0, y = 0;
    ASSERT_TRUE(OsdText::itemPosition(OsdText::ItemFrameRate, 9, 0, 4, &x, &y));  // 3x3: bottom-right vertex
    EXPECT_FLOAT_EQ(x, 0.34f - 0.05f);
    EXPECT_FLOAT_EQ(y, -0.34f);
    ASSERT_TRUE(OsdText::itemPosition(OsdText::ItemAlarm, 16, 0, 15, &x, &y));  // 4x4: bottom-left vertex
    EXPECT_FLOAT_EQ(x, 0.51f);
    EXPECT_FLOAT_EQ(y, -0.96f);
    ASSERT_TRUE(OsdText::itemPosition(OsdText::ItemPlayback, 2, 0, 1, &x, &y));  // whole view
    EXPECT_FLOAT_EQ(x, 0.89f);
    EXPECT_FALSE(OsdText::itemPosition(OsdText::ItemTime, 4, 0, 4, &x, &y));   // no cell in 2x2
    EXPECT_FALSE(OsdText::itemPosition(OsdText::ItemTime, 16, 7, 5, &x, &y));  // not the zoomed one
}

TEST(GlyphFont, BoldSansFromFontconfigAtFourSizes)
{
    guitest::ensureApp();
    EXPECT_TRUE(GlyphFont::boldSansFile().endsWith("DejaVuSans-Bold.ttf")) << GlyphFont::boldSansFile().toStdString();
    int lastHeight = 0;
    for (int px : {11, 15, 19, 30}) {
        QFont font;
        ASSERT_TRUE(GlyphFont::boldSans(px, &font)) << px;
        GlyphBitmap a = GlyphFont(font).glyph(u'A');
        GlyphBitmap space = GlyphFont(font).glyph(u' ');
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
    EXPECT_EQ(GlyphFont::listCodes(QString::fromUtf16(u"A\u00e9~\U0001F600")),
              (std::vector<uint16_t>{'A', '?', '~', '?'}));

    // Packing: rows from the bottom, most significant bit first.
    QImage img(10, 2, QImage::Format_RGB32);
    img.fill(Qt::black);
    img.setPixel(0, 1, qRgb(255, 255, 0));
    img.setPixel(9, 0, qRgb(255, 255, 0));
    EXPECT_EQ(GlyphFont::pack(img).bits, (std::vector<uint8_t>{0x80, 0x00, 0x00, 0x40}));
}

// ---- the view

alignas(16) char g_link[16];

class OsdView : public guitest::AppWindowTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(AppWindowTest::SetUp());
        view = window->mainGLView();
        ASSERT_TRUE(view->hasGl());
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

    // One dark grey frame of channel ch.
    void feed(int ch, int type = 0, uint8_t rec = 0, uint8_t md = 0, uint8_t ss = 0)
    {
        RingBuffer* q = view->getRingBuffer();
        tag_FrameV_Orgin* f = q->tryGetWriteBuffer();
        ASSERT_NE(f, nullptr);
        f->ch = int8_t(ch), f->now_type = uint8_t(type), f->time = 1704873600u;
        f->w = 64, f->h = 48, f->evt_rec = rec, f->evt_md = md, f->evt_ss = ss;
        const uint8_t px[4] = {50, 50, 50, 255};
        for (int i = 0; i < 64 * 48; ++i)
            std::memcpy(f->outbuff + 4 * i, px, 4);
        q->putWriteBuffer();
        view->drainFrames();
    }

    // Where the item's text of channel ch starts: one line high.
    QRect region(Item item, int ch, int zoom = 0, int width = 90) const
    {
        float x = 0, y = 0;
        OsdText::itemPosition(item, view->maxCh(), zoom, ch, &x, &y);
        const int w = view->width(), h = view->height();
        return QRect(int((x + 1) / 2 * w), int((1 - y) / 2 * h) - 14, width, 14).intersected(QRect(0, 0, w, h));
    }
    // Pixels of the item's colour there.
    int itemPixels(const QImage& img, Item item, int ch, int zoom = 0, int width = 90) const
    {
        return colourPixels(img, region(item, ch, zoom, width), OsdText::itemColour(item));
    }
    static int colourPixels(const QImage& img, const QRect& r, OsdText::Colour c)
    {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) {
                QColor got = img.pixelColor(x, y);
                n += std::abs(got.redF() - c.r) < 0.15 && std::abs(got.greenF() - c.g) < 0.15 &&
                     std::abs(got.blueF() - c.b) < 0.15;
            }
        return n;
    }
    bool shows(const QImage& img, Item item, int ch, int zoom = 0) const { return itemPixels(img, item, ch, zoom) >= 6; }

    MyOpenGLView* view = nullptr;
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

TEST_F(OsdView, GroupSwitchesAndThePlaybackLabel)
{
    auto visible = [&](int type = 1) {
        feed(0, type, 1);
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
    view->SetDrawOsd(9);  // unknown: no change
    EXPECT_EQ(visible(), "111011");
    view->SetDrawOsd(4);
    view->SetDrawPlayback(2002);
    EXPECT_EQ(visible(), "111111");
    EXPECT_EQ(visible(0), "110111");  // never over live pictures
    view->SetDrawPlayback(1000);
    EXPECT_EQ(visible(), "110111");
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
    feed(0, 0, 0, 0, 1);
    EXPECT_EQ(view->eventText(0), "  VL  SS");

    // With the event group off the bits wait for it.
    view->SetDrawOsd(2);
    feed(0, 0, 1);
    EXPECT_EQ(view->eventText(0), "");
    view->SetDrawOsd(2);
    feed(0);
    EXPECT_EQ(view->eventText(0), "REC  VL");
}

TEST_F(OsdView, TitleCharactersWithoutGlyphDrawAsQuestionMarks)
{
    auto titlePixels = [&](const std::u16string& title) {
        setTitles(title);
        feed(0);
        return view->grabFramebuffer().copy(region(OsdText::ItemChTitle, 0, 0, 120));
    };
    QImage questionMarks = titlePixels(u"A??");
    EXPECT_EQ(questionMarks, titlePixels(u"A\u30ab\u00e9"));
    EXPECT_NE(questionMarks, titlePixels(u"ABC"));
}

// In every layout, at the window's default and smallest sizes, each item's
// pixels in its cell are all the set bits of its text's glyphs in the set
// the view draws with (11 px): nothing is cut at a cell's edge. One group
// is drawn at a time, so that a colour is one item.
TEST_F(OsdView, EveryItemIsWholeInsideItsCell)
{
    view->SetRegName("NORTH GATE YARD");
    view->setMaxCH(16);
    setTitles(u"LOADING BAY");
    QFont font;
    ASSERT_TRUE(GlyphFont::boldSans(int(std::lround(11 * view->devicePixelRatioF())), &font));
    auto ink = [glyphs = GlyphFont(font)](const std::string& text) {
        int n = 0;
        for (char c : text)
            for (uint8_t b : glyphs.glyph(char16_t(c)).bits)
                n += std::popcount(b);
        return n;
    };
    const std::pair<int8_t, std::vector<std::pair<Item, std::string>>> groups[] = {
        {1, {{OsdText::ItemTime, timeText(1704873600u)}, {OsdText::ItemMode, "LIVE"},
             {OsdText::ItemRegName, "NORTH GATE YARD" "LOADING BAY"}}},  // white: site name and title
        {2, {{OsdText::ItemAlarm, "REC"}}},
        {3, {{OsdText::ItemResolution, "[64x48]"}, {OsdText::ItemFrameRate, ""}}}};
    for (QSize size : {window->size(), QSize(1, 1)}) {
        window->resize(size);
        QTest::qWait(100);
        for (auto [maxCh, zoom] : {std::pair{16, 0}, {9, 0}, {4, 0}, {16, 16}, {1, 0}}) {
            view->setMaxCH(maxCh);
            view->setM_MouseClickCh(zoom);
            const int side = ViewLayout::gridSide(maxCh, zoom);
            for (const auto& [group, items] : groups) {
                view->SetDrawOsd(5);
                view->SetDrawOsd(group);
                for (int ch = 0; ch < 16; ++ch)
                    feed(ch, 0, 1);
                const QImage img = view->grabFramebuffer();
                const int w = img.width(), h = img.height();
                for (int cell = 0; cell < side * side; ++cell) {
                    ViewLayout::CellRect r{};
                    ViewLayout::cellRect(side, cell, &r);
                    const QRect px(QPoint(qRound((r.left + 1) / 2 * w), qRound((1 - r.top) / 2 * h)),
                                   QPoint(qRound((r.right + 1) / 2 * w) - 1, qRound((1 - r.bottom) / 2 * h) - 1));
                    const int ch = zoom ? zoom - 1 : (side == 1 ? 15 : cell);
                    const int fps = view->frames().channel(ch).frameCount2;  // counted on the clock
                    for (auto [item, text] : items) {
                        text = item == OsdText::ItemFrameRate ? OsdText::frameRateText(fps) : text;
                        const int n = colourPixels(img, px, OsdText::itemColour(item));
                        // In the smallest 4x4 cells the mode is drawn over the time's end.
                        const int hidden = item == OsdText::ItemTime && side == 4 && size.width() == 1 ? ink("LIVE") : 0;
                        EXPECT_TRUE(n <= ink(text) && n + hidden >= ink(text))
                            << w << "x" << h << " side " << side << " cell " << cell << " item " << item << ": " << n;
                    }
                }
            }
        }
    }
}

}  // namespace
