#pragma once
// The state of one client connection, shared by the recorder's sources;
// used on the recorder's thread only.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>

#include "recorder/AudioSource.h"
#include "recorder/CommandParser.h"
#include "recorder/TestRecorder.h"

namespace testrec {

using Clock = std::chrono::steady_clock;

inline int clampChannels(int channels) { return std::clamp(channels, 0, 16); }
inline bool bitSet(uint16_t mask, int ch) { return ch >= 0 && ch < 16 && ((mask >> ch) & 1) != 0; }

// The clip a channel streams under this configuration.
ClipSpec clipSpecFor(const RecorderConfig& cfg, int ch);

struct PlayCursor {
    uint32_t second = 0;
    int picture = 0;
    bool atKey = true;  // (second, 0) goes next and has not been sent
};

struct TestRecorder::Session {
    int connection = 0;
    int group = 0;
    CommandParser parser;
    bool loggedIn = false;
    Clock::time_point nextEcho, nextVideo, nextAudio;
    struct Stream {
        std::shared_ptr<const H264Clip> clip;
        size_t index = 0;
        bool needKey = true;
        uint32_t sequence = 0;       // live frames sent, for sequence times
        Clock::time_point next{};    // spread schedule
    };
    std::array<Stream, 16> streams;
    std::unique_ptr<AudioSource> audio;
    uint8_t seq = 0;
    double playPos = 0.0;
    bool clipErrorNoted = false;
    bool garbled = false;  // the last video tick garbled its frames

    // A right login waiting for its delayed answer.
    bool loginPending = false;
    LoginResult pendingLogin = LoginResult::None;
    Clock::time_point loginDue{};

    // Timeline playback: where the stream stands, shared by the channels.
    PlayCursor cursor;
    bool timelinePlayback = false;  // the last video tick played the timeline
    Clock::time_point nextPlay{};
};

}  // namespace testrec
