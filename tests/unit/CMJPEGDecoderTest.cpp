#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "decode/CMJPEGDecoder.h"
#include "decode/IDecoder.h"
#include "platform/Log.h"
#include "tests/unit/IntraTestEncoder.h"

namespace {

using intratest::Encoder;
using intratest::Planes;
using Bytes = std::vector<uint8_t>;

Planes gradient(int h)
{
    Planes g(640, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 640; ++x) {
            g.at(0, x, y) = uint8_t(16 + x * 220 / 639);
            g.at(x % 2 + 1, x / 2, y / 2) = uint8_t(x % 2 ? 200 - y / 3 : 60 + x / 8);
        }
    return g;
}

Planes noise(int h, uint32_t seed)
{
    Planes n(640, h);
    std::mt19937 rng(seed);
    for (auto& plane : n.p)
        for (auto& v : plane)
            v = uint8_t(rng());
    return n;
}

class IntraDecoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        old = setLogSink([this](const std::string& s) { log += s + "|"; });
        dec.InitDecoder(2);
    }
    void TearDown() override { setLogSink(old); }

    // From an exact-size heap copy: a read past the data is a sanitizer error.
    bool decode(const Bytes& b)
    {
        input.reset(new uint8_t[b.size()]);
        if (!b.empty())
            std::memcpy(input.get(), b.data(), b.size());
        pk = {};
        pk.inbuff = input.get();
        pk.insize = int32_t(b.size());
        return dec.Decode(&pk);
    }
    ::testing::AssertionResult planesMatch(const Planes& want, int tol)
    {
        const uint8_t* got = dec.yuv();
        for (int c = 0, off = 0; c < 3; off += int(want.p[c].size()), ++c)
            for (size_t i = 0; i < want.p[c].size(); ++i)
                if (std::abs(got[off + int(i)] - want.p[c][i]) > tol)
                    return ::testing::AssertionFailure() << "plane " << c << " sample " << i << " is "
                                                         << int(got[off + int(i)]) << ", wanted " << int(want.p[c][i]);
        return ::testing::AssertionSuccess();
    }
    // Every output pixel against a float conversion of the source picture.
    ::testing::AssertionResult colourMatches(const Planes& src, int tol)
    {
        for (int y = 0; y < pk.h; ++y)
            for (int x = 0; x < pk.w; ++x) {
                const double l = src.at(0, x, y), u = src.at(1, x / 2, y / 2) - 128.0, v = src.at(2, x / 2, y / 2) - 128.0;
                const double want[3] = {l + 1.772 * u, l - 0.344 * u - 0.714 * v, l + 1.402 * v};
                const uint8_t* px = pk.outbuff + (y * pk.w + x) * 4;
                for (int k = 0; k < 3; ++k)
                    if (std::abs(px[k] - std::clamp(want[k], 1.0, 255.0)) > tol || px[3] != 0)
                        return ::testing::AssertionFailure() << "pixel " << x << "," << y << " byte " << k << " is " << int(px[k]);
            }
        return ::testing::AssertionSuccess();
    }

    std::unique_ptr<uint8_t[]> input;
    CMJPEGDecoder dec;
    tagNxPacket pk;
    Encoder enc;
    std::string log;
    LogSink old;
};

TEST_F(IntraDecoderTest, SolidColoursAtBothSizes)
{
    const int colours[][3] = {{255, 128, 128}, {0, 128, 128}, {81, 90, 240}, {145, 54, 34}, {41, 240, 110}};
    for (int h : {224, 272})
        for (const auto& c : colours) {
            const Planes src(640, h, c[0], c[1], c[2]);
            ASSERT_TRUE(decode(enc.encode(src, 1))) << log;
            EXPECT_EQ(pk.w, 640);
            EXPECT_EQ(pk.h, h);
            EXPECT_EQ(pk.outsize, 640 * h * 4);
            EXPECT_EQ(dec.GetTimeStamp(), 0x1234);
            EXPECT_TRUE(planesMatch(src, 0));  // DC only: exact, 255 and 0 included
            EXPECT_TRUE(colourMatches(src, 2));
        }
}

