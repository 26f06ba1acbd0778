#include "recorder/Timeline.h"

#include <algorithm>
#include <cstdlib>

namespace testrec {

namespace {

constexpr int kLevels = 5;
constexpr int kFirstLevel = 32;
constexpr int kLevelStep = 48;  // 32, 80, 128, 176, 224
constexpr int kColours = kLevels * kLevels * kLevels;

int clampFps(int fps) { return std::clamp(fps, 1, 60); }

uint8_t level(int i) { return uint8_t(kFirstLevel + kLevelStep * i); }

// The nearest level's index and whether the value is within tolerance of it.
int nearestLevel(uint8_t v, bool& near)
{
    const int i = std::clamp((int(v) - kFirstLevel + kLevelStep / 2) / kLevelStep, 0, kLevels - 1);
    near = near && std::abs(int(v) - int(level(i))) <= kTimelineTolerance;
    return i;
}

}  // namespace

int timelineCycleSeconds(int fps) { return kColours / clampFps(fps); }

Rgb timelineColour(uint32_t second, int picture, int fps)
{
    fps = clampFps(fps);
    const int k = ((picture % fps) + fps) % fps;
    const int index = int(second % uint32_t(timelineCycleSeconds(fps))) * fps + k;
    return {level(index % kLevels), level(index / kLevels % kLevels), level(index / (kLevels * kLevels))};
}

std::optional<TimelinePos> timelinePosition(Rgb seen, int fps)
{
    fps = clampFps(fps);
    bool near = true;
    const int index = nearestLevel(seen.r, near) + kLevels * nearestLevel(seen.g, near) +
                      kLevels * kLevels * nearestLevel(seen.b, near);
    if (!near || index >= timelineCycleSeconds(fps) * fps)
        return std::nullopt;
    return TimelinePos{uint32_t(index / fps), index % fps};
}

}  // namespace testrec
