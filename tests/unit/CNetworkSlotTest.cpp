// The second device's link decoding into the view's queue: pictures cut by
// the real scanner, decoded by the intra decoder of site model 1 straight
// into queue slots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "link/CNetwork.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"
#include "tests/unit/IntraTestEncoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using intratest::Planes;

class DeviceSlots : public ::testing::Test {
protected:
    void SetUp() override
    {
        old = setLogSink([this](const std::string& s) { log += s + "\n"; });
        net.setQpointerV(&queue);
        net.SetDecoder(SITE_MODEL_MJPEG);
        freeSlots = queue.freeCount();
        net.onFrame = [this](const uint8_t*, uint32_t) { ++cuts; };
    }
    void TearDown() override { setLogSink(old); }

    // A frame is cut when the next start code and one byte more have come.
    void feedFrame(const Bytes& frame)
    {
        net.parseReceived(frame.data(), int(frame.size()));
        const uint8_t next[] = {0, 0, 1, 0xF8, 0};
        net.parseReceived(next, int(sizeof next));
    }
    Bytes picture(const Planes& p) { return enc.encode(p, 1); }

    // The colour the device's conversion gives a solid picture, B, G, R.
    static void expectSolid(const tag_FrameV_Orgin& s, const Planes& p, int tol = 2)
    {
        const double l = p.p[0][0], u = p.p[1][0] - 128.0, v = p.p[2][0] - 128.0;
        const double want[3] = {l + 1.772 * u, l - 0.344 * u - 0.714 * v, l + 1.402 * v};
        for (size_t at : {size_t(0), size_t(s.w) * size_t(s.h) / 2, size_t(s.w) * size_t(s.h) - 1})
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(s.outbuff[at * 4 + size_t(k)], std::clamp(want[k], 1.0, 255.0), tol)
                    << "pixel " << at << " byte " << k;
    }

    RingBuffer queue;
    CNetwork net;
    intratest::Encoder enc;
    int freeSlots = 0;
    int cuts = 0;  // frames the scanner handed on
    std::string log;
    LogSink old;
};

TEST_F(DeviceSlots, WholeHeadIsWrittenOverARecorderPicture)
{
    // Every slot holds what a recorder link left there: a playback picture
    // of channel 5 with all three events, another size and time.
    for (int i = 0; i < RingBuffer::capacity(); ++i) {
        tag_FrameV_Orgin* s = queue.slot(i);
        s->result = 7;
        s->time = 12345;
        s->ch = 5;
        s->now_type = 1;
        s->add_nal = 1;
        s->w = 1920;
        s->h = 1080;
        s->outsize = 1920 * 1080 * 4;
        s->evt_rec = s->evt_md = s->evt_ss = 1;
    }
    for (int h : {224, 272}) {
        SCOPED_TRACE(h);
        const Planes p(640, h, 81, 90, 240);
        feedFrame(picture(p));
        tag_FrameV_Orgin* s = queue.tryGetReadBuffer();
        ASSERT_NE(s, nullptr) << log;
        EXPECT_EQ(s->ch, 0);
        EXPECT_EQ(s->now_type, 0);
        EXPECT_EQ(s->add_nal, 0);
        EXPECT_EQ(s->evt_rec + s->evt_md + s->evt_ss, 0);
        EXPECT_EQ(s->w, 640);
        EXPECT_EQ(s->h, h);
        EXPECT_EQ(s->outsize, 640 * h * 4);
        EXPECT_NE(s->time, 12345u);
        expectSolid(*s, p);
        queue.putReadBuffer();
    }
    EXPECT_EQ(queue.count(), 0);
}

TEST_F(DeviceSlots, FrameWithoutPictureGivesItsSlotBack)
{
    const Planes good(640, 224, 145, 54, 34);
    Bytes skipped = picture(good);
    skipped[4] = uint8_t((skipped[4] & 0x87) | 15 << 3);  // quantiser 15: a skipped picture
    const Bytes whole = picture(good);
    const Bytes truncated(whole.begin(), whole.begin() + long(whole.size() / 2));  // too few slices
    Bytes corrupt = whole;
    std::fill(corrupt.begin() + 12, corrupt.begin() + 40, uint8_t(0));  // no valid coefficient code
    // More failed frames than the queue has slots.
    const Bytes* bad[] = {&skipped, &truncated, &corrupt};
    for (int round = 0; round < RingBuffer::capacity() / 3 + 1; ++round) {
        for (const Bytes* frame : bad) {
            const int before = cuts;
            feedFrame(*frame);
            ASSERT_GT(cuts, before) << "round " << round;  // the frame went to the decoder
            ASSERT_EQ(queue.count(), 0) << "round " << round;
            ASSERT_EQ(queue.freeCount(), freeSlots) << "round " << round;
        }
    }
    EXPECT_EQ(queue.committedCount(), 0u);
    feedFrame(picture(good));
    EXPECT_EQ(queue.count(), 1);
    tag_FrameV_Orgin* s = queue.tryGetReadBuffer();
    ASSERT_NE(s, nullptr) << log;
    EXPECT_EQ(s->w, 640);
    expectSolid(*s, good);
    queue.putReadBuffer();
}

}  // namespace
