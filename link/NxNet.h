#pragma once
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "link/CoNetwork.h"
#include "link/DecodePool.h"
#include "link/NxLib.h"

// The 1-based channel whose audio is played, 0 for none.
extern std::atomic<int> g_requestAudioCh;

// Search and playback state of the recorder link.
struct NetSearchInfo {
    int32_t eSearchType = 0;
    uint32_t hdd_start_time = 0;
    uint32_t hdd_end_time = 0;
    uint32_t current_frame_time = 0;
    uint32_t hdd_search_set_play_time = 0;
    bool reset_search_play_time = false;
    bool hdd_search_mode_flag = false;
    int32_t search_mode_frame_count = 0;
    int32_t ePrevPrevPlaySpeed = 0;
    int32_t ePrevPlaySpeed = 0;
    int32_t eNowPlaySpeed = 1000;
    int32_t eNowPlaySpeedForStep = 0;
    uint8_t flow_control = 1;
    uint32_t dwStepCount[16] = {};
    uint32_t dwCurrentTickTime = 0;
    uint32_t dwOldTickTime = 0;
    uint32_t dftDuration = 0;
    uint32_t dftDurationAdd = 0;
    uint32_t dwImageSpeed[16] = {};
    uint32_t dvrNowTime = 0;
    uint32_t elapseTime = 0;
    uint32_t dvrSpeedTime[16] = {};

    // Pacing of a playback frame: 1 release, 0 not yet, -1 throw away.
    // nowMs is the pacing clock in ms (time of day modulo 100,000 s).
    int canPop(int ch, float rate, uint32_t frameTime, bool slow, uint32_t nowMs);
    // A new stream: its first frame starts a stream second at once.
    void startAfresh();
};

// Builds a V1 or V2 command frame into out (capacity cap); returns its
// length, or 0 when it would not fit.
size_t writeToSendQWithFF(uint8_t* out, size_t cap, int cmd, const uint8_t* payload, size_t len);
size_t writeToSendQWithoutFF(uint8_t* out, size_t cap, int cmd, const uint8_t* payload, size_t len);
// Decodes the part of a V1 frame after its head: id and every second byte,
// at most cap payload bytes; answers the payload bytes written.
int getCommandWithoutFF(int* cmd, uint8_t* payload, size_t cap, const uint8_t* in, int len);

// The recorder link.
class NxNet : public CoNetwork {
public:
    static constexpr int kSendQSize = 61440;
    static constexpr int kBufSize = 4194304;
    static constexpr int kBufMargin = 128;  // zeroed tail readable after coded data
    // Live view: a channel with this many pictures waiting for its decoder
    // has fallen behind and skips to its next key frame.
    static constexpr int kLivePendingMax = 5;

    NxNet();
    ~NxNet() override;

    // Command writer: frames a command and queues it for the send pump.
    // payload/len carry the record of commands that have one.
    void SendCmdToServer(int cmd, const void* payload = nullptr, size_t len = 0);
    void SendCmdToServer(int cmd, int32_t arg1, int32_t arg2);
    bool WriteToSendQ(const uint8_t* frame, int len);

    // Requests (GUI thread).
    void RequestLiveCh(int keyFrameOnly, int8_t ch);
    void RequestAudioCh(int8_t ch);
    void RequestPanTilt(int8_t ch, int32_t cmd, int8_t speed);
    void RequestPreset(int8_t ch, int32_t cmd, int8_t preset);
    void RequestSearchInfo(int32_t cmd, int32_t a, int32_t b);
    // Event-log request record (command 32), 16 bytes.
    void RequestHistory(const uint8_t* record, size_t len);
    // No more pages of the event-log request are wanted.
    void EndHistory();
    bool historyOpen() const { return m_historyOpen.load(); }
    // Longest a search answer waits for room among those not yet taken by
    // the GUI thread before it is dropped; tests shorten it.
    std::chrono::milliseconds answerWait{5000};
    void RequestSearch(int32_t unused, int32_t startTime);

