#include "output/FrameDrain.h"

#include <algorithm>
#include <ctime>

namespace {

int64_t wallSeconds()
{
    return int64_t(std::time(nullptr));
}

uint16_t bitIf(uint8_t flag, int ch)
{
    return flag ? uint16_t(1u << ch) : 0;
}

}  // namespace

FrameDrain::FrameDrain(Clock clock) : m_clock(clock ? std::move(clock) : Clock(wallSeconds)) {}

bool FrameDrain::frameSizeValid(const tag_FrameV_Orgin& f)
{
    if (f.w <= 0 || f.h <= 0)
        return false;
    return int64_t(f.w) * f.h * 4 <= int64_t(sizeof f.outbuff);
}

int FrameDrain::drain(RingBuffer& queue, const DrawRule& rule, IFrameUploader& uploader)
{
    // Bounded so that a fast producer cannot hold the thread here.
    int taken = 0;
    while (taken < RingBuffer::capacity()) {
        tag_FrameV_Orgin* slot = queue.tryGetReadBuffer();
        if (!slot)
            break;
        // Only the newest picture of a channel is drawn; older ones are
        // counted and let go.
        takeFrame(*slot, rule, queue.hasReadyOfChannel(slot->ch) ? m_skipUpload : uploader);
        queue.putReadBuffer();
        ++taken;
    }
    return taken;
}

int FrameDrain::releaseSuperseded(RingBuffer& queue, const DrawRule& rule)
{
    return queue.releaseSuperseded([&](const tag_FrameV_Orgin& f) { takeFrame(f, rule, m_skipUpload); });
}

void FrameDrain::takeFrame(const tag_FrameV_Orgin& f, const DrawRule& rule, IFrameUploader& uploader)
{
    int ch = f.ch;
    if (ch < 0 || ch >= ViewLayout::kMaxChannels) {
        ++m_rejected;
        return;
    }
    ChannelFrameInfo& info = m_ch[ch];
    ++info.frameCount;
    info.ChTime = f.time;
    m_events.md |= bitIf(f.evt_md, ch);
    m_events.ss |= bitIf(f.evt_ss, ch);
    m_events.recStatus |= bitIf(f.evt_rec, ch);

    if (!ViewLayout::isChannelDrawn(rule.maxCh, rule.zoomCh, rule.recOnOff, rule.covert, ch))
        return;
    if (!frameSizeValid(f)) {
        ++m_rejected;
        return;
    }
    info.videoType = int8_t(f.now_type);
    info.videoW = int32_t(ViewLayout::displayWidth(f.w));
    info.videoH = int32_t(ViewLayout::displayHeight(f.h));
    uploader.uploadFrame(f);
    countFrameRate(rule.maxCh);
}

void FrameDrain::countFrameRate(int maxCh)
{
    CurrentTime = m_clock();
    if (CurrentTime == preTime)
        return;
    if (++CheckFrameCount >= 4) {
        int n = std::clamp(maxCh, 0, ViewLayout::kMaxChannels);
        for (int i = 0; i < n; ++i) {
            m_ch[i].frameCount2 = uint8_t(m_ch[i].frameCount >> 2);
            m_ch[i].frameCount = 0;
        }
        CheckFrameCount = 0;
    }
    preTime = CurrentTime;
}

const ChannelFrameInfo& FrameDrain::channel(int ch) const
{
    static const ChannelFrameInfo kNone;
    return ch >= 0 && ch < ViewLayout::kMaxChannels ? m_ch[ch] : kNone;
}
