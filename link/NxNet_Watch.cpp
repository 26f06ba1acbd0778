// Recorder link: liveness of the connection and its pictures, and the
// requests whose answers the link is waiting for.
#include <algorithm>

#include "link/NxNet.h"
#include "platform/Log.h"

namespace {

// Gaps between pictures are judged over this much recent time.
constexpr auto kGapWindow = std::chrono::seconds(30);
// A round trip longer than this is not a link's but a stuck recorder's.
constexpr auto kRoundTripMax = std::chrono::seconds(30);

int64_t ticks(std::chrono::steady_clock::time_point t) { return t.time_since_epoch().count(); }

}  // namespace

void NxNet::onConnected()
{
    Clock::time_point now = Clock::now();
    m_connectedAt = now;
    m_lastByte = now;
    m_lastPicture = m_lastShown = now;
    m_gapWindowStart = now;
    m_longestGap = m_previousGap = Clock::duration::zero();
    m_awaitFirst = true;
    m_nothingExpected = false;
    m_shownSeen = m_shownAt.load();
    m_changeTicks = ticks(now);
    for (int c = 0; c < 16; ++c) {
        m_keySeen[c] = m_keyShownAt[c].load();
        m_keysSince[c] = 0;
    }
    m_streamSeen = m_streamSampled = m_streamSeq.load();
    m_echoesSeen = 0;
    m_longestEchoGap = Clock::duration::zero();
    m_echoTokens = kEchoBurst;
    m_echoTokensAt = now;
    m_heldTotal = m_heldAtEcho = Clock::duration::zero();
}

// Once per pass of the worker while the socket is open.
void NxNet::watchLiveness()
{
    Clock::time_point now = Clock::now();
    if (now - m_lastByte > silenceAllowed()) {
        failConnection("no data from the recorder\r\n");
        return;
    }
    if (!m_loggedIn) {
        if (now - m_connectedAt > loginDeadline()) {
            const char* why = m_gotConnectAnswer ? "login not answered" : "no connect answer";
            if (m_loginTry + 1 < kLoginTries)
                tryLoginAgain(why);
            else
                failConnection(m_gotConnectAnswer ? "login not answered\r\n" : "no connect answer\r\n");
        }
        return;
    }
    watchPictures(now);
}

// A slow recorder gets twice as long on each try.
NxNet::Clock::duration NxNet::loginDeadline() const
{
    return loginLimit * (1 << m_loginTry);
}

// Connects again, still reporting progress: only the last try's deadline
// is a failure.
void NxNet::tryLoginAgain(const char* why)
{
    ++m_loginTry;
    vlogFailure("%s, trying again with %lld ms", why,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(loginDeadline()).count()));
    CloseSocket();
    // The new connection starts the exchange afresh; what was not sent yet
    // belonged to the old one.
    resetParser();
    _eNowCmd = -1;
    _eNetProgress = 0;
    _sendReadQ.store(_sendWriteQ.load());
    m_gotConnectAnswer = false;
    m_loginPending = false;
    ConnectDVR();
}

// Silence is judged against the recorder's own echo rhythm.
NxNet::Clock::duration NxNet::silenceAllowed() const
{
    if (m_echoesSeen < 2)
        return std::max<Clock::duration>(silenceFirst, silenceLimit);
    return std::max<Clock::duration>(silenceLimit, 3 * m_longestEchoGap);
}

// An echo arrived. The gap to the one before counts without the time the
// worker held frames and so read nothing.
void NxNet::noteEcho()
{
    Clock::time_point now = Clock::now();
    if (m_echoesSeen > 0) {
        Clock::duration gap = (now - m_lastEchoAt) - (m_heldTotal - m_heldAtEcho);
        m_longestEchoGap = std::max(m_longestEchoGap, gap);
    }
    m_lastEchoAt = now;
    m_heldAtEcho = m_heldTotal;
    ++m_echoesSeen;
}

// A recorder may send echoes back to back; replies come in bursts of at
// most kEchoBurst and then kEchoBurst a second.
bool NxNet::echoReplyAllowed()
{
    Clock::time_point now = Clock::now();
    double refill = std::chrono::duration<double>(now - m_echoTokensAt).count() * kEchoBurst;
    m_echoTokens = std::min<double>(kEchoBurst, m_echoTokens + refill);
    m_echoTokensAt = now;
    if (m_echoTokens < 1.0)
        return false;
    m_echoTokens -= 1.0;
    return true;
}

