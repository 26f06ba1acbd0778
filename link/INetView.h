#pragma once
#include <cstdint>
#include <string>

// What a link tells the video view. Called on the link's worker thread;
// implementations copy what they need and must not block on the GUI thread.
class INetView {
public:
    virtual ~INetView() = default;
    // info: the status text, or for a failed login the reason byte(s).
    virtual void setNetStatus(int status, const std::string& info) = 0;
    virtual void setMaxCH(int maxCh) = 0;
    // Sixteen titles of 32 bytes, UTF-16LE.
    virtual void SetChTitle(const char (&titles)[16][32]) = 0;
    virtual void SetCovert(uint16_t mask) = 0;
    virtual void SetRecOnOff(uint16_t mask) = 0;
    virtual void SetVideoLoss(uint16_t mask) = 0;
    // Pointer values of the second device kind: network version, x and y
    // offsets, video lines (568 or 460).
    virtual void setNetMouseInfo(uint32_t version, int8_t offsetX, int8_t offsetY, uint16_t videoStd) {}
};
