#pragma once
// A recorder on 127.0.0.1 for tests and for trying the client by hand: it
// answers the connect, checks the login, echoes, answers searches, streams
// real H.264 (one solid colour per channel, a moving scene, or timeline
// colours that tell each picture's stream position) and audio, plays back
// by stream position, logs every command the client sends, and lets a test
// inject any bytes.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "recorder/BacklogFiller.h"
#include "recorder/CommandLog.h"
#include "recorder/H264Clip.h"
#include "recorder/MediaFrame.h"
#include "recorder/Protocol.h"
#include "recorder/Timeline.h"
#include "recorder/Wire.h"

namespace testrec {

using std::chrono::milliseconds;

enum class LoginResult { None, Accepted, WrongPassword, UnknownUser, Refused };
enum class PlayState { Live, SearchWait, Playing, Paused };
enum class HistoryMode { Normal, Empty, Busy };

// A data request (command 6) as the client sent it.
struct DataRequest {
    int requestId = 0;
    int kind = 0;  // 0 video channels, 1 key-frame-only channels, 2 audio channel
    std::array<uint8_t, 16> switches{};
    uint16_t mask() const;  // bit n for switch n that is 1
};
std::optional<DataRequest> parseDataRequest(const Bytes& payload);

struct RecorderConfig {
    // What the connect answer reports.
    int modelId = 61;             // group 7 ("NDAV")
    int protocolVersion = 30;
    int connectAnswerSize = 552;  // 552 or 272
    int channels = 4;
    int audioChannels = 4;
    int scrambling = 0;           // 1: key frames are scrambled
    int videoStandard = 0;
    int bandwidth = 0;
    int vendor = 0;
    int hwVersion = 1;
    uint32_t fwVersion = 100;
    std::string webCode = "TESTREC000000001";
    uint32_t titleKind = 0;
    std::vector<std::string> titles;  // missing titles become "CAM n"
    CmdFormat commandFormat = CmdFormat::V2;  // format of every command the recorder sends
    bool sendConnectAnswer = true;
    bool acceptConnections = true;  // read at start(); false: the listener's backlog is filled

    // Login.
    std::string userId = "admin";
    std::string password = "1234";
    bool refuseLogin = false;           // answer a right login with command 2
    bool answerLogin = true;            // false: the login is never answered
    int loginDelayMs = 0;               // a right login is answered this long after its request
    uint32_t permissionMask = 0xFFFF;
    uint32_t covertMask = 0;
    uint16_t recordingMask = 0xFFFF;

    // Echo (command 11) after the login; 0 sends none.
    int echoIntervalMs = 1000;
    uint16_t videoLossMask = 0;

    // Media.
    int width = 352, height = 240;  // "NDAV"/"NDAv" need 704x480, 704x240, 352x240, 704x576, 704x288 or 352x288
    int fps = 10;
    int gop = 5;
    // Timeline: playback sends the picture at each channel's stream position
    // (forward at speed 1 or slower every picture once, faster and in
    // reverse the key frame of each second crossed, at most fps a second);
    // Solid and Moving play the loop with times advancing by speed / fps.
    ClipContent content = ClipContent::Solid;
    int bitrateKbps = 0;  // 0: constant quality
    // Live channels each keep their own exact schedule, spread over the
    // frame period, instead of all sending at once every period.
    bool spreadChannels = false;
    // Live frames carry a count per channel, from 1, as their time.
    bool sequenceTimes = false;
    // Called on the recorder's thread just before a video frame is written.
    std::function<void(int ch, uint32_t time)> onVideoWrite;
    bool streamVideo = true;
    // Video frames keep their header, size and tail, but carry a slice no
    // H.264 decoder makes a picture of; turned off, good frames start again
    // with a key frame.
    bool garbleVideo = false;
    bool streamAudio = true;
    Bytes audioPayload;  // when set, sent as every audio frame's coded data
    bool ackDataRequests = true;  // command 7 after each data request

    // Searches.
    uint32_t recordStart = civilToTime(2024, 1, 10, 8, 0, 0);
    uint32_t recordEnd = civilToTime(2024, 1, 20, 18, 30, 0);
    bool searchBusy = false;      // command 20 to 13 and 15
    uint32_t searchBusyReason = 45;
    bool searchInfoFail = false;  // command 16 to 15
    bool answerMonths = true;     // false: month requests (15 kind 2) wait for a test to answer them
    bool answerEnterSearch = true;  // command 14 with the range to 13
    HistoryMode historyMode = HistoryMode::Normal;
    // Items of each event-log page in order; every page but the last says
    // more pages follow.
    std::vector<int> historyPageItems = {3};

    // Receives one line per notable event, on the recorder's thread.
    std::function<void(const std::string&)> log;
};

// Where a timeline playback frame stands in the stream.
struct StreamPosition {
    uint32_t second = 0;  // the frame's time
    int picture = -1;     // 0 the key frame of the second; -1 none sent yet
};

struct RecorderStatus {
    bool clientConnected = false;
    int connections = 0;  // clients accepted so far
    LoginResult login = LoginResult::None;
    int requestId = 0;
    uint16_t liveMask = 0;     // channels switched on by the last kind-0 request
    uint16_t keyOnlyMask = 0;  // channels asked for key frames only (kind 1)
    int audioChannel = -1;     // 0-based, -1 none (kind 2)
    PlayState play = PlayState::Live;
    double playSpeed = 1.0;    // stream seconds per second, negative in reverse
    uint32_t playTime = 0;     // stream time of the next playback frame
    std::array<StreamPosition, 16> lastPlayed{};  // last timeline playback frame sent per channel
    int echoesSent = 0;
    int echoReplies = 0;       // commands 12 received
    std::array<uint64_t, 16> videoFrames{};
    uint64_t audioFrames = 0;
    uint64_t skippedFrames = 0;  // frames not sent because the client did not read
};

class TestRecorder {
public:
    explicit TestRecorder(RecorderConfig config = {});
    ~TestRecorder();
    TestRecorder(const TestRecorder&) = delete;
    TestRecorder& operator=(const TestRecorder&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port) and starts the thread.
    bool start(uint16_t port = 0);
    // Closes every socket and joins the thread; safe with a client connected.
    void stop();
    bool running() const { return thread_.joinable(); }
    // CPU time the recorder's thread has used so far.
    double cpuSeconds() const;
    uint16_t port() const { return port_; }

