// Media and echo: the live and playback video sources, audio and the echo.

#include <poll.h>

#include <ctime>

#include "recorder/Crypto.h"
#include "recorder/TestRecorderSession.h"

namespace testrec {

namespace {

constexpr milliseconds kWriteBudget{2000};

}  // namespace

void TestRecorder::tick(Session& s)
{
    tickLogin(s);
    if (!s.loggedIn)
        return;
    tickEcho(s);
    tickVideo(s);
    tickAudio(s);
}

void TestRecorder::tickEcho(Session& s)
{
    const RecorderConfig cfg = config();
    const auto now = Clock::now();
    if (echoChanged_.exchange(false))
        s.nextEcho = now + milliseconds(cfg.echoIntervalMs);
    if (cfg.echoIntervalMs <= 0) {
        s.nextEcho = now + milliseconds(1000);
        return;
    }
    if (now < s.nextEcho)
        return;
    s.nextEcho = now + milliseconds(cfg.echoIntervalMs);
    if (sendAnswer(11, echoPayload(cfg.protocolVersion, cfg.videoLossMask)))
        withStatus([](RecorderStatus& st) { ++st.echoesSent; });
}

ClipSpec clipSpecFor(const RecorderConfig& cfg, int ch)
{
    const int g = modelGroup(cfg.modelId);
    ClipSpec spec;
    spec.width = cfg.width;
    spec.height = cfg.height;
    spec.fps = std::clamp(cfg.fps, 1, 60);
    // A timeline starts every stream second with a key frame.
    spec.gop = cfg.content == ClipContent::Timeline ? spec.fps : std::clamp(cfg.gop, 1, 250);
    spec.content = cfg.content;
    spec.bitrateKbps = std::max(cfg.bitrateKbps, 0);
    // Every channel shows the same moving scene.
    if (cfg.content == ClipContent::Solid)
        spec.colour = channelColour(ch);
    spec.fixedParameterSets = g == 7 || g == 10;
    return spec;
}

std::shared_ptr<const H264Clip> TestRecorder::clipFor(int ch) const { return H264Clip::get(clipSpecFor(config(), ch)); }

MediaHeader TestRecorder::headerFor(int ch, FrameType type) const
{
    const RecorderConfig cfg = config();
    const RecorderStatus st = status();
    MediaHeader h;
    h.group = modelGroup(cfg.modelId);
    const bool playback = st.play == PlayState::Playing || st.play == PlayState::Paused;
    h.time = playback ? st.playTime : uint32_t(std::time(nullptr));
    h.channel = ch;
    h.frameType = type;
    h.nowType = playback ? 1 : 0;
    h.requestId = st.requestId & 0x0F;
    const ResolutionCode rc = resolutionCodeFor(h.group, cfg.width, cfg.height);
    h.resolutionCode = rc.code;
    h.fiftyHz = rc.fiftyHz;
    h.rate = rateFieldFor(h.group, std::clamp(cfg.fps, 1, 60), rc.fiftyHz);
    h.evtRec = bitSet(cfg.recordingMask, ch);
    return h;
}

// Sends a media frame only when the socket takes data now, so a client that
// stops reading makes frames drop instead of blocking the recorder.
static bool writableNow(int fd)
{
    pollfd p{fd, POLLOUT, 0};
    return fd >= 0 && poll(&p, 1, 0) == 1 && (p.revents & POLLOUT) != 0;
}

bool TestRecorder::clientWritable()
{
    std::lock_guard<std::mutex> lock(sendMutex_);
    return writableNow(clientFd_);
}

void TestRecorder::sendVideoFrame(Session& s, int ch, const RecorderConfig& cfg, uint32_t time, int nowType)
{
    auto& stream = s.streams[size_t(ch)];
    const ClipSpec spec = clipSpecFor(cfg, ch);
    if (!stream.clip || !(stream.clip->spec() == spec)) {
        stream.clip = H264Clip::get(spec);
        stream.index = 0;
        stream.needKey = true;
    }
    if (!stream.clip->ok()) {
        if (!s.clipErrorNoted)
            note("no video: " + stream.clip->error());
        s.clipErrorNoted = true;
        return;
    }
    const auto& frames = stream.clip->frames();
    const EncodedFrame& f = frames[stream.index % frames.size()];
    stream.index = (stream.index + 1) % frames.size();
    const RecorderStatus st = status();
    if ((stream.needKey || bitSet(st.keyOnlyMask, ch)) && !f.key)
        return;
    writeVideoFrame(s, ch, cfg, f, time, nowType, true);
}

// Writes one picture of a channel; with dropWhenFull a client that does not
// read loses the frame and the channel waits for a key frame.
bool TestRecorder::writeVideoFrame(Session& s, int ch, const RecorderConfig& cfg, const EncodedFrame& f,
                                   uint32_t time, int nowType, bool dropWhenFull)
{
    auto& stream = s.streams[size_t(ch)];
    MediaHeader h = headerFor(ch, f.key ? FrameType::Key : FrameType::Other);
    if (cfg.sequenceTimes && nowType == 0)
        time = stream.sequence + 1;
    h.time = time;
    h.nowType = nowType;
    h.seq = s.seq++;
    Bytes coded = cfg.garbleVideo ? undecodablePicture(f.data.size()) : f.data;
    if (f.key && cfg.scrambling == 1)
        scrambleKeyFrame(coded, s.group);
    const Bytes frame = buildMediaFrame(h, coded);

    std::lock_guard<std::mutex> lock(sendMutex_);
    if (dropWhenFull && !writableNow(clientFd_)) {
        stream.needKey = true;
        withStatus([](RecorderStatus& r) { ++r.skippedFrames; });
        return false;
    }
    if (cfg.onVideoWrite)
        cfg.onVideoWrite(ch, time);
    if (!writeLocked(frame.data(), frame.size(), kWriteBudget)) {
        dropClient_ = true;
        return false;
    }
    stream.needKey = false;
    if (nowType == 0)
        ++stream.sequence;
    withStatus([ch](RecorderStatus& r) { ++r.videoFrames[size_t(ch)]; });
    return true;
}

// Each live channel on its own schedule at the exact frame rate; a channel
// that fell more than a period behind starts again from now.
void TestRecorder::tickSpreadVideo(Session& s, const RecorderConfig& cfg)
{
    const auto now = Clock::now();
    const auto period = std::chrono::microseconds(1000000 / std::clamp(cfg.fps, 1, 60));
    const RecorderStatus st = status();
    for (int ch = 0; ch < clampChannels(cfg.channels); ++ch) {
        auto& stream = s.streams[size_t(ch)];
        if (now < stream.next)
            continue;
        stream.next = now - stream.next > period ? now + period : stream.next + period;
        if (bitSet(st.liveMask, ch))
            sendVideoFrame(s, ch, cfg, uint32_t(std::time(nullptr)), 0);
    }
}

void TestRecorder::tickVideo(Session& s)
{
    const RecorderConfig cfg = config();
    // Good pictures after garbled ones start with a key frame.
    if (s.garbled && !cfg.garbleVideo)
        for (auto& st : s.streams)
            st.needKey = true;
    s.garbled = cfg.garbleVideo;
    const RecorderStatus st = status();
    s.timelinePlayback = cfg.content == ClipContent::Timeline && st.play != PlayState::Live;
    spreading_ = cfg.spreadChannels && cfg.streamVideo && s.group != 0 && st.play == PlayState::Live;
    if (s.timelinePlayback) {
        tickTimelinePlayback(s, cfg, st);
        return;
    }
    if (spreading_) {
        tickSpreadVideo(s, cfg);
        return;
    }
    const auto now = Clock::now();
    if (now < s.nextVideo)
        return;
    const auto period = milliseconds(1000 / std::clamp(cfg.fps, 1, 60));
    s.nextVideo = std::max(s.nextVideo + period, now);
    const bool playing = st.play == PlayState::Playing;
    if (!cfg.streamVideo || s.group == 0 || !(st.play == PlayState::Live || playing))
        return;
    const uint32_t time = playing ? uint32_t(s.playPos) : uint32_t(std::time(nullptr));
    for (int ch = 0; ch < clampChannels(cfg.channels); ++ch)
        if (bitSet(st.liveMask, ch))
            sendVideoFrame(s, ch, cfg, time, playing ? 1 : 0);
    if (!playing)
        return;
    s.playPos = std::max(0.0, s.playPos + st.playSpeed / std::clamp(cfg.fps, 1, 60));
    withStatus([&](RecorderStatus& r) { r.playTime = uint32_t(s.playPos); });
}

void TestRecorder::tickAudio(Session& s)
{
    const RecorderConfig cfg = config();
    const auto now = Clock::now();
    if (now < s.nextAudio)
        return;
    s.nextAudio = std::max(s.nextAudio + milliseconds(s.audio->packetMs()), now);
    const RecorderStatus st = status();
    const bool playing = st.play == PlayState::Playing;
    const int ch = st.audioChannel;
    if (!cfg.streamAudio || s.group == 0 || ch < 0 || ch >= clampChannels(cfg.channels) ||
        !(st.play == PlayState::Live || playing))
        return;
    MediaHeader h = headerFor(ch, FrameType::Audio);
    h.time = playing ? uint32_t(s.playPos) : uint32_t(std::time(nullptr));
    h.nowType = playing ? 1 : 0;
    const Bytes frame = buildMediaFrame(h, cfg.audioPayload.empty() ? s.audio->nextPacket() : cfg.audioPayload);

    std::lock_guard<std::mutex> lock(sendMutex_);
    if (!writableNow(clientFd_)) {
        withStatus([](RecorderStatus& r) { ++r.skippedFrames; });
        return;
    }
    if (!writeLocked(frame.data(), frame.size(), kWriteBudget)) {
        dropClient_ = true;
        return;
    }
    withStatus([](RecorderStatus& r) { ++r.audioFrames; });
}

}  // namespace testrec