void NxNet::watchPictures(Clock::time_point now)
{
    int seq = m_streamSeq.load();
    if (seq != m_streamSeen) {
        m_streamSeen = seq;
        m_changeTicks = std::min(m_streamAt.load(), ticks(now));
        m_lastPicture = now;
        m_gapWindowStart = now;
        m_longestGap = m_previousGap = Clock::duration::zero();
        m_awaitFirst = true;
        for (int& k : m_keysSince)
            k = 0;
    }
    int64_t shown = m_shownAt.load();
    if (shown != m_shownSeen) {
        m_shownSeen = shown;
        onPictureShown(Clock::time_point(Clock::duration(shown)));
    }
    // Pictures of what was streamed before the change may still come out
    // of the decoders: the first picture of the new stream is awaited.
    if (m_awaitFirst && m_freshAt.load() >= m_changeTicks)
        m_awaitFirst = false;
    // While only key frames come, a channel's interval between two of its
    // own key frames is what the recorder's key-frame interval is. Pictures
    // still on their way from before the request, and a recorder that
    // starts the new stream with a key frame at once, make the first
    // interval after a request short: it is not counted.
    for (int c = 0; c < 16; ++c) {
        int64_t key = m_keyShownAt[c].load();
        if (key == m_keySeen[c])
            continue;
        m_keySeen[c] = key;
        if (m_keysSince[c] >= 2 && keyFramesOnly())
            m_longestGap = std::max(m_longestGap, Clock::duration(key - m_keyPrev[c]));
        m_keyPrev[c] = key;
        m_keysSince[c] = std::min(m_keysSince[c] + 1, 2);
    }
    if (expectedChannels() == 0) {
        // Nothing can come: the cells show what they stand for.
        m_nothingExpected = true;
        m_lastPicture = now;
        if (m_stalled || m_dwState.load() == NET_WAIT_DATA) {
            m_stalled = false;
            bIsFirstVideoData = true;
            setNetStatus(NET_STREAMING);
        }
        return;
    }
    if (m_nothingExpected) {
        m_nothingExpected = false;
        m_lastPicture = now;
        m_awaitFirst = true;
    }
    if (m_stalled || m_dwState.load() != NET_STREAMING || !stallJudged())
        return;
    if (now - m_lastPicture <= (m_awaitFirst ? firstPictureLimit() : stallLimit()))
        return;
    vlog("pictures stopped\r\n");
    m_stalled = true;
    setNetStatus(NET_WAIT_DATA);
}

void NxNet::onPictureShown(Clock::time_point at)
{
    if (!m_awaitFirst) {
        if (at - m_gapWindowStart > kGapWindow) {
            m_previousGap = m_longestGap;
            m_longestGap = Clock::duration::zero();
            m_gapWindowStart = at;
        }
        Clock::duration gap = at - m_lastShown;
        if (!keyFramesOnly() && gap < stallLimit())
            m_longestGap = std::max(m_longestGap, gap);
    }
    m_lastShown = at;
    m_lastPicture = std::max(m_lastPicture, at);
    if (!bIsFirstVideoData) {
        bIsFirstVideoData = true;
        setNetStatus(NET_STREAMING);
    } else if (m_stalled) {
        m_stalled = false;
        vlog("pictures again\r\n");
        setNetStatus(NET_STREAMING);
    }
}

void NxNet::noteHeld()
{
    m_lastPicture = Clock::now();
}

void NxNet::noteShown(int ch, bool key, int stream)
{
    int64_t now = ticks(Clock::now());
    m_shownAt.store(now);
    if (stream == m_streamSeq.load())
        m_freshAt.store(now);
    if (key)
        m_keyShownAt[ch & 15].store(now);
}

NxNet::Clock::duration NxNet::stallLimit() const
{
    Clock::duration gap = std::max(m_longestGap, m_previousGap);
    if (!keyFramesOnly())
        return std::clamp<Clock::duration>(3 * gap, stallMin, std::max<Clock::duration>(stallMax, stallMin));
    // Until two key frames have shown their interval, a whole one is allowed.
    Clock::duration top = std::max<Clock::duration>(keyOnlyStallMax, stallMin);
    return gap == Clock::duration::zero() ? top : std::clamp<Clock::duration>(3 * gap, stallMin, top);
}

