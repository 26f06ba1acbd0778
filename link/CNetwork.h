#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "link/CoNetwork.h"

// ASCII-hex words of the second device's messages. AWORD2WORD reads four
// hex characters (either case), first most significant; any other
// character makes the word 0. The writers add no terminator.
uint16_t AWORD2WORD(const uint8_t* p);
// As AWORD2WORD, but tells a malformed word apart from 0.
bool parseAWORD(const uint8_t* p, uint16_t* out);
void WORD2AWORD(uint8_t* out, uint16_t v);
void BYTE2ABYTE(uint8_t* out, uint8_t v);
uint8_t ABYTE2BYTE(const uint8_t* p);
uint32_t ADWORD2DWORD(const uint8_t* p);
void DWORD2ADWORD(uint8_t* out, uint32_t v);
// Two characters per byte of in.
void bytes2abytes(uint8_t* out, const uint8_t* in, size_t len);

// One buffer of the stream scanner.
struct CVxSample {
    uint8_t* m_pData = nullptr;
    uint32_t m_dwMediaType = 0;
    uint32_t m_dwBufferLength = 0;
    uint32_t m_dwBytesUsed = 0;
    uint32_t m_dwStart = 0;
    uint32_t m_dwEnd = 0;
    uint8_t m_bzProperties[32] = {};
    uint32_t m_dwID = 0;
    uint32_t m_dwHeight = 0;
    uint32_t m_dwWidth = 0;
    uint32_t m_dwSyncPoint = 0;
    uint32_t m_dwDiscontinuity = 0;
};

// The link to the second device kind: DDNS lookup when the site asks for it,
// connect, login with MD5 digests of the password and the web code, then a
// byte scanner that cuts the stream into video frames (decoded into the
// view's queue), audio frames (counted only) and command messages. The
// keypad panels send key commands through it from the GUI thread.
class CNetwork : public CoNetwork {
public:
    static constexpr uint32_t kVideoBufSize = 4194304;
    static constexpr uint32_t kCmdBufSize = 1024;
    static constexpr uint32_t kReadBufSize = 4194304;
    static constexpr int kCmdMinSize = 12;
    static constexpr const char* kDefaultWebCode = "QOLVENTRAMIDECAF";

    CNetwork();
    ~CNetwork() override;

    // Key command (GUI thread): false when not connected. A playback key
    // may stop the pictures on purpose: they are not judged until they
    // come again or playbackKeyPause has passed.
    bool SendKeyCommand(uint8_t key);
    // Pointer event; nothing in the client sends it.
    bool sendMouseEvent(float x, float y, uint8_t button);

    // Worker steps, public for tests that drive them without a thread.
    bool ConnectDVR();
    bool LoginDVR();
    void ProcessNet();
    void ProcessCommand(const uint8_t* msg, uint32_t size);
    // Feeds bytes through the scanner as one read.
    void parseReceived(const uint8_t* data, int n);
    void setSocketForTest(int fd, bool connected);
    void closeSocket();
    // Forgets everything the scanner holds.
    void resetScanner();

    // Login replies in buf, each cut by its declared length and taken out:
    // 1 wait for more, 0 refused or malformed, 2 accepted (what follows
    // the acceptance stays in buf).
    int takeLoginReplies(uint8_t* buf, size_t* len);
    // The 76-byte login message for the site values held now.
    void buildLogin(uint8_t out[76]) const;
    // Smallest length of a message with this code.
    static uint32_t minimumSize(uint16_t code);

    // Observer for tests: every cut video frame (start code and payload).
    std::function<void(const uint8_t* frame, uint32_t len)> onFrame;
    // Silence after which the thread reconnects, and the least time from
    // the last data to a new connect after a loss; tests shorten it.
    std::chrono::milliseconds reconnectAfter{7000};
    // Wall-clock bound of the login wait.
    std::chrono::milliseconds m_dwTimeout{5000};
    // Pictures that stop while streaming for three times the longest recent
    // gap between them, kept within these bounds, are a stalled stream
    // (state 15 until they come again); tests shorten them.
    std::chrono::milliseconds stallMin{5000};
    std::chrono::milliseconds stallMax{9000};
    // Longest pause of that judgement after a playback key.
    std::chrono::milliseconds playbackKeyPause{5000};

