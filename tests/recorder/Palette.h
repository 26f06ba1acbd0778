#pragma once
// One solid colour per channel: the pictures the recorder streams.

#include <array>
#include <cstdint>

namespace testrec {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

struct Yuv {
    uint8_t y = 16, u = 128, v = 128;
};

// Colour of 0-based channel ch (taken modulo 16).
Rgb channelColour(int ch);
const std::array<Rgb, 16>& channelColours();

// Limited-range BT.601 conversion used when the pictures are encoded.
Yuv toYuv(Rgb c);

}  // namespace testrec
