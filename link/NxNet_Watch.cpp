// Recorder link: liveness of the connection and its pictures, and the
// requests whose answers the link is waiting for.
#include <algorithm>

#include "link/NxNet.h"
#include "platform/Log.h"

namespace {

// Gaps between pictures are judged over this much recent time.
constexpr auto kGapWindow = std::chrono::seconds(30);

}  // namespace

void NxNet::onConnected()
{
    Clock::time_point now = Clock::now();
    m_connectedAt = now;
    m_lastByte = now;
    m_lastPicture = now;
    m_gapWindowStart = now;
    m_longestGap = m_previousGap = Clock::duration::zero();
}

// Once per pass of the worker while the socket is open.
void NxNet::watchLiveness()
{
    Clock::time_point now = Clock::now();
    if (now - m_lastByte > silenceLimit) {
        failConnection("no data from the recorder\r\n");
        return;
    }
    if (!m_loggedIn) {
        if (now - m_connectedAt > loginLimit)
            failConnection(m_gotConnectAnswer ? "login not answered\r\n" : "no connect answer\r\n");
        return;
    }
    if (m_streamChanged.exchange(false)) {
        m_lastPicture = now;
        m_gapWindowStart = now;
        m_longestGap = m_previousGap = Clock::duration::zero();
    }
    if (m_stalled || m_dwState.load() != NET_STREAMING || now - m_lastPicture <= stallLimit() || !stallJudged())
        return;
    vlog("pictures stopped\r\n");
    m_stalled = true;
    setNetStatus(NET_WAIT_DATA);
}

// A wanted picture reached the decoding step, or one is held back by the
// playback pacing (held: the stream is not stalled, it waits on purpose).
void NxNet::notePicture(bool held)
{
    Clock::time_point now = Clock::now();
    if (!held) {
        if (now - m_gapWindowStart > kGapWindow) {
            m_previousGap = m_longestGap;
            m_longestGap = Clock::duration::zero();
            m_gapWindowStart = now;
        }
        Clock::duration gap = now - m_lastPicture;
        if (gap < stallLimit())
            m_longestGap = std::max(m_longestGap, gap);
    }
    m_lastPicture = now;
    if (m_stalled) {
        m_stalled = false;
        vlog("pictures again\r\n");
        setNetStatus(NET_STREAMING);
    }
}

NxNet::Clock::duration NxNet::stallLimit() const
{
    Clock::duration gap = std::max(m_longestGap, m_previousGap);
    return std::clamp<Clock::duration>(3 * gap, stallMin, stallMax);
}

// Pictures come seldom on purpose while playback is paused or steps.
bool NxNet::stallJudged() const
{
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    if (!_searchInfo.hdd_search_mode_flag)
        return true;
    switch (_searchInfo.eNowPlaySpeed) {
    case PLAY_PAUSE:
    case PLAY_STEP:
    case PLAY_STEP_FORWARD:
    case PLAY_STEP_BACKWARD:
        return false;
    default:
        return true;
    }
}

// ---------------------------------------------------------------------------
// Outstanding requests

void NxNet::noteAsked(int cmd, int kind)
{
    std::lock_guard<std::mutex> lock(m_askedLock);
    if (m_asked.size() >= kAskedMax)
        m_asked.pop_front();
    m_asked.push_back(Asked{cmd, kind, Clock::now()});
}

bool NxNet::takeAsked(int cmd)
{
    std::lock_guard<std::mutex> lock(m_askedLock);
    Clock::time_point now = Clock::now();
    while (!m_asked.empty() && now - m_asked.front().at > kAskedFor)
        m_asked.pop_front();
    auto answers = [cmd](const Asked& a) {
        switch (cmd) {
        case 14: return a.cmd == 13;
        case 16: return a.cmd == 15;
        case 17: return a.cmd == 15 && a.kind == SEARCH_KIND_RANGE;
        case 18: return a.cmd == 15 && a.kind == SEARCH_KIND_MONTH;
        case 19: return a.cmd == 15 && a.kind == SEARCH_KIND_DAY;
        case 20: return true;  // the recorder refuses either
        default: return false;
        }
    };
    auto it = std::find_if(m_asked.begin(), m_asked.end(), answers);
    if (it == m_asked.end())
        return false;
    m_asked.erase(it);
    return true;
}

// One text per command, so the log counts its repeats under that text.
void NxNet::dropUnasked(int cmd)
{
    ++m_unasked;
    vlog("answer %d without a request dropped\r\n", cmd);
}
