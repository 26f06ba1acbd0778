#pragma once
// Shared pieces of the link tests: hand-packed protocol bytes, a recorder
// of what the link reports upward and a capture of what it logs.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/INetController.h"
#include "link/INetView.h"
#include "platform/Log.h"

namespace linktest {

using Bytes = std::vector<uint8_t>;

inline void le32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
inline void le16(Bytes& b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// Command frame as a recorder sends it.
inline Bytes cmdV2(int id, const Bytes& payload)
{
    Bytes b = {0x00, 0x00, 0xAD, 0xC3};
    le32(b, uint32_t(id));
    append(b, payload);
    append(b, {'N', 'E', 'N', 'D'});
    return b;
}
inline Bytes cmdV1(int id, const Bytes& payload)
{
    Bytes b = {0x00, 0x00, 0xAD, 0xC2, uint8_t(id), 0xFF, uint8_t(id >> 8), 0xFF};
    for (uint8_t x : payload) {
        b.push_back(x);
        b.push_back(0xFF);
    }
    append(b, {0x00, 0x00, 0x01, 0xB4});
    return b;
}

// Long connect answer: model, channels, version.
inline Bytes connectAnswer552(uint32_t model, int channels, uint16_t version, uint8_t scramble = 0)
{
    Bytes p(552, 0);
    std::memcpy(&p[0], &model, 4);
    p[4] = uint8_t(channels);
    p[5] = uint8_t(channels >> 8);
    p[6] = 1;
    p[10] = 7;  // vendor
    p[11] = scramble;
    p[12] = uint8_t(version);
    p[13] = uint8_t(version >> 8);
    std::memcpy(&p[20], "WEBCODE123456789", 16);
    for (int ch = 0; ch < 16; ++ch) {
        p[40 + 32 * ch] = uint8_t('A' + ch);  // UTF-16LE "A", "B", ...
    }
    return p;
}

// A "BADJ" media frame (group 8): big-endian time and size in 4-byte units.
inline Bytes frameBADJ(int ch, int type, uint8_t reqId, const Bytes& coded, uint32_t time = 1000, int nowType = 0)
{
    int extra = type == 3 ? 16 : 20;
    size_t f = coded.size() + size_t(extra);
    f = (f + 3) / 4 * 4;
    Bytes b = {'B', 'A', 'D', 'J'};
    b.push_back(uint8_t(time >> 24));
    b.push_back(uint8_t(time >> 16));
    b.push_back(uint8_t(time >> 8));
    b.push_back(uint8_t(time));
    b.push_back(uint8_t((type << 4) | (ch & 0x0F)));
    b.push_back(30);
    b.push_back(0);
    b.push_back(0);
    b.push_back(uint8_t((f / 4) >> 8));
    b.push_back(uint8_t(f / 4));
    b.push_back(0);
    b.push_back(0);
    b.push_back(0);  // resolution 704x480
    b.resize(24, 0);
    b.push_back(uint8_t(nowType << 3));
    b.push_back(uint8_t(reqId << 4));
    b.resize(32, 0);
    b.resize(32 + size_t(extra), 0);
    append(b, coded);
    b.resize(32 + f, 0);
    append(b, {0x00, 0x00, 0x01, 0xB4});
    return b;
}

// What the link reports upward, kept for assertions.
class Reports : public INetView, public INetController {
public:
    void setNetStatus(int status, const std::string& info) override
    {
        std::lock_guard<std::mutex> lock(m);
        statuses.push_back(status);
        infos.push_back(info);
        cv.notify_all();
    }
    void setMaxCH(int n) override { maxCh = n; }
    void SetChTitle(const char (&t)[16][32]) override { std::memcpy(titles, t, sizeof titles); }
    void SetCovert(uint16_t mask) override { covert = mask; }
    void SetRecOnOff(uint16_t mask) override { rec = mask; }
    void SetVideoLoss(uint16_t mask) override { videoLoss = mask; }
    void SetModelGroup(uint32_t g) override { group = int(g); }
    void SetSearchInfo(int type, int32_t v1, int32_t v2, const uint8_t* data, size_t len) override
    {
        std::lock_guard<std::mutex> lock(m);
        searchAnswers.push_back({type, v1, v2, Bytes(data, data + len)});
        cv.notify_all();
    }
    bool hasRoomForAnswer(size_t) const override { return room.load(); }
    void ShowSearchAlertView() override { alerts++; }
    void DisplayConnectStr(const std::string&, int, const std::string&, int) override { connectSteps++; }

    bool waitStatus(int status, std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, timeout, [&] {
            for (int s : statuses)
                if (s == status)
                    return true;
            return false;
        });
    }
    std::vector<int> statusList()
    {
        std::lock_guard<std::mutex> lock(m);
        return statuses;
    }

    struct Answer {
        int type;
        int32_t v1, v2;
        Bytes data;
    };
    std::mutex m;
    std::condition_variable cv;
    std::vector<int> statuses;
    std::vector<std::string> infos;
    std::vector<Answer> searchAnswers;
    std::atomic<int> maxCh{-1}, covert{-1}, rec{-1}, videoLoss{-1}, group{-1}, alerts{0}, connectSteps{0};
    std::atomic<bool> room{true};  // for answers waiting on the GUI thread
    char titles[16][32] = {};
};

// Polls done() until it holds or the time is up.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Keeps what is logged, from any thread, one line after another, while it
// lives; the previous sink comes back when it goes.
class LogCapture {
public:
    LogCapture() : old(setLogSink([this](const std::string& s) { add(s); })) {}
    ~LogCapture() { setLogSink(old); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // True when the text so far holds s ("line\n" matches a whole line's end).
    bool has(const std::string& s) const
    {
        std::lock_guard<std::mutex> lock(m);
        return text.find(s) != std::string::npos;
    }
    int lines() const
    {
        std::lock_guard<std::mutex> lock(m);
        return int(std::count(text.begin(), text.end(), '\n'));
    }

private:
    void add(const std::string& s)
    {
        std::lock_guard<std::mutex> lock(m);
        text += s + "\n";
    }

    mutable std::mutex m;
    std::string text;
    LogSink old;
};

}  // namespace linktest