// The first picture of a new request may wait for a whole key-frame
// interval, and it comes a round trip later.
NxNet::Clock::duration NxNet::firstPictureLimit() const
{
    return stallLimit() + roundTrip();
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

// Key frames only: asked for in live view, or what a recorder sends at fast
// and reverse playback speeds.
bool NxNet::keyFramesOnly() const
{
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    if (!_searchInfo.hdd_search_mode_flag)
        return m_keyOnlyLive;
    int s = _searchInfo.eNowPlaySpeed;
    return s < 0 || (s >= 2 && s <= 1024);
}

uint16_t NxNet::expectedChannels() const
{
    int maxCh = getMaxCh();
    uint32_t there = maxCh >= 16 ? 0xFFFFu : ((1u << std::max(maxCh, 0)) - 1);
    uint32_t wanted;
    {
        std::lock_guard<std::recursive_mutex> lock(m_reqLock);
        int ch = currentDisplayCh;
        wanted = ch >= 1 && ch <= 16 ? (1u << (ch - 1)) : 0xFFFFu;
    }
    uint32_t quiet = m_covertMask.load() | m_videoLoss.load();
    return uint16_t(wanted & there & ~quiet);
}

void NxNet::streamChanged()
{
    m_streamAt.store(ticks(Clock::now()));
    m_streamSeq.fetch_add(1);
}

// The first frame of a request's stream: its delay is one round trip (with
// the recorder's wait for a key frame).
void NxNet::noteFirstFrameOfRequest()
{
    int seq = m_streamSeq.load();
    if (seq == m_streamSampled)
        return;
    m_streamSampled = seq;
    noteRoundTrip(Clock::now() - Clock::time_point(Clock::duration(m_streamAt.load())));
}

void NxNet::noteRoundTrip(Clock::duration d)
{
    d = std::clamp<Clock::duration>(d, Clock::duration::zero(), kRoundTripMax);
    m_roundTrips[m_roundTripNext].store(d.count());
    m_roundTripNext = (m_roundTripNext + 1) % kRoundTrips;
}

std::chrono::milliseconds NxNet::roundTrip() const
{
    int64_t longest = 0;
    for (const auto& r : m_roundTrips)
        longest = std::max(longest, r.load());
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::duration(longest));
}

// ---------------------------------------------------------------------------
// Outstanding requests

// The newest kAskedMax requests are kept; older ones are given up but keep
// their place, so their late answers do not take a newer request's.
void NxNet::noteAsked(int cmd, int kind)
{
    std::lock_guard<std::mutex> lock(m_askedLock);
    if (m_askedLive >= kAskedMax) {
        for (Asked& a : m_asked) {
            if (!a.given_up) {
                a.given_up = true;
                --m_askedLive;
                break;
            }
        }
    }
    if (m_asked.size() >= kAskedMax + kGivenUpMax) {
        if (!m_asked.front().given_up)
            --m_askedLive;
        m_asked.pop_front();
    }
    m_asked.push_back(Asked{cmd, kind, Clock::now()});
    ++m_askedLive;
}

bool NxNet::takeAsked(int cmd)
{
    std::lock_guard<std::mutex> lock(m_askedLock);
    Clock::time_point now = Clock::now();
    while (!m_asked.empty() && now - m_asked.front().at > kAskedFor) {
        if (!m_asked.front().given_up)
            --m_askedLive;
        m_asked.pop_front();
    }
    auto answers = [cmd](const Asked& a) {
        switch (cmd) {
        case 14: return a.cmd == 13;
        case 16: return a.cmd == 15;
        case 17: return a.cmd == 15 && a.kind == SEARCH_KIND_RANGE;
        case 18: return a.cmd == 15 && a.kind == SEARCH_KIND_MONTH;
        case 19: return a.cmd == 15 && a.kind == SEARCH_KIND_DAY;
        case 20: return a.cmd == 13;  // a refused playback start
        default: return false;
        }
    };
    auto it = std::find_if(m_asked.begin(), m_asked.end(), answers);
    if (it == m_asked.end())
        return false;
    bool live = !it->given_up;
    if (live)
        --m_askedLive;
    m_asked.erase(it);
    return live;
}

// One text per command, so the log counts its repeats under that text.
void NxNet::dropUnasked(int cmd)
{
    ++m_unasked;
    vlog("answer %d without a request dropped\r\n", cmd);
}
