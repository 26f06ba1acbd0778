#include "recorder/MediaFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace testrec {

namespace {

enum class Layout { F3, NdaV, Badj, NdaGrave, NdaP };

Layout layoutOf(int group)
{
    switch (group) {
    case 7:
    case 10: return Layout::NdaV;
    case 8: return Layout::Badj;
    case 9: return Layout::NdaGrave;
    case 11:
    case 12: return Layout::NdaP;
    default: return Layout::F3;
    }
}

uint8_t lowNibbleHigh(int low, int high) { return uint8_t((low & 0x0F) | ((high & 0x0F) << 4)); }

uint8_t eventBits(const MediaHeader& h)
{
    return uint8_t((h.evtMotion ? 0x20 : 0) | (h.evtSensor ? 0x40 : 0) | (h.evtRec ? 0x80 : 0));
}

uint8_t typeCode(const MediaHeader& h) { return uint8_t(h.frameType); }

// Frame size F (bytes after the first 32 and before the tail) and padding.
size_t paddedSize(Layout l, size_t extra, size_t coded)
{
    const size_t f = extra + coded;
    if (l == Layout::F3)
        return (f + 31) / 32 * 32;
    if (l == Layout::Badj)
        return (f + 3) / 4 * 4;
    return f;
}

void packF3(Bytes& b, const MediaHeader& h, size_t f)
{
    setLe32(b, 4, h.time);
    b[8] = lowNibbleHigh(h.channel, typeCode(h));
    b[9] = uint8_t(h.rate);
    setLe16(b, 12, h.sizeField ? uint16_t(*h.sizeField) : uint16_t(f / 32));
    b[16] = uint8_t((h.resolutionCode & 0x0F) | (h.fiftyHz ? 0x10 : 0));
    b[24] = uint8_t((h.nowType & 0x1F) << 3);
    b[25] = uint8_t((h.requestId & 0x0F) << 4);
}

void packNdaV(Bytes& b, const MediaHeader& h, size_t f)
{
    b[4] = uint8_t(h.channel);
    b[5] = uint8_t(typeCode(h) - 1);
    b[7] = uint8_t((h.evtRec ? 1 : 0) | (h.evtMotion ? 2 : 0) | (h.evtSensor ? 4 : 0));
    setLe32(b, 8, h.time - kSeconds2008);
    setLe32(b, 12, h.sizeField ? *h.sizeField : uint32_t(f));
    b[20] = uint8_t((h.resolutionCode & 0x07) | (h.fiftyHz ? 0x08 : 0));
    b[21] = uint8_t(h.rate);
    b[23] = uint8_t(h.seq);
    b[28] = uint8_t(h.nowType);
    b[29] = uint8_t(h.requestId);
}

void packBadj(Bytes& b, const MediaHeader& h, size_t f)
{
    setBe32(b, 4, h.time);
    b[8] = lowNibbleHigh(h.channel, typeCode(h));
    b[9] = uint8_t(h.rate);
    setBe16(b, 12, h.sizeField ? uint16_t(*h.sizeField) : uint16_t(f / 4));
    b[16] = uint8_t((h.resolutionCode & 0x0F) | (h.fiftyHz ? 0x10 : 0) | eventBits(h));
    b[19] = uint8_t(h.seq);
    b[24] = uint8_t((h.nowType & 0x1F) << 3);
    b[25] = uint8_t((h.requestId & 0x0F) << 4);
}

void packNdaGrave(Bytes& b, const MediaHeader& h, size_t f, bool withMisc2)
{
    setLe32(b, 4, h.time);
    b[8] = lowNibbleHigh(h.channel, typeCode(h));
    b[9] = uint8_t(h.rate);
    b[14] = uint8_t(h.seq);
    setLe32(b, 16, h.sizeField ? *h.sizeField : uint32_t(f));
    b[20] = uint8_t((h.resolutionCode & 0x0F) | (h.fiftyHz ? 0x10 : 0) | eventBits(h));
    b[22] = uint8_t((h.nowType & 0x1F) << 3);
    b[23] = uint8_t(((h.requestId & 0x0F) << 4) | (withMisc2 ? (h.misc2 & 0x0F) : 0));
}

void appendTail(Bytes& b, const MediaHeader& h)
{
    TailKind t = h.tail;
    if (t == TailKind::Auto)
        t = (h.group == 1 || h.group == 2 || h.group == 8) ? TailKind::V1 : TailKind::Nend;
    switch (t) {
    case TailKind::V1: appendBytes(b, kTailV1, 4); break;
    case TailKind::Nend: appendBytes(b, kTailV2, 4); break;
    case TailKind::Wrong: b.insert(b.end(), {0x00, 0x00, 0x01, 0xB5}); break;
    default: break;
    }
}

}  // namespace