    RecorderConfig config() const;
    void updateConfig(const std::function<void(RecorderConfig&)>& change);
    void setEchoInterval(int ms);  // takes effect at once; 0 stops echoing
    void setVideoLossMask(uint16_t mask);
    void setStreaming(bool video, bool audio);
    void setSearchBusy(bool busy);
    void setGarbleVideo(bool on);

    // Connection.
    RecorderStatus status() const;
    bool waitUntil(const std::function<bool(const RecorderStatus&)>& done, milliseconds timeout) const;
    bool waitForClient(milliseconds timeout) const;
    bool waitForDisconnect(milliseconds timeout) const;
    LoginResult waitForLogin(milliseconds timeout) const;
    bool waitForVideoFrames(int ch, uint64_t count, milliseconds timeout) const;
    bool waitForEchoReplies(int count, milliseconds timeout) const;
    void disconnectClient();  // closes the current connection; the next client is then accepted

    // Commands received.
    const CommandLog& log() const { return log_; }
    std::vector<ReceivedCommand> commands() const { return log_.all(); }
    size_t commandCount(uint32_t id) const { return log_.count(id); }
    std::optional<ReceivedCommand> waitForCommand(uint32_t id, milliseconds timeout, size_t nth = 1) const
    {
        return log_.waitFor(id, timeout, nth);
    }
    void clearCommands() { log_.clear(); }

    // Injection; each answers false when no client is connected or the
    // write did not finish. Writes never interleave with the recorder's own.
    bool sendRaw(const Bytes& bytes);
    bool sendCommand(uint32_t id, const Bytes& payload, std::optional<CmdFormat> format = std::nullopt);
    bool sendMediaFrame(const MediaHeader& header, const Bytes& coded);
    bool sendGarbage(size_t n, uint32_t seed = 1);
    // Writes the buffer in pieces of the given sizes (the rest in one last
    // piece), pausing between pieces.
    bool sendSplit(const Bytes& bytes, const std::vector<size_t>& pieces, milliseconds pause = milliseconds(20));

    // Material for hand-made frames: the header the recorder would use now
    // for a frame of this channel, and the channel's clip.
    MediaHeader headerFor(int ch, FrameType type) const;
    std::shared_ptr<const H264Clip> clipFor(int ch) const;
    int group() const;

    static Bytes garbage(size_t n, uint32_t seed);

private:
    struct Session;

    void serverLoop();
    void runSession(int fd);
    void closeClient();
    void note(const std::string& text) const;
    bool writeLocked(const uint8_t* data, size_t n, milliseconds budget);
    bool sendFrame(const Bytes& frame);
    bool sendAnswer(uint32_t cmd, Bytes payload);
    bool waitWake(int fd, short events, int timeoutMs);

    void handleCommand(Session& s, const ReceivedCommand& c);
    void handleLogin(Session& s, const ReceivedCommand& c);
    void answerLogin(Session& s, LoginResult result);
    void tickLogin(Session& s);
    void handleDataRequest(Session& s, const ReceivedCommand& c);
    void handleSearchInfo(const ReceivedCommand& c);
    void handleHistory(const ReceivedCommand& c);
    void handlePlayback(Session& s, const ReceivedCommand& c);
    void restartStreams(Session& s);
    void timelineControl(Session& s, const ReceivedCommand& c, PlayState before);

    void tick(Session& s);
    void tickEcho(Session& s);
    void tickVideo(Session& s);
    void tickSpreadVideo(Session& s, const RecorderConfig& cfg);
    void tickAudio(Session& s);
    void tickTimelinePlayback(Session& s, const RecorderConfig& cfg, const RecorderStatus& st);
    void sendVideoFrame(Session& s, int ch, const RecorderConfig& cfg, uint32_t time, int nowType);
    bool writeVideoFrame(Session& s, int ch, const RecorderConfig& cfg, const EncodedFrame& f, uint32_t time,
                         int nowType, bool dropWhenFull);
    bool clientWritable();
    int nextPollMs(const Session& s) const;

    template <typename F>
    void withStatus(F&& f)
    {
        {
            std::lock_guard<std::mutex> lock(statusMutex_);
            f(status_);
        }
        statusCv_.notify_all();
    }

    mutable std::mutex configMutex_;
    RecorderConfig config_;

    mutable std::mutex statusMutex_;
    mutable std::condition_variable statusCv_;
    RecorderStatus status_;

    std::mutex sendMutex_;
    int clientFd_ = -1;  // guarded by sendMutex_

    CommandLog log_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> dropClient_{false};
    std::atomic<bool> echoChanged_{false};
    bool spreading_ = false;  // the last video tick used the spread schedule
    int listenFd_ = -1;
    int wakeFd_ = -1;
    uint16_t port_ = 0;
    BacklogFiller filler_;
};

}  // namespace testrec
