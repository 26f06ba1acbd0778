// Playback: the steps the client sends, and timeline playback, which sends
// each channel the picture at its stream position.

#include <cmath>
#include <cstdlib>

#include "recorder/TestRecorderSession.h"

namespace testrec {

namespace {

// Faster than speed 1 and in reverse only key frames are sent.
bool keyFramesOnly(double speed) { return speed > 1.0 || speed < 0.0; }

// Wall time between two timeline steps: one picture at speed 1 or slower,
// one stream second (at most fps of them a second) otherwise.
Clock::duration stepPeriod(double speed, int fps)
{
    const double perSecond = keyFramesOnly(speed) ? std::min(std::abs(speed), double(fps)) : speed * fps;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / std::max(perSecond, 0.01)));
}

// The position played after the cursor; none before the start of time.
std::optional<PlayCursor> nextPosition(PlayCursor c, double speed, int fps)
{
    if (c.atKey)
        return PlayCursor{c.second, 0, false};
    if (!keyFramesOnly(speed)) {
        if (c.picture + 1 < fps)
            return PlayCursor{c.second, c.picture + 1, false};
        return PlayCursor{c.second + 1, 0, false};
    }
    if (speed > 0)
        return PlayCursor{c.second + 1, 0, false};
    if (c.picture > 0)
        return PlayCursor{c.second, 0, false};
    if (c.second == 0)
        return std::nullopt;
    return PlayCursor{c.second - 1, 0, false};
}

}  // namespace

static double forwardSpeed(const Bytes& p)
{
    const int speed = readLe16(p, 0);
    const int slow = p.size() > 2 ? p[2] : 0;
    if (speed > 0)
        return speed;
    return slow > 0 ? slow / 100.0 : 1.0;
}

static double reverseSpeed(const Bytes& p)
{
    const int speed = std::abs(int(int16_t(readLe16(p, 0))));
    return -double(std::max(speed, 1));
}

void TestRecorder::handlePlayback(Session& s, const ReceivedCommand& c)
{
    const RecorderConfig cfg = config();
    // A busy recorder refuses the search and ignores the playback steps
    // that follow it; leaving playback still works.
    if (cfg.searchBusy && c.id != 30) {
        if (c.id == 13)
            sendAnswer(20, reasonPayload(cfg.searchBusyReason));
        return;
    }
    if (c.id == 13 && cfg.answerEnterSearch)
        sendAnswer(14, rangeAnswer(cfg.recordStart, cfg.recordEnd));
    const PlayState before = status().play;
    bool restart = true;
    withStatus([&](RecorderStatus& st) {
        switch (c.id) {
        case 13: st.play = PlayState::SearchWait; break;
        case 22: st.play = PlayState::Playing; st.playSpeed = 1.0; break;
        case 23: st.play = PlayState::Playing; st.playSpeed = -1.0; break;
        case 25: st.play = PlayState::Paused; restart = false; break;
        case 26: st.play = PlayState::Playing; st.playSpeed = reverseSpeed(c.payload); break;
        case 27:
        case 28:
            st.play = PlayState::Playing;
            st.playSpeed = forwardSpeed(c.payload);
            restart = before != PlayState::Playing;
            break;
        case 29: s.playPos = readLe32(c.payload, 0); break;
        case 30: st.play = PlayState::Live; st.playSpeed = 1.0; break;
        }
        st.playTime = uint32_t(s.playPos);
    });
    if (cfg.content == ClipContent::Timeline && c.id != 30) {
        timelineControl(s, c, before);
        return;
    }
    if (restart)
        restartStreams(s);
}


void TestRecorder::timelineControl(Session& s, const ReceivedCommand& c, PlayState before)
{
    const auto now = Clock::now();
    if (c.id == 29) {
        s.cursor = {uint32_t(s.playPos), 0, true};
        s.nextPlay = now;
        return;
    }
    const RecorderStatus st = status();
    if (st.play != PlayState::Playing)
        return;
    if (before != PlayState::Playing) {
        s.nextPlay = now;
        return;
    }
    // A new speed takes effect by its first step at the latest.
    s.nextPlay = std::min(s.nextPlay, now + stepPeriod(st.playSpeed, std::clamp(config().fps, 1, 60)));
}

// One step: every live channel gets the picture at the next position. The
// stream holds while the client does not read, so no picture is lost.
void TestRecorder::tickTimelinePlayback(Session& s, const RecorderConfig& cfg, const RecorderStatus& st)
{
    const auto now = Clock::now();
    const auto idle = milliseconds(10);
    if (st.play != PlayState::Playing || !cfg.streamVideo || s.group == 0) {
        s.nextPlay = now + idle;
        return;
    }
    if (now < s.nextPlay)
        return;
    const int fps = std::clamp(cfg.fps, 1, 60);
    const auto period = stepPeriod(st.playSpeed, fps);
    const auto pos = nextPosition(s.cursor, st.playSpeed, fps);
    if (!pos) {
        s.nextPlay = now + idle;
        return;
    }
    if (!clientWritable()) {
        s.nextPlay = now + milliseconds(5);
        return;
    }
    s.nextPlay = now - s.nextPlay > period ? now + period : s.nextPlay + period;
    const size_t index = size_t(pos->second % uint32_t(timelineCycleSeconds(fps))) * size_t(fps) + size_t(pos->picture);
    for (int ch = 0; ch < clampChannels(cfg.channels); ++ch) {
        if (!bitSet(st.liveMask, ch))
            continue;
        auto& stream = s.streams[size_t(ch)];
        const ClipSpec spec = clipSpecFor(cfg, ch);
        if (!stream.clip || !(stream.clip->spec() == spec))
            stream.clip = H264Clip::get(spec);
        if (!stream.clip->ok() || index >= stream.clip->frames().size()) {
            if (!s.clipErrorNoted)
                note("no video: " + stream.clip->error());
            s.clipErrorNoted = true;
            return;
        }
        const EncodedFrame& f = stream.clip->frames()[index];
        if ((stream.needKey || bitSet(st.keyOnlyMask, ch)) && !f.key)
            continue;
        if (writeVideoFrame(s, ch, cfg, f, pos->second, 1, false))
            withStatus([&](RecorderStatus& r) { r.lastPlayed[size_t(ch)] = {pos->second, pos->picture}; });
    }
    s.cursor = *pos;
    s.playPos = pos->second;
    withStatus([&](RecorderStatus& r) { r.playTime = pos->second; });
}

}  // namespace testrec