    // Last values the device reported.
    bool isSearchMode() const { return m_IsCurrentMode_Search.load(); }
    uint32_t networkVersion() const { return m_uiNetworkVer.load(); }
    uint32_t audioBytes() const { return m_audioTotal.load(); }
    uint32_t droppedFrames() const { return m_droppedFrames.load(); }

protected:
    void ThreadHandler() override;

private:
    using Clock = std::chrono::steady_clock;

    bool sendMessage(const uint8_t* msg, size_t len);
    // Link state, held and reported to the view as the recorder link does.
    void setNetStatus(int status, const std::string& info = std::string());
    // Moves from one state to the next only if the state is still from.
    bool advanceState(uint32_t from, uint32_t to);
    // The connection broke or went silent: tell the view at once, close,
    // and try again once the silence rule's time has passed.
    void connectionLost(const char* why);
    bool readSocket();
    void waitForRetry();
    void scanByte(uint8_t b);
    void putCommandByte(uint8_t b);
    void deliverVideoFrame();
    void decodeIntoQueue(uint32_t len);
    bool decodeIntoSlot(tag_FrameV_Orgin* slot, uint32_t len);
    bool runDDNS();

    // Liveness of the pictures (CNetwork.cpp), worker thread.
    void onConnected();
    void notePicture();
    void watchPictures(Clock::time_point now);
    bool keyPauseHolds(Clock::time_point now);
    Clock::duration stallLimit() const;
    Clock::time_point m_lastPicture{};
    Clock::time_point m_gapWindowStart{};
    Clock::duration m_longestGap{};
    Clock::duration m_previousGap{};
    bool m_havePicture = false;  // of this connection
    bool m_stalled = false;
    // When the last playback key was sent (steady clock ticks; 0: none
    // whose pause still holds). Set on the GUI thread.
    std::atomic<Clock::rep> m_playbackKeyAt{0};

    // Scanner (worker thread only).
    CVxSample m_vsample;
    CVxSample m_cmdsample;
    std::unique_ptr<uint8_t[]> m_pBufVideo;
    std::unique_ptr<uint8_t[]> m_pBufCmd;
    uint32_t m_dwStreamType = 0;  // 0 none, 1 video, 2 audio, 3 command
    uint32_t m_dwStreamTypeOld = 0;
    uint32_t m_dwLenVideo = 0;
    uint32_t m_dwLenCmd = 0;
    uint32_t m_dwSizeCmd = 0;
    bool m_bEndFrameVideo = false;
    int32_t m_nStartFrameVideo = 0;
    bool m_bEndFrameAudio = false;
    int32_t m_nStartFrameAudio = 0;
    uint32_t m_dwLenAudio = 0;
    uint32_t m_dwSkipCnt = 0;
    uint32_t m_dwCode = 0xFFFFFFFF;
    uint8_t m_nextVideoCode = 0xF8;  // code of the frame that follows the open one
    uint32_t m_videoTail = 0;        // latest bytes that went into the frame, up to 4
    uint32_t m_endCodeBytes = 4;     // bytes of the ending start code in the frame
    std::unique_ptr<uint8_t[]> m_readbuf;
    int m_readbytes = 0;
    std::atomic<uint32_t> m_audioTotal{0};
    std::atomic<uint32_t> m_droppedFrames{0};

    // Device reports.
    std::atomic<bool> m_IsCurrentMode_Search{true};
    std::atomic<uint32_t> m_uiNetworkVer{0};
    int8_t m_moveOffsetX = 0;
    int8_t m_moveOffsetY = 0;
    uint16_t m_VideoStd = 0;

    // Key sends (GUI thread) and the worker's close share the socket.
    std::mutex m_sockLock;
    Clock::time_point m_lastData;
    Clock::time_point m_retryAt;  // no reconnect before this after a loss
};