    // Liveness, on the wall clock; new bytes extend none of them, and tests
    // shorten them. A recorder sends echoes while connected: no byte at all
    // for three times its longest echo interval, and never less than
    // silenceLimit, is a lost connection; until two echoes have shown the
    // rhythm, silenceFirst.
    std::chrono::milliseconds silenceLimit{20000};
    std::chrono::milliseconds silenceFirst{65000};
    // From the connect until the recorder has answered the login. A try
    // that misses it connects again with twice the time, up to kLoginTries
    // tries (10, 20, 40 and 80 s); the last one missed is a failure.
    std::chrono::milliseconds loginLimit{10000};
    static constexpr int kLoginTries = 4;
    // Pictures that stop for three times the longest recent gap between
    // them, kept within these bounds, are a stalled stream; paused playback,
    // frame steps and channels that send nothing by design are not judged.
    std::chrono::milliseconds stallMin{5000};
    std::chrono::milliseconds stallMax{9000};
    // Upper bound while only key frames come (key-frames-only live, fast and
    // reverse playback), which follows the recorder's key-frame interval.
    std::chrono::milliseconds keyOnlyStallMax{30000};
    bool loggedIn() const { return m_loggedIn.load(); }
    // Round trip seen on this connection (login, and request to first frame).
    std::chrono::milliseconds roundTrip() const;
    // Answers dropped because no request of theirs was outstanding.
    int unaskedAnswers() const { return m_unasked.load(); }
    bool ExitLive();
    bool PlaySpeed(int32_t speed);
    // A frame held for a step keeps the recorder's echoes unread behind it:
    // the recorder counts as heard while the link holds it on purpose.
    int GetEchoCount() const override
    {
        return m_holding.load() ? std::max(m_echoCount.load(), 1) : m_echoCount.load();
    }
    void SetEchoCount(int v) override { m_echoCount = v; }

    TDvrInfo _dvrInfo() const;
    NetSearchInfo searchInfo() const;
    int requestId() const;
    int getMaxCh() const;

    // Worker steps, public for tests that drive them without a thread.
    bool ConnectDVR();
    bool lookUpDDNS();
    void CloseSocket();
    void TcpSendPump();
    void TcpReceivePump();
    // Feeds received bytes through the parser as one read.
    void parseReceived(const uint8_t* data, int n);
    void InitVar();
    // Back to the state of a new link, keeping its buffers, decoders, queues
    // and hooks: the parser fuzz target reuses one link rather than allocate
    // 8 MiB of buffers for each input.
    void resetForTest();
    int eNetMode() const { return _eNetMode; }
    int sendWriteQ() const { return _sendWriteQ.load(); }
    int sendReadQ() const { return _sendReadQ.load(); }
    void setSendIndices(int w, int r)
    {
        _sendWriteQ = w;
        _sendReadQ = r;
    }
    bool cmdV2() const { return _bCmdV2 != 0; }
    void setCmdV2(bool v) { _bCmdV2 = v ? 1 : 0; }
    int cmdFixSize(int id) const { return (id >= 0 && id < 300) ? _cmd_fixsize[id] : 0; }
    void setSocketForTest(int fd, bool connected);

    // Observers for tests: every dispatched command and every whole frame.
    std::function<void(int cmd, const uint8_t* payload, int len)> onCommand;
    std::function<void(const tagNxPacket& pk)> onFrame;
    // Pacing clock source (ms); replaced in tests.
    std::function<uint32_t()> pacingClock;
    // Pause between two pacing checks of a held frame; empty sleeps 10 us.
    std::function<void()> pacingPause;

    // Called on a decoding thread before each video frame is decoded (tests).
    std::function<void(const tagNxPacket& pk)> onDecode;
    // Waits until every picture handed to the decoding threads is done.
    void waitDecodesIdle();
    // Decoding threads; takes effect before the first picture is decoded.
    // 0 decodes on the worker itself, in the order received (tests).
    void setDecodeThreads(int n);

    void discontinuityNet(int8_t unused = 0);
    // Per-channel decode gate (0: waiting for a key frame); worker side.
    uint8_t decodeGate(int ch) const { return _netInfo.bFirstDecoding[ch & 15]; }

protected:
    void ThreadHandler() override;
    void stopDecodes() override;

private:
    // Parser steps; each answers the receive-buffer bytes it consumed.
    int proc_find_header();
    int proc_cmd_id();
    int proc_video_id();
    int proc_cmd_tail();
    int proc_video_tail();
    bool appendNeeded();
    bool longConnectAnswerFollows(int from) const;
    void resetParser();
    void set_cmd_struct_size();

    void exe_cmd_fromServer(int cmd, int len);
    void onConnectAnswer(const uint8_t* p, int len);
    void onLoginAccepted(const uint8_t* p, int len);
    void onEcho(const uint8_t* p, int len);
    void SetModelParam(TDvrInfo* info, int32_t model);
    void sendLogin();

    bool readVideoHeader();
    bool ProcDvrFrame();
    bool isSkipFrame();
    void deliverAudio();
    void unscramble(uint8_t* data, int len);
    bool waitForPacing(int ch, uint32_t cut);
    tag_FrameV_Orgin* waitForVideoSlot();
    void dispatchVideo(int ch, int stream, bool search, bool hidden = false);
    DecodePool::Job* waitForJob();
    void fallBehind(int ch);
    void decodeJob(DecodePool::Job& job);
    void dropJob(DecodePool::Job& job);