TEST_F(IntraDecoderTest, GradientNoiseAndExtremeCoefficientsMatchTheReconstruction)
{
    enc.q = 1;
    const Planes grad = gradient(272);
    ASSERT_TRUE(decode(enc.encode(grad, 1))) << log;
    EXPECT_TRUE(planesMatch(enc.recon, 1));
    EXPECT_TRUE(colourMatches(grad, 6));

    enc.reverseSlices = true;  // each slice is placed by its own row
    for (int q : {1, 3, 9}) {
        enc.q = q;
        ASSERT_TRUE(decode(enc.encode(noise(224, uint32_t(q)), 1))) << log;
        EXPECT_TRUE(planesMatch(enc.recon, 1)) << "q " << q;
    }

    // Legal levels whose products pass the coefficient limits and carry the
    // transform far outside its clip table.
    enc.q = 14;
    for (int level : {255, -256, 90}) {
        enc.forceLevel = level;
        ASSERT_TRUE(decode(enc.encode(noise(224, 7), 1))) << log;
        EXPECT_TRUE(planesMatch(enc.recon, 1)) << "level " << level;
    }
    EXPECT_GT(enc.longEscapes, 0);
    EXPECT_GT(enc.escapes, enc.longEscapes);
}

TEST_F(IntraDecoderTest, ConditionalPictureChangesOnlyItsCodedBlocks)
{
    // Left out after creation: the colour of an all-zero planar picture.
    ASSERT_TRUE(decode(enc.encode(Planes(640, 224, 200, 100, 100), 0, {0}))) << log;
    const uint8_t* far = pk.outbuff + (200 * 640 + 600) * 4;
    EXPECT_EQ(std::vector<int>(far, far + 4), (std::vector<int>{1, 135, 1, 0}));

    ASSERT_TRUE(decode(enc.encode(gradient(224), 1)));
    const Bytes before(pk.outbuff, pk.outbuff + pk.outsize);
    const int row = 5, col = 17;
    ASSERT_TRUE(decode(enc.encode(noise(224, 3), 0, {row * 40 + col}, 0b1001))) << log;
    EXPECT_TRUE(planesMatch(enc.recon, 1));
    int changed = 0;
    for (int y = 0; y < 224; ++y)
        for (int x = 0; x < 640; ++x) {
            const bool inMb = x / 16 == col && y / 16 == row;
            const bool lumaCoded = inMb && ((x % 16 < 8) == (y % 16 < 8));  // blocks 0 and 3
            const bool same = std::memcmp(pk.outbuff + (y * 640 + x) * 4, &before[size_t(y * 640 + x) * 4], 4) == 0;
            ASSERT_TRUE(inMb || same) << x << "," << y;
            changed += lumaCoded && !same;
        }
    EXPECT_GT(changed, 100);
}

TEST_F(IntraDecoderTest, RefusedPicturesKeepThePreviousOne)
{
    ASSERT_TRUE(decode(enc.encode(gradient(272), 1)));
    const Bytes kept(dec.yuv(), dec.yuv() + CMJPEGDecoder::kYuvBytes);
    auto refused = [&](Bytes b, const std::string& line) {
        log.clear();
        EXPECT_FALSE(decode(b)) << line;
        EXPECT_NE(log.find(line), std::string::npos) << log;
        EXPECT_TRUE(std::equal(kept.begin(), kept.end(), dec.yuv())) << line;
    };
    Bytes full = enc.encode(Planes(640, 272, 90, 90, 90), 1);
    Bytes quant = full;
    quant[4] |= 15 << 3;
    refused(quant, "SKIP FRAME\r");
    quant[4] &= ~(15 << 3);
    refused(quant, "ERROR quant_scale\r");
    size_t cut = 8;  // the start of the last slice (row 16)
    while (!(full[cut] == 0 && full[cut + 1] == 0 && full[cut + 2] == 1 && full[cut + 3] >> 3 == 16))
        ++cut;
    refused(Bytes(full.begin(), full.begin() + long(cut)), "Invalid Slice Cnt 16\r\n");
    refused(Bytes(full.begin(), full.begin() + 5), "Frame Size Too Small\r");
    // Slice rows count from 0 at the top: row 17 is past a 272-line picture.
    full[11] = uint8_t(17 << 3 | (full[11] & 7));
    refused(full, "ERROR slice_cnt = 17\r\n");
    // A conditional slice whose increment leaves the row.
    Bytes jump = {0, 0, 1, 0xF8, 2 << 3, 0xFF, 0, 0, 0, 0, 1, 0x07, 0xE0, 0};
    for (int r = 1; r < 14; ++r)
        jump.insert(jump.end(), {0, 0, 1, uint8_t(r << 3), 0});
    refused(jump, "macroblock address 62 past the row");

    Bytes trailing = enc.encode(Planes(640, 224, 60, 70, 80), 1);  // the next start code follows
    trailing.insert(trailing.end(), {0, 0, 1, 0xF9, 0, 0, 1, 0x08, 0});
    EXPECT_TRUE(decode(trailing)) << log;
}

