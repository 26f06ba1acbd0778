#include "fuzz/ParserSeeds.h"

#include <utility>

#include "fuzz/ParserInput.h"
#include "link/CNetDef.h"
#include "recorder/AudioSource.h"
#include "recorder/Crypto.h"
#include "recorder/TestRecorder.h"

namespace parserfuzz {

namespace {

using testrec::Bytes;
using testrec::CmdFormat;
using testrec::FrameType;
using testrec::RecorderConfig;

const uint32_t kLiveTime = testrec::civilToTime(2024, 1, 15, 12, 0, 0);
const uint32_t kPlayTime = testrec::civilToTime(2024, 1, 12, 9, 0, 0);

RecorderConfig device(int model, int version = 30, int answerSize = 552, CmdFormat format = CmdFormat::V2)
{
    RecorderConfig c;
    c.modelId = model;
    c.protocolVersion = version;
    c.connectAnswerSize = answerSize;
    c.commandFormat = format;
    return c;
}

// A test recorder that is never started, for the bytes it would send.
class Source {
public:
    explicit Source(const RecorderConfig& cfg) : rec_(cfg), audio_(rec_.group()) {}

    int group() const { return rec_.group(); }
    const RecorderConfig& config() const { return cfg_; }

    // A command framed as the recorder sends it, the payload fitted to the
    // length the client reads.
    Bytes answer(uint32_t cmd, Bytes payload = {}) const
    {
        int size = testrec::answerPayloadSize(cmd, group(), cfg_.modelId, cfg_.protocolVersion);
        if (size >= 0)
            payload = testrec::fitPayload(std::move(payload), size_t(size));
        return testrec::buildCommandFrame(cmd, payload, cfg_.commandFormat);
    }
    Bytes connectPayload() const
    {
        testrec::DeviceInfo d{uint32_t(cfg_.modelId), cfg_.channels, cfg_.audioChannels, cfg_.videoStandard,
                              cfg_.bandwidth, cfg_.vendor, cfg_.scrambling, cfg_.protocolVersion,
                              cfg_.hwVersion, cfg_.fwVersion, cfg_.webCode, cfg_.titleKind, cfg_.titles};
        return cfg_.connectAnswerSize == 272 ? testrec::connectAnswer272(d) : testrec::connectAnswer552(d);
    }
    Bytes connect() const { return answer(1, connectPayload()); }
    Bytes login() const
    {
        return answer(4, testrec::loginAccepted(cfg_.protocolVersion, cfg_.permissionMask, cfg_.covertMask,
                                                cfg_.recordingMask));
    }

