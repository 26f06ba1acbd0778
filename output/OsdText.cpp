#include "output/OsdText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "link/CNetDef.h"
#include "link/NxLib.h"
#include "output/ViewLayout.h"

namespace OsdText {
namespace {

enum Corner { TL, TR, BL, BR };

struct Place {
    Corner corner;
    float dx, dy;
};

// Per item: zoomed position, offsets from a cell vertex in the 2x2, 3x3 and
// 4x4 layouts, and the position when every channel fills the whole view.
struct ItemPlaces {
    float zx, zy;
    Place grid[3];
    float ox, oy;
};

const ItemPlaces kPlaces[kItemCount] = {
    // time
    {-0.99f, 0.92f, {{TL, 0.01f, -0.08f}, {TL, 0.01f, -0.06f}, {TL, 0.01f, -0.05f}}, -0.99f, 0.95f},
    // mode
    {0.8f, 0.92f, {{TR, -0.15f, -0.08f}, {TR, -0.11f, -0.06f}, {TR, -0.11f, -0.05f}}, 0.89f, 0.94f},
    // site name
    {-0.99f, 0.85f, {{TL, 0.01f, -0.135f}, {TL, 0.01f, -0.105f}, {TL, 0.01f, -0.09f}}, -0.99f, 0.89f},
    // channel title
    {-0.99f, 0.79f, {{TL, 0.01f, -0.19f}, {TL, 0.01f, -0.15f}, {TL, 0.01f, -0.13f}}, -0.99f, 0.85f},
    // playback label
    {0.8f, 0.85f, {{TR, -0.15f, -0.135f}, {TR, -0.11f, -0.105f}, {TR, -0.11f, -0.09f}}, 0.89f, 0.89f},
    // alarm
    {-0.99f, -0.94f, {{BL, 0.01f, 0.05f}, {BL, 0.01f, 0.05f}, {BL, 0.01f, 0.04f}}, -0.99f, -0.95f},
    // picture size
    {-0.99f, -1.0f, {{BL, 0.01f, 0.0f}, {BL, 0.01f, 0.0f}, {BL, 0.01f, 0.0f}}, -0.99f, -1.0f},
    // frame rate
    {0.9f, -1.0f, {{BR, -0.06f, 0.0f}, {BR, -0.05f, 0.0f}, {BR, -0.05f, 0.0f}}, 0.95f, -1.0f},
};

const Colour kYellow{1, 1, 0};
const Colour kBlue{0, 0, 1};
const Colour kWhite{1, 1, 1};
const Colour kRed{1, 0, 0};
const Colour kGreen{0, 1, 0};

}  // namespace

Colour itemColour(Item item)
{
    switch (item) {
    case ItemTime: return kYellow;
    case ItemMode: return kBlue;
    case ItemPlayback:
    case ItemAlarm: return kRed;
    case ItemFrameRate: return kGreen;
    default: return kWhite;
    }
}

bool itemPosition(Item item, int maxCh, int zoomCh, int ch, float* x, float* y)
{
    if (item < 0 || item >= kItemCount || ViewLayout::cellOfChannel(maxCh, zoomCh, ch) < 0)
        return false;
    const ItemPlaces& p = kPlaces[item];
    if (zoomCh != 0) {
        *x = p.zx;
        *y = p.zy;
        return true;
    }
    int side = ViewLayout::gridSide(maxCh, zoomCh);
    ViewLayout::CellRect r{};
    if (side == 1 || !ViewLayout::cellRect(side, ch, &r)) {
        *x = p.ox;
        *y = p.oy;
        return true;
    }
    const Place& g = p.grid[side - 2];
    float vx = (g.corner == TL || g.corner == BL) ? r.left : r.right;
    float vy = (g.corner == TL || g.corner == TR) ? r.top : r.bottom;
    *x = vx + g.dx;
    *y = vy + g.dy;
    return true;
}

namespace {

// Start pixel of a text len pixels long at normalised v along an axis of
// extent pixels, kept between the cell's normalised edges lo and hi.
int fitAxis(float v, float lo, float hi, int extent, int len)
{
    auto toPixels = [extent](float n) { return (double(n) + 1.0) / 2.0 * extent; };
    const int first = int(std::ceil(toPixels(lo)));
    const int end = int(std::floor(toPixels(hi)));
    const int start = int(std::floor(toPixels(v)));
    return std::max(first, std::min(start, end - len));
}

}  // namespace

void fitInCell(const ViewLayout::CellRect& cell, int viewW, int viewH, int w, int h, float* x, float* y)
{
    if (viewW <= 0 || viewH <= 0)
        return;
    const int px = fitAxis(*x, cell.left, cell.right, viewW, w);
    const int py = fitAxis(*y, cell.bottom, cell.top, viewH, h);
    *x = float((px + 0.5) / viewW * 2.0 - 1.0);
    *y = float((py + 0.5) / viewH * 2.0 - 1.0);
}

const char* playbackLabel(int32_t speed)
{
    switch (speed) {
    case PLAY_PAUSE: return "[ || ]";
    case PLAY_NORMAL: return "[ > ]";
    case 2: return "[>2]";
    case 4: return "[>4]";
    case 8: return "[>8]";
    case 16: return "[>16]";
    case 32: return "[>32]";
    case 64: return "[>64]";
    case 128: return "[>128]";
    case 300: return "[>300]";
    case 512: return "[>512]";
    case PLAY_MAX: return "[>MAX]";
    case -1: return "[ < ]";
    case -2: return "[<2]";
    case -4: return "[<4]";
    case -8: return "[<8]";
    case -16: return "[<16]";
    case -32: return "[<32]";
    case -64: return "[<64]";
    case -128: return "[<128]";
    case -300: return "[<300]";
    case PLAY_SLOW_2: return "[ |> ]";
    case PLAY_SLOW_4:
    case PLAY_SLOW_8: return "[ || ]";
    case PLAY_STEP: return "[ S ]";
    case PLAY_STEP_FORWARD: return "[ >| ]";
    case PLAY_STEP_BACKWARD: return "[ |< ]";
    default: return "";
    }
}

const char* modeText(int videoType)
{
    switch (videoType) {
    case 0: return "LIVE";
    case 1: return "SEARCH";
    default: return "?";
    }
}

std::string resolutionText(int w, int h)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "[%dx%d]", w, h);
    return buf;
}

std::string frameRateText(int fps)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02dF", fps);
    return buf;
}

std::string takeAlarmText(ChannelEventBits& bits, uint16_t videoLoss, int ch)
{
    std::string text;
    if (ch < 0 || ch >= ViewLayout::kMaxChannels)
        return text;
    const uint16_t bit = uint16_t(1u << ch);
    if (bits.recStatus & bit) {
        bits.recStatus &= uint16_t(~bit);
        text += "REC";
    }
    if (videoLoss & bit)
        text += "  VL";
    if (bits.md & bit) {
        bits.md &= uint16_t(~bit);
        text += "  MD";
    }
    if (bits.ss & bit) {
        bits.ss &= uint16_t(~bit);
        text += "  SS";
    }
    return text;
}

}  // namespace OsdText
