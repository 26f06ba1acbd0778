#pragma once
#include <cstdint>

// What the on-screen display panel asks of the main controller. Called on
// the GUI thread.
class IDisplayTarget {
public:
    virtual ~IDisplayTarget() = default;
    // On-screen display groups (1 to 3 toggle, 4 all on, 5 all off).
    virtual void SetDrawOsd(int8_t code) = 0;
    // Key frames only (1) or every frame (0).
    virtual void SetIFrameOnly(int8_t flag) = 0;
};
