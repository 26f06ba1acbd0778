#pragma once
#include <cstdint>

// What the audio channel panel asks of the main controller. Called on the
// GUI thread.
class IAudioTarget {
public:
    virtual ~IAudioTarget() = default;
    // Audio channel 1 to 4, 0 for off.
    virtual void RequestAudio(int8_t ch) = 0;
};