std::array<uint8_t, 4> startCodeFor(int group)
{
    switch (group) {
    case 1: return {0x00, 0x00, 0x01, 0xF3};
    case 2: return {0x00, 0x00, 0x01, 0xF5};
    case 7: return {'N', 'D', 'A', 'V'};
    case 8: return {'B', 'A', 'D', 'J'};
    case 9: return {0x4E, 0x44, 0x41, 0x60};
    case 10: return {'N', 'D', 'A', 'v'};
    case 11:
    case 12: return {'N', 'D', 'A', 'p'};
    default: return {0x00, 0x00, 0x00, 0x00};
    }
}

size_t codedOffset(int group, FrameType type)
{
    switch (layoutOf(group)) {
    case Layout::F3: return 64;
    case Layout::Badj: return type == FrameType::Audio ? 48 : 52;
    default: return 32;
    }
}

Bytes buildMediaFrame(const MediaHeader& h, const Bytes& coded)
{
    const Layout layout = layoutOf(h.group);
    const size_t extra = codedOffset(h.group, h.frameType) - 32;
    const size_t f = paddedSize(layout, extra, coded.size());

    Bytes b(32 + f, 0);
    const auto code = startCodeFor(h.group);
    std::copy(code.begin(), code.end(), b.begin());
    std::copy(coded.begin(), coded.end(), b.begin() + long(32 + extra));
    switch (layout) {
    case Layout::F3: packF3(b, h, f); break;
    case Layout::NdaV: packNdaV(b, h, f); break;
    case Layout::Badj: packBadj(b, h, f); break;
    case Layout::NdaGrave: packNdaGrave(b, h, f, false); break;
    case Layout::NdaP: packNdaGrave(b, h, f, true); break;
    }
    appendTail(b, h);
    for (const auto& [off, v] : h.pokes)
        setU8(b, off, v);
    return b;
}

namespace {

bool tallLines(int height) { return height == 288 || height == 576; }

ResolutionCode ndapCode(int width, int height)
{
    struct Entry {
        int w, h60, h50;
    };
    static const Entry table[16] = {
        {320, 240, 288}, {720, 240, 240}, {720, 480, 480}, {640, 360, 360}, {1280, 360, 360},
        {1280, 720, 720}, {960, 540, 540}, {1920, 540, 540}, {1920, 1080, 1080}, {480, 240, 288},
        {960, 240, 288}, {960, 480, 576}, {480, 270, 270}, {320, 180, 180}, {320, 240, 240},
        {320, 240, 240},
    };
    for (int c = 0; c < 14; ++c) {
        if (table[c].w != width)
            continue;
        if (table[c].h60 == height)
            return {c, false};
        if (table[c].h50 == height)
            return {c, true};
    }
    return {0, tallLines(height)};
}

}  // namespace

ResolutionCode resolutionCodeFor(int group, int width, int height)
{
    const bool fifty = tallLines(height);
    const bool fullHeight = height >= 480;
    switch (layoutOf(group)) {
    case Layout::F3:
        if (width <= 352)
            return {2, fifty};
        return {fullHeight ? 0 : 1, fifty};
    case Layout::NdaV:
        if (width <= 352)
            return {0, fifty};
        return {fullHeight ? 2 : 1, fifty};
    case Layout::Badj:
    case Layout::NdaGrave:
        if (width <= 352)
            return {1, fifty};
        return {fullHeight ? 0 : 2, fifty};
    case Layout::NdaP: return ndapCode(width, height);
    }
    return {};
}

int rateFieldFor(int group, int fps, bool fiftyHz)
{
    fps = std::clamp(fps, 1, 255);
    switch (layoutOf(group)) {
    case Layout::F3: {
        const int base = fiftyHz ? 50 : 60;
        return fps >= base ? 0 : std::clamp(int(std::lround(double(base) / fps)), 1, 255);
    }
    case Layout::NdaV: {
        if (fps == 30)
            return 0;
        const int base = fiftyHz ? 30 : 25;
        return std::clamp(int(std::lround(double(base) / fps)), 1, 255);
    }
    default: return fps;
    }
}

}  // namespace testrec
