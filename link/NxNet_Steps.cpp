// Recorder link: playback speeds, frame steps and the position of the
// picture on screen.
//
// A recorder has no frame-step command. A step forward while the recorder
// plays forward lets one more frame of each channel through the pacing; any
// other step, and a step back, seeks the recorder to the second the wanted
// picture lies in and plays forward from there at normal speed: the frames
// before that picture are decoded but not shown, the picture is shown, and
// the pacing holds the frames after it until the next press.
#include <algorithm>
#include <cstring>

#include "link/NxNet.h"
#include "platform/Log.h"

namespace {

// Frames a channel may be granted ahead by presses not yet shown.
constexpr uint32_t kStepGrantMax = 4;
// A recorder that does not start the stream at the second sought is
// followed from its next key frame after this long.
constexpr auto kSeekStartWait = std::chrono::seconds(3);

int comparePos(uint32_t t1, int o1, uint32_t t2, int o2)
{
    if (t1 != t2)
        return t1 < t2 ? -1 : 1;
    return o1 < o2 ? -1 : (o1 > o2 ? 1 : 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// Worker: positions of the frames delivered

// Counts the channel's frames of each stream second. In reverse every frame
// is taken as its second's first (a recorder sends key frames there).
void NxNet::countFrame(int c, uint32_t time)
{
    Pos& p = m_framePos[c];
    if (m_flow == Flow::Reverse) {
        p = Pos{time, 0};
        return;
    }
    if (p.ord >= 0 && p.time == time) {
        ++p.ord;
        return;
    }
    if (p.ord >= 0 && m_everyFrame) {
        // The second before is complete: keep its count.
        SecondCount* slot = &m_seconds[c][0];
        for (SecondCount& sc : m_seconds[c]) {
            if (sc.time == p.time) {
                slot = &sc;
                break;
            }
            if (sc.time < slot->time)
                slot = &sc;
        }
        *slot = SecondCount{p.time, p.ord + 1};
    }
    p = Pos{time, 0};
}

int NxNet::framesInSecond(int c, uint32_t time) const
{
    for (const SecondCount& sc : m_seconds[c])
        if (sc.time == time && sc.frames > 0)
            return sc.frames;
    return 0;
}

// Whether a frame is the channel's step picture (or comes after it), comes
// before it (decoded so that the picture can be, not shown), or is dropped
// because the stream is sought again.
NxNet::StepFrame NxNet::stepFrame(int c)
{
    StepTarget& t = m_stepTarget[c];
    if (!t.active)
        return StepFrame::Show;
    const Pos& p = m_framePos[c];
    if (t.countFirst) {
        if (p.time <= t.at.time)
            return StepFrame::Hide;
        // The second is counted: now its last frame can be sought.
        seekAgainCounted();
        return StepFrame::Drop;
    }
    int cmp = comparePos(p.time, p.ord, t.at.time, t.at.ord);
    bool hidden = t.inclusive ? cmp < 0 : cmp <= 0;
    if (!hidden)
        t.active = false;
    return hidden ? StepFrame::Hide : StepFrame::Show;
}

// Worker: seeks to the seconds whose frames were being counted, now with
// their last frame as the target (their first where none was counted).
void NxNet::seekAgainCounted()
{
    uint32_t second = UINT32_MAX;
    for (int c = 0; c < 16; ++c) {
        StepTarget& t = m_stepTarget[c];
        if (!t.active || !t.countFirst)
            continue;
        int n = framesInSecond(c, t.at.time);
        t.countFirst = false;
        t.at.ord = n > 0 ? n - 1 : 0;
        second = std::min(second, t.at.time);
    }
    if (second != UINT32_MAX)
        seekTo(second);
}

// Worker, after the pacing let the frame go: it is the channel's picture.
void NxNet::noteReleased(int c)
{
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    if (m_flow != Flow::Paused)
        m_shownPos[c] = m_framePos[c];
}

// Worker, "NDAV" streams only: they carry no request id, so after a seek the
// frames still on their way from before it are told apart by their place.
// The new stream starts with a key frame at or before the second sought;
// frames the old stream sends on are later (after a forward flow) or
// earlier (after a reverse one, where any key frame may start it: those
// before the step's picture are only decoded).
bool NxNet::awaitingSeekStart(int c)
{
    SeekStart& w = m_seekStart[c];
    if (!w.active)
        return false;
    if (_pk.frame_type != 1)
        return true;
    if (!w.anyKey && _pk.time > w.second && Clock::now() < w.until)
        return true;
    w.active = false;
    return false;
}

// ---------------------------------------------------------------------------
// GUI thread: requests

void NxNet::clearStepTargets()
{
    for (StepTarget& t : m_stepTarget)
        t = StepTarget{};
    for (SeekStart& w : m_seekStart)
        w.active = false;
}

void NxNet::forgetPositions()
{
    clearStepTargets();
    for (int c = 0; c < 16; ++c) {
        m_shownPos[c] = Pos{};
        for (SecondCount& sc : m_seconds[c])
            sc = SecondCount{};
    }
    for (auto& n : _searchInfo.dwStepCount)
        n = 0;
}

// Marks where each channel's new stream starts after a seek to second.
void NxNet::expectSeekStart(uint32_t second)
{
    Clock::time_point until = Clock::now() + kSeekStartWait + roundTrip();
    bool anyKey = m_flow == Flow::Reverse;
    for (SeekStart& w : m_seekStart)
        w = SeekStart{true, anyKey, second, until};
}

void NxNet::seekForStep(bool back)
{
    NetSearchInfo& si = _searchInfo;
    uint32_t second = UINT32_MAX;
    for (int c = 0; c < 16; ++c) {
        const Pos s = m_shownPos[c];
        StepTarget& t = m_stepTarget[c];
        t = StepTarget{};
        if (s.ord < 0)
            continue;
        t.active = true;
        if (!back) {
            t.at = s;
        } else if (s.ord > 0) {
            t.inclusive = true;
            t.at = Pos{s.time, s.ord - 1};
        } else {
            // The last frame of the second before; its frames are counted
            // first when they were not seen.
            int n = framesInSecond(c, s.time - 1);
            t.inclusive = true;
            t.countFirst = n == 0;
            t.at = Pos{s.time - 1, n > 0 ? n - 1 : 0};
        }
        second = std::min(second, t.at.time);
    }
    if (second == UINT32_MAX)
        second = si.current_frame_time;
    seekTo(second);
    vlog("step %s from %u", back ? "back" : "forward", second);
}

// The recorder plays forward at normal speed from the second; the step
// targets say which of its frames are shown.
void NxNet::seekTo(uint32_t second)
{
    expectSeekStart(second);
    m_flow = Flow::Forward;
    m_everyFrame = true;
    IncreaseDataReq(true);
    discontinuityNet();
    _searchInfo.hdd_search_set_play_time = second;
    SendCmdToServer(29, 0, 0);
    sendSpeed(27, 1, 0);
}

// After a resume seek: the frames up to each channel's picture on screen
// are decoded, not shown again.
void NxNet::continueAfterShown()
{
    for (int c = 0; c < 16; ++c) {
        const Pos s = m_shownPos[c];
        m_stepTarget[c] = s.ord < 0 ? StepTarget{} : StepTarget{true, false, false, s};
    }
    expectSeekStart(_searchInfo.hdd_search_set_play_time);
}

void NxNet::resumeBlock()
{
    IncreaseDataReq(true);
    discontinuityNet();
    _searchInfo.hdd_search_set_play_time = _searchInfo.current_frame_time;
    continueAfterShown();
    SendCmdToServer(29, 0, 0);
}

bool NxNet::PlaySpeed(int32_t s)
{
    if (!connected())
        return false;
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    NetSearchInfo& si = _searchInfo;
    if (!si.hdd_search_mode_flag) {
        si.eNowPlaySpeed = 1000;
        return true;
    }
    bool step = s == PLAY_STEP_FORWARD || s == PLAY_STEP_BACKWARD;
    if (s == si.eNowPlaySpeed && !step)
        return true;
    int p = si.eNowPlaySpeed;
    streamChanged();
    si.ePrevPrevPlaySpeed = si.ePrevPlaySpeed;
    si.ePrevPlaySpeed = p;
    si.eNowPlaySpeed = s;
    if (step) {
        // Each press lets one more frame of every channel through; a seek
        // starts the count again.
        bool seek = s == PLAY_STEP_BACKWARD || m_flow != Flow::Forward;
        for (auto& n : si.dwStepCount)
            n = seek ? 1 : std::min(n + 1, kStepGrantMax);
        if (seek)
            seekForStep(s == PLAY_STEP_BACKWARD);
        return true;
    }
    bool resume = p < 0 || p == 0 || p == 3000 || p == 3002;
    if (s >= 1 && s <= 2003) {
        if (resume)
            resumeBlock();
        m_flow = Flow::Forward;
        // Faster than normal a recorder may send key frames only.
        m_everyFrame = s == 1 || s >= 2001;
        if (s == 1024)
            sendSpeed(28, 1024, 0);
        else if (s == 2001)
            sendSpeed(27, 0, 50);
        else if (s == 2002)
            sendSpeed(27, 0, 25);
        else if (s == 2003)
            sendSpeed(27, 0, 18);
        else
            sendSpeed(27, s, 0);
        si.eNowPlaySpeedForStep = s;
    } else if (s == 0) {
        clearStepTargets();
        m_flow = Flow::Paused;
        si.hdd_search_set_play_time = si.current_frame_time;
        allDataReq(false, true);
        discontinuityNet();
        SendCmdToServer(25, 0, 0);
    } else if (s < 0) {
        clearStepTargets();
        if (p >= 0) {
            SendCmdToServer(23, 0, 0);
            IncreaseDataReq(true);
            discontinuityNet();
            si.hdd_search_set_play_time = si.current_frame_time;
            SendCmdToServer(29, 0, 0);
        }
        m_flow = Flow::Reverse;
        m_everyFrame = false;
        sendSpeed(26, s, 0);
        si.eNowPlaySpeedForStep = s;
    }
    return true;
}
