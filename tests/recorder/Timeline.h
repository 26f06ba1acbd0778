#pragma once
// Timeline pictures: every picture is one solid colour that tells its
// stream position. Colours come from a 5x5x5 grid of RGB levels 48 apart,
// so compression, conversion to BGRA and drawing never turn one into
// another. Picture k of stream second t gets colour index
// (t mod cycle) * fps + k; the cycle is floor(125 / fps) seconds (12 s at
// 10 fps, 4 s at 30 fps), at least 64 distinct pictures in a row.

#include <cstdint>
#include <optional>

#include "recorder/Palette.h"

namespace testrec {

struct TimelinePos {
    uint32_t second = 0;  // stream second modulo the cycle
    int picture = 0;      // 0 is the second's key frame
    bool operator==(const TimelinePos& o) const { return second == o.second && picture == o.picture; }
};

// fps is taken as 1 to 60.
int timelineCycleSeconds(int fps);
Rgb timelineColour(uint32_t second, int picture, int fps);
// The position of the nearest timeline colour, or nullopt when no colour of
// the timeline is within kTimelineTolerance in every component.
std::optional<TimelinePos> timelinePosition(Rgb seen, int fps);

inline constexpr int kTimelineTolerance = 20;

}  // namespace testrec
