#pragma once
// A second device on 127.0.0.1 for tests and for trying the client by hand:
// it checks the login digests, answers, streams flat intra-coded pictures
// with a pointer-information message after the first one, records every key
// the client sends, and lets a test inject any bytes.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/DeviceWire.h"

namespace testdev {

using std::chrono::milliseconds;

enum class LoginMode {
    Accept,      // hello, acceptance and the first picture in one write
    Refuse,      // code 4 with refuseReason
    MaxUser,     // code 17
    Silent,      // no answer at all
    RepeatHello  // hello every 100 ms, never a decision
};

struct DeviceConfig {
    std::string password = "1234";
    std::string webCode;  // empty: the default web code
    std::string model = "LUMO-TEST";
    LoginMode login = LoginMode::Accept;
    uint16_t refuseReason = 2;
    bool streamVideo = true;
    int fps = 10;
    uint8_t y = 81, cb = 90, cr = 240;  // red
    bool pointerInfo = true;            // code 15 right after the first picture
    bool garbled = false;               // pictures whose slices do not decode
    // While logged in, pictures or not: a pointer-information message this
    // often (0: none), or such messages back to back as fast as the
    // connection takes them.
    int commandIntervalMs = 0;
    bool commandFlood = false;
    std::function<void(const std::string&)> log;
};

struct DeviceStatus {
    bool clientConnected = false;
    int connections = 0;
    int logins = 0;     // accepted logins
    int badLogins = 0;  // logins whose digests did not match
    uint64_t pictures = 0;
    uint64_t commands = 0;  // pointer-information messages of the interval or the flood
    std::vector<int> keys;  // key codes in arrival order
    Bytes lastLogin;
    Bytes lastKeyMessage;
};

class TestDevice {
public:
    explicit TestDevice(DeviceConfig config = {});
    ~TestDevice();
    TestDevice(const TestDevice&) = delete;
    TestDevice& operator=(const TestDevice&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port).
    bool start(uint16_t port = 0);
    void stop();
    uint16_t port() const { return port_; }

    DeviceStatus status() const;
    bool waitUntil(const std::function<bool(const DeviceStatus&)>& done, milliseconds timeout) const;
    // Pictures off: the connection stays open, silent unless command
    // messages are on.
    void setStreaming(bool on);
    void setCommandInterval(milliseconds interval);
    void setCommandFlood(bool on);
    void setColour(uint8_t y, uint8_t cb, uint8_t cr);
    // Pictures go on coming, as garbage the client cannot decode.
    void setGarbled(bool on);
    // Bytes to the connected client, in one write.
    bool sendRaw(const Bytes& bytes);
    void disconnectClient();

private:
    void run();
    void acceptClient();
    void readClient();
    void handleMessage(const Bytes& msg);
    void answerLogin(const Bytes& msg);
    void streamIfDue();
    void commandsIfDue();
    Bytes picture(const DeviceConfig& cfg);
    bool writeAll(const Bytes& bytes);
    void closeClient();
    void note(const std::string& line);

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::mutex writeLock_;
    DeviceConfig config_;
    DeviceStatus status_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> streaming_{true};
    std::thread thread_;
    int listenFd_ = -1;
    std::atomic<int> clientFd_{-1};
    uint16_t port_ = 0;
    Bytes inbox_;
    bool loggedIn_ = false;
    bool repeatHello_ = false;
    std::chrono::steady_clock::time_point nextSend_;
    std::chrono::steady_clock::time_point nextCommand_;
    uint32_t commandCount_ = 0;  // version field of the next pointer information
};

}  // namespace testdev
