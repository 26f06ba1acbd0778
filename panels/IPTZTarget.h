#pragma once
#include <cstdint>

// What the PTZ panel asks of the main controller. Called on the GUI thread.
class IPTZTarget {
public:
    virtual ~IPTZTarget() = default;
    // Pan, tilt, zoom, focus and camera-menu command for a 0-based channel.
    virtual void RequestPanTilt(int8_t ch, int32_t cmd, int8_t speed) = 0;
    // Move to (18) or store (17) a 1-based preset of a 0-based channel.
    virtual void RequestPreset(int8_t ch, int32_t cmd, int8_t preset) = 0;
};
