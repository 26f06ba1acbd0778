#include "recorder/Palette.h"

#include <algorithm>
#include <cmath>

namespace testrec {

// Well inside the YUV gamut, so the decoded picture comes back within a few
// levels of these values.
static const std::array<Rgb, 16> kColours = {{
    {200, 40, 40},    // 0 red
    {40, 200, 40},    // 1 green
    {40, 40, 200},    // 2 blue
    {200, 200, 40},   // 3 yellow
    {200, 40, 200},   // 4 magenta
    {40, 200, 200},   // 5 cyan
    {220, 220, 220},  // 6 light grey
    {60, 60, 60},     // 7 dark grey
    {220, 120, 30},   // 8 orange
    {110, 40, 160},   // 9 purple
    {30, 120, 110},   // 10 teal
    {120, 120, 30},   // 11 olive
    {230, 130, 170},  // 12 pink
    {30, 40, 110},    // 13 navy
    {150, 220, 60},   // 14 lime
    {120, 70, 40},    // 15 brown
}};

Rgb channelColour(int ch) { return kColours[size_t(((ch % 16) + 16) % 16)]; }

const std::array<Rgb, 16>& channelColours() { return kColours; }

static uint8_t clampByte(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

Yuv toYuv(Rgb c)
{
    const double r = c.r, g = c.g, b = c.b;
    Yuv out;
    out.y = clampByte(16.0 + 0.256788 * r + 0.504129 * g + 0.097906 * b);
    out.u = clampByte(128.0 - 0.148223 * r - 0.290993 * g + 0.439216 * b);
    out.v = clampByte(128.0 + 0.439216 * r - 0.367788 * g - 0.071427 * b);
    return out;
}

}  // namespace testrec