    void allDataReq(bool all, bool newId);
    void IncreaseDataReq(bool newId);
    void sendDataRequest(int kind, const uint8_t switches[16]);
    void sendSpeed(int cmd, int speed, uint8_t slow);
    void searchStartPlay();
    void resumeBlock();
    void sendSeek();
    void WriteToSendQHandler(int cmd, const uint8_t* payload, size_t len);
    void setNetStatus(int status, const std::string& info = std::string());

    // Liveness (NxNet_Watch.cpp), worker thread unless said.
    using Clock = std::chrono::steady_clock;
    void onConnected();
    void watchLiveness();
    void watchPictures(Clock::time_point now);
    void onPictureShown(Clock::time_point at);
    // A wanted frame is on its way to the screen: held by the pacing,
    // waiting for room, or decoded ahead of a step's picture.
    void noteHeld();
    // Decoding thread: a picture went to the view; stream tells what the
    // link streamed when its frame came.
    void noteShown(int ch, bool key, int stream);
    Clock::duration silenceAllowed() const;
    Clock::duration loginDeadline() const;
    void tryLoginAgain(const char* why);
    Clock::duration stallLimit() const;
    Clock::duration firstPictureLimit() const;
    bool stallJudged() const;
    bool keyFramesOnly() const;
    // Channels a picture is expected from: wanted, there, not covert and
    // not in video loss.
    uint16_t expectedChannels() const;
    void noteRoundTrip(Clock::duration d);
    void noteEcho();
    void noteFirstFrameOfRequest();
    // GUI thread: what is streamed changes; the pictures' clock restarts.
    void streamChanged();
    Clock::time_point m_lastByte{};
    Clock::time_point m_connectedAt{};
    Clock::time_point m_lastPicture{};   // last picture shown or held
    Clock::time_point m_lastShown{};     // last picture shown
    Clock::time_point m_gapWindowStart{};
    Clock::duration m_longestGap{};
    Clock::duration m_previousGap{};
    bool m_stalled = false;
    bool m_awaitFirst = true;       // no picture since the stream changed
    bool m_nothingExpected = false;
    std::atomic<int64_t> m_shownAt{0};  // decoding threads: steady clock ticks
    std::atomic<int64_t> m_freshAt{0};  // the same for pictures of the current stream
    int64_t m_changeTicks = 0;          // worker: when the stream last changed
    int64_t m_shownSeen = 0;
    std::atomic<int64_t> m_keyShownAt[16] = {};  // decoding threads
    int64_t m_keySeen[16] = {};
    int64_t m_keyPrev[16] = {};
    int m_keysSince[16] = {};  // key pictures since the stream changed, up to 2
    std::atomic<int> m_streamSeq{0};    // GUI: one more per change
    std::atomic<int64_t> m_streamAt{0}; // GUI: when it changed
    int m_streamSeen = 0;
    int m_streamSampled = 0;            // round trip taken for this change
    bool m_keyOnlyLive = false;         // under m_reqLock
    // Echo rhythm and replies.
    int m_echoesSeen = 0;
    Clock::time_point m_lastEchoAt{};
    Clock::duration m_longestEchoGap{};
    static constexpr int kEchoBurst = 20;
    double m_echoTokens = 0;
    Clock::time_point m_echoTokensAt{};
    bool echoReplyAllowed();
    Clock::duration m_heldTotal{};   // time spent holding frames
    Clock::duration m_heldAtEcho{};
    std::atomic<uint16_t> m_videoLoss{0};
    // Round trips, newest last; the longest counts.
    static constexpr int kRoundTrips = 4;
    std::atomic<int64_t> m_roundTrips[kRoundTrips] = {};
    int m_roundTripNext = 0;
    Clock::time_point m_loginSentAt{};
    std::atomic<bool> m_holding{false};

    // Answers taken only while their request is outstanding.
    bool m_gotConnectAnswer = false;  // worker
    bool m_loginPending = false;      // worker
    std::atomic<bool> m_loggedIn{false};  // set by the worker
    int m_loginTry = 0;                   // worker: tries before this one
    struct Asked {
        int cmd;   // 13 enter search, 15 recording information
        int kind;  // of 15: 1 day, 2 month, 3 range
        Clock::time_point at;
        // Pushed out by newer requests: its answer is still awaited, so
        // that it does not take a newer request's place, but dropped.
        bool given_up = false;
    };
    static constexpr size_t kAskedMax = 64;
    static constexpr size_t kGivenUpMax = 1024;
    static constexpr auto kAskedFor = std::chrono::seconds(60);
    std::mutex m_askedLock;
    std::deque<Asked> m_asked;
    size_t m_askedLive = 0;
    void noteAsked(int cmd, int kind);
    // Takes the oldest outstanding request the answer cmd can answer.
    bool takeAsked(int cmd);
    void dropUnasked(int cmd);
    std::atomic<int> m_unasked{0};
    // Hands a search answer to the controller once there is room for it;
    // false when it was dropped (stop, or no room in time).
    bool reportSearch(int type, int32_t v1, int32_t v2, const uint8_t* data, size_t len);
    void onHistoryPage(const uint8_t* p, int len);
    std::atomic<bool> m_historyOpen{false};
    bool connected() const { return m_bConnect.load(); }
    void failConnection(const char* why);
    void failConnectionQuietly();
    void applyDiscontinuity();
    std::atomic<bool> m_pendingDiscontinuity{false};
    // Channels whose queued pictures were dropped; their gates close.
    std::atomic<uint16_t> m_lostChannels{0};
    // Decoding side of the same: such a channel's queued pictures are
    // dropped until its next key frame.
    std::atomic<bool> m_decodeWaitsKey[16] = {};