    // Picture `index` of the channel's clip (key frames every five).
    Bytes video(int ch, size_t index, int requestId, int nowType, uint32_t time, int misc2 = 0)
    {
        const auto clip = rec_.clipFor(ch);
        if (!clip->ok())
            return {};
        const testrec::EncodedFrame& f = clip->frames()[index % clip->frames().size()];
        Bytes coded = f.data;
        if (f.key && cfg_.scrambling == 1)
            testrec::scrambleKeyFrame(coded, group());
        return frame(ch, f.key ? FrameType::Key : FrameType::Other, coded, requestId, nowType, time, misc2);
    }
    // The channel's first key frame without the parameter sets in front of
    // its slices: only a decoder that kept earlier ones makes a picture.
    Bytes keyWithoutParameterSets(int ch, int requestId, int nowType, uint32_t time)
    {
        const auto clip = rec_.clipFor(ch);
        if (!clip->ok())
            return {};
        const Bytes& coded = clip->frames()[0].data;
        for (size_t i = 0; i + 3 < coded.size(); ++i)
            if (coded[i] == 0 && coded[i + 1] == 0 && coded[i + 2] == 1 && (coded[i + 3] & 0x1F) == 5)
                return frame(ch, FrameType::Key, Bytes(coded.begin() + long(i), coded.end()), requestId, nowType,
                             time);
        return {};
    }
    Bytes audio(int ch, int requestId, int nowType, uint32_t time)
    {
        return frame(ch, FrameType::Audio, audio_.nextPacket(), requestId, nowType, time);
    }
    Bytes frame(int ch, FrameType type, const Bytes& coded, int requestId, int nowType, uint32_t time,
                int misc2 = 0)
    {
        testrec::MediaHeader h = rec_.headerFor(ch, type);
        h.time = time;
        h.nowType = nowType;
        h.requestId = requestId;
        h.seq = seq_++;
        h.misc2 = misc2;
        return testrec::buildMediaFrame(h, coded);
    }

private:
    testrec::TestRecorder rec_;
    RecorderConfig cfg_ = rec_.config();
    testrec::AudioSource audio_;
    int seq_ = 0;
};

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// Connect answer, login and the acknowledgement of the first data request,
// a read each (or in reads of `split` bytes).
InputWriter opened(const Source& s, uint8_t split = 0)
{
    InputWriter w;
    w.read(s.connect(), split);
    w.read(s.login(), split);
    w.read(s.answer(7), split);
    return w;
}

// An opened session that has started playback from t (request id 1).
InputWriter playing(const Source& s, uint32_t t)
{
    InputWriter w = opened(s);
    w.play(t);
    return w;
}

// Live pictures of channel 0 with its audio, and a key frame of channel 1,
// arriving in one read.
void liveFrames(InputWriter& w, Source& s, int pictures, uint8_t split = 0)
{
    w.audio(1);
    Bytes all;
    for (int i = 0; i < pictures; ++i) {
        append(all, s.video(0, size_t(i), 0, 0, kLiveTime + uint32_t(i / 10)));
        if (i % 6 == 0)
            append(all, s.audio(0, 0, 0, kLiveTime + uint32_t(i / 10)));
    }
    append(all, s.video(1, 0, 0, 0, kLiveTime));
    w.read(all, split);
}

// Playback pictures of channel 0 from a key frame on, ten to a second of
// stream time, forward or backward from *t; one read per picture.
void playFrames(InputWriter& w, Source& s, int requestId, int pictures, uint32_t* t, int dir = 1)
{
    for (int i = 0; i < pictures; ++i) {
        w.read(s.video(0, size_t(i), requestId, 1, *t));
        if (i % 10 == 9)
            *t += uint32_t(dir);
    }
}

}  // namespace

std::vector<Seed> parserSeeds()
{
    std::vector<Seed> out;
    auto add = [&out](std::string name, const InputWriter& w, int commands, int pictures = 0, int audio = 0) {
        out.push_back(Seed{std::move(name), w.bytes(), commands, pictures, audio});
    };

    // First, so that a run of it follows both a new harness and every other
    // seed: H.264 pictures from it would mean parameter sets outlived their
    // input.
    {
        Source s(device(51));
        InputWriter w = opened(s);
        w.read(s.keyWithoutParameterSets(0, 0, 0, kLiveTime));
        w.padForH264();
        add("frame-key-without-parameter-sets", w, 3);
    }

    // Connect answers: every version where the link reads the connect, login
    // or echo answer differently, then both forms and both command formats.
    for (int v : {1, 3, 4, 5, 6, 7, 10, 11, 13, 23, 24, 27, 30}) {
        Source s(device(61, v));
        InputWriter w = opened(s);
        w.read(s.answer(11, testrec::echoPayload(v, 0x0005)));
        add("connect-552-v" + std::to_string(v), w, 4);
    }
    {
        Source s(device(11, 4));  // group 1 at version 4: its login carries no rights
        add("connect-552-v4-group1", opened(s), 3);
    }
    for (int v : {6, 7, 30}) {
        Source s(device(61, v, 272));
        add("connect-272-v" + std::to_string(v), opened(s), 3);
    }
    {
        Source s(device(61, 30, 552, CmdFormat::V1));
        add("connect-552-cmdv1", opened(s), 3);
        Source t(device(61, 6, 272, CmdFormat::V1));
        add("connect-272-cmdv1-v6", opened(t), 3);
    }
    {
        // Title text whose bytes at payload offset 272 look like a V2 tail.
        Source s(device(61));
        Bytes p = s.connectPayload();
        p[272] = 'N', p[273] = 'E', p[274] = 'N', p[275] = 'D';
        InputWriter w;
        w.read(s.answer(1, p));
        w.read(s.login());
        add("connect-552-tail-in-titles", w, 2);
    }
    {
        Source s(device(61));
        InputWriter w;
        w.read(s.connect());
        w.read(s.answer(2, testrec::reasonPayload(0)));
        add("connect-refused", w, 2);
        InputWriter x;
        x.read(s.connect());
        x.read(s.answer(5, testrec::reasonPayload(21)));
        add("connect-wrong-password", x, 2);
    }

    // Every other command the recorder sends, after a login.
    const RecorderConfig rc;
    {
        Source s(device(61));
        InputWriter w = opened(s);
        w.play(rc.recordEnd - 3600);
        w.read(s.answer(14, testrec::rangeAnswer(rc.recordStart, rc.recordEnd)));
        add("cmd-14-search-start", w, 4);
        InputWriter a = opened(s);
        a.searchInfo(SEARCH_KIND_MONTH, testrec::civilToTime(2024, 1, 1));
        a.read(s.answer(16));
        add("cmd-16-search-info-fail", a, 4);
        InputWriter b = opened(s);
        b.searchInfo(SEARCH_KIND_RANGE, 0);
        b.read(s.answer(17, testrec::rangeAnswer(rc.recordStart, rc.recordEnd)));
        add("cmd-17-range", b, 4);
        InputWriter c = opened(s);
        c.searchInfo(SEARCH_KIND_MONTH, testrec::civilToTime(2024, 1, 1));
        c.read(s.answer(18, testrec::monthAnswer(testrec::civilToTime(2024, 1, 1), rc.recordStart, rc.recordEnd)));
        add("cmd-18-month", c, 4);
        InputWriter d = opened(s);
        d.play(kPlayTime);
        d.read(s.answer(20, testrec::reasonPayload(45)));
        add("cmd-20-start-fail", d, 4);
    }
    {
        Source s(device(11));  // group 1: the smallest day map
        InputWriter w = opened(s);
        w.searchInfo(SEARCH_KIND_DAY, testrec::civilToTime(2024, 1, 12));
        w.read(s.answer(19, testrec::dayAnswer(s.group(), 11, 30, testrec::civilToTime(2024, 1, 12), rc.recordStart,
                                               rc.recordEnd, 4)));
        add("cmd-19-day", w, 4);
    }
    // Event-log pages; their length depends on the group and, for groups 1
    // and 2, on the version.
    for (auto [model, v] : {std::pair{51, 30}, std::pair{11, 6}, std::pair{11, 7}, std::pair{21, 5},
                            std::pair{21, 13}, std::pair{21, 14}}) {
        Source s(device(model, v));
        InputWriter w = opened(s);
        w.read(s.answer(33, testrec::historyPage(s.group(), model, v, testrec::HistoryStatus::Normal,
                                                 testrec::civilToTime(2024, 1, 12), 0, 3)));
        add("cmd-33-history-model" + std::to_string(model) + "-v" + std::to_string(v), w, 4);
    }

    // Live media frames of every header kind, with audio of channel 1. The
    // seeds of media frames are padded to inputs the fuzz target decodes
    // with the H.264 decoders, so their paths are reached from the start.
    struct Kind {
        const char* name;
        int model;
        int scrambling;
        int pictures;  // at least this many reach the video queue
        int audio;
    };
    for (const Kind& k : {Kind{"f3", 11, 0, 13, 2}, Kind{"f5", 21, 0, 0, 0}, Kind{"ndav", 61, 0, 13, 2},
                          Kind{"ndav-scrambled", 61, 1, 13, 2}, Kind{"ndav-lower", 110, 0, 13, 2},
                          Kind{"badj", 51, 0, 13, 2}, Kind{"nda-grave", 81, 0, 13, 2}, Kind{"ndap", 120, 0, 13, 2},
                          Kind{"ndap-scrambled", 120, 1, 13, 2}, Kind{"ndap-group12", 131, 0, 13, 2}}) {
        RecorderConfig cfg = device(k.model);
        cfg.scrambling = k.scrambling;
        Source s(cfg);
        InputWriter w = opened(s);
        liveFrames(w, s, 12);
        w.padForH264();
        add(std::string("frame-") + k.name, w, 3, k.pictures, k.audio);
    }
    {
        // 480-line pictures, key frames only on channel 2, a garbage frame,
        // a frame that does not decode with the dummy-slice flag (decoded
        // and deinterlaced instead), and a view clear that closes every gate
        // until the next key frame.
        RecorderConfig cfg = device(120);
        cfg.width = 720;
        cfg.height = 480;
        Source s(cfg);
        InputWriter w = opened(s);
        w.liveCh(1, 2);
        w.read(s.video(0, 0, 0, 0, kLiveTime));
        w.read(s.frame(0, FrameType::Other, Bytes{0x00, 0x00, 0x00, 0x01, 0x41, 0x9A}, 0, 0, kLiveTime, 3));
        w.read(s.frame(0, FrameType::Garbage, Bytes(40, 0x55), 0, 0, kLiveTime));
        w.discontinuity();
        w.read(s.video(0, 1, 0, 0, kLiveTime));
        w.read(s.video(0, 5, 0, 0, kLiveTime));
        w.read(s.video(1, 0, 0, 0, kLiveTime));
        w.padForH264();
        add("frame-ndap-480-gates", w, 3, 3);
    }
    {
        // The one model whose full-size pictures above 15 frames a second
        // are deinterlaced.
        RecorderConfig cfg = device(122);
        cfg.width = 1920;
        cfg.height = 1080;
        cfg.fps = 25;
        Source s(cfg);
        InputWriter w = opened(s);
        w.read(s.video(0, 0, 0, 0, kLiveTime));
        w.read(s.video(0, 1, 0, 0, kLiveTime));
        w.padForH264();
        add("frame-ndap-1080-deinterlaced", w, 3, 2);
    }
    // The same streams in small reads.
    for (auto [model, split] : {std::pair{61, 1}, std::pair{51, 7}, std::pair{11, 300}}) {
        Source s(device(model));
        InputWriter w = opened(s, uint8_t(split));
        liveFrames(w, s, 6, uint8_t(split));
        add("split-model" + std::to_string(model) + "-reads" + std::to_string(split), w, 3, 7, 1);
    }

    // Playback: every speed the panel has, holds, steps, reverse, pause and
    // back to live. Request ids follow the link: 1 after the search starts,
    // one more on each resume, reverse, pause and return to live.
    {
        Source s(device(120));
        uint32_t t = kPlayTime;
        InputWriter w = playing(s, t);
        playFrames(w, s, 1, 10, &t);
        for (int speed : {2, 4, 8, 64, 128, 300, 1024}) {
            w.speed(int16_t(speed));
            playFrames(w, s, 1, 6, &t);
        }
        add("play-speeds", w, 3, 52);
    }
    {
        Source s(device(120));
        uint32_t t = kPlayTime;
        InputWriter w = playing(s, t);
        w.clockStep(500);
        for (int speed : {2001, 2002, 2003}) {
            w.speed(int16_t(speed));
            playFrames(w, s, 1, 5, &t);
        }
        add("play-slow", w, 3, 14);
    }
    {
        Source s(device(120));
        uint32_t t = kPlayTime;
        InputWriter w = playing(s, t);
        w.speed(3001);  // from play: a frame a press, the rest held
        playFrames(w, s, 1, 4, &t);
        w.speed(3001);
        w.speed(3002);  // a step back seeks to the picture before: id 2
        uint32_t back = t;
        playFrames(w, s, 2, 3, &back);
        w.speed(1);  // resumes after the picture on screen: id 3
        playFrames(w, s, 3, 5, &t);
        w.speed(0);  // id 4
        w.speed(3001);  // a step forward from pause seeks too: id 5
        back = t;
        playFrames(w, s, 5, 4, &back);
        add("play-step", w, 3, 7);
    }
    {
        Source s(device(120));
        uint32_t t = kPlayTime + 60;
        InputWriter w = playing(s, t);
        playFrames(w, s, 1, 10, &t);
        w.speed(-1);  // id 2, frames at or before the last one shown
        t -= 2;
        playFrames(w, s, 2, 10, &t, -1);
        w.speed(0);  // id 3: paused, nothing shown
        playFrames(w, s, 3, 3, &t);
        w.speed(1);  // id 4, from the second of the last picture shown
        t += 1;
        playFrames(w, s, 4, 5, &t);
        add("play-reverse-pause", w, 3, 17);
    }
    {
        Source s(device(120));
        uint32_t t = kPlayTime;
        InputWriter w = playing(s, t);
        playFrames(w, s, 1, 5, &t);
        for (int speed : {2, 2001}) {
            w.holdSpeed(int16_t(speed));
            playFrames(w, s, 1, 5, &t);
        }
        // A step back while a frame is held drops it and seeks to the
        // picture before the one shown (the fifteenth of its second): id 2,
        // the second sent again from its start.
        w.holdSpeed(3002);
        w.read(s.video(0, 5, 1, 1, t));
        for (int i = 0; i < 14; ++i)
            w.read(s.video(0, size_t(i), 2, 1, t));
        w.holdSpeed(1);  // resumes after the picture shown: id 3
        w.read(s.video(0, 14, 2, 1, t));
        for (int i = 0; i < 16; ++i)
            w.read(s.video(0, size_t(i), 3, 1, t));
        add("play-hold-speed-change", w, 3, 14);
    }
    for (int model : {61, 11, 51}) {
        Source s(device(model));
        uint32_t t = kPlayTime;
        InputWriter w = playing(s, t);
        playFrames(w, s, 1, 10, &t);
        w.speed(2);
        playFrames(w, s, 1, 5, &t);
        w.exitLive();  // id 2
        w.read(s.video(0, 0, 2, 0, kLiveTime));
        w.read(s.video(0, 1, 2, 0, kLiveTime));
        add("play-exit-live-model" + std::to_string(model), w, 3, 16);
    }
    return out;
}

}  // namespace parserfuzz