TEST_F(IntraDecoderTest, OutputTargetIsUsedForOnePicture)
{
    const Bytes pic = enc.encode(gradient(272), 1);
    ASSERT_TRUE(decode(pic));
    const Bytes own(pk.outbuff, pk.outbuff + pk.outsize);
    std::vector<uint8_t> slot(1920 * 1080 * 4);
    dec.setOutputTarget(slot.data(), slot.size());
    ASSERT_TRUE(decode(pic));
    EXPECT_EQ(pk.outbuff, slot.data());
    EXPECT_TRUE(std::equal(own.begin(), own.end(), slot.begin()));
    ASSERT_TRUE(decode(pic));
    EXPECT_NE(pk.outbuff, slot.data());
    dec.setOutputTarget(slot.data(), 640 * 272 * 4 - 1);
    ASSERT_TRUE(decode(pic));
    EXPECT_NE(pk.outbuff, slot.data());
}

// Under the sanitizers: no input makes the decoder read or write out of bounds.
TEST_F(IntraDecoderTest, MutatedAndRandomInputsStayInBounds)
{
    std::vector<Bytes> bases = {enc.encode(noise(224, 1), 1), enc.encode(noise(272, 2), 0, {5, 44, 300}, 6)};
    std::mt19937 rng(42);
    for (int it = 0; it < 1500; ++it) {
        Bytes b = bases[size_t(it) % bases.size()];
        for (int n = 1 + int(rng() % 6); n > 0; --n)
            b[4 + rng() % (b.size() - 4)] = uint8_t(it % 3 ? rng() : 0);
        if (it % 5 == 0)
            b.resize(1 + rng() % b.size());
        for (size_t i = 8; it % 7 == 0 && i + 3 < b.size(); ++i) {  // random slice data
            if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1)
                i += 3;
            else
                b[i] = uint8_t(1 + rng() % 255);
        }
        decode(b);
    }
}

TEST(IntraDecoderSet, SiteModelOneGetsOneIntraDecoderInSlotZero)
{
    IDecoder set;
    set.setKindOfDecoder(1, 16);
    CoDecoder** slots = set.getDecoderAtIndex(0);
    ASSERT_NE(dynamic_cast<CMJPEGDecoder*>(slots[0]), nullptr);
    for (int i = 1; i < 16; ++i)
        EXPECT_EQ(slots[i], nullptr);
    EXPECT_EQ(set.currentMaxCh(), 16);
    Encoder enc;
    Bytes pic = enc.encode(Planes(640, 224, 128, 128, 128), 1);
    tagNxPacket pk;
    pk.inbuff = pic.data();
    pk.insize = int32_t(pic.size());
    EXPECT_TRUE(slots[0]->Decode(&pk));
}

// Writes the fuzz seeds: run with VESK_INTRA_SEED_DIR set and
// --gtest_also_run_disabled_tests.
TEST(IntraDecoderSeeds, DISABLED_Write)
{
    const char* dir = std::getenv("VESK_INTRA_SEED_DIR");
    ASSERT_NE(dir, nullptr);
    Encoder enc;
    const Bytes seeds[] = {enc.encode(Planes(640, 224, 50, 100, 150), 1), enc.encode(gradient(272), 1),
                           enc.encode(noise(272, 9), 0, {42}, 0b0110)};
    for (size_t i = 0; i < std::size(seeds); ++i)
        std::ofstream(std::string(dir) + "/frame" + std::to_string(i) + ".bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(seeds[i].data()), std::streamsize(seeds[i].size()));
}

}  // namespace