    // Parser state (worker thread only).
    tagNetInfo _netInfo{};
    TDvrInfo _dvr;
    int _eNetProgress = 0;
    int _eNetMode = 0;
    int _eNowCmd = -1;
    uint32_t _nowHeaderID = 0;
    int _recvedSize = 0;
    int _neededSize = 4;
    int _readOffset = 0;
    int _saveOffset = 0;
    int _cmd_fixsize[300] = {};
    std::atomic<uint8_t> _bCmdV2{0};
    std::unique_ptr<uint8_t[]> _recv_buf;
    std::unique_ptr<uint8_t[]> _save_buf;
    const uint8_t* _recvPtr = nullptr;  // the read being parsed
    uint32_t _start_frame_code = 0;
    bool _connectProbeLong = false;  // connect answer: trying the long form
    int m_cmddata_send_ok_count = 0;
    std::atomic<int> m_cmddata_send_req_count{0};

    // Send ring: one reader (the pump), writers serialised by m_sendLock.
    std::unique_ptr<uint8_t[]> _sendQ;
    std::atomic<int> _sendWriteQ{0};
    std::atomic<int> _sendReadQ{0};
    std::mutex m_sendLock;

    // Request state shared with the GUI thread.
    mutable std::recursive_mutex m_reqLock;
    NetSearchInfo _searchInfo;
    int _request_id = 0;
    int8_t currentDisplayCh = 0;
    // Playback position and frame steps (NxNet_Steps.cpp), under m_reqLock.
    // A picture's position is its stream second and its place among the
    // channel's frames of that second.
    enum class Flow { Paused, Forward, Reverse };
    struct Pos {
        uint32_t time = 0;
        int ord = -1;  // -1: none yet
    };
    struct StepTarget {
        bool active = false;
        bool inclusive = false;  // show the frame at the target, not after it
        // The target is the last frame of the second `at.time`, whose frames
        // are not counted yet: they are counted first, then sought again.
        bool countFirst = false;
        Pos at;
    };
    enum class StepFrame { Show, Hide, Drop };
    struct SecondCount {
        uint32_t time = 0;
        int frames = 0;
    };
    Flow m_flow = Flow::Forward;
    // The recorder sends every frame (normal and slow speeds), so the
    // frames of a second can be counted.
    bool m_everyFrame = true;
    Pos m_framePos[16];    // worker: the frame being delivered
    Pos m_shownPos[16];    // the last frame released to be shown
    SecondCount m_seconds[16][4];
    StepTarget m_stepTarget[16];
    struct SeekStart {
        bool active = false;
        bool anyKey = false;
        uint32_t second = 0;
        std::chrono::steady_clock::time_point until{};
    };
    SeekStart m_seekStart[16];
    bool awaitingSeekStart(int ch);
    void expectSeekStart(uint32_t second);
    // One more each time the stream is cut: a frame held across a cut is
    // from the old stream.
    std::atomic<uint32_t> m_streamCuts{0};
    void countFrame(int ch, uint32_t time);
    StepFrame stepFrame(int ch);
    void seekAgainCounted();
    void noteReleased(int ch);
    int framesInSecond(int ch, uint32_t time) const;
    // Moves the recorder to a step's picture: forward at normal speed from
    // the second it lies in, the frames before it decoded but not shown.
    void seekForStep(bool back);
    void seekTo(uint32_t second);
    // Frames up to each channel's shown picture are decoded, not shown.
    void continueAfterShown();
    void clearStepTargets();
    void forgetPositions();
    std::atomic<int> m_echoCount{0};
    std::atomic<int> m_echoTotal{0};
    mutable std::mutex m_dvrLock;  // guards _dvr copies for the GUI thread

    // Last member: its threads end before anything they use goes.
    DecodePool m_decodePool;
};
