#pragma once
#include <cstdint>

// What a link tells the audio output.
class IAudioSink {
public:
    virtual ~IAudioSink() = default;
    virtual void SetModelNumNGroup(int modelNum, uint32_t group) = 0;
};
