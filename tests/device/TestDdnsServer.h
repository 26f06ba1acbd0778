#pragma once
// A DDNS server on a loopback address for tests and for trying the client
// by hand: it greets (command 42), reads the lookup request (command 97)
// and answers (command 98) with a configured device address and port, in
// V1 or V2 command frames, well formed or broken in a chosen way.

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

enum class DdnsAnswer {
    Normal,
    None,          // never answers the request
    Close,         // closes the connection instead of answering
    Short,         // payload shorter than its fields
    NoTerminator,  // status text without its NUL
    PortZero,      // port 0 (with a nonzero third value)
    WrongId,       // command 99 instead of 98
};

struct DdnsConfig {
    bool v2 = false;          // frame format of everything the server sends
    bool greet = true;
    int greetingId = 42;
    int greetingPad = 8;      // payload bytes of the greeting
    DdnsAnswer answer = DdnsAnswer::Normal;
    std::string deviceIp = "127.0.0.1";
    int devicePort = 0;
    int32_t third = 1;
    std::string text = "OK";
    std::vector<size_t> answerPieces;  // sizes of the answer's writes, the rest in one
    int pieceDelayMs = 50;
    std::function<void(const std::string&)> log;
};

class TestDdnsServer {
public:
    explicit TestDdnsServer(DdnsConfig config = {});
    ~TestDdnsServer();
    TestDdnsServer(const TestDdnsServer&) = delete;
    TestDdnsServer& operator=(const TestDdnsServer&) = delete;

    // Listens on address:port (port 0 picks a free one).
    bool start(const std::string& address = "127.0.0.1", uint16_t port = 0);
    // Listens on port 17000 (the V2 port) of some free 127.x.y.z address.
    bool startOnV2Port();
    void stop();
    uint16_t port() const { return port_; }
    const std::string& address() const { return address_; }

    int connections() const;
    std::vector<Bytes> requests() const;
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;

    // The frames the server sends, also used by tests on their own.
    static Bytes frame(int id, const Bytes& payload, bool v2);
    static Bytes answerPayload(const DdnsConfig& cfg);

private:
    void run();
    void serve(int fd);

    DdnsConfig config_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<Bytes> requests_;
    int connections_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::string address_;
};

}  // namespace testdev
