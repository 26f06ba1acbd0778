#pragma once
#include <cstdint>
#include <functional>

#include "output/RingBuffer.h"
#include "output/ViewLayout.h"

// What the view keeps of each channel's last frames.
struct ChannelFrameInfo {
    uint32_t ChTime = 0;      // time of the last frame taken
    uint8_t frameCount = 0;   // frames taken in the current counting period
    uint8_t frameCount2 = 0;  // frames per second of the last period
    int8_t videoType = 0;     // now_type of the last drawn frame
    int32_t videoW = 0;       // shown size of the last drawn frame
    int32_t videoH = 0;
};

// Event bits collected from frames, bit n for channel n; the on-screen
// display clears them as it shows them.
struct ChannelEventBits {
    uint16_t recStatus = 0;
    uint16_t md = 0;
    uint16_t ss = 0;
};

// The view's drawing rule at the time of the drain.
struct DrawRule {
    int maxCh = 1;
    int zoomCh = 0;  // 1-based, 0 for the split view
    uint16_t recOnOff = 0;
    uint16_t covert = 0;
};

// Receives each frame that is to be drawn; the slot is released right after.
class IFrameUploader {
public:
    virtual ~IFrameUploader() = default;
    virtual void uploadFrame(const tag_FrameV_Orgin& frame) = 0;
};

// Consumer side of the video queue: takes every ready slot, keeps the
// per-channel counters and hands the newest drawable frame of each channel
// to the uploader. Runs on
// one thread (the GUI thread in the view); needs no window.
class FrameDrain {
public:
    using Clock = std::function<int64_t()>;  // wall-clock seconds

    explicit FrameDrain(Clock clock = {});

    // Answers the number of slots taken.
    int drain(RingBuffer& queue, const DrawRule& rule, IFrameUploader& uploader);
    // Takes, counts and lets go the pictures that a newer one of the same
    // channel already follows in the queue, so their slots are free again
    // before the next drain. Answers how many.
    int releaseSuperseded(RingBuffer& queue, const DrawRule& rule);

    const ChannelFrameInfo& channel(int ch) const;
    ChannelEventBits& events() { return m_events; }
    const ChannelEventBits& events() const { return m_events; }
    // Slots released unread because their channel or size was out of range.
    uint64_t rejectedFrames() const { return m_rejected; }

    static bool frameSizeValid(const tag_FrameV_Orgin& frame);

private:
    void takeFrame(const tag_FrameV_Orgin& frame, const DrawRule& rule, IFrameUploader& uploader);
    void countFrameRate(int maxCh);

    struct SkipUpload : IFrameUploader {
        void uploadFrame(const tag_FrameV_Orgin&) override {}
    } m_skipUpload;
    Clock m_clock;
    ChannelFrameInfo m_ch[ViewLayout::kMaxChannels];
    ChannelEventBits m_events;
    int64_t CurrentTime = 0;
    int64_t preTime = 0;
    int CheckFrameCount = 0;
    uint64_t m_rejected = 0;
};
